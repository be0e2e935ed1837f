#!/usr/bin/env bash
# Runs every benchmark, one after another, and prints one table: job, ours, peer, ratio (or the figure
# a target is about), target, peak memory, and whether the targets are met. Each benchmark's own report
# goes to bench-logs/NAME.log under the build folder. Exit status 1 when a target is missed or a
# benchmark failed.
# Usage: bench/all.sh [NAME...]   (all when none is named; NAME as in the list below)
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../scripts/prepare.sh"
install_packages && install_locale
build_suite >/dev/null || { say "the build failed"; exit 1; }
logs=$BUILD/bench-logs
mkdir -p "$logs"

declare -A script=(
  [timeline]="timeline_export/run.sh"
  [sequora]="sequora_export.sh"
  [scale]="sequora_scale.sh"
  [snipwell]="snipwell_cut.sh"
  [snipwell1080]="snipwell_cut.sh"
  [morphana]="morphana_convert.sh"
  [morphana1080]="morphana_convert.sh"
  [dubrix]="dubrix_replace.sh"
  [dubrix1080]="dubrix_replace.sh"
  [graph]="graph_convert.sh"
  [capturo]="capturo_record.sh"
  [progress]="progress_cost.sh"
)
order=(timeline sequora snipwell snipwell1080 morphana morphana1080 dubrix dubrix1080 graph capturo progress scale)

rows=()
failed=0
for name in "${@:-${order[@]}}"; do
  [ -n "${script[$name]:-}" ] || { say "no benchmark called $name"; exit 2; }
  size=640x480
  case $name in *1080) size=1920x1080 ;; esac
  say "== $name"
  start=$(date +%s)
  out=$(SIZE=$size bash "$here/${script[$name]}" </dev/null 2>"$logs/$name.err")
  status=$?
  printf '%s\n' "$out" > "$logs/$name.log"
  found=$(printf '%s\n' "$out" | grep '^result|' || true)
  if [ -z "$found" ] || [ $status != 0 ]; then
    rows+=("result|$name: failed (exit $status, see $logs/$name.err)|-|-|-|-|-|-|no")
  fi
  [ -n "$found" ] && while IFS= read -r row; do rows+=("$row"); done <<< "$found"
  say "   $(( $(date +%s) - start )) s"
done

printf '| job | ours | peer | ratio or figure | target | peak MB | met |\n'
printf '|---|---|---|---|---|---|---|\n'
for row in "${rows[@]}"; do
  IFS='|' read -r _ job ours peer value target peak plimit ok <<< "$row"
  [ "$plimit" = - ] || target="$target; memory $plimit MB"
  [ "$ok" = yes ] || failed=1
  printf '| %s | %s | %s | %s | %s | %s | %s |\n' "$job" "$ours" "$peer" "$value" "$target" "$peak" "$ok"
done
exit $failed
