#!/usr/bin/env bash
# Whole-pipeline speed of the beat output: event log channels -> service ->
# bulk requests over HTTP -> the test bulk endpoint (bench_bulk_receiver: it
# reads every body strictly and counts the documents, storing none), against
# rsyslog reading the same documents as JSON lines from a file (imfile) and
# posting them in bulk (omelasticsearch, bulkmode) to the same endpoint.
#
# The event log root is that of pipeline_e2e.sh (the same N events); each
# reader has one beat receiver, the endpoint on 127.0.0.1 (esVersion 7, no
# template).
#
# Runs: one warm-up run (2 processing threads) whose documents the endpoint
# writes out as rsyslog's input file, then one measured run per THREADS value,
# then rsyslog. Each run starts from fresh bookmarks. Figures per run:
#   documents/s   N / wall seconds from the process start to the endpoint's last document
#   CPU s/M       user + system seconds of the process (start to SIGTERM exit) per million documents
#   peak RSS      maximum resident set (/usr/bin/time -v)
#
# usage: [N=1000000] [THREADS="1 2"] [BATCH=1000] [RSYSLOG=0] [KEEP=1] [IDLE_TIMEOUT=60] [WRAP="perf record -o F"]
#        bench/beat_pipeline_e2e.sh [BUILD_DIR]
#   BUILD_DIR defaults to build/release; the program and the helpers are built
#   there when missing. RSYSLOG=0 leaves out the capture run and rsyslog.
# The machine may be shared: wall-clock rates move with its load (printed at
# the end); CPU seconds per million documents move much less.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
UNIT=documents
source bench/pipeline_lib.sh
receiver=$build/bench/bench_bulk_receiver
build_targets zor-event-exporter bench_bulk_receiver bench_xml_channel_gen bench_channel_count
[[ ${RSYSLOG:-1} == 0 || -x $rsyslogd ]] ||
  { echo "rsyslogd not found at $rsyslogd (scripts/setup.sh installs it)" >&2; exit 1; }
make_root

# start_receiver DIR [EXTRA...]: starts the endpoint for N documents; sets
# receiver_pid and port.
start_receiver() {
  local dir=$1
  shift
  rm -f "$dir/port"
  "$receiver" --documents "$N" --port-file "$dir/port" --linger --idle-timeout "$IDLE_TIMEOUT" "$@" \
    >"$dir/receiver.out" 2>"$dir/receiver.err" &
  receiver_pid=$!
  pids+=("$receiver_pid")
  for _ in $(seq 100); do
    [[ -s $dir/port ]] && break
    sleep 0.05
  done
  port=$(cat "$dir/port")
}

# wait_for_receiver DIR: until the endpoint has N documents (0) or gave up (1).
wait_for_receiver() {
  local dir=$1
  while ! grep -q '^documents=' "$dir/receiver.out" 2>/dev/null; do
    kill -0 "$receiver_pid" 2>/dev/null || break
    sleep 0.05
  done
  grep -q '^documents=' "$dir/receiver.out" && (($(receiver_field "$dir" documents) >= N))
}

receiver_field() { grep -o "$2=[^ ]*" "$1/receiver.out" | head -1 | cut -d= -f2; }

stop_receiver() {
  kill -TERM "$receiver_pid" 2>/dev/null || true
  wait "$receiver_pid" 2>/dev/null || true
}

# run_service NAME THREADS [RECEIVER OPTIONS...]: one run from fresh bookmarks.
run_service() {
  local name=$1 threads=$2
  shift 2
  local dir=$tmp/run-$name
  mkdir -p "$dir/programdata" "$dir/home"
  start_receiver "$dir" "$@"
  write_config "$dir/programdata/Velmora/WinEvtSvc/Svc/SvcConfig.json" "$threads" \
    "\"beatReceivers\": [{\"receiverId\": @ID@, \"name\": \"bench\", \"protocol\": \"http\", \"host\": \"127.0.0.1\", \"port\": $port, \"esVersion\": 7, \"createTemplate\": false}]"
  local t0
  t0=$(now)
  /usr/bin/time -v -o "$dir/time.txt" ${WRAP:-} "$binary" --programdata "$dir/programdata" --home "$dir/home" \
    --eventlog-dir "$root" >"$dir/service.out" 2>&1 &
  local timed=$!
  pids+=("$timed")
  local ok=1
  wait_for_receiver "$dir" || ok=0
  stop_timed "$timed"
  stop_receiver
  if ((!ok)); then
    echo "  $name: the endpoint got $(receiver_field "$dir" documents) of $N documents; see $dir (run with KEEP=1)" >&2
    tail -n 5 "$dir/receiver.err" "$dir/service.out" >&2 || true
    return 1
  fi
  [[ $name == warm-up ]] ||
    record "service($threads thread$([[ $threads == 1 ]] || echo s))" "$dir/time.txt" "$t0" \
      "$(receiver_field "$dir" last_document)" "$(receiver_field "$dir" requests) bulk requests"
}

# ---- the service ---------------------------------------------------------------
documents=$tmp/documents.json
if [[ ${RSYSLOG:-1} != 0 ]]; then
  echo "warm-up run (2 processing threads), capturing the documents for rsyslog"
  run_service warm-up 2 --capture "$documents"
  echo "  captured $(wc -l <"$documents") documents, $(du -h "$documents" | cut -f1)"
fi

for threads in $THREADS; do
  echo "service, $threads processing thread(s)"
  run_service "threads-$threads" "$threads"
done

# ---- rsyslog: imfile -> omelasticsearch ----------------------------------------
rsyslog_run() {
  local rs timed ok t0
  echo "rsyslog imfile -> omelasticsearch (bulk)"
  rs=$tmp/rsyslog
  mkdir -p "$rs/work"
  start_receiver "$rs"
  cat >"$rs/rsyslog.conf" <<CONF
global(workDirectory="$rs/work" maxMessageSize="64k")
module(load="imfile" mode="inotify")
module(load="omelasticsearch")
template(name="document" type="string" string="%msg%")
input(type="imfile" file="$documents" tag="zor" ruleset="bulk")
ruleset(name="bulk" queue.type="LinkedList" queue.size="200000" queue.dequeueBatchSize="2000") {
  action(type="omelasticsearch" server="127.0.0.1" serverport="$port" template="document"
         searchIndex="winlogbeat-bench" searchType="winLogBeat" bulkmode="on" maxbytes="10m"
         action.resumeRetryCount="-1")
}
CONF
  "$rsyslogd" -N1 -f "$rs/rsyslog.conf" >"$rs/check.out" 2>&1 || { cat "$rs/check.out" >&2; exit 1; }
  t0=$(now)
  /usr/bin/time -v -o "$rs/time.txt" "$rsyslogd" -n -f "$rs/rsyslog.conf" -i "$rs/rsyslogd.pid" >"$rs/rsyslogd.out" 2>&1 &
  timed=$!
  pids+=("$timed")
  ok=1
  wait_for_receiver "$rs" || ok=0
  stop_timed "$timed"
  stop_receiver
  if ((ok)); then
    record "rsyslog imfile->omelasticsearch" "$rs/time.txt" "$t0" "$(receiver_field "$rs" last_document)" \
      "$(receiver_field "$rs" requests) bulk requests"
  else
    echo "  rsyslog: the endpoint got $(receiver_field "$rs" documents) of $N documents" >&2
    tail -n 5 "$rs/rsyslogd.out" "$rs/receiver.err" >&2 || true
  fi
}
[[ ${RSYSLOG:-1} == 0 ]] || rsyslog_run

print_table
