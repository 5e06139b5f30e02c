#!/usr/bin/env bash
# The show started on a PipeWire whose session manager never comes up, through SDL's own
# PipeWire driver, whose open then waits for ever: the show must start without sound
# within seconds, say so once, and its clock run on.
# Usage: start_stuck.sh PROBE SOURCE_DIR
set -uo pipefail
probe=$1 source_dir=$2
source "$source_dir/scripts/sound-server.sh"
source "$source_dir/tests/lib/wait.sh"
sound_server_start pipewire-native nomanager || exit 1
mkfifo "$sound_runtime/keys"
exec 3<>"$sound_runtime/keys"
(cd "$source_dir" && exec "$probe") <"$sound_runtime/keys" >"$sound_runtime/clock" 2>"$sound_runtime/said" &
probe=$!
clock_past() { (($(tail -n 1 "$sound_runtime/clock" | cut -d' ' -f2) > $1)); }
wait_for "the show to start without sound" 15 clock_past 1000
started=$?
said=$(cat "$sound_runtime/said")
kill -KILL "$probe" # its sound thread still waits in the driver
((started == 0)) && [[ $(grep -c . <<<"$said") == 1 && $said == *"did not start within"* ]] ||
    { echo "FAIL: said: $said" >&2 && exit 1; }
echo "ok: $said"
