#!/usr/bin/env bash
# A batch from the main window of the real program, driven from outside its process: add
# three files through the open-file dialog (a long recording, one whose output already
# exists, one that is not a TiVo file), convert them into an output folder typed into the
# field, answer the questions from the keyboard, then check the outputs with ffprobe and the
# rows and count label left in the list. A screenshot of the progress window is kept.
#   journey.sh PROGRAM.exe PROBE.exe MATERIAL_DIR WORKDIR [SCREENSHOT-COPY]
# Needs DISPLAY and WINEPREFIX (scripts/wine-session.sh) with the filter pack registered.
# The screenshot goes to WORKDIR/progress-window.png and, when a copy path is given (or
# KORVANE_SCREENSHOT is set), also there, e.g. docs/progress-window.png.
set -euo pipefail
# Under set -e a failing step would end the journey without a word: name it.
set -E
trap 'echo "journey: line $LINENO: \"$BASH_COMMAND\" failed" >&2' ERR
program=$1 probe=$2 material=$3 work=$4
copy=${5:-${KORVANE_SCREENSHOT:-}}
wine=/usr/lib/wine/wine64
[ -n "${DISPLAY:-}" ] || { echo "journey: no DISPLAY (start one with scripts/wine-session.sh)" >&2; exit 1; }

main="Korvane Converter"
open="Select TiVo Files to Convert"
progress="Converting TiVo to MPG"
p() { "$wine" "$probe" "$@" | tr -d '\r'; }
fail() { echo "journey: $*" >&2; import -window root "$work/failure.png" 2>/dev/null || true; exit 1; }
source "$(dirname "$0")/../../journey-support.sh"

rm -rf "$work"
mkdir -p "$work/Recordings" "$work/Converted"

# A longer recording (about 100 MB, the material looped) for the progress window's picture.
ffmpeg -hide_banner -nostdin -loglevel error -y -stream_loop 300 -i "$material/mp2.mpg" -c copy -f mpeg "$work/long.mpg"
wrap_tivo "$work/long.mpg" "$work/Recordings/Evening News.TiVo"
long_counts=$(probe_counts "$work/long.mpg")
rm -f "$work/long.mpg"
wrap_tivo "$material/two_audio.mpg" "$work/Recordings/Nature Hour.TiVo"
printf 'not a recording\n' >"$work/Recordings/Zoo clip.mpeg"
printf 'an older conversion\n' >"$work/Converted/Nature Hour.mpg"

cd "$work/Recordings"
"$wine" "$program" </dev/null >"$work/program.log" 2>&1 &
program_pid=$!
trap 'kill -CONT "$program_pid" 2>/dev/null; kill "$program_pid" 2>/dev/null || true' EXIT

p wait "$main" 30 || fail "the main window did not appear"
sleep 0.5
# Convert with nothing listed only says so.
xdotool key alt+c
p wait "Nothing to do" 15 || fail "Convert with an empty list showed no message"
[ "$(p text "Nothing to do" 65535)" = "Please select at least one TiVo file to convert." ] || fail "empty-list message: $(p text "Nothing to do" 65535)"
xdotool key Return
p gone "Nothing to do" 15 || fail "the empty-list message did not close"
echo "ok: Convert with an empty list says there is nothing to do"
xdotool key alt+a
p wait "$open" 15 || fail "Add did not open the open-file dialog"
sleep 0.3
xdotool type --delay 15 '"Evening News.TiVo" "Nature Hour.TiVo" "Zoo clip.mpeg"'
xdotool key Return
p gone "$open" 15 || fail "the open-file dialog did not close"
[ "$(p text "$main" 1008)" = "3 Files Selected" ] || fail "count label after Add: $(p text "$main" 1008)"
echo "ok: three files added"

