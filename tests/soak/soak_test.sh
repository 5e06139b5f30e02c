#!/usr/bin/env bash
# The demo for a long while under its own Xvfb (800 x 600, so fullscreen is really taken),
# started fullscreen: 200 fullscreen toggles (F1), or as many as fit in the first 100 s of
# the show (at least 20) on a slow machine, so that the show's end (at 142 s) comes after
# the run; then a 20-second seek storm (M and N held in turn). It must not crash; the music must keep playing (SDL's disk driver writes
# what the device plays: it must keep growing and not be silent); resident memory after
# the toggles within 10 MB of what it was after the first; one window at a time (each
# closed context takes its window and textures along). Prints the figures.
# Usage: soak_test.sh VORNHAL SOURCE_DIR
set -uo pipefail
source "$(dirname "$0")/../lib/x11.sh"
vornhal=$(realpath "$1") source_dir=$(realpath "$2")
toggle_count=${VORNHAL_SOAK_TOGGLES:-200} storm_seconds=20 max_growth_kb=$((10 * 1024))
bytes_per_second=$((44100 * 4)) audio=$x11_work/audio.raw

running() { kill -0 "$x11_demo" 2>/dev/null || { wait "$x11_demo"; x11_fail "the demo ended: $?"; }; }
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$x11_demo/status"; }
hold() { xdotool keydown "$1" sleep "$2" keyup "$1"; }

x11_start 800x600x24
x11_launch "$source_dir" env SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$audio" "$vornhal"
started=$SECONDS
box=$(x11_wait "Start FullScreen?") || x11_fail "no fullscreen question"
x11_press "$box" Return
win=$(x11_wait Vornhal) || x11_fail "no Vornhal window"
sleep 1
toggles=0
while ((toggles < toggle_count && SECONDS - started < 100)); do
    toggles=$((toggles + 1))
    running
    x11_press "$win" F1
    win=$(x11_wait Vornhal "$win") || x11_fail "toggle $toggles made no new window"
    ((toggles == 1)) && sleep 1 && first_rss=$(rss_kb)
done
((toggles >= 20)) || x11_fail "only $toggles toggles in 100 s"
sleep 1 && running && after_rss=$(rss_kb)
count=$(x11_windows Vornhal | wc -l)
((count == 1)) || x11_fail "$count Vornhal windows after the toggles"

# M and N in turn, N a little longer: the clock wanders about the start of the show.
bytes_before=$(stat -c %s "$audio")
end=$((SECONDS + storm_seconds))
while ((SECONDS < end)); do
    running && hold m 0.3 && hold n 0.35
done
sleep 1 && running
played=$(($(stat -c %s "$audio") - bytes_before))
lit=$(tail -c "$bytes_per_second" "$audio" | tr -d '\000' | wc -c)
storm_rss=$(rss_kb)
x11_press "$win" Escape
x11_expect_exit 0

echo "resident memory: $first_rss kB after the first toggle, $after_rss kB after" \
    "$toggles, $storm_rss kB after the seek storm"
echo "audio: $((played / bytes_per_second)) s played during the $storm_seconds s storm;" \
    "$lit non-zero bytes in its last second"
((after_rss - first_rss <= max_growth_kb)) || x11_fail "memory grew by $((after_rss - first_rss)) kB"
# The device plays in real time: most of the storm was written, and its end is not silence.
((played >= bytes_per_second * storm_seconds / 2)) || x11_fail "the music stopped during the storm"
((lit > bytes_per_second / 4)) || x11_fail "the music went silent ($lit non-zero bytes)"
echo "ok"
