#!/usr/bin/env bash
# A transport-stream recording of at least 1 GiB (MPEG-2 720x480 at 20 Mbit/s + AC-3 with
# stream type 0x81, as US broadcasts carry it) through Wine's filter graph manager and the
# filter pack, clear and encrypted (the key stored in the prefix's key store first, as an
# installer would), compared in the same run with `dd bs=1M` copying the .TiVo and with
# `ffmpeg -i x.ts -c copy -f vob`.
#   bench/graph/run-ts-graph-bench.sh [MiB]      (default 1100; ROUNDS=n runs of each, default 3)
# Needs about 5 GiB free in build/ts-bench. Uses the build trees build/native (korvane-tivo)
# and build/win64 (KorvaneFilters, bench_graph), or those named by KORVANE_BENCH_NATIVE and
# KORVANE_BENCH_WIN64. Wall-clock and CPU seconds are both printed: on a shared machine the
# CPU figures are the steadier comparison.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
mib=${1:-1100}
rounds=${ROUNDS:-3}
native=${KORVANE_BENCH_NATIVE:-build/native}
win=${KORVANE_BENCH_WIN64:-build/win64}
data=$root/build/ts-bench
mkdir -p "$data"

cmake --build "$native" --target korvane-tivo -j2 >/dev/null
cmake --build "$win" --target KorvaneFilters bench_graph -j2 >/dev/null

source scripts/wine-session.sh
unset DISPLAY
trap korvane_wine_session_stop EXIT
korvane_wine_session_start "$root/$win/wineprefix" >/dev/null
dll="Z:${root//\//\\}\\${win//\//\\}\\filters\\KorvaneFilters.dll"
/usr/lib/wine/wine64 regsvr32 /s "$dll"
mak=0123456789
/usr/lib/wine/wine64 rundll32 "$dll",MediaAccessKey $mak

winpath() { echo "Z:${1//\//\\}"; }
min() { if [ -z "$1" ] || [ "$(echo "$2 < $1" | bc -l)" = 1 ]; then echo "$2"; else echo "$1"; fi; }
timed() {
  sync
  /usr/bin/time -f "%e %U %S %M" -o "$data/time.txt" "$@" >"$data/stdout.txt" 2>/dev/null
  read -r WALL user sys RSS_KIB <"$data/time.txt"
  CPU=$(echo "$user + $sys" | bc -l)
}
rate() { echo "$1 / $2" | bc -l; }

ts=$data/broadcast.ts
tivo=$data/broadcast.TiVo
encrypted=$data/broadcast-encrypted.TiVo
if [ ! -s "$ts" ]; then
  # 20 seconds encoded once, then looped with -c copy (ffmpeg keeps the timestamps running
  # and the continuity counters right) until the file is large enough.
  ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=720x480:rate=30000/1001:duration=20 \
    -f lavfi -i sine=frequency=440:sample_rate=48000:duration=20 -map 0:v -map 1:a \
    -c:v mpeg2video -b:v 20M -minrate 20M -maxrate 20M -bufsize 9M -g 15 -bf 2 -c:a ac3 -b:a 384k \
    -f mpegts "$data/clip.ts"
  loops=$(( mib * 1048576 / $(stat -c %s "$data/clip.ts") ))
  ffmpeg -nostdin -v error -y -stream_loop "$loops" -i "$data/clip.ts" -map 0 -c copy -f mpegts "$ts.part"
  mv "$ts.part" "$ts"
fi
[ -s "$tivo" ] || "$native/tools/korvane-tivo" wrap "$ts" "$tivo" --ts >/dev/null
[ -s "$encrypted" ] || "$native/tools/korvane-tivo" wrap "$ts" "$encrypted" --ts --mak $mak >/dev/null
bytes=$(stat -c %s "$tivo")
cat "$tivo" "$encrypted" "$ts" >/dev/null   # warm the page cache for every contender alike

dd_w=""; dd_c=""; ff_w=""; ff_c=""
for ((r = 0; r < rounds; r++)); do
  timed dd if="$tivo" of="$data/dd.out" bs=1M
  dd_w=$(min "$dd_w" "$WALL"); dd_c=$(min "$dd_c" "$CPU"); rm -f "$data/dd.out"
