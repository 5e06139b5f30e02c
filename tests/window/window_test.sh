#!/usr/bin/env bash
# The real program end to end under its own Xvfb, its dialogs answered as a user would
# (Return: Yes or OK, Escape: No). Usage: window_test.sh CASE VORNHAL CLOSE_PROBE SOURCE_DIR
set -uo pipefail
source "$(dirname "$0")/../lib/x11.sh"
vornhal=$2 probe=$3 run_dir=$x11_work/run
mkdir -p "$run_dir" && cp -r "$4/data" "$run_dir"

# Starts the demo on a screen of the given size and answers the fullscreen question;
# further arguments go to the demo.
start() {
    x11_start "$1"
    x11_launch "$run_dir" env SDL_AUDIODRIVER=dummy "$vornhal" "${@:3}"
    box=$(x11_wait "Start FullScreen?") || x11_fail "no fullscreen question"
    x11_press "$box" "$2"
}

# Prints the id of a new "Vornhal" window (not $1) with an 800 x 600 client area,
# fullscreen or not as $2 says. The cursor tells them apart, hidden over a fullscreen
# window only: it is looked for in the top letterbox band, where the picture is black.
cursor_shown() {
    (($(x11_lit_pixels -f x11grab -draw_mouse 1 -video_size 40x40 -i "$DISPLAY+$1,$2") > 0))
}
window() {
    local win geometry x y lit
    win=$(x11_wait Vornhal "$1") || x11_fail "no new Vornhal window"
    geometry=$(x11_geometry "$win")
    [[ ${geometry##*,} == 800x600 ]] || x11_fail "client area ${geometry##*,}"
    # Its class is the desktop entry's name, so a desktop matches the two.
    [[ $(xprop -id "$win" WM_CLASS) == *'"org.vornhal.Vornhal"'* ]] ||
        x11_fail "window class $(xprop -id "$win" WM_CLASS)"
    # The pointer over the top band: a window shows it (once it has come), a fullscreen
    # one, which hides it before it is made, never does.
    xdotool mousemove --window "$win" 400 100
    IFS=, read -r x y _ <<<"$geometry"
    if [[ $2 == windowed ]]; then
        wait_for "the cursor over the window" 10 cursor_shown $((x + 380)) $((y + 80)) ||
            x11_fail "the cursor is hidden over a window"
    else
        cursor_shown $((x + 380)) $((y + 80)) || [[ $geometry != 0,0,* ]] &&
            x11_fail "not fullscreen: $geometry"
    fi
    echo "$win"
}

case $1 in
fullscreen_toggle) # Yes where 800 x 600 is offered; F1 twice; Escape.
    start 800x600x24 Return
    win=$(window none fullscreen) || exit 1
    x11_press "$win" F1
    win=$(window "$win" windowed) || exit 1
    x11_press "$win" F1
    win=$(window "$win" fullscreen) || exit 1
    x11_press "$win" Escape && x11_expect_exit 0
    ;;
windowed_close) # No, without the soundtrack (its folder named, or the build tree's would
    # be found): the show runs silent in a window that draws, saying so once; closed as
    # a window manager asks.
    rm "$run_dir/data/music.mp3"
    start 1024x768x24 Escape --data data
    win=$(window none windowed) || exit 1
    origin=$(x11_geometry "$win")
    lit=$(x11_lit_pixels -f x11grab -video_size 800x600 -i "$DISPLAY+${origin%,*}")
    ((lit > 1000)) || x11_fail "the window shows nothing ($lit lit pixels)"
    "$probe" "$win" && x11_expect_exit 0 || x11_fail "could not ask the window to close"
    grep -q -x "File Not Found" "$x11_work/out" || x11_fail "no 'File Not Found'"
    [[ $(grep -c data/ "$x11_work/out") == 1 ]] || x11_fail "not one word on the missing file"
    ;;
fallback) # Yes where 800 x 600 is not offered: a window is offered instead, before any
    # is made; No makes none and ends with an error.
    start 1024x768x24 Return
    box=$(x11_wait Oxlu) || x11_fail "no windowed-mode question"
    [[ -z $(x11_windows Vornhal) ]] || x11_fail "a window was made before the answer"
    x11_press "$box" Escape
    box=$(x11_wait ERROR) || x11_fail "no closing message"
    [[ -z $(x11_windows Vornhal) ]] || x11_fail "a window was made after No"
    x11_press "$box" Return && x11_expect_exit 1
    ;;
