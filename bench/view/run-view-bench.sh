#!/usr/bin/env bash
# The payload view on large encrypted recordings, made here with the test-material encryptor
# (one at a time, each read from the page cache, each deleted once measured):
#   1. a GiB-sized program stream (DVD packs; the block changes every 8000 scrambled packets,
#      about 16 MB of file) and
#   2. a transport stream (ffmpeg's MPEG-2 + AC-3 again and again; a block every 23000 packets
#      of each PID: the audio's blocks span about 16 MB, the video's 6 MB):
#      load, first read at the end, first reads of fresh views, 1000 reads of 64 KiB at random
#      offsets, seeks back, peak RSS;
#   3. the same with longer blocks (about 128 MB), and a captioned transport stream with a
#      TiVo's short blocks (300 packets): what bounds a read;
#   4. 1 GB of each kind with a TiVo's short blocks read from start to end in requests of
#      64 KiB to 1 MiB, beside the streaming decryptor and `dd bs=1M` copying the file.
#   bench/view/run-view-bench.sh [GiB]   (default 10; needs about twice that free in build/)
# Uses the build tree build/native (or the one KORVANE_BENCH_NATIVE names).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
gib=${1:-10}
native=${KORVANE_BENCH_NATIVE:-build/native}
data=$root/build/view-bench
mak=0123456789
mkdir -p "$data"
trap 'rm -f "$data"/*.mpg "$data"/*.ts "$data"/*.TiVo "$data"/dd.out' EXIT

[ -f "$native/build.ninja" ] || cmake --preset native -B "$native" >/dev/null
cmake --build "$native" --target media_bench korvane-tivo view_bench -j2 >/dev/null
bench=$native/bench/view/view_bench
tivo=$native/tools/korvane-tivo
bash scripts/make-test-material.sh "$native/material"
echo "machine load $(cut -d' ' -f1 /proc/loadavg), $(nproc) cores"

# make KIND MiB BLOCK-PACKETS NAME [--captions]: an encrypted recording in $data/NAME.TiVo.
make() {
  local kind=$1 mib=$2 blocks=$3 name=$4 extra=${5:-}
  if [ "$kind" = ps ]; then
    "$native/bench/media/media_bench" --mib "$mib" --generate "$data/$name.mpg" >/dev/null
    "$tivo" wrap "$data/$name.mpg" "$data/$name.TiVo" --mak $mak --block-packets "$blocks"
    rm -f "$data/$name.mpg"
  else
    "$bench" --concat "$native/material/ts_mpeg2_ac3.ts" "$data/$name.ts" --mib "$mib" $extra
    # The encryptor refuses a salt whose keystream makes scrambled bytes read as a clear
    # header (likelier the longer the caption user data): another salt then.
    local salt
    for salt in 00112233445566778899aabbccddeeff 0123456789abcdef0123456789abcdef \
                fedcba9876543210fedcba9876543210 5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a; do
      "$tivo" wrap "$data/$name.ts" "$data/$name.TiVo" --ts --mak $mak --salt $salt \
        --block-packets "$blocks" 2>/dev/null && break
    done
    rm -f "$data/$name.ts"
  fi
  cat "$data/$name.TiVo" >/dev/null  # read from the page cache, as after a first look
}

echo; echo "== $gib GiB, blocks of about 16 MB"
make ps $((gib * 1024)) 8000 big-ps && "$bench" "$data/big-ps.TiVo" --reads 1000; rm -f "$data/big-ps.TiVo"
make ts $((gib * 1024)) 23000 big-ts && "$bench" "$data/big-ts.TiVo" --reads 1000; rm -f "$data/big-ts.TiVo"

echo; echo "== what bounds a read: longer blocks (about 128 MB), and caption user data"
make ps 4096 64000 long-ps && "$bench" "$data/long-ps.TiVo" --reads 100; rm -f "$data/long-ps.TiVo"
make ts 1024 300 captioned-ts --captions && "$bench" "$data/captioned-ts.TiVo" --reads 300
rm -f "$data/captioned-ts.TiVo"

echo; echo "== 1 GB read from start to end (a TiVo's blocks: 300 packets)"
for kind in ps ts; do
  make $kind 1024 300 seq-$kind
  best=""
  for r in 1 2 3; do
    sync
    start=$(date +%s.%N)
    dd if="$data/seq-$kind.TiVo" of="$data/dd.out" bs=1M status=none
    end=$(date +%s.%N)
    rm -f "$data/dd.out"
    t=$(echo "$end - $start" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
  done
  printf '  dd bs=1M copying the file, best of 3:    %6.2f s %7.0f MB/s\n' "$best" \
    "$(echo "$(stat -c %s "$data/seq-$kind.TiVo") / $best / 1000000" | bc -l)"
  "$bench" --sequential "$data/seq-$kind.TiVo"
  rm -f "$data/seq-$kind.TiVo"
done
