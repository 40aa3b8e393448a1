#!/usr/bin/env bash
# End-to-end checks of `ambrel build`: a package built from two folders applies with
# `ambrel apply`; usage errors exit 2, build errors exit 1 and write nothing. The paths
# given are relative: the Windows program (under RUNNER) would take a leading "/" for an
# option.
# Usage: build.sh AMBREL [RUNNER]
set -u
ambrel=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
runner=${2:-}
failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

run() { $runner "$ambrel" "$@"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_exit() {  # expect_exit CODE DESCRIPTION COMMAND...
  local want=$1 what=$2
  shift 2
  "$@" >out.txt 2>&1
  local got=$?
  [ "$got" -eq "$want" ] || { fail "$what: exit $got, expected $want"; cat out.txt; }
}

mkdir -p old/Maps new/Maps new/Added
head -c 200000 /dev/urandom >old/Maps/level.lvl
{ head -c 100000 old/Maps/level.lvl; printf 'inserted bytes'; tail -c 90000 old/Maps/level.lvl; } \
  >new/Maps/level.lvl
printf 'readme\n' >old/readme.txt
cp -p old/readme.txt new/readme.txt
printf 'gone\n' >old/removed.txt
printf 'new file\n' >new/Added/file.txt
printf 'Line one\nLine two\n' >description.txt

expect_exit 0 "build" run build old new -o p.upg --compress --title "Test" \
  --description-file description.txt --exclude '*.bak'
grep -q "^Wrote .*3 entries (1 added, 1 updated, 1 removed; 1 files unchanged)" out.txt ||
  { fail "summary line"; cat out.txt; }
grep -q "^Checked" out.txt || fail "no check reported"
size=$(wc -c <p.upg)
[ "$size" -lt 20000 ] || fail "package of $size bytes: the level file should be copied, not carried"

cp -rp old target
expect_exit 0 "apply" run apply p.upg target --yes
diff -r target new >/dev/null || fail "the applied folder differs from the new folder"

expect_exit 0 "build --no-check, plain" run build old new -o plain.upg --no-check
grep -q "^Checked" out.txt && fail "--no-check still checked"

# Any number of threads from 1 to 256 gives the same package.
expect_exit 0 "--threads 1" run build old new -o t1.upg --no-check --threads 1
expect_exit 0 "--threads 256" run build old new -o t256.upg --no-check --threads 256
cmp -s t1.upg t256.upg || fail "--threads 1 and --threads 256 give different packages"

# Usage errors: exit 2.
expect_exit 2 "--threads 0" run build old new -o x.upg --threads 0
expect_exit 2 "--threads 257" run build old new -o x.upg --threads 257
expect_exit 2 "compression level 13" run build old new -o x.upg --compress=13
expect_exit 2 "format version 18" run build old new -o x.upg --format-version 18
expect_exit 2 "policy 4" run build old new -o x.upg --error-policy 4
expect_exit 2 "no output" run build old new
expect_exit 2 "missing folder" run build nothing new -o x.upg
expect_exit 2 "two descriptions" run build old new -o x.upg --description a \
  --description-file description.txt
[ -e x.upg ] && fail "a package was written after a usage error"

# Build errors: exit 1, nothing written.
mkdir -p old2/data new2
printf 'x' >old2/data/inner.bin
printf 'y' >new2/data
expect_exit 1 "folder replaced by a file" run build old2 new2 -o x.upg
grep -q "data is a folder" out.txt || fail "no reason given for the folder"
grep -q "no package was written" out.txt || fail "no word that nothing was written"
expect_exit 1 "title too long" run build old new -o x.upg --title "$(printf '%080d' 0)"
[ -e x.upg ] && fail "a package was written after a build error"

[ "$failures" -eq 0 ] && echo "build.sh: all checks passed"
exit "$failures"
