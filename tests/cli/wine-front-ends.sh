#!/usr/bin/env bash
# The Windows builds of korvane-tivodecode and korvane-tdcat under Wine, as a front end on
# Windows runs them: a file in and a file out, then standard input in and standard output
# out through pipes. Both must give the known-answer recordings' clear originals byte for
# byte (no line-end translation on the way).
#   wine-front-ends.sh TIVODECODE.exe TDCAT.exe VECTORS_DIR     (ctest sets WINEPREFIX)
set -euo pipefail
decode=$1 tdcat=$2 vectors=$3
wine=/usr/lib/wine/wine64
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
winpath() { echo "Z:${1//\//\\}"; }
fail() { echo "FAIL: $*" >&2; exit 1; }

"$wine" "$decode" -m 0123456789 -o "$(winpath "$scratch/file.ts")" "$(winpath "$vectors/ts-mpeg2-ac3.TiVo")" ||
  fail "file in, file out: exit status $?"
cmp "$scratch/file.ts" "$vectors/ts-mpeg2-ac3.ts" || fail "file in, file out: not the clear original"

"$wine" "$decode" --mak 0123456789 - <"$vectors/ps-mpeg2-ac3.TiVo" | cat >"$scratch/piped.mpg"
cmp "$scratch/piped.mpg" "$vectors/ps-mpeg2-ac3.mpg" || fail "standard input to standard output: not the clear original"

if "$wine" "$decode" -m 9876543210 - <"$vectors/ps-mpeg2-ac3.TiVo" >"$scratch/wrong.mpg" 2>"$scratch/wrong.txt"; then
  fail "a wrong key ended with status 0"
fi
grep -q "Invalid MAK" "$scratch/wrong.txt" || fail "a wrong key: no \"Invalid MAK\" on standard error"
[ ! -s "$scratch/wrong.mpg" ] || fail "a wrong key: something was written to standard output"

"$wine" "$tdcat" -m 0123456789 "$(winpath "$vectors/ts-h264-ac3.TiVo")" >"$scratch/chunk.xml"
head -c 5 "$scratch/chunk.xml" | grep -q "<?xml" || fail "tdcat: the metadata chunk does not start as XML"
echo "PASS"
