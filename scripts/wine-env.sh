# Sourced by every script that runs Wine: the one place that says how our Wine runs.
#   KORVANE_WINE                         -- the loader: wine64 (the "wine" wrapper wants 32-bit
#                                          parts that cannot run here)
#   korvane_wine_env PREFIX [OVERRIDES]  -- exports WINEPREFIX, WINEDEBUG (quiet unless the
#                                          caller already chose) and WINEDLLOVERRIDES, with
#                                          OVERRIDES (e.g. "winemenubuilder.exe=d") added.
# Mono and Gecko are switched off: no test needs them, and their installers would stop
# the first start of a prefix with a question. cmake/Testing.cmake says the same to ctest
# (korvane_wine_environment).
KORVANE_WINE=/usr/lib/wine/wine64

korvane_wine_env() {
  local overrides="mscoree,mshtml="
  [ -n "${2:-}" ] && overrides="$overrides;$2"
  export WINEPREFIX=$1 WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=$overrides
}
