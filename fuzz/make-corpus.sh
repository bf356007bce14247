#!/usr/bin/env bash
# Writes the initial fuzzing corpus: random protocol descriptions from
# qm-random-description, mostly of the edge profile (small and crowded with
# corner cases) plus a few small realistic ones.
#
# Usage: fuzz/make-corpus.sh DESCRIBE_BINARY OUT_DIR [COUNT] [FIRST]
#   COUNT  descriptions to write (default 200); FIRST  first number (default 1)
# The same arguments always give the same files.
set -euo pipefail

[ $# -ge 2 ] || { echo "usage: $0 DESCRIBE_BINARY OUT_DIR [COUNT] [FIRST]" >&2; exit 2; }
describe=$1
out=$2
count=${3:-200}
first=${4:-1}

mkdir -p "$out"
for ((i = first; i < first + count; i++)); do
  if ((i % 10 == 0)); then
    # Realistic documents are large by default; keep these near the edge size.
    "$describe" --number "$i" --profile realistic --size 6000 >"$out/realistic-$i.xml"
  else
    "$describe" --number "$i" --profile edge >"$out/edge-$i.xml"
  fi
done
echo "make-corpus: wrote $count descriptions to $out"