# Focus is on "&Add": the list, then the same-folder box, then the output folder field.
xdotool key Tab Tab space
sleep 0.2
xdotool key Tab ctrl+a BackSpace
xdotool type --delay 15 "$(winpath "$work/Converted")"
[ "$(p text "$main" 1013)" = "$(winpath "$work/Converted")" ] || fail "output folder field: $(p text "$main" 1013)"
echo "ok: output folder typed"
# Enter in the field is the dialog's default button, "&Convert!". The conversion itself is
# far quicker than a look at it, so for the picture the program runs a tenth of the time
# (stopped and continued by signals) until the progress window is up, then at full speed
# just long enough to draw it, then it is held still for the shot. Should the first file still have finished by then (a question
# box on top), the run goes on without a picture.
throttle() {
  while :; do kill -STOP "$program_pid" 2>/dev/null; sleep 0.09; kill -CONT "$program_pid" 2>/dev/null; sleep 0.01; done
}
xdotool key Return
throttle &
throttle_pid=$!
trap 'kill "$throttle_pid" 2>/dev/null; kill -CONT "$program_pid" 2>/dev/null; kill "$program_pid" 2>/dev/null || true' EXIT
shown=0
p wait "$progress" 30 && shown=1
kill "$throttle_pid"; wait "$throttle_pid" 2>/dev/null || true
# Full speed for a moment, so the window draws itself, then still.
kill -CONT "$program_pid"
sleep 0.08
kill -STOP "$program_pid"
[ $shown = 1 ] || { kill -CONT "$program_pid"; fail "the progress window did not appear"; }
rect=""
if p gone "Overwrite File?" 0 && rect=$(p rect "$progress"); then
  import -window root -crop "$rect" +repage "$work/progress-window.png"
fi
kill -CONT "$program_pid"
trap 'kill -CONT "$program_pid" 2>/dev/null; kill "$program_pid" 2>/dev/null || true' EXIT
if [ -n "$rect" ] && [ -s "$work/progress-window.png" ]; then
  echo "ok: screenshot $work/progress-window.png ($rect)"
  if [ -n "$copy" ]; then cp "$work/progress-window.png" "$copy"; echo "ok: screenshot copied to $copy"; fi
else
  echo "note: the first file was done before the picture; no screenshot this time"
fi

# Rows run in file-name order: the long recording, then the existing output, then the clip.
p wait "Overwrite File?" 60 || fail "no overwrite question"
question=$(p text "Overwrite File?" 1007)
want=$(printf '%s\nFolder already contains An MPG file for\nNature Hour.TiVo\n\nOverwrite existing MPG file?' "$(winpath "$work/Converted")")
[ "$question" = "$want" ] || fail "overwrite question: $question"
sleep 0.2
xdotool key alt+y
p wait "Source file isn't a TiVo file!" 60 || fail "no question about the clip"
sleep 0.2
xdotool key alt+a
p gone "$progress" 30 || fail "the progress window did not close"
echo "ok: questions answered (Yes to overwrite, Abort at the clip)"

# The two recordings left the list; the clip stays, and the label says so.
rows=$(p cells "$main" 1000)
[ "$rows" = "Zoo clip.mpeg	$(winpath "$work/Recordings")" ] || fail "rows left: $rows"
label=$(p text "$main" 1008)
[ "$label" = "1 File Selected" ] || fail "count label after the batch: $label"
echo "ok: the clip is the only row left; the label says '$label'"

# Both outputs are whole MPEG program streams with the streams and packets of their input.
check_output() {
  local want=$1 output=$2
  [ -s "$output" ] || fail "no output $output"
  [ "$(ffprobe -v error -show_entries format=format_name -of csv=p=0 "$output")" = mpeg ] || fail "$output is not an MPEG program stream"
  local got
  got=$(probe_counts "$output")
  [ "$want" = "$got" ] || fail "$output: streams and packets '$got', expected '$want'"
  echo "ok: $(basename "$output"): $(echo $got)"
}
check_output "$long_counts" "$work/Converted/Evening News.mpg"
check_output "$(probe_counts "$material/two_audio.mpg")" "$work/Converted/Nature Hour.mpg"
[ ! -e "$work/Converted/Zoo clip.mpg" ] || fail "the clip was converted"
[ ! -e "$work/Recordings/Evening News.mpg" ] || fail "an output was written beside its source"

# Quit with the keyboard: Exit.
xdotool key alt+x
for _ in $(seq 1 300); do
  kill -0 "$program_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$program_pid" 2>/dev/null && fail "Exit did not end the program"
wait "$program_pid" || fail "the program ended with an error"
trap - EXIT
# The long files are only in the way now; the screenshot stays.
rm -f "$work/Recordings/Evening News.TiVo" "$work/Converted/Evening News.mpg"
echo "ok: journey done"
