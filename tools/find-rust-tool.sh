# Sourced by the scripts that run the Rust toolchain.
#
# find_rust_tool NAME VAR prints the path of the Rust tool NAME (cargo,
# rustc): the variable Cargo itself honours for it ($CARGO, $RUSTC), then
# PATH, then rustup's default location. When there is none it says so on
# standard error and returns 1.
find_rust_tool() {
  local name=$1 var=$2
  local from_env=${!var:-}
  if [ -n "$from_env" ]; then
    command -v "$from_env" && return 0
    echo "\$$var is set to '$from_env', which is not an executable" >&2
    return 1
  fi
  command -v "$name" && return 0
  if [ -n "${HOME:-}" ] && [ -x "$HOME/.cargo/bin/$name" ]; then
    echo "$HOME/.cargo/bin/$name"
    return 0
  fi
  echo "$name not found (looked at \$$var, PATH and \$HOME/.cargo/bin); install the Rust toolchain" >&2
  return 1
}
