#!/usr/bin/env bash
# What the typed API (dispatch_generated.rs) adds to rustc's time for the
# crate. Generates the realistic random description of the benchmark's base
# size (number 1, as bench/run-bench.sh), runs the generator on it, then
# compiles the crate (src/lib.rs and its modules) as rustc does under `cargo
# build` (debug, edition 2021) twice, alternately, --repeat times each:
#   - with both generated files;
#   - with dispatch_generated.rs replaced by an empty `SKIPPED` (no trait
#     impls, no section enums): the crate as it was before the typed API.
# Prints the best user+system CPU time and the peak memory of each, and the
# share the typed API adds (the limit is 5%).
#
# With --instructions, each build runs once under callgrind instead and the
# share is counted in instructions: repeatable whatever else the machine is
# doing, and about 50 times slower, so pair it with a smaller --base (for
# example 131072).
#
# With --encode it measures the `encode` feature instead: the crate as it is
# without the feature against the crate with the feature on and the
# encoders generated for it; and the generator's own time (best wall time
# of --repeat runs) without and with the encoders.
#
# With --serde it measures the `serde` feature the same way: the crate
# without the feature against the crate with it and the serde impls
# generated for it (linked against a serde rlib built once beforehand by
# tools/serde-rlibs.sh, offline; its compile is not counted), and the
# generator's time without and with the serde impls. Give --encode too to
# measure serde on top of encode (both builds then have the encoders).
#
# With --extended it measures the `extended` feature the same way, on the
# description generated with the constructs only the extended tier
# translates (qm-random-description --extended): the crate without the
# feature against the crate with it and extended_generated.rs, and prints
# the extended tier's report line (how many skipped items it recovered).
# Give --encode too to have the encoders in both builds.
#
# With --debug-info it measures what full debug information costs: the
# crate (with both generated files, and the encoders too when --encode is
# also given) compiled with -C debuginfo=0 against -C debuginfo=2, which is
# what `[profile.dev.package.quillmarsh-protocol] debug = false` saves.
#
# Usage: bench/rustc-cost.sh [--build-dir DIR] [--base BYTES] [--repeat N] [--instructions] [--encode] [--serde] [--extended] [--debug-info]
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=$repo/build/bench
base=1048576
repeat=3
instructions=0
encode=0
serde=0
extended=0
debug_info=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build=${2:?}; shift ;;
    --base) base=${2:?}; shift ;;
    --repeat) repeat=${2:?}; shift ;;
    --instructions) instructions=1 ;;
    --encode) encode=1 ;;
    --serde) serde=1 ;;
    --extended) extended=1 ;;
    --debug-info) debug_info=1 ;;
    *) echo "rustc-cost: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
if [ "$instructions" = 1 ]; then
  command -v valgrind >/dev/null || { echo "rustc-cost: --instructions needs valgrind" >&2; exit 1; }
  repeat=1
fi
[ -x /usr/bin/time ] || { echo "rustc-cost: needs /usr/bin/time (apt-get install time)" >&2; exit 1; }
# shellcheck source=tools/find-rust-tool.sh
. "$repo/tools/find-rust-tool.sh"
rustc_bin=$(find_rust_tool rustc RUSTC) || { echo "rustc-cost: needs rustc" >&2; exit 1; }

cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target quillmarsh-codegen qm-random-description >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/qm-rustc-cost.XXXXXX")
trap 'rm -rf "$work"' EXIT
manifest=$work/main/crates/quillmarsh-protocol
proto_dir=$work/vellumite/Vellumite.BrenicProtocol/Vellumite.BrenicProtocol
mkdir -p "$manifest" "$proto_dir" "$work/with" "$work/without"
describe_args=(--number 1 --profile realistic --size "$base")
[ "$extended" = 1 ] && describe_args+=(--extended)
"$build/tools/describe/qm-random-description" "${describe_args[@]}" >"$proto_dir/protocol.xml"
features=()
without_features=()
if [ "$serde" = 1 ] && [ "$debug_info" = 1 ]; then
  echo "rustc-cost: --serde and --debug-info measure different things; give one" >&2
  exit 2
fi
if [ "$debug_info" = 1 ]; then
  env_encode=()
  [ "$encode" = 1 ] && env_encode=(CARGO_FEATURE_ENCODE=1) && features=(--cfg 'feature="encode"')
  env "${env_encode[@]}" CARGO_MANIFEST_DIR="$manifest" OUT_DIR="$work/with" "$build/generator/quillmarsh-codegen" >/dev/null
  cp "$work/with/"*_generated.rs "$work/without/"
