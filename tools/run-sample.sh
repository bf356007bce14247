#!/usr/bin/env bash
# The main job: builds the generator and runs it, as Cargo would, on the bundled
# sample description (samples/protocol.xml, or the file given as $1) in a
# temporary sibling-checkout layout. The generated file is kept in
# out/messages_generated.rs and its path is printed.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
input=${1:-$repo/samples/protocol.xml}
[ -f "$input" ] || { echo "run-sample: no such description: $input" >&2; exit 1; }

cmake -S crates/quillmarsh-protocol/build -B build/generator -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/generator -j "$(nproc)" --target quillmarsh-codegen >/dev/null

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
manifest=$tmp/main/crates/quillmarsh-protocol
proto_dir=$tmp/vellumite/Vellumite.BrenicProtocol/Vellumite.BrenicProtocol
mkdir -p "$manifest" "$proto_dir" "$tmp/out"
cp "$input" "$proto_dir/protocol.xml"

status=0
CARGO_MANIFEST_DIR=$manifest OUT_DIR=$tmp/out build/generator/quillmarsh-codegen || status=$?
if [ "$status" -ne 0 ]; then
  echo "run-sample: the generator failed (exit status $status)" >&2
  exit "$status"
fi
mkdir -p out
cp "$tmp/out/messages_generated.rs" out/messages_generated.rs
echo "run-sample: wrote $repo/out/messages_generated.rs"
