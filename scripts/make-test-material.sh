#!/usr/bin/env bash
# Makes the MPEG test streams with ffmpeg into OUTDIR (skips those already made).
#   make-test-material.sh OUTDIR
set -euo pipefail
out=$1
mkdir -p "$out"
