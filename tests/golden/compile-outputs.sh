#!/usr/bin/env bash
# Compiles the expected output of every golden case as Rust, the way the crate
# compiles a real build's output: the crate's own src/lib.rs (with the module
# files beside it), whose include!s read messages_generated.rs and
# dispatch_generated.rs from $OUT_DIR, built as a library with rustc (edition
# 2021). Deny-by-default lints stay active; warnings are allowed.
#
# A case with an expected encoders_generated.rs is compiled with the `encode`
# feature on, its encoders included beside the messages; one with an expected
# serde_generated.rs with the `serde` feature on, linked against the serde
# crate, whose rlib is built once first (tools/serde-rlibs.sh: offline, from
# Debian's packaged crates). A case with an expected extended_generated.rs is
# compiled with the `extended` feature on, which includes it into the
# messages module and which its dispatch (and encoders, serde impls) need.
#
# Cases without an expected messages_generated.rs (runs that must not write
# one) are skipped; a case with one must have its dispatch_generated.rs too. Before the cases, a probe output holding an overflowing
# constant must be refused, which shows that the file really is included from
# OUT_DIR and that deny-by-default lints fail the compile.
#
# Usage: compile-outputs.sh [CASES_DIR [LIB_RS]]
# rustc is taken from $RUSTC, else rustup's toolchain, else PATH (tools/find-rust-tool.sh).
# Exits 0 when every expected output compiles, 1 otherwise.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cases=${1:-$here/cases}
lib_rs=${2:-$here/../../crates/quillmarsh-protocol/src/lib.rs}

fail() {
  echo "compile-outputs: $*" >&2
  exit 1
}

# shellcheck source=tools/find-rust-tool.sh
. "$(dirname "$0")/../../tools/find-rust-tool.sh"
rustc_bin=$(find_rust_tool rustc RUSTC) || fail "cannot compile the generated code without rustc"
"$rustc_bin" --version >/dev/null 2>&1 || fail "$rustc_bin does not run"
[ -d "$cases" ] || fail "no case folder $cases"
[ -f "$lib_rs" ] || fail "no crate wrapper $lib_rs"
grep -q 'env!("OUT_DIR")' "$lib_rs" || fail "$lib_rs does not include the generated file through env!(\"OUT_DIR\")"

work=$(mktemp -d "${TMPDIR:-/tmp}/qm-golden-compile.XXXXXX") || fail "cannot make a temporary folder"
trap 'rm -rf "$work"' EXIT

# compile NAME MESSAGES DISPATCH [ENCODERS [SERDE [EXTENDED]]]: builds the
# wrapper around the files (with the encode feature when there are encoders,
# the serde feature when there are serde impls, the extended feature when
# there are extended items; an empty argument leaves its feature off);
# rustc's messages go to $work/NAME.log.
# Returns rustc's status.
compile() {
  local dir=$work/$1
  local features=()
  mkdir -p "$dir/out" "$dir/build"
  cp "$2" "$dir/out/messages_generated.rs"
  cp "$3" "$dir/out/dispatch_generated.rs"
  if [ -n "${4:-}" ]; then
    cp "$4" "$dir/out/encoders_generated.rs"
    features=(--cfg 'feature="encode"')
  fi
  if [ -n "${5:-}" ]; then
    cp "$5" "$dir/out/serde_generated.rs"
    features+=(--cfg 'feature="serde"' "${serde_rustc_args[@]}")
  fi
  if [ -n "${6:-}" ]; then
    cp "$6" "$dir/out/extended_generated.rs"
    features+=(--cfg 'feature="extended"')
  fi
  OUT_DIR=$dir/out "$rustc_bin" --edition 2021 --crate-type lib --crate-name quillmarsh_protocol \
    "${features[@]}" -C debuginfo=0 --out-dir "$dir/build" "$lib_rs" >"$work/$1.log" 2>&1
}

# The probe: a valid opcode index, plus a constant that overflows (an error
# through the deny-by-default arithmetic_overflow lint, not a warning).
cat >"$work/probe.rs" <<'RUST'
pub const OPCODE_INDEX: &[(&str, &str, u32)] = &[];
pub const PROBE: u8 = 255u8 + 1;
RUST
cat >"$work/probe-dispatch.rs" <<'RUST'
pub const SKIPPED: &[crate::SkippedItem] = &[];
RUST
if compile probe "$work/probe.rs" "$work/probe-dispatch.rs"; then
  fail "a probe output with an overflowing constant compiled: the harness does not check what it claims"
fi
grep -q 'arithmetic_overflow\|attempt to compute' "$work/probe.log" ||
  fail "the probe output failed for an unexpected reason:
$(cat "$work/probe.log")"

# The serde rlib, once, when a case needs it.
serde_rustc_args=()
if compgen -G "$cases/*/expected/serde_generated.rs" >/dev/null; then
  # shellcheck source=tools/serde-rlibs.sh
  . "$here/../../tools/serde-rlibs.sh"
  build_serde_rlibs "$rustc_bin" "$work/serde-rlibs" serde || fail "cannot build the serde crate for the serde cases"
fi

checked=0
with_serde=0
with_extended=0
skipped=0
failed=()
for case_dir in "$cases"/*/; do
  name=$(basename "$case_dir")
  expected=$case_dir/expected/messages_generated.rs
  if [ ! -f "$expected" ]; then
    skipped=$((skipped + 1))
    continue
  fi
  checked=$((checked + 1))
  dispatch=$case_dir/expected/dispatch_generated.rs
  if [ ! -f "$dispatch" ]; then
    echo "FAILED  $name: no expected dispatch_generated.rs beside its messages_generated.rs"
    failed+=("$name")
    continue
  fi
  encoders=$case_dir/expected/encoders_generated.rs
  [ -f "$encoders" ] || encoders=
  serde=$case_dir/expected/serde_generated.rs
  if [ -f "$serde" ]; then with_serde=$((with_serde + 1)); else serde=; fi
  extended=$case_dir/expected/extended_generated.rs
  if [ -f "$extended" ]; then with_extended=$((with_extended + 1)); else extended=; fi
  features=$(printf '%s\n' ${encoders:+encode} ${serde:+serde} ${extended:+extended} | paste -s -d, - | sed 's/,/, /g')
  if ! compile "$name" "$expected" "$dispatch" "$encoders" "$serde" "$extended"; then
    echo "FAILED  $name"
    sed 's/^/    /' "$work/$name.log"
    failed+=("$name")
  elif grep -q -- '--> .*/serde_generated\.rs:' "$work/$name.log"; then
    # The serde impls are the crate's own code in a user's build, whose
    # warnings the user would see.
    echo "FAILED  $name: rustc warns about serde_generated.rs"
    sed 's/^/    /' "$work/$name.log"
    failed+=("$name")
  else
    echo "ok      $name${features:+ ($features)}"
  fi
done

echo "compile-outputs: $checked checked ($with_serde with the serde feature, $with_extended with the extended feature), $skipped without an output file, ${#failed[@]} failed"
[ "$checked" -gt 0 ] || fail "no case has an expected messages_generated.rs under $cases"
if [ ${#failed[@]} -gt 0 ]; then
  echo "compile-outputs: expected outputs that do not compile: ${failed[*]}" >&2
  exit 1
fi
exit 0
