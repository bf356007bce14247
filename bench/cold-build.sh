#!/usr/bin/env bash
# What a clean `cargo build` of the crate costs a new user, split into its
# parts: the build step compiling the generator (CMake's configure and build,
# as build.rs runs them), the generator's run, and rustc compiling the crate,
# which is the generated code. The crate is built, debug as `cargo build`
# builds it, in a fresh sibling-checkout layout around DESCRIPTION, with an
# empty target folder each time.
#
# The parts come from Cargo's own timings (`--timings`): the build script's
# run holds the generator's compile and its run; the compile is the time
# spent in CMake (measured by a wrapper given as CMAKE; its CPU time too,
# which other work on the machine disturbs less), the run the rest.
#
# Usage: bench/cold-build.sh DESCRIPTION [--repeat N] [--jobs N]
#   --repeat  clean builds; each part is the best over them (default 3)
#   --jobs    Cargo's job count, which build.rs passes on to CMake (default: nproc)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
die() {
  echo "cold-build: $*" >&2
  exit 1
}

[ $# -ge 1 ] || die "usage: bench/cold-build.sh DESCRIPTION [--repeat N] [--jobs N]"
description=$(realpath "$1")
shift
repeat=3
jobs=$(nproc)
while [ $# -gt 0 ]; do
  case "$1" in
    --repeat) repeat=${2:?}; shift ;;
    --jobs) jobs=${2:?}; shift ;;
    *) die "unknown option $1" ;;
  esac
  shift
done
[ -f "$description" ] || die "no such description: $description"

# shellcheck source=tools/find-rust-tool.sh
. "$repo/tools/find-rust-tool.sh"
# shellcheck source=tools/sibling-layout.sh
. "$repo/tools/sibling-layout.sh"
cargo_bin=$(find_rust_tool cargo CARGO) || die "cannot measure without cargo"
RUSTC=$(find_rust_tool rustc RUSTC) || die "cannot measure without rustc"
export RUSTC
real_cmake=$(command -v "${CMAKE:-cmake}") || die "cannot measure without cmake"

work=$(mktemp -d "${TMPDIR:-/tmp}/qm-cold-build.XXXXXX")
trap 'rm -rf "$work"' EXIT
lay_out_crate "$repo" "$work" "$description"

# Runs the real CMake, adding the seconds it took (wall, then user + system
# CPU time) as a line to cmake-seconds.
cat >"$work/cmake" <<EOF
#!/usr/bin/env bash
TIMEFORMAT='%R %U %S'
{ time "$real_cmake" "\$@" 2>&3; } 3>&2 2>>"$work/cmake-seconds"
EOF
chmod +x "$work/cmake"

# The duration Cargo's timings give the crate's unit whose target is $1
# (" build-script (run)", "" for the library).
unit_seconds() {
  awk -v want="$1" '
    /"name": / { name = $0; sub(/.*"name": "/, "", name); sub(/".*/, "", name) }
    /"target": / { target = $0; sub(/.*"target": "/, "", target); sub(/",?$/, "", target) }
    /"duration": / && name == "quillmarsh-protocol" && target == want {
      d = $0; sub(/.*"duration": /, "", d); sub(/,$/, "", d); print d; exit }' "$2"
}

row() { printf '%-4s %8s %11s %16s %20s %14s %14s\n' "$@"; }
row run total_s build.rs_s codegen_build_s codegen_build_cpu_s codegen_run_s rustc_crate_s
declare -a totals compiles cpus runs crates scripts
for ((n = 1; n <= repeat; n++)); do
  rm -rf "$work/target" "$work/cmake-seconds"
  start=$(date +%s.%N)
  (cd "$work/main" && env -u QUILLMARSH_CODEGEN CARGO_TARGET_DIR="$work/target" CMAKE="$work/cmake" \
    "$cargo_bin" build --offline --timings -j "$jobs") >"$work/cargo.log" 2>&1 ||
    { cat "$work/cargo.log" >&2; die "cargo build failed"; }
  total=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.2f", e - s }')
  timing=$work/target/cargo-timings/cargo-timing.html
  script_run=$(unit_seconds " build-script (run)" "$timing")
  crate=$(unit_seconds "" "$timing")
  script=$(unit_seconds " build-script" "$timing")
  compile=$(awk '{ s += $1 } END { printf "%.2f", s }' "$work/cmake-seconds")
  cpu=$(awk '{ s += $2 + $3 } END { printf "%.2f", s }' "$work/cmake-seconds")
  run=$(awk -v r="$script_run" -v c="$compile" 'BEGIN { printf "%.2f", r - c }')
  row "$n" "$total" "$script" "$compile" "$cpu" "$run" "$crate"
  totals+=("$total") scripts+=("$script") compiles+=("$compile") cpus+=("$cpu") runs+=("$run") crates+=("$crate")
done
best() { printf '%s\n' "$@" | sort -g | head -n 1; }
row best "$(best "${totals[@]}")" "$(best "${scripts[@]}")" "$(best "${compiles[@]}")" "$(best "${cpus[@]}")" \
  "$(best "${runs[@]}")" "$(best "${crates[@]}")"
echo "cold-build: $(wc -c <"$description") bytes of description, $("$cargo_bin" --version), $("$RUSTC" --version), -j $jobs"
