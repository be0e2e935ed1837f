#!/usr/bin/env bash
# Large and long Sequora projects exported as a user exports them (320x240, 25 fps, Motion JPEG):
#   items256  the list's 256 items: 128 movies of 5 s (8 files), 64 stills of 5 s (32 pictures of
#             640x480) each revealed by a transition, 64 sounds of 15 s (4 files), 16 min in all
#   stills256 256 stills of 2.5 s, 256 different pictures
#   minutes30 / minutes60  90 / 180 movies of 20 s back to back
#   repeat    a 3-item project exported RUNS times (default 100) by one Sequora
# Prints one line per project: timeline build (OK until "保存中 ・・・"), export time, seconds per
# timeline minute, peak memory; for repeat, the memory after the first and the last export.
# Usage: bench/sequora_scale.sh [PROJECT...]   (all when none is named; RUNS=n for repeat)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../scripts/prepare.sh"
source "$here/lib.sh"
install_packages && install_locale
NINJA_FLAGS="sequora sequora_export_bench mediaplatform" build_suite
prepare_prefix "$ROOT/build/prefix-bench"
ensure_display
work=$BUILD/bench/sequora_scale
mkdir -p "$work"
trap 'bench_end; rm -f "$work"/out.avi' EXIT
wineserver -p 30 && "$WINE" cmd /c exit </dev/null >/dev/null 2>&1

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
for i in $(seq 0 7); do
  [ -f "$work/m$i.avi" ] || ff -f lavfi -i "testsrc=size=320x240:rate=25,hue=h=$((i * 45))" \
    -f lavfi -i sine=f=$((300 + i * 50)):sample_rate=44100 -t 5 -c:v mjpeg -q:v 5 -c:a pcm_s16le "$work/m$i.avi"
done
[ -f "$work/m20.avi" ] || ff -f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i sine=f=440:sample_rate=44100 \
  -t 20 -c:v mjpeg -q:v 5 -c:a pcm_s16le "$work/m20.avi"
for i in $(seq 0 255); do
  [ -f "$work/p$i.jpg" ] || ff -f lavfi -i "smptebars=size=640x480,hue=h=$i" -frames:v 1 "$work/p$i.jpg"
done
for i in $(seq 0 3); do
  [ -f "$work/s$i.wav" ] || ff -f lavfi -i sine=f=$((500 + i * 100)):sample_rate=44100 -t 15 -ac 2 \
    -c:a pcm_s16le "$work/s$i.wav"
done

project() {
  local name=$1 items=()
  case $name in
    items256)
      local t=0 i
      for i in $(seq 0 191); do
        if [ $((i % 3)) = 2 ]; then items+=("still:$work/p$((i / 3 % 32)).jpg:$t:5:1:200")
        else items+=("movie:$work/m$((i % 8)).avi:$t:5"); fi
        t=$((t + 5))
      done
      for i in $(seq 0 63); do items+=("sound:$work/s$((i % 4)).wav:$((i * 15)):15"); done ;;
    stills256)
      for i in $(seq 0 255); do items+=("still:$work/p$i.jpg:$(awk -v i=$i 'BEGIN{print i*2.5}'):2.5"); done ;;
    minutes30|minutes60)
      local n=$(( ${name#minutes} * 3 ))
      for i in $(seq 0 $((n - 1))); do items+=("movie:$work/m20.avi:$((i * 20)):20"); done ;;
    repeat)
      items=("movie:$work/m20.avi:0:20" "still:$work/p0.jpg:18:10:1:200" "sound:$work/s0.wav:0:15:800") ;;
  esac
  python3 "$here/sequora_project.py" "$work/$name.sqp" 320 240 25 "${items[@]}"
}

minutes() { ffprobe -v error -show_entries format=duration -of csv=p=0 "$work/out.avi" | awk '{ printf "%.2f", $1 / 60 }'; }

minute_cost=()
for name in ${@:-items256 stills256 minutes30 minutes60 repeat}; do
  project "$name"
  if [ "$name" = repeat ]; then
    runs=${RUNS:-100}
    "$WINE" "$BUILD/bench/sequora_export_bench.exe.so" "$work/$name.sqp" "$work/out.avi" "$runs" > "$work/repeat.txt"
    awk -v runs="$runs" 'NR == 1 { first = $4 } { last = $4; sum += $3 }
      END { printf "repeat: %d exports, %.2f s each, memory after the first %d MB, after the last %d MB (+%d MB)\n",
            NR, sum / NR, first, last, last - first; if (NR != runs) exit 1 }' "$work/repeat.txt"
    read -r first last peak < <(awk 'NR == 1 { f = $4 } { l = $4; if ($5 > p) p = $5 } END { print f, l, p }' "$work/repeat.txt")
    result "Sequora, $runs exports in one session: growth (MB)" "$first -> $last MB" - "$((last - first))" "<= 5" "$peak" -
  else
    read -r run built whole rss peak < <("$WINE" "$BUILD/bench/sequora_export_bench.exe.so" "$work/$name.sqp" \
      "$work/out.avi" 1)
    m=$(minutes)
    awk -v n="$name" -v b="$built" -v w="$whole" -v m="$m" -v p="$peak" 'BEGIN {
      printf "%s: %.2f min of timeline, built in %.2f s, exported in %.2f s (%.2f s per minute), peak memory %d MB\n",
             n, m, b, w, w / m, p }'
    case $name in
      items256|stills256)
        result "Sequora, $name ($m min): timeline built (s)" "$whole s export" - "$built" "< 2" "$peak" "< 300" ;;
      *) minute_cost+=("$(echo "$whole / $m" | bc -l)") ;;
    esac
  fi
done
# time linear in the length: seconds per timeline minute of 60 minutes against 30 minutes
if [ ${#minute_cost[@]} = 2 ]; then
  result "Sequora, 60 min against 30 min: s per timeline minute" "$(printf '%.2f' "${minute_cost[1]}")" \
    "$(printf '%.2f' "${minute_cost[0]}")" "$(echo "${minute_cost[1]} / ${minute_cost[0]}" | bc -l | xargs printf '%.2f')" \
    "<= 1.10" - -
fi
