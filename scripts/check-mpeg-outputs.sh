#!/usr/bin/env bash
# Compares what a conversion made from each test stream with the stream itself, natively:
# ffprobe reads the output, it holds the same elementary streams (matched by stream id, since
# a multiplexer may put another stream's packet first), each byte-identical (ffmpeg's md5 of
# the packets) with the same packet timestamps.
#   check-mpeg-outputs.sh MATERIAL_DIR OUTPUT_DIR
set -uo pipefail
material=$1
outputs=$2
failures=0
checked=0

streams() {  # id:codec per stream, sorted
  ffprobe -v error -show_entries stream=id,codec_name -of csv=p=0 "$1" | grep . | sort
}
index_of() {  # the index of the stream with id $2
  ffprobe -v error -show_entries stream=index,id -of csv=p=0 "$1" | awk -F, -v id="$2" '$2 == id { print $1 }'
}
packet_times() {
  ffprobe -v error -select_streams "$2" -show_entries packet=pts,dts -of csv=p=0 "$1"
}
payload_md5() {
  ffmpeg -v error -nostdin -i "$1" -map "0:$2" -c copy -f md5 - 2>/dev/null
}

for input in "$material"/*.mpg; do
  name=$(basename "$input")
  case $name in *.part.*) continue;; esac
  output=$outputs/$name
  if [ ! -s "$output" ]; then
    echo "FAIL $name: no output at $output"; failures=$((failures + 1)); continue
  fi
  checked=$((checked + 1))
  if [ "$(streams "$input")" != "$(streams "$output")" ]; then
    echo "FAIL $name: streams differ"; diff <(streams "$input") <(streams "$output") | head -5
    failures=$((failures + 1)); continue
  fi
  ids=$(ffprobe -v error -show_entries stream=id -of csv=p=0 "$input" | cut -d, -f1 | grep .)
  before=$failures
  for id in $ids; do
    a=$(index_of "$input" "$id"); b=$(index_of "$output" "$id")
    if [ "$(payload_md5 "$input" "$a")" != "$(payload_md5 "$output" "$b")" ]; then
      echo "FAIL $name: stream $id payload differs"; failures=$((failures + 1))
    fi
    if ! diff -q <(packet_times "$input" "$a") <(packet_times "$output" "$b") >/dev/null; then
      echo "FAIL $name: stream $id packet timestamps differ"; failures=$((failures + 1))
    fi
  done
  [ "$failures" -eq "$before" ] && echo "ok   $name ($(echo "$ids" | wc -l) streams)"
done
[ "$checked" -gt 0 ] || { echo "FAIL: nothing to check in $outputs"; exit 1; }
echo "$checked outputs checked, $failures failures"
[ "$failures" -eq 0 ]
