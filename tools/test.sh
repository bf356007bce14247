#!/usr/bin/env bash
# Builds everything and runs every test:
#   1. the format check (clang-format) and the lint (clang-tidy) of the generator's sources;
#   2. a GCC build with all unit, golden and Rust end-to-end tests (the latter also
#      with Debian's own rustc and cargo; those and Debian's packaged serde and
#      serde_json crates, which every test takes offline, are installed here
#      once if missing);
#   3. a Clang build under AddressSanitizer and UndefinedBehaviorSanitizer with the unit and golden tests;
#   4. a bounded, deterministic fuzzing run of the whole generation (libFuzzer, Clang).
# Exits non-zero when anything fails. Build trees go to build/ in the repository.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${QM_JOBS:-$(nproc)}

section() { printf '\n==== %s ====\n' "$1"; }

sources() {
  git ls-files -co --exclude-standard -- '*.cpp' '*.hpp' | grep -v -E '^(build|build-[^/]*)/' || true
}

section "format check"
mapfile -t files < <(sources)
clang-format --dry-run -Werror "${files[@]}"
echo "format: ${#files[@]} files clean"

section "Debian's rustc, cargo and packaged crates (the crate's oldest Rust; serde and serde_json offline)"
# The end-to-end test builds with Debian's rustc and cargo too, and every
# Cargo build in a test layout, and the rlibs that the plain-rustc harnesses
# link, take serde and serde_json from Debian's packaged crate directory
# (/usr/share/cargo/registry): no test needs a registry.
debian_packages=(rustc cargo librust-serde-dev librust-serde-json-dev)
debian_packages_installed() {
  [ "$(dpkg-query -W -f='${db:Status-Status}\n' "${debian_packages[@]}" 2>/dev/null | grep -c '^installed$')" = "${#debian_packages[@]}" ]
}
if ! debian_packages_installed; then
  apt_get=(apt-get)
  [ "$(id -u)" = 0 ] || apt_get=(sudo -n apt-get)
  mkdir -p build
  export DEBIAN_FRONTEND=noninteractive
  "${apt_get[@]}" install -y -q --no-install-recommends "${debian_packages[@]}" >build/apt-rust.log 2>&1 ||
    { "${apt_get[@]}" update -q >>build/apt-rust.log 2>&1 &&
      "${apt_get[@]}" install -y -q --no-install-recommends "${debian_packages[@]}" >>build/apt-rust.log 2>&1; } ||
    { tail -20 build/apt-rust.log; echo "cannot install ${debian_packages[*]} (log: build/apt-rust.log)"; exit 1; }
fi
echo "$(/usr/bin/rustc --version), $(/usr/bin/cargo --version) in /usr/bin"
echo "packaged crates: $(cd /usr/share/cargo/registry && ls -d serde-[0-9]* serde_json-[0-9]* | tr '\n' ' ')"

section "GCC build"
cmake -S . -B build/gcc -G Ninja -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/gcc -j "$jobs"

section "clang-tidy"
mapfile -t gen_sources < <(git ls-files -co --exclude-standard -- 'crates/quillmarsh-protocol/build/*.cpp')
run-clang-tidy -quiet -j "$jobs" -p build/gcc "${gen_sources[@]/#/$root/}" >build/clang-tidy.log 2>&1 || {
  grep -E 'warning:|error:' build/clang-tidy.log | head -50
  echo "clang-tidy found problems (full log: build/clang-tidy.log)"
  exit 1
}
echo "clang-tidy: ${#gen_sources[@]} files clean"

section "GCC tests"
ctest --test-dir build/gcc --output-on-failure -j "$jobs"

section "Clang build with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build/clang-asan -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
  -DQUILLMARSH_SANITIZE=ON >/dev/null
cmake --build build/clang-asan -j "$jobs"

section "Clang sanitizer tests"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/clang-asan --output-on-failure -j "$jobs" -E '^(cargo_|property_|golden_outputs)'

section "fuzzing (bounded, repeatable)"
fuzz/run-fuzz.sh --ci --build-dir build/fuzz --jobs "$jobs"

section "summary"
echo "all checks passed"
