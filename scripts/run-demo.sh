#!/usr/bin/env bash
# Sets up a fresh machine, builds the program and runs the service in the
# foreground on a demo folder (demo/ in the checkout) until Ctrl-C.
#
# The demo configuration has one reader on the channel "Demo" (an XML channel
# in demo/eventlogs that this script writes events to: a few at start, then
# one every 10 seconds). Its receiver is a syslog listener on UDP
# 127.0.0.1:5514 that this script starts and that prints every line it gets;
# the service also keeps a copy of every line sent in
# demo/programdata/Velmora/WinEvtSvc/Svc/SysLogData/DemoListener.bsd.
# The management endpoint listens on loopback (http://127.0.0.1:6200/, or
# ZOR_DEMO_API_PORT) and serves the web console at its root.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh release

program="$PWD/build/release/bin/zor-event-exporter"
demo="$PWD/demo"
port=${ZOR_DEMO_PORT:-5514}
api_port=${ZOR_DEMO_API_PORT:-6200}
folders=(--programdata "$demo/programdata" --home "$demo/home" --eventlog-dir "$demo/eventlogs")
svc="$demo/programdata/Velmora/WinEvtSvc/Svc"
mkdir -p "$svc" "$demo/home" "$demo/eventlogs"
# The console beside the program (--home is the program folder).
cp "$(dirname "$program")/index.html" "$demo/home/index.html"

if [[ ! -f "$svc/SvcConfig.json" ]]; then
  cat > "$svc/SvcConfig.json" <<JSON
{
  "logLevel": 4,
  "processingThreads": 1,
  "ip": "127.0.0.1",
  "port": $api_port,
  "protocol": "http",
  "interfaces": [
    {
      "name": "Demo",
      "path": "Demo",
      "batchSize": 100,
      "startAtBeginning": true,
      "deriveSeverity": true,
      "syslogReceivers": [
        {"name": "DemoListener", "host": "127.0.0.1", "port": $port, "transport": "UDP", "saveToFile": true}
      ]
    }
  ]
}
JSON
fi

write_event() {
  "$program" "${folders[@]}" write-event --channel Demo --provider "Demo Provider" --id "$1" \
    --level "$2" --computer "$(hostname)" --data "Text=$3" --data "At=$(date -Is)" >/dev/null
}

pids=()
cleanup() { kill "${pids[@]}" 2>/dev/null || true; }
trap cleanup EXIT INT TERM

# The receiver: prints each datagram as one line.
python3 -u -c '
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", int(sys.argv[1])))
while True:
    data, _ = s.recvfrom(65535)
    print("[listener] " + data.decode("utf-8", "replace"), flush=True)
' "$port" &
pids+=($!)
sleep 1  # the listener is up before the first line is sent

write_event 100 4 "demo started"
write_event 200 3 "a warning from the demo"
write_event 300 2 "an error from the demo"
(
  n=0
  while sleep 10; do
    n=$((n + 1))
    write_event 400 4 "heartbeat $n" || true
  done
) &
pids+=($!)

echo "demo: configuration $svc/SvcConfig.json"
echo "demo: channel $demo/eventlogs/Demo.xml (write more with: $program ${folders[*]} write-event --channel Demo --provider P --id 1)"
echo "demo: service log $demo/home/Log; copy of every line sent $svc/SysLogData/DemoListener.bsd"
echo "demo: web console http://127.0.0.1:$api_port/ (the endpoint of $svc/SvcConfig.json)"
echo "demo: forwarding to the listener on UDP 127.0.0.1:$port; Ctrl-C stops"
"$program" "${folders[@]}" &
service=$!
pids+=($service)
wait "$service"
