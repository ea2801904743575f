#!/usr/bin/env bash
# A Wine prefix of the engine tests' own, where the test filter DLL also takes the fixed
# file-dump class (which in the shared prefix belongs to the filter pack).
#   private-prefix.sh start PREFIX TESTFILTERS_DLL   -- prepare, register, resident wineserver
#   private-prefix.sh stop PREFIX                    -- end that prefix's wineserver
set -euo pipefail
command=$1 prefix=$2
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../../scripts/wine-env.sh"
korvane_wine_env "$prefix"
wine=$KORVANE_WINE

case $command in
start)
  dll=$3
  mkdir -p "$prefix"
  # A resident server with its own stdio keeps ctest from waiting on pipes that Wine's
  # helpers would otherwise inherit from each test.
  setsid wineserver -p </dev/null >/dev/null 2>&1 &
  sleep 0.5
  bash "$here/../../../scripts/wine-prefix.sh" "$prefix"
  winpath="Z:${dll//\//\\}"
  "$wine" regsvr32 /s "$winpath" </dev/null >/dev/null 2>&1
  "$wine" regsvr32 /s /n /i:fixed "$winpath" </dev/null >/dev/null 2>&1
  # "/desktop", as for the shared prefix: the resident desktop alone, no file manager
  # window coming up late on a busy machine in the middle of the tests.
  setsid "$wine" explorer.exe /desktop </dev/null >/dev/null 2>&1 &
  sleep 1
  ;;
stop)
  wineserver -k >/dev/null 2>&1 || true
  ;;
*)
  echo "usage: $0 start PREFIX DLL | stop PREFIX" >&2
  exit 2
  ;;
esac
