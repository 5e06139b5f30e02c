#!/usr/bin/env bash
# Installs what playing needs, builds the program alone and plays the demo (an X
# display is needed). Usage: play.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
cd "$root"
bash scripts/install-deps.sh play
cmake --preset play -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" --target vornhal
exec "$build/src/shell/vornhal"
