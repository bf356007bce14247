#!/usr/bin/env bash
# Checks what the extended C# translations compute: csharp_semantics writes a
# Rust program of one check per case (translation, field values, the value C#
# gives), which is compiled with rustc, deny-by-default lints active and
# overflow checks on, and run. Fails when a case is not translated, does not
# compile, panics or gives another value.
#
# Usage: run.sh CSHARP_SEMANTICS_EXE
# rustc is taken from $RUSTC, else rustup's toolchain, else PATH (tools/find-rust-tool.sh).
set -euo pipefail

writer=${1:?usage: run.sh CSHARP_SEMANTICS_EXE}
# shellcheck source=tools/find-rust-tool.sh
. "$(dirname "$0")/../../tools/find-rust-tool.sh"
rustc_bin=$(find_rust_tool rustc RUSTC) || { echo "csharp semantics: cannot run without rustc" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/qm-csharp-semantics.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$writer" "$work/checks.rs"
if ! "$rustc_bin" --edition 2021 -C overflow-checks=on -C debug-assertions=on -C opt-level=0 \
  -o "$work/checks" "$work/checks.rs" >"$work/rustc.log" 2>&1; then
  cat "$work/rustc.log"
  echo "csharp semantics: the translations do not compile (program: $work/checks.rs)" >&2
  trap - EXIT
  exit 1
fi
"$work/checks"