elif [ "$encode" = 1 ] || [ "$serde" = 1 ] || [ "$extended" = 1 ]; then
  # The generator's time, without and with the feature measured.
  generate_ms() {
    local best=
    for ((i = 0; i < repeat; i++)); do
      local t0 t1
      t0=$(date +%s%N)
      env "$@" CARGO_MANIFEST_DIR="$manifest" "$build/generator/quillmarsh-codegen" >/dev/null
      t1=$(date +%s%N)
      local ms=$(((t1 - t0) / 1000000))
      best=$((${best:-$ms} < ms ? ${best:-$ms} : ms))
    done
    echo "$best"
  }
  if [ "$extended" = 1 ]; then
    base_env=() base_features=()
    [ "$encode" = 1 ] && base_env=(CARGO_FEATURE_ENCODE=1) && base_features=(--cfg 'feature="encode"')
    gen_without=$(generate_ms OUT_DIR="$work/without" "${base_env[@]}")
    gen_with=$(generate_ms OUT_DIR="$work/with" "${base_env[@]}" CARGO_FEATURE_EXTENDED=1)
    recovered=$(env "${base_env[@]}" CARGO_FEATURE_EXTENDED=1 CARGO_MANIFEST_DIR="$manifest" OUT_DIR="$work/with" \
      "$build/generator/quillmarsh-codegen" | sed -n 's/^cargo:warning=quillmarsh-protocol\/build: //p')
    without_features=("${base_features[@]}")
    features=("${base_features[@]}" --cfg 'feature="extended"')
  elif [ "$serde" = 1 ]; then
    # The crate without the feature has the encoders too when --encode is given.
    base_env=() base_features=()
    [ "$encode" = 1 ] && base_env=(CARGO_FEATURE_ENCODE=1) && base_features=(--cfg 'feature="encode"')
    gen_without=$(generate_ms OUT_DIR="$work/without" "${base_env[@]}")
    gen_with=$(generate_ms OUT_DIR="$work/with" "${base_env[@]}" CARGO_FEATURE_SERDE=1)
    # shellcheck source=tools/serde-rlibs.sh
    . "$repo/tools/serde-rlibs.sh"
    build_serde_rlibs "$rustc_bin" "$work/serde-rlibs" serde || { echo "rustc-cost: cannot build serde" >&2; exit 1; }
    without_features=("${base_features[@]}")
    features=("${base_features[@]}" --cfg 'feature="serde"' "${serde_rustc_args[@]}")
  else
    gen_without=$(generate_ms OUT_DIR="$work/without")
    gen_with=$(generate_ms OUT_DIR="$work/with" CARGO_FEATURE_ENCODE=1)
    features=(--cfg 'feature="encode"')
  fi
else
  CARGO_MANIFEST_DIR=$manifest OUT_DIR=$work/with "$build/generator/quillmarsh-codegen" >/dev/null
  cp "$work/with/messages_generated.rs" "$work/without/"
  echo 'pub const SKIPPED: &[crate::SkippedItem] = &[];' >"$work/without/dispatch_generated.rs"
fi

# compile DIR: prints "cpu_seconds peak_kb" of one debug build of the crate
# (with the feature measured for the folder "with"). With --instructions it
# prints "instructions 0" instead; "failed" when rustc fails.
compile() {
  local cfg=() debuginfo=2
  if [ "$debug_info" = 1 ]; then
    cfg=("${features[@]}")
    [ "$1" = "$work/without" ] && debuginfo=0
  elif [ "$1" = "$work/with" ]; then
    cfg=("${features[@]}")
  else
    cfg=("${without_features[@]}")
  fi
  mkdir -p "$work/out"
  if [ "$instructions" = 1 ]; then
    # The rustup proxy execs the real compiler, which callgrind follows.
    OUT_DIR=$1 valgrind --tool=callgrind --trace-children=yes --callgrind-out-file="$work/callgrind.out" \
      "$rustc_bin" --edition 2021 --crate-type lib --crate-name quillmarsh_protocol -C debuginfo=$debuginfo "${cfg[@]}" \
      --out-dir "$work/out" "$repo/crates/quillmarsh-protocol/src/lib.rs" >"$work/rustc.log" 2>&1 ||
      { cat "$work/rustc.log" >&2; echo failed; return; }
    awk '/^summary:/ { print $2, 0; exit }' "$work/callgrind.out"
    return
  fi
  OUT_DIR=$1 /usr/bin/time -f '%U %S %M' -o "$work/time" "$rustc_bin" --edition 2021 --crate-type lib \
    --crate-name quillmarsh_protocol -C debuginfo=$debuginfo "${cfg[@]}" --out-dir "$work/out" \
    "$repo/crates/quillmarsh-protocol/src/lib.rs" 2>"$work/rustc.log" || { cat "$work/rustc.log" >&2; echo failed; return; }
  awk '{ printf "%.2f %d\n", $1 + $2, $3 }' "$work/time"
}

