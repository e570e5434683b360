# Shared by the whole-program benchmarks (pipeline_e2e.sh, beat_pipeline_e2e.sh,
# management_load.sh): the event log root, the helper build, the peer that
# counts what arrives, the service and rsyslog runs, timing, stopping and the
# result table.
# Source it after setting build (the build folder) and UNIT; it reads N,
# BATCH, QUERY, IDLE_TIMEOUT, WRAP and ZOR_SHARED_DIR, and sets tmp (a temporary
# folder removed on exit unless KEEP=1), pids (killed on exit), root and
# channels.
#
# A pipeline script describes its peer (a counting program of bench/tools)
# before it uses the runs:
#   peer          the program
#   peer_count    its option for the number to wait for (--lines, --documents)
#   peer_done     the field of its result line that counts (lines, documents)
#   peer_last     the field with the time of the last one (last_line, ...)
#   peer_note     the field shown beside a run's figures (connections, ...)
#   receivers_json PORT   a function printing a reader's receiver keys

N=${N:-1000000}
THREADS=${THREADS:-"1 2"}
BATCH=${BATCH:-1000}
IDLE_TIMEOUT=${IDLE_TIMEOUT:-60}
samples=${ZOR_SHARED_DIR:-../shared}/evtx-samples
binary=$build/bin/zor-event-exporter
generator=$build/bench/bench_xml_channel_gen
counter=$build/bench/bench_channel_count
rsyslogd=${RSYSLOGD:-/usr/sbin/rsyslogd}

