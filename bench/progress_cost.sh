#!/usr/bin/env bash
# What the job progress window costs: Morphana converting a 5-minute 640x480 MJPEG+PCM AVI to Motion JPEG
# and PCM (driven as bench/morphana_convert.sh drives it), with the window and without it
# (SUITE_JOB_PROGRESS=0), BENCH_RUNS runs each (4 unless set), alternating. The window lives on Morphana's
# main thread, which is otherwise idle while the media threads convert: its cost is the processor time
# that thread spends more with the window, against the processor time of the whole conversion (target:
# under 1 %). The times of the runs are printed beside it; on this shared machine single runs of the
# same conversion move by 15 % (processor time too), which hides a cost of 1 %.
# Usage: bench/progress_cost.sh [BUILD_DIR] [PREFIX]
source "$(dirname "$0")/morphana_setup.sh" 300 0 "$@"

# the figures of each setting (1: with the window, 0: without), as space-separated lists
declare -A wall cpu own w c o
figure() { printf '%s\n' "$out" | sed -n "s/^avi_$1=//p"; }
for run in $(seq "${BENCH_RUNS:-4}"); do
  for setting in 1 0; do
    out=$(SUITE_JOB_PROGRESS=$setting SUITE_BUILD_DIR=$BUILD "$WINE" "$work/morphana_convert.exe.so" \
        "$BUILD/converter/morphana.exe" avi "$work/movie.avi" "$work/out.avi" 2>/dev/null)
    s=$(figure seconds)
    case "$s" in ''|-*) say "the conversion failed"; exit 1;; esac
    wall[$setting]+="$s " cpu[$setting]+="$(figure cpu_seconds) " own[$setting]+="$(figure own_cpu_seconds) "
  done
done
# shellcheck disable=SC2086
for setting in 1 0; do
  w[$setting]=$(median ${wall[$setting]}) c[$setting]=$(median ${cpu[$setting]}) o[$setting]=$(median ${own[$setting]})
done
cost=$(echo "(${o[1]} - ${o[0]}) * 100 / ${c[0]}" | bc -l | xargs printf '%+.2f')
printf 'Morphana, 5 min 640x480 MJPEG+PCM AVI -> Motion JPEG + PCM, medians of %s runs each\n' "${BENCH_RUNS:-4}"
printf '  with the progress window:  %.2f s, processor %.2f s, main thread %.2f s\n' "${w[1]}" "${c[1]}" "${o[1]}"
printf '  without it:                %.2f s, processor %.2f s, main thread %.2f s\n' "${w[0]}" "${c[0]}" "${o[0]}"
printf '  runs (s):                  with %s/ without %s\n' "${wall[1]}" "${wall[0]}"
printf '  main thread (s):           with %s/ without %s\n' "${own[1]}" "${own[0]}"
printf '  cost:                      %s %% of the conversion'"'"'s processor time (target < 1 %%)\n' "$cost"
result "Progress window's cost on a 5 min Morphana conversion (% of its processor time)" "${o[1]}" "${o[0]}" \
  "$cost" "< 1" - -