best_with=
best_without=
peak_with=0
peak_without=0
for ((i = 0; i < repeat; i++)); do
  for variant in without with; do
    read -r cpu peak < <(compile "$work/$variant")
    [ "$cpu" != failed ] || { echo "rustc-cost: the crate did not compile ($variant)" >&2; exit 1; }
    if [ "$variant" = with ]; then
      best_with=$(awk -v a="$cpu" -v b="${best_with:-$cpu}" 'BEGIN { print (a < b ? a : b) }')
      peak_with=$((peak > peak_with ? peak : peak_with))
    else
      best_without=$(awk -v a="$cpu" -v b="${best_without:-$cpu}" 'BEGIN { print (a < b ? a : b) }')
      peak_without=$((peak > peak_without ? peak : peak_without))
    fi
  done
done

if [ "$debug_info" = 1 ]; then
  echo "$("$rustc_bin" --version); the crate$([ "$encode" = 1 ] && echo " with the encode feature")"
  awk -v w="$best_with" -v wo="$best_without" -v pw="$peak_with" -v pwo="$peak_without" -v n="$repeat" 'BEGIN {
    printf "rustc, debug, best of %d: full debug information %.2f s CPU, %.0f MB peak; none %.2f s CPU, %.0f MB peak (saves %.1f%% of the time, %.1f%% of the peak)\n", n, w, pw / 1024, wo, pwo / 1024, (w - wo) / w * 100, (pw - pwo) / pw * 100
  }'
  exit 0
fi
# mb FILE: the size of FILE in MB.
mb() { awk -v b="$(wc -c <"$1")" 'BEGIN { printf "%.2f", b / 1048576 }'; }

# report_feature FEATURE FILE GENERATED: the measurement of a feature that
# adds the generated FILE (GENERATED says what it holds): sizes, the
# generator's time and rustc's, without and with the feature.
report_feature() {
  local feature=$1 file=$2 generated=$3 input_note="" base_note=""
  [ "$feature" = extended ] && input_note=" (with the deferred constructs)"
  [ "$feature" != encode ] && [ "$encode" = 1 ] && base_note="; both builds with the encode feature"
  echo "input $(mb "$proto_dir/protocol.xml") MB$input_note; messages_generated.rs $(mb "$work/with/messages_generated.rs") MB;" \
    "$file $(mb "$work/with/$file") MB; $("$rustc_bin" --version)$base_note"
  echo "generator, best of $repeat: without $generated $gen_without ms, with them $gen_with ms"
  awk -v w="$best_with" -v wo="$best_without" -v pw="$peak_with" -v pwo="$peak_without" -v n="$repeat" \
    -v feature="$feature" -v instructions="$instructions" 'BEGIN {
    if (instructions == 1)
      printf "rustc, debug, callgrind: without the %s feature %.0f M instructions; with it %.0f M (+%.1f%%)\n", feature, wo / 1e6, w / 1e6, (w - wo) / wo * 100
    else
      printf "rustc, debug, best of %d: without the %s feature %.2f s CPU, %.0f MB peak; with it %.2f s CPU, %.0f MB peak (+%.1f%%)\n", n, feature, wo, pwo / 1024, w, pw / 1024, (w - wo) / wo * 100
  }'
}
if [ "$extended" = 1 ]; then
  report_feature extended extended_generated.rs "the extended tier's items"
  printf '%s\n' "$recovered"
  exit 0
fi
if [ "$serde" = 1 ]; then
  report_feature serde serde_generated.rs "the serde impls"
  exit 0
fi
if [ "$encode" = 1 ]; then
  report_feature encode encoders_generated.rs "the encoders"
  exit 0
fi
printf 'input %.2f MB; messages_generated.rs %.2f MB; dispatch_generated.rs %.2f MB; %s\n' \
  "$(awk -v b="$(wc -c <"$proto_dir/protocol.xml")" 'BEGIN { print b / 1048576 }')" \
  "$(awk -v b="$(wc -c <"$work/with/messages_generated.rs")" 'BEGIN { print b / 1048576 }')" \
  "$(awk -v b="$(wc -c <"$work/with/dispatch_generated.rs")" 'BEGIN { print b / 1048576 }')" "$("$rustc_bin" --version)"
if [ "$instructions" = 1 ]; then
  awk -v w="$best_with" -v wo="$best_without" 'BEGIN {
    printf "rustc, debug, callgrind: without the typed API %.0f M instructions; with it %.0f M\n", wo / 1e6, w / 1e6
    share = (w - wo) / wo * 100
    printf "the typed API adds %.1f%% of rustc'\''s instructions (limit 5%%): %s\n", share, share <= 5 ? "met" : "NOT met"
  }'
  exit 0
fi
awk -v w="$best_with" -v wo="$best_without" -v pw="$peak_with" -v pwo="$peak_without" -v n="$repeat" 'BEGIN {
  printf "rustc, debug, best of %d: without the typed API %.2f s CPU, %.0f MB peak; with it %.2f s CPU, %.0f MB peak\n", n, wo, pwo / 1024, w, pw / 1024
  share = (w - wo) / wo * 100
  printf "the typed API adds %.1f%% of rustc'\''s time (limit 5%%): %s\n", share, share <= 5 ? "met" : "NOT met"
}'