# build_targets TARGET...: builds those whose program is missing from $build.
build_targets() {
  local need=() target
  for target in "$@"; do
    local program=$build/bench/$target
    [[ $target == zor-event-exporter ]] && program=$binary
    [[ -x $program ]] || need+=("$target")
  done
  ((${#need[@]})) || return 0
  [[ -f $build/build.ninja || -f $build/Makefile ]] ||
    { echo "no configured build in $build (see scripts/build.sh)" >&2; exit 1; }
  cmake --build "$build" -j2 --target "${need[@]}"
}

tmp=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  if [[ ${KEEP:-0} == 1 ]]; then echo "kept $tmp"; else rm -rf "$tmp"; fi
}
trap cleanup EXIT

now() { date +%s.%N; }

# make_root: every sample .evtx file as its own channel, plus one XML channel
# "Security" generated to make up N events in all (the samples count with
# what a reader following them gets, bench_channel_count: a damaged file whose
# chunks hold ids out of order gives fewer than a dump).
make_root() {
  root=$tmp/eventlogs
  mkdir -p "$root"
  channels=()
  local file name sample_records generated
  for file in "$samples"/*.evtx; do
    name=$(basename "$file" .evtx)
    cp "$file" "$root/$name.evtx"
    channels+=("$name")
  done
  sample_records=$("$counter" "$root" "${channels[@]}" | awk '$1 == "total" {print $2}')
  generated=$((N - sample_records))
  ((generated > 0)) || { echo "N=$N is not above the $sample_records sample records" >&2; exit 1; }
  "$generator" "$root/Security.xml" "$generated" Security >/dev/null
  channels+=(Security)
  echo "event log root: ${#channels[@]} channels, $sample_records sample records + $generated generated = $N events," \
    "$(du -sh "$root" | cut -f1)"
}

# write_config FILE THREADS RECEIVERS: one reader per channel, each starting
# at the beginning, with RECEIVERS (the JSON text of its receiver keys, e.g.
# "syslogReceivers": [...]) and the reader's number in place of @ID@.
write_config() {
  local file=$1 threads=$2 receivers=$3 id=0 first=1 channel
  mkdir -p "$(dirname "$file")"
  {
    printf '{\n  "logLevel": 4,\n  "processingThreads": %d,\n  "interfaces": [\n' "$threads"
    for channel in "${channels[@]}"; do
      id=$((id + 1))
      ((first)) || printf ',\n'
      first=0
      printf '    {"id": %d, "name": "%s", "interfaceType": 1, "enabled": true, "path": "%s",' "$id" "$channel" "$channel"
      if [[ -n ${QUERY:-} ]]; then printf ' "selectionDetail": "%s",' "$QUERY"; fi
      printf ' "startAtBeginning": true, "batchSize": %d,\n     %s}' "$BATCH" "${receivers//@ID@/$id}"
    done
    printf '\n  ]\n}\n'
  } >"$file"
}

# start_peer DIR [EXTRA...]: starts the peer for N; sets peer_pid and port.
start_peer() {
  local dir=$1
  shift
  rm -f "$dir/port"
  "$peer" "$peer_count" "$N" --port-file "$dir/port" --linger --idle-timeout "$IDLE_TIMEOUT" "$@" \
    >"$dir/peer.out" 2>"$dir/peer.err" &
  peer_pid=$!
  pids+=("$peer_pid")
  for _ in $(seq 100); do
    [[ -s $dir/port ]] && break
    sleep 0.05
  done
  port=$(cat "$dir/port")
}

# peer_field DIR NAME: a field of the peer's result line.
peer_field() { grep -o "$2=[^ ]*" "$1/peer.out" | head -1 | cut -d= -f2; }

# wait_for_peer DIR: until the peer has N (0) or gave up (1).
wait_for_peer() {
  local dir=$1
  while ! grep -q "^$peer_done=" "$dir/peer.out" 2>/dev/null; do
    kill -0 "$peer_pid" 2>/dev/null || break
    sleep 0.05
  done
  grep -q "^$peer_done=" "$dir/peer.out" && (($(peer_field "$dir" "$peer_done") >= N))
}

# peer_cpu: the peer's user + system CPU seconds so far (so that a run shows
# whether the peer, not the program measured, was the bottleneck).
peer_cpu() {
  awk -v hz="$(getconf CLK_TCK)" '{printf "%.2f", ($14 + $15) / hz}' "/proc/$peer_pid/stat" 2>/dev/null || echo "?"
}

stop_peer() {
  kill -TERM "$peer_pid" 2>/dev/null || true
  wait "$peer_pid" 2>/dev/null || true
}

# run_service NAME THREADS [PEER OPTIONS...]: one run of the service from
# fresh bookmarks, each reader with the receivers of receivers_json. Its row
# is named "$run_label(THREADS threads)" (run_label: "service" unless set).
run_service() {
  local name=$1 threads=$2
  shift 2
  local dir=$tmp/run-$name
  mkdir -p "$dir/programdata" "$dir/home"
  start_peer "$dir" "$@"
  write_config "$dir/programdata/Velmora/WinEvtSvc/Svc/SvcConfig.json" "$threads" "$(receivers_json "$port")"
  local t0
  t0=$(now)
  # shellcheck disable=SC2086 # WRAP is a command line
  /usr/bin/time -v -o "$dir/time.txt" ${WRAP:-} "$binary" --programdata "$dir/programdata" --home "$dir/home" \
    --eventlog-dir "$root" >"$dir/service.out" 2>&1 &
  local timed=$!
  pids+=("$timed")
  local ok=1
  wait_for_peer "$dir" || ok=0
  local cpu
  cpu=$(peer_cpu)
  stop_timed "$timed"
  stop_peer
  if ((!ok)); then
    echo "  $name: the peer got $(peer_field "$dir" "$peer_done") of $N $UNIT; see $dir (run with KEEP=1)" >&2
    tail -n 5 "$dir/peer.err" "$dir/service.out" >&2 || true
    return 1
  fi
  [[ $name == warm-up ]] ||
    record "${run_label:-service}($threads thread$([[ $threads == 1 ]] || echo s))" "$dir/time.txt" "$t0" \
      "$(peer_field "$dir" "$peer_last")" "$(peer_field "$dir" "$peer_note") $peer_note, peer CPU $cpu s"
}

# run_rsyslog NAME CONF: rsyslog with the configuration text CONF, in which
# @WORK@ stands for its work folder and @PORT@ for the peer's port.
run_rsyslog() {
  local name=$1 conf=$2 rs timed ok t0
  rs=$tmp/rsyslog
  mkdir -p "$rs/work"
  start_peer "$rs"
  conf=${conf//@WORK@/$rs/work}
  printf '%s\n' "${conf//@PORT@/$port}" >"$rs/rsyslog.conf"
  "$rsyslogd" -N1 -f "$rs/rsyslog.conf" >"$rs/check.out" 2>&1 || { cat "$rs/check.out" >&2; exit 1; }
  t0=$(now)
  /usr/bin/time -v -o "$rs/time.txt" "$rsyslogd" -n -f "$rs/rsyslog.conf" -i "$rs/rsyslogd.pid" >"$rs/rsyslogd.out" 2>&1 &
  timed=$!
  pids+=("$timed")
  ok=1
  wait_for_peer "$rs" || ok=0
  local cpu
  cpu=$(peer_cpu)
  stop_timed "$timed"
  stop_peer
  if ((ok)); then
    record "$name" "$rs/time.txt" "$t0" "$(peer_field "$rs" "$peer_last")" \
      "$(peer_field "$rs" "$peer_note") $peer_note, peer CPU $cpu s"
  else
    echo "  rsyslog: the peer got $(peer_field "$rs" "$peer_done") of $N $UNIT" >&2
    tail -n 5 "$rs/rsyslogd.out" "$rs/peer.err" >&2 || true
  fi
}

# stop_timed TIME_PID: SIGTERM to the program /usr/bin/time runs, then waits.
stop_timed() {
  local timed=$1 child
  child=$(pgrep -P "$timed" || true)
  [[ -n $child ]] && kill -TERM "$child"
  for _ in $(seq 300); do
    kill -0 "$timed" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$timed" 2>/dev/null; then
    echo "  did not stop within 30 s of SIGTERM; killing it" >&2
    child=$(pgrep -P "$timed" || true)
    [[ -n $child ]] && kill -KILL "$child"
  fi
  wait "$timed" || true
}

# time_field FILE LABEL: a value of /usr/bin/time -v's report.
time_field() { awk -F': ' -v label="$2" 'index($0, label) {print $2; exit}' "$1"; }

declare -a row_names row_rate row_cpu row_rss

# record NAME TIMEFILE T0 TLAST NOTE: adds a table row: N / (TLAST - T0) per
# second, CPU seconds per million and peak RSS from /usr/bin/time's report.
record() {
  local name=$1 timefile=$2 t0=$3 last=$4 note=$5 user sys rss
  user=$(time_field "$timefile" "User time (seconds)")
  sys=$(time_field "$timefile" "System time (seconds)")
  rss=$(time_field "$timefile" "Maximum resident set size (kbytes)")
  row_names+=("$name")
  row_rate+=("$(awk -v n="$N" -v a="$t0" -v b="$last" 'BEGIN {printf "%.0f", n / (b - a)}')")
  row_cpu+=("$(awk -v n="$N" -v u="$user" -v s="$sys" 'BEGIN {printf "%.2f", (u + s) / (n / 1e6)}')")
  row_rss+=("$(awk -v k="$rss" 'BEGIN {printf "%.1f", k / 1024}')")
  printf '  %s: %s %s/s, %s CPU s per million (user %s, sys %s), peak RSS %s MiB, %s\n' \
    "$name" "${row_rate[-1]}" "$UNIT" "${row_cpu[-1]}" "$user" "$sys" "${row_rss[-1]}" "$note"
}

# print_table: the rows, with each rate as a ratio to the rsyslog row's.
print_table() {
  local reference=0 i
  echo
  echo "N = $N $UNIT; machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) at the end"
  printf '%-28s %12s %14s %14s %12s\n' run "$UNIT/s" "CPU s/million" "peak RSS MiB" "x rsyslog"
  for i in "${!row_names[@]}"; do
    [[ ${row_names[$i]} == rsyslog* ]] && reference=${row_rate[$i]}
  done
  for i in "${!row_names[@]}"; do
    printf '%-28s %12s %14s %14s %12s\n' "${row_names[$i]}" "${row_rate[$i]}" "${row_cpu[$i]}" "${row_rss[$i]}" \
      "$(awk -v a="${row_rate[$i]}" -v b="$reference" 'BEGIN {if (b > 0) printf "%.2f", a / b; else print "-"}')"
  done
}
