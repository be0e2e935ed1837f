#!/usr/bin/env bash
# Recording 20 s at 640x480 from the platform's test-pattern camera: Capturo driven as a user drives it
# (the camera's own 15 fps at that size, uncompressed), and the same capture graph asked for 30 fps.
# Prints frames written against frames expected (target: none dropped at 30 fps) and the CPU used.
# Usage: bench/capturo_record.sh [BUILD_DIR] [PREFIX] [SECONDS]
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$ROOT/scripts/prepare.sh"
source "$ROOT/bench/lib.sh"
BUILD=$(realpath -m "${1:-$ROOT/build/linux}")
prefix=$(realpath -m "${2:-$ROOT/build/prefix-bench}")
length=${3:-20}
bench_begin
NINJA_FLAGS="capturo suite_driver mediaplatform" build_suite
ensure_display
prepare_prefix "$prefix"
wineserver -p 30 && "$WINE" cmd /c exit </dev/null >/dev/null 2>&1

wineg++ -mconsole -std=c++17 -DNOMINMAX -finput-charset=UTF-8 -fexec-charset=CP932 -I"$ROOT/tests" \
  -o "$work/capturo_record.exe" "$ROOT/bench/capturo_record.cpp" "$BUILD/tests/driver/libsuite_driver.a" \
  -lole32 -loleaut32 -luuid -lstrmiids -lcomctl32 -lcomdlg32 -lshell32 -luser32 -lgdi32 -lz \
  >/dev/null 2>&1 || { say "cannot build the benchmark program"; exit 1; }

frames() { ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of default=nw=1:nk=1 "$1"; }
duration() { ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 "$1"; }
# Runs a recording (PATTERN finds the recording process) and adds the process's CPU seconds between the
# "running" and "stopped" marks to what it printed.
recording() {
  local pattern=$1 bench pid a b
  shift
  rm -f "$work/running" "$work/stopped" "$work/out.txt"
  "$@" > "$work/out.txt" 2>/dev/null &
  bench=$!
  while [ ! -e "$work/running" ] && kill -0 "$bench" 2>/dev/null; do sleep 0.05; done
  pid=$(pgrep -n -f "$pattern" || true)
  a=$(awk '{print $14 + $15}' "/proc/$pid/stat" 2>/dev/null || echo 0)
  while [ ! -e "$work/stopped" ] && kill -0 "$bench" 2>/dev/null; do sleep 0.05; done
  b=$(awk '{print $14 + $15}' "/proc/$pid/stat" 2>/dev/null || echo 0)
  wait "$bench" || return 1
  cat "$work/out.txt"
  echo "cpu_seconds=$(echo "($b - $a) / $(getconf CLK_TCK)" | bc -l)"
}
value() { printf '%s\n' "$1" | sed -n "s/^$2=//p"; }
report() {   # label output file [job]
  local seconds fps cpu written expected
  seconds=$(value "$2" seconds) fps=$(value "$2" fps) cpu=$(value "$2" cpu_seconds)
  written=$(frames "$3")
  expected=$(echo "$seconds * $fps" | bc -l)
  printf '%s\n' "$1"
  printf '  recorded for:    %.2f s, file lasts %.2f s\n' "$seconds" "$(duration "$3")"
  printf '  frames written:  %s of %.0f expected at %s fps (%.1f%%)\n' "$written" "$expected" "$fps" \
    "$(echo "100 * $written / $expected" | bc -l)"
  printf '  CPU:             %.2f s (%.0f%% of one core)\n' "$cpu" "$(echo "100 * $cpu / $seconds" | bc -l)"
  [ -z "${4:-}" ] || result "$4" "$written frames" "$(printf '%.0f' "$expected") expected" \
    "$(printf '%.3f' "$(echo "$written / $expected" | bc -l)")" ">= 0.99" - -
}

app=$(recording 'recorder.capturo\.exe$' "$WINE" "$work/capturo_record.exe.so" app "$BUILD/recorder/capturo.exe" "$work" "$length") \
  || { say "driving Capturo failed"; exit 1; }
report "Capturo, 640x480 RGB24, the camera's rate:" "$app" "$work/MyAviFile.avi"
graph=$(recording 'capturo_record\.exe\.so graph' "$WINE" "$work/capturo_record.exe.so" graph "$work/graph30.avi" "$length" 30) \
  || { say "the capture graph failed"; exit 1; }
report "Capture graph, 640x480 RGB24 asked for 30 fps (target: no frame dropped):" "$graph" "$work/graph30.avi" \
  "Capture graph, $length s 640x480 at 30 fps: frames kept"
