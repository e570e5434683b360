#!/usr/bin/env bash
# Sets up a fresh machine, builds the program and runs the service in the
# foreground on a demo data folder (demo/ in the checkout) until Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh release
demo="$PWD/demo"
mkdir -p "$demo/programdata" "$demo/home"
echo "demo data folder: $demo/programdata; log files: $demo/home/Log"
exec build/release/bin/zor-event-exporter --programdata "$demo/programdata" --home "$demo/home"
