#!/usr/bin/env bash
# Installs what is missing, builds and runs every test. Each suite runs on a
# virtual X server of its own (tests/support/with-display.sh), so the OpenGL
# ones have a display and suites running side by side never share a pointer.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/tools/build.sh"
jobs="$(nproc 2>/dev/null || echo 2)"
exec ctest --test-dir "$root/build" --output-on-failure -j "$jobs"
