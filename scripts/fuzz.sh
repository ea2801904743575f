#!/usr/bin/env bash
# Runs the libFuzzer targets of the media core for longer than the test suite does.
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [BUILD_DIR]
# Defaults: 600 seconds each, build/fuzz. Builds the fuzz preset into BUILD_DIR first and
# keeps each target's corpus under BUILD_DIR/tests/fuzz/corpus, so runs build on each other.
# A crash leaves its input as crash-* in the current folder and stops the script.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
build=${2:-$root/build/fuzz}

cmake --preset fuzz -B "$build" >/dev/null
# Every target tests/fuzz defines: each is a ctest entry of the same name, labelled fuzz.
mapfile -t targets < <(ctest --test-dir "$build" -N -L fuzz -FA '.*' | awk '$1 == "Test" && $2 ~ /^#/ { print $3 }')
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets in $build" >&2; exit 1; }
cmake --build "$build" --target "${targets[@]}" -j2
bash "$root/scripts/make-test-material.sh" "$build/material"

for target in "${targets[@]}"; do
  corpus=$build/tests/fuzz/corpus/$target
  mkdir -p "$corpus"
  kept=()  # inputs that once failed, kept in the source tree
  [ -d "$root/tests/fuzz/corpus/$target" ] && kept=("$root/tests/fuzz/corpus/$target")
  echo "=== $target for $seconds s"
  "$build/tests/fuzz/$target" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=65536 \
    -print_final_stats=1 "$corpus" "${kept[@]}" "$build/material"
done
