#!/usr/bin/env bash
# Installs everything the build and the tests need, from Debian's packages only.
# Safe to run any number of times; does nothing when all packages are present.
set -euo pipefail

packages=(
  cmake ninja-build make pkg-config
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools binutils-mingw-w64
  wine wine64 wine32:i386 fonts-wine
  xvfb xauth x11-utils xdotool
  googletest
  ffmpeg
  # Wine's own parser and decoders, for tests that play recordings through our source.
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-plugins-ugly gstreamer1.0-libav
  imagemagick icoutils
  clang libclang-rt-14-dev
  libssl-dev
  nsis p7zip-full file
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
# The 32-bit build runs under Debian's 32-bit Wine, which needs the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
