#!/usr/bin/env bash
# A Media Access Key given to the 64-bit setup program on its command line is stored through
# the filter pack's own entry point, and the installed program then converts an encrypted
# recording with it without asking.
#   stored-key.sh SETUP.exe PROBE.exe VECTORS_DIR WORK_DIR
# VECTORS_DIR holds ps-mpeg2-ac3.TiVo (encrypted with 0123456789) and its clear original
# ps-mpeg2-ac3.mpg. Needs DISPLAY.
set -euo pipefail
SETUP=$1 PROBE=$2 VECTORS=$3 WORK=$4
PREFIX=$WORK/prefix
source "$(dirname "$0")/support.sh"
source "$(dirname "$0")/convert-journey.sh"
[ -n "${DISPLAY:-}" ] || fail "no DISPLAY (start one with scripts/wine-session.sh)"
[ -f "$SETUP" ] || fail "no setup program at $SETUP (build it with scripts/make-installers.sh)"
[ -f "$VECTORS/ps-mpeg2-ac3.TiVo" ] || fail "no encrypted recording in $VECTORS"

rm -rf "$WORK"
mkdir -p "$WORK"
prefix_start
trap prefix_stop EXIT

run_setup "$SETUP" /S /MAK=0123456789 && ran=0 || ran=$?
[ "$ran" = 0 ] || fail "silent setup with /MAK= ended with $ran"
stored=$(w reg query "$keys_key") && grep -q REG_ <<<"$stored" || fail "setup stored no key under $keys_key"
ok "setup stored the key"

mkdir -p "$(recordings_unix)"
cp "$VECTORS/ps-mpeg2-ac3.TiVo" "$(recordings_unix)/Late Movie.TiVo"
# A dialog asking for the key would stop the journey: it must not come.
convert_from_main_window "$(install_dir_unix)/KorvaneConverter.exe" "$WORK/shots" "Late Movie.TiVo"
output="$(recordings_unix)/Late Movie.mpg"
[ -s "$output" ] || fail "no output $output"
[ "$(probe_counts "$output")" = "$(probe_counts "$VECTORS/ps-mpeg2-ac3.mpg")" ] ||
  fail "the decrypted output differs from the clear original in streams or packets"
ok "the encrypted recording converted with the key given to setup"
