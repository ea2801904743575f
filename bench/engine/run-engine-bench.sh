#!/usr/bin/env bash
# Prints the engine's timing figures (bench_engine) for one of the test streams wrapped as a
# .TiVo, ROUNDS times (default 3), with the preset build trees (built as far as needed).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
rounds=${ROUNDS:-3}
native=build/native
win=build/win64
data=$root/build/engine-bench
mkdir -p "$data"

[ -f "$native/build.ninja" ] || cmake --preset native >/dev/null
cmake --build "$native" --target korvane-tivo -j2 >/dev/null
[ -f "$win/build.ninja" ] || cmake --preset win64 >/dev/null
cmake --build "$win" --target KorvaneFiltersTesting bench_engine -j2 >/dev/null
bash scripts/make-test-material.sh "$data/material" >/dev/null
"$native/tools/korvane-tivo" wrap "$data/material/large_packets.mpg" "$data/bench.TiVo" >/dev/null

source scripts/wine-session.sh
trap korvane_wine_session_stop EXIT
korvane_wine_session_start "$root/$win/wineprefix" >/dev/null
winpath() { echo "Z:${1//\//\\}"; }
dll=$(winpath "$root/$win/filters/testing/KorvaneFilters.dll")  # the test build: pacing hook
/usr/lib/wine/wine64 regsvr32 /s "$dll"
for round in $(seq 1 "$rounds"); do
  echo "--- round $round"
  /usr/lib/wine/wine64 "$win/bench/engine/bench_engine.exe" "$(winpath "$data/bench.TiVo")" \
    "$(winpath "$data/bench.mpg")" "$dll" | tr -d '\r'
done
