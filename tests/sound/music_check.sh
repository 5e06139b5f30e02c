#!/usr/bin/env bash
# Checks the committed soundtrack against what the demo needs of it, measured by
# ffmpeg: 44.1 kHz stereo MP3 at 160 kbit/s or more with the LAME header that makes
# its decode gapless, 142 to 150 s long, integrated loudness -16 to -12 LUFS, true
# peak at most -1 dBTP, and no second of silence before 140 s.
# Usage: music_check.sh data/music.mp3
set -euo pipefail
file=${1:?usage: music_check.sh MUSIC.mp3}
fail=0
check() { # condition message
    if awk "BEGIN { exit !($1) }"; then echo "ok:   $2"; else echo "FAIL: $2" && fail=1; fi
}

IFS=, read -r codec rate channels bit_rate duration < <(ffprobe -v error -select_streams a:0 \
    -show_entries stream=codec_name,sample_rate,channels,bit_rate:format=duration \
    -of csv=p=0 "$file" | paste -sd, | cut -d, -f1-5)
check "\"$codec\" == \"mp3\"" "codec $codec"
check "$rate == 44100" "sample rate $rate Hz"
check "$channels == 2" "$channels channels"
check "$bit_rate >= 160000" "bit rate $bit_rate bit/s"
check "$duration >= 142 && $duration <= 150" "duration $duration s"

# The first frame carries the Info tag with LAME's delay and padding.
header=$(head -c 4096 "$file" | tr -c '[:print:]' '.')
check "$(grep -c -E 'Info|Xing' <<<"$header") > 0 && $(grep -c LAME <<<"$header") > 0" \
    "LAME gapless header present"

summary=$(ffmpeg -hide_banner -nostats -i "$file" -af ebur128=peak=true -f null - 2>&1 |
    sed -n '/Summary:/,$p')
loudness=$(awk '/I:/ { print $2 }' <<<"$summary")
peak=$(awk '/Peak:/ { print $2 }' <<<"$summary")
check "$loudness >= -16 && $loudness <= -12" "integrated loudness $loudness LUFS"
check "$peak <= -1" "true peak $peak dBTP"

first_silence=$(ffmpeg -hide_banner -nostats -i "$file" -af silencedetect=n=-60dB:d=1 \
    -f null - 2>&1 | awk '/silence_start/ { print $NF; exit }')
check "${first_silence:-1e9} >= 140" "first silence of 1 s at ${first_silence:-none} s"
exit $fail
