#!/usr/bin/env bash
# Converts a generated .TiVo of at least 1 GiB through Wine's filter graph manager and the
# filter pack, twice (DVD-style 2048-byte packs, then large packs), and compares in the same
# run with `dd bs=1M` copying the file and with ffmpeg remuxing the same MPEG stream. The
# same recording encrypted with a Media Access Key (stored in the prefix's key store first,
# as an installer would) goes through the graph too.
#   bench/graph/run-graph-bench.sh [MiB]      (default 1100; ROUNDS=n runs of each, default 3)
# Needs about 8 GiB free in build/filters-bench. Uses the build trees build/filters-native
# (media_bench makes the streams, korvane-tivo wraps them) and build/filters-win64, or those
# named by KORVANE_BENCH_NATIVE and KORVANE_BENCH_WIN64.
# Wall-clock and CPU (user + system) seconds are both printed: on a shared machine the CPU
# figures are the steadier comparison.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
mib=${1:-1100}
rounds=${ROUNDS:-3}
native=${KORVANE_BENCH_NATIVE:-build/filters-native}
win=${KORVANE_BENCH_WIN64:-build/filters-win64}
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
mak=0123456789
/usr/lib/wine/wine64 rundll32 "Z:${root//\//\\}\\${win//\//\\}\\filters\\KorvaneFilters.dll",MediaAccessKey $mak

winpath() { echo "Z:${1//\//\\}"; }
min() { if [ -z "$1" ] || [ "$(echo "$2 < $1" | bc -l)" = 1 ]; then echo "$2"; else echo "$1"; fi; }
# Runs a command with dirty pages written back first; sets WALL and CPU (user + system).
timed() {
  sync
  /usr/bin/time -f "%e %U %S %M" -o "$data/time.txt" "$@" >"$data/stdout.txt" 2>/dev/null
  read -r WALL user sys RSS_KIB <"$data/time.txt"
  CPU=$(echo "$user + $sys" | bc -l)
}
rate() { echo "$1 / $2" | bc -l; }

