#!/usr/bin/env bash
# Runs a command against a PulseAudio daemon of its own: a private XDG_RUNTIME_DIR, one
# null sink at 44100 Hz stereo, and parec recording the sink's monitor into
# $VORNHAL_RECORDING (raw 16-bit stereo) for as long as the command runs. The recorder
# also stands in for a listening device: a null sink nobody records from renders in
# 2-second blocks, and a stream starting then waits up to 2 s for its first sound,
# a wait no listener of a real device would have.
# Usage: with-pulseaudio.sh COMMAND [ARGS...]
set -uo pipefail
runtime=$(mktemp -d)
export XDG_RUNTIME_DIR=$runtime HOME=$runtime PULSE_STATE_PATH=$runtime/state
export SDL_AUDIODRIVER=pulseaudio VORNHAL_RECORDING=$runtime/recording.raw
daemon_pid="" recorder_pid=""
cleanup() {
    [[ -n "$recorder_pid" ]] && kill "$recorder_pid" 2>/dev/null
    [[ -n "$daemon_pid" ]] && kill "$daemon_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$runtime"
}
trap cleanup EXIT
pulseaudio -n --daemonize=no --exit-idle-time=-1 --log-target=stderr --log-level=error \
    -L "module-null-sink sink_name=vornhal rate=44100 channels=2" \
    -L module-native-protocol-unix 2>"$runtime/daemon.log" &
daemon_pid=$!
for _ in $(seq 100); do
    pactl info >/dev/null 2>&1 && break
    sleep 0.05
done
pactl set-default-sink vornhal || { cat "$runtime/daemon.log" >&2; echo "no PulseAudio" >&2; exit 1; }
parec -d vornhal.monitor --raw --format=s16le --rate=44100 --channels=2 --latency-msec=10 \
    >"$VORNHAL_RECORDING" 2>/dev/null &
recorder_pid=$!
# The sink finishes the 2-second block it began idle; then it runs in small blocks.
sleep 2.1
"$@"
