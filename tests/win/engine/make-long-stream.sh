#!/usr/bin/env bash
# A long program stream (about 170 MB, half an hour) made by repeating mp2.mpg of the test
# material without re-encoding, so that a conversion lasts long enough to watch and cancel.
#   make-long-stream.sh MATERIAL_DIR OUT_FILE
set -euo pipefail
material=$1
out=$2
[ -s "$out" ] && exit 0
mkdir -p "$(dirname "$out")"
ffmpeg -hide_banner -nostdin -loglevel error -y -stream_loop 500 -i "$material/mp2.mpg" -c copy -f vob "$out.part.mpg"
mv "$out.part.mpg" "$out"
