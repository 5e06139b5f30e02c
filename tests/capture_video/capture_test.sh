#!/usr/bin/env bash
# vornhal-capture run as a user runs it, in a scratch directory holding the committed
# images and a chirp for music (a span off by one sample no longer matches it); what
# it writes is read back with ffprobe and ffmpeg.
#   capture_test.sh CAPTURE DATA_DIR video|same_frames_across_jobs|worker_dies|data_lookup
set -euo pipefail
capture=$(realpath "$1") data=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir data
ln -s "$data"/{bg,fg,trelm}.png data/
ffmpeg -v error -f lavfi -i \
    'aevalsrc=0.5*sin(2*PI*(200*t+150*t*t))|0.4*sin(2*PI*(300*t+100*t*t)):s=44100:d=5' \
    -c:a libmp3lame -b:a 192k data/music.mp3
fail() { echo "FAIL: $*" >&2 && exit 1; }

video() {
    "$capture" video out.mp4 --fps 30 --from 1500 --to 2500 2>log || fail "$(cat log)"
    [[ $(ls) == $'data\nlog\nout.mp4' ]] || fail "temporaries left: $(ls)"
    # What browsers play; picture and sound exactly as long as each other.
    local entries=codec_name,width,height,pix_fmt,r_frame_rate,nb_frames,sample_rate,channels,duration
    local streams
    streams=$(ffprobe -v error -of csv=p=0 -show_entries stream=$entries out.mp4)
    [[ $streams == $'h264,800,600,yuv420p,30/1,1.000000,30\naac,44100,2,0/0,1.000000,45' ]] ||
        fail "streams: $streams"
    # Frame 17 shows 1500 + floor(17000 / 30) = 2066 ms: it matches a render of that
    # moment, and better than its neighbours do.
    "$capture" frame 2066 at.png 2>log || fail "$(cat log)"
    local to_rgb=scale=flags=bicubic+accurate_rnd+full_chroma_int,format=rgb24 psnr
    psnr=($(ffmpeg -v error -i out.mp4 -i at.png -f null - -lavfi \
        "[0:v]select='between(n,16,18)',$to_rgb[a];[a][1:v]psnr=stats_file=-" |
        grep -o 'psnr_avg:[0-9.]*' | cut -d: -f2))
    awk -v a="${psnr[0]}" -v b="${psnr[1]}" -v c="${psnr[2]}" 'BEGIN { exit !(b > 35 && b > a && b > c) }' ||
        fail "frames 16-18 against the render: ${psnr[*]} dB"
    # --size: the same picture presented whole, 1000 x 750 centred in 1600 x 750 with
    # black bars at the sides.
    "$capture" frame 2066 wide.png --size 1600x750 2>log || fail "$(cat log)"
    lit() { ffmpeg -nostdin -v error -i wide.png -vf "crop=$1" -f rawvideo -pix_fmt gray - | tr -d '\000' | wc -c; }
    (($(lit 300:750:0:0) == 0 && $(lit 300:750:1300:0) == 0 && $(lit 1000:750:300:0) > 10000)) ||
        fail "--size 1600x750 is not the picture centred between black bars"
    # The sound is the music's own span from round(1500 * 44.1) = 66150 on.
    local span=atrim=start_sample=66150:end_sample=110250,asetpts=PTS-STARTPTS sdr
    sdr=($(ffmpeg -hide_banner -i out.mp4 -i data/music.mp3 -f null - -lavfi \
        "[1:a]$span[r];[0:a][r]asdr" 2>&1 | grep -o 'SDR ch[01]: [-0-9.]*' | cut -d' ' -f3))
    awk -v l="${sdr[0]}" -v r="${sdr[1]}" 'BEGIN { exit !(l > 40 && r > 40) }' ||
        fail "sound against the music's span: ${sdr[*]} dB"
}

