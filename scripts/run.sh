#!/usr/bin/env bash
# Sets up the machine, builds the program and its filter pack, and starts it under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j "$(nproc)" --target KorvaneConverter KorvaneFilters

source scripts/wine-session.sh
trap korvane_wine_session_stop EXIT
korvane_wine_session_start "$root/build/win64/wineprefix"
bash scripts/wine-prefix.sh "$WINEPREFIX" "$root/build/win64/filters/KorvaneFilters.dll"
if [ -n "${KORVANE_XVFB:-}" ]; then
  echo "No display was set: the program runs on the virtual display $DISPLAY."
  echo "Look at it with: DISPLAY=$DISPLAY import -window root shot.png (or x11vnc -display $DISPLAY)"
fi
echo "Starting Korvane Converter (WINEPREFIX=$WINEPREFIX)"
"$KORVANE_WINE" "$root/build/win64/app/KorvaneConverter.exe"
