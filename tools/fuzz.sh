#!/usr/bin/env bash
# Builds every fuzz target in fuzz/ with clang's libFuzzer and AddressSanitizer
# and runs each one for a bounded time. Exits 77 (skipped) when clang or its
# fuzzer runtime is missing.
#
# A target is fuzz/<name>.cpp defining LLVMFuzzerTestOneInput. Lines in it:
#   // fuzz-sources: <project files it needs, space separated>
#   // fuzz-qt: <pkg-config modules, default Qt6Core>
# Seeds live in fuzz/corpus/<name>/ and an optional dictionary in
# fuzz/<name>.dict. Settings come from the environment:
#   KVR_FUZZ_SECONDS  run time per target (default 20)
#   KVR_FUZZ_BUILD    build folder (default build-fuzz in the project root)
#   KVR_FUZZ_ONLY     run only the target of that name
#   KVR_FUZZ_SEED     libFuzzer's random seed (default 1, so that a run over
#                     the same code walks the same inputs and a failure in CI
#                     comes with the change that caused it; 0 picks one)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${KVR_FUZZ_SECONDS:-20}"
seed="${KVR_FUZZ_SEED:-1}"
out="${KVR_FUZZ_BUILD:-$root/build-fuzz}"
cxx="${KVR_FUZZ_CXX:-clang++}"

if ! command -v "$cxx" >/dev/null 2>&1; then
  echo "fuzz: $cxx not found; skipped"
  exit 77
fi
mkdir -p "$out"
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' \
  > "$out/probe.cpp"
if ! "$cxx" -fsanitize=fuzzer,address "$out/probe.cpp" -o "$out/probe" >/dev/null 2>&1; then
  echo "fuzz: $cxx has no libFuzzer runtime (install libclang-rt-14-dev); skipped"
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
  sources=()
  for rel in $(sed -n 's#^// fuzz-sources:##p' "$src"); do
    sources+=("$root/$rel")
  done
  modules="$(sed -n 's#^// fuzz-qt:##p' "$src" | tr -s ' ')"
  [ -n "${modules// /}" ] || modules="Qt6Core"
  # shellcheck disable=SC2086
  qt_flags="$(pkg-config --cflags --libs $modules)"
  bin="$out/$name"
  # A source whose header declares a QObject needs that header's meta-object
  # code, as the build's automatic moc gives it.
  mocs=()
  for f in "${sources[@]}"; do
    h="${f%.cpp}.h"
    if [ -f "$h" ] && grep -q 'Q_OBJECT' "$h"; then
      mocs+=("$h")
    fi
  done

  # Rebuild only when the target or one of its sources changed.
  stale=1
  if [ -x "$bin" ]; then
    stale=0
    for f in "$src" "${sources[@]}" "$0"; do
      if [ "$f" -nt "$bin" ]; then stale=1; fi
    done
    for f in "${sources[@]}"; do
      h="${f%.cpp}.h"
      if [ -f "$h" ] && [ "$h" -nt "$bin" ]; then stale=1; fi
    done
  fi
  if [ "$stale" -eq 1 ]; then
    echo "fuzz: building $name"
    moc="$(pkg-config --variable=libexecdir Qt6Core)/moc"
    generated=()
    for h in "${mocs[@]}"; do
      g="$out/moc-$name-$(basename "$h" .h).cpp"
      if ! "$moc" "$h" -o "$g"; then
        echo "fuzz: moc failed on $h"
        failed=1
        continue 2
      fi
      generated+=("$g")
    done
    # shellcheck disable=SC2086
    if ! "$cxx" -std=c++20 -g -O1 -fPIC -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined \
        -fno-sanitize-recover=undefined -I"$root" $qt_flags \
        "$src" "${sources[@]}" "${generated[@]}" $qt_flags -o "$bin"; then
      echo "fuzz: $name does not build"
      failed=1
      continue
    fi
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
