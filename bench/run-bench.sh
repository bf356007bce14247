#!/usr/bin/env bash
# Benchmarks the whole generation (generate_from_text) on realistic random
# descriptions of 1x, 4x and 16x a base size, beside a parse of the same bytes
# with expat alone, and prints a table with the targets:
#   - at 16x, the whole run within 3x the parse-only time;
#   - 16x the size within 18x the time of 1x;
#   - at 16x, peak memory within 3x the input plus output size.
# Each figure is measured in a process of its own (bench/bench_run.cpp): the
# time is the best of --repeat runs, the memory the process's peak resident
# size (getrusage), the input text included.
#
# With --instructions, it also counts the instructions of one generation and of
# one parse at each size under valgrind's callgrind (only the generation or the
# parse itself is counted, not reading the file). Unlike the times, the counts
# are the same on every run of the same build, whatever else the machine does,
# so they show how the work grows with the size without the noise.
#
# Last, a clean `cargo build` of the crate around the 1x description, split
# into the generator's compile, its run and rustc's compile of the generated
# code (bench/cold-build.sh, three builds; --no-cold-build leaves it out).
#
# Usage: bench/run-bench.sh [--build-dir DIR] [--base BYTES] [--repeat N] [--gbench] [--instructions] [--jobs N] [--no-cold-build]
#   --build-dir  Release build tree (default: build/bench in the repository)
#   --base       base size in bytes (default 1048576)
#   --repeat     runs per measurement (default 5)
#   --gbench     also run the Google Benchmark program (qm_bench) on the same files
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=$repo/build/bench
base=1048576
repeat=5
gbench=0
instructions=0
cold_build=1
jobs=$(nproc)

while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build=${2:?}; shift ;;
    --base) base=${2:?}; shift ;;
    --repeat) repeat=${2:?}; shift ;;
    --gbench) gbench=1 ;;
    --instructions) instructions=1 ;;
    --jobs) jobs=${2:?}; shift ;;
    --no-cold-build) cold_build=0 ;;
    *) echo "run-bench: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

if [ "$instructions" = 1 ] && ! command -v valgrind >/dev/null; then
  echo "run-bench: --instructions needs valgrind" >&2
  exit 1
fi

cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
targets=(qm-bench-run qm-random-description)
[ "$gbench" = 1 ] && targets+=(qm_bench)
cmake --build "$build" -j "$jobs" --target "${targets[@]}" >/dev/null

inputs=$build/bench-inputs
mkdir -p "$inputs"
files=()
for factor in 1 4 16; do
  file=$inputs/realistic-${factor}x.xml
  "$build/tools/describe/qm-random-description" --number 1 --profile realistic --size $((base * factor)) >"$file"
  files+=("$file")
done

field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p" <<<"$2"; }

printf '\n%-6s %10s %10s %12s %12s %12s %10s %10s %10s\n' size input_MB output_MB generate_ms parse_ms tokenize_ms gen/parse peak_MB peak/io
declare -A gen_ms parse_ms peak io
for i in 0 1 2; do
  factor=$((1 << (2 * i)))
  file=${files[$i]}
  g=$("$build/bench/qm-bench-run" generate "$file" --repeat "$repeat")
  p=$("$build/bench/qm-bench-run" parse "$file" --repeat "$repeat")
  t=$("$build/bench/qm-bench-run" parse-bare "$file" --repeat "$repeat")
  in_b=$(field input_bytes "$g")
  out_b=$(field output_bytes "$g")
  gen_ms[$factor]=$(field best_ms "$g")
  parse_ms[$factor]=$(field best_ms "$p")
  peak[$factor]=$(field peak_rss_kb "$g")
  io[$factor]=$((in_b + out_b))
  awk -v f="${factor}x" -v i="$in_b" -v o="$out_b" -v g="${gen_ms[$factor]}" -v p="${parse_ms[$factor]}" \
    -v t="$(field best_ms "$t")" -v r="${peak[$factor]}" 'BEGIN {
      printf "%-6s %10.2f %10.2f %12.1f %12.1f %12.1f %10.2f %10.1f %10.2f\n",
             f, i / 1048576, o / 1048576, g, p, t, g / p, r / 1024, r * 1024 / (i + o) }'
done

echo
awk -v g1="${gen_ms[1]}" -v g16="${gen_ms[16]}" -v p16="${parse_ms[16]}" -v r16="${peak[16]}" -v io16="${io[16]}" 'BEGIN {
  ratio = g16 / p16; scale = g16 / g1; mem = r16 * 1024 / io16
  printf "target: whole run <= 3x parse-only at 16x     : %.2fx  %s\n", ratio, ratio <= 3 ? "met" : "NOT met"
  printf "target: 16x size within 18x the time of 1x     : %.1fx  %s\n", scale, scale <= 18 ? "met" : "NOT met"
  printf "target: peak memory <= 3x (input+output) at 16x: %.2fx  %s\n", mem, mem <= 3 ? "met" : "NOT met"
}'

if [ "$instructions" = 1 ]; then
  # Prints the instructions callgrind collected inside the function matching $2 in mode $1 on file $3.
  count() {
    valgrind --tool=callgrind --callgrind-out-file=/dev/null --toggle-collect="$2" \
      "$build/bench/qm-bench-run" "$1" "$3" 2>&1 >/dev/null | sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
  }
  echo
  printf '%-6s %16s %16s %10s\n' size generate_Minstr parse_Minstr gen/parse
  declare -A gen_i
  for i in 0 1 2; do
    factor=$((1 << (2 * i)))
    gi=$(count generate 'qm::generate_from_text*' "${files[$i]}")
    pi=$(count parse 'qm::bench::expat_parse_only*' "${files[$i]}")
    gen_i[$factor]=$gi
    awk -v f="${factor}x" -v g="$gi" -v p="$pi" 'BEGIN { printf "%-6s %16.1f %16.1f %10.2f\n", f, g / 1e6, p / 1e6, g / p }'
  done
  awk -v g1="${gen_i[1]}" -v g16="${gen_i[16]}" 'BEGIN { printf "instructions of 16x / 1x: %.1fx\n", g16 / g1 }'
fi

if [ "$gbench" = 1 ]; then
  echo
  "$build/bench/qm_bench" --benchmark_min_time=1 "${files[@]}"
fi

if [ "$cold_build" = 1 ]; then
  echo
  echo "clean cargo build of the crate around the 1x description (seconds):"
  "$repo/bench/cold-build.sh" "${files[0]}" --jobs "$jobs"
fi
