#!/usr/bin/env bash
# What the counters cost: the whole-pipeline benchmark (pipeline_e2e.sh,
# service only) run in turns with this tree's program and with a program
# built from the commit before the counters came, both built and measured in
# this one run of the script. The figure to compare is CPU seconds per
# million events (user + system of the service), which a shared machine moves
# much less than the wall-clock rate.
#
# usage: [N=500000] [ROUNDS=3] [THREADS=2] [BASE=commit] [AFTER=commit] bench/counters_overhead.sh [BUILD_DIR]
#   BUILD_DIR (default build/release) holds this tree's build; BASE defaults
#   to the parent of the commit that brought the metrics registry in. AFTER,
#   when given, is measured instead of this tree (say, that commit itself, to
#   leave out whatever came after it). The other trees are temporary git
#   worktrees, built (with ccache, when present) into their own folders and
#   removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
N=${N:-500000}
ROUNDS=${ROUNDS:-3}
THREADS=${THREADS:-2}
base=${BASE:-$(git log --diff-filter=A --format=%H -- src/delivery/MetricsRegistry.h | tail -1)^}
base=$(git rev-parse --short "$base")
shared=$(cd ../shared 2>/dev/null && pwd || true)
source bench/worktree_build.sh

work=$(mktemp -d)
cleanup() {
  remove_worktree "$work/before"
  remove_worktree "$work/after"
  rm -rf "$work"
}
trap cleanup EXIT

targets=(zor-event-exporter bench_line_sink bench_xml_channel_gen bench_channel_count)

build_commit "$work/before" "$base" "${targets[@]}"
label="with counters"
if [[ -n ${AFTER:-} ]]; then
  build_commit "$work/after" "$AFTER" "${targets[@]}"
  build=$work/after/build
  label="with counters ($(git rev-parse --short "$AFTER"))"
else
  cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null
fi

# cpu_per_million BUILD: one service run of pipeline_e2e.sh; its CPU s/million.
cpu_per_million() {
  N=$N THREADS=$THREADS RSYSLOG=0 ZOR_SHARED_DIR=${shared} bench/pipeline_e2e.sh "$1" |
    awk '/CPU s per million/ {for (i = 1; i <= NF; i++) if ($(i + 1) == "CPU") {print $i; exit}}'
}

before=()
after=()
for round in $(seq "$ROUNDS"); do
  # Alternating which goes first evens out a machine that grows busier.
  if ((round % 2)); then
    after+=("$(cpu_per_million "$build")")
    before+=("$(cpu_per_million "$work/before/build")")
  else
    before+=("$(cpu_per_million "$work/before/build")")
    after+=("$(cpu_per_million "$build")")
  fi
  echo "round $round: with counters ${after[-1]}, before them (${base}) ${before[-1]} CPU s per million"
done

median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
m_after=$(median "${after[@]}")
m_before=$(median "${before[@]}")
echo
echo "N = $N events, $THREADS processing thread(s), $ROUNDS rounds; load average $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-24s %14s\n' build "CPU s/million"
printf '%-24s %14s\n' "before ($base)" "$m_before" "$label" "$m_after"
awk -v a="$m_after" -v b="$m_before" 'BEGIN {printf "ratio with/before: %.3f (%+.1f%%)\n", a / b, (a / b - 1) * 100}'
