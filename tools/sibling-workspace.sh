# Sourced by the scripts that build the crate with Cargo outside the repository.
#
# make_sibling_workspace REPO ROOT DESCRIPTION lays out ROOT like the real
# sibling checkouts:
#   ROOT/main/        the workspace: REPO's Cargo.toml and the crate (its
#                     manifest, build.rs, src/ and the generator in build/)
#   ROOT/vellumite/Vellumite.BrenicProtocol/Vellumite.BrenicProtocol/protocol.xml
#                     a copy of DESCRIPTION
make_sibling_workspace() {
  local repo=$1 root=$2 description=$3
  local crate=$root/main/crates/quillmarsh-protocol
  local proto_dir=$root/vellumite/Vellumite.BrenicProtocol/Vellumite.BrenicProtocol
  mkdir -p "$crate" "$proto_dir"
  cp "$repo/Cargo.toml" "$root/main/"
  cp -R "$repo/crates/quillmarsh-protocol/Cargo.toml" "$repo/crates/quillmarsh-protocol/build.rs" \
    "$repo/crates/quillmarsh-protocol/src" "$repo/crates/quillmarsh-protocol/build" "$crate/"
  cp "$description" "$proto_dir/protocol.xml"
}
