#!/usr/bin/env bash
# Both setup programs as files: the 64-bit one a PE32+ for x86-64 (which 32-bit Windows
# refuses to start), the 32-bit one a PE32 for i386 (run by installer_stored_key_x86), each
# holding the program and the filter pack of its own bitness, with version records, the
# registration exports and the one setup calls to store a key.
#   packages.sh SETUP_X64.exe SETUP_X86.exe WORK_DIR
# (Tool output is read whole before it is searched: grep -q ending a pipe early would
# fail the pipe under pipefail.)
set -euo pipefail
x64=$1 x86=$2 work=$3
fail() { echo "FAIL: $*" >&2; exit 1; }

check_package() {  # check_package SETUP WANT_SETUP_TYPE WANT_BINARY_TYPE OBJDUMP_FORMAT
  local setup=$1 setup_type=$2 binary_type=$3 format=$4 name
  name=$(basename "$setup")
  [ -f "$setup" ] || fail "no $setup (build it with scripts/make-installers.sh)"
  local kind
  kind=$(file -b "$setup")
  [[ $kind == "$setup_type"* ]] || fail "$name is not $setup_type: $kind"
  local listing
  listing=$(7z l -ba "$setup") || fail "7z cannot read $name"
  local out=$work/$(basename "$setup" .exe)
  rm -rf "$out"
  mkdir -p "$out"
  7z x -y -o"$out" "$setup" >/dev/null || fail "7z cannot unpack $name"
  local inner
  for inner in KorvaneConverter.exe KorvaneFilters.dll; do
    local found headers resources
    found=$(find "$out" -name "$inner" -type f)
    [ -n "$found" ] || fail "$name does not hold $inner: $listing"
    kind=$(file -b "$found")
    [[ $kind == "$binary_type"* ]] || fail "$inner in $name is $kind"
    headers=$(objdump -p "$found")
    grep -q "file format $format" <<<"$headers" || fail "$inner in $name is not $format"
    # A version record is resource type 16.
    resources=$(wrestool -l "$found")
    grep -q -- '--type=16' <<<"$resources" || fail "$inner in $name has no version record"
  done
  headers=$(objdump -p "$(find "$out" -name KorvaneFilters.dll -type f)")
  # Setup finds StoreMediaAccessKeyW by this name in both packages: an i686 export must not
  # come out decorated.
  for export in DllRegisterServer DllUnregisterServer DllGetClassObject DllCanUnloadNow StoreMediaAccessKeyW; do
    grep -qw "$export" <<<"$headers" || fail "KorvaneFilters.dll in $name does not export $export"
  done
  # The test hooks live in the test build of the DLL only.
  for export in KorvaneFiltersLiveObjects KorvaneFiltersSetSourcePacing; do
    ! grep -qw "$export" <<<"$headers" || fail "KorvaneFilters.dll in $name exports the test hook $export"
  done
  echo "ok: $name: $setup_type, holds KorvaneConverter.exe and KorvaneFilters.dll ($binary_type, version records, registration exports)"
}

check_package "$x64" "PE32+ executable (GUI) x86-64" "PE32+ executable" pei-x86-64
check_package "$x86" "PE32 executable (GUI) Intel 80386" "PE32 executable" pei-i386
