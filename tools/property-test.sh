#!/usr/bin/env bash
# Property test of the code generator over random protocol descriptions.
#
# For each number S..S+N-1 it writes a description with qm-random-description,
# runs the real quillmarsh-codegen on it in the sibling-checkout layout (no
# arguments, CARGO_MANIFEST_DIR and OUT_DIR set), then compiles the generated
# messages_generated.rs inside the crate's own wrapper (its src/ folder, the
# crate root src/lib.rs becoming a module, with its include!s pointed at the
# generated files) into a debug executable with
# overflow checks, and runs every struct and enum decoder (`read_from`) and
# every subfield accessor on many byte strings under catch_unwind
# (tools/property/fuzz.rs, the part of the test program shared by every
# batch). It also checks the typed API of dispatch_generated.rs
# (tools/property/dispatch-checks.rs): for every message with an opcode,
# decoding a zero-filled buffer through its section's enum chooses the right
# type (the same result as the type's own decoder; for a repeated opcode, the
# first struct of it), and `SKIPPED` gives every SKIPPED line of the file in
# order, a skipped message's opcode decoding to `Skipped` with its reason.
#
# The generator also writes the encoders (as with the crate's `encode`
# feature), and every value a decoder accepts goes round: `write_to` must
# succeed with bytes e, which decode (using all of e) to the same value
# (floats by their bits) and are written again as e; and e must equal the
# input's decoded prefix whenever that prefix is canonical. Canonical inputs
# are not recognised directly: the share of decoded inputs that came back
# byte for byte is reported, and every e is itself canonical and must come
# back unchanged. A table whose wire pairs repeat a key decodes to fewer
# entries than its count, so it cannot be written back; such inputs are
# counted apart.
#
# With --serde the generator also writes the serde impls (as with the crate's
# `serde` feature), the program links serde and serde_json (built once,
# offline, by tools/serde-rlibs.sh), and every decoded value whose floats are
# all finite goes through JSON (tools/property/json.rs): written with
# serde_json and read back, it must be equal and encode to the same bytes.
# Values with a NaN or infinite float (JSON has none) and tables keyed by
# bools (whose keys this serde_json cannot write) are counted apart.
#
# With --extended the descriptions also hold the constructs only the
# extended tier translates (qm-random-description --extended), the generator
# runs with the crate's `extended` feature (CARGO_FEATURE_EXTENDED), and the
# program is compiled with it: the structs of extended_generated.rs (the
# items the default tier leaves out and the extended tier recovers) are
# fuzzed, written back and sent through JSON like every other, recovered
# messages go through the typed checks, and `SKIPPED` must give the SKIPPED
# lines of messages_generated.rs less the recovered items. The report gives
# how many items were recovered over the run.
#
# Several descriptions are compiled per rustc run, each in its own module
# (its decoder targets written by tools/property/targets.awk); rustc's
# messages are split by file so that every error lands in the log of the
# description that caused it, and a batch is recompiled without the
# failing descriptions until the rest compiles.
#
# Reports how many descriptions were generated, how many the generator failed
# on, how many failed to compile (first error lines of each), and how many
# decoders panicked, hung, crashed or moved the cursor past the end of the
# input, and how many typed-API checks failed. Exits non-zero when anything failed. Everything about a failing
# description (protocol.xml, the generated file, rustc's messages, the panics)
# is kept under the log directory, one folder per description.
#
# Usage: tools/property-test.sh [options]
#   --runs N            descriptions to try (default 40)
#   --start S           first description number (default 1)
#   --profile P         edge (default) or realistic
#   --size BYTES        approximate size of realistic descriptions
#   --input FILE        test this description instead of generated ones (repeatable;
#                       --runs and --start are then ignored)
#   --batch B           descriptions per rustc run (default 8)
#   --inputs K          random byte strings per decoder (default 300)
#   --serde             also generate the serde impls and check the JSON round trip
#   --extended          descriptions with the extended constructs, the extended tier on
#   --codegen PATH      the generator executable (default: built in build/property)
#   --describe PATH     qm-random-description (default: built in build/property)
#   --logs DIR          log directory (default build/property-logs; emptied first)
#   --hang-seconds T    time limit for one decoder's inputs (default 5)
#   --keep              keep the temporary work folder
# Long mode, for example: tools/property-test.sh --runs 2000 --inputs 1000
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
runs=40
start=1
profile=edge
batch=8
inputs=300
codegen=
describe=
logs=$repo/build/property-logs
hang_seconds=5
keep=0
size=
given=()
serde=0
extended=0

