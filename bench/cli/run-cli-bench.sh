#!/usr/bin/env bash
# Decrypts a generated, encrypted 1 GB .TiVo with korvane-tivodecode, as front ends run it:
# from a file into a file, and from standard input to standard output through pipes (a
# `dd bs=1M` feeding it and another writing what comes out into a file; once more with cat
# in its place, the pipes alone at their default size). In the same run
# `dd bs=1M` copies the same bytes into a new file, the yardstick. Prints seconds, MB/s,
# CPU, the decoder's peak RSS and the ratio of each throughput to dd's.
#   bench/cli/run-cli-bench.sh [MiB]     (default 1024; ROUNDS=n runs of each, default 3)
# Needs about 5 GiB free in build/cli-bench. Uses the build tree build/native (or the one
# KORVANE_BENCH_NATIVE names).
# Each contender runs ROUNDS times and keeps its best: on these virtual machines the first
# write into freshly freed memory costs several times a later one, and other work on a
# shared machine only ever adds time. The rounds take turns (dd, file, pipe, dd, ...) so that
# a spell of other work falls on every contender alike rather than on whichever ran then.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
mib=${1:-1024}
rounds=${ROUNDS:-3}
native=${KORVANE_BENCH_NATIVE:-build/native}
data=$root/build/cli-bench
mak=0123456789
mkdir -p "$data"

[ -f "$native/build.ninja" ] || cmake --preset native -B "$native" >/dev/null
cmake --build "$native" --target media_bench korvane-tivo korvane-tivodecode -j2 >/dev/null
decode=$root/$native/tools/korvane-tivodecode

recording=$data/recording-$mib.TiVo
clear=$data/clear-$mib.mpg
if [ ! -s "$recording" ] || [ ! -s "$clear" ]; then
  "$native/bench/media/media_bench" --mib "$mib" --generate "$clear" >/dev/null
  "$native/tools/korvane-tivo" wrap "$clear" "$recording" --mak $mak >/dev/null
fi
bytes=$(stat -c %s "$recording")
mb=$(echo "$bytes / 1000000" | bc -l)
cat "$recording" >/dev/null  # every contender reads from the page cache alike

min() { if [ -z "$1" ] || [ "$(echo "$2 < $1" | bc -l)" = 1 ]; then echo "$2"; else echo "$1"; fi; }
rate() { echo "$1 / $2" | bc -l; }
# Runs a command line (a string for bash, so that it can hold pipes) with dirty pages written
# back first; sets WALL and CPU (user + system of every process in it).
timed() {
  sync
  /usr/bin/time -f "%e %U %S" -o "$data/time.txt" bash -c "$1"
  read -r WALL user sys <"$data/time.txt"
  CPU=$(echo "$user + $sys" | bc -l)
}
# The decoder's own peak RSS in KiB, written by the run through /usr/bin/time.
peak() { cat "$data/rss.txt"; }

dd_w=""; dd_c=""; file_w=""; file_c=""; file_rss=0; pipe_w=""; pipe_c=""; pipe_rss=0; cat_w=""
load_first=$(cut -d' ' -f1 /proc/loadavg)
for ((r = 0; r < rounds; r++)); do
  timed "dd if='$recording' of='$data/dd.out' bs=1M status=none"
  dd_w=$(min "$dd_w" "$WALL"); dd_c=$(min "$dd_c" "$CPU"); rm -f "$data/dd.out"

  timed "/usr/bin/time -f %M -o '$data/rss.txt' '$decode' -m $mak -o '$data/out.mpg' '$recording'"
  file_w=$(min "$file_w" "$WALL"); file_c=$(min "$file_c" "$CPU")
  [ "$(peak)" -gt "$file_rss" ] && file_rss=$(peak)
  out_bytes=$(stat -c %s "$data/out.mpg")
  [ $r = 0 ] && { cmp -s "$data/out.mpg" "$clear" || echo "  WARNING: the decrypted stream differs from the clear original"; }
  rm -f "$data/out.mpg"

  timed "dd if='$recording' bs=1M status=none | /usr/bin/time -f %M -o '$data/rss.txt' '$decode' -m $mak - |
         dd of='$data/out.mpg' bs=1M status=none"
  pipe_w=$(min "$pipe_w" "$WALL"); pipe_c=$(min "$pipe_c" "$CPU")
  [ "$(peak)" -gt "$pipe_rss" ] && pipe_rss=$(peak)
  [ "$(stat -c %s "$data/out.mpg")" = "$out_bytes" ] || echo "  WARNING: the piped run wrote $(stat -c %s "$data/out.mpg") bytes, the file run $out_bytes"
  [ $r = 0 ] && { cmp -s "$data/out.mpg" "$clear" || echo "  WARNING: the piped stream differs from the clear original"; }
  rm -f "$data/out.mpg"

  # The same pipeline with cat in the decoder's place: the pipes alone, at their default size.
  timed "dd if='$recording' bs=1M status=none | cat | dd of='$data/out.mpg' bs=1M status=none"
  cat_w=$(min "$cat_w" "$WALL"); rm -f "$data/out.mpg"
done

printf 'encrypted program stream: %.0f MB .TiVo -> %.0f MB .mpg, best of %d runs each (load %s before, %s after)\n' \
  "$mb" "$(echo "$out_bytes / 1000000" | bc -l)" "$rounds" "$load_first" "$(cut -d' ' -f1 /proc/loadavg)"
printf '  dd bs=1M, file -> file       %6.2f s  %7.1f MB/s   CPU %5.2f s\n' "$dd_w" "$(rate "$mb" "$dd_w")" "$dd_c"
printf '  tivodecode, file -> file     %6.2f s  %7.1f MB/s   CPU %5.2f s   peak RSS %.1f MiB\n' \
  "$file_w" "$(rate "$mb" "$file_w")" "$file_c" "$(echo "$file_rss / 1024" | bc -l)"
printf '  tivodecode, pipe -> pipe     %6.2f s  %7.1f MB/s   CPU %5.2f s   peak RSS %.1f MiB (CPU of all three processes)\n' \
  "$pipe_w" "$(rate "$mb" "$pipe_w")" "$pipe_c" "$(echo "$pipe_rss / 1024" | bc -l)"
printf '  cat, pipe -> pipe (no decoder) %6.2f s  %7.1f MB/s   cat leaves the pipes at their default size\n' "$cat_w" "$(rate "$mb" "$cat_w")"
printf '  throughput / dd: %.2f (file -> file), %.2f (pipe -> pipe; cat alone: %.2f)   target >= 0.4; peak RSS target < 32 MiB\n' \
  "$(rate "$dd_w" "$file_w")" "$(rate "$dd_w" "$pipe_w")" "$(rate "$dd_w" "$cat_w")"
