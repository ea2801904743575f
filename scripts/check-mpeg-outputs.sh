#!/usr/bin/env bash
# Compares what a conversion made from each test stream with the stream itself, natively:
# ffprobe reads the output, it holds the same elementary streams (matched by stream id, since
# a multiplexer may put another stream's packet first), each byte-identical (ffmpeg's md5 of
# the packets) with the same packet timestamps, and the output ends with the program end code
# (ffmpeg ignores a damaged end, so a last byte lost would pass everything else).
# Transport streams (NAME.ts, converted to NAME.ts.mpg when present) are matched by codec
# instead, the n-th stream of a codec to the n-th: their ids are PIDs.
#   check-mpeg-outputs.sh MATERIAL_DIR OUTPUT_DIR
# Each file is read twice (once by ffprobe, once by ffmpeg) whatever its stream count, so
# streams of a few hundred MB check in seconds.
set -uo pipefail
material=$1
outputs=$2
failures=0
checked=0

streams() {  # id:codec per stream, sorted
  ffprobe -v error -show_entries stream=id,codec_name -of csv=p=0 "$1" | grep . | sort
}
index_ids() {  # "index id" per stream
  ffprobe -v error -show_entries stream=index,id -of csv=p=0 "$1" | awk -F, 'NF >= 2 { print $1, $2 }'
}
# One line per packet, "id,pts,dts", in each stream's own order once sorted stably by id.
#   packet_times FILE "$(index_ids FILE)"
packet_times() {
  local ids=$2
  ffprobe -v error -show_entries packet=stream_index,pts,dts -of csv=p=0 "$1" |
    awk -F, -v map="$ids" 'BEGIN { n = split(map, m, "\n"); for (i = 1; i <= n; i++) { split(m[i], f, " "); id[f[1]] = f[2] } }
                           { print id[$1] "," $2 "," $3 }' | sort -s -t, -k1,1
}
payload_md5s() {  # "id md5" per stream, sorted by id; arguments as packet_times
  local ids=$2
  ffmpeg -v error -nostdin -i "$1" -map 0 -c copy -f streamhash -hash md5 - 2>/dev/null |
    awk -F, -v map="$ids" 'BEGIN { n = split(map, m, "\n"); for (i = 1; i <= n; i++) { split(m[i], f, " "); id[f[1]] = f[2] } }
                           { print id[$1], $3 }' | sort
}
ends_with_end_code() {
  [ "$(tail -c 4 "$1" | od -An -tx1 | tr -d ' \n')" = 000001b9 ]
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
  before=$failures
  ids_in=$(index_ids "$input")
  ids_out=$(index_ids "$output")
  hashes=$(diff <(payload_md5s "$input" "$ids_in") <(payload_md5s "$output" "$ids_out"))
  if [ -n "$hashes" ]; then
    for id in $(echo "$hashes" | awk '/^[<>]/ { print $2 }' | sort -u); do
      echo "FAIL $name: stream $id payload differs"; failures=$((failures + 1))
    done
  fi
  times=$(diff <(packet_times "$input" "$ids_in") <(packet_times "$output" "$ids_out"))
  if [ -n "$times" ]; then
    for id in $(echo "$times" | awk -F'[ ,]' '/^[<>]/ { print $2 }' | sort -u); do
      echo "FAIL $name: stream $id packet timestamps differ"; failures=$((failures + 1))
    done
  fi
  if ! ends_with_end_code "$output"; then
    echo "FAIL $name: the output does not end with the program end code"; failures=$((failures + 1))
  fi
  [ "$failures" -eq "$before" ] && echo "ok   $name ($(echo "$ids_in" | wc -l) streams)"
done
codecs() {  # one codec name per stream, in index order (a TS lists its streams twice)
  ffprobe -v error -show_entries stream=index,codec_name -of csv=p=0 "$1" | awk -F, '$1 ~ /^[0-9]+$/ && !seen[$1]++ { print $2 }'
}
times_of() {  # "pts,dts" per packet of stream index $2; a TS packet may end in an empty side-data column
  ffprobe -v error -select_streams "$2" -show_entries packet=pts,dts -of csv=p=0 "$1" | sed -e 's/,*$//' -e '/^$/d'
}
payload_md5() {  # the md5 of stream index $2's packets
  ffmpeg -v error -nostdin -i "$1" -map "0:$2" -c copy -f md5 - 2>/dev/null
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
  if ! ends_with_end_code "$output"; then
    echo "FAIL $name: the output does not end with the program end code"; failures=$((failures + 1))
  fi
  [ "$failures" -eq "$before_failures" ] && echo "ok   $name (${#before[@]} streams)"
done
[ "$checked" -gt 0 ] || { echo "FAIL: nothing to check in $outputs"; exit 1; }
echo "$checked outputs checked, $failures failures"
[ "$failures" -eq 0 ]
