#!/usr/bin/env bash
# Capture speed. Renders the show with no output at all (video --null), then captures
# the same frames to an MP4 with the soundtrack, and prints for each: frames a second,
# wall time and the ratio to real time; then capture time over render-only time,
# which shows whether encoding hides behind rendering (target: at most 1.2).
# With --repeat N the two alternate N times and the fastest of each counts, which
# keeps a busy machine's noise out of the ratio.
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

# Runs one capture; sets wall_ns and frames.
measure() {
    local start end
    start=$(date +%s%N)
    if ! SDL_VIDEODRIVER=offscreen "$capture" video "$@" 2>"$work/log"; then
        cat "$work/log" >&2
        exit 1
    fi
    end=$(date +%s%N)
    wall_ns=$((end - start))
    frames=$(grep -oE '(rendered )?[0-9]+ frames' "$work/log" | tail -1 | grep -oE '[0-9]+')
}

report() { # label wall_ns
    awk -v label="$1" -v ns="$2" -v n="$frames" -v fps="$fps" 'BEGIN {
        wall = ns / 1e9; show = n / fps;
        printf "%-24s %8.1f s wall  %6.1f frames/s  %5.2f x real time (%.1f s of show)\n",
               label, wall, n / wall, wall / show, show }'
}

echo "vornhal-bench-capture: $(nproc) CPU cores, load $(cut -d" " -f1-3 /proc/loadavg);" \
    "video ${args[*]}, best of $repeat"
best_null=0 best_capture=0
for ((r = 0; r < repeat; r++)); do
    measure --null "${args[@]}"
    if ((best_null == 0 || wall_ns < best_null)); then best_null=$wall_ns; fi
    measure "$work/bench.mp4" "${args[@]}"
    if ((best_capture == 0 || wall_ns < best_capture)); then best_capture=$wall_ns; fi
done
report "render only (--null)" "$best_null"
report "capture to MP4" "$best_capture"
awk -v a="$best_capture" -v b="$best_null" 'BEGIN {
    printf "%-24s %8.2f (target: at most 1.20)\n", "capture / render only", a / b }'
echo "MP4: $(stat -c %s "$work/bench.mp4") bytes; streams (codec, frames, seconds):"
ffprobe -v error -show_entries stream=codec_name,nb_frames,duration -of csv=p=0 "$work/bench.mp4"
echo "load at the end: $(cut -d" " -f1-3 /proc/loadavg)"
