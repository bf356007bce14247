#!/usr/bin/env bash
# Builds the libFuzzer target (Clang, with AddressSanitizer and
# UndefinedBehaviorSanitizer), writes the initial corpus with the random
# description generator, and fuzzes the whole generation in memory.
#
# Usage: fuzz/run-fuzz.sh [--ci | --minutes M] [--build-dir DIR] [--jobs N]
#   --ci          a bounded, deterministic run for the test suite: a fixed
#                 start for the random numbers and a fixed run count, so two
#                 runs do the same work; a few minutes on two cores, build
#                 included (this is the default)
#   --minutes M   a longer exploratory run of M minutes; new interesting
#                 inputs are kept in DIR/corpus-long for the next run
#   --build-dir   the Clang build tree (default: build/fuzz in the repository)
#   --jobs N      parallel compile jobs (default: nproc)
#
# A longer run, for example before a release:
#   fuzz/run-fuzz.sh --minutes 60
# A crash leaves crash-*, timeout-* or oom-* files in the build tree's
# findings/ folder; reproduce one with
#   build/fuzz/fuzz/qm_generate_fuzzer build/fuzz/findings/crash-...
# and add it to tests/unit/hardening_test.cpp as a regression test.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
mode=ci
minutes=0
build=$repo/build/fuzz
jobs=$(nproc)

while [ $# -gt 0 ]; do
  case "$1" in
    --ci) mode=ci ;;
    --minutes)
      mode=long
      minutes=${2:?--minutes needs a number}
      shift
      ;;
    --build-dir)
      build=${2:?--build-dir needs a directory}
      shift
      ;;
    --jobs)
      jobs=${2:?--jobs needs a number}
      shift
      ;;
    *)
      echo "run-fuzz: unknown option $1" >&2
      exit 2
      ;;
  esac
  shift
done

echo "run-fuzz: building in $build"
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLMARSH_FUZZ=ON >/dev/null
cmake --build "$build" -j "$jobs" --target qm_generate_fuzzer qm-random-description

fuzzer=$build/fuzz/qm_generate_fuzzer
findings=$build/findings
mkdir -p "$findings"

# The initial corpus is made afresh every time, so it always matches the
# current description generator; it is never committed.
initial=$build/corpus-initial
rm -rf "$initial"
"$repo/fuzz/make-corpus.sh" "$build/tools/describe/qm-random-description" "$initial" 150

# Common options: inputs up to 64 KB (edge descriptions are 10-50 KB, and a
# cut one is not well-formed, so it would never reach the generator), ten
# seconds per input at most, 2 GB of memory at most.
common=(-max_len=65536 -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=2048 -dict="$repo/fuzz/protocol.dict"
  -artifact_prefix="$findings/" -print_final_stats=1)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

if [ "$mode" = ci ]; then
  # New inputs go to a scratch folder, so the run depends only on the
  # initial corpus and the fixed options.
  scratch=$build/corpus-ci
  rm -rf "$scratch"
  mkdir -p "$scratch"
  "$fuzzer" "${common[@]}" -seed=1 -runs=35000 "$scratch" "$initial"
else
  long=$build/corpus-long
  mkdir -p "$long"
  "$fuzzer" "${common[@]}" -max_total_time=$((minutes * 60)) "$long" "$initial"
fi
echo "run-fuzz: no findings"
