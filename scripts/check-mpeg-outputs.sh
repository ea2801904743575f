#!/usr/bin/env bash
# Compares what a conversion made from each test stream with the stream itself, natively:
# ffprobe reads the output, it holds the same elementary streams (matched by stream id, since
# a multiplexer may put another stream's packet first), each byte-identical (ffmpeg's md5 of
# the packets) with the same packet timestamps.
# Transport streams (NAME.ts, converted to NAME.ts.mpg when present) are matched by codec
# instead, the n-th stream of a codec to the n-th: their ids are PIDs.
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
codecs() {  # one codec name per stream, in index order (a TS lists its streams twice)
  ffprobe -v error -show_entries stream=index,codec_name -of csv=p=0 "$1" | awk -F, '$1 ~ /^[0-9]+$/ && !seen[$1]++ { print $2 }'
}
times_of() {  # a transport stream's packets may end in an empty side-data column
  packet_times "$1" "$2" | sed -e 's/,*$//' -e '/^$/d'
}
for input in "$material"/*.ts; do
  [ -e "$input" ] || continue
  name=$(basename "$input")
  case $name in *.part.*) continue;; esac
  output=$outputs/$name.mpg
  [ -e "$output" ] || continue
  checked=$((checked + 1))
  mapfile -t before < <(codecs "$input")
  mapfile -t after < <(codecs "$output")
  if [ "${#before[@]}" -ne "${#after[@]}" ]; then
    echo "FAIL $name: ${#before[@]} streams in, ${#after[@]} out"; failures=$((failures + 1)); continue
  fi
  before_failures=$failures
  used=()
  for a in "${!before[@]}"; do
    b=""
    for j in "${!after[@]}"; do
      if [ "${after[$j]}" = "${before[$a]}" ] && [ -z "${used[$j]:-}" ]; then b=$j; used[$j]=1; break; fi
    done
    if [ -z "$b" ]; then echo "FAIL $name: no ${before[$a]} stream in the output"; failures=$((failures + 1)); continue; fi
    if [ "$(payload_md5 "$input" "$a")" != "$(payload_md5 "$output" "$b")" ]; then
      echo "FAIL $name: ${before[$a]} stream $a payload differs"; failures=$((failures + 1))
    fi
    if ! diff -q <(times_of "$input" "$a") <(times_of "$output" "$b") >/dev/null; then
      echo "FAIL $name: ${before[$a]} stream $a packet timestamps differ"; failures=$((failures + 1))
    fi
  done
  [ "$failures" -eq "$before_failures" ] && echo "ok   $name (${#before[@]} streams)"
done
[ "$checked" -gt 0 ] || { echo "FAIL: nothing to check in $outputs"; exit 1; }
echo "$checked outputs checked, $failures failures"
[ "$failures" -eq 0 ]
