#!/usr/bin/env bash
# End-to-end checks of the real program under its own Xvfb, driven with xdotool.
# Usage: window_test.sh CASE VORNHAL PROBE SOURCE_DIR
# Each case answers the dialogs with Return (Yes/OK) or Escape (No), as a user would.
set -uo pipefail

case_name=$1
vornhal=$2
probe=$3
source_dir=$4

work=$(mktemp -d)
xvfb_pid=""
demo_pid=""

cleanup() {
    [[ -n "$demo_pid" ]] && kill "$demo_pid" 2>/dev/null
    [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL ($case_name): $*" >&2
    echo "--- program output:" >&2
    cat "$work/out" >&2 2>/dev/null
    exit 1
}

# Starts Xvfb with one screen of the given size on a display number it picks itself,
# and waits until it answers. Servers started in parallel can race for a number, so a
# server that dies or stays silent is replaced.
start_xvfb() {
    screen_size=${1%x*}
    for _attempt in 1 2 3; do
        rm -f "$work/display"
        Xvfb -displayfd 3 -screen 0 "$1" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
        xvfb_pid=$!
        for _ in $(seq 100); do
            if [[ -s "$work/display" ]] && xwininfo -root -display ":$(head -n1 "$work/display")" >/dev/null 2>&1; then
                export DISPLAY=":$(head -n1 "$work/display")"
                return 0
            fi
            kill -0 "$xvfb_pid" 2>/dev/null || break
            sleep 0.05
        done
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
        xvfb_pid=""
    done
    cat "$work/xvfb.log" >&2
    fail "Xvfb did not start"
}

start_demo() {
    (cd "$source_dir" && exec env SDL_AUDIODRIVER=dummy "$vornhal") >"$work/out" 2>&1 &
    demo_pid=$!
}

# Ids of the top-level windows with exactly this title. xdotool's name search misses
# UTF-8 titles, so read the tree instead.
windows_titled() {
    xwininfo -root -tree 2>/dev/null | grep -F "\"$1\":" | awk '{print $1}'
}

# Waits up to 10 s for a window with the title (other than the id given as $2) and
# prints its id.
wait_window() {
    local id
    for _ in $(seq 200); do
        id=$(windows_titled "$1" | grep -v -x -F "${2:-none}" | head -n1)
        if [[ -n "$id" ]]; then
            echo "$id"
            return 0
        fi
        demo_running || return 1
        sleep 0.05
    done
    return 1
}

demo_running() { kill -0 "$demo_pid" 2>/dev/null; }

# Waits up to 10 s for the program to end and leaves its exit status in rc.
wait_exit() {
    rc=timeout
    for _ in $(seq 200); do
        if ! demo_running; then
            wait "$demo_pid"
            rc=$?
            demo_pid=""
            return 0
        fi
        sleep 0.05
    done
}

press() {
    local id=$1 key=$2
    xdotool windowfocus "$id" 2>/dev/null
    local geometry
    geometry=$(xwininfo -id "$id" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF} END {print x+20, y+20}')
    xdotool mousemove $geometry
    xdotool key "$key"
}

client_size() {
    xwininfo -id "$1" | awk '/^  Width:/ {w=$2} /^  Height:/ {h=$2} END {print w "x" h}'
}

# A fullscreen window covers the screen at the origin and hides the cursor over it;
# an ordinary one keeps the cursor.
is_fullscreen() {
    local geometry
    geometry=$(xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF} /^  Width:/ {w=$2} /^  Height:/ {h=$2} END {print x "," y "," w "x" h}')
    [[ $geometry == "0,0,$screen_size" ]] || return 1
    xdotool mousemove 400 300
    sleep 0.2
    [[ $("$probe" cursor) == hidden ]]
}

answer_start_question() {
    local box
    box=$(wait_window "Start FullScreen?") || fail "no fullscreen question"
    press "$box" "$1"
}

case "$case_name" in
windowed_escape)
    start_xvfb 1024x768x24
    start_demo
    answer_start_question Escape
    win=$(wait_window Vornhal) || fail "no Vornhal window"
    [[ $(client_size "$win") == 800x600 ]] || fail "client area $(client_size "$win")"
    sleep 0.5
    press "$win" Escape
    wait_exit
    [[ $rc == 0 ]] || fail "exit status $rc"
    ;;
windowed_close)
    start_xvfb 1024x768x24
    start_demo
    answer_start_question Escape
    win=$(wait_window Vornhal) || fail "no Vornhal window"
    sleep 0.5
    "$probe" close "$win" || fail "could not ask the window to close"
    wait_exit
    [[ $rc == 0 ]] || fail "exit status $rc"
    ;;
fullscreen_toggle)
    start_xvfb 800x600x24
    start_demo
    answer_start_question Return
    first=$(wait_window Vornhal) || fail "no Vornhal window"
    [[ $(client_size "$first") == 800x600 ]] || fail "fullscreen size $(client_size "$first")"
    is_fullscreen "$first" || fail "first window is not fullscreen"
    sleep 0.5
    press "$first" F1
    second=$(wait_window Vornhal "$first") || fail "F1 made no new window"
    [[ $(client_size "$second") == 800x600 ]] || fail "windowed size $(client_size "$second")"
    is_fullscreen "$second" && fail "window after F1 is still fullscreen"
    sleep 0.5
    press "$second" F1
    third=$(wait_window Vornhal "$second") || fail "second F1 made no new window"
    is_fullscreen "$third" || fail "window after two F1 is not fullscreen"
    sleep 0.5
    press "$third" Escape
    wait_exit
    [[ $rc == 0 ]] || fail "exit status $rc"
    ;;
no_fullscreen_mode)
    start_xvfb 1024x768x24
    start_demo
    answer_start_question Return
    box=$(wait_window Oxlu) || fail "no windowed-mode question"
    [[ -z $(windows_titled Vornhal) ]] || fail "a window was created before the question"
    press "$box" Escape
    box=$(wait_window ERROR) || fail "no closing message"
    [[ -z $(windows_titled Vornhal) ]] || fail "a window was created after No"
    press "$box" Return
    wait_exit
    [[ $rc == 1 ]] || fail "exit status $rc"
    ;;
no_display)
    (cd "$source_dir" && exec env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER \
        SDL_AUDIODRIVER=dummy "$vornhal") >"$work/out" 2>&1 </dev/null &
    demo_pid=$!
    wait_exit
    [[ $rc == 1 ]] || fail "exit status $rc"
    grep -q "no display" "$work/out" || fail "no word about the missing display"
    ;;
*)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac
echo "ok ($case_name)"
