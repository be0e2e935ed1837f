#!/usr/bin/env bash
# Sound replacement speed of Dubrix's graph against ffmpeg doing the same job, in one run: a 60 s 25 fps
# MJPEG+PCM AVI of SIZE pictures whose picture is re-encoded as MJPEG and whose sound becomes a 60 s WAV.
# Prints both times, the ratio (target <= 0.6), what each output carries and the peak memory of the
# process that runs the graph.
# Environment: SIZE (WIDTHxHEIGHT, 640x480 unless set).
# Usage: bench/dubrix_replace.sh [BUILD_DIR] [PREFIX]
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$ROOT/scripts/prepare.sh"
BUILD=${1:-$ROOT/build/linux}
prefix=${2:-$ROOT/build/prefix}
SIZE=${SIZE:-640x480}
case "$SIZE" in [1-9]*x[1-9]*) ;; *) say "SIZE must be WIDTHxHEIGHT"; exit 2;; esac
work=$(mktemp -d)
trap 'wineserver -k >/dev/null 2>&1; [ -n "${KEEP:-}" ] || rm -rf "$work"; [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null; true' EXIT
prepare_prefix "$prefix"
ensure_display

ffmpeg -nostdin -v error -y -f lavfi -i "testsrc=size=$SIZE:rate=25" -f lavfi -i sine=frequency=440:sample_rate=44100 \
  -t 60 -c:v mjpeg -q:v 5 -c:a pcm_s16le "$work/in.avi"
ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=1200:sample_rate=44100 -t 60 -ac 2 -c:a pcm_s16le "$work/new.wav"
wineg++ -mconsole -o "$work/dubrix_replace.exe" "$ROOT/bench/dubrix_replace.cpp" -lole32 -loleaut32 -luuid -lstrmiids \
  -lpsapi >/dev/null 2>&1 || { say "cannot build the benchmark program"; exit 1; }

start=$(date +%s.%N)
ffmpeg -nostdin -v error -y -i "$work/in.avi" -i "$work/new.wav" -map 0:v:0 -map 1:a:0 \
  -c:v mjpeg -q:v 5 -c:a copy "$work/ffmpeg.avi"
ff=$(echo "$(date +%s.%N) - $start" | bc)

out=$("$WINE" "$work/dubrix_replace.exe.so" "$work/in.avi" "$work/new.wav" "$work/graph.avi" 2>/dev/null)
graph=$(printf '%s\n' "$out" | sed -n 's/^graph_seconds=//p')
peak=$(printf '%s\n' "$out" | sed -n 's/^peak_kb=//p')
[ -n "$graph" ] || { say "the graph did not finish"; exit 1; }

carries() {
  local frames seconds
  frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of default=nw=1:nk=1 "$1")
  seconds=$(ffmpeg -nostdin -i "$1" -map 0:a:0 -f null - 2>&1 | sed -n 's/.*time=\([0-9:.]*\).*/\1/p' | tail -1)
  printf '%s frames, %s of sound' "$frames" "$seconds"
}

printf 'Dubrix, 60 s %s MJPEG+PCM AVI -> Motion JPEG 85 + the WAV'"'"'s sound\n' "$SIZE"
printf 'ffmpeg:          %.2f s (%s)\n' "$ff" "$(carries "$work/ffmpeg.avi")"
printf 'Dubrix graph:    %.2f s (%s), peak memory %d MB\n' "$graph" "$(carries "$work/graph.avi")" $(( ${peak:-0} / 1024 ))
[ -n "${KEEP:-}" ] && say "files kept in $work"
printf 'ratio:           %.2f (target <= 0.6)\n' "$(echo "$graph / $ff" | bc -l)"
