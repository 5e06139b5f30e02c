# Sourced by the script tests: an Xvfb of their own, the program under test in the
# background, windows found by title and driven with xdotool. A trap stops the program
# (and what it started) and the server on every way out, early failures included.
source "$(dirname "${BASH_SOURCE[0]}")/wait.sh"
# The sanitizer runs preload the GL driver (scripts/ci-sanitizers.sh) for the program
# under test alone: every server and tool here would start slower with it.
x11_preload=${LD_PRELOAD:-}
unset LD_PRELOAD
x11_work=$(mktemp -d) x11_server="" x11_demo="" x11_compositor=""
x11_stop() {
    [[ -n $x11_demo ]] && kill -9 -- "-$x11_demo" 2>/dev/null
    [[ -n $x11_compositor ]] && kill -- "-$x11_compositor" 2>/dev/null
    [[ -n $x11_server ]] && kill "$x11_server" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$x11_work"
}
trap x11_stop EXIT
trap 'exit 143' TERM INT HUP

# Says what failed, shows the program's output, fails the test.
x11_fail() {
    echo "FAIL: $*" >&2
    tail -c 4000 "$x11_work/out" >&2 2>/dev/null
    exit 1
}

# An X server with one screen of the given size (WxHxDEPTH) on a display number it picks;
# servers started side by side can race for a number, so a silent one is replaced. A
# server command after the size (Xorg and its options) replaces Xvfb.
x11_start() {
    local server=(Xvfb -screen 0 "$1") && (($# > 1)) && server=("${@:2}")
    for _ in 1 2 3; do
        "${server[@]}" -displayfd 3 -nolisten tcp -noreset 3>"$x11_work/display" \
            2>"$x11_work/xvfb.log" &
        x11_server=$!
        for _ in $(seq 100); do
            export DISPLAY=":$(head -n1 "$x11_work/display")"
            [[ $DISPLAY != : ]] && xwininfo -root >/dev/null 2>&1 && return 0
            sleep 0.05
        done
        kill "$x11_server" 2>/dev/null
    done
    x11_fail "${server[0]} did not start: $(cat "$x11_work/xvfb.log")"
}

# Runs a command in a directory, in the background and in a process group of its own
# (whatever it starts goes with it), its output kept for x11_fail.
x11_launch() {
    (cd "$1" && shift && LD_PRELOAD=$x11_preload exec setsid "$@") >"$x11_work/out" 2>&1 </dev/null &
    x11_demo=$!
}

x11_windows() { xwininfo -root -tree 2>/dev/null | grep -F "\"$1\":" | awk '{print $1}'; }
x11_no_window() { [[ -z $(x11_windows "$1") ]]; }

# Prints the id of a window titled $1 other than $2, waiting while the program runs, up
# to $3 seconds (30: only a hung program takes that long).
x11_wait() {
    for _ in $(seq $((${3:-30} * 20))); do
        x11_windows "$1" | grep -v -x -F "${2:-none}" | grep -m1 . && return 0
        kill -0 "$x11_demo" 2>/dev/null || return 1
        sleep 0.05
    done
    return 1
}

# Presses $2 on window $1 and waits for what every key pressed here does: the window goes
# (a question answered, the window reopened by F1, the show ended). The next dialog may
# come back under the same id, so a changed title counts as gone too. A key that came
# before the server gave the window the keyboard is lost, so it is pressed again every
# 3 s while the window stays; 30 s on, the test fails.
x11_press() {
    local before
    before=$(x11_title "$1")
    for _ in $(seq 10); do
        xdotool windowfocus "$1" 2>/dev/null
        xdotool mousemove --window "$1" 20 20 key "$2" 2>/dev/null
        for _ in $(seq 60); do
            [[ $(x11_title "$1") == "$before" ]] || return 0
            sleep 0.05
        done
    done
    x11_fail "$2 pressed on window $1, still there 30 s on"
}
x11_title() { xwininfo -id "$1" 2>/dev/null | sed -n 's/^xwininfo: Window id: [^ ]* //p'; }

# "X,Y,WxH": the window's place on the screen and its client size.
x11_geometry() {
    xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
        /^  Width:/ {w=$2} /^  Height:/ {h=$2} END {print x "," y "," w "x" h}'
}

# Pixels that are not black in a picture: a file, or the screen through x11grab.
x11_lit_pixels() {
    ffmpeg -nostdin -v error "$@" -frames:v 1 -f rawvideo -pix_fmt gray - 2>/dev/null | tr -d '\000' | wc -c
}
# The lit pixels in each rectangle "X Y W H" of the screen $DISPLAY, on one line, all
# from one grab (a grab per rectangle is slow on a busy server, and sees other frames).
x11_lit_in() {
    local i=0 rect x y w h split="" crops="" outputs=()
    for rect in "$@"; do
        read -r x y w h <<<"$rect"
        split+="[s$i]" crops+=";[s$i]crop=$w:$h:$x:$y[c$i]"
        outputs+=(-map "[c$i]" -frames:v 1 -f rawvideo -pix_fmt gray -y "$x11_work/lit$i")
        ((++i))
    done
    ffmpeg -nostdin -v error -f x11grab -draw_mouse 0 -i "$DISPLAY" \
        -filter_complex "[0]split=$#$split$crops" "${outputs[@]}" 2>/dev/null || return 1
    for ((i = 0; i < $#; ++i)); do
        printf '%s ' "$(tr -d '\000' <"$x11_work/lit$i" | wc -c)"
    done
    echo
}

# Waits for the program to end (30 s at most: only a hung one takes that long), and fails
# unless its status is $1.
x11_expect_exit() {
    wait_for "the program to end" 30 x11_ended || x11_fail "still running 30 s on"
    wait "$x11_demo"
    local status=$?
    x11_demo=""
    [[ $status == "$1" ]] || x11_fail "exit status $status, not $1"
}
x11_ended() { ! kill -0 "$x11_demo" 2>/dev/null; }

# A Wayland desktop in the X server: weston on its x11 backend (its headless one has no
# seat, without which SDL's Wayland start crashes), the same size as the screen, in a
# runtime directory of its own; extra options (--xwayland) follow. Sets WAYLAND_DISPLAY,
# and x11_weston to weston's X window, which passes keys on to the focused client.
x11_start_weston() {
    export XDG_RUNTIME_DIR=$x11_work/runtime
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    local size
    size=$(xwininfo -root | awk '/^  Width:/ {w=$2} /^  Height:/ {h=$2} END {print w, h}')
    setsid weston --backend=x11-backend.so --socket=vornhal-test --width="${size% *}" \
        --height="${size#* }" --idle-time=0 "$@" >"$x11_work/weston.log" 2>&1 </dev/null &
    x11_compositor=$!
    export WAYLAND_DISPLAY=vornhal-test
    wait_for weston 10 x11_compositor_up "Weston Compositor - screen0" ||
        x11_fail "weston did not start: $(tail -5 "$x11_work/weston.log")"
}
# GNOME's compositor nested in the X server, which offers no relative pointers, in a
# D-Bus session and a runtime directory of its own. Sets WAYLAND_DISPLAY, and
# x11_weston to mutter's X window, which passes keys on to the focused client.
x11_start_mutter() {
    export XDG_RUNTIME_DIR=$x11_work/runtime
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    MUTTER_DEBUG_DUMMY_MODE_SPECS=1024x768 setsid dbus-run-session -- mutter --wayland \
        --nested --no-x11 --wayland-display vornhal-test >"$x11_work/mutter.log" 2>&1 </dev/null &
    x11_compositor=$!
    export WAYLAND_DISPLAY=vornhal-test
    wait_for mutter 20 x11_compositor_up mutter ||
        x11_fail "mutter did not start: $(tail -5 "$x11_work/mutter.log")"
}
# Whether the compositor's socket is there and its X window, titled $1 (x11_weston).
x11_compositor_up() {
    x11_weston=$(xwininfo -root -tree 2>/dev/null | grep -F "\"$1\"" | awk '{print $1; exit}')
    [[ -S $XDG_RUNTIME_DIR/$WAYLAND_DISPLAY && -n $x11_weston ]]
}
