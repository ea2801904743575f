#!/usr/bin/env bash
# Prepares a Wine prefix for the program and its tests, then registers the given DLLs in it.
#   wine-prefix.sh PREFIX [DLL ...]
# Idempotent: a prepared prefix is only re-registered.
set -euo pipefail
prefix=$1; shift
source "$(dirname "$0")/wine-env.sh"
korvane_wine_env "$prefix"
wine=$KORVANE_WINE
marker=$prefix/.korvane-prepared

if [ ! -f "$marker" ]; then
  mkdir -p "$(dirname "$prefix")"
  # The first Wine command creates the prefix; running wineboot again would start a second services.exe.
  "$wine" cmd /c exit </dev/null >/dev/null 2>&1 || true
  # Without a window manager Wine must draw its own captions, or every close waits about 2 s.
  "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
  # Dialog metrics and caption buttons need Tahoma and Marlett.
  fonts=$prefix/drive_c/windows/Fonts
  mkdir -p "$fonts"
  for f in /usr/share/wine/fonts/tahoma*.ttf /usr/share/wine/fonts/marlett.ttf; do
    [ -f "$f" ] && cp -f "$f" "$fonts/"
  done
  touch "$marker"
fi

for dll in "$@"; do
  "$wine" regsvr32 /s "Z:${dll//\//\\}" </dev/null >/dev/null 2>&1 || {
    echo "wine-prefix.sh: registering $dll failed" >&2; exit 1; }
done
