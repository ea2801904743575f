#!/usr/bin/env bash
# The 64-bit setup program in a fresh Wine prefix, from a refused command line to a second
# uninstall: silent install, what it left (files and their version records, filter
# registration, uninstall entry, Start menu shortcut), a conversion with the installed
# program, upgrades in place and into another folder, uninstall keeping and then forgetting
# the stored keys, and an uninstall with nothing left to remove.
#   lifecycle.sh SETUP.exe INSTALLER_PROBE.exe WINDOW_PROBE.exe MATERIAL_DIR WORK_DIR [SHOTS_COPY_DIR]
# Needs DISPLAY. SHOTS_COPY_DIR (or KORVANE_SCREENSHOTS) receives main-window.png and
# progress-window.png, e.g. docs/.
set -euo pipefail
SETUP=$1 PROBE=$2 WINDOW_PROBE=$3 MATERIAL=$4 WORK=$5
copy=${6:-${KORVANE_SCREENSHOTS:-}}
PREFIX=$WORK/prefix
source "$(dirname "$0")/support.sh"
source "$(dirname "$0")/convert-journey.sh"
[ -n "${DISPLAY:-}" ] || fail "no DISPLAY (start one with scripts/wine-session.sh)"
[ -f "$SETUP" ] || fail "no setup program at $SETUP (build it with scripts/make-installers.sh)"

rm -rf "$WORK"
mkdir -p "$WORK"
prefix_start
trap prefix_stop EXIT
dir=$(install_dir_unix)

# A key stored earlier (by an older install, or the other package) that uninstall must keep.
w reg add "$keys_key" /v seeded-by-test /t REG_BINARY /d 00112233 /f >/dev/null
# Another program's setting beside ours, which no uninstall may touch.
w reg add 'HKCU\Software\Halvenor\Korvane' /v mpegMuxer /d '{1EE4C9C2-D755-11D5-9202-000021023C26}' /f >/dev/null

# A command line with a malformed key is refused before anything is written.
run_setup "$SETUP" /S /MAK=12345 && ran=0 || ran=$?
[ "$ran" = 2 ] || fail "setup with /MAK=12345 ended with $ran, expected 2"
[ ! -e "$dir" ] || fail "a refused setup created $dir"
reg_key_exists "$uninstall_key" && fail "a refused setup wrote the uninstall entry"
ok "a malformed /MAK= is refused with exit code 2 and nothing installed"

run_setup "$SETUP" /S && ran=0 || ran=$?
[ "$ran" = 0 ] || fail "silent setup ended with $ran"

check_installed() {  # check_installed DIR_UNIX
  local dir=$1 dir_dos name
  dir_dos=$(w winepath -w "$dir")
  for name in KorvaneConverter.exe KorvaneFilters.dll Uninstall.exe; do
    [ -f "$dir/$name" ] || fail "$name is not in $dir"
  done
  local record
  record=$(version_record "$dir/KorvaneConverter.exe")
  for want in Version=1.0.0.1 CompanyName=Halvenor OriginalFilename=KorvaneConverter.exe "ProductName=Korvane Application"; do
    grep -qxF "$want" <<<"$record" || fail "KorvaneConverter.exe's version record lacks $want: $record"
  done
  record=$(version_record "$dir/KorvaneFilters.dll")
  for want in Version=1.0.0.1 CompanyName=Halvenor OriginalFilename=KorvaneFilters.dll "ProductName=Korvane Application"; do
    grep -qxF "$want" <<<"$record" || fail "KorvaneFilters.dll's version record lacks $want: $record"
  done
  local class server
  for class in "${filter_classes[@]}"; do
    server=$(reg_value "HKCR\\CLSID\\$class\\InprocServer32" "") || fail "class $class is not registered"
    [ "$server" = "$dir_dos\\KorvaneFilters.dll" ] || fail "class $class points at '$server'"
  done
  [ "$(reg_value "$check_bytes_key" "Source Filter")" = "${filter_classes[0]}" ] || fail "the check-bytes key names no source"
  [ "$(reg_value "$check_bytes_key" 0)" = "0,4,,5469566F" ] || fail "the check bytes are wrong"
  local value
  for value in "DisplayName=Korvane Converter" "Publisher=Halvenor" "DisplayVersion=1.0.0.1" \
               "DisplayIcon=$dir_dos\\KorvaneConverter.exe,0" "UninstallString=\"$dir_dos\\Uninstall.exe\"" \
               "InstallLocation=$dir_dos"; do
    [ "$(reg_value "$uninstall_key" "${value%%=*}")" = "${value#*=}" ] ||
      fail "uninstall entry ${value%%=*} is '$(reg_value "$uninstall_key" "${value%%=*}" || true)', expected '${value#*=}'"
  done
  local size
  size=$(( $(reg_value "$uninstall_key" EstimatedSize) ))
  (( size > 100 )) || fail "uninstall entry EstimatedSize is $size KB"
  [ -f "$(shortcut_unix)" ] || fail "no Start menu shortcut"
  local target
  target=$("$wine" "$PROBE" shortcut "$shortcut_dos" </dev/null 2>/dev/null | tr -d '\r')
  [ "$target" = "$dir_dos\\KorvaneConverter.exe" ] || fail "the shortcut points at '$target'"
  ok "installed in $dir_dos: files, version records, four classes and the check bytes, uninstall entry ($size KB), shortcut"
}
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
for pair in "long.mpg:Evening News" "$MATERIAL/two_audio.mpg:Nature Hour" "$MATERIAL/ac3.mpg:Road Trip"; do
  source_mpg=${pair%%:*}; [ "${source_mpg#/}" = "$source_mpg" ] && source_mpg=$WORK/$source_mpg
  output="$recordings/${pair#*:}.mpg"
  [ -s "$output" ] || fail "no output $output"
  [ "$(probe_counts "$output")" = "$(probe_counts "$source_mpg")" ] || fail "$output differs from its source in streams or packets"
