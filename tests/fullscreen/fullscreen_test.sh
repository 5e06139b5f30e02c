#!/usr/bin/env bash
# The real program fullscreen on an Xorg server that really switches modes (the dummy
# driver, xorg.conf here): Yes gives 800 x 600, F1 the desktop's 1024 x 768 and back, and
# however the show then ends the desktop goes back to 1024 x 768 and nothing of the
# program stays. Each step waits for what it needs (a window, the program's end), never
# for a fixed time, so a loaded machine only makes it slower; the seconds the desktop
# took to come back are printed. The mode guard starts with an empty signal mask, and
# SIGTERM ends it at once (the show then plays on and puts the mode back itself). Xorg
# runs as root only; elsewhere the test is skipped.
# Usage: fullscreen_test.sh END VORNHAL SOURCE_DIR, with END from the table below.
set -uo pipefail
source "$(dirname "$0")/../lib/x11.sh"
# How the show ends, and the exit status that gives.
declare -A status=([Escape]=0 [TERM]=143 [INT]=130 [KILL]=137 [ABRT]=134 [server]=1 [guard]=0)
end=$1 run_dir=$x11_work/run
[[ -n ${status[$end]:-} ]] || x11_fail "unknown end $end"
((EUID == 0)) || { echo "skipped: Xorg runs as root only" && exit 77; }
mkdir -p "$run_dir" && cp -r "$3/data" "$run_dir"
ulimit -c 0 # writing a core would hold the dying program's descriptors open meanwhile

mode() { xrandr --current 2>/dev/null | awk '/\*/ { print $1; exit }'; }
# The program's processes on this display whose name matches $1.
pids() {
    for dir in /proc/[0-9]*; do
        read -r name 2>/dev/null <"$dir/comm" && [[ $name == $1 ]] &&
            grep -qzx "DISPLAY=$DISPLAY" "$dir/environ" 2>/dev/null && echo "${dir#/proc/}"
    done
}
processes() { pids 'vornhal*' | grep -c .; } # the mode guard included
guard() { pids vornhal-mode-gu; }
no_guard() { [[ -z $(guard) ]]; }
# Waits for $1 to print $2; a hang shows as its value 30 s on.
within() {
    for _ in $(seq 600); do [[ $($1) == "$2" ]] && return 0 || sleep 0.05; done
    x11_fail "$1 is $($1), not $2, 30 s on ($end)"
}

x11_start - Xorg -sharevts -novtswitch -config "$(realpath "$(dirname "$0")")/xorg.conf" \
    -logfile "$x11_work/xorg.log"
# Background jobs of a script ignore SIGINT, and the program would inherit that.
x11_launch "$run_dir" env --default-signal=INT SDL_AUDIODRIVER=dummy "$2"
box=$(x11_wait "Start FullScreen?") || x11_fail "no fullscreen question"
x11_press "$box" Return
win=$(x11_wait Vornhal) || x11_fail "no window"
within mode 800x600 && within processes 2
guard=$(guard)
blocked=$(awk '/^SigBlk:/ {print $2}' "/proc/$guard/status")
[[ $blocked == 0000000000000000 ]] || x11_fail "the guard blocks signals $blocked"
x11_press "$win" F1
win=$(x11_wait Vornhal "$win") || x11_fail "no window after F1"
within mode 1024x768 && within processes 1
x11_press "$win" F1
win=$(x11_wait Vornhal "$win") || x11_fail "no window after F1 twice"
within mode 800x600 && within processes 2

ended=${EPOCHREALTIME/./}
case $end in
Escape) x11_press "$win" Escape ;;
guard)
    kill -TERM "$(guard)"
    wait_for "the guard to end on SIGTERM" 1 no_guard || x11_fail "the guard ignores SIGTERM"
    x11_press "$win" Escape
    ;;
server) kill "$x11_server" ;;
*) kill -s "$end" "$x11_demo" ;;
esac
[[ $end == server ]] || within mode 1024x768
within processes 0
x11_expect_exit "${status[$end]}"
echo "ok ($end; desktop back and program gone $(((${EPOCHREALTIME/./} - ended) / 1000)) ms on)"
