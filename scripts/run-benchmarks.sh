#!/usr/bin/env bash
# Runs every benchmark and prints its figures.
set -euo pipefail
build=${1:-build}
for b in "$build"/bench/*/vornhal-bench-*; do
    [[ -x "$b" ]] || continue
    echo "== $(basename "$b")"
    SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy "$b"
done
