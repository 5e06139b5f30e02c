#!/usr/bin/env bash
# Hostile data through vornhal-capture: for one data file (bg.png, fg.png, trelm.png or
# music.mp3), every way of breaking it in turn, each in a scratch directory holding a copy
# of data/ with that file broken. The capture (a frame for an image, a short video for the
# soundtrack) still ends with status 0 and writes a picture that is not black, names the
# broken file on standard error once (at most once for a cut-off MP3, a shorter soundtrack
# that plays as far as it goes) and no other data file, and leaves the directory as it
# found it. (The demo meets a missing soundtrack in the window tests.)
# Usage: hostile_test.sh FILE CAPTURE DATA_DIR
set -uo pipefail
source "$(dirname "$0")/../lib/x11.sh"
target=$1 capture=$(realpath "$2") data_dir=$(realpath "$3")
# A PNG whose header declares 2^30 x 2^30 pixels, with valid CRCs.
declared_huge=$(realpath "$(dirname "$0")")/data/declared-huge.png

# Every file under a directory with its type, size and checksum.
snapshot() { (cd "$1" && find . -printf '%p %y %s\n' | sort && find . -type f -exec md5sum {} + | sort); }

ways=(missing empty truncated garbage)
out=$x11_work/clip.mp4 command=(video "$x11_work/clip.mp4" --from 20000 --to 20400 --fps 5)
if [[ $target == *.png ]]; then
    ways+=(huge) out=$x11_work/frame.png
    command=(frame 20000 "$out")
fi
for way in "${ways[@]}"; do
    work=$x11_work/$way
    mkdir -p "$work" && cp -r "$data_dir" "$work/data"
    path=$work/data/$target
    case $way in
    missing) rm "$path" ;;
    empty) : >"$path" ;;
    truncated) truncate -s $(($(stat -c %s "$path") / 2)) "$path" ;;
    garbage) yes "this is not the file you are looking for" | head -c 65536 >"$path" ;;
    huge) cp "$declared_huge" "$path" ;;
    esac
    before=$(snapshot "$work")
    # The folder named, so that a missing file is not found in the build tree instead.
    (cd "$work" && exec "$capture" "${command[@]}" --data data) >"$x11_work/out" 2>&1 ||
        x11_fail "$target $way: exit status $?"
    lit=$(x11_lit_pixels -i "$out")
    ((lit > 1000)) || x11_fail "$target $way: the picture is black ($lit lit pixels)"
    named=$(grep -c -F "data/$target" "$x11_work/out")
    expected=1
    [[ $way == truncated && $target == music.mp3 ]] && expected="0|1"
    [[ $named =~ ^($expected)$ ]] || x11_fail "$target $way: data/$target named $named times"
    [[ $(grep -c data/ "$x11_work/out") == "$named" ]] || x11_fail "$target $way: another data file named"
    [[ $(snapshot "$work") == "$before" ]] || x11_fail "$target $way: the working directory changed"
    rm -rf "$work" "$out"
done
echo "ok ($target)"
