#!/usr/bin/env bash
# An H.264 transport-stream recording (as a TiVo serves H.264 channels) converted from the
# main window of the real program, driven from outside its process: the known-answer
# recording ts-h264-ac3.TiVo, encrypted; the key is typed once in the filter pack's dialog.
# The output is checked against the clear original with ffprobe (same codecs and packet
# counts; the native tests compare bytes and timestamps).
#   ts-journey.sh PROGRAM.exe PROBE.exe VECTORS_DIR WORKDIR
# Needs DISPLAY and WINEPREFIX (scripts/wine-session.sh) with the filter pack registered.
set -euo pipefail
# Under set -e a failing step would end the journey without a word: name it.
set -E
trap 'echo "journey: line $LINENO: \"$BASH_COMMAND\" failed" >&2' ERR
program=$1 probe=$2 vectors=$3 work=$4
wine=/usr/lib/wine/wine64
[ -n "${DISPLAY:-}" ] || { echo "journey: no DISPLAY (start one with scripts/wine-session.sh)" >&2; exit 1; }

main="Korvane Converter"
open="Select TiVo Files to Convert"
progress="Converting TiVo to MPG"
key="TiVo Media Access Key"
p() { "$wine" "$probe" "$@" | tr -d '\r'; }
fail() { echo "journey: $*" >&2; import -window root "$work/failure.png" 2>/dev/null || true; exit 1; }
# Codec and packet count per stream, without the data stream of TiVo's key PID.
probe_counts() {
  ffprobe -v error -count_packets -show_entries stream=index,codec_name,nb_read_packets -of csv=p=0 "$1" |
    awk -F, '$1 ~ /^[0-9]+$/ && !seen[$1]++ && $2 != "unknown" { print $2 "," $3 }' | sort
}

rm -rf "$work"
mkdir -p "$work/Recordings"
cp "$vectors/ts-h264-ac3.TiVo" "$work/Recordings/HD Channel.TiVo"
"$wine" reg delete 'HKCU\Software\Halvenor\Korvane Filters\Media Access Keys' /f >/dev/null 2>&1 || true

cd "$work/Recordings"
"$wine" "$program" </dev/null >"$work/program.log" 2>&1 &
program_pid=$!
trap 'kill "$program_pid" 2>/dev/null || true' EXIT

p wait "$main" 30 || fail "the main window did not appear"
p click "$main" 1001
p wait "$open" 15 || fail "Add did not open the open-file dialog"
typed='"HD Channel.TiVo"'
[ "$(p settext-and-read "$open" 1152,1148 "$typed")" = "$typed" ] || fail "the file name was not typed"
p command "$open" 0x0111 1
p gone "$open" 15 || fail "the open-file dialog did not close"
echo "ok: an H.264 transport-stream recording added"

p click "$main" 1
p wait "$key" 30 || fail "no key dialog for the recording"
p settext "$key" 1003 "0123456789"
p click "$key" 1
p gone "$key" 15 || fail "the key did not close the dialog"
p gone "$progress" 60 || fail "the conversion did not end"
echo "ok: converted"

output="$work/Recordings/HD Channel.mpg"
[ -s "$output" ] || fail "no output $output"
want=$(probe_counts "$vectors/ts-h264-ac3.ts") got=$(probe_counts "$output")
[ "$want" = "$got" ] || fail "HD Channel.mpg: streams and packets '$got', expected '$want'"
echo "ok: HD Channel.mpg: $(echo $got)"

# SC_CLOSE, asked again each second while the program is still there (a post can be lost
# while the window is busy).
for i in $(seq 0 299); do
  kill -0 "$program_pid" 2>/dev/null || break
  (( i % 10 == 0 )) && { p command "$main" 0x0112 0xF060 || true; }
  sleep 0.1
done
kill -0 "$program_pid" 2>/dev/null && fail "closing did not end the program"
wait "$program_pid" || fail "the program ended with an error"
trap - EXIT
"$wine" reg delete 'HKCU\Software\Halvenor\Korvane Filters\Media Access Keys' /f >/dev/null 2>&1 || true
echo "ok: journey done"