die() {
  echo "property-test: $*" >&2
  exit 2
}

while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    --start) start=$2; shift 2 ;;
    --profile) profile=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --input) given+=("$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"); shift 2 ;;
    --batch) batch=$2; shift 2 ;;
    --inputs) inputs=$2; shift 2 ;;
    --codegen) codegen=$2; shift 2 ;;
    --describe) describe=$2; shift 2 ;;
    --logs) logs=$2; shift 2 ;;
    --hang-seconds) hang_seconds=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    --serde) serde=1; shift ;;
    --extended) extended=1; shift ;;
    *) die "unknown option $1 (see the comment at the top of this script)" ;;
  esac
done
for n in "$runs" "$start" "$batch" "$inputs" "$hang_seconds"; do
  [[ $n =~ ^[0-9]+$ ]] || die "not a number: $n"
done
[ "$batch" -ge 1 ] || die "--batch must be at least 1"

# shellcheck source=tools/find-rust-tool.sh
. "$(dirname "$0")/find-rust-tool.sh"
rustc_bin=$(find_rust_tool rustc RUSTC) || die "cannot compile the generated code without rustc"

if [ -z "$codegen" ] || [ -z "$describe" ]; then
  cmake -S "$repo" -B "$repo/build/property" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$repo/build/property" --target quillmarsh-codegen qm-random-description >/dev/null
  codegen=${codegen:-$repo/build/property/generator/quillmarsh-codegen}
  describe=${describe:-$repo/build/property/tools/describe/qm-random-description}
fi
[ -x "$codegen" ] || die "no generator executable at $codegen"
[ -x "$describe" ] || die "no description generator at $describe"
codegen=$(cd "$(dirname "$codegen")" && pwd)/$(basename "$codegen")
describe=$(cd "$(dirname "$describe")" && pwd)/$(basename "$describe")
mkdir -p "$logs"
logs=$(cd "$logs" && pwd)

src=$repo/crates/quillmarsh-protocol/src
lib_rs=$src/lib.rs
[ -f "$lib_rs" ] || die "the crate's wrapper $lib_rs is missing"
grep -q 'env!("OUT_DIR")' "$lib_rs" || die "$lib_rs does not include the generated file through env!(\"OUT_DIR\")"
# Here `crate::` names the test program's root, not the crate's.
absolute=$(grep -rnE --include='*.rs' '^[^/]*\bcrate::' "$src" || true)
[ -z "$absolute" ] || die "the crate's own files must reach each other by relative (super::) paths, not crate::
$absolute"

work=$(mktemp -d "${TMPDIR:-/tmp}/qm-property.XXXXXX")
if [ "$keep" = 1 ]; then
  echo "property-test: keeping $work"
else
  trap 'rm -rf "$work"' EXIT
fi
rm -rf "$logs"
mkdir -p "$logs"
summary=$logs/summary.txt
: >"$summary"

# ---- Per description: generate, run the generator, write its test module ----

# Writes the calls for every decoder and accessor of one generated file as a
# Rust module (tools/property/targets.awk), then the typed-API checks.
# With --extended the structs of extended_generated.rs are targets too, and
# @RECOVERED@ is the number of items the extended tier recovered.
write_targets() {
  local generated=$1 n=$2 module=$3 recovered=${4:-0} files=("$1")
  [ "$extended" = 0 ] || files+=("$(dirname "$generated")/extended_generated.rs")
  awk -v n="$n" -v serde="$serde" -f "$repo/tools/property/targets.awk" "${files[@]}" >"$module"
  sed -e "s|@N@|$n|g" -e "s|@GENERATED@|$generated|g" -e "s|@RECOVERED@|$recovered|g" \
    "$repo/tools/property/dispatch-checks.rs" >>"$module"
}

