#!/usr/bin/env bash
# The soundtrack against a sound server that has no sink yet, dies and comes back, on
# each server and driver desktops use: started on a server without a sink, the show
# must run silent and the music come in once the sink is loaded; killed mid-show, the
# seek keys tapped, the clock must run on and one line say the sound was lost; started
# again, without a sink for a moment, the music must be heard again within seconds and
# one line say so, the clock running on unbroken; sent near the end, the show must end
# by itself. A sink suspended for 3 s (on PulseAudio) and a stream moved to a new sink,
# as headphones plugged in do, must pass without a loss line. Throughout, the clock
# is sampled without a wait longer than 100 ms, and never stands still that long.
# Usage: server_faults.sh PROBE SOURCE_DIR pulseaudio|pipewire|pipewire-native
set -uo pipefail
probe=$1 source_dir=$2 kind=$3
source "$source_dir/scripts/sound-server.sh"
source "$source_dir/tests/lib/wait.sh"
work=$sound_runtime/probe
mkdir -p "$work" && mkfifo "$work/keys"
probe_pid=""
fail() {
    echo "FAIL ($kind): $*" >&2
    tail -n 5 "$work/said" >&2
    # Where each of the probe's threads waits, and what the server said: a hang's trail.
    local task
    for task in /proc/$probe_pid/task/*; do
        echo "thread $(cat "$task/comm" 2>/dev/null): $(cat "$task/wchan" 2>/dev/null)" >&2
    done
    tail -n 10 "$sound_runtime/server.log" >&2 2>/dev/null
    # KILL: SDL's audio start takes SIGTERM for a quit request the probe never reads.
    [[ -n $probe_pid ]] && kill -KILL "$probe_pid" 2>/dev/null
    exit 1
}
sound_server_start "$kind" nosink || exit 1

# The probe reads keys from a fifo held open here, prints the clock every 20 ms.
(cd "$source_dir" && exec "$probe") <"$work/keys" >"$work/clock" 2>"$work/said" &
probe_pid=$!
exec 3>"$work/keys"
clock() { local c; c=$(tail -n 1 "$work/clock" | cut -d' ' -f2); echo "${c:-0}"; }
clock_past() { (($(clock) > $1)); }
wait_clock_past() { wait_for "the clock past $1" 20 clock_past "$1" || fail "the clock stays at $(clock)"; }
# The longest time in ms the clock stood still from line $1 of the clock file on, and the
# longest the soundtrack's calls kept the loop (a busy machine's delays are no wait).
longest_still() {
    sed -n "$1,\$p" "$work/clock" | awk '$2 != last { since = $3; last = $2 }
        { if ($3 - since > most) most = $3 - since } END { printf "%d\n", most }'
}
longest_wait() { awk '$4 > most { most = $4 } END { printf "%d\n", most }' "$work/clock"; }
said_lost() { grep -c "the sound was lost" "$work/said"; }
recorded_frames() { echo $(($(stat -c %s "$VORNHAL_RECORDING") / 4)); }
# Whether the recording holds sound (not silence) from frame $1 on.
sound_since() { (($(tail -c +$(($1 * 4 + 1)) "$VORNHAL_RECORDING" | tr -d '\000' | wc -c) > 4096)); }

# Silent on a server without a sink (pipewire-pulse offers a null output then), then
# the music once there is one.
wait_clock_past 1000
[[ $kind != pulseaudio ]] || grep -q "no output yet" "$work/said" ||
    fail "no line on the server without output"
sound_server_add_sink || fail "no sink could be added"
# The device is tried again each second, and a server may take seconds more to move the
# stream onto the new sink: 20 s is a ceiling for a hang, not a time to meet.
wait_for "music once the sink is loaded" 20 sound_since 0 || fail "no music"

wait_clock_past $(($(clock) + 1000))
if [[ $kind == pulseaudio ]]; then
    from=$(wc -l <"$work/clock") lost=$(said_lost)
    pactl suspend-sink vornhal 1 && sleep 3 && pactl suspend-sink vornhal 0
    sleep 1
    still=$(longest_still "$from")
    ((still <= 100)) || fail "the clock stood still for $still ms around a 3 s suspension"
    (($(said_lost) == lost)) || fail "a suspended sink was taken for a lost sound"
fi
# Headphones plugged in: a new sink, made the default, and the stream moved onto it.
from=$(wc -l <"$work/clock") lost=$(said_lost)
pactl load-module module-null-sink sink_name=headphones rate=44100 channels=2 >/dev/null &&
    pactl set-default-sink headphones || fail "no second sink"
for input in $(pactl list short sink-inputs | cut -f1); do pactl move-sink-input "$input" headphones; done
sleep 2
still=$(longest_still "$from")
((still <= 100)) || fail "the clock stood still for $still ms when the stream moved"
(($(said_lost) == lost)) || fail "a stream moved to headphones was taken for a lost sound"

sound_server_kill
killed_at=$(clock) back_before=$(grep -c "the sound is back" "$work/said")
sleep 0.5
echo m >&3 && sleep 0.3 && echo n >&3
sleep 2.5
(($(clock) > killed_at + 2000)) || fail "the clock stopped: $killed_at ms at the kill, $(clock) ms 3 s on"
# One line a loss: the last says it is lost (a suspension may have lost it already).
[[ $(grep -E "the sound (was lost|is back)" "$work/said" | tail -n 1) == *"was lost"* &&
    $(grep -c "the sound was lost" "$work/said") -le $(($(grep -c "the sound is back" "$work/said") + 1)) ]] ||
    fail "not one line on the lost sound"

sound_server_start "$kind" nosink || fail "the server did not start again"
sleep 1
sound_server_add_sink || fail "the server took no sink after its restart"
from=$(wc -l <"$work/clock") since=$(recorded_frames)
back_again() { (($(grep -c "the sound is back" "$work/said") > back_before)); }
# A ceiling for a hang: a restarted server and a device tried each second, under load.
wait_for "the sound back" 30 back_again || fail "the sound never came back"
sleep 1
sound_since "$since" || fail "nothing heard since the server came back"
still=$(longest_still "$from")
((still <= 100)) || fail "the clock stood still for $still ms when the sound came back"

echo s140000 >&3
probe_ended() { ! kill -0 $probe_pid 2>/dev/null; }
wait_for "the show to end by itself" 15 probe_ended || fail "the show did not end by itself"
wait $probe_pid || fail "ended with status $?"
wait=$(longest_wait)
((wait <= 100)) || fail "the clock waited $wait ms for the sound"
echo "ok ($kind): the clock ran on and the sound came back, no wait over $wait ms; said:" &&
    cat "$work/said"
