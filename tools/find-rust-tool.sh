# Sourced by the scripts that run the Rust toolchain.
#
# find_rust_tool NAME VAR prints the path of the Rust tool NAME (cargo,
# rustc): the variable Cargo itself honours for it ($CARGO, $RUSTC), then
# rustup's toolchain ($CARGO_HOME/bin, by default $HOME/.cargo/bin), then
# PATH. rustup's comes before PATH because Debian's own, older rustc and cargo
# packages, which the oldest-Rust check installs, sit in /usr/bin, earlier on
# PATH. When there is none it says so on standard error and returns 1.
find_rust_tool() {
  local name=$1 var=$2
  local from_env=${!var:-}
  if [ -n "$from_env" ]; then
    command -v "$from_env" && return 0
    echo "\$$var is set to '$from_env', which is not an executable" >&2
    return 1
  fi
  local rustup_bin=${CARGO_HOME:-${HOME:-/nonexistent}/.cargo}/bin
  if [ -x "$rustup_bin/$name" ]; then
    echo "$rustup_bin/$name"
    return 0
  fi
  command -v "$name" && return 0
  echo "$name not found (looked at \$$var, $rustup_bin and PATH); install the Rust toolchain" >&2
  return 1
}
