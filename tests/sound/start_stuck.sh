#!/usr/bin/env bash
# The show started on a PipeWire whose session manager never comes up, through SDL's own
# PipeWire driver, whose open then waits for ever: the show must start without sound
# within seconds, say so once, and its clock run on; told to stop, it must leave within
# seconds, with its status, saying why the sound was left behind.
# Usage: start_stuck.sh PROBE SOURCE_DIR
set -uo pipefail
probe=$1 source_dir=$2
source "$source_dir/scripts/sound-server.sh"
source "$source_dir/tests/lib/wait.sh"
sound_server_start pipewire-native nomanager || exit 1
mkfifo "$sound_runtime/keys"
exec 3<>"$sound_runtime/keys"
(cd "$source_dir" && exec "$probe" 3>&-) <"$sound_runtime/keys" >"$sound_runtime/clock" 2>"$sound_runtime/said" &
probe=$!
clock_past() { (($(tail -n 1 "$sound_runtime/clock" | cut -d' ' -f2) > $1)); }
wait_for "the show to start without sound" 15 clock_past 1000
started=$?
exec 3>&- # input closed: the probe stops, as Escape stops the demo
gone() { ! kill -0 "$probe" 2>/dev/null; }
wait_for "the show to leave" 10 gone
left=$?
kill -KILL "$probe" 2>/dev/null
wait "$probe"
status=$?
said=$(cat "$sound_runtime/said")
((started == 0 && left == 0 && status == 0)) && [[ $(grep -c . <<<"$said") == 2 &&
    $said == *"did not start within"*"did not close within"* ]] ||
    { echo "FAIL: started $started, left $left with status $status; said: $said" >&2 && exit 1; }
echo "ok: $said"