for kind in dvd large; do
  mpg=$data/$kind.mpg
  tivo=$data/$kind.TiVo
  encrypted=$data/$kind-encrypted.TiVo
  if [ ! -s "$tivo" ]; then
    flag=""; [ $kind = large ] && flag=--large
    "$native/bench/media/media_bench" --mib "$mib" --generate "$mpg" $flag >/dev/null
    "$native/tools/korvane-tivo" wrap "$mpg" "$tivo" >/dev/null
  fi
  [ -s "$encrypted" ] || "$native/tools/korvane-tivo" wrap "$mpg" "$encrypted" --mak $mak >/dev/null
  bytes=$(stat -c %s "$tivo")
  cat "$tivo" "$encrypted" "$mpg" >/dev/null   # warm the page cache for every contender alike
  # Each contender runs several times in a row and keeps its best: on these virtual machines
  # the first write into freshly freed memory costs several times a later one, so
  # interleaving contenders would measure who came after whom.
  dd_w=""; dd_c=""; ff_w=""; ff_c=""; g_w=""; g_c=""; g_run=""
  for ((r = 0; r < rounds; r++)); do
    timed dd if="$tivo" of="$data/dd.out" bs=1M
    dd_w=$(min "$dd_w" "$WALL"); dd_c=$(min "$dd_c" "$CPU"); rm -f "$data/dd.out"
  done
  for ((r = 0; r < rounds; r++)); do
    timed ffmpeg -nostdin -v error -y -i "$mpg" -map 0 -c copy -f vob "$data/ffmpeg.out.mpg"
    ff_w=$(min "$ff_w" "$WALL"); ff_c=$(min "$ff_c" "$CPU"); rm -f "$data/ffmpeg.out.mpg"
  done
  for ((r = 0; r < rounds; r++)); do
    timed /usr/lib/wine/wine64 "$win/bench/graph/bench_graph.exe" "$(winpath "$tivo")" "$(winpath "$data/graph.out.mpg")"
    line=$(cat "$data/stdout.txt")
    g_w=$(min "$g_w" "$WALL"); g_c=$(min "$g_c" "$CPU")
    g_run=$(min "$g_run" "$(echo "$line" | sed -n 's/.*run_seconds=\([0-9.]*\).*/\1/p')")
    peak=$(echo "$line" | sed -n 's/.*peak_working_set_mib=\([0-9.]*\).*/\1/p')
    out_bytes=$(echo "$line" | sed -n 's/.*output_bytes=\([0-9]*\).*/\1/p')
    rss=$RSS_KIB
    rm -f "$data/graph.out.mpg"
  done
  e_w=""; e_c=""; e_run=""; e_peak=""
  for ((r = 0; r < rounds; r++)); do
    timed /usr/lib/wine/wine64 "$win/bench/graph/bench_graph.exe" "$(winpath "$encrypted")" "$(winpath "$data/graph.out.mpg")"
    line=$(cat "$data/stdout.txt")
    e_w=$(min "$e_w" "$WALL"); e_c=$(min "$e_c" "$CPU")
    e_run=$(min "$e_run" "$(echo "$line" | sed -n 's/.*run_seconds=\([0-9.]*\).*/\1/p')")
    e_peak=$(echo "$line" | sed -n 's/.*peak_working_set_mib=\([0-9.]*\).*/\1/p')
    e_out=$(echo "$line" | sed -n 's/.*output_bytes=\([0-9]*\).*/\1/p')
    e_rss=$RSS_KIB
    rm -f "$data/graph.out.mpg"
  done
  [ "$e_out" = "$out_bytes" ] || echo "  WARNING: the encrypted recording gave $e_out output bytes, the clear one $out_bytes"
  mb=$(echo "$bytes / 1000000" | bc -l)
  e_mb=$(echo "$(stat -c %s "$encrypted") / 1000000" | bc -l)
  printf '%s packs: %.0f MB .TiVo -> %.0f MB .mpg, best of %d runs each (load %s)\n' \
    "$kind" "$mb" "$(echo "$out_bytes / 1000000" | bc -l)" "$rounds" "$(cut -d' ' -f1 /proc/loadavg)"
  printf '  graph, Run to completion  %6.2f s  %7.1f MB/s\n' "$g_run" "$(rate "$mb" "$g_run")"
  printf '  graph, whole process      %6.2f s  %7.1f MB/s   CPU %6.2f s   peak working set %.1f MiB, max RSS %d MiB\n' \
    "$g_w" "$(rate "$mb" "$g_w")" "$g_c" "$peak" "$((rss / 1024))"
  printf '  encrypted, Run to completion %6.2f s  %7.1f MB/s\n' "$e_run" "$(rate "$e_mb" "$e_run")"
  printf '  encrypted, whole process  %6.2f s  %7.1f MB/s   CPU %6.2f s   peak working set %.1f MiB, max RSS %d MiB\n' \
    "$e_w" "$(rate "$e_mb" "$e_w")" "$e_c" "$e_peak" "$((e_rss / 1024))"
  printf '  dd bs=1M                  %6.2f s  %7.1f MB/s   CPU %6.2f s\n' "$dd_w" "$(rate "$mb" "$dd_w")" "$dd_c"
  printf '  ffmpeg -c copy -f vob     %6.2f s  %7.1f MB/s   CPU %6.2f s\n' "$ff_w" "$(rate "$mb" "$ff_w")" "$ff_c"
  printf '  graph/dd throughput: %.2f (Run to completion), %.2f (whole process), %.2f (CPU)   target >= 0.5\n' \
    "$(rate "$dd_w" "$g_run")" "$(rate "$dd_w" "$g_w")" "$(rate "$dd_c" "$g_c")"
  printf '  encrypted/dd: %.2f (Run to completion), %.2f (whole process)   target >= 0.3; encrypted/clear: %.2f (Run to completion)   target >= 0.5\n' \
    "$(rate "$(rate "$e_mb" "$e_run")" "$(rate "$mb" "$dd_w")")" \
    "$(rate "$(rate "$e_mb" "$e_w")" "$(rate "$mb" "$dd_w")")" "$(rate "$(rate "$e_mb" "$e_run")" "$(rate "$mb" "$g_run")")"
  printf '  ffmpeg takes %.2fx the graph'"'"'s time (whole process), %.2fx its CPU\n' \
    "$(rate "$ff_w" "$g_w")" "$(rate "$ff_c" "$g_c")"
done
