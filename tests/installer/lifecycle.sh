#!/usr/bin/env bash
# The 64-bit setup program in a fresh Wine prefix, from a refused command line to a second
# uninstall: silent install, what it left (files and their version records, filter
# registration, uninstall entry, Start menu shortcut), a conversion with the installed
# program, setup and uninstall refused while it runs, upgrades in place and into another
# folder, a folder outside Program Files refused, an earlier install outside it left alone,
# uninstall keeping and then forgetting the stored keys, and an uninstall with nothing left
# to remove.
#   lifecycle.sh SETUP.exe PROBE.exe MATERIAL_DIR WORK_DIR [SHOTS_COPY_DIR]
# Needs DISPLAY. KORVANE_BUILT_FILES (the build's program and filter pack, set by ctest)
# makes a setup program older than them fail, rather than test what was built before.
# SHOTS_COPY_DIR (or KORVANE_SCREENSHOTS) receives main-window.png and progress-window.png,
# e.g. docs/.
set -euo pipefail
SETUP=$1 PROBE=$2 MATERIAL=$3 WORK=$4
copy=${5:-${KORVANE_SCREENSHOTS:-}}
PREFIX=$WORK/prefix
source "$(dirname "$0")/support.sh"
source "$(dirname "$0")/convert-journey.sh"
[ -n "${DISPLAY:-}" ] || fail "no DISPLAY (start one with scripts/wine-session.sh)"
[ -f "$SETUP" ] || fail "no setup program at $SETUP (build it with scripts/make-installers.sh)"
for built in ${KORVANE_BUILT_FILES:-}; do
  [ "$SETUP" -nt "$built" ] || fail "$SETUP is older than $built: run scripts/make-installers.sh"
done

rm -rf "$WORK"
mkdir -p "$WORK"
prefix_start
trap prefix_stop EXIT
dir=$(install_dir_unix)

seed_user_data

# A command line with a malformed key is refused before anything is written.
run_setup "$SETUP" /S /MAK=12345 && ran=0 || ran=$?
[ "$ran" = 2 ] || fail "setup with /MAK=12345 ended with $ran, expected 2"
[ ! -e "$dir" ] || fail "a refused setup created $dir"
reg_key_exists "$uninstall_key" && fail "a refused setup wrote the uninstall entry"
ok "a malformed /MAK= is refused with exit code 2 and nothing installed"

run_setup "$SETUP" /S && ran=0 || ran=$?
[ "$ran" = 0 ] || fail "silent setup ended with $ran"

check_installed "$dir"
[ ! -e "$PREFIX/drive_c/Program Files (x86)/Korvane Converter" ] || fail "the 64-bit package used the 32-bit Program Files"

# The installed program converts recordings from a user's folder (the README's screenshots).
recordings=$(recordings_unix)
mkdir -p "$recordings"
ffmpeg -hide_banner -nostdin -loglevel error -y -stream_loop 300 -i "$MATERIAL/mp2.mpg" -c copy -f mpeg "$WORK/long.mpg"
wrap_tivo "$WORK/long.mpg" "$recordings/Evening News.TiVo"
wrap_tivo "$MATERIAL/two_audio.mpg" "$recordings/Nature Hour.TiVo"
wrap_tivo "$MATERIAL/ac3.mpg" "$recordings/Road Trip.TiVo"
convert_from_main_window "$dir/KorvaneConverter.exe" "$WORK/shots" "Evening News.TiVo" "Nature Hour.TiVo" "Road Trip.TiVo"
check_converted() {  # check_converted SOURCE_MPG NAME: NAME.mpg beside NAME.TiVo holds SOURCE_MPG's streams
  local output="$recordings/$2.mpg"
  [ -s "$output" ] || fail "no output $output"
  [ "$(probe_counts "$output")" = "$(probe_counts "$1")" ] || fail "$output differs from its source in streams or packets"
}
check_converted "$WORK/long.mpg" "Evening News"
check_converted "$MATERIAL/two_audio.mpg" "Nature Hour"
check_converted "$MATERIAL/ac3.mpg" "Road Trip"
rm -f "$WORK/long.mpg" "$recordings/Evening News.TiVo" "$recordings/Evening News.mpg"
ok "the installed program converted three recordings; ffprobe finds their streams and packets"
if [ -n "$copy" ]; then
  mkdir -p "$copy"
  for shot in main-window.png progress-window.png; do
    [ -s "$WORK/shots/$shot" ] && cp "$WORK/shots/$shot" "$copy/" && ok "screenshot $copy/$shot"
  done
fi

