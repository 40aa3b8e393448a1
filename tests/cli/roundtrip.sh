#!/usr/bin/env bash
# A whole update the way a Windows user makes one: `ambrel build --compress` from two
# folder trees (scattered changes in a file of over 1 MB, an edited text, files added in
# a subfolder and removed), then `ambrel apply --yes` on a copy of the old tree, which must
# then equal the new tree byte for byte. Given a native builder too (the Windows runs),
# it must apply that package, and its packages from the same trees must be the same files
# in the plain form and at zlib's level 9 (both suffix sorters give the same suffix
# arrays; the default level may come from libdeflate natively, from zlib on Windows).
# Usage: roundtrip.sh AMBREL [RUNNER] [NATIVE]
set -u
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
ambrel=$(absolute "$1")
runner=${2:-}
native=${3:+$(absolute "$3")}
source "$(dirname "$0")/../support/cli_checks.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"  # relative paths: the Windows program would take a leading "/" for an option

run() { $runner "$ambrel" "$@" </dev/null; }

mkdir -p old/Data old/Docs new/Data new/Docs/Extra
head -c 1500000 /dev/urandom >old/Data/world.pak
cp old/Data/world.pak new/Data/world.pak
for i in $(seq 1 40); do  # two bytes changed every 37,000 bytes or so
  printf '\x5a\xa5' | dd of=new/Data/world.pak bs=1 seek=$((i * 37000 + i * i)) conv=notrunc status=none
done
head -c 300000 /dev/urandom >old/Data/sounds.bank
{ head -c 120000 old/Data/sounds.bank; head -c 5000 /dev/urandom; tail -c 150000 old/Data/sounds.bank; } \
  >new/Data/sounds.bank
printf 'Version 1.0\nKnown problems: none\n' >old/Docs/readme.txt
printf 'Version 1.1\nKnown problems: none\nNew: a map\n' >new/Docs/readme.txt
printf 'same in both\n' >old/same.txt
cp old/same.txt new/same.txt
printf 'old log\n' >old/Docs/changes.log
head -c 20000 /dev/urandom >new/Docs/Extra/map.dat
printf 'added text\n' >new/Docs/Extra/notes.txt
touch -d '2026-01-10 12:00:00' old/Data/* old/Docs/* old/same.txt new/same.txt
touch -d '2026-03-01 09:30:00' new/Data/* new/Docs/readme.txt new/Docs/Extra/*

expect 0 "build --compress" run build old new -o made.upg --compress --title "Sample 1.1"
has "6 entries (2 added, 3 updated, 1 removed; 1 files unchanged)" "build summary"
size=$(wc -c <made.upg)
[ "$size" -lt 60000 ] || fail "package of $size bytes: the unchanged parts should be copied, not carried"

cp -rp old target
expect 0 "apply --yes" run apply made.upg target --yes
diff -r target new >diff.txt || { fail "the applied tree differs from the new tree"; cat diff.txt; }

if [ -n "$native" ] && [ "$native" != "$ambrel" ]; then
  for form in "" "--compress=9"; do
    expect 0 "build $form" run build old new -o ours.upg $form --title "Sample 1.1"
    expect 0 "native build $form" "$native" build old new -o native.upg $form --title "Sample 1.1"
    cmp ours.upg native.upg || fail "the package ($form) differs from the native builder's"
  done
  cp -rp old native-target
  expect 0 "native apply" "$native" apply made.upg native-target --yes
  diff -r native-target new >diff.txt || { fail "the native apply gave another tree"; cat diff.txt; }
else
  echo "roundtrip.sh: no other builder to compare with"
fi

[ "$failures" -eq 0 ] && echo "roundtrip.sh: all checks passed"
exit "$failures"
