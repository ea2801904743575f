#!/usr/bin/env bash
# Sets up the machine, builds every preset and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh

jobs=$(nproc)
for preset in native fuzz win32 win64; do
  echo "=== build $preset"
  tests=ON
  [ "$preset" = win32 ] && tests=OFF   # the 32-bit release is compiled and linked only
  cmake --preset "$preset" -DKORVANE_TESTS=$tests >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

echo "=== setup programs (dist/)"
bash scripts/make-installers.sh

echo "=== test native"
ctest --preset native
echo "=== test fuzz (sanitized unit tests, short fuzzing runs)"
ctest --preset fuzz

echo "=== test win64 (under wine64)"
source scripts/wine-session.sh
trap korvane_wine_session_stop EXIT
korvane_wine_session_start "$root/build/win64/wineprefix"
ctest --preset win64
