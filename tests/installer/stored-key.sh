#!/usr/bin/env bash
# A Media Access Key given to setup with /MAK=, for either package, in a fresh WoW64 prefix
# (the x86 package runs under 32-bit Wine, as on 64-bit Windows): when the key store cannot be
# written, a silent setup installs, asks nothing and ends with exit code 5; otherwise the
# filter pack stores the key inside setup's own process, so no process that setup starts
# carries the key on its command line. The installed program then converts an encrypted
# recording with the key without asking, and a silent uninstall removes everything but the
# key.
#   stored-key.sh x64|x86 SETUP.exe PROBE.exe VECTORS_DIR WORK_DIR
# VECTORS_DIR holds ps-mpeg2-ac3.TiVo (encrypted with 0123456789) and its clear original
# ps-mpeg2-ac3.mpg. Needs DISPLAY.
set -euo pipefail
ARCH=$1 SETUP=$2 PROBE=$3 VECTORS=$4 WORK=$5
PREFIX=$WORK/prefix
source "$(dirname "$0")/support.sh"
source "$(dirname "$0")/convert-journey.sh"
[ -n "${DISPLAY:-}" ] || fail "no DISPLAY (start one with scripts/wine-session.sh)"
[ -f "$SETUP" ] || fail "no setup program at $SETUP (build it with scripts/make-installers.sh)"
[ -f "$VECTORS/ps-mpeg2-ac3.TiVo" ] || fail "no encrypted recording in $VECTORS"
key=0123456789

rm -rf "$WORK"
mkdir -p "$WORK"
prefix_start
trap prefix_stop EXIT
dir=$(install_dir_unix)
setup_name=$(basename "$SETUP")

key_on_no_command_line() {
  local started
  started=$(started_by_setup "$setup_name") || fail "Wine's trace does not show setup starting"
  ! grep -F "$key" <<<"$started" || fail "a process that setup started has the key on its command line"
}

# A volatile parent key: Windows, and Wine, refuse to create the store's lasting key below it.
p volatile-key 'Software\Halvenor\Korvane Filters' || fail "the probe could not create a volatile key"
run_setup "$SETUP" /S /MAK=$key && ran=0 || ran=$?
[ "$ran" = 5 ] || fail "silent setup with a key store that cannot be written ended with $ran, expected 5"
[ -f "$dir/KorvaneFilters.dll" ] || fail "setup with a key store that cannot be written installed nothing"
reg_key_exists "$keys_key" && fail "a key store that cannot be written holds something"
key_on_no_command_line
ok "a key store that cannot be written: silent setup installs, asks nothing, ends with exit code 5"
w reg delete 'HKCU\Software\Halvenor\Korvane Filters' /f >/dev/null

seed_user_data
run_setup "$SETUP" /S /MAK=$key && ran=0 || ran=$?
[ "$ran" = 0 ] || fail "silent setup with /MAK= ended with $ran"
check_installed "$dir"
reg_value "$keys_key" "Key 1" >/dev/null || fail "setup stored no key under $keys_key"
key_on_no_command_line
ok "setup stored the key in its own process: no process it started had the key on its command line"

mkdir -p "$(recordings_unix)"
cp "$VECTORS/ps-mpeg2-ac3.TiVo" "$(recordings_unix)/Late Movie.TiVo"
# A dialog asking for the key would stop the journey: it must not come.
convert_from_main_window "$dir/KorvaneConverter.exe" "$WORK/shots" "Late Movie.TiVo"
output="$(recordings_unix)/Late Movie.mpg"
[ -s "$output" ] || fail "no output $output"
[ "$(probe_counts "$output")" = "$(probe_counts "$VECTORS/ps-mpeg2-ac3.mpg")" ] ||
  fail "the decrypted output differs from the clear original in streams or packets"
ok "the encrypted recording converted with the key given to setup"

run_uninstall "$dir" && ran=0 || ran=$?
[ "$ran" = 0 ] || fail "silent uninstall ended with $ran"
check_removed "$dir"
reg_value "$keys_key" "Key 1" >/dev/null || fail "uninstall did not keep the stored key"
ok "silent uninstall removed the install and kept the key"
