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
    if [ -x "$from_env" ] || command -v "$from_env" >/dev/null 2>&1; then
      command -v "$from_env"
      return 0
    fi
    echo "\$$var is set to '$from_env', which is not an executable" >&2
  elif command -v "$name" >/dev/null 2>&1; then
    command -v "$name"
    return 0
  elif [ -n "${HOME:-}" ] && [ -x "$HOME/.cargo/bin/$name" ]; then
    echo "$HOME/.cargo/bin/$name"
    return 0
  else
    echo "$name not found (looked at \$$var, PATH and \$HOME/.cargo/bin); install the Rust toolchain" >&2
  fi
  return 1
}
