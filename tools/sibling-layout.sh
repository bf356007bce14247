# Sourced by scripts that build the crate with Cargo around a description.
#
# lay_out_crate REPO ROOT DESCRIPTION lays out ROOT like the real sibling
# checkouts:
#   ROOT/main/        the workspace: REPO's Cargo.toml and the crate (its
#                     manifest, build.rs, src/ and the generator in build/)
#   ROOT/vellumite/Vellumite.BrenicProtocol/Vellumite.BrenicProtocol/protocol.xml
#                     a copy of DESCRIPTION
#   ROOT/main/.cargo/config.toml
#                     takes crates (serde, serde_json) from Debian's packaged
#                     crate directory instead of a registry: the tests run
#                     offline
lay_out_crate() {
  local repo=$1 root=$2 description=$3
  local crate=$root/main/crates/quillmarsh-protocol
  local proto_dir=$root/vellumite/Vellumite.BrenicProtocol/Vellumite.BrenicProtocol
  mkdir -p "$crate" "$proto_dir"
  cp "$repo/Cargo.toml" "$root/main/"
  cp -pR "$repo/crates/quillmarsh-protocol/Cargo.toml" "$repo/crates/quillmarsh-protocol/build.rs" \
    "$repo/crates/quillmarsh-protocol/src" "$repo/crates/quillmarsh-protocol/build" "$crate/"
  cp -p "$description" "$proto_dir/protocol.xml"
  write_offline_cargo_config "$root/main"
}

# write_offline_cargo_config DIR makes Cargo, run in DIR or below, resolve
# crates from Debian's packaged crate directory (what `librust-*-dev`
# packages install), so that no build needs a registry. Cargo resolves the
# optional serde dependency even while the feature is off.
write_offline_cargo_config() {
  mkdir -p "$1/.cargo"
  cat >"$1/.cargo/config.toml" <<'TOML'
[source.crates-io]
replace-with = "debian"

[source.debian]
directory = "/usr/share/cargo/registry"
TOML
}

# lay_out_workspace REPO ROOT DESCRIPTION does the same and adds the test
# crates under REPO/tests/rust to ROOT/main as workspace members (so that they
# share the crate's single build of the generator), setting `test_crates` to
# their paths relative to ROOT/main. Returns non-zero when the members cannot
# be added.
lay_out_workspace() {
  local repo=$1 root=$2 description=$3
  local main=$root/main
  lay_out_crate "$repo" "$root" "$description"
  mkdir -p "$main/tests"
  cp -pR "$repo/tests/rust" "$main/tests/"
  test_crates=()
  local m
  for m in "$main"/tests/rust/*/Cargo.toml; do
    [ -f "$m" ] && test_crates+=("tests/rust/$(basename "$(dirname "$m")")")
  done
  if [ "${#test_crates[@]}" -gt 0 ]; then
    local extra
    extra=$(printf '"%s", ' "${test_crates[@]}")
    extra=${extra%, }
    sed -i -e '/^exclude = /d' -e 's|^members = \[\(.*\)\]$|members = [\1, '"$extra"']|' "$main/Cargo.toml"
    grep -q -F "$extra" "$main/Cargo.toml" || return 1
  fi
  return 0
}
