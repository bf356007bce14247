#!/usr/bin/env bash
# End-to-end check of the protocol crate under Cargo. Copies the workspace into
# a temporary root laid out like the real sibling checkouts:
#   $root/main/                      the workspace (Cargo.toml, crates/, tests/rust/)
#   $root/vellumite/Vellumite.BrenicProtocol/Vellumite.BrenicProtocol/protocol.xml
#                                    the description (samples/protocol.xml, or $1)
#   $root/target/                    CARGO_TARGET_DIR
# then, offline, checks that:
#   - `cargo build` builds the generator, runs it and compiles the generated code;
#   - the generator's report line reaches Cargo as a warning, and nothing else warns;
#   - a second build with nothing changed does not run the generator again;
#   - touching the description, or a generator source, runs it again, and an
#     enum added to the description reaches the compiled crate;
#   - touching the crate's Rust source recompiles the crate without running it;
#   - a missing description or a missing cmake fails the build with a clear message;
#   - a prebuilt generator (the one just built, put in place with `cmake
#     --install`) named by QUILLMARSH_CODEGEN is used without CMake (which
#     points at a program that fails), one of another version is refused, and
#     so is one that exits successfully without generating anything;
#   - the crate's own tests and the tests under tests/rust pass, also with
#     the encode feature, the serde feature and both, the extended feature
#     alone and with both, whose builds alone write encoders_generated.rs,
#     serde_generated.rs and extended_generated.rs, the last with its own
#     report line (Cargo takes serde and serde_json from Debian's packaged
#     crates, tools/sibling-layout.sh);
#   - the crate's documentation builds without a warning (rustdoc's as
#     errors), without features and with each;
#   - the example decode_sample builds without warnings and prints the
#     messages of its captured stream, and with --json one line of JSON
#     per message;
#   - Debian's own rustc and cargo packages (in $QM_DEBIAN_RUST_BIN, default
#     /usr/bin), whose version the crate's rust-version must name, build the
#     crate, generated code included, pass the same tests and document it
#     as cleanly.
# Set QM_E2E_KEEP=1 to keep the temporary root for inspection, and
# QM_E2E_DEBIAN_RUST=skip to leave out the Debian toolchain (tools/test.sh
# installs it).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
sample=${1:-$repo/samples/protocol.xml}

fail() {
  echo "cargo-e2e: FAILED: $*" >&2
  exit 1
}

# shellcheck source=tools/find-rust-tool.sh
. "$(dirname "$0")/find-rust-tool.sh"
cargo_bin=$(find_rust_tool cargo CARGO) || fail "cannot run this test without cargo"
RUSTC=$(find_rust_tool rustc RUSTC) || fail "cannot run this test without rustc"
export RUSTC
# The documentation tests read the rlibs this rustc writes: the rustdoc
# beside it, when there is one.
[ ! -x "$(dirname "$RUSTC")/rustdoc" ] || export RUSTDOC="$(dirname "$RUSTC")/rustdoc"
[ -f "$sample" ] || fail "no such description: $sample"

root=$(mktemp -d "${TMPDIR:-/tmp}/qm-cargo-e2e.XXXXXX")
if [ "${QM_E2E_KEEP:-0}" = 1 ]; then
  echo "cargo-e2e: keeping $root"
else
  trap 'rm -rf "$root"' EXIT
fi

main=$root/main
crate=$main/crates/quillmarsh-protocol
protocol=$root/vellumite/Vellumite.BrenicProtocol/Vellumite.BrenicProtocol/protocol.xml
# shellcheck source=tools/sibling-layout.sh
. "$(dirname "$0")/sibling-layout.sh"
lay_out_workspace "$repo" "$root" "$sample" ||
  fail "could not add the test crates to the workspace in $main/Cargo.toml"

export CARGO_TARGET_DIR=$root/target
export CARGO_TERM_COLOR=never
unset CARGO_BUILD_TARGET RUSTFLAGS CARGO_ENCODED_RUSTFLAGS RUSTDOCFLAGS CARGO_ENCODED_RUSTDOCFLAGS

