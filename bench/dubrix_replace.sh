#!/usr/bin/env bash
# Sound replacement speed of Dubrix's graph against ffmpeg doing the same job, in one run: a 60 s 25 fps
# MJPEG+PCM AVI of SIZE pictures whose picture is re-encoded as MJPEG and whose sound becomes a 60 s WAV.
# Prints both times, the ratio (target <= 0.6), what each output carries, the peak memory of the process
# that runs the graph (target <= 400 MB) and of ffmpeg, and a result row for bench/all.sh.
# Environment: SIZE (WIDTHxHEIGHT, 640x480 unless set).
# Usage: bench/dubrix_replace.sh [BUILD_DIR] [PREFIX]
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$ROOT/scripts/prepare.sh"
source "$ROOT/bench/lib.sh"
BUILD=${1:-$ROOT/build/linux}
prefix=${2:-$ROOT/build/prefix}
SIZE=${SIZE:-640x480}
case "$SIZE" in [1-9]*x[1-9]*) ;; *) say "SIZE must be WIDTHxHEIGHT"; exit 2;; esac
bench_begin
prepare_prefix "$prefix"
ensure_display

ffmpeg -nostdin -v error -y -f lavfi -i "testsrc=size=$SIZE:rate=25" -f lavfi -i sine=frequency=440:sample_rate=44100 \
  -t 60 -c:v mjpeg -q:v 5 -c:a pcm_s16le "$work/in.avi"
ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=1200:sample_rate=44100 -t 60 -ac 2 -c:a pcm_s16le "$work/new.wav"
wineg++ -mconsole -o "$work/dubrix_replace.exe" "$ROOT/bench/dubrix_replace.cpp" -lole32 -loleaut32 -luuid -lstrmiids \
  -lpsapi >/dev/null 2>&1 || { say "cannot build the benchmark program"; exit 1; }

read -r ff ff_mb < <(ff_peak ffmpeg -nostdin -v error -y -i "$work/in.avi" -i "$work/new.wav" -map 0:v:0 -map 1:a:0 \
  -c:v mjpeg -q:v 5 -c:a copy "$work/ffmpeg.avi")

out=$("$WINE" "$work/dubrix_replace.exe.so" "$work/in.avi" "$work/new.wav" "$work/graph.avi" 2>/dev/null)
graph=$(printf '%s\n' "$out" | sed -n 's/^graph_seconds=//p')
kb=$(printf '%s\n' "$out" | sed -n 's/^peak_kb=//p')
peak=$(( ${kb:-0} / 1024 ))
[ -n "$graph" ] || { say "the graph did not finish"; exit 1; }

carries() {
  local frames seconds
  frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of default=nw=1:nk=1 "$1")
  seconds=$(ffmpeg -nostdin -i "$1" -map 0:a:0 -f null - 2>&1 | sed -n 's/.*time=\([0-9:.]*\).*/\1/p' | tail -1)
  printf '%s frames, %s of sound' "$frames" "$seconds"
}

ratio=$(printf '%.2f' "$(echo "$graph / $ff" | bc -l)")
printf 'Dubrix, 60 s %s MJPEG+PCM AVI -> Motion JPEG 85 + the WAV'"'"'s sound\n' "$SIZE"
printf 'ffmpeg:          %.2f s (%s), peak memory %s MB\n' "$ff" "$(carries "$work/ffmpeg.avi")" "$ff_mb"
printf 'Dubrix graph:    %.2f s (%s), peak memory %s MB\n' "$graph" "$(carries "$work/graph.avi")" "$peak"
if [ -n "${KEEP:-}" ]; then say "files kept in $work"; fi
printf 'ratio:           %s (target <= 0.6)\n' "$ratio"
result "Dubrix, 60 s $SIZE MJPEG+PCM -> Motion JPEG AVI with a WAV's sound" "$graph" "$ff" "$ratio" "<= 0.6" "$peak" "<= 400"
