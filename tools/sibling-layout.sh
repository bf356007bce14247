# Sourced by scripts that build the crate with Cargo around a description.
# lay_out_workspace REPO ROOT DESCRIPTION copies the workspace into ROOT laid
# out like the real sibling checkouts:
#   ROOT/main/        the workspace (Cargo.toml, the crate, tests/rust), with
#                     the test crates under tests/rust added as members
#   ROOT/vellumite/Vellumite.BrenicProtocol/Vellumite.BrenicProtocol/protocol.xml
#                     a copy of DESCRIPTION
# and sets `test_crates` to the test crates' paths relative to ROOT/main.
# Returns non-zero when the members cannot be added.
lay_out_workspace() {
  local repo=$1 root=$2 description=$3
  local main=$root/main
  local crate=$main/crates/quillmarsh-protocol
  local proto_dir=$root/vellumite/Vellumite.BrenicProtocol/Vellumite.BrenicProtocol
  mkdir -p "$crate" "$main/tests" "$proto_dir"
  cp "$repo/Cargo.toml" "$main/"
  cp -pR "$repo/crates/quillmarsh-protocol/Cargo.toml" "$repo/crates/quillmarsh-protocol/build.rs" \
    "$repo/crates/quillmarsh-protocol/src" "$repo/crates/quillmarsh-protocol/build" "$crate/"
  cp -pR "$repo/tests/rust" "$main/tests/"
  cp -p "$description" "$proto_dir/protocol.xml"
  # The test crates under tests/rust join the workspace, so that they share
  # the crate's single build of the generator.
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
