#!/usr/bin/env bash
# The show started through SDL's own PipeWire driver on a PipeWire whose session manager
# is not there to link a stream: one that never comes up (the show must not open a
# device, whose open would wait for ever, but start without sound), and one that stopped
# after it chose the output (the driver's start then waits for ever; the show must start
# without it all the same). Either way the show starts within seconds, says so once,
# its clock runs on, and told to stop, it leaves within seconds with its status, saying
# when it left the driver behind.
# Usage: start_stuck.sh PROBE SOURCE_DIR
set -uo pipefail
probe=$1 source_dir=$2
source "$source_dir/scripts/sound-server.sh"
source "$source_dir/tests/lib/wait.sh"
clock_past() { (($(tail -n 1 "$sound_runtime/clock" | cut -d' ' -f2) > $1)); }
chosen() { pw-metadata 0 default.audio.sink 2>/dev/null | grep -q vornhal; }
gone() { ! kill -0 "$probe_pid" 2>/dev/null; }
failed=0
# manager state | what the show says, line by line
while IFS='|' read -r -u 4 manager expected; do
    if [[ $manager == never ]]; then
        sound_server_start pipewire-native nomanager || exit 1
    else
        sound_server_start pipewire-native || exit 1
        wait_for "the manager to choose the output" 10 chosen || exit 1
        # Without pipewire-pulse, which would stop answering too, only the driver asks.
        kill "$(pgrep -P $$ -x pipewire-pulse)" || exit 1
        manager_pid=$(pgrep -P $$ -x wireplumber) && kill -STOP "$manager_pid" || exit 1
    fi
    rm -f "$sound_runtime/keys" && mkfifo "$sound_runtime/keys"
    exec 3<>"$sound_runtime/keys"
    (cd "$source_dir" && exec "$probe" 3>&-) <"$sound_runtime/keys" \
        >"$sound_runtime/clock" 2>"$sound_runtime/said" &
    probe_pid=$!
    wait_for "the show to start without sound" 15 clock_past 1000
    started=$?
    exec 3>&- # input closed: the probe stops, as Escape stops the demo
    wait_for "the show to leave" 10 gone
    left=$?
    kill -KILL "$probe_pid" 2>/dev/null
    wait "$probe_pid"
    status=$?
    said=$(cat "$sound_runtime/said")
    # shellcheck disable=SC2053 # the lines expected are a pattern
    if ((started == 0 && left == 0 && status == 0)) && [[ $(paste -sd'|' <<<"$said") == $expected ]]; then
        echo "ok, manager $manager: $said"
    else
        echo "FAIL, manager $manager: started $started, left $left with status $status; said: $said" >&2
        failed=1
    fi
    [[ $manager == stopped ]] && kill -CONT "$manager_pid"
    sound_server_stop
done 4<<'EOF'
never|*has no output yet; the show runs without sound until it has one
stopped|*did not start within 6 s*|*did not close within 2 s; leaving without it
EOF
exit $failed
