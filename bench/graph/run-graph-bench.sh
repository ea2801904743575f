#!/usr/bin/env bash
# Converts a generated .TiVo of at least 1 GiB through Wine's filter graph manager and the
# filter pack, twice (DVD-style 2048-byte packs, then large packs), and compares in the same
# run with `dd bs=1M` copying the file and with ffmpeg remuxing the same MPEG stream.
#   bench/graph/run-graph-bench.sh [MiB]      (default 1100)
# Needs about 5 GiB free in build/filters-bench. Uses the build trees build/filters-native
# (media_bench makes the streams, korvane-tivo wraps them) and build/filters-win64.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
mib=${1:-1100}
native=build/filters-native
win=build/filters-win64
data=$root/build/filters-bench
mkdir -p "$data"

[ -f "$native/build.ninja" ] || cmake --preset native -B "$native" >/dev/null
cmake --build "$native" --target media_bench korvane-tivo -j2 >/dev/null
[ -f "$win/build.ninja" ] || cmake --preset win64 -B "$win" >/dev/null
cmake --build "$win" --target KorvaneFilters bench_graph -j2 >/dev/null

source scripts/wine-session.sh
unset DISPLAY
trap korvane_wine_session_stop EXIT
korvane_wine_session_start "$root/$win/wineprefix" >/dev/null
/usr/lib/wine/wine64 regsvr32 /s "Z:${root//\//\\}\\${win//\//\\}\\filters\\KorvaneFilters.dll"

# Each contender starts with dirty pages written back, so none pays for another's writes.
seconds() { local t0 t1; sync; t0=$(date +%s.%N); "$@" >/dev/null 2>&1; t1=$(date +%s.%N); echo "$t1 - $t0" | bc -l; }
best() { if [ -z "$1" ] || [ "$(echo "$2 < $1" | bc -l)" = 1 ]; then echo "$2"; else echo "$1"; fi; }
rounds=${ROUNDS:-2}
winpath() { echo "Z:${1//\//\\}"; }

for kind in dvd large; do
  mpg=$data/$kind.mpg
  tivo=$data/$kind.TiVo
  if [ ! -s "$tivo" ]; then
    flag=""; [ $kind = large ] && flag=--large
    "$native/bench/media/media_bench" --mib "$mib" --generate "$mpg" $flag >/dev/null
    "$native/tools/korvane-tivo" wrap "$mpg" "$tivo" >/dev/null
  fi
  bytes=$(stat -c %s "$tivo")
  cat "$tivo" "$mpg" >/dev/null   # warm the page cache for every contender alike
  dd_s=""; ff_s=""; run_s=""; proc_s=""
  for ((round = 0; round < rounds; round++)); do
    dd_s=$(best "$dd_s" "$(seconds dd if="$tivo" of="$data/dd.out" bs=1M)")
    rm -f "$data/dd.out"
    ff_s=$(best "$ff_s" "$(seconds ffmpeg -nostdin -v error -y -i "$mpg" -map 0 -c copy -f vob "$data/ffmpeg.out.mpg")")
    rm -f "$data/ffmpeg.out.mpg"
    sync
    t0=$(date +%s.%N)
    line=$(/usr/bin/time -f "rss_kib=%M" /usr/lib/wine/wine64 "$win/bench/graph/bench_graph.exe" \
             "$(winpath "$tivo")" "$(winpath "$data/graph.out.mpg")" 2>"$data/time.txt")
    t1=$(date +%s.%N)
    proc_s=$(best "$proc_s" "$(echo "$t1 - $t0" | bc -l)")
    run_s=$(best "$run_s" "$(echo "$line" | sed -n 's/.*run_seconds=\([0-9.]*\).*/\1/p')")
    rss=$(grep -o 'rss_kib=[0-9]*' "$data/time.txt" | cut -d= -f2)
    peak=$(echo "$line" | sed -n 's/.*peak_working_set_mib=\([0-9.]*\).*/\1/p')
    out_bytes=$(echo "$line" | sed -n 's/.*output_bytes=\([0-9]*\).*/\1/p')
    rm -f "$data/graph.out.mpg"
  done
  mb=$(echo "$bytes / 1000000" | bc -l)
  printf '%s packs, %.0f MB .TiVo -> %.0f MB .mpg (best of %d rounds):\n' "$kind" "$mb" "$(echo "$out_bytes / 1000000" | bc -l)" "$rounds"
  printf '  graph Run->complete  %6.2f s  %7.1f MB/s\n' "$run_s" "$(echo "$mb / $run_s" | bc -l)"
  printf '  graph whole process  %6.2f s  %7.1f MB/s  peak working set %.1f MiB (max RSS %d MiB)\n' \
    "$proc_s" "$(echo "$mb / $proc_s" | bc -l)" "$peak" "$((rss / 1024))"
  printf '  dd bs=1M             %6.2f s  %7.1f MB/s\n' "$dd_s" "$(echo "$mb / $dd_s" | bc -l)"
  printf '  ffmpeg -c copy vob   %6.2f s  %7.1f MB/s\n' "$ff_s" "$(echo "$mb / $ff_s" | bc -l)"
  printf '  ratio graph/dd (Run->complete) %.2f (target >= 0.5); ffmpeg takes %.2fx the graph time\n' \
    "$(echo "$dd_s / $run_s" | bc -l)" "$(echo "$ff_s / $run_s" | bc -l)"
done
