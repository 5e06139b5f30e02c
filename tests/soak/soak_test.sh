#!/usr/bin/env bash
# The demo for a long while under its own Xvfb (800 x 600, so fullscreen is really
# taken), started fullscreen: 200 fullscreen toggles (F1), then a 20-second seek storm
# (M and N held in turn). It must not crash; the music must keep playing (SDL's disk
# driver writes what the device plays, which must keep growing and not be silent);
# resident memory after the toggles within 10 MB of what it was after the first one;
# and one window at a time (each closed context takes its window and textures along).
# Prints the memory figures.
# Usage: soak_test.sh VORNHAL SOURCE_DIR
set -uo pipefail
vornhal=$(realpath "$1")
source_dir=$(realpath "$2")

toggle_count=${VORNHAL_SOAK_TOGGLES:-200}
storm_seconds=20
max_growth_kb=$((10 * 1024))
bytes_per_second=$((44100 * 4))

scratch=$(mktemp -d)
xvfb_pid=""
demo_pid=""
cleanup() {
    [[ -n "$demo_pid" ]] && kill -9 "$demo_pid" 2>/dev/null
    [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    echo "--- program output:" >&2
    tail -c 4000 "$scratch/out" >&2
    exit 1
}

Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -noreset 3>"$scratch/display" 2>"$scratch/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
    [[ -s "$scratch/display" ]] && break
    sleep 0.05
done
[[ -s "$scratch/display" ]] || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$scratch/display")"

audio=$scratch/audio.raw
(cd "$source_dir" && exec env SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$audio" "$vornhal") \
    >"$scratch/out" 2>&1 </dev/null &
demo_pid=$!

running() { kill -0 "$demo_pid" 2>/dev/null || fail "the demo is gone"; }

windows_titled() {
    xwininfo -root -tree 2>/dev/null | grep -F "\"$1\":" | awk '{print $1}'
}

# Waits for a window with the title other than $2, polling $3 times 50 ms apart (10 s
# by default), and prints its id.
wait_window() {
    local id
    for _ in $(seq "${3:-200}"); do
        id=$(windows_titled "$1" | grep -v -x -F "${2:-none}" | head -n1)
        [[ -n "$id" ]] && { echo "$id"; return 0; }
        kill -0 "$demo_pid" 2>/dev/null || return 1
        sleep 0.05
    done
    return 1
}

rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$demo_pid/status"; }
audio_bytes() { stat -c %s "$audio" 2>/dev/null || echo 0; }

# Non-zero bytes in the last second the device played.
audio_lit_bytes() {
    tail -c "$bytes_per_second" "$audio" | tr -d '\000' | wc -c
}

# Hold N a moment: the clock goes back towards the start, so the show (which ends at
# 142 s) outlasts the run however slowly the toggles go.
rewind() {
    xdotool windowfocus "$1" 2>/dev/null
    xdotool keydown n
    sleep 0.5
    xdotool keyup n
}

box=$(wait_window "Start FullScreen?") || fail "no fullscreen question"
xdotool windowfocus "$box" 2>/dev/null
xdotool key Return
win=$(wait_window Vornhal) || fail "no Vornhal window"
sleep 1

first_rss=""
for i in $(seq "$toggle_count"); do
    running
    # A key pressed while the new window is still being mapped can go astray on a
    # loaded machine; press again then, but never more than a few times.
    next=""
    for _ in 1 2 3; do
        xdotool windowfocus "$win" 2>/dev/null
        xdotool key F1
        next=$(wait_window Vornhal "$win" 100) && break
        running
    done
    [[ -n "$next" ]] || fail "toggle $i made no new window"
    win=$next
    if ((i == 1)); then
        sleep 1
        first_rss=$(rss_kb)
    fi
    ((i % 25 == 0)) && rewind "$win"
done
sleep 1
running
after_rss=$(rss_kb)
count=$(windows_titled Vornhal | wc -l)
((count == 1)) || fail "$count Vornhal windows after the toggles"

# The seek storm: M and N held in turn, N a little longer, so the clock wanders about
# the first part of the show instead of running to its end.
bytes_before_storm=$(audio_bytes)
end=$((SECONDS + storm_seconds))
xdotool windowfocus "$win" 2>/dev/null
while ((SECONDS < end)); do
    running
    xdotool keydown m
    sleep 0.3
    xdotool keyup m
    xdotool keydown n
    sleep 0.35
    xdotool keyup n
done
sleep 1
running
bytes_after_storm=$(audio_bytes)
lit=$(audio_lit_bytes)
storm_rss=$(rss_kb)

xdotool windowfocus "$win" 2>/dev/null
xdotool key Escape
rc=timeout
for _ in $(seq 200); do
    if ! kill -0 "$demo_pid" 2>/dev/null; then
        wait "$demo_pid"
        rc=$?
        demo_pid=""
        break
    fi
    sleep 0.05
done

echo "resident memory: ${first_rss} kB after the first toggle, ${after_rss} kB after" \
    "$toggle_count, ${storm_rss} kB after the seek storm"
echo "audio: $(((bytes_after_storm - bytes_before_storm) / bytes_per_second)) s played during" \
    "the ${storm_seconds} s storm; $lit non-zero bytes in its last second"

[[ $rc == 0 ]] || fail "exit status $rc"
growth=$((after_rss - first_rss))
((growth <= max_growth_kb)) || fail "resident memory grew by $growth kB over the toggles"
# The device keeps playing in real time: most of the storm's length must have been
# written, and what was written last is sound, not silence.
min_bytes=$((bytes_per_second * storm_seconds / 2))
((bytes_after_storm - bytes_before_storm >= min_bytes)) || fail "the music stopped during the storm"
((lit > bytes_per_second / 4)) || fail "the music went silent ($lit non-zero bytes)"
echo "ok"
