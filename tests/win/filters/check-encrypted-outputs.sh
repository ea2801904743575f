#!/usr/bin/env bash
# The ffprobe check of check-mpeg-outputs.sh for the conversions of encrypted material: every
# material stream but the MPEG-1 one (MPEG-1 packets cannot be scrambled) must have come out
# of the graph with the clear original's streams (transport streams: NAME.ts as NAME.ts.mpg,
# when there is one).
#   check-encrypted-outputs.sh MATERIAL_DIR OUTPUT_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
expected=$(mktemp -d)
trap 'rm -rf "$expected"' EXIT
for f in "$1"/*.mpg "$1"/*.ts; do
  [ -e "$f" ] || continue
  [ "$(basename "$f")" = mpeg1.mpg ] || ln -s "$(realpath "$f")" "$expected/"
done
bash "$here/../../../scripts/check-mpeg-outputs.sh" "$expected" "$2"
