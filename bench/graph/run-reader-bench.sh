#!/usr/bin/env bash
# The source filter as other programs' parsers use it: reads through its IAsyncReader.
#  1. A generated, encrypted recording of about 1 GB read from start to end (64 KiB to 1 MiB per
#     request), in the same run as converting it through our graph and a `dd bs=1M` copy.
#  2. A generated, encrypted recording of about 10 GB whose key blocks each span about 16 MiB
#     (8000 packs of 2 KiB; a TiVo's span less): loading, the first read at its end, 1000 reads
#     of 64 KiB at random offsets, a read after a backward seek.
#   bench/graph/run-reader-bench.sh [MiB] [BIG_MiB]   (defaults 1024 and 10240, 0 leaves the big
#   one out; ROUNDS=n, default 3)
# Needs about 14 GiB free in build/reader-bench; deletes the 10 GB recording afterwards
# (KEEP=1 keeps it). Uses build/filters-native and build/filters-win64, or the trees that
# KORVANE_BENCH_NATIVE and KORVANE_BENCH_WIN64 name. The key goes into the prefix's store first.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
mib=${1:-1024}
big_mib=${2:-10240}
rounds=${ROUNDS:-3}
native=${KORVANE_BENCH_NATIVE:-build/filters-native}
win=${KORVANE_BENCH_WIN64:-build/filters-win64}
data=$root/build/reader-bench
mkdir -p "$data"

[ -f "$native/build.ninja" ] || cmake --preset native -B "$native" >/dev/null
cmake --build "$native" --target media_bench korvane-tivo -j2 >/dev/null
[ -f "$win/build.ninja" ] || cmake --preset win64 -B "$win" >/dev/null
cmake --build "$win" --target KorvaneFilters bench_graph bench_reader -j2 >/dev/null

source scripts/wine-session.sh
unset DISPLAY
trap korvane_wine_session_stop EXIT
korvane_wine_session_start "$root/$win/wineprefix" >/dev/null
winpath() { echo "Z:${1//\//\\}"; }
dll=$(winpath "$root/$win/filters/KorvaneFilters.dll")
/usr/lib/wine/wine64 regsvr32 /s "$dll"
mak=0123456789
/usr/lib/wine/wine64 rundll32 "$dll",MediaAccessKey $mak

min() { if [ -z "$1" ] || [ "$(echo "$2 < $1" | bc -l)" = 1 ]; then echo "$2"; else echo "$1"; fi; }
rate() { echo "$1 / $2" | bc -l; }
field() { sed -n "s/^$1=//p" "$data/stdout.txt" | tr -d "\r"; }
timed() {
  sync
  /usr/bin/time -f "%e %U %S" -o "$data/time.txt" "$@" >"$data/stdout.txt" 2>"$data/stderr.txt" ||
    { cat "$data/stderr.txt" >&2; exit 1; }
  read -r WALL user sys <"$data/time.txt"
  CPU=$(echo "$user + $sys" | bc -l)
}
# An encrypted recording of the given size (DVD-style packs) with blocks of the given number
# of packets.
make_recording() {
  local size=$1 out=$2 blocks=$3
  [ -s "$out" ] && return 0
  "$native/bench/media/media_bench" --mib "$size" --generate "$data/clear.mpg" >/dev/null
  "$native/tools/korvane-tivo" wrap "$data/clear.mpg" "$out" --mak $mak --block-packets "$blocks" >/dev/null
  rm -f "$data/clear.mpg"
}

recording=$data/recording-$mib.TiVo
make_recording "$mib" "$recording" 300
cat "$recording" >/dev/null  # from the page cache for every contender alike
mb=$(echo "$(stat -c %s "$recording") / 1000000" | bc -l)
dd_w=""; g_run=""; r_seq=""; r_w=""; r_c=""; r_peak=""
for ((r = 0; r < rounds; r++)); do
  timed dd if="$recording" of="$data/dd.out" bs=1M status=none
  dd_w=$(min "$dd_w" "$WALL"); rm -f "$data/dd.out"
done
# The graph and the reader take turns, so that a spell of other work hits both alike.
for ((r = 0; r < rounds; r++)); do
  timed /usr/lib/wine/wine64 "$win/bench/graph/bench_graph.exe" "$(winpath "$recording")" "$(winpath "$data/graph.out.mpg")"
  g_run=$(min "$g_run" "$(sed -n 's/.*run_seconds=\([0-9.]*\).*/\1/p' "$data/stdout.txt" | tr -d '\r')")
  rm -f "$data/graph.out.mpg"
  timed /usr/lib/wine/wine64 "$win/bench/graph/bench_reader.exe" "$(winpath "$recording")"
  r_seq=$(min "$r_seq" "$(field sequential_s)"); r_w=$(min "$r_w" "$WALL"); r_c=$(min "$r_c" "$CPU")
  r_peak=$(field peak_working_set_mib)
done
printf 'encrypted program stream, %.0f MB, best of %d runs each (load %s)\n' "$mb" "$rounds" "$(cut -d' ' -f1 /proc/loadavg)"
printf '  IAsyncReader, start to end   %6.2f s  %7.1f MB/s   (whole process %.2f s, CPU %.2f s, peak working set %s MiB)\n' \
  "$r_seq" "$(rate "$mb" "$r_seq")" "$r_w" "$r_c" "$r_peak"
printf '  graph conversion, Run to end %6.2f s  %7.1f MB/s\n' "$g_run" "$(rate "$mb" "$g_run")"
printf '  dd bs=1M                     %6.2f s  %7.1f MB/s\n' "$dd_w" "$(rate "$mb" "$dd_w")"
printf '  reader/graph time: %.2f (target < 1)   reader throughput/dd: %.2f\n' \
  "$(rate "$r_seq" "$g_run")" "$(rate "$dd_w" "$r_seq")"

[ "$big_mib" = 0 ] && exit 0
big=$data/recording-$big_mib.TiVo
make_recording "$big_mib" "$big" 8000
cat "$big" >/dev/null 2>&1 || true
timed /usr/lib/wine/wine64 "$win/bench/graph/bench_reader.exe" "$(winpath "$big")" --random 1000 --no-sequential
printf 'encrypted program stream, %.0f MB, blocks of 8000 packets (about 16 MiB) (load %s)\n' "$(echo "$(stat -c %s "$big") / 1000000" | bc -l)" \
  "$(cut -d' ' -f1 /proc/loadavg)"
printf '  Load %s ms; first read at the end %s ms; 1000 random 64 KiB reads: max %s ms, p99 %s ms, median %s ms; after a backward seek %s ms; peak working set %s MiB\n' \
  "$(field load_ms)" "$(field first_end_ms)" "$(field random_max_ms)" "$(field random_p99_ms)" \
  "$(field random_median_ms)" "$(field backward_ms)" "$(field peak_working_set_mib)"
[ "${KEEP:-0}" = 1 ] || rm -f "$big"
