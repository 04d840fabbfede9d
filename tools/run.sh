#!/usr/bin/env bash
# Installs what is missing, builds and starts Kavira.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/tools/build.sh"
exec "$root/build/app/kavira"