resized) # Started with --window, no question asked; resized as a user would, the whole
    # picture fills the window with its aspect kept: rectangles "X Y W H" of the client
    # area that show part of the strip (lit) and that are only bars or bands (black).
    x11_start 1600x1200x24
    x11_launch "$run_dir" env SDL_AUDIODRIVER=dummy "$vornhal" --window
    win=$(x11_wait Vornhal) || x11_fail "no window"
    [[ -z $(x11_windows "Start FullScreen?") ]] || x11_fail "--window still asked"
    # The rectangles on the screen, from one grab: lit, lit, dark, dark.
    picture_in_place() {
        local rects=() rect x y w h ox oy lit
        IFS=, read -r ox oy _ <<<"$(x11_geometry "$win")"
        for rect in "$@"; do
            read -r x y w h <<<"${rect//_/ }" && rects+=("$((ox + x)) $((oy + y)) $w $h")
        done
        read -ra lit < <(x11_lit_in "${rects[@]}")
        echo "lit: ${lit[*]}" >"$x11_work/lit"
        ((lit[0] > 0 && lit[1] > 0 && lit[2] == 0 && lit[3] == 0))
    }
    size_is() { [[ $(x11_geometry "$win") == *",$1" ]]; }
    while read -r size lit_left lit_right dark_a dark_b; do
        xdotool windowsize "$win" "${size%x*}" "${size#*x}"
        wait_for "client area $size" 10 size_is "$size" ||
            x11_fail "client area $(x11_geometry "$win"), not $size"
        wait_for "the picture in place at $size" 10 picture_in_place "$lit_left" "$lit_right" \
            "$dark_a" "$dark_b" || x11_fail "$size: $lit_left $lit_right lit, $dark_a $dark_b dark? $(cat "$x11_work/lit")"
    done <<'END'
1200x900 0_345_60_210 1140_345_60_210 0_0_1200_330 0_572_1200_328
1280x600 240_230_60_140 980_230_60_140 0_0_236_600 1044_0_236_600
640x480 0_184_50_112 590_184_50_112 0_0_640_176 0_304_640_176
END
    x11_press "$win" Escape && x11_expect_exit 0
    ;;
kiosk) # --fullscreen where 800 x 600 is not offered: no question, the desktop's own
    # mode filled, the strip lit across the screen's whole width.
    x11_start 1024x768x24
    x11_launch "$run_dir" env SDL_AUDIODRIVER=dummy "$vornhal" --fullscreen
    win=$(x11_wait Vornhal) || x11_fail "no window"
    strip_across() { read -ra lit < <(x11_lit_in "0 309 20 150" "1004 309 20 150") &&
        ((lit[0] > 0 && lit[1] > 0)); }
    wait_for "the strip lit across the screen" 10 strip_across || x11_fail "nothing shown at its ends"
    [[ -z $(x11_windows Oxlu)$(x11_windows "Start FullScreen?") ]] || x11_fail "a question was asked"
    [[ $(x11_geometry "$win") == 0,0,1024x768 ]] || x11_fail "not fullscreen: $(x11_geometry "$win")"
    x11_press "$win" Escape && x11_expect_exit 0
    ;;
interrupted) # Ctrl-C, and in further runs SIGTERM and SIGKILL, while the start question
    # waits: the program ends with 128 + the signal, and its question goes with it.
    x11_start 1024x768x24
    for signal in INT TERM KILL; do
        x11_launch "$run_dir" env SDL_AUDIODRIVER=dummy "$vornhal"
        x11_wait "Start FullScreen?" >/dev/null || x11_fail "no fullscreen question"
        kill -"$signal" "$x11_demo"
        x11_expect_exit $((128 + $(kill -l "$signal")))
        wait_for "the question to go with the program" 5 x11_no_window "Start FullScreen?" ||
            x11_fail "the question outlived SIG$signal"
    done
    ;;
no_display)
    x11_launch "$run_dir" env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER "$vornhal"
    x11_expect_exit 1
    grep -q "no display" "$x11_work/out" || x11_fail "no word about the missing display"
    status=0 && "$vornhal" --help >/dev/full 2>"$x11_work/out" || status=$?
    ((status == 1)) || x11_fail "--help into a full disk: status $status"
    ;;
*) x11_fail "unknown case $1" ;;
esac
echo "ok ($1)"
