#!/usr/bin/env bash
# dump of a large .evtx file with its chunks decoded on one thread and on
# several: wall and CPU seconds per run, and the rate against one thread.
# The file is made at run time out of a sample's chunks (evtx_grow).
#
# usage: [MIB=128] [THREADS="1 2"] [REPEAT=5] bench/dump_parallel.sh [BUILD_DIR] [SAMPLE]
#   BUILD_DIR defaults to build/release (configured and built when missing);
#   SAMPLE to omer_security.evtx of the shared sample set. Runs alternate
#   between the thread counts, so that a change in the machine's load touches
#   them alike; the best wall time of each counts (the machine may be shared:
#   the load is printed at the end).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
sample=${2:-${ZOR_SHARED_DIR:-../shared}/evtx-samples/omer_security.evtx}
MIB=${MIB:-128}
THREADS=${THREADS:-"1 2"}
REPEAT=${REPEAT:-5}
binary=$build/bin/zor-event-exporter
grow=$build/tests/evtx_grow
if [[ $build == build/release && ! -f $build/build.ninja ]]; then
  # A clean checkout: configure and build what this needs alone.
  ZOR_TARGETS="zor-event-exporter evtx_grow" bash scripts/build.sh release
fi
[[ -x $binary && -x $grow ]] || cmake --build "$build" --target zor-event-exporter evtx_grow
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
file=$tmp/large.evtx
"$grow" "$sample" "$file" "$MIB" >/dev/null
records=$("$binary" dump --threads 1 "$file" 2>&1 >/dev/null | awk '/ records$/ {print $1}')
echo "file: $(du -m "$file" | cut -f1) MiB, $records records (from $(basename "$sample"))"

declare -A best cpu
for _ in $(seq "$REPEAT"); do
  for t in $THREADS; do
    /usr/bin/time -o "$tmp/time" -f "%e %U %S" "$binary" dump --threads "$t" "$file" >/dev/null 2>&1
    read -r w u s <"$tmp/time"
    if [[ -z ${best[$t]:-} ]] || awk -v a="$w" -v b="${best[$t]}" 'BEGIN {exit !(a < b)}'; then
      best[$t]=$w
      cpu[$t]=$(awk -v u="$u" -v s="$s" 'BEGIN {print u + s}')
    fi
  done
done
first=${THREADS%% *}
printf '%-8s %10s %14s %10s %12s\n' threads "wall s" "records/s" "cpu s" "x rate"
for t in $THREADS; do
  awk -v t="$t" -v w="${best[$t]}" -v c="${cpu[$t]}" -v r="$records" -v b="${best[$first]}" \
    'BEGIN {printf "%-8s %10.3f %14.0f %10.3f %12.2f\n", t, w, r / w, c, b / w}'
done
echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) at the end"
