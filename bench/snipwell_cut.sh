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

# The marks at slider 500 and 666 of 1000: 30 s and 39.96 s.
from=30 length=9.96
cut() {   # compressor output: "SECONDS PEAK_KB"
  "$WINE" "$BUILD/bench/snipwell_cut_bench.exe.so" "$BUILD/cutter/snipwell.exe" "$work/in.avi" "$2" "$1" 500 666 2>/dev/null \
    | sed -n 's/^seconds=//p; s/^peak_kb=//p' | tr '\n' ' '
}
frames() { ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of default=nw=1:nk=1 "$1"; }

# ROUNDS rounds, each cut in turn with the peer's; the medians are compared, peaks are the largest seen
nones=() mjpegs=() ff_raws=() ff_mjpegs=() none_kb=0 mjpeg_kb=0 ff_raw_mb=0 ff_mjpeg_mb=0
for round in $(seq "$ROUNDS"); do
  rm -f "$work/none.avi" "$work/mjpeg.avi"
  read -r s kb <<< "$(cut none "$work/none.avi")"
  [ -n "$s" ] || { say "a cut did not finish"; exit 1; }
  nones+=("$s"); [ "${kb:-0}" -gt "$none_kb" ] && none_kb=$kb
  read -r s kb <<< "$(cut "Motion JPEG" "$work/mjpeg.avi")"
  [ -n "$s" ] || { say "a cut did not finish"; exit 1; }
  mjpegs+=("$s"); [ "${kb:-0}" -gt "$mjpeg_kb" ] && mjpeg_kb=$kb
  read -r s mb < <(ff_peak ffmpeg -nostdin -v error -y -ss $from -i "$work/in.avi" -t $length \
    -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le "$work/ff_raw.avi")
  ff_raws+=("$s"); [ "$mb" -gt "$ff_raw_mb" ] && ff_raw_mb=$mb
  read -r s mb < <(ff_peak ffmpeg -nostdin -v error -y -ss $from -i "$work/in.avi" -t $length \
    -c:v mjpeg -q:v 5 -c:a pcm_s16le "$work/ff_mjpeg.avi")
  ff_mjpegs+=("$s"); [ "$mb" -gt "$ff_mjpeg_mb" ] && ff_mjpeg_mb=$mb
done
printf 'rounds: none %s, ffmpeg raw %s, Motion JPEG %s, ffmpeg mjpeg %s\n' "${nones[*]}" "${ff_raws[*]}" \
  "${mjpegs[*]}" "${ff_mjpegs[*]}"
none=$(median "${nones[@]}") mjpeg=$(median "${mjpegs[@]}")
ff_raw=$(median "${ff_raws[@]}") ff_mjpeg=$(median "${ff_mjpegs[@]}")
none_mb=$(( none_kb / 1024 )) mjpeg_mb=$(( mjpeg_kb / 1024 ))
ratio_raw=$(printf '%.2f' "$(echo "$none / $ff_raw" | bc -l)")
ratio=$(printf '%.2f' "$(echo "$mjpeg / $ff_mjpeg" | bc -l)")

printf 'Snipwell, 10 s of a 60 s %s MJPEG+PCM AVI\n' "$SIZE"
printf 'Snipwell, none:         %6.3f s (%s frames), peak memory %s MB\n' "$none" "$(frames "$work/none.avi")" "$none_mb"
printf 'ffmpeg, raw video:      %6.3f s (%s frames), peak memory %s MB\n' "$ff_raw" "$(frames "$work/ff_raw.avi")" "$ff_raw_mb"
printf 'Snipwell, Motion JPEG:  %6.3f s (%s frames), peak memory %s MB\n' "$mjpeg" "$(frames "$work/mjpeg.avi")" "$mjpeg_mb"
printf 'ffmpeg, mjpeg -q:v 5:   %6.3f s (%s frames), peak memory %s MB\n' "$ff_mjpeg" "$(frames "$work/ff_mjpeg.avi")" "$ff_mjpeg_mb"
target=0.6
[ "$SIZE" = 640x480 ] && target=0.5
printf 'ratio none/raw:         %s (target <= %s)\n' "$ratio_raw" "$target"
printf 'ratio Motion JPEG:      %s (target <= %s)\n' "$ratio" "$target"
result "Snipwell, 10 s cut of $SIZE MJPEG+PCM, uncompressed" "$none" "$ff_raw" "$ratio_raw" "<= $target" "$none_mb" "<= 400"
result "Snipwell, 10 s cut of $SIZE MJPEG+PCM, Motion JPEG" "$mjpeg" "$ff_mjpeg" "$ratio" "<= $target" "$mjpeg_mb" "<= 400"
