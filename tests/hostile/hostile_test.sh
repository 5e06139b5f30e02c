#!/usr/bin/env bash
# Hostile data end to end. For one data file (bg.png, fg.png, trelm.png or music.mp3)
# every way of breaking it in turn, each in a scratch working directory holding a copy
# of data/ with that file broken:
#   - the demo under its own Xvfb starts (the fullscreen question answered No), shows a
#     window that draws, and ends on Escape with status 0;
#   - vornhal-capture frame still writes a frame that is not all black;
#   - standard error names the broken file at most once, and names no other file;
#   - the working directory holds exactly what it held before.
# With VIEWING_GAMMA as the file argument, garbage values of that variable instead:
# the captured frame must equal the one rendered without it.
# Usage: hostile_test.sh FILE|VIEWING_GAMMA VORNHAL CAPTURE DATA_DIR
set -uo pipefail

target=$1
vornhal=$(realpath "$2")
capture=$(realpath "$3")
data_dir=$(realpath "$4")
# A PNG whose header declares 2^30 x 2^30 pixels, with valid CRCs.
hostile_data=$(dirname "$0")/data

scratch=$(mktemp -d)
xvfb_pid=""
demo_pid=""
failures=0
demo_lit=0
capture_lit=0

cleanup() {
    [[ -n "$demo_pid" ]] && kill -9 "$demo_pid" 2>/dev/null
    [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT

fail() {
    echo "FAIL ($target, $case_name): $*" >&2
    for f in "$scratch"/out/*; do
        [[ -s "$f" ]] && { echo "--- $(basename "$f"):" >&2; head -c 4000 "$f" >&2; }
    done
    failures=$((failures + 1))
}

# Every file under a directory with its size and contents' checksum.
snapshot() {
    (cd "$1" && find . -printf '%p %y %s\n' | sort && find . -type f -print0 | sort -z |
        xargs -0 -r md5sum)
}

# Pixels of a PNG (or of the X screen, with x11grab) that are not black.
lit_pixels() {
    ffmpeg -v error "$@" -frames:v 1 -f rawvideo -pix_fmt gray - 2>/dev/null | tr -d '\000' | wc -c
}

# --- the broken files -------------------------------------------------------------

# Breaks data/$target in the scratch copy in the named way.
break_file() {
    local path=$1/data/$target
    case $2 in
    missing) rm -f "$path" ;;
    empty) : >"$path" ;;
    truncated)
        local size
        size=$(stat -c %s "$path")
        truncate -s $((size / 2)) "$path"
        ;;
    garbage) yes "this is not the file you are looking for" | head -c 65536 >"$path" ;;
    huge) cp "$hostile_data/declared-huge.png" "$path" ;;
    esac
}

# --- the two programs ---------------------------------------------------------------

start_xvfb() {
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$scratch/display" \
        2>"$scratch/xvfb.log" &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [[ -s "$scratch/display" ]] && break
        sleep 0.05
    done
    [[ -s "$scratch/display" ]] || { echo "FAIL: Xvfb did not start" >&2; exit 1; }
    export DISPLAY=":$(head -n1 "$scratch/display")"
}

windows_titled() {
    xwininfo -root -tree 2>/dev/null | grep -F "\"$1\":" | awk '{print $1}'
}

# Waits up to 15 s for a window with the title and prints its id.
wait_window() {
    local id
    for _ in $(seq 300); do
        id=$(windows_titled "$1" | head -n1)
        [[ -n "$id" ]] && { echo "$id"; return 0; }
        kill -0 "$demo_pid" 2>/dev/null || return 1
        sleep 0.05
    done
    return 1
}

press() {
    xdotool windowfocus "$1" 2>/dev/null
    xdotool key "$2"
}

window_origin() {
    xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF} END {print x "," y}'
}

# Runs the demo in $1, answers No, checks that it draws, ends it with Escape.
run_demo() {
    (cd "$1" && exec env SDL_AUDIODRIVER=dummy "$vornhal") \
        >"$scratch/out/demo.stdout" 2>"$scratch/out/demo.stderr" </dev/null &
    demo_pid=$!
    local box win
    box=$(wait_window "Start FullScreen?") || { fail "no fullscreen question"; return; }
    press "$box" Escape
    win=$(wait_window Vornhal) || { fail "no Vornhal window"; return; }
    sleep 1.5
    kill -0 "$demo_pid" 2>/dev/null || { fail "the demo ended by itself"; return; }
    local lit
    lit=$(lit_pixels -f x11grab -video_size 800x600 -i "$DISPLAY+$(window_origin "$win")")
    ((lit > 1000)) || fail "the window shows nothing ($lit lit pixels)"
    demo_lit=$lit
    press "$win" Escape
    local rc=timeout
    for _ in $(seq 200); do
        if ! kill -0 "$demo_pid" 2>/dev/null; then
            wait "$demo_pid"
            rc=$?
            break
        fi
        sleep 0.05
    done
    [[ $rc == timeout ]] && kill -9 "$demo_pid" 2>/dev/null
    demo_pid=""
    [[ $rc == 0 ]] || fail "demo exit status $rc"
}

# Renders one frame in $1 into $2 (outside the working directory); extra arguments go
# before the command, as environment settings.
run_capture() {
    local dir=$1 out=$2
    shift 2
    (cd "$dir" && exec env "$@" timeout 120 "$capture" frame 20000 "$out") \
        >"$scratch/out/capture.stdout" 2>"$scratch/out/capture.stderr" </dev/null
    local rc=$?
    [[ $rc == 0 ]] || fail "capture exit status $rc"
    [[ -s $out ]] || { fail "capture wrote no frame"; return; }
    local lit
    lit=$(lit_pixels -i "$out")
    ((lit > 1000)) || fail "the captured frame is black ($lit lit pixels)"
    capture_lit=$lit
}

# The broken file named at most once (exactly once when $2 says so) on standard error,
# and no other data file named.
check_stderr() {
    local log=$1 expected=$2 named
    named=$(grep -c -F "data/$target" "$log")
    if [[ $expected == once ]]; then
        [[ $named == 1 ]] || fail "$(basename "$log") names data/$target $named times, not once"
    else
        ((named <= 1)) || fail "$(basename "$log") names data/$target $named times"
    fi
    local other
    for other in bg.png fg.png trelm.png music.mp3; do
        [[ $other == "$target" ]] && continue
        grep -q -F "data/$other" "$log" && fail "$(basename "$log") names data/$other"
    done
}

# --- the cases ----------------------------------------------------------------------

mkdir -p "$scratch/out"

if [[ $target == VIEWING_GAMMA ]]; then
    case_name=reference
    mkdir -p "$scratch/work"
    cp -r "$data_dir" "$scratch/work/data"
    run_capture "$scratch/work" "$scratch/reference.png"
    for value in "" abc 0 -1 inf nan 1e400 2x "1.1 2" 99999999999999999999; do
        case_name="VIEWING_GAMMA='$value'"
        run_capture "$scratch/work" "$scratch/frame.png" VIEWING_GAMMA="$value"
        cmp -s "$scratch/reference.png" "$scratch/frame.png" ||
            fail "the frame differs from the one rendered without VIEWING_GAMMA"
        [[ -s "$scratch/out/capture.stderr" ]] && fail "capture complained"
    done
    exit $((failures > 0))
fi

cases=(missing empty truncated garbage)
[[ $target == *.png ]] && cases+=(huge)

start_xvfb
for case_name in "${cases[@]}"; do
    work="$scratch/work-$case_name"
    mkdir -p "$work"
    cp -r "$data_dir" "$work/data"
    break_file "$work" "$case_name"
    before=$(snapshot "$work")
    failures_before=$failures

    # A missing or broken image or soundtrack is named once, except a cut-off MP3,
    # which is a shorter soundtrack that plays as far as it goes.
    expected=once
    [[ $target == music.mp3 && $case_name == truncated ]] && expected=at_most_once

    run_demo "$work"
    check_stderr "$scratch/out/demo.stderr" "$expected"
    if [[ $target == music.mp3 && $case_name == missing ]]; then
        grep -q -x "File Not Found" "$scratch/out/demo.stdout" || fail "no 'File Not Found'"
    fi

    # The offline renderer reads no music: its clock is held.
    run_capture "$work" "$scratch/frame-$case_name.png"
    if [[ $target == *.png ]]; then
        check_stderr "$scratch/out/capture.stderr" "$expected"
    else
        check_stderr "$scratch/out/capture.stderr" at_most_once
    fi

    [[ "$(snapshot "$work")" == "$before" ]] || fail "the working directory changed"
    ((failures == failures_before)) || continue
    echo "ok ($target, $case_name): $demo_lit lit pixels in the window, $capture_lit in the frame;" \
        "demo: $(head -c 200 "$scratch/out/demo.stderr" | tr '\n' ' ')"
done
exit $((failures > 0))
