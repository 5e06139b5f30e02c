#!/usr/bin/env bash
# Installs what playing needs, builds the program alone (the play workflow preset, in
# build/) and plays the demo (an X or Wayland display is needed).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh play
source scripts/jobs.sh
cmake --workflow --preset play >/dev/null
exec build/src/shell/vornhal
