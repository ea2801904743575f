#!/usr/bin/env bash
# Two encrypted recordings converted from the main window of the real program, driven from
# outside its process. No key is stored: the filter pack's source asks for the Media Access
# Key over the progress window when the first recording loads, although the user has switched
# to another program by then (a clip listed first holds the batch at its question meanwhile);
# a wrong key is refused in the dialog, the right one opens it and is remembered, so the
# second recording converts without a question. The outputs are checked against the clear originals with ffprobe; a picture of
# the dialog is kept (WORKDIR/key-dialog.png).
#   encrypted-journey.sh PROGRAM.exe PROBE.exe VECTORS_DIR WORKDIR
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
not_tivo="Source file isn't a TiVo file!"
p() { "$wine" "$probe" "$@" | tr -d '\r'; }
fail() { echo "journey: $*" >&2; import -window root "$work/failure.png" 2>/dev/null || true; exit 1; }
source "$(dirname "$0")/../../journey-support.sh"

rm -rf "$work"
mkdir -p "$work/Recordings"
# The known-answer recordings, encrypted with the key 0123456789 by an independent
# implementation.
cp "$vectors/ps-mpeg2-ac3.TiVo" "$work/Recordings/First Show.TiVo"
cp "$vectors/ps-mpeg2-mp2-large.TiVo" "$work/Recordings/Second Show.TiVo"
printf 'not a recording\n' >"$work/Recordings/A clip.mpeg"
# A new user: no key stored yet.
"$wine" reg delete 'HKCU\Software\Halvenor\Korvane Filters\Media Access Keys' /f >/dev/null 2>&1 || true

cd "$work/Recordings"
"$wine" "$program" </dev/null >"$work/program.log" 2>&1 &
program_pid=$!
front_pid=
trap 'kill "$program_pid" $front_pid 2>/dev/null || true' EXIT

p wait "$main" 30 || fail "the main window did not appear"
p click "$main" 1001
p wait "$open" 15 || fail "Add did not open the open-file dialog"
typed='"A clip.mpeg" "First Show.TiVo" "Second Show.TiVo"'
[ "$(p settext-and-read "$open" 1152,1148 "$typed")" = "$typed" ] || fail "the file names were not typed"
p command "$open" 0x0111 1
p gone "$open" 15 || fail "the open-file dialog did not close"
[ "$(p text "$main" 1008)" = "3 Files Selected" ] || fail "count label after Add: $(p text "$main" 1008)"
echo "ok: a clip and two encrypted recordings added"

# Convert (same folder as the sources). While the batch waits at the clip's question, the user
# switches to another program; the answer is posted, so the program stays in the background.
p click "$main" 1
p wait "$not_tivo" 30 || fail "no question about the clip"
"$wine" "$probe" front "Another Program" 90 >"$work/front.log" 2>&1 &
front_pid=$!
for _ in $(seq 1 150); do grep -q front "$work/front.log" 2>/dev/null && break; sleep 0.1; done
grep -q front "$work/front.log" || fail "the other program's window did not come to the front"
[ "$(p foreground -)" = "Another Program" ] || fail "in front: '$(p foreground -)', not the other program"
echo "ok: another program is in front"
p command "$not_tivo" 0x0111 1011   # Ignore, as WM_COMMAND: a click would activate the box

# The key dialog comes up over the progress window all the same.
p wait "$key" 30 || fail "no key dialog for the first recording (in front: '$(p foreground -)')"
sleep 0.3
rect=$(p rect "$key") && import -window root -crop "$rect" +repage "$work/key-dialog.png" || true
echo "ok: the key is asked for: $(p text "$key" 1001 | head -c 80)..."
[ "$(p text "$key" 1004)" = "&Remember this key" ] || fail "no Remember box"
p settext "$key" 1003 "1111 111 111"
p click "$key" 1
for _ in $(seq 1 150); do
  message=$(p text "$key" 1005) || true
  [ -n "$message" ] && break
  sleep 0.1
done
case $message in *"does not open"*) echo "ok: a wrong key is refused: $message";; *) fail "wrong key: '$message'";; esac
p settext "$key" 1003 "0123-456-789"
p click "$key" 1
p gone "$key" 15 || fail "the right key did not close the dialog"
echo "ok: the right key is taken"

# The second recording needs the same key: it is remembered, so no dialog holds the batch.
p gone "$progress" 60 || fail "the batch did not end (a second key dialog: $(p wait "$key" 0 && echo yes || echo no))"
echo "ok: the batch ended without a second question"

for pair in "First Show:ps-mpeg2-ac3" "Second Show:ps-mpeg2-mp2-large"; do
  name=${pair%%:*} clear=$vectors/${pair#*:}.mpg
  output="$work/Recordings/$name.mpg"
  [ -s "$output" ] || fail "no output $output"
  want=$(probe_counts "$clear") got=$(probe_counts "$output")
  [ "$want" = "$got" ] || fail "$name.mpg: streams and packets '$got', expected '$want'"
  echo "ok: $name.mpg: $(echo $got)"
done
[ "$(p rows "$main" 1000)" = 0 ] || fail "rows left after the batch: $(p rows "$main" 1000)"
[ ! -e "$work/Recordings/A clip.mpg" ] || fail "the clip was converted"
kill "$front_pid" 2>/dev/null || true

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
