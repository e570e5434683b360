#!/usr/bin/env bash
# Configures and builds one flavour of the tree.
#   [ZOR_TARGETS="t1 t2"] scripts/build.sh [release|asan|tsan|fuzz] [extra cmake args...]
# Build folders: build/<flavour>. ZOR_TARGETS builds only those targets.
set -euo pipefail
cd "$(dirname "$0")/.."
flavour=${1:-release}
shift || true
args=(-G Ninja -DZOR_WERROR=ON)
# ccache, when present, with paths taken relative to the tree so that several
# checkouts of the project share one cache.
if command -v ccache >/dev/null; then
  args+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
fi
case "$flavour" in
  release) args+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan)    args+=(-DCMAKE_BUILD_TYPE=Debug -DZOR_SANITIZE=ON -DZOR_BENCH=OFF) ;;
  tsan)    args+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOR_TSAN=ON -DZOR_BENCH=OFF
                  -DCMAKE_CXX_COMPILER=clang++) ;;
  fuzz)    args+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOR_FUZZ=ON -DZOR_BENCH=OFF
                  -DCMAKE_CXX_COMPILER=clang++) ;;
  *) echo "unknown flavour $flavour" >&2; exit 2 ;;
esac
cmake -S . -B "build/$flavour" "${args[@]}" "$@" >/dev/null
targets=()
[[ -n ${ZOR_TARGETS:-} ]] && read -ra targets <<<"$ZOR_TARGETS" && targets=(--target "${targets[@]}")
cmake --build "build/$flavour" --parallel "$(nproc)" "${targets[@]}"
