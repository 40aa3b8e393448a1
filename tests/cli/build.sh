#!/usr/bin/env bash
# End-to-end checks of `ambrel build`: a package built from two folders applies with
# `ambrel apply`; usage errors exit 2, build errors exit 1 and write nothing. In builds
# without the package builder the command must say so and exit 2.
# Usage: build.sh AMBREL [RUNNER]
set -u
ambrel=$1
runner=${2:-}
failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run() { $runner "$ambrel" "$@"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_exit() {  # expect_exit CODE DESCRIPTION COMMAND...
  local want=$1 what=$2
  shift 2
  "$@" >"$work/out.txt" 2>&1
  local got=$?
  [ "$got" -eq "$want" ] || { fail "$what: exit $got, expected $want"; cat "$work/out.txt"; }
}

if run build --help 2>&1 | grep -q "not available in this build"; then
  expect_exit 2 "build without the builder" run build a b -o c
  grep -q "not part of this build" "$work/out.txt" || fail "no word about the missing builder"
  [ "$failures" -eq 0 ] && echo "build.sh: the builder is not part of this build, as it says"
  exit "$failures"
fi

mkdir -p "$work/old/Maps" "$work/new/Maps" "$work/new/Added"
head -c 200000 /dev/urandom >"$work/old/Maps/level.lvl"
{ head -c 100000 "$work/old/Maps/level.lvl"; printf 'inserted bytes'; tail -c 90000 "$work/old/Maps/level.lvl"; } \
  >"$work/new/Maps/level.lvl"
printf 'readme\n' >"$work/old/readme.txt"
cp -p "$work/old/readme.txt" "$work/new/readme.txt"
printf 'gone\n' >"$work/old/removed.txt"
printf 'new file\n' >"$work/new/Added/file.txt"
printf 'Line one\nLine two\n' >"$work/description.txt"

expect_exit 0 "build" run build "$work/old" "$work/new" -o "$work/p.upg" --compress --title "Test" \
  --description-file "$work/description.txt" --exclude '*.bak'
grep -q "^Wrote .*3 entries (1 added, 1 updated, 1 removed; 1 files unchanged)" "$work/out.txt" ||
  { fail "summary line"; cat "$work/out.txt"; }
grep -q "^Checked" "$work/out.txt" || fail "no check reported"
size=$(wc -c <"$work/p.upg")
[ "$size" -lt 20000 ] || fail "package of $size bytes: the level file should be copied, not carried"

cp -rp "$work/old" "$work/target"
expect_exit 0 "apply" run apply "$work/p.upg" "$work/target" --yes
diff -r "$work/target" "$work/new" >/dev/null || fail "the applied folder differs from the new folder"

expect_exit 0 "build --no-check, plain" run build "$work/old" "$work/new" -o "$work/plain.upg" --no-check
grep -q "^Checked" "$work/out.txt" && fail "--no-check still checked"

# Usage errors: exit 2.
expect_exit 2 "compression level 13" run build "$work/old" "$work/new" -o "$work/x.upg" --compress=13
expect_exit 2 "format version 18" run build "$work/old" "$work/new" -o "$work/x.upg" --format-version 18
expect_exit 2 "policy 4" run build "$work/old" "$work/new" -o "$work/x.upg" --error-policy 4
expect_exit 2 "no output" run build "$work/old" "$work/new"
expect_exit 2 "missing folder" run build "$work/nothing" "$work/new" -o "$work/x.upg"
expect_exit 2 "two descriptions" run build "$work/old" "$work/new" -o "$work/x.upg" --description a \
  --description-file "$work/description.txt"
[ -e "$work/x.upg" ] && fail "a package was written after a usage error"

# Build errors: exit 1, nothing written.
mkdir -p "$work/old2/data" "$work/new2"
printf 'x' >"$work/old2/data/inner.bin"
printf 'y' >"$work/new2/data"
expect_exit 1 "folder replaced by a file" run build "$work/old2" "$work/new2" -o "$work/x.upg"
grep -q "data is a folder" "$work/out.txt" || fail "no reason given for the folder"
grep -q "no package was written" "$work/out.txt" || fail "no word that nothing was written"
expect_exit 1 "title too long" run build "$work/old" "$work/new" -o "$work/x.upg" --title "$(printf '%080d' 0)"
[ -e "$work/x.upg" ] && fail "a package was written after a build error"

[ "$failures" -eq 0 ] && echo "build.sh: all checks passed"
exit "$failures"
