#!/usr/bin/env bash
# The 64-bit setup program and its uninstaller as a user clicks through them, in a fresh
# Wine prefix: the folder page refusing a folder outside Program Files, the Media Access Key
# page refusing a short key and then left empty, the finish page starting the program through
# Explorer (so that it runs unelevated, as the user); then the uninstaller from its folder,
# whose page offers "Also forget my Media Access Keys", unticked, and removes the stored keys
# when it is ticked.
#   pages.sh SETUP.exe PROBE.exe WORK_DIR [SHOTS_COPY_DIR]
# Needs DISPLAY. Leaves setup's key page as WORK_DIR/setup-key-page.png (and copies it to
# SHOTS_COPY_DIR or KORVANE_SCREENSHOTS when given).
set -euo pipefail
SETUP=$1 PROBE=$2 WORK=$3
copy=${4:-${KORVANE_SCREENSHOTS:-}}
PREFIX=$WORK/prefix
source "$(dirname "$0")/support.sh"
[ -n "${DISPLAY:-}" ] || fail "no DISPLAY (start one with scripts/wine-session.sh)"
[ -f "$SETUP" ] || fail "no setup program at $SETUP (build it with scripts/make-installers.sh)"

rm -rf "$WORK"
mkdir -p "$WORK"
prefix_start
trap prefix_stop EXIT
seed_user_data
dir=$(install_dir_unix)
setup_title="Korvane Converter Setup"
uninstall_title="Korvane Converter Uninstall"
next="&Next >"

downloads=$PREFIX/drive_c/users/Public/Downloads
mkdir -p "$downloads"
cp -f "$SETUP" "$downloads/setup.exe"
# Through cmd, as run_setup does, so that Wine's process trace shows setup being started.
WINEDEBUG=-all,+pid,+process "$wine" cmd /c 'C:\users\Public\Downloads\setup.exe' </dev/null >/dev/null \
  2>"$(processes_log)" &
setup_pid=$!
trap 'kill "$setup_pid" 2>/dev/null || true; prefix_stop' EXIT

p shows "$setup_title" "$next" 30 || fail "setup showed no folder page"
p shows "$setup_title" "$program_files" 5 || fail "the folder page does not offer $program_files"
p type "$setup_title" 'C:\Tools\Korvane Converter'
p click "$setup_title" "$next"
outside="Choose a folder inside C:\Program Files or C:\Program Files (x86): every program that converts or plays a TiVo recording may load the filters of Korvane Converter from its folder, and only there does Windows keep other users of this computer from replacing them."
p shows "$setup_title" "$outside" 15 || fail "a folder outside Program Files was not refused"
p click "$setup_title" OK
p shows "$setup_title" 'C:\Tools\Korvane Converter' 15 || fail "the refusal did not go back to the folder page"
p type "$setup_title" "$program_files"
p click "$setup_title" "$next"
p shows "$setup_title" "&Media Access Key:" 15 || fail "no Media Access Key page after the folder page"
ok "folder page offers $program_files and refuses C:\Tools; the key page follows"

# The key page is the last before installing, so its button is Install.
p type "$setup_title" 12345
p click "$setup_title" "&Install"
short="A Media Access Key has exactly 10 digits. Check the number your TiVo shows, or leave the field empty."
p shows "$setup_title" "$short" 15 || fail "a 5-digit key was not refused"
p click "$setup_title" OK
p shows "$setup_title" "&Media Access Key:" 15 || fail "the refusal did not go back to the key page"
ok "a 5-digit key is refused on the key page"

p type "$setup_title" ""
sleep 0.5
rect=$(xdotool search --name "^$setup_title\$" getwindowgeometry --shell 2>/dev/null | tr '\n' ' ' || true)
if [[ $rect =~ X=([0-9]+).*Y=([0-9]+).*WIDTH=([0-9]+).*HEIGHT=([0-9]+) ]]; then
  import -window root -crop "${BASH_REMATCH[3]}x${BASH_REMATCH[4]}+${BASH_REMATCH[1]}+${BASH_REMATCH[2]}" +repage "$WORK/setup-key-page.png"
  if [ -n "$copy" ]; then cp "$WORK/setup-key-page.png" "$copy/"; ok "screenshot $copy/setup-key-page.png"; fi
fi
p click "$setup_title" "&Install"
p shows "$setup_title" "&Finish" 60 || fail "setup did not reach its finish page"
[ "$(p checked "$setup_title" "Start Korvane Converter")" = 0 ] || fail "the finish page starts the program unasked"
p click "$setup_title" "Start Korvane Converter"
sleep 0.3
[ "$(p checked "$setup_title" "Start Korvane Converter")" = 1 ] || fail "'Start Korvane Converter' did not tick"
p click "$setup_title" "&Finish"
for _ in $(seq 1 100); do kill -0 "$setup_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$setup_pid" 2>/dev/null && fail "Finish did not end setup"
wait "$setup_pid" || fail "setup ended with an error"
check_installed "$dir"
[ "$(reg_value "$keys_key" seeded-by-test)" = 00112233 ] || fail "setup touched the stored keys"
ok "installed through the pages with the key left empty"

# Setup runs elevated; the program it starts must not: setup hands it to Explorer.
p wait "Korvane Converter" 30 || fail "the finish page did not start the program"
started=$(started_by_setup setup.exe) || fail "Wine's trace does not show setup starting"
direct=$(awk -F'\t' 'tolower($1) ~ /\\setup\.exe$/ && tolower($2) ~ /\\korvaneconverter\.exe$/' <<<"$started")
[ -z "$direct" ] || fail "setup started the program itself, elevated: $direct"
shell=$(awk -F'\t' 'tolower($2) ~ /\\explorer\.exe$/ && $3 ~ /Korvane Converter\\KorvaneConverter\.exe/' <<<"$started")
[ -n "$shell" ] || fail "setup did not hand the program to Explorer: $started"
p command "Korvane Converter" 0x0112 0xF060
program_running() { local list; list=$(w tasklist); grep -qi KorvaneConverter.exe <<<"$list"; }
for _ in $(seq 1 300); do program_running || break; sleep 0.1; done
program_running && fail "the program started from the finish page did not close"
ok "the finish page started the program through Explorer"

# The uninstaller as Apps & features starts it: its UninstallString, which hands over to a
# copy of itself in the temporary folder and returns at once.
uninstall_string=$(reg_value "$uninstall_key" UninstallString)
"$wine" "${uninstall_string//\"/}" </dev/null >/dev/null 2>&1 || fail "the uninstall string did not run"
forget="Also forget my Media Access Keys"
p shows "$uninstall_title" "$forget" 30 || fail "the uninstaller shows no '$forget' box"
[ "$(p checked "$uninstall_title" "$forget")" = 0 ] || fail "'$forget' is ticked from the start"
p click "$uninstall_title" "$forget"
sleep 0.3
[ "$(p checked "$uninstall_title" "$forget")" = 1 ] || fail "'$forget' did not tick"
p click "$uninstall_title" "&Uninstall|$next"
p shows "$uninstall_title" "&Close" 60 || fail "the uninstaller did not finish"
p click "$uninstall_title" "&Close"
for _ in $(seq 1 100); do p shows "$uninstall_title" "&Close" 0 || break; sleep 0.1; done
check_removed "$dir"
reg_key_exists "$keys_key" && fail "the ticked box did not forget the stored keys"
ok "the uninstaller's page forgot the stored keys when ticked"
