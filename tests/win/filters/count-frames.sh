#!/usr/bin/env bash
# Writes "name frames" for every clear stream the playback test plays: the material and the
# known-answer recordings' clear originals, each video frame counted by ffprobe.
#   count-frames.sh OUT MATERIAL_DIR VECTORS_DIR
set -euo pipefail
out=$1
mkdir -p "$(dirname "$out")"
: >"$out.part"
for file in "$2"/*.mpg "$2"/*.ts "$3"/*.mpg "$3"/*.ts; do
  frames=$(ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames \
           -of default=noprint_wrappers=1:nokey=1 "$file" 2>/dev/null)
  echo "$(basename "$file") ${frames%%$'\n'*}" >>"$out.part"
done
mv "$out.part" "$out"
