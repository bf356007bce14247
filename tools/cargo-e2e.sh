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
#   - the crate's own tests and the tests under tests/rust pass, also with
#     the encode feature, whose build alone writes encoders_generated.rs;
#   - the example decode_sample builds without warnings and prints the
#     messages of its captured stream.
# Set QM_E2E_KEEP=1 to keep the temporary root for inspection.
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
[ -f "$sample" ] || fail "no such description: $sample"

root=$(mktemp -d "${TMPDIR:-/tmp}/qm-cargo-e2e.XXXXXX")
if [ "${QM_E2E_KEEP:-0}" = 1 ]; then
  echo "cargo-e2e: keeping $root"
else
  trap 'rm -rf "$root"' EXIT
fi

main=$root/main
crate=$main/crates/quillmarsh-protocol
proto_dir=$root/vellumite/Vellumite.BrenicProtocol/Vellumite.BrenicProtocol
protocol=$proto_dir/protocol.xml
# shellcheck source=tools/sibling-layout.sh
. "$(dirname "$0")/sibling-layout.sh"
lay_out_workspace "$repo" "$root" "$sample" ||
  fail "could not add the test crates to the workspace in $main/Cargo.toml"

export CARGO_TARGET_DIR=$root/target
export CARGO_TERM_COLOR=never
unset CARGO_BUILD_TARGET RUSTFLAGS CARGO_ENCODED_RUSTFLAGS

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

# 1. A clean build.
run_cargo build -v
grep -q -E '^warning: quillmarsh-protocol@[^ ]*: quillmarsh-protocol/build: emitted [0-9]+ enums \([0-9]+ aliases\), [0-9]+ datatypes \([0-9]+ skipped\), [0-9]+ messages \([0-9]+ skipped\), [0-9]+ gameactions \([0-9]+ skipped\), [0-9]+ gameevents \([0-9]+ skipped\)$' "$log" ||
  { cat "$log" >&2; fail "the generator's report line did not reach Cargo as a warning"; }
grep -E '^warning: quillmarsh-protocol@[^ ]*: quillmarsh-protocol/build: emitted' "$log" | sed 's/^/cargo-e2e: /'
if grep -E '^(warning|error)' "$log" | grep -v -E '^warning: quillmarsh-protocol@[^ ]*: quillmarsh-protocol/build: emitted' |
  grep -v -E '^warning: `quillmarsh-protocol` \(lib\) generated [0-9]+ warnings?$' | grep -q .; then
  cat "$log" >&2
  fail "the crate does not build cleanly: warnings other than the report line"
fi
mapfile -t generated < <(find "$CARGO_TARGET_DIR/debug/build" -path '*/quillmarsh-protocol-*/out/messages_generated.rs')
[ "${#generated[@]}" -eq 1 ] || fail "expected one messages_generated.rs under $CARGO_TARGET_DIR/debug/build, found ${#generated[@]}"
out_file=${generated[0]}
echo "cargo-e2e: clean build ok ($(wc -l <"$out_file") generated lines)"

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

# 9. The tests: the crate's own (the readers and the opcode lookups) and
# those of every test crate under tests/rust.
for dir in crates/quillmarsh-protocol "${test_crates[@]}"; do
  run_cargo test --manifest-path "$main/$dir/Cargo.toml"
  grep -E '^test result: ' "$log" | sed "s|^|cargo-e2e:   $dir: |"
  grep -q -E '^test result: ok\. [1-9][0-9]* passed' "$log" || { cat "$log" >&2; fail "$dir: no test ran"; }
done

# 10. The encode feature: the build writes encoders_generated.rs beside the
# messages (only then), compiles without warnings, and the tests pass with it.
find "$CARGO_TARGET_DIR/debug/build" -path '*/quillmarsh-protocol-*/out/encoders_generated.rs' | grep -q . &&
  fail "a build without the encode feature wrote encoders_generated.rs"
run_cargo build -p quillmarsh-protocol --features encode
if grep -E '^(warning|error)' "$log" | grep -v -E '^warning: quillmarsh-protocol@[^ ]*: quillmarsh-protocol/build: emitted' | grep -q .; then
  cat "$log" >&2
  fail "the crate does not build cleanly with the encode feature"
fi
find "$CARGO_TARGET_DIR/debug/build" -path '*/quillmarsh-protocol-*/out/encoders_generated.rs' | grep -q . ||
  fail "a build with the encode feature wrote no encoders_generated.rs"
for dir in crates/quillmarsh-protocol "${test_crates[@]}"; do
  run_cargo test --manifest-path "$main/$dir/Cargo.toml" --features encode
  grep -E '^test result: ' "$log" | sed "s|^|cargo-e2e:   $dir (encode): |"
  grep -q -E '^test result: ok\. [1-9][0-9]* passed' "$log" || { cat "$log" >&2; fail "$dir (encode): no test ran"; }
done

# 11. The example decodes a captured stream of the sample's messages through
# the dispatch enums and prints them.
run_cargo run --manifest-path "$main/tests/rust/quillmarsh-protocol-tests/Cargo.toml" --example decode_sample
if grep -E '^(warning|error)' "$log" | grep -v -E '^warning: quillmarsh-protocol@[^ ]*: quillmarsh-protocol/build: emitted' | grep -q .; then
  cat "$log" >&2
  fail "example decode_sample: warnings while building it"
fi
grep -q -F 'messageS2C 0xF74C Movement_Motion (12 bytes): Movement_Motion(' "$log" ||
  { cat "$log" >&2; fail "example decode_sample: the decoded Movement_Motion was not printed"; }
grep -q -F 'not decoded: messageS2C 0xF755 Legacy_Effects: not generated: deferred-tier features [mask]' "$log" ||
  { cat "$log" >&2; fail "example decode_sample: the skipped Legacy_Effects was not reported"; }
echo "cargo-e2e: example decode_sample printed $(grep -c -E '^(messageC2S|messageS2C|gameaction|gameevent) ' "$log") messages"
echo "cargo-e2e: all checks passed"
