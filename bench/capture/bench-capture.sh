#!/usr/bin/env bash
# Capture speed: the show captured to an MP4 by one rendering process (--jobs 1)
# and by the default, one per CPU core, alternated so that both meet the same load.
# Prints each one's wall time, frames a second and ratio to real time, then the
# default's wall over --jobs 1's (goal on two cores: at most 0.75), and whether the
# two MP4s are the same bytes. With --repeat N the pair runs N times and the fastest
# of each counts.
#
#   vornhal-bench-capture [--repeat N] [--fps N] [--from MS] [--to MS]
#   (default: the whole show at 60 fps, once)
set -euo pipefail

capture="@CAPTURE@"
source_dir="@SOURCE_DIR@"
repeat=1
args=()
while (($#)); do
    if [[ $1 == --repeat ]]; then
        repeat=$2
        shift 2
    else
        args+=("$1")
        shift
    fi
done
[[ " ${args[*]-} " == *" --fps "* ]] || args=(--fps 60 "${args[@]}")
fps=60
for ((i = 0; i < ${#args[@]}; i++)); do
    [[ ${args[i]} == --fps ]] && fps=${args[i + 1]}
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$source_dir" # the capture reads data/ below the working directory

# Captures to $work/$1.mp4 with the further options given; sets wall_ns and frames.
measure() {
    local name=$1 start end
    shift
    start=$(date +%s%N)
    if ! SDL_VIDEODRIVER=offscreen "$capture" video "$work/$name.mp4" "$@" 2>"$work/log"; then
        cat "$work/log" >&2
        exit 1
    fi
    end=$(date +%s%N)
    wall_ns=$((end - start))
    frames=$(grep -oE '[0-9]+ frames' "$work/log" | tail -1 | grep -oE '[0-9]+')
}

report() { # label wall_ns
    awk -v label="$1" -v ns="$2" -v n="$frames" -v fps="$fps" 'BEGIN {
        wall = ns / 1e9; show = n / fps;
        printf "%-28s %8.1f s wall  %6.1f frames/s  %5.2f x real time (%.1f s of show)\n",
               label, wall, n / wall, wall / show, show }'
}

cores=$(nproc)
echo "vornhal-bench-capture: $cores CPU cores, load $(cut -d" " -f1-3 /proc/loadavg);" \
    "video ${args[*]}, best of $repeat"
best_one=0 best_all=0
for ((r = 0; r < repeat; r++)); do
    measure one "${args[@]}" --jobs 1
    if ((best_one == 0 || wall_ns < best_one)); then best_one=$wall_ns; fi
    measure all "${args[@]}"
    if ((best_all == 0 || wall_ns < best_all)); then best_all=$wall_ns; fi
done
report "--jobs 1" "$best_one"
report "default (--jobs $cores)" "$best_all"
awk -v a="$best_all" -v b="$best_one" 'BEGIN {
    printf "%-28s %8.2f (goal on two cores: at most 0.75)\n", "default / --jobs 1", a / b }'
if cmp -s "$work/one.mp4" "$work/all.mp4"; then same=yes; else same=no; fi
echo "MP4s the same bytes: $same; streams (codec, frames, seconds):"
ffprobe -v error -show_entries stream=codec_name,nb_frames,duration -of csv=p=0 "$work/all.mp4"
echo "load at the end: $(cut -d" " -f1-3 /proc/loadavg)"
