#!/usr/bin/env bash
# Installs what playing needs, builds the program alone and plays the demo (an X
# display is needed). Usage: play.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
cd "$root"
bash scripts/install-deps.sh play
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNHAL_TESTS=OFF \
    -DVORNHAL_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target vornhal
exec "$build/src/shell/vornhal"
