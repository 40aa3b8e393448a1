#!/usr/bin/env bash
# Checks the Windows release zip CPack makes of an i686 build: the three programs, each a
# stripped 32-bit PE program of the right subsystem with a version resource of the
# project's version, and the publishers' README.txt with CR LF line ends.
# Usage: win_zip.sh BUILD_DIR OBJDUMP VERSION
set -u
build=$1
objdump=$2
version=$3
source "$(dirname "$0")/../support/cli_checks.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

expect 0 "cpack -G ZIP" cpack -G ZIP -B "$work/out" --config "$build/CPackConfig.cmake"
zip=$work/out/ambrel-$version-win32.zip
[ -f "$zip" ] || { fail "no $(basename "$zip"): $(ls "$work/out")"; exit 1; }
expect 0 "unzip -Z1" unzip -Z1 "$zip"
[ "$(sort out.txt | tr '\n' ' ')" = "README.txt ambrel.exe ambrel32.exe brackpatch.exe " ] ||
  fail "the zip holds: $(tr '\n' ' ' <out.txt)"
mkdir files && (cd files && unzip -q "$zip") || fail "unzip"

# check_program NAME SUBSYSTEM CODE: PE32 for i386, the subsystem (GUI or console, CODE as
# objdump names it), no debugging sections, and a version resource of the project's version.
check_program() {
  local exe=files/$1 subsystem=$2 code=$3
  file "$exe" | grep -q "PE32 executable ($subsystem) Intel 80386" || fail "$1: $(file "$exe")"
  "$objdump" -h "$exe" >sections.txt || fail "$1: objdump -h"
  grep -q "\.debug_" sections.txt && fail "$1 is not stripped"
  "$objdump" -p "$exe" >headers.txt || fail "$1: objdump -p"
  grep -q "^Subsystem.*(Windows $code)" headers.txt || fail "$1: subsystem is not $subsystem"
  grep -q "^0[0-9a-f]*   Entry: ID: 0x0*10," headers.txt || fail "$1: no version resource (RT_VERSION)"
  strings -el -n 3 "$exe" >texts.txt
  for key in FileVersion ProductVersion; do
    grep -A1 -x "$key" texts.txt | grep -qx "$version" || fail "$1: $key is not $version"
  done
  grep -A1 -x OriginalFilename texts.txt | grep -qx "$1" || fail "$1: OriginalFilename"
  grep -qx FileDescription texts.txt || fail "$1: no FileDescription"
}
check_program ambrel32.exe GUI GUI
check_program brackpatch.exe GUI GUI
check_program ambrel.exe console CUI

lines=$(wc -l <files/README.txt)
[ "$lines" -gt 5 ] || fail "README.txt is too short"
[ "$(grep -c $'\r$' files/README.txt)" -eq "$lines" ] || fail "README.txt has lines without CR LF"
grep -q "ambrel32.upg" files/README.txt || fail "README.txt does not say how to pair the package"

[ "$failures" -eq 0 ] && echo "windows zip: all checks passed"
exit $((failures > 0))
