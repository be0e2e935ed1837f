# What the benchmarks share. Sourced after scripts/prepare.sh:
#   bench_begin          a work folder in $work; on exit the Wine session, the display the script
#                        started and the work folder are gone (KEEP=1 keeps the folder)
#   bench_end            the same clean-up, for a script that keeps its own folder (trap bench_end EXIT)
#   seconds CMD...       runs CMD, prints its wall time in seconds
#   peak_begin PATTERN   watches the processes whose command line matches PATTERN (pgrep -f) ...
#   peak_end             ... and prints the largest peak resident memory one of them reached, in MB
#   ff_peak CMD...       runs CMD (ffmpeg) and prints "SECONDS PEAK_MB"
#   median N...          the middle one of the figures (the mean of the middle two for an even count)
#   ROUNDS               how many times the jobs that take seconds run, ours and the peer's in turn,
#                        so that a moment of load on this shared machine does not decide a ratio (3)
#   result JOB OURS PEER RATIO TARGET PEAK_MB PEAK_LIMIT
#                        one row for bench/all.sh: times in seconds (or any figure), RATIO checked
#                        against TARGET ("<= 0.6"), PEAK_MB against PEAK_LIMIT ("-" for none)

bench_end() {
  if [ -n "${PEAK_WATCH:-}" ]; then kill "$PEAK_WATCH" 2>/dev/null || true; fi
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "${XVFB_PID:-}" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
  if [ -n "${BENCH_TEMP:-}" ] && [ -z "${KEEP:-}" ]; then rm -rf "$BENCH_TEMP"; fi
}

bench_begin() {
  work=$(mktemp -d)
  BENCH_TEMP=$work
  trap bench_end EXIT
}

seconds() {
  local s
  s=$(date +%s.%N)
  "$@"
  echo "$(date +%s.%N) - $s" | bc
}

peak_begin() {
  PEAK_FILE=$(mktemp)
  (
    peak=0
    while :; do
      for pid in $(pgrep -f "$1"); do
        kb=$(awk '/^VmHWM/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
        [ -n "$kb" ] && [ "$kb" -gt "$peak" ] && peak=$kb && echo "$peak" > "$PEAK_FILE"
      done
      sleep 0.1
    done
  ) &
  PEAK_WATCH=$!
}

peak_end() {   # in $(...): the watcher is ended here, and again by bench_end
  kill "$PEAK_WATCH" 2>/dev/null || true
  awk '{ printf "%d\n", $1 / 1024 } END { if (!NR) print 0 }' "$PEAK_FILE"
  rm -f "$PEAK_FILE"
}

ff_peak() {
  local out
  out=$(mktemp)
  /usr/bin/time -f '%e %M' -o "$out" "$@"
  awk '{ printf "%s %d\n", $1, $2 / 1024 }' "$out"
  rm -f "$out"
}

ROUNDS=${ROUNDS:-3}

median() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# met VALUE TARGET: whether "VALUE TARGET" holds, TARGET being "<= n", "< n", ">= n" or "-"
met() {
  [ "$2" = - ] && return 0
  awk -v v="$1" -v t="$2" 'BEGIN { split(t, p, " "); op = p[1]; n = p[2] + 0; v += 0
    exit !((op == "<=" && v <= n) || (op == "<" && v < n) || (op == ">=" && v >= n) || (op == ">" && v > n)) }'
}

result() {
  local ok=yes
  met "$4" "$5" || ok=no
  met "$6" "$7" || ok=no
  printf 'result|%s|%s|%s|%s|%s|%s|%s|%s\n' "$1" "$2" "$3" "$4" "$5" "$6" "$7" "$ok"
}
