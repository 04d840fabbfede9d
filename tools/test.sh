#!/usr/bin/env bash
# Installs what is missing, builds and runs every test. Without a display
# the suites run inside a virtual X server, so the OpenGL ones have one too.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/tools/build.sh"
jobs="$(nproc 2>/dev/null || echo 2)"
run=(ctest --test-dir "$root/build" --output-on-failure -j "$jobs")
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1920x1080x24" env QT_QPA_PLATFORM=xcb "${run[@]}"
fi
exec "${run[@]}"
