#!/usr/bin/env bash
# What the README's build commands build and how. The demo's first run: the
# program and the peers it starts, never the test suites or benchmarks, a
# line a step, as many steps at once as KVR_JOBS allows (the test command
# takes the same setting, and its older name). tools/run.sh: the program
# alone, then started; on macOS with Homebrew's packages, and the program of
# the application bundle. Run as the README writes them, on copies of the
# scripts (so nothing is built: stand-ins for cmake, ctest, brew and the
# program record what they are asked, and the cmake one stops the demo at its
# build) in a folder with no build.
set -u
root="$(cd "$(dirname "$0")/../../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tree/tools" "$work/tree/.ci" "$work/bin" "$work/mac"
cp "$root/tools/demo.sh" "$root/tools/build.sh" "$root/tools/jobs.sh" "$root/tools/test.sh" "$root/tools/run.sh" \
  "$work/tree/tools/"
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
# The program as the build leaves it, here and in its macOS bundle: says it started.
for program in app/kavira app/kavira.app/Contents/MacOS/kavira; do
  mkdir -p "$(dirname "$work/tree/build/$program")"
  printf '#!/usr/bin/env bash\necho "started build/%s" >>"$KVR_CMAKE_LOG"\n' "$program" >"$work/tree/build/$program"
  chmod +x "$work/tree/build/$program"
done
# A Mac, for the macOS route: uname, Homebrew (with ffmpeg missing) and open.
printf '#!/usr/bin/env bash\necho Darwin\n' >"$work/mac/uname"
cat >"$work/mac/brew" <<'EOF'
#!/usr/bin/env bash
echo "brew $*" >>"$KVR_CMAKE_LOG"
case "$1 $2" in
  "list --versions") [ "$3" != ffmpeg ] ;;
  "--prefix qt") echo /opt/homebrew/opt/qt ;;
esac
EOF
cat >"$work/mac/open" <<'EOF'
#!/usr/bin/env bash
[ -x "$1/Contents/MacOS/kavira" ] && echo "opened $1" >>"$KVR_CMAKE_LOG"
EOF
chmod +x "$work/bin/cmake" "$work/bin/ctest" "$work/mac/uname" "$work/mac/brew" "$work/mac/open"

source "$(dirname "$0")/case_kit.sh"
# run <env...> -- <command> : runs a command as written in the copied tree
# with the stand-ins, leaving what they were asked in `asked` and its output
# in `said`.
run() {
  local env=()
  while [ "$1" != "--" ]; do env+=("$1"); shift; done
  shift
  rm -f "$work/cmake.txt"
  said="$(cd "$work/tree" && env PATH="$work/bin:$PATH" KVR_CMAKE_LOG="$work/cmake.txt" KVR_DEMO_DIR="$work/demo" \
    "${env[@]}" timeout 60 bash -c "$1" 2>&1 </dev/null)"
  status=$?
  asked="$(cat "$work/cmake.txt" 2>/dev/null)"
}

# The first run builds what the demo starts, says so, and stops at a failed
# build; unless told otherwise, one step per processor.
run KVR_JOBS= -- "bash tools/demo.sh"
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
run KVR_JOBS=2 -- "bash tools/demo.sh"
[[ "$(grep -- '--build' <<<"$asked")" == *" -j 2 "* ]] || problems+=("KVR_JOBS=2 not honoured: $asked")
grep -q "^build: building .* with 2 jobs" <<<"$said" || problems+=("it does not say it builds with 2 jobs")
check "KVR_JOBS limits the demo's build"

# A value that is no count stops before anything is configured, naming the setting.
for bad in 0 two -1; do
  run KVR_JOBS="$bad" -- "bash tools/build.sh"
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
  run KVR_JOBS= KVR_TEST_JOBS= "${vars[@]}" KVR_CMAKE_BUILD_STATUS=0 -- "bash tools/test.sh gcc"
  [ "$status" -eq 0 ] || problems+=("${given%%:*}: the test command failed (status $status)")
  [[ "$(grep -- '--build' <<<"$asked")" == *" -j $want "* ]] || problems+=("${given%%:*}: build not -j $want: $asked")
  [[ "$(grep -- '--test-dir' <<<"$asked")" == *" -j $want"* ]] || problems+=("${given%%:*}: suites not -j $want: $asked")
done
check "the test command takes KVR_JOBS, and KVR_TEST_JOBS before it"

# tools/run.sh builds the program alone and starts it.
run KVR_CMAKE_BUILD_STATUS=0 -- "bash tools/run.sh"
[ "$status" -eq 0 ] || problems+=("it ended with status $status")
[[ "$(grep -- '--build' <<<"$asked")" == *" --target kavira" ]] || problems+=("not the program alone: $asked")
[ "$(tail -n 1 <<<"$asked")" = "started build/app/kavira" ] || problems+=("the program was not started after its build")
check "tools/run.sh builds the program and starts it"

# On a Mac: the missing formula installed with Homebrew, Homebrew's Qt given
# to CMake, and the program of the bundle started, or the bundle opened
# after a build alone.
run PATH="$work/mac:$work/bin:$PATH" KVR_CMAKE_BUILD_STATUS=0 -- "bash tools/run.sh"
[ "$status" -eq 0 ] || problems+=("run.sh ended with status $status")
grep -qx "brew install ffmpeg" <<<"$asked" || problems+=("the missing formula was not installed: $asked")
grep -q -- "-DCMAKE_PREFIX_PATH=/opt/homebrew/opt/qt" <<<"$asked" || problems+=("Homebrew's Qt not given to CMake")
[ "$(tail -n 1 <<<"$asked")" = "started build/app/kavira.app/Contents/MacOS/kavira" ] ||
  problems+=("the bundle's program was not started: $asked")
run PATH="$work/mac:$work/bin:$PATH" KVR_CMAKE_BUILD_STATUS=0 -- \
  "KVR_BUILD_TARGETS=kavira bash tools/build.sh && open build/app/kavira.app"
[[ "$(grep -- '--build' <<<"$asked")" == *" --target kavira" ]] || problems+=("build.sh: not the program alone: $asked")
[ "$(tail -n 1 <<<"$asked")" = "opened build/app/kavira.app" ] || problems+=("the bundle was not opened: $asked")
check "on macOS, Homebrew's packages, the build and the application bundle"

finish
