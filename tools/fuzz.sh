#!/usr/bin/env bash
# Runs every fuzz target in fuzz/ for a bounded time. The targets are built
# by the build (fuzz/CMakeLists.txt: clang's libFuzzer with AddressSanitizer
# and UndefinedBehaviorSanitizer, whatever compiler builds the rest), so that
# the suite fuzz_parsers spends its time fuzzing, not compiling. Exits 77
# (skipped) when clang or its fuzzer runtime is missing.
#
# Seeds live in fuzz/corpus/<name>/ and an optional dictionary in
# fuzz/<name>.dict. Settings come from the environment:
#   KVR_FUZZ_BUILD    the build's folder of fuzz targets (<build>/fuzz), as
#                     the suite sets it; the targets there are run as built.
#                     Unset (run by hand), this script builds them itself
#                     in build-fuzz in the project root, and runs them
#   KVR_FUZZ_SECONDS  run time per target (default 20)
#   KVR_FUZZ_ONLY     run only the target of that name
#   KVR_FUZZ_SEED     libFuzzer's random seed (default 1, so that a run over
#                     the same code walks the same inputs and a failure in CI
#                     comes with the change that caused it; 0 picks one)
#   KVR_FUZZ_CXX      the clang++ to build with by hand (default clang++)
#   KVR_JOBS          build steps at once when building by hand (default one
#                     per processor)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${KVR_FUZZ_SECONDS:-20}"
seed="${KVR_FUZZ_SEED:-1}"

if [ -n "${KVR_FUZZ_BUILD:-}" ]; then
  out="$KVR_FUZZ_BUILD"
  if [ ! -d "$out" ]; then
    echo "fuzz: $out does not exist: configure and build the project first"
    exit 1
  fi
else
  source "$root/tools/jobs.sh"
  jobs="$(kvr_jobs "${KVR_JOBS:-}" KVR_JOBS)" || exit 2
  out="$root/build-fuzz"
  generator=()
  if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
  cmake -S "$root/fuzz" -B "$out" "${generator[@]}" -DKVR_FUZZ_CXX="${KVR_FUZZ_CXX:-}" >/dev/null
  if [ ! -f "$out/unsupported" ]; then
    cmake --build "$out" -j "$jobs"
  fi
fi
if [ -f "$out/unsupported" ]; then
  echo "fuzz: $(cat "$out/unsupported"); skipped"
  exit 77
fi

shopt -s nullglob
targets=("$root"/fuzz/*.cpp)
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no targets"
  exit 0
fi

failed=0
ran=0
for src in "${targets[@]}"; do
  name="$(basename "$src" .cpp)"
  if [ -n "${KVR_FUZZ_ONLY:-}" ] && [ "$name" != "$KVR_FUZZ_ONLY" ]; then
    continue
  fi
  bin="$out/$name"
  if [ ! -x "$bin" ]; then
    echo "fuzz: $name is not built in $out: build the project (cmake --build) first"
    failed=1
    continue
  fi

  work="$out/corpus-$name"
  mkdir -p "$work"
  seeds=()
  if [ -d "$root/fuzz/corpus/$name" ]; then
    seeds+=("$root/fuzz/corpus/$name")
  fi
  dict=()
  if [ -f "$root/fuzz/$name.dict" ]; then
    dict=("-dict=$root/fuzz/$name.dict")
  fi
  echo "fuzz: running $name for ${seconds}s"
  # New findings go to the work folder; the seeds in the tree stay as they are.
  if ! (cd "$out" && "$bin" "$work" "${seeds[@]}" "${dict[@]}" \
        -max_total_time="$seconds" -seed="$seed" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
        -print_final_stats=1 -artifact_prefix="$out/$name-" > "$out/$name.log" 2>&1); then
    echo "fuzz: $name FAILED; last lines of $out/$name.log:"
    tail -n 40 "$out/$name.log"
    failed=1
  else
    grep -E '^stat::number_of_executed_units' "$out/$name.log" || true
  fi
  ran=$((ran + 1))
done

if [ "$failed" -ne 0 ]; then
  exit 1
fi
echo "fuzz: $ran target(s) clean"
