#!/usr/bin/env bash
# What the job progress window costs: Morphana's 60 s AVI conversion (bench/morphana_convert.sh) timed
# with the window and without it (SUITE_JOB_PROGRESS=0), five runs each, alternating. Prints the
# medians and the difference (target: under 1 %).
# Usage: bench/progress_cost.sh [BUILD_DIR] [PREFIX]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
with=() without=()
for run in 1 2 3 4 5; do
  for setting in 1 0; do
    s=$(SUITE_JOB_PROGRESS=$setting "$here/morphana_convert.sh" "$@" </dev/null 2>/dev/null \
        | sed -n '/^AVI/,/^MP3/s/^  Morphana: *\([0-9.]*\) s.*/\1/p')
    [ -n "$s" ] || { echo "the conversion benchmark failed" >&2; exit 1; }
    if [ "$setting" = 1 ]; then with+=("$s"); else without+=("$s"); fi
  done
done
median() { printf '%s\n' "$@" | sort -n | sed -n 3p; }
a=$(median "${with[@]}") b=$(median "${without[@]}")
printf 'Morphana 60 s AVI conversion, median of 5\n'
printf '  with the progress window:    %.2f s (%s)\n' "$a" "${with[*]}"
printf '  without it:                  %.2f s (%s)\n' "$b" "${without[*]}"
printf '  cost:                        %+.1f %% (target < 1 %%)\n' "$(echo "($a - $b) * 100 / $b" | bc -l)"