log_n=0
# Runs cargo with the given arguments, keeping its output in a numbered log
# whose path is left in $log. On failure the log is shown and the test fails.
run_cargo() {
  log_n=$((log_n + 1))
  log=$root/cargo-$log_n.log
  if ! (cd "$main" && "$cargo_bin" "$@" --offline) >"$log" 2>&1; then
    cat "$log" >&2
    fail "cargo $* did not succeed"
  fi
}

generator_ran() { grep -q 'Running `[^`]*quillmarsh-protocol-[0-9a-f]*/build-script-build`' "$log"; }

echo "cargo-e2e: $("$cargo_bin" --version), $("$RUSTC" --version)"

# The report line as Cargo shows it (older Cargo leaves out the package prefix).
report='^warning: (quillmarsh-protocol@[^ ]*: )?quillmarsh-protocol/build: emitted'
# The extended tier's line, printed after it with the extended feature only.
extended_report='^warning: (quillmarsh-protocol@[^ ]*: )?quillmarsh-protocol/build: extended tier recovered [0-9]+ of the [0-9]+ skipped items$'
# 1. A clean build: the report line is the only warning. Leaves the generated
# file's path in $out_file.
check_clean_build() {
  run_cargo build -v
  grep -q -E "$report"' [0-9]+ enums \([0-9]+ aliases\), [0-9]+ datatypes \([0-9]+ skipped\), [0-9]+ messages \([0-9]+ skipped\), [0-9]+ gameactions \([0-9]+ skipped\), [0-9]+ gameevents \([0-9]+ skipped\)$' "$log" ||
    { cat "$log" >&2; fail "the generator's report line did not reach Cargo as a warning"; }
  grep -E "$report" "$log" | sed 's/^/cargo-e2e: /'
  if grep -E '^(warning|error)' "$log" | grep -v -E "$report" |
    grep -v -E '^warning: `quillmarsh-protocol` \(lib\) generated [0-9]+ warnings?$' | grep -q .; then
    cat "$log" >&2
    fail "the crate does not build cleanly: warnings other than the report line"
  fi
  mapfile -t generated < <(find "$CARGO_TARGET_DIR/debug/build" -path '*/quillmarsh-protocol-*/out/messages_generated.rs')
  [ "${#generated[@]}" -eq 1 ] || fail "expected one messages_generated.rs under $CARGO_TARGET_DIR/debug/build, found ${#generated[@]}"
  out_file=${generated[0]}
  for file in encoders_generated.rs serde_generated.rs extended_generated.rs; do
    [ ! -e "$(dirname "$out_file")/$file" ] || fail "a build without features wrote $file"
  done
  if grep -q -E "$extended_report" "$log"; then
    cat "$log" >&2
    fail "a build without features printed the extended tier's report line"
  fi
  echo "cargo-e2e: clean build ok ($(wc -l <"$out_file") generated lines)"
}
check_clean_build

# The build script's directives file, rewritten by Cargo on every run of it.
script_output=$(dirname "$(dirname "$out_file")")/output
[ -f "$script_output" ] || fail "no build-script output file next to $out_file"

marker=$root/marker
stamp() {
  sleep 1
  touch "$marker"
}
# Checks whether the last build ran the build script (and with it the
# generator), from Cargo's verbose log and from the directives file ($1: yes/no).
expect_generator_run() {
  local expected=$1 what=$2 ran=no rewritten=no
  if generator_ran; then ran=yes; fi
  if [ "$script_output" -nt "$marker" ]; then rewritten=yes; fi
  [ "$ran" = "$rewritten" ] || { cat "$log" >&2; fail "$what: Cargo's log says run '$ran' but the directives file says '$rewritten'"; }
  [ "$ran" = "$expected" ] || { cat "$log" >&2; fail "$what: expected generator run '$expected', got '$ran'"; }
  echo "cargo-e2e: $what: generator run '$ran' as expected"
}

