#!/usr/bin/env bash
# Speed of our EVTX reader + renderer against two peers on the same files:
#   ours        zor-event-exporter dump FILE
#   evtxexport  evtxexport -f xml FILE        (libevtx-utils)
#   python-evtx evtx_dump.py FILE             (python3-evtx)
# Output goes to /dev/null. Each tool reads the file list R times (R per tool,
# so that the fast ones run long enough to measure); records/s are computed
# from CPU time (user + system) and from wall time, since the machine may be
# shared. Records are what our dump counts per pass. The last rows bound
# every ratio on small files, each run the same way:
#   version      zor-event-exporter --version (our cheapest command: our start)
#   exit-dynamic a program that only exits, linked as ours (C library shared)
#   exit-spie    the same linked static PIE
#   exit-static  the same linked static, not PIE
#   exit-syscall a program whose entry point only calls exit (no C library,
#                no loader: the least any process costs)
#   start-up     /bin/true
#   cat          copies each file to /dev/null (a process that reads the
#                whole file and writes it out)
# The column "evtx/row" is evtxexport's CPU time over the row's: for ours the
# ratio measured, for the rows of programs that only start the most that any
# program starting that way could reach on these files even if its work cost
# nothing.
#
# usage: [GROW_MIB=N] [MIN_MIB=N] bench/evtx_speed.sh [BINARY] [FILE...]
#   BINARY defaults to build/release/bin/zor-event-exporter (built when
#   missing, with the exit programs of bench/tools); FILEs default to
#   four samples of the shared sample set, or with MIN_MIB=N to every sample
#   of N MiB or more. Small files measure mostly process start-up;
#   GROW_MIB=N first grows each file to N MiB of its own chunks with the
#   evtx_grow tool of the same build (BINARY/../../tests/evtx_grow).
set -euo pipefail
cd "$(dirname "$0")/.."
binary=${1:-build/release/bin/zor-event-exporter}
shift || true
exits=build/release/bench
if [[ $binary == build/release/bin/zor-event-exporter && ! ( -x $binary && -x $exits/bench_exit_syscall ) ]]; then
  # A clean checkout: configure and build what this needs alone.
  ZOR_TARGETS="zor-event-exporter evtx_grow bench_exit_static bench_exit_static_pie bench_exit_dynamic bench_exit_syscall" \
    bash scripts/build.sh release
fi
samples=${ZOR_SHARED_DIR:-../shared}/evtx-samples
if (($#)); then files=("$@"); elif [[ -n ${MIN_MIB:-} ]]; then
  mapfile -t files < <(find "$samples" -name '*.evtx' -size +$((MIN_MIB * 1024 - 1))k | sort)
else
  files=("$samples/pyevtx_system.evtx" "$samples/mdec_security_firewall_disabled.evtx"
         "$samples/omer_sysmon.evtx" "$samples/dbc_application_many.evtx")
fi
if [[ -n ${GROW_MIB:-} ]]; then
  grow=$(dirname "$binary")/../tests/evtx_grow
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  grown=()
  for f in "${files[@]}"; do
    "$grow" "$f" "$tmp/$(basename "$f")" "$GROW_MIB" >/dev/null
    grown+=("$tmp/$(basename "$f")")
  done
  files=("${grown[@]}")
fi
OURS_REPEAT=${OURS_REPEAT:-30}
EVTXEXPORT_REPEAT=${EVTXEXPORT_REPEAT:-3}
PYTHON_REPEAT=${PYTHON_REPEAT:-1}  # 0 leaves python-evtx out

records=0
for f in "${files[@]}"; do
  n=$("$binary" dump "$f" 2>&1 >/dev/null | awk '/ records$/ {print $1}')
  records=$((records + n))
done
echo "files: ${#files[@]}, records per pass: $records"

# run NAME REPEAT COMMAND...  (COMMAND gets each file appended)
declare -A cpu wall
run() {
  local name=$1 repeat=$2
  shift 2
  local script="for i in \$(seq $repeat); do for f in ${files[*]@Q}; do $* \"\$f\" >/dev/null 2>&1 || true; done; done"
  local out
  out=$( { /usr/bin/time -f "%e %U %S" bash -c "$script"; } 2>&1 | tail -1)
  read -r w u s <<<"$out"
  wall[$name]=$(awk -v w="$w" -v r="$repeat" 'BEGIN {print w / r}')
  cpu[$name]=$(awk -v u="$u" -v s="$s" -v r="$repeat" 'BEGIN {print (u + s) / r}')
}

run ours "$OURS_REPEAT" "$binary" dump
command -v evtxexport >/dev/null && run evtxexport "$EVTXEXPORT_REPEAT" evtxexport -f xml
((PYTHON_REPEAT > 0)) && command -v evtx_dump.py >/dev/null && run python-evtx "$PYTHON_REPEAT" evtx_dump.py
run version "$OURS_REPEAT" "$binary" --version
if [[ -x $exits/bench_exit_syscall ]]; then
  run exit-dynamic "$OURS_REPEAT" "$exits/bench_exit_dynamic"
  run exit-spie "$OURS_REPEAT" "$exits/bench_exit_static_pie"
  run exit-static "$OURS_REPEAT" "$exits/bench_exit_static"
  run exit-syscall "$OURS_REPEAT" "$exits/bench_exit_syscall"
fi
run start-up "$OURS_REPEAT" /bin/true
run cat "$OURS_REPEAT" cat

printf '%-12s %12s %14s %12s %14s %10s %10s %10s\n' tool "cpu s/pass" "records/s cpu" "wall s/pass" "records/s wall" "x cpu" "x wall" "evtx/row"
for name in ours evtxexport python-evtx version exit-dynamic exit-spie exit-static exit-syscall start-up cat; do
  [[ -n ${cpu[$name]:-} ]] || continue
  awk -v n="$name" -v r="$records" -v c="${cpu[$name]}" -v w="${wall[$name]}" -v oc="${cpu[ours]}" -v ow="${wall[ours]}" \
    -v ec="${cpu[evtxexport]:-0}" \
    'BEGIN {printf "%-12s %12.3f %14.0f %12.3f %14.0f %10.1f %10.1f %10.1f\n", n, c, (c > 0 ? r / c : 0), w, (w > 0 ? r / w : 0), (oc > 0 ? c / oc : 0), (ow > 0 ? w / ow : 0), (c > 0 ? ec / c : 0)}'
done
echo "(x = how many times longer than ours; for the rows below python-evtx, the share of ours that starting a"
echo " process alone, or one that only copies the file, costs. evtx/row = evtxexport's CPU over the row's: for"
echo " a program that only starts, the most any program starting that way could reach here)"
if [[ -n ${cpu[evtxexport]:-} ]]; then
  # The cheapest start measured, against what 30x would leave for all of it.
  least=start-up
  for name in exit-dynamic exit-spie exit-static exit-syscall; do
    [[ -n ${cpu[$name]:-} ]] && awk -v a="${cpu[$name]}" -v b="${cpu[$least]}" 'BEGIN {exit !(a < b)}' && least=$name
  done
  awk -v ec="${cpu[evtxexport]}" -v f="${#files[@]}" -v n="$least" -v l="${cpu[$least]}" 'BEGIN {
    printf "30x evtxexport leaves %.4f cpu s per pass (%.2f ms per file) for start and work;\n", ec / 30, ec / 30 / f * 1000
    printf "the cheapest start measured (%s) takes %.4f of it (%.0f%%), %.2f ms per file\n", n, l, l / (ec / 30) * 100, l / f * 1000
  }'
fi
