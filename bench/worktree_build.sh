# Sourced by the benchmarks that measure another commit beside this tree
# (counters_overhead.sh, before_after.sh).
#   build_commit DIR COMMIT TARGET...  a detached git worktree of COMMIT in DIR,
#                                      configured as a release build in DIR/build
#                                      with TARGET... built there (ccache when
#                                      present; output only on failure)
#   remove_worktree DIR                removes such a worktree again
# The shared sample folder beside the checkout is linked beside DIR, as the
# benchmarks look for ../shared.

build_commit() {
  local dir=$1 commit=$2 log
  shift 2
  local args=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOR_BENCH=ON)
  echo "building $(git rev-parse --short "$commit") in a temporary worktree"
  git worktree add --detach "$dir" "$commit" >/dev/null
  [[ -e $(dirname "$dir")/shared || ! -d ../shared ]] || ln -s "$(cd ../shared && pwd)" "$(dirname "$dir")/shared"
  command -v ccache >/dev/null && args+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  log=$(mktemp)
  if ! { cmake -S "$dir" -B "$dir/build" "${args[@]}" &&
         CCACHE_BASEDIR="$dir" CCACHE_NOHASHDIR=1 cmake --build "$dir/build" -j2 --target "$@"; } >"$log" 2>&1; then
    tail -20 "$log" >&2
    rm -f "$log"
    return 1
  fi
  rm -f "$log"
}

remove_worktree() { git worktree remove --force "$1" >/dev/null 2>&1 || true; }
