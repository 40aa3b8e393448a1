#!/usr/bin/env bash
# End-to-end checks of names and texts in the ANSI code page: a UTF-8 tree with accented
# names (as Linux and Wine keep them) is built into a Western (1252) package, whose names
# and texts are 1252 bytes, shown in UTF-8 by `info`, and applied back; a Cyrillic (1251)
# round trip; and the refusals of a name outside the code page and of bytes the code page
# does not define. Under Wine the Windows program applies the package the native builder
# made, and takes no code page but the system's.
# Usage: codepage.sh AMBREL [RUNNER] [BUILDER]
set -u
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
ambrel=$(absolute "$1")
runner=${2:-}
builder=$(absolute "${3:-$1}")
source "$(dirname "$0")/../support/cli_checks.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

run() { $runner "$ambrel" "$@" </dev/null; }
# Byte strings that must (or must not) stand in a file.
holds() { LC_ALL=C grep -q -F -- "$1" "$2"; }

mkdir -p "old/Música" "old/Mapas/Señales" "new/Música" "new/Mapas/Señales"
printf 'old theme' >"old/Música/tema.txt"
printf 'new theme, longer' >"new/Música/tema.txt"
printf 'north' >"old/Mapas/Señales/norte.map" && cp -p "old/Mapas/Señales/norte.map" "new/Mapas/Señales/norte.map"
printf 'gone' >"old/Mapas/Señales/viejo.map"
printf 'a new song' >"new/Música/Canción nueva.ogg"
printf 'isle' >"old/Ærø.cfg" && printf 'isle 2' >"new/Ærø.cfg"
touch -d '2026-01-10 12:00:00' old/*.cfg old/*/*.txt old/*/*/*.map new/Mapas/Señales/norte.map
touch -d '2026-03-01 09:30:00' new/*.cfg new/*/*.txt new/*/*.ogg
"$builder" build old new -o west.upg --title "Música 1.1" --description "Canción de cuna" >/dev/null ||
  fail "building the Western package"

# The package holds the names and texts in 1252, not in UTF-8.
holds $'M\xfasica\\tema.txt' west.upg || fail "the name is not in 1252 bytes"
holds $'Canci\xf3n de cuna' west.upg || fail "the description is not in 1252 bytes"
! holds $'M\xc3\xbasica' west.upg || fail "UTF-8 bytes in the package"

expect 0 "info of the Western package" run info west.upg
if [ -z "$runner" ]; then
  has "Title:          Música 1.1" "info prints the title in UTF-8"
  has "Música.tema.txt" "info prints the names in UTF-8"
  expect 0 "info --json" run info west.upg --json
  has '"title": "Música 1.1"' "info --json gives UTF-8"
else
  holds $'M\xfasica 1.1' out.txt || fail "the Windows program prints ANSI text"
fi

# Applied back to the UTF-8 tree, by this program (under Wine: the Windows one).
cp -rp old target
expect 0 "apply the Western package" run apply west.upg target --yes
diff -r target new >/dev/null || { fail "the applied tree differs from the new tree"; diff -r target new; }

if [ -z "$runner" ]; then
  # Cyrillic: 1251 round trip; "Карта" (map) and "Дом" (house).
  mkdir -p "cold/Карта" "cnew/Карта"
  printf 'old' >"cold/Карта/Дом.txt" && printf 'new house' >"cnew/Карта/Дом.txt"
  printf 'added' >"cnew/Карта/Новый.dat"
  touch -d '2026-01-10 12:00:00' cold/*/*; touch -d '2026-03-01 09:30:00' cnew/*/*
  expect 0 "build for 1251" "$builder" build cold cnew -o cyr.upg --codepage 1251 --title "Карта"
  holds $'\xca\xe0\xf0\xf2\xe0\\\xc4\xee\xec.txt' cyr.upg || fail "the name is not in 1251 bytes"
  expect 0 "info of the 1251 package" run info cyr.upg --codepage 1251
  has "Title:          Карта" "info --codepage 1251"
  cp -rp cold ctarget
  expect 0 "apply the 1251 package" run apply cyr.upg ctarget --yes --codepage 1251
  diff -r ctarget cnew >/dev/null || fail "the 1251 round trip differs"
  expect 2 "an unknown code page" run info cyr.upg --codepage 99999
  has "99999" "an unknown code page is named"

  # "Ѓ" is 0x81 in 1251, a byte 1252 does not define: read as 1252 the package is invalid.
  mkdir -p undef-old undef-new && printf 'x' >"undef-new/Ѓ.txt"
  "$builder" build undef-old undef-new -o undefined.upg --codepage 1251 --no-check >/dev/null ||
    fail "building the 1251 package with 0x81"
  cp -rp undef-old utarget
  expect 2 "apply a package whose names are no 1252 text" run apply undefined.upg utarget --yes
  has "Upgrade is invalid!" "the package is refused"
  has "no text of code page 1252" "the refusal says why"
else
  # The Windows program reads names in the system's code page only.
  expect 2 "--codepage other than the system's" run info west.upg --codepage 1251
  has "1252" "the refusal names the system's code page"
  expect 0 "--codepage of the system" run info west.upg --codepage 1252
fi

# A name the code page cannot hold is refused by the builder, naming it; nothing is written.
mkdir -p wide-old wide-new && printf 'x' >"wide-new/用.txt" && printf 'y' >wide-new/fine.txt
expect 1 "build a name outside the code page" run build wide-old wide-new -o wide.upg
[ ! -e wide.upg ] || fail "a package was written"
has "wide-new" "the refusal names the folder"
if [ -z "$runner" ]; then
  has '\u{7528}.txt' "the refusal shows the name"
  has "code page 1252" "the refusal names the code page"
fi

[ "$failures" -eq 0 ] && echo "all checks passed"
exit $((failures > 0))