# 2. Nothing changed: the build script must not run again.
stamp
run_cargo build -v
expect_generator_run no "rebuild with nothing changed"
grep -q -E 'Fresh quillmarsh-protocol ' "$log" || { cat "$log" >&2; fail "rebuild with nothing changed: the crate was not fresh"; }

# 3. The description's timestamp changed: the generator runs again (an
# unchanged output file may keep its timestamp).
stamp
touch "$protocol"
run_cargo build -v
expect_generator_run yes "description touched"

# 4. The description's content changed: the new enum reaches the compiled crate.
probe=QmE2eProbeEnum
grep -q "$probe" "$out_file" && fail "$probe is already in the generated file"
stamp
perl -0pi -e 's{(</[A-Za-z_][\w.:-]*>\s*)\z}{<enums><enum name="'"$probe"'" parent="byte"><value name="On" value="1"/></enum></enums>\n$1}' "$protocol"
grep -q "$probe" "$protocol" || fail "could not add an enum to the description"
run_cargo build -v
expect_generator_run yes "description edited"
grep -q "pub enum $probe" "$out_file" || fail "description edited: messages_generated.rs does not hold the new enum"

# 5. A generator source changed: the generator is rebuilt and runs again.
stamp
touch "$crate/build/main.cpp"
run_cargo build -v
expect_generator_run yes "generator source touched"

# 6. The crate's Rust source changed: the crate recompiles, the generator stays.
stamp
touch "$crate/src/lib.rs"
run_cargo build -v
expect_generator_run no "crate source touched"
grep -q 'Running `[^`]*rustc --crate-name quillmarsh_protocol' "$log" || { cat "$log" >&2; fail "crate source touched: the crate was not recompiled"; }

# Runs a cargo build that must fail, leaving its output in $log.
expect_build_failure() {
  local what=$1
  shift
  log_n=$((log_n + 1))
  log=$root/cargo-$log_n.log
  if (cd "$main" && "$@" "$cargo_bin" build --offline) >"$log" 2>&1; then
    cat "$log" >&2
    fail "$what: the build succeeded"
  fi
}

# 7. The description is missing: the generator's failure fails the build,
# with its message.
mv "$protocol" "$protocol.away"
expect_build_failure "description missing" env
grep -q "Failed to canonicalize .*protocol.xml" "$log" && grep -q "quillmarsh-codegen failed with exit status" "$log" ||
  { cat "$log" >&2; fail "description missing: the generator's message or status did not reach Cargo"; }
mv "$protocol.away" "$protocol"
echo "cargo-e2e: description missing: the build fails with the generator's message"

# 8. CMake cannot be started: the build fails saying what to install.
touch "$protocol"
expect_build_failure "cmake missing" env CMAKE=qm-e2e-no-such-cmake
grep -q 'install cmake' "$log" || { cat "$log" >&2; fail "cmake missing: no message saying what to install"; }
echo "cargo-e2e: cmake missing: the build fails saying what to install"
run_cargo build
echo "cargo-e2e: the build recovers once both are back"

# 9. A prebuilt generator: the one Cargo built, installed with CMake. Named by
# QUILLMARSH_CODEGEN it is used as it is: CMake points at a program that
# fails, so the build succeeds only if nothing is compiled.
version=$(sed -n 's/^version = "\(.*\)"$/\1/p' "$crate/Cargo.toml" | head -n 1)
prefix=$root/prefix
"${CMAKE:-cmake}" --install "$(dirname "$out_file")/codegen-build" --prefix "$prefix" >"$root/install.log" 2>&1 ||
  { cat "$root/install.log" >&2; fail "cmake --install of the generator failed"; }
prebuilt=$prefix/bin/quillmarsh-codegen
[ "$("$prebuilt" --version)" = "quillmarsh-codegen $version" ] ||
  fail "the installed generator reports '$("$prebuilt" --version)', not 'quillmarsh-codegen $version'"
