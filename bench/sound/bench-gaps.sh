#!/usr/bin/env bash
# What each sound server played of the music while the machine is busy: where the first
# sound heard lies in the music, the gaps, the silence inserted and any forward skip
# (vornhal-bench-sound --heard under with-sound-server.sh). The load starts just before
# the show and stops after it: vornhal-capture rendering on every core, with
# VORNHAL_LOAD=spin one busy loop per core, or with VORNHAL_LOAD=build a build beside
# it, four compilers in a loop. Run from the repository root; as a normal user, it hears
# what a desktop without real-time priority for its audio hears. With
# VORNHAL_PLAYER=paplay the server's own player plays the music instead, asking the
# latency the show asks, for comparison.
# Usage: bench-gaps.sh BUILD_DIR [SECONDS] [SERVER...]   (default 25 s, all three)
set -uo pipefail
build=$(realpath "${1:-build}") seconds=${2:-25}
shift 2 2>/dev/null
servers=("$@")
((${#servers[@]})) || servers=(pulseaudio pipewire pipewire-native)
here=$(dirname "$0")
for server in "${servers[@]}"; do
    load=()
    if [[ ${VORNHAL_LOAD:-render} == spin ]]; then
        for _ in $(seq "$(nproc)"); do
            bash -c 'while :; do :; done' &
            load+=($!)
        done
    elif [[ $VORNHAL_LOAD == build ]]; then
        for _ in 1 2 3 4; do
            bash -c 'while :; do c++ -O2 -fsyntax-only -I "$1" "$0"; done' \
                "$here/../../src/stream/mp3_decode.cpp" "$here/../../src" &
            load+=($!)
        done
    else
        SDL_VIDEODRIVER=offscreen "$build/tools/capture/vornhal-capture" video --null \
            --jobs "${VORNHAL_LOAD_JOBS:-$(nproc)}" 2>/dev/null &
        load+=($!)
    fi
    sleep 2
    printf '%-16s ' "$server:"
    if [[ ${VORNHAL_PLAYER:-} == paplay ]]; then
        # shellcheck disable=SC2016
        bash "$here/../../scripts/with-sound-server.sh" "$server" bash -c '
            ffmpeg -loglevel error -i data/music.mp3 -f s16le -ar 44100 -ac 2 - |
                paplay --raw --rate=44100 --channels=2 --format=s16le --latency-msec=186 &
            "$0" --heard-other "$1"; kill $! 2>/dev/null' \
            "$build/bench/sound/vornhal-bench-sound" "$seconds"
    else
        bash "$here/../../scripts/with-sound-server.sh" "$server" "$build/bench/sound/vornhal-bench-sound" \
            --heard "$seconds"
    fi 2>&1 | grep -E '^heard:|vornhal:' | paste -sd' '
    # A loop in the background ignores SIGINT; the capture takes either.
    kill -TERM "${load[@]}" 2>/dev/null
    wait "${load[@]}" 2>/dev/null
done
