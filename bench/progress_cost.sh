#!/usr/bin/env bash
# What the job progress window costs: Morphana converting a 5-minute 640x480 MJPEG+PCM AVI to Motion JPEG
# and PCM (driven as bench/morphana_convert.sh drives it), timed with the window and without it
# (SUITE_JOB_PROGRESS=0), BENCH_RUNS runs each (4 unless set), alternating. Prints the medians and the
# difference (target: under 1 %).
# Usage: bench/progress_cost.sh [BUILD_DIR] [PREFIX]
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$ROOT/scripts/prepare.sh"
BUILD=$(cd "${1:-$ROOT/build/linux}" && pwd)
prefix=$(mkdir -p "${2:-$ROOT/build/prefix}" && cd "${2:-$ROOT/build/prefix}" && pwd)
work=$(mktemp -d)
trap 'wineserver -k >/dev/null 2>&1; rm -rf "$work"; [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null; true' EXIT
ninja -C "$BUILD" morphana mediaplatform suite_driver >/dev/null || { say "cannot build Morphana"; exit 1; }
prepare_prefix "$prefix"
ensure_display

ff() { ffmpeg -nostdin -v error -y "$@"; }
ff -f lavfi -i testsrc=size=640x480:rate=25 -f lavfi -i sine=frequency=440:sample_rate=44100 \
  -t 300 -c:v mjpeg -q:v 5 -c:a pcm_s16le "$work/movie.avi"
ff -f lavfi -i sine=frequency=880:sample_rate=44100 -ac 2 -t 1 -c:a pcm_s16le "$work/sound.wav"
wineg++ -mconsole -std=c++17 -finput-charset=UTF-8 -fexec-charset=CP932 -I"$ROOT" -I"$ROOT/tests" \
  -o "$work/morphana_convert.exe" "$ROOT/bench/morphana_convert.cpp" "$BUILD/tests/driver/libsuite_driver.a" \
  -lole32 -loleaut32 -luuid -lcomctl32 -lcomdlg32 -lshell32 -luser32 -lgdi32 -lz >/dev/null 2>&1 \
  || { say "cannot build the benchmark program"; exit 1; }

with=() without=()
for run in $(seq "${BENCH_RUNS:-4}"); do
  for setting in 1 0; do
    s=$(SUITE_JOB_PROGRESS=$setting SUITE_BUILD=$BUILD "$WINE" "$work/morphana_convert.exe.so" \
        "$BUILD/converter/morphana.exe" "$work/movie.avi" "$work/out.avi" "$work/sound.wav" "$work/out.mp3" \
        2>/dev/null | sed -n 's/^avi_seconds=//p')
    case "$s" in ''|-*) say "the conversion failed"; exit 1;; esac
    if [ "$setting" = 1 ]; then with+=("$s"); else without+=("$s"); fi
  done
done
# the middle value, or the mean of the middle two
median() { printf '%s\n' "$@" | sort -n | awk '{v[NR] = $1} END {print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
a=$(median "${with[@]}") b=$(median "${without[@]}")
printf 'Morphana, 5 min 640x480 MJPEG+PCM AVI -> Motion JPEG + PCM, median of %s\n' "${#with[@]}"
printf '  with the progress window:    %.2f s (%s)\n' "$a" "${with[*]}"
printf '  without it:                  %.2f s (%s)\n' "$b" "${without[*]}"
printf '  cost:                        %+.1f %% (target < 1 %%)\n' "$(echo "($a - $b) * 100 / $b" | bc -l)"
