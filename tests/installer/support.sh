# Sourced by the installer tests: a fresh Wine prefix of the test's own, the installer run
# in it, and readers for what it left (files, registry, shortcut, version records).
# Needs DISPLAY (scripts/wine-session.sh gives one) and the variables the caller sets:
#   PREFIX (Unix path of the prefix), PROBE (gui_probe.exe, which reads and pokes windows and
#   reads version records and shortcuts), WORK (the test's folder), ARCH (x64 unless x86).
# The prefix is made by wine64, so it is a WoW64 one, as 64-bit Windows is: the x86 package's
# setup, program, cmd and reg run under 32-bit Wine there and see the 32-bit registry view.
wine64=/usr/lib/wine/wine64
case ${ARCH:=x64} in
  x64) wine=$wine64 program_files_unix="Program Files" ;;
  x86) wine=/usr/lib/wine/wine program_files_unix="Program Files (x86)" ;;
  *) echo "FAIL: ARCH must be x64 or x86, not $ARCH" >&2; exit 1 ;;
esac
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
: "${KORVANE_VERSION:?the version of the packages (ctest sets it)}"
source "$repo/scripts/wine-env.sh"
source "$repo/tests/journey-support.sh"

fail() { echo "FAIL: $*" >&2; [ -n "${DISPLAY:-}" ] && import -window root "${WORK:-/tmp}/failure.png" 2>/dev/null; exit 1; }
ok() { echo "ok: $*"; }
# Under set -e a failing command would end the test without a word: name it.
set -E
trap 'echo "FAIL: line $LINENO of ${BASH_SOURCE[0]##*/}: $BASH_COMMAND" >&2' ERR
w() { "$wine" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
p() { w "$PROBE" "$@"; }

program_files="C:\\$program_files_unix\\Korvane Converter"
install_dir_unix() { echo "$PREFIX/drive_c/$program_files_unix/Korvane Converter"; }
shortcut_dos='C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Korvane Converter.lnk'
shortcut_unix() { echo "$PREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Korvane Converter.lnk"; }
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KorvaneConverter'
keys_key='HKCU\Software\Halvenor\Korvane Filters\Media Access Keys'
# The four class ids of the filter pack, as win32/ClassIds.h writes them (the source first),
# and its check-bytes source key.
class_id() { sed -n "s/.*$1\[\] = \"\(.*\)\";/\1/p" "$repo/win32/include/win32/ClassIds.h"; }
filter_classes=("$(class_id kTivoSourceText)" "$(class_id kDemultiplexerText)" "$(class_id kMultiplexerText)"
                "$(class_id kFileDumpText)")
check_bytes_key='HKCR\Media Type\{e436eb83-524f-11ce-9f53-0020af0ba770}\{7AFCCE7B-3DED-45CB-812D-A51EEBB64D40}'

# The user's own data under our publisher's key, which uninstall keeps: a key stored earlier
# (by an older install, or the other package) and the program's settings.
seed_user_data() {
  w reg add "$keys_key" /v seeded-by-test /t REG_BINARY /d 00112233 /f >/dev/null
  w reg add 'HKCU\Software\Halvenor\Korvane' /v mpegMuxer /d '{1EE4C9C2-D755-11D5-9202-000021023C26}' /f >/dev/null
}

_explorer_pid=""
# A new prefix every run: the test is about what a first install does to a clean system.
# winemenubuilder is off so that Start menu entries stay inside the prefix instead of
# landing in the build machine's own desktop menus.
prefix_start() {
  korvane_wine_env "$PREFIX" "winemenubuilder.exe=d"
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$PREFIX"
  mkdir -p "$PREFIX"
  setsid wineserver -p </dev/null >/dev/null 2>&1 &
  sleep 0.5
  "$wine64" cmd /c exit </dev/null >/dev/null 2>&1 || true
  # Fonts and window captions as for every test prefix; its overrides leave ours alone,
  # the prefix already exists.
  bash "$repo/scripts/wine-prefix.sh" "$PREFIX"
  setsid "$wine64" explorer.exe /desktop </dev/null >/dev/null 2>&1 &
  _explorer_pid=$!
  sleep 1
}

prefix_stop() {
  wineserver -k >/dev/null 2>&1 || true
  [ -z "$_explorer_pid" ] || kill "$_explorer_pid" 2>/dev/null || true
}

# reg_value KEY NAME: prints the value's data; fails when the key or value is missing.
# NAME "" reads the key's default value.
reg_value() {
  local key=$1 name=$2 out
  if [ -z "$name" ]; then out=$(w reg query "$key" /ve) || return 1
  else out=$(w reg query "$key" /v "$name") || return 1; fi
  echo "$out" | awk -F'    ' 'NF >= 4 && $3 ~ /^REG_/ { print $4; found=1 } END { exit !found }'
}
reg_key_exists() { w reg query "$1" >/dev/null; }

# version_record FILE: the probe's "Name=value" lines for a Unix path.
version_record() { p version "$(winpath "$1")"; }

# NSIS reads /D= and _?= only unquoted and last, while Wine quotes every argument that has
# a space: so setup and uninstall run through cmd /c, which hands its line over as typed,
# from folders without spaces.
# run_setup SETUP_UNIX ARGS...: setup as if downloaded into the Public Downloads folder; the
# installer's exit code is the function's. A setup that waits on something (a message box in
# a silent install) is given up after two minutes, with exit code 124; a silent install
# takes seconds. Wine's trace of the processes it starts goes to processes_log.
run_setup() {
  local setup=$1; shift
  local downloads=$PREFIX/drive_c/users/Public/Downloads name
  name=$(basename "$setup")
  mkdir -p "$downloads"
  cp -f "$setup" "$downloads/$name"
  WINEDEBUG=-all,+pid,+process timeout 120 "$wine" cmd /c "C:\\users\\Public\\Downloads\\$name $*" \
    </dev/null >/dev/null 2>"$(processes_log)"
}

# Wine's trace of every process created: "pid:tid:trace:process:NtCreateUserProcess" once with
# the image and command line, once with the new pid, both from the creating thread.
processes_log() { echo "$WORK/processes.log"; }
# started_by_setup SETUP_NAME: every process that setup (the traced process whose image is
# SETUP_NAME) started or tried to start, and those they started in turn, as
# "PARENT<TAB>IMAGE<TAB>COMMAND LINE" with images as full Windows paths. Fails when the trace
# does not show setup starting at all.
started_by_setup() {
  awk -v setup="$(tr 'A-Z' 'a-z' <<<"$1")" '
    { thread = $0; sub(/:trace:.*/, "", thread); parent = thread; sub(/:.*/, "", parent) }
    / image L".*" cmdline L".*" parent / {
      image = $0; sub(/.* image L"/, "", image); sub(/" cmdline L".*/, "", image)
      line = $0; sub(/.*" cmdline L"/, "", line); sub(/" parent [^ ]*$/, "", line)
      if (parent in inside) print image_of[parent] "\t" image "\t" line
      pending_image[thread] = image
      next
    }
    / pid [0-9a-f]+ tid / && (thread in pending_image) {
      child = $0; sub(/.* pid /, "", child); sub(/ .*/, "", child)
      image_of[child] = pending_image[thread]
      name = tolower(pending_image[thread]); sub(/.*\\/, "", name)
      if (name == setup) { inside[child] = 1; seen = 1 }
      else if (parent in inside) inside[child] = 1
      delete pending_image[thread]
    }
    END { exit !seen }' "$(processes_log)" | sed 's/\\\\/\\/g'
}

# run_uninstall DIR_UNIX ARGS...: as NSIS does itself, the uninstaller runs from a copy
# outside the folder it removes (so it can delete its own file) and is waited for.
uninstaller_copy() { echo "$PREFIX/drive_c/windows/temp/korvane-uninstall.exe"; }
run_uninstall() {
  local dir=$1; shift
  local dir_dos
  dir_dos=$(w winepath -w "$dir")
  [ ! -f "$dir/Uninstall.exe" ] || cp -f "$dir/Uninstall.exe" "$(uninstaller_copy)"
  "$wine" cmd /c "C:\\windows\\temp\\korvane-uninstall.exe /S $* _?=$dir_dos" </dev/null >/dev/null 2>&1
}

# The whole registry of the prefix as text (regedit's export, as Windows' regedit makes it).
registry_export() {
  local file=$PREFIX/drive_c/windows/temp/korvane-registry.reg
  rm -f "$file"
  "$wine64" regedit /E 'C:\windows\temp\korvane-registry.reg' </dev/null >/dev/null 2>&1 || return 1
  iconv -f UTF-16 -t UTF-8 "$file" | tr -d '\r'
  rm -f "$file"
}

# Every registry line that names us, prefixed with its key, except under the user's own
# HKCU\Software\Halvenor (the program's settings and the stored keys, which stay).
ours_in_registry() {
  registry_export | awk -v classes="$(IFS='|'; echo "${filter_classes[*]}" | tr -d '{}' | tr 'A-Z' 'a-z')" '
    /^\[/ { key = $0 }
    { l = tolower($0) }
    l ~ "korvane|halvenor|7afcce7b|" classes {
      if (key !~ /^\[HKEY_USERS\\[^\\]*\\Software\\Halvenor[\\\]]/) print key " " $0
    }'
}

# Files of ours anywhere on drive C:, but for the copies of setup and uninstaller the
# tests made themselves.
ours_on_disk() {
  find "$PREFIX/drive_c" -iname '*korvane*' ! -path "$(uninstaller_copy)" ! -path '*/users/Public/Downloads/*'
}

# What a finished install leaves: files and their version records, the four classes and the
# check bytes pointing at the installed DLL, the uninstall entry, the Start menu shortcut.
check_installed() {  # check_installed DIR_UNIX
  local dir=$1 dir_dos name
  dir_dos=$(w winepath -w "$dir")
  for name in KorvaneConverter.exe KorvaneFilters.dll korvane-tivodecode.exe korvane-tdcat.exe Uninstall.exe; do
    [ -f "$dir/$name" ] || fail "$name is not in $dir"
  done
  local record
  record=$(version_record "$dir/KorvaneConverter.exe")
  for want in "Version=$KORVANE_VERSION" CompanyName=Halvenor OriginalFilename=KorvaneConverter.exe "ProductName=Korvane Application"; do
    grep -qxF "$want" <<<"$record" || fail "KorvaneConverter.exe's version record lacks $want: $record"
  done
  record=$(version_record "$dir/KorvaneFilters.dll")
  for want in "Version=$KORVANE_VERSION" CompanyName=Halvenor OriginalFilename=KorvaneFilters.dll "ProductName=Korvane Application"; do
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
  for value in "DisplayName=Korvane Converter" "Publisher=Halvenor" "DisplayVersion=$KORVANE_VERSION" \
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
  target=$(p shortcut "$shortcut_dos")
  [ "$target" = "$dir_dos\\KorvaneConverter.exe" ] || fail "the shortcut points at '$target'"
  ok "installed in $dir_dos: files, version records, four classes and the check bytes, uninstall entry ($size KB), shortcut"
}
# Nothing of ours left after uninstall, while the program's settings stay (the stored keys
# are the caller's to check: they stay or go by the user's choice).
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