# While the program runs, Windows lets no one replace or delete its files: setup and
# uninstall stop with exit code 4 before they change anything.
cd "$recordings"
"$wine" "$dir/KorvaneConverter.exe" </dev/null >/dev/null 2>&1 &
busy_pid=$!
cd - >/dev/null
trap 'kill "$busy_pid" 2>/dev/null || true; prefix_stop' EXIT
p wait "Korvane Converter" 30 || fail "the installed program did not start"
run_setup "$SETUP" /S && ran=0 || ran=$?
[ "$ran" = 4 ] || fail "setup over the running program ended with $ran, expected 4"
run_uninstall "$dir" && ran=0 || ran=$?
[ "$ran" = 4 ] || fail "uninstall with the program running ended with $ran, expected 4"
check_installed "$dir"
p command "Korvane Converter" 0x0112 0xF060
wait "$busy_pid" || fail "the program did not end cleanly"
trap prefix_stop EXIT
ok "setup and uninstall leave the install whole while the program runs (exit code 4)"

# Setup again over the install: an upgrade in place.
run_setup "$SETUP" /S && ran=0 || ran=$?
[ "$ran" = 0 ] || fail "the second setup ended with $ran"
check_installed "$dir"
ok "a second setup upgrades in place"

# A folder outside Program Files, where anyone could replace the filters every process may
# load, is refused before anything changes.
run_setup "$SETUP" /S '/D=C:\Tools\Korvane Converter' && ran=0 || ran=$?
[ "$ran" = 2 ] || fail "setup with /D=C:\Tools\Korvane Converter ended with $ran, expected 2"
[ ! -e "$PREFIX/drive_c/Tools" ] || fail "a refused setup created C:\Tools"
[ "$(reg_value "$uninstall_key" InstallLocation)" = "$program_files" ] || fail "a refused setup changed the uninstall entry"
ok "a folder outside Program Files is refused with exit code 2"

# Setup into another folder moves the install: the earlier folder is emptied and removed.
moved="$PREFIX/drive_c/Program Files/Korvane"
run_setup "$SETUP" /S '/D=C:\Program Files\Korvane' && ran=0 || ran=$?
[ "$ran" = 0 ] || fail "setup with /D= ended with $ran"
check_installed "$moved"
[ ! -e "$dir" ] || fail "the earlier install is still in $dir: $(ls "$dir")"
ok "setup with /D= installs there and takes the earlier install away"
# Setup with no folder given upgrades the install where it now is.
run_setup "$SETUP" /S && ran=0 || ran=$?
[ "$ran" = 0 ] || fail "setup over the moved install ended with $ran"
check_installed "$moved"
[ ! -e "$dir" ] || fail "setup went back to $dir instead of upgrading $moved"
ok "setup upgrades the moved install in its folder"

# Silent uninstall: everything of ours goes, the stored keys and other settings stay.
run_uninstall "$moved" && ran=0 || ran=$?
[ "$ran" = 0 ] || fail "silent uninstall ended with $ran"
check_removed "$moved"
[ "$(reg_value "$keys_key" seeded-by-test)" = 00112233 ] || fail "uninstall did not keep the stored keys"
ok "silent uninstall removed files, shortcut, entry and registration, and kept the stored keys"

# An install that an older setup put outside Program Files: its Uninstall.exe, which anyone
# could have replaced there, is not run, and setup installs into Program Files instead.
legacy="$PREFIX/drive_c/Tools/Korvane Converter"
mkdir -p "$legacy"
cp "$PROBE" "$legacy/Uninstall.exe"
w reg add "$uninstall_key" /v InstallLocation /d 'C:\Tools\Korvane Converter' /f >/dev/null
run_setup "$SETUP" /S && ran=0 || ran=$?
[ "$ran" = 0 ] || fail "setup over an install outside Program Files ended with $ran"
check_installed "$dir"
started=$(started_by_setup "$(basename "$SETUP")") || fail "Wine's trace does not show setup starting"
! grep -iF 'C:\Tools' <<<"$started" || fail "setup started a program from the earlier install outside Program Files"
[ -f "$legacy/Uninstall.exe" ] || fail "setup removed files outside Program Files"
rm -rf "$PREFIX/drive_c/Tools"
ok "an earlier install outside Program Files is left alone; setup installs into Program Files"

# Uninstall with the forget option removes the stored keys too.
run_uninstall "$dir" /FORGETKEYS && ran=0 || ran=$?
[ "$ran" = 0 ] || fail "uninstall /FORGETKEYS ended with $ran"
check_removed "$dir"
reg_key_exists "$keys_key" && fail "uninstall /FORGETKEYS kept the stored keys"
reg_key_exists 'HKCU\Software\Halvenor\Korvane Filters' && fail "uninstall /FORGETKEYS left the filter pack's empty key"
ok "uninstall /FORGETKEYS removed the stored keys as well"

# A second uninstall (its copy run again) finds nothing and harms nothing.
seed_user_data
before=$(registry_export)
run_uninstall "$dir" && ran=0 || ran=$?
[ "$ran" = 0 ] || fail "the second uninstall ended with $ran"
check_removed "$dir"
after=$(registry_export)
[ "$after" = "$before" ] || fail "the second uninstall changed the registry: $(diff <(echo "$before") <(echo "$after") | head)"
ok "a second uninstall is harmless"
