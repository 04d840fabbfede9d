# Sourced by the script suites made of cases. A case adds what it finds wrong
# to `problems` and ends with `check "<what the case shows>"`, which counts
# it and, when it failed, shows `said` (what the script under test said);
# `finish` prints the tally and gives the suite's status.
passed=0
failed=0
problems=()
said=""
check() {
  if [ ${#problems[@]} -eq 0 ]; then
    passed=$((passed + 1))
    echo "PASS: $1"
  else
    failed=$((failed + 1))
    for problem in "${problems[@]}"; do echo "FAIL: $1: $problem"; done
    echo "--- what it said"
    echo "$said"
  fi
  problems=()
}
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