failing_cmake=$root/failing-cmake
printf '#!/bin/sh\ntouch "%s"\nexit 1\n' "$root/cmake-was-run" >"$failing_cmake"
chmod +x "$failing_cmake"
export CMAKE=$failing_cmake
stamp
export QUILLMARSH_CODEGEN=$prebuilt
run_cargo build -v
expect_generator_run yes "prebuilt generator named"
[ ! -e "$root/cmake-was-run" ] || fail "prebuilt generator named: CMake was run"
grep -q -E "$report" "$log" || { cat "$log" >&2; fail "prebuilt generator named: no report line"; }
stamp
run_cargo build -v
expect_generator_run no "prebuilt generator, nothing changed"

# Another version of the generator is refused, naming both versions.
other=$root/other-codegen
printf '#!/bin/sh\necho "quillmarsh-codegen 0.0.0-other"\n' >"$other"
chmod +x "$other"
expect_build_failure "prebuilt generator of another version" env QUILLMARSH_CODEGEN="$other"
grep -q "quillmarsh-codegen 0.0.0-other, but this crate needs quillmarsh-codegen $version" "$log" ||
  { cat "$log" >&2; fail "prebuilt generator of another version: no message naming both versions"; }
echo "cargo-e2e: prebuilt generator of another version: refused naming both versions"
# A program that reports the right version but writes nothing would leave
# the previous build's generated files in place: the build fails, naming it.
silent=$root/silent-codegen
printf '#!/bin/sh\n[ "$1" = --version ] && echo "quillmarsh-codegen %s"\nexit 0\n' "$version" >"$silent"
chmod +x "$silent"
expect_build_failure "prebuilt generator that generates nothing" env QUILLMARSH_CODEGEN="$silent"
grep -q "$silent exited successfully without printing its report line" "$log" ||
  { cat "$log" >&2; fail "prebuilt generator that generates nothing: not refused, naming it"; }
echo "cargo-e2e: prebuilt generator that generates nothing: refused naming it"
# So are a program that reports no version and one that does not exist.
false_bin=$(command -v false)
expect_build_failure "prebuilt program without a version" env QUILLMARSH_CODEGEN="$false_bin"
grep -q "QUILLMARSH_CODEGEN=$false_bin did not report a version" "$log" ||
  { cat "$log" >&2; fail "prebuilt program without a version: not refused as such"; }
expect_build_failure "prebuilt generator missing" env QUILLMARSH_CODEGEN="$root/no-such-codegen"
grep -q "cannot start the prebuilt generator QUILLMARSH_CODEGEN=$root/no-such-codegen" "$log" ||
  { cat "$log" >&2; fail "prebuilt generator missing: no message naming it"; }
echo "cargo-e2e: prebuilt program without a version, or missing: refused"
unset CMAKE QUILLMARSH_CODEGEN

# 10. The tests: the crate's own (the readers and the opcode lookups) and
# those of every test crate under tests/rust.
run_crate_tests() {
  for dir in crates/quillmarsh-protocol "${test_crates[@]}"; do
    run_cargo test --manifest-path "$main/$dir/Cargo.toml"
    grep -E '^test result: ' "$log" | sed "s|^|cargo-e2e:   $dir: |"
    grep -q -E '^test result: ok\. [1-9][0-9]* passed' "$log" || { cat "$log" >&2; fail "$dir: no test ran"; }
  done
}
run_crate_tests

