#!/usr/bin/env bash
# The real program on a Wayland desktop (weston, or GNOME's mutter, in an Xvfb):
# natively, where F1 must switch the one window between fullscreen and framed without
# a crash and without ever locking the pointer (mutter nested offers no relative
# pointers, where a lock crashed on its release), and through XWayland, where
# fullscreen is a window of the whole screen rather than a real 800 x 600 mode. Either
# way the picture fills the screen with its aspect kept. On a compositor without a seat
# it plays through XWayland, or says why it cannot, where SDL alone would crash.
# Usage: wayland_test.sh CASE VORNHAL SOURCE_DIR
set -uo pipefail
source "$(dirname "$0")/../lib/x11.sh"
vornhal=$2 run_dir=$x11_work/run
mkdir -p "$run_dir" && cp -r "$3/data" "$run_dir"
x11_start 1024x768x24
screen=$DISPLAY

# The 800 x 600 picture scaled to 1024 x 768 puts the strip at rows 288 to 479: its
# left and right ends show the picture, the bands above and below are black. A
# compositor under load takes its time to switch: 30 s.
fills_screen() {
    wait_for "$1 to fill the screen" 30 strip_only_lit || x11_fail "$1: $(cat "$x11_work/lit")"
}
strip_only_lit() {
    local left right above below
    read -r left right above below < <(DISPLAY=$screen x11_lit_in "0 300 60 170" \
        "964 300 60 170" "0 0 1024 280" "0 490 1024 278")
    echo "lit: strip ends $left and $right, above $above, below $below" >"$x11_work/lit"
    ((left > 0 && right > 0 && above == 0 && below == 0))
}

# The display of weston's XWayland, which it starts once asked for it.
xwayland_display() {
    wait_for "XWayland" 10 grep -q 'xserver listening on display' "$x11_work/weston.log" ||
        x11_fail "no XWayland: $(tail -5 "$x11_work/weston.log")"
    grep -o 'xserver listening on display :[0-9]*' "$x11_work/weston.log" | grep -o ':[0-9]*$'
}
focus_is() { [[ -n $1 && $(xdotool getwindowfocus 2>/dev/null) == "$(($1))" ]]; }

# Frames the program has presented so far: its surface commits in the protocol trace.
commits() { grep -c '\.commit()' "$x11_work/out"; }
# The compositor gives the keyboard to the window under a click; mutter's X window
# takes keys only once it has the X focus itself. weston follows the X pointer by its
# motion alone, so it goes to a corner first, then to the centre.
press() {
    [[ $1 == mutter ]] && xdotool windowfocus "$x11_weston" 2>/dev/null
    xdotool mousemove --window "$x11_weston" 1 1 sleep 0.2 \
        mousemove --window "$x11_weston" 512 384 click 1 sleep 0.3 \
        key --window "$x11_weston" "$2" 2>/dev/null
}
# How many requests $1 the program has made; whether it made one more than $2 (or, for
# none, ended).
requests() { grep -c -F -- "${1:-none}" "$x11_work/out"; }
taken() { if [[ -n $1 ]]; then (($(requests "$1") > $2)); else x11_ended; fi; }
# Whether the program has presented 5 frames more than $1 (or ended).
frames_after() { (($(commits) >= $1 + 5)) || x11_ended; }

