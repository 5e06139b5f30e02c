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
# Twice the render size, so the 300 x 300 square holds the 150-row strip's centre at full size.
SDL_VIDEODRIVER=offscreen "$build/tools/capture/vornhal-capture" frame 100000 "$frame" --size 1600x1200
for size in 16 32 48 64 128 256; do
    dir=packaging/icons/hicolor/${size}x$size/apps
    mkdir -p "$dir"
    ffmpeg -nostdin -v error -y -i "$frame" -vf "crop=300:300:650:450,scale=$size:$size:flags=lanczos" \
        -frames:v 1 "$dir/vornhal.png"
done