# The features, alone and together: a build writes encoders_generated.rs
# (encode), serde_generated.rs (serde) and extended_generated.rs (extended)
# beside the messages exactly when its features ask for them, compiles without
# warnings (the extended tier's report line, exactly with its feature, aside),
# and the tests pass with it (the JSON tests, tests/json.rs, among them with
# serde, and tests/extended.rs with extended). The crate's own tests run
# without features and with all of them.
check_feature_build() {
  local features=$1 out_dir feature_file feature file wanted
  # Diagnostics rendered as usual (dependencies' capped), the build steps'
  # results as JSON on standard output, where the crate's OUT_DIR is told.
  run_cargo build --message-format=json-render-diagnostics -p quillmarsh-protocol --features "$features"
  if grep -E '^(warning|error)' "$log" | grep -v -E "$report" | grep -v -E "$extended_report" | grep -q .; then
    cat "$log" >&2
    fail "the crate does not build cleanly with the features $features"
  fi
  wanted=no
  [[ ",$features," != *,extended,* ]] || wanted=yes
  if grep -q -E "$extended_report" "$log"; then
    [ "$wanted" = yes ] || { cat "$log" >&2; fail "a build with the features $features printed the extended tier's report line"; }
  else
    [ "$wanted" = no ] || { cat "$log" >&2; fail "a build with the features $features printed no extended tier report line"; }
  fi
  # The generated files of this build are in the OUT_DIR its compile is given.
  out_dir=$(grep -F '"reason":"build-script-executed"' "$log" | grep -F 'quillmarsh-protocol' |
    grep -o '"out_dir":"[^"]*"' | sed 's/^"out_dir":"//; s/"$//' | tail -n 1)
  [ -d "$out_dir" ] || { cat "$log" >&2; fail "features $features: cannot tell the build's OUT_DIR"; }
  for feature_file in encode:encoders_generated.rs serde:serde_generated.rs extended:extended_generated.rs; do
    feature=${feature_file%%:*} file=${feature_file#*:} wanted=no
    [[ ",$features," != *",$feature,"* ]] || wanted=yes
    if [ -f "$out_dir/$file" ]; then
      [ "$wanted" = yes ] || fail "a build with the features $features wrote $file"
    else
      [ "$wanted" = no ] || fail "a build with the features $features wrote no $file"
    fi
  done
  echo "cargo-e2e: features $features: builds cleanly, writing exactly their files"
}
run_feature_tests() {
  local features=$1 dir
  shift
  for dir in "$@"; do
    run_cargo test --manifest-path "$main/$dir/Cargo.toml" --features "$features"
    grep -E '^test result: ' "$log" | sed "s|^|cargo-e2e:   $dir ($features): |"
    grep -q -E '^test result: ok\. [1-9][0-9]* passed' "$log" || { cat "$log" >&2; fail "$dir ($features): no test ran"; }
    if [[ $dir == tests/rust/* ]] && [[ ",$features," == *,serde,* ]]; then
      grep -q -E '^test every_construct_has_its_json_form \.\.\. ok$' "$log" ||
        { cat "$log" >&2; fail "$dir ($features): the JSON tests did not run"; }
    fi
    if [[ $dir == tests/rust/* ]] && [[ ",$features," == *,extended,* ]]; then
      grep -q -E '^test the_index_names_them_and_skipped_no_longer_does \.\.\. ok$' "$log" ||
        { cat "$log" >&2; fail "$dir ($features): the extended tier's tests did not run"; }
    fi
  done
}
run_feature_checks() {
  local features
  for features in encode serde serde,encode extended extended,encode,serde; do
    check_feature_build "$features"
  done
  run_feature_tests encode crates/quillmarsh-protocol "${test_crates[@]}"
  run_feature_tests serde "${test_crates[@]}"
  run_feature_tests serde,encode crates/quillmarsh-protocol "${test_crates[@]}"
  run_feature_tests extended "${test_crates[@]}"
  run_feature_tests extended,encode,serde crates/quillmarsh-protocol "${test_crates[@]}"
}
run_feature_checks

# The documentation builds without a warning, rustdoc's warnings made errors,
# without features and with each: a doc link from an item that is always
# built to one of a feature, say, is broken in a build without it.
run_doc_checks() {
  local feature what
  for feature in "" encode serde serde,encode extended extended,encode,serde; do
    what=${feature:+with the $feature feature}
    RUSTDOCFLAGS="-D warnings" run_cargo doc -p quillmarsh-protocol --no-deps ${feature:+--features "$feature"}
    if grep -E '^(warning|error)' "$log" | grep -v -E "$report" | grep -v -E "$extended_report" | grep -q .; then
      cat "$log" >&2
      fail "documentation ${what:-without features}: warnings"
    fi
    echo "cargo-e2e: documentation ${what:-without features}: no warning"
  done
}
run_doc_checks

# 11. The example decodes a captured stream of the sample's messages through
# the dispatch enums and prints them.
run_cargo run --manifest-path "$main/tests/rust/quillmarsh-protocol-tests/Cargo.toml" --example decode_sample
if grep -E '^(warning|error)' "$log" | grep -v -E "$report" | grep -q .; then
  cat "$log" >&2
  fail "example decode_sample: warnings while building it"
fi
grep -q -F 'messageS2C 0xF74C Movement_Motion (12 bytes): S2C(' "$log" ||
  { cat "$log" >&2; fail "example decode_sample: the decoded Movement_Motion was not printed"; }
grep -q -F 'not decoded: messageS2C 0xF755 Legacy_Effects: not generated: deferred-tier features [mask]' "$log" ||
  { cat "$log" >&2; fail "example decode_sample: the skipped Legacy_Effects was not reported"; }
echo "cargo-e2e: example decode_sample printed $(grep -c -E '^(messageC2S|messageS2C|gameaction|gameevent) ' "$log") messages"
# With --json (and the serde feature) it prints each decoded message as one
# line of JSON, what does not decode on standard error.
run_cargo run --manifest-path "$main/tests/rust/quillmarsh-protocol-tests/Cargo.toml" --features serde \
  --example decode_sample -- --json
grep -q -x -F '{"S2C":{"Movement_Motion":{"object":1342177281,"kind":"RawCommand","kind_data":{"Case_1":{"command":69,"speed":1.25}}}}}' "$log" ||
  { cat "$log" >&2; fail "example decode_sample --json: the decoded Movement_Motion was not printed as JSON"; }
grep -q -x -F 'not decoded: messageS2C 0xF755 Legacy_Effects: not generated: deferred-tier features [mask]' "$log" ||
  { cat "$log" >&2; fail "example decode_sample --json: the skipped Legacy_Effects was not reported"; }
echo "cargo-e2e: example decode_sample --json printed $(grep -c '^{"' "$log") messages as JSON"

# 12. Debian's rustc and cargo, called by their full paths: a clean build (with
# the prebuilt generator, so that no C++ is compiled again) and the tests. The
# crate's rust-version must name exactly this Rust, the oldest it is checked with.
if [ "${QM_E2E_DEBIAN_RUST:-}" = skip ]; then
  echo "cargo-e2e: Debian's Rust toolchain: skipped (QM_E2E_DEBIAN_RUST=skip)"
else
  debian_bin=${QM_DEBIAN_RUST_BIN:-/usr/bin}
  [ -x "$debian_bin/cargo" ] && [ -x "$debian_bin/rustc" ] ||
    fail "no rustc and cargo in $debian_bin: install Debian's (apt-get install rustc cargo), or set QM_E2E_DEBIAN_RUST=skip"
  cargo_bin=$debian_bin/cargo
  RUSTC=$debian_bin/rustc
  # Cargo runs the rustdoc on PATH for the documentation tests unless told;
  # it must read the rlibs this rustc writes (serde's among them).
  [ -x "$debian_bin/rustdoc" ] || fail "no rustdoc in $debian_bin: install Debian's rustc package"
  export RUSTDOC=$debian_bin/rustdoc
  rust_version=$(sed -n 's/^rust-version = "\(.*\)"$/\1/p' "$crate/Cargo.toml")
  debian_version=$("$RUSTC" --version | sed -n 's/^rustc \([0-9]*\.[0-9]*\).*/\1/p')
  [ "$rust_version" = "$debian_version" ] ||
    fail "the crate's rust-version is '$rust_version', but the Rust it is checked with here is $debian_version"
  echo "cargo-e2e: Debian's toolchain: $("$cargo_bin" --version), $("$RUSTC" --version)"
  export CARGO_TARGET_DIR=$root/target-debian QUILLMARSH_CODEGEN=$prebuilt
  # A lock file of the newer Cargo may be of a format the older one cannot read.
  rm -f "$main/Cargo.lock"
  check_clean_build
  run_crate_tests
  run_feature_checks
  run_doc_checks
fi
echo "cargo-e2e: all checks passed"
