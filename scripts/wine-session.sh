# Sourced by run.sh and test.sh: gives Wine a display, a prefix and a resident wineserver.
#   korvane_wine_session_start PREFIX   -- sets DISPLAY (starting Xvfb only when there is none)
#   korvane_wine_session_stop           -- stops exactly what start started
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
_korvane_started_pids=()

korvane_wine_session_start() {
  local prefix=$1
  korvane_wine_env "$prefix"
  if [ -z "${DISPLAY:-}" ]; then
    local fifo
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" </dev/null >/dev/null 2>&1 &
    _korvane_started_pids+=($!)
    local n
    if ! read -r -t 20 n <"$fifo"; then
      rm -f "$fifo"; echo "Xvfb did not start" >&2; return 1
    fi
    rm -f "$fifo"
    export DISPLAY=:$n
    KORVANE_XVFB=1
    echo "Started Xvfb on display $DISPLAY"
  fi
  bash "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh" "$prefix"
  # A resident wineserver and desktop make each Wine process start in about 0.1 s,
  # and keep ctest from waiting on pipes that Wine's helpers inherit.
  setsid wineserver -p </dev/null >/dev/null 2>&1 &
  _korvane_started_pids+=($!)
  # "/desktop" keeps the invisible desktop process resident without opening a file manager
  # window that would take the keyboard focus from the windows under test.
  setsid "$KORVANE_WINE" explorer.exe /desktop </dev/null >/dev/null 2>&1 &
  _korvane_started_pids+=($!)
  sleep 1
}

korvane_wine_session_stop() {
  wineserver -k >/dev/null 2>&1 || true
  local pid
  for pid in "${_korvane_started_pids[@]}"; do
    kill "$pid" >/dev/null 2>&1 || true
  done
  _korvane_started_pids=()
  # The display went with them: the next session starts its own.
  if [ -n "${KORVANE_XVFB:-}" ]; then
    unset DISPLAY KORVANE_XVFB
  fi
}
