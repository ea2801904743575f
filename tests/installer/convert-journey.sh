# Sourced by the installer tests: the installed program converts recordings as a user would,
# driven from outside its process with the X keyboard and read back by the probe. Recordings sit in a user's folder, C:\Users\Public\Videos\TiVo
# Recordings, and the outputs go beside them (the main window's default).
#   convert_from_main_window PROGRAM_UNIX SHOTS_DIR NAME...   (NAME: a .TiVo in the folder)
# Leaves main-window.png and, when the first file is slow enough, progress-window.png in
# SHOTS_DIR.
# Wine spells the profiles folder "users"; a folder spelt as Windows shows it keeps the
# screenshots true to what a Windows user sees (Wine keeps the case of the folder it is in).
recordings_unix() { echo "$PREFIX/drive_c/Users/Public/Videos/TiVo Recordings"; }

convert_from_main_window() {
  local program=$1 shots=$2; shift 2
  local names=("$@")
  local main="Korvane Converter" open="Select TiVo Files to Convert" progress="Converting TiVo to MPG"
  mkdir -p "$shots"
  cd "$(recordings_unix)"
  "$wine" "$program" </dev/null >"$shots/program.log" 2>&1 &
  local program_pid=$!
  # Kept in a global for the trap: the function's locals are gone when it fires.
  _journey_pid=$program_pid
  trap 'kill -CONT "$_journey_pid" 2>/dev/null || true; kill "$_journey_pid" 2>/dev/null || true; prefix_stop' EXIT

  p wait "$main" 30 || fail "the installed program showed no main window"
  sleep 0.5
  xdotool key alt+a
  p wait "$open" 15 || fail "Add did not open the open-file dialog"
  sleep 0.3
  local typed="" name
  for name in "${names[@]}"; do typed+="\"$name\" "; done
  xdotool type --delay 15 "${typed% }"
  xdotool key Return
  p gone "$open" 15 || fail "the open-file dialog did not close"
  local count want="${#names[@]} Files Selected"
  [ ${#names[@]} = 1 ] && want="1 File Selected"
  count=$(p text "$main" 1008)
  [ "$count" = "$want" ] || fail "count label after Add: $count"
  ok "${#names[@]} recordings added from $(p text "$main" 1013)"
  sleep 0.5
  # The pictures are for the README: a busy machine that misses one loses no check.
  local rect
  if rect=$(p rect "$main"); then
    import -window root -crop "$rect" +repage "$shots/main-window.png" || true
  fi

  # The conversion is far quicker than a look at it: for the picture the program runs a
  # tenth of the time (stopped and continued by signals) until the first file is partly
  # done, then just long enough to draw it, then it is held still for the shot.
  xdotool key alt+c
  ( while :; do kill -STOP "$program_pid" 2>/dev/null || true; sleep 0.09; kill -CONT "$program_pid" 2>/dev/null || true; sleep 0.01; done ) &
  local throttle_pid=$!
  local shown=0 file_text="" percent
  if p wait "$progress" 30; then
    shown=1
    for _ in $(seq 1 100); do
      # A small file may be done, and the window gone, between two looks.
      file_text=$(p text "$progress" 1005) || break
      percent=${file_text##* }; percent=${percent%\%}
      case $file_text in "File 1 of "*) ;; *) break ;; esac
      [[ $percent =~ ^[0-9]+$ ]] && (( percent >= 15 )) && break
    done
  fi
  kill "$throttle_pid" 2>/dev/null || true; wait "$throttle_pid" 2>/dev/null || true
  kill -CONT "$program_pid"
  sleep 0.15
  kill -STOP "$program_pid"
  # On a busy machine a small file can be done before a probe has started: then there is
  # no picture, and the emptied list below still shows that Convert ran.
  if [ $shown = 1 ] && rect=$(p rect "$progress"); then
    import -window root -crop "$rect" +repage "$shots/progress-window.png" || true
  fi
  kill -CONT "$program_pid"
  p gone "$progress" 120 || fail "the conversion did not end"
  local rows
  rows=$(p rows "$main" 1000)
  [ "$rows" = 0 ] || fail "rows left after converting: $rows"
  ok "converted; the list is empty"

  xdotool key alt+x
  for _ in $(seq 1 300); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$program_pid" 2>/dev/null && fail "Exit did not end the program"
  wait "$program_pid" || fail "the program ended with an error"
  trap prefix_stop EXIT
  cd - >/dev/null
}