same_frames_across_jobs() {
    # The show's last half second in one process and in three, each rendering every
    # third frame: the same bytes, up to the last frame before the end (141966 ms).
    "$capture" frames jobs-1 --fps 30 --from 141500 --jobs 1 2>log || fail "$(cat log)"
    "$capture" frames jobs-3 --fps 30 --from 141500 --jobs 3 2>log || fail "$(cat log)"
    [[ $(ls jobs-3) == $(printf 'frame-%06d.png\n' {0..14}) ]] || fail "frames: $(ls jobs-3)"
    [[ $(cd jobs-1 && sha256sum *) == $(cd jobs-3 && sha256sum *) ]] || fail "--jobs changed frames"
}

worker_dies() {
    # A render worker killed, then the capture itself told to stop: one line says what
    # happened, nothing is left behind, and no child outlives the capture.
    local victim signal expected_status message pid status children said
    while read -r victim signal expected_status message; do
        "$capture" video out.mp4 --fps 30 --to 60000 --jobs 3 2>log &
        pid=$! status=0
        timeout 60 bash -c 'until grep -q "frame 1 of" log; do sleep 0.1; done' || fail "$(cat log)"
        children=$(pgrep -P $pid | paste -sd,)
        [[ $victim == worker ]] && victim=$(pgrep -P $pid -x vornhal-capture | head -1) || victim=$pid
        kill -"$signal" "$victim"
        wait $pid || status=$?
        said=$(grep -v 'left$' log) # all but the progress lines
        [[ $status == "$expected_status" && $said == "vornhal-capture: "$message* &&
            $said != *$'\n'* ]] || fail "exit $status, said: $said"
        [[ $(ls) == $'data\nlog' ]] || fail "left behind: $(ls)"
        ! ps -o pid=,stat=,comm= -p "$children" || fail "children outlived the capture"
    done <<'END'
worker KILL 1 render worker ? of 3 was killed by signal 9
capture TERM 130 interrupted
END
}

data_lookup() {
    # Where the data files are read from, in order: data/ in the working directory,
    # --data over it, the build tree's data/ beside the executable from anywhere; and
    # one line naming every place looked in when none has any. The broken file names
    # the folder that was read.
    rm data/bg.png && printf 'not a picture' >data/bg.png # data/ holds links to the real files
    local lone=$work/bin/vornhal-capture
    mkdir -p elsewhere mine bin partial/data && cp "$capture" "$lone" && cp "$data"/*.png mine &&
        printf 'nor this' >mine/fg.png && printf 'nor this' >partial/data/fg.png
    local dir args status expected got said
    while IFS='|' read -r dir args status expected; do
        got=0 && (cd "$dir" && exec "${args%% *}" frame 1000 "$work/at.png" ${args#* }) 2>log || got=$?
        [[ $got == "$status" ]] || fail "$dir $args: exit status $got, said $(cat log)"
        said=$(grep -c . log) || true
        [[ $expected == none && $said == 0 ]] || grep -q -F "$expected" log ||
            fail "$dir $args: said $(cat log)"
        ((said <= 1)) || fail "$dir $args: more than one line: $(cat log)"
    done <<END
$work|$capture |0|data/bg.png: 
$work|$capture --data mine|0|mine/fg.png: 
$work/elsewhere|$capture |0|none
$work/partial|$capture |0|data/fg.png: 
$work/elsewhere|$lone |1|no data files (bg.png, fg.png, trelm.png, music.mp3) in data, $work/bin/../share/vornhal/data, $work/bin/data
END
}

command_line() {
    # What each command takes, and a failure told truly: status and one line.
    local args status expected got
    while IFS='|' read -r args status expected; do
        got=0 && $capture $args >/dev/null 2>log || got=$?
        [[ $got == "$status" ]] && grep -q -F -- "$expected" log ||
            fail "$args: exit status $got, said $(cat log)"
    done <<END
frame 1000 $work/no/such/dir/f.png|1|vornhal-capture: cannot write $work/no/such/dir/f.png: No such file or directory
frame -5 x.png|2|-5 is below 0
frame 1000 x.png --fps 30|2|frame does not take --fps
frames x --null|2|frames does not take --null
video x.mp4 --worker 1/2/3|2|unknown option '--worker'
render-worker|2|unknown command 'render-worker'
END
    got=0 && $capture --help >/dev/full 2>log || got=$?
    [[ $got == 1 ]] && grep -q "No space left" log || fail "--help into a full disk: $got, $(cat log)"
}

"$3"
