#!/usr/bin/env bash
# Runs the example that decodes a small captured stream of the sample
# protocol (tests/rust/quillmarsh-protocol-tests/examples/decode_sample.rs),
# with one command from a fresh checkout. The build step reads its
# description from a sibling checkout; this script lays out the workspace and
# the sample description (samples/protocol.xml, or the file given as $1) that
# way in build/decode-sample, then runs the example with Cargo, offline.
# The layout stays at the same place, so later runs reuse Cargo's build.
#
# Usage: tools/decode-sample.sh [DESCRIPTION] [ARGUMENT...]
# The arguments after the description go to the example: `--json` prints
# one line of JSON per decoded message (the crate is then built with its
# serde feature).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
description=$repo/samples/protocol.xml
if [ $# -gt 0 ] && [[ $1 != -* ]]; then
  description=$1
  shift
fi
features=()
for argument in "$@"; do
  [ "$argument" != --json ] || features=(--features serde)
done
fail() {
  echo "decode-sample: $*" >&2
  exit 1
}
[ -f "$description" ] || fail "no such description: $description"

# shellcheck source=tools/find-rust-tool.sh
. "$repo/tools/find-rust-tool.sh"
cargo_bin=$(find_rust_tool cargo CARGO) || fail "cannot run the example without cargo"
RUSTC=$(find_rust_tool rustc RUSTC) || fail "cannot run the example without rustc"
export RUSTC

root=$repo/build/decode-sample
rm -rf "$root/main" "$root/vellumite"
# shellcheck source=tools/sibling-layout.sh
. "$repo/tools/sibling-layout.sh"
lay_out_workspace "$repo" "$root" "$description" || fail "could not lay out the workspace in $root"

export CARGO_TARGET_DIR=$root/target
cd "$root/main"
"$cargo_bin" run --offline --quiet --manifest-path tests/rust/quillmarsh-protocol-tests/Cargo.toml \
  "${features[@]}" --example decode_sample -- "$@"
