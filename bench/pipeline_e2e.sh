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
# as rsyslog's input file, then one measured run per THREADS value (with
# RELP=1 each followed by the same run over RELP, the sink acknowledging every
# message: bench_line_sink --relp; rows "service RELP(...)"), then rsyslog.
# Each run starts from fresh bookmarks. Figures per run:
#   events/s      N / wall seconds from the process start to the sink's last line
#   CPU s/M       user + system seconds of the process (start to SIGTERM exit) per million events
#   peak RSS      maximum resident set (/usr/bin/time -v)
#
# usage: [N=1000000] [THREADS="1 2"] [BATCH=1000] [RSYSLOG=0] [RELP=1] [KEEP=1] [IDLE_TIMEOUT=60]
#        [WRAP="perf record -o F"]
#        bench/pipeline_e2e.sh [BUILD_DIR]
#   QUERY: every reader's event query ("selectionDetail"; it must select every
#   event, as *[System[EventID>=0]] does, and hold no " or \\), so that each
#   event is parsed for the query on its way.
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
peer=$build/bench/bench_line_sink peer_count=--lines peer_done=lines peer_last=last_line peer_note=connections
build_targets zor-event-exporter bench_line_sink bench_xml_channel_gen bench_channel_count
[[ -x $rsyslogd ]] || { echo "rsyslogd not found at $rsyslogd (scripts/setup.sh installs it)" >&2; exit 1; }
make_root

# One BSD syslog receiver over TCP (LF framing; over RELP when transport=RELP)
# per reader.
transport=TCP
receivers_json() {
  printf '"syslogReceivers": [{"syslogReceiverId": @ID@, "name": "sink", "host": "127.0.0.1", "port": %s, ' "$1"
  printf '"transport": "%s", "tcpDelimiter": "\\\\LF", "version": 0, "persistentConnection": true}]' "$transport"
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
  if [[ ${RELP:-0} != 0 ]]; then
    echo "service over RELP, $threads processing thread(s)"
    transport=RELP run_label="service RELP" run_service "relp-threads-$threads" "$threads" --relp
  fi
done

# ---- rsyslog: imfile -> omfwd --------------------------------------------------
# rsyslog reading the captured lines.
if [[ ${RSYSLOG:-1} != 0 ]]; then
  echo "rsyslog imfile -> omfwd TCP"
  run_rsyslog "rsyslog imfile->omfwd" "global(workDirectory=\"@WORK@\" maxMessageSize=\"64k\")
module(load=\"imfile\" mode=\"inotify\")
input(type=\"imfile\" file=\"$lines\" tag=\"zor\" severity=\"info\" facility=\"local0\" ruleset=\"forward\")
ruleset(name=\"forward\") {
  action(type=\"omfwd\" target=\"127.0.0.1\" port=\"@PORT@\" protocol=\"tcp\" template=\"RSYSLOG_TraditionalForwardFormat\")
}"
fi

print_table
