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
trap 'chattr -R -i "$work" 2>/dev/null; chmod -R u+w "$work"; rm -rf "$work"' EXIT
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
# Compared on standard output only: Wine may print its own complaints on standard error.
run info plain.upg 2>/dev/null | grep -v '^Form' >plain-info.txt
expect 0 "info compressed" run info packed.upg
has "Form:           compressed" "info compressed"
run info packed.upg 2>/dev/null | grep -v '^Form' | diff - plain-info.txt || fail "plain and compressed forms read differently"
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
# Applied again (as after a run interrupted in its commit phase), the files that already
# hold their new versions are not reported as keeping old ones.
expect 0 "apply --yes a second time" run apply packed.upg target --yes
has "already had their new versions" "second apply"
has "The upgrade has been applied." "second apply"
! grep -q "keep their old versions" out.txt || fail "new files reported as old"

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

# Texts from a package reach the terminal with control characters escaped.
"$builder" build old new -o esc.upg --title "$(printf 'Red\033[31m title')" >/dev/null ||
  fail "building a package with an escape in its title"
expect 0 "info of an escaped title" run info esc.upg
has 'Red\\x1B\[31m title' "escaped title"
! grep -q "$(printf '\033')" out.txt || fail "an escape character reached the terminal"

# A package the full open refuses is reported first: nothing is searched, shown or asked.
mkdir -p dev/old dev/new
printf 'a' >dev/old/ZZZ.txt && printf 'b' >dev/new/ZZZ.txt
"$builder" build dev/old dev/new -o dev.upg >/dev/null || fail "building the device-name package"
perl -pi -e 's/ZZZ\.txt/NUL\.txt/g' dev.upg
expect 2 "apply of a package naming a device" run apply dev.upg dev/old --yes
has "Upgrade is invalid!" "device name"
has "reserved device name" "device name reason"
! grep -q "Invalid target folder\|Apply this upgrade" out.txt || fail "a refused package reached the questions"

# Entries that were skipped are listed with their reasons, with exit code 4; when every
# entry is skipped nothing is said to be applied.
cp -rp old skip
printf 'edited' >skip/Maps/level.map
expect 4 "apply with a skipped entry" run apply packed.upg skip --yes
has "These files were skipped" "skipped list"
has "Maps.level.map: the file has been changed" "skip reason"
has "The upgrade has been applied to every other file." "partial result"
[ "$(cat skip/Maps/level.map)" = edited ] || fail "a skipped file was changed"
cp -rp old skip-all
printf 'edited' >skip-all/Maps/level.map
chmod a-w skip-all/gone.txt
mkdir -p skip-all/Extra && printf 'mine' >skip-all/Extra/added.txt && chmod a-w skip-all/Extra/added.txt
expect 4 "apply where everything is skipped" run apply packed.upg skip-all --yes
has "Nothing was changed: every file of the upgrade was skipped" "all skipped"
! grep -q "has been applied" out.txt || fail "nothing applied, yet reported as applied"

# An upgrade that adds files to a folder that does not exist writes nothing and says why.
mkdir -p add/old add/new && printf 'new' >add/new/only.txt
"$builder" build add/old add/new -o add.upg >/dev/null || fail "building the add-only package"
expect 1 "apply to a missing folder" run apply add.upg add/missing --yes
has "cannot be opened" "missing target"
! grep -q "has been applied" out.txt || fail "a missing folder reported as applied"
[ ! -e add/missing ] || fail "the missing folder was created"

# Links below the target folder are never followed: entries behind a linked folder are
# skipped, and a link in place of the temporary folder is refused. Nothing outside changes.
mkdir -p links/outside
cp -rp old links/target
mv links/target/Maps links/outside/Maps
ln -s "$PWD/links/outside/Maps" links/target/Maps
printf 'keep' >links/outside/N00000.TMP
(cd links/outside && find . -type f -exec md5sum {} + | sort) >outside.before
expect 4 "apply through a linked folder" run apply packed.upg links/target --yes
has "Maps.level.map: a link or junction stands on its path" "linked folder"
rm links/target/Maps
cp -rp old/Maps links/target/Maps
ln -s "$PWD/links/outside" links/target/__QXUPD_
expect 1 "apply with a linked temporary folder" run apply packed.upg links/target --yes
has "is a link or a file, not a folder" "linked temporary folder"
(cd links/outside && find . -type f -exec md5sum {} + | sort) | diff - outside.before >/dev/null ||
  fail "a file outside the target folder changed"

# A file the commit cannot remove is named as such, with what to do about it (exit 3). An
# immutable folder stands in for a file another program holds; skipped where chattr cannot
# set that, and under Wine, whose DeleteFileA reports that refused delete as done.
mkdir -p held/old/Locked held/new
printf 'old' >held/old/file.txt && printf 'new' >held/new/file.txt
printf 'stays' >held/old/Locked/gone.txt
"$builder" build held/old held/new -o held.upg >/dev/null || fail "building the package with a removal"
cp -rp held/old held/target
if [ -z "$runner" ] && chattr +i held/target/Locked 2>/dev/null; then
  expect 3 "apply where a removal fails" run apply held.upg held/target --yes
  has "Locked.gone.txt: could not be removed" "failed removal"
  has "Delete the files that could not be removed once whatever holds them is closed." "failed removal advice"
  lacks "Move the kept files" "failed removal advice"
  chattr -i held/target/Locked
  [ "$(cat held/target/file.txt)" = new ] || fail "the update beside a failed removal was not applied"
else
  echo "SKIP: a removal refused by an immutable folder (under Wine, or without chattr)"
fi

# Usage errors exit 2.
expect 2 "unknown option" run apply plain.upg target --bogus
has "Usage: ambrel apply" "usage line"
expect 2 "--yes with --no" run apply plain.upg target --yes --no
expect 2 "apply of a non-package" run apply bogus.upg target --yes
has "Upgrade is invalid!" "apply of a non-package"

[ "$failures" -eq 0 ] && echo "apply.sh: all checks passed"
exit "$failures"