done
rm -f "$WORK/long.mpg" "$recordings/Evening News.TiVo" "$recordings/Evening News.mpg"
ok "the installed program converted three recordings; ffprobe finds their streams and packets"
if [ -n "$copy" ]; then
  mkdir -p "$copy"
  for shot in main-window.png progress-window.png; do
    [ -s "$WORK/shots/$shot" ] && cp "$WORK/shots/$shot" "$copy/" && ok "screenshot $copy/$shot"
  done
fi

# Setup again over the install: an upgrade in place.
run_setup "$SETUP" /S && ran=0 || ran=$?
[ "$ran" = 0 ] || fail "the second setup ended with $ran"
check_installed "$dir"
ok "a second setup upgrades in place"

# Setup into another folder moves the install: the earlier folder is emptied and removed.
moved="$PREFIX/drive_c/Tools/Korvane Converter"
run_setup "$SETUP" /S '/D=C:\Tools\Korvane Converter' && ran=0 || ran=$?
[ "$ran" = 0 ] || fail "setup with /D= ended with $ran"
check_installed "$moved"
[ ! -e "$dir" ] || fail "the earlier install is still in $dir: $(ls "$dir")"
ok "setup with /D= installs there and takes the earlier install away"

# Silent uninstall: everything of ours goes, the stored keys and other settings stay.
run_uninstall "$moved" && ran=0 || ran=$?
[ "$ran" = 0 ] || fail "silent uninstall ended with $ran"
check_removed() {  # check_removed DIR_UNIX
  [ ! -e "$1" ] || fail "$1 is still there: $(ls "$1")"
  [ ! -e "$(shortcut_unix)" ] || fail "the Start menu shortcut is still there"
  reg_key_exists "$uninstall_key" && fail "the uninstall entry is still there"
  local class
  for class in "${filter_classes[@]}"; do
    reg_key_exists "HKCR\\CLSID\\$class" && fail "class $class is still registered"
  done
  reg_key_exists "$check_bytes_key" && fail "the check-bytes key is still there"
  local left
  left=$(ours_in_registry)
  [ -z "$left" ] || fail "registry values of ours are left: $left"
  left=$(ours_on_disk)
  [ -z "$left" ] || fail "files of ours are left: $left"
  [ "$(reg_value 'HKCU\Software\Halvenor\Korvane' mpegMuxer)" = '{1EE4C9C2-D755-11D5-9202-000021023C26}' ] ||
    fail "uninstall touched the program's settings"
  return 0
}
check_removed "$moved"
[ "$(reg_value "$keys_key" seeded-by-test)" = 00112233 ] || fail "uninstall did not keep the stored keys"
ok "silent uninstall removed files, shortcut, entry and registration, and kept the stored keys"

# Uninstall with the forget option removes the stored keys too.
run_setup "$SETUP" /S && ran=0 || ran=$?
[ "$ran" = 0 ] || fail "setup after uninstall ended with $ran"
check_installed "$dir"
run_uninstall "$dir" /FORGETKEYS && ran=0 || ran=$?
[ "$ran" = 0 ] || fail "uninstall /FORGETKEYS ended with $ran"
check_removed "$dir"
reg_key_exists "$keys_key" && fail "uninstall /FORGETKEYS kept the stored keys"
reg_key_exists 'HKCU\Software\Halvenor\Korvane Filters' && fail "uninstall /FORGETKEYS left the filter pack's empty key"
ok "uninstall /FORGETKEYS removed the stored keys as well"

# A second uninstall (its copy run again) finds nothing and harms nothing.
w reg add "$keys_key" /v seeded-by-test /t REG_BINARY /d 00112233 /f >/dev/null
before=$(registry_export)
run_uninstall "$dir" && ran=0 || ran=$?
[ "$ran" = 0 ] || fail "the second uninstall ended with $ran"
check_removed "$dir"
after=$(registry_export)
[ "$after" = "$before" ] || fail "the second uninstall changed the registry: $(diff <(echo "$before") <(echo "$after") | head)"
ok "a second uninstall is harmless"
