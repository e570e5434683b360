#!/usr/bin/env bash
# Whole-pipeline speed: event log channels -> service -> BSD syslog over TCP
# (LF framing) -> a loopback sink that counts lines, against rsyslog reading
# the same number of syslog lines from a file (imfile) and forwarding them
# over TCP (omfwd) to the same sink.
#
# The event log root holds every sample .evtx file of the shared sample set
# as its own channel, plus one XML channel "Security" generated to make up
# N events in all (the samples count with what a reader following them gets,
# bench_channel_count: every record a dump shows). One reader per channel, each starting at the beginning
# with one syslog receiver: the sink on 127.0.0.1.
#
# Runs: one warm-up run (2 processing threads) whose lines the sink captures
# as rsyslog's input file, then one measured run per THREADS value, then
# rsyslog. Each run starts from fresh bookmarks. Figures per run:
#   events/s      N / wall seconds from the process start to the sink's last line
#   CPU s/M       user + system seconds of the process (start to SIGTERM exit) per million events
#   peak RSS      maximum resident set (/usr/bin/time -v)
#
# usage: [N=1000000] [THREADS="1 2"] [BATCH=1000] [RSYSLOG=0] [KEEP=1] [IDLE_TIMEOUT=60] [WRAP="perf record -o F"]
#        bench/pipeline_e2e.sh [BUILD_DIR]
#   BUILD_DIR defaults to build/release; the program and the helper targets
#   (bench_line_sink, bench_xml_channel_gen, bench_channel_count) are built
#   there when missing. RSYSLOG=0 leaves out the capture run and rsyslog (for
#   quick service-only runs). KEEP=1 keeps the temporary folder (logs,
#   configuration). A run fails when the sink sees no byte for IDLE_TIMEOUT
#   seconds before it has N lines.
# The machine may be shared: wall-clock rates move with its load (printed at
# the end); CPU seconds per million events move much less.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
UNIT=events
source bench/pipeline_lib.sh
sink=$build/bench/bench_line_sink
build_targets zor-event-exporter bench_line_sink bench_xml_channel_gen bench_channel_count
[[ -x $rsyslogd ]] || { echo "rsyslogd not found at $rsyslogd (scripts/setup.sh installs it)" >&2; exit 1; }
make_root

# ---- helpers -----------------------------------------------------------------

# start_sink DIR [EXTRA...]: starts the sink for N lines; sets sink_pid and port.
start_sink() {
  local dir=$1
  shift
  rm -f "$dir/port"
  "$sink" --lines "$N" --port-file "$dir/port" --linger --idle-timeout "$IDLE_TIMEOUT" "$@" \
    >"$dir/sink.out" 2>"$dir/sink.err" &
  sink_pid=$!
  pids+=("$sink_pid")
  for _ in $(seq 100); do
    [[ -s $dir/port ]] && break
    sleep 0.05
  done
  port=$(cat "$dir/port")
}

# wait_for_sink DIR: until the sink has N lines (0) or gave up (1).
wait_for_sink() {
  local dir=$1
  while ! grep -q '^lines=' "$dir/sink.out" 2>/dev/null; do
    kill -0 "$sink_pid" 2>/dev/null || break
    sleep 0.05
  done
  grep -q '^lines=' "$dir/sink.out" && ! grep -q 'giving up' "$dir/sink.err"
}

# The sink's result field NAME.
sink_field() { grep -o "$2=[^ ]*" "$1/sink.out" | head -1 | cut -d= -f2; }

stop_sink() {
  kill -TERM "$sink_pid" 2>/dev/null || true
  wait "$sink_pid" 2>/dev/null || true
}

# run_service NAME THREADS [SINK OPTIONS...]: one run from fresh bookmarks.
run_service() {
  local name=$1 threads=$2
  shift 2
  local dir=$tmp/run-$name
  mkdir -p "$dir/programdata" "$dir/home"
  start_sink "$dir" "$@"
  write_config "$dir/programdata/Velmora/WinEvtSvc/Svc/SvcConfig.json" "$threads" \
    "\"syslogReceivers\": [{\"syslogReceiverId\": @ID@, \"name\": \"sink\", \"host\": \"127.0.0.1\", \"port\": $port, \"transport\": \"TCP\", \"tcpDelimiter\": \"\\\\LF\", \"version\": 0, \"persistentConnection\": true}]"
  local t0
  t0=$(now)
  /usr/bin/time -v -o "$dir/time.txt" ${WRAP:-} "$binary" --programdata "$dir/programdata" --home "$dir/home" \
    --eventlog-dir "$root" >"$dir/service.out" 2>&1 &
  local timed=$!
  pids+=("$timed")
  local ok=1
  wait_for_sink "$dir" || ok=0
  stop_timed "$timed"
  stop_sink
  if ((!ok)); then
    echo "  $name: the sink got $(sink_field "$dir" lines) of $N lines; see $dir (run with KEEP=1)" >&2
    tail -n 5 "$dir/sink.err" "$dir/service.out" >&2 || true
    return 1
  fi
  [[ $name == warm-up ]] ||
    record "service($threads thread$([[ $threads == 1 ]] || echo s))" "$dir/time.txt" "$t0" \
      "$(sink_field "$dir" last_line)" "$(sink_field "$dir" connections) connection(s)"
}

# ---- the service ---------------------------------------------------------------
lines=$tmp/lines.log
if [[ ${RSYSLOG:-1} != 0 ]]; then
  echo "warm-up run (2 processing threads), capturing the lines for rsyslog"
  run_service warm-up 2 --capture "$lines"
  echo "  captured $(wc -l <"$lines") lines, $(du -h "$lines" | cut -f1)"
fi

for threads in $THREADS; do
  echo "service, $threads processing thread(s)"
  run_service "threads-$threads" "$threads"
done

# ---- rsyslog: imfile -> omfwd --------------------------------------------------
# rsyslog reading the captured lines.
rsyslog_run() {
  local rs timed ok t0
  echo "rsyslog imfile -> omfwd TCP"
  rs=$tmp/rsyslog
  mkdir -p "$rs/work"
  start_sink "$rs"
  cat >"$rs/rsyslog.conf" <<EOF
global(workDirectory="$rs/work" maxMessageSize="64k")
module(load="imfile" mode="inotify")
input(type="imfile" file="$lines" tag="zor" severity="info" facility="local0" ruleset="forward")
ruleset(name="forward") {
  action(type="omfwd" target="127.0.0.1" port="$port" protocol="tcp" template="RSYSLOG_TraditionalForwardFormat")
}
EOF
  "$rsyslogd" -N1 -f "$rs/rsyslog.conf" >"$rs/check.out" 2>&1 || { cat "$rs/check.out" >&2; exit 1; }
  t0=$(now)
  /usr/bin/time -v -o "$rs/time.txt" "$rsyslogd" -n -f "$rs/rsyslog.conf" -i "$rs/rsyslogd.pid" >"$rs/rsyslogd.out" 2>&1 &
  timed=$!
  pids+=("$timed")
  ok=1
  wait_for_sink "$rs" || ok=0
  stop_timed "$timed"
  stop_sink
  if ((ok)); then
    record "rsyslog imfile->omfwd" "$rs/time.txt" "$t0" "$(sink_field "$rs" last_line)" \
      "$(sink_field "$rs" connections) connection(s)"
  else
    echo "  rsyslog: the sink got $(sink_field "$rs" lines) of $N lines" >&2
    tail -n 5 "$rs/rsyslogd.out" >&2 || true
  fi
}
[[ ${RSYSLOG:-1} == 0 ]] || rsyslog_run

print_table
