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
targets=(fuzz_tivo_container fuzz_program_stream fuzz_transport_stream fuzz_packet_records fuzz_decryptor)

cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" --target "${targets[@]}" -j2
bash "$root/scripts/make-test-material.sh" "$build/material"

for target in "${targets[@]}"; do
  corpus=$build/tests/fuzz/corpus/$target
  mkdir -p "$corpus"
  echo "=== $target for $seconds s"
  "$build/tests/fuzz/$target" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=65536 \
    -print_final_stats=1 "$corpus" "$build/material"
done
