#!/usr/bin/env bash
# Checks that the generator's subsystems include each other in one direction
# only: a file may include headers of its own folder and of the folders
# below it in
#   text <- xml <- schema <- expr <- constructs <- structs, enums <- driver
# (structs and enums stand side by side and include neither the other).
# Prints every include that goes the other way and exits non-zero if any does.
#
# Usage: tools/check-layers.sh [GENERATOR_SOURCE_DIR]
set -euo pipefail

src=${1:-$(cd "$(dirname "$0")/.." && pwd)/crates/quillmarsh-protocol/build}
declare -A rank=([text]=0 [xml]=1 [schema]=2 [expr]=3 [constructs]=4 [structs]=5 [enums]=5 [driver]=6)

bad=0
for dir in "${!rank[@]}"; do
  [ -d "$src/$dir" ] || { echo "check-layers: no folder $src/$dir" >&2; exit 2; }
  while IFS= read -r hit; do
    file=${hit%%:*}
    included=$(sed -E 's/.*#include "([^/"]+)\/.*/\1/' <<<"$hit")
    [ "$included" = "$dir" ] && continue
    if [ -z "${rank[$included]+set}" ]; then
      echo "check-layers: ${file#"$src"/} includes from an unknown folder: $included"
      bad=1
    elif [ "${rank[$included]}" -ge "${rank[$dir]}" ]; then
      echo "check-layers: ${file#"$src"/} (in $dir) includes $included, which stands above or beside it"
      bad=1
    fi
  done < <(grep -H -E '^#include "[^/"]+/' "$src/$dir"/*.hpp "$src/$dir"/*.cpp 2>/dev/null || true)
done
[ "$bad" = 0 ] && echo "check-layers: every include goes down"
exit "$bad"
