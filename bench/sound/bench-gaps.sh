#!/usr/bin/env bash
# Gaps in the music on each sound server while vornhal-capture renders on every core:
# vornhal-bench-sound --gaps under with-sound-server.sh, the renderer (video --null)
# started just before and stopped just after. Run from the repository root.
# Usage: bench-gaps.sh BUILD_DIR [SECONDS] [SERVER...]   (default 30 s, all three)
set -uo pipefail
build=$(realpath "${1:-build}") seconds=${2:-30}
shift 2 2>/dev/null
servers=("$@")
((${#servers[@]})) || servers=(pulseaudio pipewire pipewire-native)
here=$(dirname "$0")
for server in "${servers[@]}"; do
    SDL_VIDEODRIVER=offscreen "$build/tools/capture/vornhal-capture" video --null --jobs "${VORNHAL_LOAD_JOBS:-$(nproc)}" 2>/dev/null &
    load=$!
    sleep 2
    printf '%-16s ' "$server:"
    bash "$here/with-sound-server.sh" "$server" "$build/bench/sound/vornhal-bench-sound" \
        --gaps "$seconds" | grep '^gaps:'
    kill -INT $load 2>/dev/null
    wait $load 2>/dev/null
done
