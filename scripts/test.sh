#!/usr/bin/env bash
# Sets up the machine, builds every preset and runs every test.
#   scripts/test.sh                    build, then run the whole suite once
#   scripts/test.sh --repeat N         build once, then run the whole suite N times
#   scripts/test.sh --repeat N --load  the same while one busy process per core competes with
#                                      the tests (stopped afterwards, also on failure)
# Each round's result is printed as it ends and again in a summary; the exit status is
# non-zero when any round failed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

rounds=1
load=0
while [ $# -gt 0 ]; do
  case $1 in
    --repeat)
      [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || { echo "--repeat needs a number of rounds" >&2; exit 2; }
      rounds=$2; shift 2 ;;
    --load) load=1; shift ;;
    *) echo "usage: $0 [--repeat N] [--load]" >&2; exit 2 ;;
  esac
done

bash scripts/setup.sh

jobs=$(nproc)
for preset in native fuzz win64 win32; do
  echo "=== build $preset"
  cmake --preset "$preset" -DKORVANE_TESTS=ON >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

echo "=== setup programs (dist/)"
bash scripts/make-installers.sh

load_pids=()
start_load() {
  local i
  for i in $(seq 1 "$jobs"); do
    # A shell loop is enough to keep a core busy.
    bash -c 'while :; do :; done' </dev/null >/dev/null 2>&1 &
    load_pids+=($!)
  done
  echo "=== load: ${#load_pids[@]} busy processes (${load_pids[*]})"
}
stop_load() {
  local pid
  for pid in "${load_pids[@]}"; do
    kill "$pid" >/dev/null 2>&1 || true
  done
  load_pids=()
}

source scripts/wine-session.sh
finish() {
  stop_load
  korvane_wine_session_stop
}
trap finish EXIT
trap 'exit 130' INT TERM

# One round: every test of every preset. Returns non-zero if any failed.
run_suite() {
  local status=0
  echo "=== test native"
  ctest --preset native || status=1
  echo "=== test fuzz (sanitized unit tests, short fuzzing runs)"
  ctest --preset fuzz || status=1
  echo "=== test win64 (under wine64)"
  korvane_wine_session_start "$root/build/win64/wineprefix"
  ctest --preset win64 || status=1
  korvane_wine_session_stop
  # The 32-bit build in a WoW64 prefix of its own: registration is per prefix and view.
  echo "=== test win32 (under 32-bit Wine)"
  korvane_wine_session_start "$root/build/win32/wineprefix"
  ctest --preset win32 || status=1
  korvane_wine_session_stop
  return $status
}

[ $load = 1 ] && start_load

results=()
failed=0
for round in $(seq 1 "$rounds"); do
  echo "=== round $round of $rounds$([ $load = 1 ] && echo ' (under load)')"
  if run_suite; then
    results+=("round $round: pass")
  else
    results+=("round $round: FAIL")
    failed=$((failed + 1))
  fi
  echo "=== ${results[-1]}"
done

echo "=== summary$([ $load = 1 ] && echo " (every core kept busy)")"
printf '%s\n' "${results[@]}"
echo "rounds: $((rounds - failed)) passed, $failed failed"
[ $failed = 0 ]
