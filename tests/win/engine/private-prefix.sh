#!/usr/bin/env bash
# A Wine prefix of the engine tests' own, where the test filter DLL also takes the fixed
# file-dump class (which in the shared prefix belongs to the filter pack). Prepared and run
# as every prefix is (scripts/wine-session.sh), on the display the tests already have.
#   private-prefix.sh start PREFIX TESTFILTERS_DLL   -- prepare, register, resident wineserver
#   private-prefix.sh stop PREFIX                    -- end that prefix's wineserver
set -euo pipefail
command=$1 prefix=$2
source "$(dirname "$0")/../../../scripts/wine-session.sh"

case $command in
start)
  [ -n "${DISPLAY:-}" ] || { echo "$0: no DISPLAY (start one with scripts/wine-session.sh)" >&2; exit 1; }
  korvane_wine_session_start "$prefix"
  dll="Z:${3//\//\\}"
  "$KORVANE_WINE" regsvr32 /s "$dll" </dev/null >/dev/null 2>&1
  "$KORVANE_WINE" regsvr32 /s /n /i:fixed "$dll" </dev/null >/dev/null 2>&1
  ;;
stop)
  korvane_wine_env "$prefix"
  wineserver -k >/dev/null 2>&1 || true
  ;;
*)
  echo "usage: $0 start PREFIX DLL | stop PREFIX" >&2
  exit 2
  ;;
esac
