#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it (on macOS the
# program inside its application bundle).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
KVR_BUILD_TARGETS=kavira bash "$root/tools/build.sh"
if [ "$(uname -s)" = Darwin ]; then
  exec "$root/build/app/kavira.app/Contents/MacOS/kavira"
fi
exec "$root/build/app/kavira"