case $1 in
native | mutter) # Framed, F1 to fullscreen and back, Escape: the show goes on throughout.
    if [[ $1 == mutter ]]; then x11_start_mutter; else x11_start_weston; fi
    x11_launch "$run_dir" env SDL_AUDIODRIVER=dummy SDL_VIDEODRIVER=wayland WAYLAND_DEBUG=client \
        "$vornhal" --window
    drawn=0
    # Each key and the request that shows the program took it (Escape: its end).
    for step in "F1 .set_fullscreen(" "F1 .unset_fullscreen(" "Escape"; do
        read -r key request <<<"$step"
        # The window is up and the show goes on (after a toggle too) before each key.
        wait_for "frames" 30 frames_after "$drawn" && ! x11_ended || break
        drawn=$(commits) asked=$(requests "$request")
        # A key that comes before the compositor gives the window the keyboard is lost:
        # it is pressed again while nothing shows it was taken, three times at most.
        for _ in 1 2 3; do
            press "$1" "$key"
            wait_for "$key to be taken" 10 taken "$request" "$asked" && break
        done
        [[ $request == .set_fullscreen\( ]] && fills_screen "fullscreen"
    done
    x11_expect_exit 0
    grep -q "lock_pointer(" "$x11_work/out" && x11_fail "the pointer was locked"
    grep -q 'set_app_id("org.vornhal.Vornhal")' "$x11_work/out" ||
        x11_fail "app id: $(grep -o 'set_app_id([^)]*)' "$x11_work/out" | head -n 1)"
    ;;
xwayland) # Yes to the question: fullscreen fills the screen; F1; Escape.
    x11_start_weston --xwayland
    export DISPLAY=$(xwayland_display)
    x11_launch "$run_dir" env -u WAYLAND_DISPLAY SDL_AUDIODRIVER=dummy "$vornhal"
    box=$(x11_wait "Start FullScreen?") || x11_fail "no fullscreen question"
    x11_press "$box" Return
    win=$(x11_wait Vornhal) || x11_fail "no window"
    fills_screen "XWayland fullscreen"
    # Another window takes the keyboard (a message, a notification): the show stays
    # fullscreen, now and once that window has gone.
    xmessage -name other "another window" &
    other=$!
    wait_for "the other window to take the keyboard" 30 focus_is "$(x11_wait other)"
    xprop -id "$win" _NET_WM_STATE | grep -q _NET_WM_STATE_FULLSCREEN ||
        x11_fail "out of fullscreen when the keyboard went: $(xprop -id "$win" _NET_WM_STATE)"
    kill "$other" && wait "$other"
    fills_screen "XWayland fullscreen, the other window gone"
    x11_press "$win" F1
    win=$(x11_wait Vornhal "$win") || x11_fail "no window after F1"
    x11_press "$win" Escape && x11_expect_exit 0
    ;;
seatless) # weston with no input device: no seat, on which SDL's Wayland start crashes.
    export XDG_RUNTIME_DIR=$x11_work/runtime WAYLAND_DISPLAY=vornhal-test
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    setsid weston --backend=headless-backend.so --socket=vornhal-test --idle-time=0 \
        --xwayland >"$x11_work/weston.log" 2>&1 </dev/null &
    x11_compositor=$!
    wait_for "weston" 30 test -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" || x11_fail "no weston"
    # Without an X server to turn to: one line, and status 1.
    (cd "$run_dir" && env -u DISPLAY SDL_VIDEODRIVER=wayland SDL_AUDIODRIVER=dummy \
        "$vornhal" --window) >"$x11_work/out" 2>&1
    status=$?
    [[ $status == 1 && $(grep -c . "$x11_work/out") == 1 ]] && grep -q "no seat" "$x11_work/out" ||
        x11_fail "without X: status $status"
    # With XWayland: the show plays there. Nobody can press a key on a desktop without
    # a seat (a key sent to its XWayland crashes that), so SIGTERM ends it.
    export DISPLAY=$(xwayland_display)
    x11_launch "$run_dir" env SDL_VIDEODRIVER=wayland SDL_AUDIODRIVER=dummy "$vornhal" --window
    x11_wait Vornhal >/dev/null || x11_fail "no window on XWayland"
    kill -TERM "$x11_demo" && x11_expect_exit 143
    grep -q "playing on X" "$x11_work/out" || x11_fail "no word of playing on X"
    ;;
*) x11_fail "unknown case $1" ;;
esac
echo "ok ($1)"
