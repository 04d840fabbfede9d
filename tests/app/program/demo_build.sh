#!/usr/bin/env bash
# What the demo's first run builds and how: the program and the peers it
# starts, never the test suites or benchmarks, a line a step, as many steps at
# once as KVR_JOBS allows (the test command takes the same setting, and its
# older name). Run on copies of the scripts (so nothing is built: stand-ins
# for cmake and ctest record what they are asked, and the cmake one stops the
# demo at its build) in a folder with no build.
set -u
root="$(cd "$(dirname "$0")/../../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tree/tools" "$work/tree/.ci" "$work/bin"
cp "$root/tools/demo.sh" "$root/tools/build.sh" "$root/tools/jobs.sh" "$root/tools/test.sh" "$work/tree/tools/"
printf '#!/usr/bin/env bash\nexit 0\n' >"$work/tree/.ci/install-deps.sh" # the packages are not what is tested
printf '#!/usr/bin/env bash\nexit 0\n' >"$work/tree/tools/check.sh"       # nor the house rules
cat >"$work/bin/cmake" <<'EOF'
#!/usr/bin/env bash
echo "$*" >>"$KVR_CMAKE_LOG"
case " $* " in *" --build "*) exit "${KVR_CMAKE_BUILD_STATUS:-3}" ;; esac
exit 0
EOF
cat >"$work/bin/ctest" <<'EOF'
#!/usr/bin/env bash
echo "$*" >>"$KVR_CMAKE_LOG"
echo "100% tests passed, 0 tests failed out of 1"
EOF
chmod +x "$work/bin/cmake" "$work/bin/ctest"

passed=0
failed=0
problems=()
said=""
# check <case> : counts the case by the problems it found.
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
# run <env...> -- <script> <args...> : runs a copied script with the stand-ins,
# leaving what cmake and ctest were asked in `asked` and its output in `said`.
run() {
  local env=()
  while [ "$1" != "--" ]; do env+=("$1"); shift; done
  shift
  rm -f "$work/cmake.txt"
  said="$(env PATH="$work/bin:$PATH" KVR_CMAKE_LOG="$work/cmake.txt" KVR_DEMO_DIR="$work/demo" "${env[@]}" \
    timeout 60 bash "$@" 2>&1 </dev/null)"
  status=$?
  asked="$(cat "$work/cmake.txt" 2>/dev/null)"
}

# The first run builds what the demo starts, says so, and stops at a failed
# build; unless told otherwise, one step per processor.
run KVR_JOBS= -- "$work/tree/tools/demo.sh"
[ "$status" -ne 0 ] && [ "$status" -ne 124 ] || problems+=("the demo went on past a failed build (status $status)")
builds="$(grep -- '--build' <<<"$asked")"
[ "$(wc -l <<<"$builds")" -eq 1 ] || problems+=("not one build: ${builds:-none}")
[[ "$builds" == *" --target kavira kvr-fake-server kvr-fake-fleet" ]] ||
  problems+=("the build is not of the program and the demo's peers alone: ${builds:-none}")
[[ "$builds" == *" -j $(nproc) "* ]] || problems+=("not a step per processor by default: ${builds:-none}")
for line in "demo: building" "build: configuring" "build: building"; do
  grep -q "^$line" <<<"$said" || problems+=("no \"$line\" line")
done
check "the demo's first run builds the program and its peers"

# KVR_JOBS limits the steps of the demo's build, and says so.
run KVR_JOBS=2 -- "$work/tree/tools/demo.sh"
[[ "$(grep -- '--build' <<<"$asked")" == *" -j 2 "* ]] || problems+=("KVR_JOBS=2 not honoured: $asked")
grep -q "^build: building .* with 2 jobs" <<<"$said" || problems+=("it does not say it builds with 2 jobs")
check "KVR_JOBS limits the demo's build"

# A value that is no count stops before anything is configured, naming the setting.
for bad in 0 two -1; do
  run KVR_JOBS="$bad" -- "$work/tree/tools/build.sh"
  [ "$status" -ne 0 ] || problems+=("KVR_JOBS=$bad accepted")
  [ -z "$asked" ] || problems+=("KVR_JOBS=$bad still ran cmake: $asked")
  grep -q "KVR_JOBS must be a whole number above 0 (it is \"$bad\")" <<<"$said" ||
    problems+=("KVR_JOBS=$bad not refused in words")
done
check "a KVR_JOBS that is no count is refused"

# The test command takes the same setting for its build and its suites; its
# older name still works when the new one is unset, and loses to it when set.
for given in "KVR_JOBS=2:2" "KVR_TEST_JOBS=3:3" "KVR_JOBS=2 KVR_TEST_JOBS=3:2"; do
  read -r -a vars <<<"${given%%:*}"
  want="${given##*:}"
  run KVR_JOBS= KVR_TEST_JOBS= "${vars[@]}" KVR_CMAKE_BUILD_STATUS=0 -- "$work/tree/tools/test.sh" gcc
  [ "$status" -eq 0 ] || problems+=("${given%%:*}: the test command failed (status $status)")
  [[ "$(grep -- '--build' <<<"$asked")" == *" -j $want "* ]] || problems+=("${given%%:*}: build not -j $want: $asked")
  [[ "$(grep -- '--test-dir' <<<"$asked")" == *" -j $want"* ]] || problems+=("${given%%:*}: suites not -j $want: $asked")
done
check "the test command takes KVR_JOBS, and KVR_TEST_JOBS before it"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
