#!/usr/bin/env bash
# Two builds of the service side by side in one run: the whole-pipeline
# benchmarks (pipeline_e2e.sh: syslog over TCP; beat_pipeline_e2e.sh: bulk
# over HTTP) run alternately on each build, ROUNDS times, and the medians of
# events/s and CPU s per million are printed with the ratio after/before.
#
# usage: [N=1000000] [THREADS=2] [ROUNDS=3] bench/before_after.sh [BEFORE] [AFTER]
#   BEFORE and AFTER are each a configured release build folder
#   (scripts/build.sh release of the tree to measure) or a git revision,
#   built here in a temporary worktree. BEFORE defaults to the commit before
#   bookmarks followed delivery (the parent of the commit that brought
#   src/delivery/AckWindow.h), AFTER to this tree's build/release. The
#   benchmarks' programs are brought up to date in each build first.
# Alternating the builds spreads the load of a shared machine over both.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/worktree_build.sh
before=${1:-$(git log --diff-filter=A --format=%H -- src/delivery/AckWindow.h | tail -1)^}
after=${2:-build/release}
rounds=${ROUNDS:-3}
export N=${N:-1000000} THREADS=${THREADS:-2} RSYSLOG=0
out=$(mktemp -d)
cleanup() {
  remove_worktree "$out/before"
  remove_worktree "$out/after"
  rm -rf "$out"
}
trap cleanup EXIT

targets=(zor-event-exporter bench_line_sink bench_bulk_receiver bench_xml_channel_gen bench_channel_count)
# prepare NAME BUILD_OR_REVISION: prints the build folder to measure.
prepare() {
  if [[ $2 == build/release && ! -f build/release/build.ninja ]]; then
    # A clean checkout: this tree's release build, as scripts/build.sh makes it.
    ZOR_TARGETS="${targets[*]}" scripts/build.sh release >/dev/null
    echo "$2"
  elif [[ -d $2 ]]; then
    cmake --build "$2" -j2 --target "${targets[@]}" >/dev/null
    echo "$2"
  else
    build_commit "$out/$1" "$2" "${targets[@]}" >&2
    echo "$out/$1/build"
  fi
}
before_label=$before after_label=$after
[[ -d $before ]] || before_label=$(git rev-parse --short "$before")
[[ -d $after || $after == build/release ]] || after_label=$(git rev-parse --short "$after")
before=$(prepare before "$before")
after=$(prepare after "$after")
echo "before: $before_label, after: $after_label"

# run SCRIPT BUILD LABEL: appends "rate cpu" of the measured run to $out/LABEL.
run() {
  local line
  line=$(bash "bench/$1" "$2" 2>&1 | grep -E '^  service\(' | tail -1) ||
    { echo "$1 on $2 failed" >&2; exit 1; }
  echo "  $3: $line"
  awk '{for (i = 1; i <= NF; i++) {if ($(i+1) ~ /\/s,?$/ && !r) r = $i; if ($(i+1) == "CPU" && !c) c = $i}} END {print r, c}' \
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
echo "before $before_label, after $after_label"
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
