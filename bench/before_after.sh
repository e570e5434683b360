#!/usr/bin/env bash
# Two builds of the service side by side in one run: the whole-pipeline
# benchmarks (pipeline_e2e.sh: syslog over TCP; beat_pipeline_e2e.sh: bulk
# over HTTP) run alternately on each build, ROUNDS times, and the medians of
# events/s and CPU s per million are printed with the ratio after/before.
#
# usage: [N=1000000] [THREADS=2] [ROUNDS=3] bench/before_after.sh BEFORE_BUILD AFTER_BUILD
#   Each build folder is a configured release build (scripts/build.sh release
#   of the tree to measure); the benchmarks build their helpers there.
# Alternating the builds spreads the load of a shared machine over both.
set -euo pipefail
cd "$(dirname "$0")/.."
before=${1:?before build folder}
after=${2:?after build folder}
rounds=${ROUNDS:-3}
export N=${N:-1000000} THREADS=${THREADS:-2} RSYSLOG=0
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# run SCRIPT BUILD LABEL: appends "rate cpu" of the measured run to $out/LABEL.
run() {
  local line
  line=$(bash "bench/$1" "$2" 2>&1 | grep -E '^  service\(' | tail -1) ||
    { echo "$1 on $2 failed" >&2; exit 1; }
  echo "  $3: $line"
  awk '{for (i = 1; i <= NF; i++) {if ($(i+1) ~ /\/s,?$/ && !r) r = $i; if ($(i+1) == "CPU") c = $i}} END {print r, c}' \
    <<<"$line" >>"$out/$3"
}

for ((round = 1; round <= rounds; round++)); do
  echo "round $round of $rounds"
  for script in pipeline_e2e.sh beat_pipeline_e2e.sh; do
    run "$script" "$before" "$script-before"
    run "$script" "$after" "$script-after"
  done
done

median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
echo
echo "N = $N, $THREADS processing thread(s), $rounds rounds; load average $(cut -d' ' -f1-3 /proc/loadavg) at the end"
printf '%-22s %14s %14s %8s %14s %14s %8s\n' benchmark "rate before" "rate after" ratio "CPU s/M before" "CPU s/M after" ratio
for script in pipeline_e2e.sh beat_pipeline_e2e.sh; do
  rb=$(cut -d' ' -f1 "$out/$script-before" | median)
  ra=$(cut -d' ' -f1 "$out/$script-after" | median)
  cb=$(cut -d' ' -f2 "$out/$script-before" | median)
  ca=$(cut -d' ' -f2 "$out/$script-after" | median)
  printf '%-22s %14.0f %14.0f %8.3f %14.2f %14.2f %8.3f\n' "$script" "$rb" "$ra" \
    "$(awk -v a="$ra" -v b="$rb" 'BEGIN {print a / b}')" "$cb" "$ca" "$(awk -v a="$ca" -v b="$cb" 'BEGIN {print a / b}')"
done
