#!/usr/bin/env bash
# Exports a 3-clip, 60 s timeline (movie, still, sound; a wipe and a fade-out) to MJPEG AVI through our
# render engine and filter graph, and through a bare GES pipeline of the same timeline; prints the times
# and the ratio against the bare pipeline in GES's own pixel format (target: 1.1 or less): the encoder
# takes YUV, so the group's RGB24 need not be made. A bare run that delivers RGB24 (BGR) pictures, as a
# timeline restricted to the group's format does, is printed for reference. Each runs ROUNDS times (3)
# in turn; the medians are compared.
# Usage: bench/timeline_export/run.sh [BUILD_DIR [PREFIX]]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/prepare.sh"
source "$here/../lib.sh"
BUILD=${1:-$BUILD}
prefix=${2:-$ROOT/build/prefix-bench}
out=$BUILD/bench/timeline_export
mkdir -p "$out"
trap bench_end EXIT   # the Wine session and the display this run starts end with it, whatever way it ends

ninja -C "$BUILD" mediaplatform >/dev/null
prepare_prefix "$prefix"
ensure_display

# the two programs
wineg++ -std=c++17 -O2 -mconsole -municode -I"$ROOT/include" -o "$out/export.exe" "$here/export.cpp" \
  -lole32 -loleaut32 -luuid -lstrmiids 2>&1 | grep -v warning || true
gcc -O2 -o "$out/bare" "$here/bare.c" \
  $(pkg-config --cflags --libs gst-editing-services-1.0 gstreamer-controller-1.0)

# media: 30 s movie 640x480 25 fps MJPEG + PCM, a 640x480 picture, 60 s of sound
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
[ -f "$out/movie.avi" ] || ff -f lavfi -i testsrc=size=640x480:rate=25 -f lavfi -i sine=f=440:sample_rate=44100 \
  -t 30 -c:v mjpeg -q:v 5 -c:a pcm_s16le "$out/movie.avi"
[ -f "$out/still.jpg" ] || ff -f lavfi -i smptebars=size=640x480 -frames:v 1 "$out/still.jpg"
[ -f "$out/sound.wav" ] || ff -f lavfi -i sine=f=660:sample_rate=44100 -t 60 -ac 2 -c:a pcm_s16le "$out/sound.wav"

# Wine's session (its server and background processes) is up before the export is timed, as it is for a
# program the user has open: its start-up does not run beside the export
wineserver -p 30 && "$WINE" cmd /c exit </dev/null >/dev/null 2>&1

dos() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
# ROUNDS rounds, ours and the bare pipelines in turn; the medians are compared
all_ours=() all_bare=() all_native=()
peak_begin 'export\.exe\.so'
for round in $(seq "$ROUNDS"); do
  all_ours+=("$("$WINE" "$out/export.exe.so" "$(dos "$out/movie.avi")" "$(dos "$out/still.jpg")" \
    "$(dos "$out/sound.wav")" "$(dos "$out/ours.avi")")")
  all_bare+=("$("$out/bare" "$out/movie.avi" "$out/still.jpg" "$out/sound.wav" "$out/bare.avi" BGR)")
  all_native+=("$("$out/bare" "$out/movie.avi" "$out/still.jpg" "$out/sound.wav" "$out/native.avi")")
done
peak=$(peak_end)
echo "rounds: ours ${all_ours[*]}, bare RGB24 ${all_bare[*]}, bare own format ${all_native[*]}"
ours=$(median "${all_ours[@]}") bare=$(median "${all_bare[@]}") native=$(median "${all_native[@]}")
frames() { ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames -of csv=p=0 "$1"; }
echo "render engine + graph: ${ours} s ($(frames "$out/ours.avi") frames)"
echo "bare GES, RGB24 group: ${bare} s ($(frames "$out/bare.avi") frames)"
echo "bare GES, own format:  ${native} s ($(frames "$out/native.avi") frames)"
awk -v a="$ours" -v b="$bare" -v c="$native" \
  'BEGIN { printf "ratio against GES in its own format: %.2f (target <= 1.10); against the RGB24 group: %.2f\n", a / c, a / b }'
result "Render engine, 60 s 3-clip timeline -> MJPEG AVI, against bare GES" "$ours" "$native" \
  "$(echo "$ours / $native" | bc -l | xargs printf '%.2f')" "<= 1.10" "$peak" -
