#!/usr/bin/env bash
# Makes the MPEG test streams with ffmpeg into OUTDIR (skips those already made).
#   make-test-material.sh OUTDIR
#
# Files (names are stable; tests of every layer use them):
#   mp2.mpg            MPEG-2 video + MPEG-1 Layer II audio, DVD-style 2048-byte packs
#   ac3.mpg            MPEG-2 video + AC-3 in private stream 1 (substream 0x80), DVD packs
#   two_audio.mpg      MPEG-2 video + MP2 (0xC0) + AC-3 (0xBD/0x80)
#   two_mp2.mpg        MPEG-2 video + two MP2 tracks (0xC0, 0xC1)
#   large_packets.mpg  MPEG-2 video + MP2, PES packets of up to 15000 bytes, as TiVo writes
#   late_audio.mpg     MPEG-2 video + MP2 whose first audio packet comes 1.5 s into the file
#   mpeg1.mpg          MPEG-1 system stream (MPEG-1 pack and PES headers), MPEG-1 video + MP2
# Each is 4 seconds of a test pattern with a tone; all together about 2 MB.
set -euo pipefail
out=$1
mkdir -p "$out"

# Inputs shared by every stream: a moving test pattern and a stereo tone, 4 seconds.
video=(-f lavfi -i testsrc=size=352x288:rate=25:duration=4)
tone() { echo "-f lavfi -i sine=frequency=$1:sample_rate=48000:duration=4"; }

make() {
  local name=$1
  shift
  [ -s "$out/$name" ] && return 0
  # Write to a temporary name first so an interrupted run never leaves a half file behind.
  ffmpeg -hide_banner -nostdin -loglevel error -y "$@" "$out/$name.part.mpg"
  mv "$out/$name.part.mpg" "$out/$name"
}

# MPEG-2 video (GOP 12, two B-frames) and MP2 audio in DVD-style 2048-byte packs.
make mp2.mpg "${video[@]}" $(tone 440) -map 0:v -map 1:a \
  -c:v mpeg2video -b:v 2M -g 12 -bf 2 -c:a mp2 -ac 2 -b:a 192k -f vob

# The same with AC-3 audio: ffmpeg's DVD muxer puts it in private stream 1, substream 0x80,
# with the four-byte substream header.
make ac3.mpg "${video[@]}" $(tone 440) -map 0:v -map 1:a \
  -c:v mpeg2video -b:v 2M -g 12 -bf 2 -c:a ac3 -ac 2 -b:a 192k -f vob

# Video with two audio tracks of different kinds: MP2 (0xC0) and AC-3 (0xBD, 0x80).
make two_audio.mpg "${video[@]}" $(tone 440) $(tone 660) -map 0:v -map 1:a -map 2:a \
  -c:v mpeg2video -b:v 2M -g 12 -bf 2 -c:a:0 mp2 -ac 2 -b:a:0 192k -c:a:1 ac3 -b:a:1 192k -f vob

# Video with two MP2 tracks (0xC0 and 0xC1).
make two_mp2.mpg "${video[@]}" $(tone 440) $(tone 660) -map 0:v -map 1:a -map 2:a \
  -c:v mpeg2video -b:v 2M -g 12 -bf 2 -c:a mp2 -ac 2 -b:a 128k -f vob

# Packs and PES packets of up to 15000 bytes, as TiVo recorders write them. The muxer warns
# that such packets overrun the audio buffer model; that is the point, so only fatal errors
# are shown.
make large_packets.mpg "${video[@]}" $(tone 440) -map 0:v -map 1:a \
  -c:v mpeg2video -b:v 4M -g 12 -bf 2 -c:a mp2 -ac 2 -b:a 192k -f vob -packetsize 15000 -loglevel fatal

# Audio delayed by 1.5 s: the muxer interleaves by time, so 1.5 s of video packets come
# before the first audio packet (a probe that looks only at the first packets misses it).
make late_audio.mpg "${video[@]}" -itsoffset 1.5 $(tone 440) -map 0:v -map 1:a \
  -c:v mpeg2video -b:v 3M -g 12 -bf 2 -c:a mp2 -ac 2 -b:a 192k -f vob

# An MPEG-1 system stream: MPEG-1 pack headers and MPEG-1 PES header syntax.
make mpeg1.mpg "${video[@]}" $(tone 440) -map 0:v -map 1:a \
  -c:v mpeg1video -b:v 1500k -c:a mp2 -ac 2 -b:a 192k -f mpeg
