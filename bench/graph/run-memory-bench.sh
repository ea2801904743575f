#!/usr/bin/env bash
# Peak working set of a conversion through Wine's filter graph manager and the filter pack,
# clear and encrypted, for the x86_64 and the i686 build in the same run. A clear conversion
# must not pay for the crypto libraries (bcrypt, crypt32), which the pack loads on first use.
#   bench/graph/run-memory-bench.sh [MiB]      (default 256; ROUNDS=n runs of each, default 3)
# Uses the preset trees build/native, build/win64 and build/win32 (built as far as needed) and
# their own Wine prefixes, where the shipped DLL is registered for the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
mib=${1:-256}
rounds=${ROUNDS:-3}
data=$root/build/memory-bench
mkdir -p "$data"
mak=0123456789

[ -f build/native/build.ninja ] || cmake --preset native >/dev/null
cmake --build build/native --target media_bench korvane-tivo -j2 >/dev/null
for preset in win64 win32; do
  [ -f "build/$preset/build.ninja" ] || cmake --preset "$preset" >/dev/null
  cmake --build "build/$preset" --target KorvaneFilters bench_graph -j2 >/dev/null
done
if [ ! -s "$data/clear.TiVo" ]; then
  build/native/bench/media/media_bench --mib "$mib" --generate "$data/stream.mpg" --large >/dev/null
  build/native/tools/korvane-tivo wrap "$data/stream.mpg" "$data/clear.TiVo" >/dev/null
  build/native/tools/korvane-tivo wrap "$data/stream.mpg" "$data/encrypted.TiVo" --mak $mak >/dev/null
  rm -f "$data/stream.mpg"
fi
winpath() { echo "Z:${1//\//\\}"; }

source scripts/wine-session.sh
trap korvane_wine_session_stop EXIT
printf '%-7s %-10s %s\n' build recording "peak working set, MiB (each run)"
for preset in win64 win32; do
  korvane_wine_session_start "$root/build/$preset/wineprefix" >/dev/null
  # The DLL as setup ships it: Wine reads a PE file's debugging sections into memory with
  # the code, which puts 9 MiB on the x86_64 build's working set.
  tools=x86_64-w64-mingw32; [ "$preset" = win32 ] && tools=i686-w64-mingw32
  mkdir -p "$data/$preset"
  "$tools-strip" -o "$data/$preset/KorvaneFilters.dll" "$root/build/$preset/filters/KorvaneFilters.dll"
  dll=$(winpath "$data/$preset/KorvaneFilters.dll")
  "$KORVANE_WINE" regsvr32 /s "$dll"
  # rundll32 of the DLL's own architecture: the 64-bit one cannot load the i686 pack.
  rundll32='C:\windows\system32\rundll32.exe'
  [ "$preset" = win32 ] && rundll32='C:\windows\syswow64\rundll32.exe'
  "$KORVANE_WINE" "$rundll32" "$dll",MediaAccessKey $mak
  for kind in clear encrypted; do
    peaks=""
    for ((r = 0; r < rounds; r++)); do
      line=$("$KORVANE_WINE" "build/$preset/bench/graph/bench_graph.exe" "$(winpath "$data/$kind.TiVo")" \
        "$(winpath "$data/out.mpg")" | tr -d '\r')
      peaks="$peaks $(echo "$line" | sed -n 's/.*peak_working_set_mib=\([0-9.]*\).*/\1/p')"
      rm -f "$data/out.mpg"
    done
    printf '%-7s %-10s%s\n' "$preset" "$kind" "$peaks"
  done
  "$KORVANE_WINE" reg delete 'HKCU\Software\Halvenor\Korvane Filters\Media Access Keys' /f >/dev/null 2>&1 || true
  # Back to the tree's own DLL, which that prefix's tests register and expect.
  "$KORVANE_WINE" regsvr32 /s "$(winpath "$root/build/$preset/filters/KorvaneFilters.dll")"
  korvane_wine_session_stop
done
