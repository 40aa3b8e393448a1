#!/usr/bin/env bash
# End-to-end checks of `ambrel info`, `identity`, `verify` and `apply` on real folders.
# Packages are made with `ambrel build` (the native program when this one has no builder).
# Usage: apply.sh AMBREL [RUNNER] [BUILDER]
set -u
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
ambrel=$(absolute "$1")
runner=${2:-}
builder=$(absolute "${3:-$1}")
source "$(dirname "$0")/../support/cli_checks.sh"
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
cd "$work"

run() { $runner "$ambrel" "$@" </dev/null; }

mkdir -p old/Maps new/Maps new/Extra
printf 'abc' >old/abc.txt
cp -p old/abc.txt new/abc.txt
head -c 100000 /dev/urandom >old/Maps/level.map
{ head -c 50000 old/Maps/level.map; printf 'NEW'; tail -c 40000 old/Maps/level.map; } >new/Maps/level.map
printf 'to be removed\n' >old/gone.txt
printf 'added\n' >new/Extra/added.txt
touch -d '2026-01-10 12:00:00' old/Maps/level.map old/gone.txt old/abc.txt new/abc.txt
touch -d '2026-03-01 09:30:00' new/Maps/level.map new/Extra/added.txt
"$builder" build old new -o plain.upg --title "Sample 1.1" --description "From 1.0 to 1.1" >/dev/null ||
  fail "building the plain package"
"$builder" build old new -o packed.upg --compress --title "Sample 1.1" --description "From 1.0 to 1.1" \
  >/dev/null || fail "building the compressed package"

# info: both forms read the same; JSON has the documented keys.
expect 0 "info plain" run info plain.upg
has "Form:           plain" "info plain"
has "Title:          Sample 1.1" "info plain"
has "Entries:        3" "info plain"
grep -v '^Form' out.txt >plain-info.txt
expect 0 "info compressed" run info packed.upg
has "Form:           compressed" "info compressed"
grep -v '^Form' out.txt | diff - plain-info.txt >/dev/null || fail "plain and compressed forms read differently"
has "Update  W1 E1 Maps.level.map" "entry line"
expect 0 "info --json" run info packed.upg --json
for key in '"valid": true' '"compressed": true' '"format_version": 17' '"entry_count": 3' \
           '"operation": "Remove"' '"old": null' '"progress_total"'; do
  has "$key" "info --json"
done
printf 'not a package' >bogus.upg
expect 2 "info of a non-package" run info bogus.upg
has "Upgrade is invalid!" "info of a non-package"
expect 2 "info without a package" run info
has "Usage: ambrel info" "usage line"

# identity: "abc" is 3 bytes with check value 0x6202; a missing file is an error.
expect 0 "identity" run identity old/abc.txt
grep -Eq '^3 0x6202 0x[0-9a-f]{8} old.abc.txt' out.txt || { fail "identity line"; cat out.txt; }
expect 1 "identity of a missing file" run identity old/abc.txt old/missing.txt
has "0x6202" "identity goes on after a missing file"

# verify: a matching folder has no findings; a changed file is reported; nothing is written.
cp -rp old target
expect 0 "verify a matching folder" run verify packed.upg target
has "installation match: yes" "verify"
printf 'changed' >target/gone.txt
expect 1 "verify a changed folder" run verify packed.upg target
has "Remove gone.txt 3 \*\* Warning: This file will be removed" "verify finding"
cp -p old/gone.txt target/gone.txt
[ ! -e target/__QXUPD_ ] || fail "verify wrote a temporary folder"

# apply: No (by flag, and with no terminal to ask on) changes nothing; Yes applies.
expect 1 "apply --no" run apply packed.upg target --no
has "The upgrade process was aborted. No changes have been made to any of your files." "apply --no"
expect 1 "apply without a terminal" run apply packed.upg target
has "no terminal to ask on" "apply without a terminal"
diff -r target old >/dev/null || fail "a refused apply changed the folder"
expect 0 "apply --yes" run apply packed.upg target --yes
has "The upgrade has been applied." "apply --yes"
diff -r target new >/dev/null || fail "the applied folder differs from the new version"
[ ! -e target/__QXUPD_ ] || fail "the temporary folder was left behind"

# apply without DIR searches the given roots breadth-first for the installed copy.
mkdir -p roots/a/deeper roots/b
cp -rp old roots/a/deeper/install
expect 0 "apply with --search" run apply plain.upg --search roots --yes
has "Target:      roots.a.deeper.install" "search result"
diff -r roots/a/deeper/install new >/dev/null || fail "the found copy was not upgraded"
expect 1 "apply with nothing to find" run apply plain.upg --search roots/b --yes
has "No installed copy" "empty search"

# A folder that fails the match test is named as such; the upgrade asks before each finding.
mkdir -p other
expect 1 "apply to a foreign folder" run apply plain.upg other --no
has "Invalid target folder!" "foreign folder"

# Usage errors exit 2.
expect 2 "unknown option" run apply plain.upg target --bogus
has "Usage: ambrel apply" "usage line"
expect 2 "--yes with --no" run apply plain.upg target --yes --no
expect 2 "apply of a non-package" run apply bogus.upg target --yes
has "Upgrade is invalid!" "apply of a non-package"

[ "$failures" -eq 0 ] && echo "apply.sh: all checks passed"
exit "$failures"
