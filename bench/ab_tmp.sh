#!/usr/bin/env bash
# Cutting 10 s out of a 60 s 25 fps MJPEG+PCM AVI of SIZE pictures: Snipwell driven as a user drives it
# (timeline render, with "none" and with Motion JPEG) against ffmpeg re-encoding the same section, in one
# run of ROUNDS rounds (3). Prints the median times, the ratios ours over ffmpeg's for both (target <= 0.5
# at 640x480, <= 0.6 at other sizes), the peak memory of Snipwell (target <= 400 MB) and of ffmpeg, and
# result rows for bench/all.sh.
# Environment: SIZE (WIDTHxHEIGHT, 640x480 unless set), ROUNDS.
# Usage: bench/snipwell_cut.sh [BUILD_DIR] [PREFIX]
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$ROOT/scripts/prepare.sh"
source "$ROOT/bench/lib.sh"
BUILD=${1:-$ROOT/build/linux}
prefix=${2:-$ROOT/build/prefix-bench}
SIZE=${SIZE:-640x480}
case "$SIZE" in [1-9]*x[1-9]*) ;; *) say "SIZE must be WIDTHxHEIGHT"; exit 2;; esac
bench_begin
NINJA_FLAGS="snipwell snipwell_cut_bench mediaplatform" build_suite
prepare_prefix "$prefix"
ensure_display
wineserver -p 30 && "$WINE" cmd /c exit </dev/null >/dev/null 2>&1

ff() { ffmpeg -nostdin -v error -y "$@"; }
ff -f lavfi -i "testsrc=size=$SIZE:rate=25" -f lavfi -i sine=frequency=440:sample_rate=44100 \
  -t 60 -c:v mjpeg -q:v 5 -c:a pcm_s16le "$work/in.avi"

for i in 1 2 3; do for X in "" 1; do echo "X=$X"
rm -f "$work/none.avi" "$work/mjpeg.avi"
XNOWAIT=$X "$WINE" "$BUILD/bench/snipwell_cut_bench.exe.so" "$BUILD/cutter/snipwell.exe" "$work/in.avi" "$work/none.avi" none 500 666 2>&1 | grep -a seconds
XNOWAIT=$X "$WINE" "$BUILD/bench/snipwell_cut_bench.exe.so" "$BUILD/cutter/snipwell.exe" "$work/in.avi" "$work/mjpeg.avi" "Motion JPEG" 500 666 2>&1 | grep -a seconds
done; done
