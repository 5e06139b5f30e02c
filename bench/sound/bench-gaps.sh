#!/usr/bin/env bash
# What each sound server played of the music while the machine is busy: where the first
# sound heard lies in the music, the gaps, the silence inserted and any forward skip
# (vornhal-bench-sound --heard under with-sound-server.sh). The load starts just before
# the show and stops after it: vornhal-capture rendering on every core, with
# VORNHAL_LOAD=spin one busy loop per core, or with VORNHAL_LOAD=build a build beside
# it, four compilers in a loop. Run from the repository root; as a normal user, it hears
# what a desktop without real-time priority for its audio hears. With
# VORNHAL_PLAYER=paplay the server's own player plays the music instead, asking the
# latency the show asks, for comparison. With VORNHAL_LOAD=none nothing else runs; with
# VORNHAL_EVENT=headphones, 10 s in, headphones are plugged in: a new sink (feeding the
# recorded one, so that the move is heard) made the default, the player's stream moved
# to it.
# Usage: bench-gaps.sh BUILD_DIR [SECONDS] [SERVER...]   (default 25 s, all three)
set -uo pipefail
build=$(realpath "${1:-build}") seconds=${2:-25}
shift 2 2>/dev/null
servers=("$@")
((${#servers[@]})) || servers=(pulseaudio pipewire pipewire-native)
here=$(dirname "$0")
# The recorder asks no finer latency than the show's own stream: one asking 10 ms makes
# PipeWire run its whole graph in 10 ms steps, which a server without real-time priority
# cannot keep under load, and that counted as the show's gaps.
export VORNHAL_RECORDER_LATENCY_MS=${VORNHAL_RECORDER_LATENCY_MS:-100}
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
    elif [[ $VORNHAL_LOAD != none ]]; then
        SDL_VIDEODRIVER=offscreen "$build/tools/capture/vornhal-capture" video --null \
            --jobs "${VORNHAL_LOAD_JOBS:-$(nproc)}" 2>/dev/null &
        load+=($!)
    fi
    sleep 2
    printf '%-16s ' "$server:"
    player=("$build/bench/sound/vornhal-bench-sound" --heard "$seconds")
    # The latency the show asks of that server.
    latency_ms=186
    [[ $server == pulseaudio ]] && latency_ms=372
    # shellcheck disable=SC2016
    [[ ${VORNHAL_PLAYER:-} == paplay ]] && player=(bash -c '
        ffmpeg -loglevel error -i data/music.mp3 -f s16le -ar 44100 -ac 2 - |
            paplay --raw --rate=44100 --channels=2 --format=s16le --latency-msec="$2" &
        "$0" --heard-other "$1"; kill $! 2>/dev/null' "${player[0]}" "$seconds" "$latency_ms")
    # shellcheck disable=SC2016
    bash "$here/../../scripts/with-sound-server.sh" "$server" bash -c '
        if [[ ${VORNHAL_EVENT:-} == headphones ]]; then
            sleep 10
            inputs=$(pactl list short sink-inputs | cut -f1)
            pactl load-module module-remap-sink sink_name=headphones master=vornhal >/dev/null
            pactl set-default-sink headphones
            for input in $inputs; do pactl move-sink-input "$input" headphones; done
        fi &
        "$@"' event "${player[@]}" 2>&1 | grep -E '^heard:|vornhal:' | paste -sd' '
    # A loop in the background ignores SIGINT; the capture takes either.
    kill -TERM "${load[@]}" 2>/dev/null
    wait "${load[@]}" 2>/dev/null
done
