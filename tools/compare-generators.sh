#!/usr/bin/env bash
# Compares two builds of quillmarsh-codegen on many descriptions: standard
# output, standard error, exit status and the written messages_generated.rs,
# dispatch_generated.rs and encoders_generated.rs must be byte for byte the
# same. Meant for speed work and
# restructuring of the generator: save the executable before a change, then
# compare it with the new one.
#
# Inputs: every golden case's protocol.xml, samples/protocol.xml, --edge random
# edge-case descriptions and a set of realistic ones of various sizes (up to 16x
# a base of 1 MiB, the benchmark's sizes included).
#
# Each description is run the way Cargo runs the generator with the crate's
# `encode` feature on: no arguments, an environment holding only
# CARGO_MANIFEST_DIR, OUT_DIR and CARGO_FEATURE_ENCODE, the description at
# ../../../vellumite/Vellumite.BrenicProtocol/Vellumite.BrenicProtocol/protocol.xml
# from the manifest directory. Both executables run in the same folders, so
# paths in messages match.
#
# Usage: tools/compare-generators.sh OLD NEW [options]
#   --describe PATH   qm-random-description (default: build/bench/tools/describe/qm-random-description)
#   --edge N          random edge-case descriptions (default 600)
#   --realistic N     realistic descriptions besides the 1x/4x/16x ones (default 17)
#   --no-large        skip the 4x and 16x descriptions
#   --keep            keep the work folder (the differing cases are kept anyway)
# Exits non-zero when any description differs.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
die() {
  echo "compare-generators: $*" >&2
  exit 2
}

[ $# -ge 2 ] || die "usage: tools/compare-generators.sh OLD NEW [--describe PATH] [--edge N] [--realistic N] [--no-large] [--keep]"
old=$(realpath "$1")
new=$(realpath "$2")
shift 2
describe=$repo/build/bench/tools/describe/qm-random-description
edge=600
realistic=17
large=1
keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --describe) describe=${2:?}; shift ;;
    --edge) edge=${2:?}; shift ;;
    --realistic) realistic=${2:?}; shift ;;
    --no-large) large=0 ;;
    --keep) keep=1 ;;
    *) die "unknown option $1" ;;
  esac
  shift
done
for exe in "$old" "$new" "$describe"; do
  [ -x "$exe" ] || die "not an executable: $exe"
done

work=$(mktemp -d)
cleanup() { [ "$keep" = 1 ] || rm -rf "$work/root" "$work/inputs" "$work/old" "$work/new"; }
trap cleanup EXIT
root=$work/root
manifest=$root/main/crates/quillmarsh-protocol
proto_dir=$root/vellumite/Vellumite.BrenicProtocol/Vellumite.BrenicProtocol
mkdir -p "$manifest" "$proto_dir" "$root/out" "$work/inputs"

# The descriptions, as name<TAB>file lines.
list=$work/list
: >"$list"
for case_dir in "$repo"/tests/golden/cases/*/; do
  name=golden-$(basename "$case_dir")
  [ -f "$case_dir/protocol.xml" ] && printf '%s\t%s\n' "$name" "$case_dir/protocol.xml" >>"$list"
done
[ -f "$repo/samples/protocol.xml" ] && printf 'sample\t%s\n' "$repo/samples/protocol.xml" >>"$list"
for ((n = 1; n <= edge; n++)); do
  file=$work/inputs/edge-$n.xml
  "$describe" --number "$n" >"$file"
  printf 'edge-%d\t%s\n' "$n" "$file" >>"$list"
done
mib=1048576
sizes=(8000 20000 60000 150000 400000 $((mib / 2)) $((2 * mib)))
for ((n = 1; n <= realistic; n++)); do
  size=${sizes[$((n % ${#sizes[@]}))]}
  file=$work/inputs/realistic-$((n + 1))-$size.xml
  "$describe" --number $((n + 1)) --profile realistic --size "$size" >"$file"
  printf 'realistic-%d-%d\t%s\n' $((n + 1)) "$size" "$file" >>"$list"
done
factors=(1)
[ "$large" = 1 ] && factors+=(4 16)
for factor in "${factors[@]}"; do
  file=$work/inputs/realistic-${factor}x.xml
  "$describe" --number 1 --profile realistic --size $((mib * factor)) >"$file"
  printf 'realistic-%dx\t%s\n' "$factor" "$file" >>"$list"
done

# Runs one executable on the description in place; leaves its results in $2.
run_one() {
  local exe=$1 dest=$2 status=0
  rm -rf "$root/out" "$dest"
  mkdir -p "$root/out" "$dest"
  (cd "$root" && env -i CARGO_MANIFEST_DIR="$manifest" OUT_DIR="$root/out" CARGO_FEATURE_ENCODE=1 "$exe" \
    >"$dest/stdout" 2>"$dest/stderr") || status=$?
  echo "$status" >"$dest/status"
  local output
  for output in messages_generated.rs dispatch_generated.rs encoders_generated.rs; do
    if [ -e "$root/out/$output" ]; then
      mv "$root/out/$output" "$dest/$output"
    fi
  done
  ls -A "$root/out" >"$dest/leftovers"
}

total=0
differ=0
while IFS=$'\t' read -r name file; do
  total=$((total + 1))
  cp "$file" "$proto_dir/protocol.xml"
  run_one "$old" "$work/old"
  run_one "$new" "$work/new"
  if ! diff -r -q "$work/old" "$work/new" >/dev/null; then
    differ=$((differ + 1))
    mkdir -p "$work/differ/$name"
    cp "$file" "$work/differ/$name/protocol.xml"
    cp -r "$work/old" "$work/differ/$name/old"
    cp -r "$work/new" "$work/differ/$name/new"
    echo "DIFFERS: $name ($(diff -r -q "$work/old" "$work/new" | head -3 | tr '\n' ' '))"
  fi
done <"$list"

echo "compare-generators: $total descriptions, $differ differ"
if [ "$differ" -ne 0 ]; then
  echo "compare-generators: the differing cases are kept in $work/differ"
  exit 1
fi
[ "$keep" = 1 ] && echo "compare-generators: work folder $work"
[ "$keep" = 1 ] || rm -rf "$work"
exit 0
