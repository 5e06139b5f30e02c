#!/usr/bin/env bash
# When the show's first picture comes against its first note, with both cores busy (one
# busy loop per core): the show in a window under its own Xvfb, on a sound server of its
# own, its first presented frame, and the first that moved on from it (the clock held
# while the sound started), from its frame log (VORNHAL_FRAME_LOG), the first note
# from the recording of the sink, looked at every millisecond (vornhal-bench-sound
# --first-note; the recorder hands on sound in 10 ms fragments, so the note is seen up
# to a fragment late). A negative figure: the picture came first.
# Usage: bench-first.sh BUILD_DIR [RUNS] [SERVER...]   (default 5 runs, pulseaudio and pipewire)
set -uo pipefail
build=$(realpath "${1:-build}") runs=${2:-5}
shift 2 2>/dev/null
servers=("$@")
((${#servers[@]})) || servers=(pulseaudio pipewire)
cd "$(dirname "$0")/../.." || exit 1
for server in "${servers[@]}"; do
    for run in $(seq "$runs"); do
        (
            source tests/lib/x11.sh
            source scripts/sound-server.sh
            load=()
            trap 'kill "${load[@]}" "$x11_server" 2>/dev/null; sound_server_stop; x11_stop; rm -rf "$sound_runtime"' EXIT
            sound_server_start "$server" || exit 1
            x11_start 1024x768x24
            for _ in $(seq "$(nproc)"); do
                bash -c 'while :; do :; done' &
                load+=($!)
            done
            "$build/bench/sound/vornhal-bench-sound" --first-note 30 >"$x11_work/note" &
            poller=$!
            sleep 1 # it has read the recording this far, all silence
            x11_launch . env VORNHAL_FRAME_LOG="$x11_work/frames" "$build/src/shell/vornhal" --window
            wait "$poller"
            sleep 1 # the frames that move with it
            kill -TERM "$x11_demo"
            wait "$x11_demo"
            awk -v s="$server" -v r="$run" -v n="$(awk '{print $3}' "$x11_work/note")" '
                NR == 1 { first = $1; clock = $2 }
                $2 != clock { moved = $1; exit }
                { before = $1 }
                END {
                    if (n < 0 || !moved) { printf "%s run %d: no note or no frame\n", s, r; exit }
                    printf "%s run %d: first frame %+.1f ms, first moving frame %+.1f ms from the first note " \
                        "(%.1f ms after the frame before it)\n", s, r, first - n, moved - n, moved - before
                }' "$x11_work/frames"
        )
    done
done
