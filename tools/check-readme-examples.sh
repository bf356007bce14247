#!/usr/bin/env bash
# Holds the README's examples to code that runs: every fenced code block of
# README.md that follows a line
#   <!-- checked in PATH -->
# (PATH from the repository's root) must appear in that file exactly as the
# README shows it, where a test calls it. Fails naming each block that does
# not, and when the README marks no block at all.
#
# Usage: tools/check-readme-examples.sh [README]
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
readme=${1:-$repo/README.md}
[ -f "$readme" ] || { echo "check-readme-examples: no $readme" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/qm-readme.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Each marked block goes to $work/N, and "N LINE PATH" to $work/index.
awk -v work="$work" '
  /^<!-- checked in [^ ]+ -->$/ { path = $4; line = NR; next }
  path != "" && !inside && /^```/ { inside = 1; n++; print n, line, path > (work "/index"); next }
  inside && /^```$/ { inside = 0; path = ""; next }
  inside { print > (work "/" n); next }
  path != "" { path = "" }
' "$readme"

[ -s "$work/index" ] || { echo "check-readme-examples: no block of $readme is marked as checked" >&2; exit 1; }
failed=0
checked=0
while read -r n line path; do
  checked=$((checked + 1))
  file=$repo/$path
  if [ ! -f "$file" ]; then
    echo "check-readme-examples: README line $line names $path, which does not exist" >&2
    failed=$((failed + 1))
    continue
  fi
  block=$(cat "$work/$n")
  content=$(cat "$file")
  if [[ "$content" != *"$block"* ]]; then
    echo "check-readme-examples: the block after README line $line is not in $path as written:" >&2
    sed 's/^/  | /' "$work/$n" >&2
    failed=$((failed + 1))
  fi
done <"$work/index"
echo "check-readme-examples: $checked blocks checked, $failed not found"
[ "$failed" -eq 0 ]
