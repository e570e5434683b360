#!/usr/bin/env bash
# The management endpoint under load while the service forwards events.
#
# One XML channel of N generated events is forwarded as BSD syslog over TCP
# to a loopback sink that counts lines (bench_line_sink). Runs, each from
# fresh bookmarks:
#   baseline     no requests: the forwarding rate alone
#   http/status, http/config, https/status, https/config
#                16 clients (bench_http_load, one kept-alive connection each)
#                send GET /status or GET /config without pause for as long as
#                the events take to arrive
# Figures per run: the forwarding rate (N / seconds from the start to the
# sink's last line) and its ratio to the baseline; for the loaded runs the
# requests per second, and p50 / p99 latency.
#
# usage: [N=200000] [CLIENTS=16] [KEEP=1] bench/management_load.sh [BUILD_DIR]
# The machine may be shared: wall-clock rates move with its load (printed).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
N=${N:-200000}
CLIENTS=${CLIENTS:-16}
# binary, generator, build_targets, tmp, pids (killed on exit), now.
source bench/pipeline_lib.sh
sink=$build/bench/bench_line_sink
load=$build/bench/bench_http_load
build_targets zor-event-exporter bench_line_sink bench_xml_channel_gen bench_http_load

mkdir -p "$tmp/eventlogs" "$tmp/home/Certs"
"$generator" "$tmp/eventlogs/Flow.xml" "$N" Flow >/dev/null
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=localhost -keyout "$tmp/home/Certs/key.pem" \
  -out "$tmp/home/Certs/cert.pem" 2>/dev/null
password=$(printf 'bench' | "$binary" encrypt-password)

# run NAME PROTOCOL PATH: one run; prints its row.
run() {
  local name=$1 protocol=$2 path=$3
  local dir=$tmp/${name//\//_}
  mkdir -p "$dir/data/Velmora/WinEvtSvc/Svc"
  "$sink" --lines "$N" --port-file "$dir/port" --linger --idle-timeout 60 >"$dir/sink.out" 2>"$dir/sink.err" &
  local sink_pid=$!
  pids+=("$sink_pid")
  for _ in $(seq 100); do [[ -s $dir/port ]] && break; sleep 0.05; done
  cat >"$dir/data/Velmora/WinEvtSvc/Svc/SvcConfig.json" <<JSON
{"port": 0, "protocol": "${protocol:-http}", "certFile": "cert.pem", "keyFile": "key.pem",
 "userName": "bench", "password": "$password", "processingThreads": 1,
 "interfaces": [{"name": "Flow", "path": "Flow", "startAtBeginning": true, "batchSize": 1000,
   "syslogReceivers": [{"host": "127.0.0.1", "port": $(cat "$dir/port"), "transport": "TCP", "tcpDelimiter": "\\\\LF"}]}]}
JSON
  local t0
  t0=$(now)
  "$binary" --programdata "$dir/data" --home "$tmp/home" --log-dir "$dir/log" --eventlog-dir "$tmp/eventlogs" \
    >"$dir/service.out" 2>&1 &
  local service_pid=$!
  pids+=("$service_pid")
  local result="-"
  if [[ -n $protocol ]]; then
    local port=""
    for _ in $(seq 200); do
      port=$(iconv -f utf-16 -t utf-8 "$dir/log/"*.log 2>/dev/null | grep -o 'Listening on 127.0.0.1:[0-9]*' |
        head -1 | cut -d: -f2 || true)
      [[ -n $port ]] && break
      sleep 0.05
    done
    local flags=()
    [[ $protocol == https ]] && flags+=(--https)
    result=$("$load" --port "$port" --path "$path" --clients "$CLIENTS" --user bench --password bench \
      --stop-file "$dir/sink.out" --seconds 600 "${flags[@]}")
  fi
  while ! grep -q '^lines=' "$dir/sink.out" 2>/dev/null && kill -0 "$sink_pid" 2>/dev/null; do sleep 0.05; done
  kill -TERM "$sink_pid" 2>/dev/null || true
  wait "$sink_pid" 2>/dev/null || true
  kill -TERM "$service_pid" 2>/dev/null || true
  wait "$service_pid" 2>/dev/null || true
  local last
  last=$(grep -o 'last_line=[^ ]*' "$dir/sink.out" | cut -d= -f2)
  local rate
  rate=$(awk -v n="$N" -v a="$t0" -v b="$last" 'BEGIN {printf "%.0f", n / (b - a)}')
  echo "$name $rate $result"
}

echo "N=$N events, $CLIENTS clients"
rows=()
rows+=("$(run baseline "" "")")
for protocol in http https; do
  for path in /status /config; do rows+=("$(run "$protocol$path" "$protocol" "$path")"); done
done
base=$(echo "${rows[0]}" | awk '{print $2}')
printf '%-14s %10s %8s %10s %9s %9s %7s\n' run events/s ratio requests/s p50_ms p99_ms errors
for row in "${rows[@]}"; do
  echo "$row" | awk -v base="$base" '{
    rps = "-"; p50 = "-"; p99 = "-"; err = "-";
    for (i = 3; i <= NF; i++) { split($i, kv, "="); if (kv[1] == "rps") rps = kv[2]; if (kv[1] == "p50_ms") p50 = kv[2];
      if (kv[1] == "p99_ms") p99 = kv[2]; if (kv[1] == "errors") err = kv[2]; }
    printf "%-14s %10s %8.2f %10s %9s %9s %7s\n", $1, $2, $2 / base, rps, p50, p99, err }'
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
