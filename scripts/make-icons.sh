#!/usr/bin/env bash
# Makes the desktop icons from the show's own frame at 100 s: the ring sight at the
# strip's centre, cut square and scaled to each hicolor size, into
# packaging/icons/hicolor/NxN/apps/vornhal.png (committed; `make icons` redoes them).
# Needs a built vornhal-capture and ffmpeg. Usage: make-icons.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
frame=$(mktemp --suffix=.png)
trap 'rm -f "$frame"' EXIT
cd "$root"
# Four times the render size, so the 600 x 600 square holds the 150-row strip's centre
# at twice its size, enough for the largest icon.
SDL_VIDEODRIVER=offscreen "$build/tools/capture/vornhal-capture" frame 100000 "$frame" --size 3200x2400
for size in 16 32 48 64 128 256 512; do
    dir=packaging/icons/hicolor/${size}x$size/apps
    mkdir -p "$dir"
    ffmpeg -nostdin -v error -y -i "$frame" -vf "crop=600:600:1300:900,scale=$size:$size:flags=lanczos" \
        -frames:v 1 "$dir/vornhal.png"
done
