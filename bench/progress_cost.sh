#!/usr/bin/env bash
# What the job progress window costs: Morphana converting a 5-minute 640x480 MJPEG+PCM AVI to Motion JPEG
# and PCM (driven as bench/morphana_convert.sh drives it), timed with the window and without it
# (SUITE_JOB_PROGRESS=0), BENCH_RUNS runs each (4 unless set), alternating. Prints the medians and the
# difference (target: under 1 %).
# Usage: bench/progress_cost.sh [BUILD_DIR] [PREFIX]
source "$(dirname "$0")/morphana_setup.sh" 300 0 "$@"

with=() without=()
for run in $(seq "${BENCH_RUNS:-4}"); do
  for setting in 1 0; do
    s=$(SUITE_JOB_PROGRESS=$setting SUITE_BUILD_DIR=$BUILD "$WINE" "$work/morphana_convert.exe.so" \
        "$BUILD/converter/morphana.exe" avi "$work/movie.avi" "$work/out.avi" \
        2>/dev/null | sed -n 's/^avi_seconds=//p')
    case "$s" in ''|-*) say "the conversion failed"; exit 1;; esac
    if [ "$setting" = 1 ]; then with+=("$s"); else without+=("$s"); fi
  done
done
a=$(median "${with[@]}") b=$(median "${without[@]}")
printf 'Morphana, 5 min 640x480 MJPEG+PCM AVI -> Motion JPEG + PCM, median of %s\n' "${#with[@]}"
printf '  with the progress window:    %.2f s (%s)\n' "$a" "${with[*]}"
printf '  without it:                  %.2f s (%s)\n' "$b" "${without[*]}"
printf '  cost:                        %+.1f %% (target < 1 %%)\n' "$(echo "($a - $b) * 100 / $b" | bc -l)"
result "Progress window's cost on a 5 min Morphana conversion (%)" "$a" "$b" \
  "$(echo "($a - $b) * 100 / $b" | bc -l | xargs printf '%.1f')" "< 1" - -
