#!/usr/bin/env bash
# Checks what the filter pack made from each test stream (under Wine) against the stream
# itself: ffprobe sees the same streams, every elementary stream is byte-identical
# (ffmpeg's per-stream md5 of the packets) and every packet keeps its PTS and DTS.
#   check-outputs.sh MATERIAL_DIR OUTPUT_DIR
set -uo pipefail
material=$1
outputs=$2
failures=0
checked=0

streams() {  # index:codec:id per stream
  ffprobe -v error -show_entries stream=index,codec_name,id -of csv=p=0 "$1" | grep .
}
packet_times() {  # pts,dts of every packet of one stream, in order
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
  count=$(streams "$input" | grep -c .)
  for ((i = 0; i < count; i++)); do
    if [ "$(payload_md5 "$input" "$i")" != "$(payload_md5 "$output" "$i")" ]; then
      echo "FAIL $name: stream $i payload differs"; failures=$((failures + 1))
    fi
    if ! diff -q <(packet_times "$input" "$i") <(packet_times "$output" "$i") >/dev/null; then
      echo "FAIL $name: stream $i packet timestamps differ"
      diff <(packet_times "$input" "$i") <(packet_times "$output" "$i") | head -6
      failures=$((failures + 1))
    fi
  done
  echo "ok   $name ($count streams)"
done
[ "$checked" -gt 0 ] || { echo "FAIL: nothing to check in $outputs"; exit 1; }
echo "$checked outputs checked, $failures failures"
[ "$failures" -eq 0 ]
