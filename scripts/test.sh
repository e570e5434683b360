#!/usr/bin/env bash
# Sets up a fresh machine, then builds and runs every test twice: a normal
# build, then under AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
for flavour in release asan; do
  echo "=== $flavour build"
  bash scripts/build.sh "$flavour"
  echo "=== $flavour tests"
  ctest --test-dir "build/$flavour" --output-on-failure --parallel "$(nproc)" --timeout 900
done
