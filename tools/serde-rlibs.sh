# Sourced by the scripts that compile the crate, or generated code, with
# plain rustc (no Cargo): the property test, the golden outputs' compile,
# the compile-cost benchmark. With the `serde` feature that code needs the
# serde crate (and the property test's program serde_json too).
#
# build_serde_rlibs RUSTC DIR CRATE... builds the rlibs of the CRATEs (serde,
# serde_json) once, with RUSTC, in a throwaway Cargo project in DIR, offline:
# the crates come from Debian's packaged crate directory (see
# write_offline_cargo_config in tools/sibling-layout.sh), with the features the
# crate asks of serde (`std`) and, for serde_json, `float_roundtrip`, which
# reads every float back exactly as it was written. The Cargo used is the one
# beside RUSTC (rustup's or Debian's pair), else tools/find-rust-tool.sh's.
# On success it sets the array `serde_rustc_args` to what rustc needs to use
# them: `--extern NAME=PATH` for each CRATE and `-L dependency=DIR/...`. On
# failure it prints Cargo's output on standard error and returns 1.
build_serde_rlibs() {
  local rustc=$1 dir=$2
  shift 2
  local here
  here=$(dirname "${BASH_SOURCE[0]}")
  # shellcheck source=tools/sibling-layout.sh
  . "$here/sibling-layout.sh"
  # shellcheck source=tools/find-rust-tool.sh
  . "$here/find-rust-tool.sh"
  local rustc_path cargo
  rustc_path=$(command -v "$rustc") || { echo "build_serde_rlibs: no rustc $rustc" >&2; return 1; }
  cargo=$(dirname "$rustc_path")/cargo
  [ -x "$cargo" ] || cargo=$(find_rust_tool cargo CARGO) || return 1

  mkdir -p "$dir/src"
  : >"$dir/src/lib.rs"
  {
    printf '[package]\nname = "qm-serde-rlibs"\nversion = "0.0.0"\nedition = "2021"\npublish = false\n\n'
    printf '[dependencies]\n'
    local crate
    for crate in "$@"; do
      case $crate in
        serde) printf 'serde = { version = "1", default-features = false, features = ["std"] }\n' ;;
        serde_json) printf 'serde_json = { version = "1", features = ["float_roundtrip"] }\n' ;;
        *) echo "build_serde_rlibs: no recipe for the crate $crate" >&2; return 1 ;;
      esac
    done
    # A workspace of its own, whatever folder it sits in.
    printf '\n[workspace]\n'
  } >"$dir/Cargo.toml"
  write_offline_cargo_config "$dir"
  if ! (cd "$dir" && env -u RUSTFLAGS -u CARGO_ENCODED_RUSTFLAGS -u CARGO_BUILD_TARGET RUSTC="$rustc_path" \
    CARGO_TARGET_DIR="$dir/target" "$cargo" build --offline --quiet) >"$dir/cargo.log" 2>&1; then
    cat "$dir/cargo.log" >&2
    echo "build_serde_rlibs: cargo could not build ${*} (is Debian's librust-serde-dev and librust-serde-json-dev installed?)" >&2
    return 1
  fi
  local deps=$dir/target/debug/deps rlibs
  serde_rustc_args=()
  for crate in "$@"; do
    mapfile -t rlibs < <(find "$deps" -maxdepth 1 -name "lib$crate-*.rlib")
    if [ "${#rlibs[@]}" -ne 1 ]; then
      echo "build_serde_rlibs: expected one lib$crate-*.rlib in $deps, found ${#rlibs[@]}" >&2
      return 1
    fi
    serde_rustc_args+=(--extern "$crate=${rlibs[0]}")
  done
  serde_rustc_args+=(-L "dependency=$deps")
}
