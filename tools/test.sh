#!/usr/bin/env bash
# Installs what is missing, checks the house rules (tools/check.sh), then
# builds and runs the tests in three configurations, each in a build folder
# of its own (the same command CI runs):
#
#   gcc         GCC, warnings as errors; every suite               build/
#   clang-asan  clang with AddressSanitizer and UndefinedBehavior-
#               Sanitizer, warnings as errors; every suite         build-clang-asan/
#   tsan        GCC with ThreadSanitizer, warnings as errors; the
#               video engine's suites (its threads)                build-tsan/
#
# ThreadSanitizer comes from GCC: clang 14's stops the program when Qt starts
# a child process, as the suites do for their test peers.
#
# Each suite runs on a virtual X server of its own (tests/support/with-display.sh),
# so the OpenGL ones have a display and suites side by side never share a pointer.
#
#   bash tools/test.sh                  # all three, as CI does
#   bash tools/test.sh gcc tsan         # only those
#   KVR_JOBS=4 bash tools/test.sh       # fewer build steps and suites at once
#
# KVR_JOBS is the one setting for the build, the demo and this command; the
# name this command took before, KVR_TEST_JOBS, still works when it is unset.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/tools/jobs.sh"
if [ -n "${KVR_JOBS:-}" ]; then
  jobs="$(kvr_jobs "$KVR_JOBS" KVR_JOBS)" || exit 2
else
  jobs="$(kvr_jobs "${KVR_TEST_JOBS:-}" KVR_TEST_JOBS)" || exit 2
fi
configs=("$@")
[ ${#configs[@]} -gt 0 ] || configs=(gcc clang-asan tsan)
for config in "${configs[@]}"; do
  case "$config" in
    gcc | clang-asan | tsan) ;;
    *) echo "test: unknown configuration \"$config\" (gcc, clang-asan, tsan)" >&2; exit 2 ;;
  esac
done

bash "$root/.ci/install-deps.sh"

logs="$(mktemp -d)"
trap 'rm -rf "$logs"' EXIT
passed=0
failed=0
broken=()
summaries=()

# run <config> <build folder> <folder of the tests to run> <build target> <cmake options...>
run() {
  local config="$1" dir="$2" tests="$3" target="$4"
  shift 4
  local start=$SECONDS
  echo "==== $config: building in ${dir#"$root"/}"
  if ! cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVR_WERROR=ON "$@" ||
     ! cmake --build "$dir" -j "$jobs" --target "$target"; then
    echo "==== $config: the build failed"
    broken+=("$config (build)")
    return
  fi
  echo "==== $config: testing"
  local status=0
  ctest --test-dir "$tests" --output-on-failure -j "$jobs" 2>&1 | tee "$logs/$config.txt" || status=$?
  # "N% tests passed, F tests failed out of T"
  local line
  line="$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$logs/$config.txt" | tail -n 1 || true)"
  if [ -z "$line" ]; then
    broken+=("$config (no test ran)")
    return
  fi
  local f t
  f="$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")"
  t="$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")"
  # LeakSanitizer's leak check at exit now and then crashes inside its own
  # thread-stopping tracer ("Tracer caught signal 11") after every case of a
  # suite has passed: a fault of the sanitizer's runtime, not of the suite.
  # Those suites (every case passed, then the tracer crashed), and only
  # those, run once more; any other failure stands.
  if [ "$f" -ne 0 ]; then
    local crashed
    crashed="$(awk '
      /^ *[0-9]+\/[0-9]+ Test +#[0-9]+: / { cur = ($0 ~ /\*\*\*(Failed|Exception)/) ? $4 : ""; next }
      /^Totals: [0-9]+ passed, 0 failed/ { if (cur != "") clean[cur] = 1 }
      /Tracer caught signal|LeakSanitizer has encountered a fatal error/ { if (cur != "") tracer[cur] = 1 }
      END { for (name in tracer) if (name in clean) print name }
    ' "$logs/$config.txt" | sort -u)"
    if [ -n "$crashed" ]; then
      local names again=0
      names="$(paste -sd'|' <<<"$crashed")"
      echo "==== $config: once more after the leak checker's own crash: ${names//|/ }"
      ctest --test-dir "$tests" --output-on-failure -R "^($names)\$" 2>&1 | tee "$logs/$config-again.txt" || again=$?
      local n still
      n="$(wc -l <<<"$crashed")"
      still="$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$logs/$config-again.txt" | tail -n 1 |
        sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' || true)"
      if [ "$again" -eq 0 ] && [ "${still:-1}" -eq 0 ]; then
        f=$((f - n))
        [ "$f" -ne 0 ] || status=0
      fi
    fi
  fi
  passed=$((passed + t - f))
  failed=$((failed + f))
  if [ "$status" -ne 0 ] || [ "$f" -ne 0 ]; then
    broken+=("$config")
    # The suites' own output runs to thousands of lines: what failed, and
    # where, is said again in a few, so that the end of a long log tells.
    grep -E '\*\*\*(Failed|Exception)|\*\*\*Timeout|^FAIL!|^   Loc: |FAULT |Sanitizer|^with-display:' \
      "$logs/$config.txt" | cut -c1-400 | head -n 60 >"$logs/$config-why.txt" || true
    summaries+=("$logs/$config-why.txt")
  fi
  echo "==== $config: $((t - f)) of $t passed in $((SECONDS - start)) s"
}

# The rules a compiler does not check (format, file size, the layer tree)
# come first: they take seconds, and a break is reported with the rest.
echo "==== house rules"
if ! bash "$root/tools/check.sh"; then
  broken+=("house rules (bash tools/check.sh)")
fi

for config in "${configs[@]}"; do
  case "$config" in
    gcc)
      run gcc "$root/build" "$root/build" all \
        -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ ;;
    clang-asan)
      run clang-asan "$root/build-clang-asan" "$root/build-clang-asan" all \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DKVR_SANITIZE=address,undefined -DKVR_BUILD_BENCH=OFF ;;
    tsan)
      run tsan "$root/build-tsan" "$root/build-tsan/tests/video" tests/video/all \
        -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ \
        -DKVR_SANITIZE=thread -DKVR_BUILD_BENCH=OFF ;;
  esac
done

for why in "${summaries[@]}"; do
  echo "==== what failed in $(basename "$why" -why.txt):"
  cat "$why"
done
if [ ${#broken[@]} -gt 0 ]; then
  echo "failed: ${broken[*]}"
fi
echo "total: $passed passed, $failed failed"
[ ${#broken[@]} -eq 0 ]
