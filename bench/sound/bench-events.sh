#!/usr/bin/env bash
# The show in a window under its own Xvfb, on a sound server of its own, through the
# events of a laptop session, read from its frame log (VORNHAL_FRAME_LOG): for each
# event the longest interval between two presented frames and the loss lines said; for
# a stop (SIGSTOP for 6 s, then SIGCONT) how far the first frame after it lies from
# where the show stood. The events, in one run: a sink asleep for 8 s at the start, a
# 3 s suspension, headphones plugged in (a new sink made the default, the stream moved
# to it), the only sink unloaded and another loaded 3 s later, the server killed and
# started again without a sink and given one 10 s later, and the stop.
# Usage: bench-events.sh BUILD_DIR [SERVER...]   (default pulseaudio and pipewire)
set -uo pipefail
build=$(realpath "${1:-build}")
shift
servers=("$@")
((${#servers[@]})) || servers=(pulseaudio pipewire)
here=$(realpath "$(dirname "$0")")
for server in "${servers[@]}"; do
    (
        source "$here/../../tests/lib/x11.sh"
        source "$here/../../scripts/sound-server.sh"
        trap 'kill "$x11_server" 2>/dev/null; sound_server_stop; x11_stop; rm -rf "$sound_runtime"' EXIT
        log=$x11_work/frames
        sound_server_start "$server" nosink || exit 1
        x11_start 1024x768x24
        sound_server_add_sink && pactl suspend-sink vornhal 1
        mark() { echo "$1 $(wc -l <"$log")" >>"$x11_work/marks"; }
        : >"$log"
        x11_launch "$here/../.." env VORNHAL_FRAME_LOG="$log" "$build/src/shell/vornhal" --window
        mark start
        sleep 8 && pactl suspend-sink vornhal 0 && sleep 3
        mark suspension && pactl suspend-sink vornhal 1 && sleep 3 && pactl suspend-sink vornhal 0 && sleep 2
        mark headphones
        pactl load-module module-null-sink sink_name=headphones rate=44100 channels=2 >/dev/null
        pactl set-default-sink headphones
        for input in $(pactl list short sink-inputs | cut -f1); do pactl move-sink-input "$input" headphones; done
        sleep 3
        mark unplugged
        for module in $(pactl list short modules | awk '/module-null-sink/ {print $1}'); do
            pactl unload-module "$module"
        done
        sleep 3
        pactl load-module module-null-sink sink_name=speakers rate=44100 channels=2 >/dev/null
        pactl set-default-sink speakers
        sleep 3
        mark restarted
        sound_server_kill && sound_server_start "$server" nosink && sleep 10 && sound_server_add_sink && sleep 3
        mark stop
        kill -STOP "$x11_demo" && sleep 6 && kill -CONT "$x11_demo" && sleep 2
        mark end
        kill -TERM "$x11_demo"
        wait "$x11_demo" 2>/dev/null
        [[ -n ${VORNHAL_KEEP_LOGS:-} ]] && cp "$log" "$x11_work/marks" "$x11_work/out" "$VORNHAL_KEEP_LOGS/"
        printf '%s:\n' "$server"
        # Per event: the longest interval between two frames (ms) from its mark to the
        # next; the stop's own interval is the stop, so its figure is the clock's step.
        awk 'NR == FNR { name[NR] = $1; at[NR] = $2; n = NR; next }
             { t[FNR] = $1; c[FNR] = $2 }
             END {
                 for (i = 1; i < n; i++) {
                     most = 0; step = 0
                     for (l = (at[i] > 1 ? at[i] + 1 : 2); l <= at[i + 1]; l++) {
                         d = t[l] - t[l - 1]
                         if (name[i] == "stop" && d > 1000) { step = c[l] - c[l - 1]; continue }
                         if (d > most) most = d
                     }
                     printf "  %-11s longest frame interval %6.1f ms", name[i], most
                     if (name[i] == "stop") printf ", first frame after it %+d ms from where it stood", step
                     printf "\n"
                 }
             }' "$x11_work/marks" "$log"
        echo "  said: $(grep -E 'sound' "$x11_work/out" | sed 's/^vornhal: //' | paste -sd'|')"
    )
done
