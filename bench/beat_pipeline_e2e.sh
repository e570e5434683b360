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
#   QUERY: every reader's event query ("selectionDetail"; it must select every
#   event, as *[System[EventID>=0]] does, and hold no " or \\), so that each
#   event is parsed for the query on its way.
#   BUILD_DIR defaults to build/release; the program and the helpers are built
#   there when missing. RSYSLOG=0 leaves out the capture run and rsyslog.
# The machine may be shared: wall-clock rates move with its load (printed at
# the end); CPU seconds per million documents move much less.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
UNIT=documents
source bench/pipeline_lib.sh
peer=$build/bench/bench_bulk_receiver peer_count=--documents peer_done=documents peer_last=last_document
peer_note=requests
build_targets zor-event-exporter bench_bulk_receiver bench_xml_channel_gen bench_channel_count
[[ ${RSYSLOG:-1} == 0 || -x $rsyslogd ]] ||
  { echo "rsyslogd not found at $rsyslogd (scripts/setup.sh installs it)" >&2; exit 1; }
make_root

# One beat receiver per reader: the endpoint, esVersion 7, no template.
receivers_json() {
  printf '"beatReceivers": [{"receiverId": @ID@, "name": "bench", "protocol": "http", "host": "127.0.0.1", '
  printf '"port": %s, "esVersion": 7, "createTemplate": false}]' "$1"
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
if [[ ${RSYSLOG:-1} != 0 ]]; then
  echo "rsyslog imfile -> omelasticsearch (bulk)"
  run_rsyslog "rsyslog imfile->omelasticsearch" "global(workDirectory=\"@WORK@\" maxMessageSize=\"64k\")
module(load=\"imfile\" mode=\"inotify\")
module(load=\"omelasticsearch\")
template(name=\"document\" type=\"string\" string=\"%msg%\")
input(type=\"imfile\" file=\"$documents\" tag=\"zor\" ruleset=\"bulk\")
ruleset(name=\"bulk\" queue.type=\"LinkedList\" queue.size=\"200000\" queue.dequeueBatchSize=\"2000\") {
  action(type=\"omelasticsearch\" server=\"127.0.0.1\" serverport=\"@PORT@\" template=\"document\"
         searchIndex=\"winlogbeat-bench\" searchType=\"winLogBeat\" bulkmode=\"on\" maxbytes=\"10m\"
         action.resumeRetryCount=\"-1\")
}"
fi

print_table
