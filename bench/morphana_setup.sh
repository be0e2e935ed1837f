# What Morphana's benchmarks share, sourced as: source morphana_setup.sh MOVIE_SECONDS SOUND_SECONDS [BUILD_DIR] [PREFIX]
# Builds Morphana, readies its Wine prefix and display, makes in $work a 25 fps MJPEG+PCM movie.avi of
# SIZE pictures (environment, WIDTHxHEIGHT, 640x480 unless set) and a 44.1 kHz stereo sound.wav of the
# given lengths (0: not made), and builds the program that drives Morphana ($work/morphana_convert.exe.so).
# Ends the Wine session and the display on exit (bench/lib.sh).
set -eu
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$ROOT/scripts/prepare.sh"
source "$ROOT/bench/lib.sh"
movie_seconds=$1 sound_seconds=$2
shift 2
SIZE=${SIZE:-640x480}
case "$SIZE" in [1-9]*x[1-9]*) ;; *) say "SIZE must be WIDTHxHEIGHT"; exit 2;; esac
BUILD=$(cd "${1:-$ROOT/build/linux}" && pwd)
prefix=$(mkdir -p "${2:-$ROOT/build/prefix}" && cd "${2:-$ROOT/build/prefix}" && pwd)
bench_begin
ninja -C "$BUILD" morphana mediaplatform suite_driver >/dev/null || { say "cannot build Morphana"; exit 1; }
prepare_prefix "$prefix"
ensure_display

ff() { ffmpeg -nostdin -v error -y "$@"; }
[ "$movie_seconds" = 0 ] ||
  ff -f lavfi -i "testsrc=size=$SIZE:rate=25" -f lavfi -i sine=frequency=440:sample_rate=44100 \
    -t "$movie_seconds" -c:v mjpeg -q:v 5 -c:a pcm_s16le "$work/movie.avi"
[ "$sound_seconds" = 0 ] ||
  ff -f lavfi -i sine=frequency=880:sample_rate=44100 -ac 2 -t "$sound_seconds" -c:a pcm_s16le "$work/sound.wav"

wineg++ -mconsole -std=c++17 -finput-charset=UTF-8 -fexec-charset=CP932 -I"$ROOT" -I"$ROOT/tests" \
  -o "$work/morphana_convert.exe" "$ROOT/bench/morphana_convert.cpp" "$BUILD/tests/driver/libsuite_driver.a" \
  -lole32 -loleaut32 -luuid -lcomctl32 -lcomdlg32 -lshell32 -luser32 -lgdi32 -lpsapi -lz >/dev/null 2>&1 \
  || { say "cannot build the benchmark program"; exit 1; }
