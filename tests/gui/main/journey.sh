#!/usr/bin/env bash
# A user's first session with the real program, driven from outside its process: start,
# add three recordings through the open-file dialog, look at the list (screenshot), remove
# one, press Escape, open About, ask for help, quit with Alt+F4.
#   journey.sh PROGRAM.exe PROBE.exe WORKDIR [SCREENSHOT-COPY]
# Needs DISPLAY and WINEPREFIX (scripts/wine-session.sh). The screenshot is written to
# WORKDIR/main-window.png and, when a copy path is given (or KORVANE_SCREENSHOT is set),
# also there, e.g. docs/main-window.png.
set -euo pipefail
# Under set -e a failing step would end the journey without a word: name it.
set -E
trap 'echo "journey: line $LINENO: \"$BASH_COMMAND\" failed" >&2' ERR
program=$1 probe=$2 work=$3
copy=${4:-${KORVANE_SCREENSHOT:-}}
[ -z "$copy" ] || copy=$(realpath -m "$copy")
wine=/usr/lib/wine/wine64
[ -n "${DISPLAY:-}" ] || { echo "journey: no DISPLAY (start one with scripts/wine-session.sh)" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
# The recordings (sparse files) live under a short path, so that the screenshot shows
# every column.
recordings=$(mktemp -d /tmp/korvane.XXXXXX)/Recordings
mkdir -p "$recordings"
truncate -s 1263534080 "$recordings/Evening News.TiVo"
truncate -s 734003200 "$recordings/Nature Hour.TiVo"
truncate -s 2147483648 "$recordings/Cooking Show.TiVo"

main="Korvane Converter"
open="Select TiVo Files to Convert"
about="About Korvane Converter"
p() { "$wine" "$probe" "$@" | tr -d '\r'; }
fail() { echo "journey: $*" >&2; exit 1; }
expect() {  # expect WHAT EXPECTED probe-args...
  local what=$1 want=$2 got=""; shift 2
  for _ in $(seq 1 150); do
    got=$(p "$@") || true
    [ "$got" = "$want" ] && { echo "ok: $what: $got"; return 0; }
    sleep 0.1
  done
  fail "$what: expected '$want', got '$got'"
}

# The program starts in the folder of the recordings, so Add opens there.
cd "$recordings"
"$wine" "$program" </dev/null >"$work/program.log" 2>&1 &
program_pid=$!
cleanup() { kill "$program_pid" 2>/dev/null || true; rm -rf "$(dirname "$recordings")"; }
trap cleanup EXIT

p wait "$main" 30 || fail "the main window did not appear"
expect "count label at start" "0 Files Selected" text "$main" 1008
expect "Remove at start" 0 enabled "$main" 1002

p click "$main" 1001
p wait "$open" 15 || fail "Add did not open the open-file dialog"
typed='"Evening News.TiVo" "Nature Hour.TiVo" "Cooking Show.TiVo"'
expect "file name typed" "$typed" settext-and-read "$open" 1152,1148 "$typed"
p command "$open" 0x0111 1
p gone "$open" 15 || fail "the open-file dialog did not close"
expect "count label after Add" "3 Files Selected" text "$main" 1008
expect "rows after Add" 3 rows "$main" 1000

# The window with its files listed: the README's screenshot.
sleep 0.5
rect=$(p rect "$main")
import -window root -crop "$rect" +repage "$work/main-window.png"
[ -s "$work/main-window.png" ] || fail "no screenshot"
echo "ok: screenshot $work/main-window.png ($rect)"
if [ -n "$copy" ]; then cp "$work/main-window.png" "$copy"; echo "ok: screenshot copied to $copy"; fi

# Select the first row from the keyboard and remove it.
p key "$main" 1000 0x28
expect "Remove with a row selected" 1 enabled "$main" 1002
p click "$main" 1002
expect "count label after Remove" "2 Files Selected" text "$main" 1008
expect "rows after Remove" 2 rows "$main" 1000
expect "Remove after Remove" 0 enabled "$main" 1002

# Escape does nothing to the main window.
p key "$main" 1000 0x1B
sleep 0.5
p wait "$main" 1 || fail "Escape closed the main window"
echo "ok: Escape kept the main window"

# About from the system menu, closed with OK.
p command "$main" 0x0112 16
p wait "$about" 15 || fail "the About box did not open"
expect "About version line" "Version 1.0" text "$about" 1018
p click "$about" 1
p gone "$about" 15 || fail "OK did not close the About box"
echo "ok: About opened and closed"

# Help: there is no help file, so the framework says so.
p click "$main" 57670
p wait KorvaneConverter 15 || fail "Help showed no message"
expect "help message" "Failed to launch help." text KorvaneConverter 65535
p click KorvaneConverter 1
p gone KorvaneConverter 15 || fail "the help message did not close"

# Quit as a user would: Alt+F4 on the X display, but only when the keyboard focus is the
# program's (on someone's own desktop it might be any window); otherwise the same system
# command through the probe.
sleep 0.5
focused=$(xdotool getwindowfocus getwindowname 2>/dev/null || true)
if [ "$focused" = "$main" ]; then
  xdotool key alt+F4
else
  echo "note: X focus is on '$focused', closing through SC_CLOSE instead of Alt+F4"
  p command "$main" 0x0112 0xF060
fi
for _ in $(seq 1 300); do
  kill -0 "$program_pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$program_pid" 2>/dev/null; then fail "closing did not end the program"; fi
wait "$program_pid" || fail "the program ended with an error"
echo "ok: the program ended"
