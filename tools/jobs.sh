# Sourced by tools/build.sh and tools/test.sh. kvr_jobs VALUE NAME prints how
# many build steps (and test suites) run at once: VALUE, the setting NAME
# holds, when it is a whole number above zero; one per processor when it is
# empty. Any other value is refused in words that name the setting.
kvr_jobs() {
  local value="$1" name="$2"
  if [ -z "$value" ]; then
    nproc 2>/dev/null || sysctl -n hw.ncpu 2>/dev/null || echo 2
  elif [[ "$value" =~ ^[1-9][0-9]*$ ]]; then
    echo "$value"
  else
    echo "$name must be a whole number above 0 (it is \"$value\")" >&2
    return 1
  fi
}
