#!/usr/bin/env bash
# A 60 s, 3-clip Sequora project (movie, still revealed by a wipe, sound fading out) exported to Motion
# JPEG AVI by Sequora, driven as a user drives it, and the same timeline through a bare GES pipeline, in
# one run of ROUNDS rounds (3). Prints the median times, the ratio against GES in its own pixel format
# (target: 1.1 or less; the RGB24 group for reference) and Sequora's peak memory.
# Usage: bench/sequora_export.sh
set -eu
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../scripts/prepare.sh"
source "$here/lib.sh"
install_packages && install_locale
NINJA_FLAGS="sequora sequora_export_bench mediaplatform" build_suite
prepare_prefix "$ROOT/build/prefix-bench"
ensure_display
trap bench_end EXIT
wineserver -p 30 && "$WINE" cmd /c exit </dev/null >/dev/null 2>&1
out=$BUILD/bench/sequora_export
mkdir -p "$out"

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
[ -f "$out/movie.avi" ] || ff -f lavfi -i testsrc=size=640x480:rate=25 -t 30 -c:v mjpeg -q:v 5 "$out/movie.avi"
[ -f "$out/still.jpg" ] || ff -f lavfi -i smptebars=size=640x480 -frames:v 1 "$out/still.jpg"
[ -f "$out/sound.wav" ] || ff -f lavfi -i sine=f=660:sample_rate=44100 -t 60 -ac 2 -c:a pcm_s16le "$out/sound.wav"
gcc -O2 -o "$out/bare" "$here/timeline_export/bare.c" \
  $(pkg-config --cflags --libs gst-editing-services-1.0 gstreamer-controller-1.0)

# The project: stereo 16-bit 44.1 kHz, 640x480 RGB24 at 25 fps; movie 0-30 s, still 28-60 s with the first
# transition over its first 3 s, sound 0-60 s fading from 50 s.
python3 "$here/sequora_project.py" "$out/bench.sqp" 640 480 25 "movie:$out/movie.avi:0:30" \
  "still:$out/still.jpg:28:32:1:94" "sound:$out/sound.wav:0:60:833"

rm -f "$out/sequora.avi"
# ROUNDS rounds, Sequora and the bare pipelines in turn; the medians are compared
all_ours=() all_bare=() all_native=() peak=0
for round in $(seq "$ROUNDS"); do
  read -r s mb < <("$WINE" "$BUILD/bench/sequora_export_bench.exe.so" "$out/bench.sqp" "$out/sequora.avi")
  all_ours+=("$s"); [ "${mb:-0}" -gt "$peak" ] && peak=$mb
  all_bare+=("$("$out/bare" "$out/movie.avi" "$out/still.jpg" "$out/sound.wav" "$out/bare.avi" BGR)")
  all_native+=("$("$out/bare" "$out/movie.avi" "$out/still.jpg" "$out/sound.wav" "$out/native.avi")")
done
echo "rounds: Sequora ${all_ours[*]}, bare RGB24 ${all_bare[*]}, bare own format ${all_native[*]}"
ours=$(median "${all_ours[@]}") bare=$(median "${all_bare[@]}") native=$(median "${all_native[@]}")
frames() { ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames -of csv=p=0 "$1"; }
echo "Sequora export:   ${ours} s ($(frames "$out/sequora.avi") frames), peak memory ${peak} MB"
echo "bare GES (RGB24): ${bare} s ($(frames "$out/bare.avi") frames)"
echo "bare GES (own format): ${native} s ($(frames "$out/native.avi") frames)"
ratio=$(echo "$ours / $native" | bc -l | xargs printf '%.2f')
awk -v a="$ours" -v b="$bare" -v r="$ratio" 'BEGIN { printf "ratio: %s (target <= 1.10); against the RGB24 group: %.2f\n", r, a / b }'
result "Sequora, 60 s 3-item project exported to MJPEG AVI, against bare GES" "$ours" "$native" "$ratio" "<= 1.10" \
  "$peak" -