done
for ((r = 0; r < rounds; r++)); do
  timed ffmpeg -nostdin -v error -y -i "$ts" -map 0 -c copy -f vob "$data/ffmpeg.out.mpg"
  ff_w=$(min "$ff_w" "$WALL"); ff_c=$(min "$ff_c" "$CPU"); rm -f "$data/ffmpeg.out.mpg"
done
graph() {  # sets G_W G_C G_RUN G_PEAK G_OUT G_RSS for the .TiVo $1
  G_W=""; G_C=""; G_RUN=""
  for ((r = 0; r < rounds; r++)); do
    timed /usr/lib/wine/wine64 "$win/bench/graph/bench_graph.exe" "$(winpath "$1")" "$(winpath "$data/graph.out.mpg")"
    line=$(cat "$data/stdout.txt")
    G_W=$(min "$G_W" "$WALL"); G_C=$(min "$G_C" "$CPU")
    G_RUN=$(min "$G_RUN" "$(echo "$line" | sed -n 's/.*run_seconds=\([0-9.]*\).*/\1/p')")
    G_PEAK=$(echo "$line" | sed -n 's/.*peak_working_set_mib=\([0-9.]*\).*/\1/p')
    G_OUT=$(echo "$line" | sed -n 's/.*output_bytes=\([0-9]*\).*/\1/p')
    G_RSS=$RSS_KIB
    rm -f "$data/graph.out.mpg"
  done
}
graph "$tivo"
c_w=$G_W; c_c=$G_C; c_run=$G_RUN; c_peak=$G_PEAK; c_out=$G_OUT; c_rss=$G_RSS
graph "$encrypted"
[ "$G_OUT" = "$c_out" ] || echo "  WARNING: the encrypted recording gave $G_OUT output bytes, the clear one $c_out"
mb=$(echo "$bytes / 1000000" | bc -l)
e_mb=$(echo "$(stat -c %s "$encrypted") / 1000000" | bc -l)
printf 'transport stream: %.0f MB .TiVo -> %.0f MB .mpg, best of %d runs each (load %s)\n' \
  "$mb" "$(echo "$c_out / 1000000" | bc -l)" "$rounds" "$(cut -d' ' -f1 /proc/loadavg)"
printf '  graph, Run to completion     %6.2f s  %7.1f MB/s\n' "$c_run" "$(rate "$mb" "$c_run")"
printf '  graph, whole process         %6.2f s  %7.1f MB/s   CPU %6.2f s   peak working set %.1f MiB, max RSS %d MiB\n' \
  "$c_w" "$(rate "$mb" "$c_w")" "$c_c" "$c_peak" "$((c_rss / 1024))"
printf '  encrypted, Run to completion %6.2f s  %7.1f MB/s\n' "$G_RUN" "$(rate "$e_mb" "$G_RUN")"
printf '  encrypted, whole process     %6.2f s  %7.1f MB/s   CPU %6.2f s   peak working set %.1f MiB, max RSS %d MiB\n' \
  "$G_W" "$(rate "$e_mb" "$G_W")" "$G_C" "$G_PEAK" "$((G_RSS / 1024))"
printf '  dd bs=1M                     %6.2f s  %7.1f MB/s   CPU %6.2f s\n' "$dd_w" "$(rate "$mb" "$dd_w")" "$dd_c"
printf '  ffmpeg -c copy -f vob        %6.2f s  %7.1f MB/s   CPU %6.2f s\n' "$ff_w" "$(rate "$mb" "$ff_w")" "$ff_c"
printf '  clear/dd: %.2f (Run to completion), %.2f (whole process)   target >= 0.5\n' \
  "$(rate "$dd_w" "$c_run")" "$(rate "$dd_w" "$c_w")"
printf '  encrypted/dd: %.2f (Run to completion), %.2f (whole process)   target >= 0.3\n' \
  "$(rate "$(rate "$e_mb" "$G_RUN")" "$(rate "$mb" "$dd_w")")" "$(rate "$(rate "$e_mb" "$G_W")" "$(rate "$mb" "$dd_w")")"
printf '  ffmpeg takes %.2fx the clear graph'"'"'s time (whole process), %.2fx its CPU   target > 1\n' \
  "$(rate "$ff_w" "$c_w")" "$(rate "$ff_c" "$c_c")"
