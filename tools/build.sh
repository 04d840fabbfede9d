#!/usr/bin/env bash
# Configures and builds Kavira in ./build, after installing what is missing:
# Debian's packages with apt-get on Linux, Homebrew's Qt and FFmpeg on macOS
# (the macOS route is untried on this project's own machines). Arguments go
# to CMake's configure step; KVR_BUILD_TARGETS names the targets to build
# (default: all of them, tests and benchmarks included); KVR_JOBS, how many
# steps run at once (default: one per processor; fewer on a shared machine).
#
#   bash tools/build.sh
#   KVR_BUILD_TARGETS=kavira bash tools/build.sh   # the program only
#   KVR_JOBS=2 bash tools/build.sh                 # two steps at a time
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/tools/jobs.sh"
jobs="$(kvr_jobs "${KVR_JOBS:-}" KVR_JOBS)" || exit 2
configure=()
case "$(uname -s)" in
  Darwin)
    command -v brew >/dev/null 2>&1 || { echo "build: Homebrew is needed first (https://brew.sh)" >&2; exit 1; }
    missing=()
    for formula in cmake ninja pkg-config qt ffmpeg; do
      brew list --versions "$formula" >/dev/null 2>&1 || missing+=("$formula")
    done
    if [ ${#missing[@]} -gt 0 ]; then
      echo "build: installing ${missing[*]} with Homebrew"
      brew install "${missing[@]}"
    fi
    configure=(-DCMAKE_PREFIX_PATH="$(brew --prefix qt)")
    ;;
  *)
    echo "build: checking the Debian packages it needs"
    bash "$root/.ci/install-deps.sh"
    ;;
esac
echo "build: configuring build/"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${configure[@]}" "$@" >/dev/null
read -r -a targets <<<"${KVR_BUILD_TARGETS:-all}"
echo "build: building ${targets[*]} with $jobs jobs, a line a step"
# Ninja writes a line a step only when its output is not a terminal (on one
# it keeps rewriting a single line), so its output goes through a pipe.
cmake --build "$root/build" -j "$jobs" --target "${targets[@]}" | cat
echo "build: done"
