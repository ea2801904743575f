#!/usr/bin/env bash
# Builds both setup programs into dist/:
#   dist/KorvaneConverter-<version>-x64-setup.exe   (64-bit Windows)
#   dist/KorvaneConverter-<version>-x86-setup.exe   (32-bit Windows; also runs on 64-bit)
# <version> is project()'s, as the build tree writes it (version.txt).
# The win64 and win32 presets are configured and built first when needed (only the program
# and the filter pack), so this one command serves a fresh checkout.
#   scripts/make-installers.sh [OUT_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$root/dist}")
cd "$root"
bash scripts/setup.sh

build_preset() {  # build_preset PRESET: configures a tree that has none yet, then builds
  local preset=$1
  [ -f "build/$preset/CMakeCache.txt" ] || cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j2 --target KorvaneConverter KorvaneFilters korvane-tivodecode korvane-tdcat korvane_icon
}

package() {  # package PRESET ARCH TOOL_PREFIX
  local preset=$1 arch=$2 tools=$3
  local build=$root/build/$preset
  build_preset "$preset"
  local version
  version=$(<"$build/version.txt")
  local file=$out/KorvaneConverter-$version-$arch-setup.exe
  # The release carries no debugging information (a tenth of the size of the win64 build).
  local files=$build/setup-files
  rm -rf "$files"
  mkdir -p "$files"
  "$tools-strip" -o "$files/KorvaneConverter.exe" "$build/app/KorvaneConverter.exe"
  "$tools-strip" -o "$files/KorvaneFilters.dll" "$build/filters/KorvaneFilters.dll"
  local command
  for command in korvane-tivodecode korvane-tdcat; do
    "$tools-strip" -o "$files/$command.exe" "$build/tools/$command.exe"
  done
  cp "$build/res/converter.ico" "$files/"
  # Written under a temporary name first, so a failed run never leaves a half installer.
  makensis -V2 -DVERSION="$version" -DARCH="$arch" -DFILES_DIR="$files" -DOUT_FILE="$file.part" "$root/installer/KorvaneConverter.nsi"
  mv -f "$file.part" "$file"
  echo "built $file"
}

mkdir -p "$out"
package win64 x64 x86_64-w64-mingw32
package win32 x86 i686-w64-mingw32