# The generator's and rustc's part of the serde feature.
serde_env=()
serde_rustc=()
if [ "$serde" = 1 ]; then
  serde_env=(CARGO_FEATURE_SERDE=1)
  # shellcheck source=tools/serde-rlibs.sh
  . "$repo/tools/serde-rlibs.sh"
  build_serde_rlibs "$rustc_bin" "$work/serde-rlibs" serde serde_json || die "cannot build serde and serde_json"
  serde_rustc=(--cfg 'feature="serde"' "${serde_rustc_args[@]}")
fi
# The extended tier's part: the generator's, the description generator's and rustc's.
extended_env=()
extended_describe=()
extended_rustc=()
if [ "$extended" = 1 ]; then
  extended_env=(CARGO_FEATURE_EXTENDED=1)
  extended_describe=(--extended)
  extended_rustc=(--cfg 'feature="extended"')
fi
recovered_total=0
skipped_total=0
recovered_decoders=0

generated_ok=()
generator_failures=0
if [ ${#given[@]} -gt 0 ]; then
  start=1
  runs=${#given[@]}
  echo "property-test: ${#given[@]} given descriptions; generator $codegen; $("$rustc_bin" --version)${serde_env:+; with serde}${extended_env:+; extended tier}"
else
  echo "property-test: $runs $profile${extended_describe:+ extended} descriptions from $start; generator $codegen; $("$rustc_bin" --version)${serde_env:+; with serde}${extended_env:+; extended tier}"
fi
for ((n = start; n < start + runs; n++)); do
  d=$work/d$n
  manifest=$d/main/crates/quillmarsh-protocol
  proto_dir=$d/vellumite/Vellumite.BrenicProtocol/Vellumite.BrenicProtocol
  mkdir -p "$manifest" "$proto_dir" "$d/out"
  if [ ${#given[@]} -gt 0 ]; then
    cp "${given[n - 1]}" "$proto_dir/protocol.xml"
  else
    "$describe" --number "$n" --profile "$profile" ${size:+--size "$size"} "${extended_describe[@]}" >"$proto_dir/protocol.xml"
  fi
  status=0
  (cd "$d" && env CARGO_MANIFEST_DIR="$manifest" OUT_DIR="$d/out" CARGO_FEATURE_ENCODE=1 "${serde_env[@]}" "${extended_env[@]}" \
    timeout 120 "$codegen" >"$d/codegen.stdout" 2>"$d/codegen.stderr" </dev/null) || status=$?
  if [ "$status" -ne 0 ] || [ ! -f "$d/out/messages_generated.rs" ] || [ ! -f "$d/out/dispatch_generated.rs" ] ||
    [ ! -f "$d/out/encoders_generated.rs" ] || { [ "$serde" = 1 ] && [ ! -f "$d/out/serde_generated.rs" ]; } ||
    { [ "$extended" = 1 ] && [ ! -f "$d/out/extended_generated.rs" ]; }; then
    generator_failures=$((generator_failures + 1))
    mkdir -p "$logs/d$n"
    cp "$proto_dir/protocol.xml" "$d/codegen.stdout" "$d/codegen.stderr" "$logs/d$n/"
    printf 'd%s\tgenerator\texit status %s: %s\n' "$n" "$status" "$(head -c 300 "$d/codegen.stderr" | tr '\n' ' ')" >>"$summary"
    continue
  fi
  # The crate becomes the module qm_N of a test program, so the typed API's
  # and the encoders' paths from the crate root gain that module; their
  # include!s read these copies. The crate's own files (a copy of src/, whose
  # lib.rs holds the include!s) reach each other by relative paths, and
  # modules declared in a file loaded through #[path] are found beside it.
  mkdir -p "$d/harness"
  sed 's/\bcrate::/crate::qm_'"$n"'::/g' "$d/out/dispatch_generated.rs" >"$d/harness/dispatch_generated.rs"
  sed 's/\bcrate::/crate::qm_'"$n"'::/g' "$d/out/encoders_generated.rs" >"$d/harness/encoders_generated.rs"
  [ "$serde" = 0 ] || sed 's/\bcrate::/crate::qm_'"$n"'::/g' "$d/out/serde_generated.rs" >"$d/harness/serde_generated.rs"
  cp -R "$src" "$d/qm"
  sed -e "s|env!(\"OUT_DIR\"), \"/dispatch_generated.rs\"|\"$d/harness\", \"/dispatch_generated.rs\"|" \
    -e "s|env!(\"OUT_DIR\"), \"/encoders_generated.rs\"|\"$d/harness\", \"/encoders_generated.rs\"|" \
    -e "s|env!(\"OUT_DIR\"), \"/serde_generated.rs\"|\"$d/harness\", \"/serde_generated.rs\"|" \
    -e "s|env!(\"OUT_DIR\")|\"$d/out\"|" "$lib_rs" >"$d/qm/lib.rs"
  recovered=0
  if [ "$extended" = 1 ]; then
    # "extended tier recovered N of the M skipped items"
    read -r recovered skipped < <(sed -n 's/.*extended tier recovered \([0-9]*\) of the \([0-9]*\) skipped items.*/\1 \2/p' \
      "$d/codegen.stdout") || true
    recovered_total=$((recovered_total + ${recovered:-0}))
    skipped_total=$((skipped_total + ${skipped:-0}))
    recovered_decoders=$((recovered_decoders + $(grep -c '^    pub fn read_from(' "$d/out/extended_generated.rs" || true)))
  fi
  write_targets "$d/out/messages_generated.rs" "$n" "$d/targets.rs" "${recovered:-0}"
  generated_ok+=("$n")
done

# ---- Compile in batches --------------------------------------------------

# Writes the crate root for the descriptions given, compiles it into $1, and
# leaves rustc's messages in $1.log.
compile_batch() {
  local exe=$1
  shift
  local root=$exe.rs
  {
    echo "#[path = \"$repo/tools/property/fuzz.rs\"] mod fuzz;"
    [ "$serde" = 0 ] || echo "#[path = \"$repo/tools/property/json.rs\"] mod json;"
    for n in "$@"; do
      echo "#[path = \"$work/d$n/qm/lib.rs\"] mod qm_$n;"
      echo "#[path = \"$work/d$n/targets.rs\"] mod targets_$n;"
    done
    echo "fn main() {"
    echo "    let args: Vec<String> = std::env::args().collect();"
    echo "    let from: usize = args.get(1).and_then(|s| s.parse().ok()).unwrap_or(0);"
    echo "    if from == 0 {"
    for n in "$@"; do
      echo "        for failure in targets_$n::dispatch_checks() { println!(\"DISPATCH\\t$n\\t{}\", failure.replace('\\n', \" \")); }"
    done
    echo "    }"
    echo "    let mut all = Vec::new();"
    for n in "$@"; do echo "    all.extend(targets_$n::targets());"; done
    echo "    fuzz::run_all(&all, from, $inputs, $hang_seconds);"
    echo "}"
  } >"$root"
  "$rustc_bin" --edition 2021 --crate-type bin --crate-name property_batch -C opt-level=0 -C debug-assertions=on \
    --cfg 'feature="encode"' "${serde_rustc[@]}" "${extended_rustc[@]}" -C overflow-checks=on -C panic=unwind -A warnings --color never \
    -o "$exe" "$root" >"$exe.log" 2>&1
}

# Splits rustc's messages (blank-line separated blocks) by the description
# whose file they point at; writes d<N>/rustc.log for each and prints the
# numbers of the descriptions that got at least one error.
split_errors() {
  local log=$1
  awk -v work="$work" '
    function flush() {
      if (block != "" && block ~ /^error/ && file != "") {
        # Errors in the test harness files follow from errors in the generated file.
        print block "\n" >> (work "/d" file (generated ? "/rustc.log" : "/harness.log")); hit[file] = 1
      }
      block = ""; file = ""; generated = 0
    }
    /^$/ { flush(); next }
    {
      block = (block == "" ? $0 : block "\n" $0)
      if (file == "" && match($0, /--> [^:]*\/d[0-9]+\//)) {
        s = substr($0, RSTART, RLENGTH); sub(/\/$/, "", s); sub(/.*\/d/, "", s); file = s
        generated = index($0, "/out/messages_generated.rs:") > 0 || index($0, "/out/extended_generated.rs:") > 0 ||
          index($0, "/harness/dispatch_generated.rs:") > 0 ||
          index($0, "/harness/encoders_generated.rs:") > 0 || index($0, "/harness/serde_generated.rs:") > 0
      }
    }
    END { flush(); for (f in hit) print f }' "$log"
}

compile_failures=0
panics=0
round_trips=0
inputs_run=0
decoded=0
identical=0
canonicalized=0
duplicate_keys=0
unknown_enums=0
hangs=0
crashes=0
overruns=0
dispatch_failures=0
json_failures=0
json_same=0
json_non_finite=0
json_key_not_string=0
runnable=()

# Copies a description's files (its generated ones too) into its log folder.
keep_description() {
  local n=$1 f
  mkdir -p "$logs/d$n"
  cp "$work/d$n/vellumite/Vellumite.BrenicProtocol/Vellumite.BrenicProtocol/protocol.xml" "$logs/d$n/"
  for f in messages extended dispatch encoders serde; do
    [ ! -f "$work/d$n/out/${f}_generated.rs" ] || cp "$work/d$n/out/${f}_generated.rs" "$logs/d$n/"
  done
}

record_compile_failure() {
  local n=$1
  compile_failures=$((compile_failures + 1))
  keep_description "$n"
  local log=$work/d$n/rustc.log
  [ -s "$log" ] || log=$work/d$n/harness.log
  cp "$log" "$logs/d$n/rustc.log"
  # One summary line per distinct first line of an error.
  grep -E '^error' "$log" | grep -v -E '^error: aborting due to' | sort | uniq -c | sort -rn |
    while read -r count line; do printf 'd%s\tcompile\t%sx %s\n' "$n" "$count" "$line"; done >>"$summary"
}

batch_n=0
for ((i = 0; i < ${#generated_ok[@]}; i += batch)); do
  pending=("${generated_ok[@]:i:batch}")
  while [ ${#pending[@]} -gt 0 ]; do
    batch_n=$((batch_n + 1))
    exe=$work/batch$batch_n
    if compile_batch "$exe" "${pending[@]}"; then
      runnable+=("$exe")
      break
    fi
    mapfile -t failed < <(split_errors "$exe.log")
    if [ ${#failed[@]} -eq 0 ]; then
      if [ ${#pending[@]} -eq 1 ]; then
        # An error rustc did not tie to the generated file.
        cp "$exe.log" "$work/d${pending[0]}/harness.log"
        record_compile_failure "${pending[0]}"
        break
      fi
      # Retry one by one so that each description's errors are its own.
      rest=("${pending[@]:1}")
      pending=("${pending[0]}")
      generated_ok+=("${rest[@]}")
      continue
    fi
    next=()
    for n in "${pending[@]}"; do
      if printf '%s\n' "${failed[@]}" | grep -qx "$n"; then
        record_compile_failure "$n"
      else
        next+=("$n")
      fi
    done
    pending=("${next[@]+"${next[@]}"}")
  done
done

# ---- Run -----------------------------------------------------------------

record_run_event() {
  local kind=$1 desc=$2 rest=$3
  [ -f "$logs/d$desc/protocol.xml" ] || keep_description "$desc"
  printf '%s\t%s\n' "$kind" "$rest" >>"$logs/d$desc/run.log"
  printf 'd%s\t%s\t%s\n' "$desc" "$kind" "$(printf '%s' "$rest" | cut -c1-400)" >>"$summary"
}

for exe in "${runnable[@]+"${runnable[@]}"}"; do
  from=0
  while :; do
    status=0
    "$exe" "$from" >"$exe.out" 2>"$exe.err" || status=$?
    while IFS=$'\t' read -r kind a b c d; do
      case $kind in
        PANIC) panics=$((panics + 1)); record_run_event panic "$a" "$b: $c $d" ;;
        OVERRUN) overruns=$((overruns + 1)); record_run_event overrun "$a" "$b: $c $d" ;;
        ROUNDTRIP) round_trips=$((round_trips + 1)); record_run_event round-trip "$a" "$b: $c $d" ;;
        JSON) json_failures=$((json_failures + 1)); record_run_event json "$a" "$b: $c $d" ;;
        STATS)
          read -r s_inputs s_decoded s_identical s_canon s_dup s_unknown s_json s_nonfinite s_keys <<<"$b $c $d"
          inputs_run=$((inputs_run + s_inputs))
          decoded=$((decoded + s_decoded))
          identical=$((identical + s_identical))
          canonicalized=$((canonicalized + s_canon))
          duplicate_keys=$((duplicate_keys + s_dup))
          unknown_enums=$((unknown_enums + s_unknown))
          json_same=$((json_same + s_json))
          json_non_finite=$((json_non_finite + s_nonfinite))
          json_key_not_string=$((json_key_not_string + s_keys))
          ;;
        DISPATCH) dispatch_failures=$((dispatch_failures + 1)); record_run_event dispatch "$a" "$b" ;;
      esac
    done <"$exe.out"
    grep -q '^DONE' "$exe.out" && break
    last=$(grep '^RUN' "$exe.out" | tail -n 1 || true)
    [ -n "$last" ] || { echo "property-test: $exe failed before running any decoder (status $status)" >&2; crashes=$((crashes + 1)); break; }
    IFS=$'\t' read -r _ index desc name <<<"$last"
    if grep -q '^HANG' "$exe.out"; then
      hangs=$((hangs + 1))
      record_run_event hang "$desc" "$name: no result within ${hang_seconds}s"
    else
      crashes=$((crashes + 1))
      record_run_event crash "$desc" "$name: process ended with status $status: $(tail -c 300 "$exe.err" | tr '\n' ' ')"
    fi
    from=$((index + 1))
  done
done

# ---- Report --------------------------------------------------------------
echo "property-test: descriptions: $runs"
echo "property-test: generator failures: $generator_failures"
echo "property-test: failed to compile: $compile_failures"
echo "property-test: decoders that panicked: $panics, hung: $hangs, crashed: $crashes, overran: $overruns"
echo "property-test: failed typed-API checks: $dispatch_failures"
echo "property-test: inputs: $inputs_run, decoded: $decoded ($((decoded * 100 / (inputs_run > 0 ? inputs_run : 1)))%)," \
  "of which unknown enum values (nothing to write): $unknown_enums, tables with a repeated key: $duplicate_keys;" \
  "written back and round-tripped: $((identical + canonicalized)) ($identical byte for byte, $canonicalized canonicalized);" \
  "round trips that failed: $round_trips"
if [ "$serde" = 1 ]; then
  echo "property-test: through JSON and back: $json_same equal and encoding the same;" \
    "left out: $json_non_finite with a NaN or infinite float, $json_key_not_string with a table keyed by bools;" \
    "JSON round trips that failed: $json_failures"
fi
if [ "$extended" = 1 ]; then
  echo "property-test: extended tier: recovered $recovered_total of the $skipped_total skipped items;" \
    "recovered structs fuzzed: $recovered_decoders"
fi
if [ -s "$summary" ]; then
  echo "property-test: failures (details under $logs):"
  sed 's/^/  /' "$summary" | cut -c1-300
fi
if [ $((generator_failures + compile_failures + panics + hangs + crashes + overruns + dispatch_failures + round_trips +
  json_failures)) -ne 0 ]; then
  echo "property-test: FAILED"
  exit 1
fi
echo "property-test: all $runs descriptions compiled, no decoder failed and every decoded value went round"
