#!/usr/bin/env bash
# A long program stream (about 170 MB, half an hour) made by repeating two_audio.mpg of the
# test material without re-encoding (video, MP2 and AC-3), so that a conversion lasts long
# enough to watch and cancel, and its output spans well over a hundred of the multiplexer's
# 1 MiB samples. Packs of 14999 bytes, as TiVo recorders write large ones: they straddle the
# source's 256 KiB samples at ever different places, where 2048-byte packs never would.
# The muxer warns that such packs overrun the audio buffer model; only fatal errors show.
#   make-long-stream.sh MATERIAL_DIR OUT_FILE
set -euo pipefail
material=$1
out=$2
[ -s "$out" ] && exit 0
mkdir -p "$(dirname "$out")"
ffmpeg -hide_banner -nostdin -loglevel fatal -y -stream_loop 400 -i "$material/two_audio.mpg" -map 0 -c copy \
  -f vob -packetsize 14999 "$out.part.mpg"
mv "$out.part.mpg" "$out"
