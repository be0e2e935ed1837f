#!/usr/bin/env bash
# Conversion speed of the filter graph against ffmpeg on the same machine, in one run:
# a 60 s 640x480 25 fps MJPEG+PCM AVI to an MJPEG AVI. Prints both times, the ratio (target <= 0.6) and
# the time from Run to the first preview picture (target <= 0.5 s).
# Usage: bench/graph_convert.sh [BUILD_DIR] [PREFIX]
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$ROOT/scripts/prepare.sh"
source "$ROOT/bench/lib.sh"
BUILD=${1:-$ROOT/build/linux}
prefix=${2:-$ROOT/build/prefix}
bench_begin
prepare_prefix "$prefix"
ensure_display

ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=640x480:rate=25 -f lavfi -i sine=frequency=440:sample_rate=44100 \
  -t 60 -c:v mjpeg -q:v 5 -c:a pcm_s16le "$work/in.avi"
wineg++ -mconsole -o "$work/graph_convert.exe" "$ROOT/bench/graph_convert.cpp" -lole32 -loleaut32 -luuid -lstrmiids -luser32 -lgdi32 \
  >/dev/null 2>&1 || { say "cannot build the benchmark program"; exit 1; }

read -r ff ff_mb < <(ff_peak ffmpeg -nostdin -v error -y -i "$work/in.avi" -c:v mjpeg -q:v 5 -c:a copy "$work/ffmpeg.avi")

peak_begin 'graph_convert\.exe'
out=$("$WINE" "$work/graph_convert.exe.so" "$work/in.avi" "$work/graph.avi" 2>/dev/null)
peak=$(peak_end)
graph=$(printf '%s\n' "$out" | sed -n 's/^graph_seconds=//p')
preview=$(printf '%s\n' "$out" | sed -n 's/^preview_ms=//p')
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of default=nw=1:nk=1 "$work/graph.avi")

printf 'ffmpeg:          %.2f s\n' "$ff"
printf 'filter graph:    %.2f s (%s frames written), peak memory %s MB\n' "$graph" "$frames" "$peak"
ratio=$(printf '%.2f' "$(echo "$graph / $ff" | bc -l)")
printf 'ratio:           %s (target <= 0.6)\n' "$ratio"
printf 'first preview:   %s ms (target <= 500)\n' "$preview"
result "Filter graph, 60 s 640x480 MJPEG -> MJPEG AVI" "$graph" "$ff" "$ratio" "<= 0.6" "$peak" -
result "Filter graph, Run to first preview picture (ms)" "$preview" - "$preview" "<= 500" - -
