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
# Transport streams, as TiVo serves HD and H.264 channels (3 seconds each, about 3 MB in all):
#   ts_mpeg2_ac3.ts    MPEG-2 video + AC-3 with stream type 0x81, as broadcast in the US
#   ts_h264_ac3.ts     H.264 video (B-frames) + AC-3
#   ts_h264_aac.ts     H.264 video + AAC in ADTS (stream type 0x0F)
#   ts_two_audio.ts    MPEG-2 video + MP2 + AC-3 as stream type 0x06 with an AC-3 descriptor
#   ts_eac3.ts         MPEG-2 video + E-AC-3 (stream type 0x87, "EAC3" registration)
#   ts_garbage.ts      ts_mpeg2_ac3.ts after 1000 bytes of garbage (with stray 0x47 bytes)
#   ts_gap.ts          ts_h264_ac3.ts with one video packet (no PES start) cut out mid-file
#   ts_wrap.ts         MPEG-2 video + MP2 whose PTS/DTS cross 2^33 (26.5 hours) and wrap to 0
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
  local ext=${name##*.}
  # Write to a temporary name first so an interrupted run never leaves a half file behind.
  ffmpeg -hide_banner -nostdin -loglevel error -y "$@" "$out/$name.part.$ext"
  mv "$out/$name.part.$ext" "$out/$name"
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

# ---- Transport streams ----
short=(-f lavfi -i testsrc=size=352x288:rate=30000/1001:duration=3)
stone() { echo "-f lavfi -i sine=frequency=$1:sample_rate=48000:duration=3"; }

# MPEG-2 video with B-frames and AC-3: ffmpeg's muxer gives AC-3 the ATSC stream type 0x81.
make ts_mpeg2_ac3.ts "${short[@]}" $(stone 440) -map 0:v -map 1:a \
  -c:v mpeg2video -b:v 3M -g 15 -bf 2 -c:a ac3 -ac 2 -b:a 192k -f mpegts

# H.264 (High profile, B-frames) + AC-3.
make ts_h264_ac3.ts "${short[@]}" $(stone 440) -map 0:v -map 1:a \
  -c:v libx264 -preset veryfast -b:v 2M -g 30 -bf 2 -c:a ac3 -ac 2 -b:a 192k -f mpegts

# H.264 + AAC in ADTS frames (stream type 0x0F).
make ts_h264_aac.ts "${short[@]}" $(stone 440) -map 0:v -map 1:a \
  -c:v libx264 -preset veryfast -b:v 2M -g 30 -bf 2 -c:a aac -ac 2 -b:a 128k -f mpegts

# MPEG-2 + MP2 + a second track in AC-3; system_b makes the AC-3 stream type 0x06 with the
# AC-3 descriptor, as DVB broadcasts carry it.
make ts_two_audio.ts "${short[@]}" $(stone 440) $(stone 660) -map 0:v -map 1:a -map 2:a \
  -c:v mpeg2video -b:v 3M -g 15 -bf 2 -c:a:0 mp2 -b:a:0 192k -c:a:1 ac3 -b:a:1 192k -ac 2 \
  -mpegts_flags system_b -f mpegts

# E-AC-3, as some US stations send it: ffmpeg gives it the ATSC stream type 0x87.
make ts_eac3.ts "${short[@]}" $(stone 440) -map 0:v -map 1:a \
  -c:v mpeg2video -b:v 3M -g 15 -bf 2 -c:a eac3 -ac 2 -b:a 192k -f mpegts

# PTS crossing 2^33: the output starts 2 seconds before the wrap point (95443.7176 s).
make ts_wrap.ts "${short[@]}" $(stone 440) -map 0:v -map 1:a \
  -c:v mpeg2video -b:v 2M -g 15 -bf 2 -c:a mp2 -ac 2 -b:a 192k -output_ts_offset 95441.7 -f mpegts

# Garbage before the first sync byte: 1000 bytes, some of them 0x47 (never 188 apart).
if [ ! -s "$out/ts_garbage.ts" ]; then
  { for i in $(seq 1 100); do printf 'G\001\002\003\004\005\006\007\010\011'; done
    cat "$out/ts_mpeg2_ac3.ts"; } > "$out/ts_garbage.ts.part"
  mv "$out/ts_garbage.ts.part" "$out/ts_garbage.ts"
fi

# A continuity gap: the first video packet (PID 0x100) after packet 300 that starts no PES is
# cut out, so its PID's continuity counter jumps.
if [ ! -s "$out/ts_gap.ts" ]; then
  src=$out/ts_h264_ac3.ts
  total=$(( $(stat -c %s "$src") / 188 ))
  cut=""
  for ((n = 300; n < total; n++)); do
    # bytes 1-2: PUSI and PID
    read -r b1 b2 < <(od -An -tu1 -j $((n * 188 + 1)) -N2 "$src")
    if [ $(( (b1 & 0x1F) << 8 | b2 )) -eq 256 ] && [ $(( b1 & 0x40 )) -eq 0 ]; then cut=$n; break; fi
  done
  [ -n "$cut" ] || { echo "no video packet to cut in $src" >&2; exit 1; }
  { head -c $((cut * 188)) "$src"; tail -c +$(((cut + 1) * 188 + 1)) "$src"; } > "$out/ts_gap.ts.part"
  mv "$out/ts_gap.ts.part" "$out/ts_gap.ts"
fi
