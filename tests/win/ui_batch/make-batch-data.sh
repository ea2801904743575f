#!/usr/bin/env bash
# Data of the progress window's tests, beside the ffmpeg-made material:
#   tiny/              a 256 KiB tmpfs, when this machine lets us mount one (tiny/mounted marks it):
#                      a conversion into it runs out of room part way through the file
#   diskfull/full.mpg  otherwise, a link to /dev/full: every write to it fails with "disk full"
#   make-batch-data.sh OUT_DIR                     make them
#   make-batch-data.sh --cleanup OUT_DIR           unmount the tmpfs
set -euo pipefail
if [ "$1" = --cleanup ]; then
  if mountpoint -q "$2/tiny" 2>/dev/null; then umount "$2/tiny" || true; fi
  exit 0
fi
out=$1
mkdir -p "$out/diskfull" "$out/tiny"
ln -sfn /dev/full "$out/diskfull/full.mpg"
if mountpoint -q "$out/tiny"; then umount "$out/tiny" || true; fi
rm -f "$out/tiny/mounted"
if mount -t tmpfs -o size=256k korvane-tiny "$out/tiny" 2>/dev/null; then
  touch "$out/tiny/mounted"
else
  echo "no tmpfs could be mounted: the disk-full test falls back to /dev/full" >&2
fi
