#!/usr/bin/env bash
# The crash test at full size: 200,000 records of a growing channel to rsyslog
# over TCP, RELP and TLS and to the test bulk endpoint, the service killed with
# SIGKILL 20 times. Prints the duplicates per kill of each receiver.
#
# usage: [RECORDS=200000] [KILLS=20] bench/crash_recovery.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
cmake --build "$build" --target zor_integration_tests >/dev/null
ZOR_CRASH_RECORDS=${RECORDS:-200000} ZOR_CRASH_KILLS=${KILLS:-20} \
  "$build/tests/zor_integration_tests" --gtest_filter='CrashRecoveryTest.*'
