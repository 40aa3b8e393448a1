#!/usr/bin/env bash
# Hostile packages against `ambrel apply` and `ambrel info`: a refused name is reported as
# an invalid upgrade before anything is asked, names are never printed raw, entries whose
# scripts claim far more than the old file or the package holds are skipped with their
# reason and their own exit code, in bounded time, and nothing beside the target changes.
# The packages are written byte by byte here, since the builder refuses to make them.
# Usage: hostile.sh AMBREL [RUNNER]
set -u
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
ambrel=$(absolute "$1")
runner=${2:-}
source "$(dirname "$0")/../support/cli_checks.sh"
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
cd "$work"

# Each run gets ten times what it needs on a slow emulator, so a loop over a 4 GiB count
# shows up as a failure rather than a hang.
run() { timeout 120 $runner "$ambrel" "$@" </dev/null; }

# ---- Package bytes ----------------------------------------------------------------------
byte() { printf "\\$(printf '%03o' $(($1 & 255)))"; }
u16() { byte "$1"; byte $(($1 >> 8)); }
u32() { u16 $(($1 & 65535)); u16 $(($1 >> 16 & 65535)); }
text() { printf '%s' "$1"; byte 0; }
header() { printf '[QXUPD]'; byte 0; byte 17; u16 "$1"; text "Hostile"; text "A package no builder makes"; }
identity() { u32 "$1"; u32 "$2"; u16 "$3"; }  # stamp size check
# record OP FLAGS-POLICIES NAME then the identities
record() { byte $(($1 | $2)); text "$3"; text "entry"; }
readonly POLICY0=0 STAMP=$(( (45 << 25) | (1 << 21) | (1 << 16) ))

# The installed folder and a sentinel folder beside it that must never change.
mkdir -p target sentinel
printf 'old data that the hostile update copies from\n' >target/data.txt
printf 'sentinel\n' >sentinel/outside.txt
cp -rp target target.orig
cp -rp sentinel sentinel.orig
unchanged() {
  diff -r sentinel sentinel.orig >/dev/null || fail "$1: the folder beside the target changed"
  diff -r target target.orig >/dev/null || fail "$1: the target changed"
}
read -r old_size old_check _ < <(run identity target/data.txt)
printf 'added' >added.ref
read -r _ added_check _ < <(run identity added.ref)

# 1. A name that leaves the target: invalid before any question, with the reason.
{ header 1; record 0 $POLICY0 '..\sentinel\outside.txt'; identity $STAMP 4 0x0000
  byte 1; byte 4; printf 'evil'; byte 0; } >escape.upg
expect 2 "apply of a name outside the target" run apply escape.upg target --yes
has "Upgrade is invalid!" "refused name"
has "unsafe name" "refused name"
lacks "Apply this upgrade" "refused name"
lacks "Invalid target folder" "refused name"
unchanged "refused name"

# 2. Control characters in a name never reach the terminal raw.
{ header 1; record 0 $POLICY0 "$(printf 'esc\033]0;pwned\007.txt')"; identity $STAMP 0 0; byte 0; } >control.upg
for cmd in "info control.upg" "apply control.upg target --yes"; do
  run $cmd >out.txt 2>&1
  if grep -q "$(printf '\033')" out.txt || grep -q "$(printf '\007')" out.txt; then
    fail "$cmd printed a control character of an entry name raw"; cat -v out.txt
  fi
done
unchanged "control characters"

# 3. Copies of 4 GiB from beyond the old file's end: the entry is skipped with its reason,
# its own exit code, and the entry after it is still applied.
{ header 2
  record 1 $POLICY0 'data.txt'; identity $STAMP "$old_size" "$old_check"; identity $STAMP 10 0x1234
  record 0 $POLICY0 'added.txt'; identity $STAMP 5 "$added_check"
  for offset in $((0x7FFFFFF0)) 4096 0; do byte 10; u32 $offset; u32 $((0xFFFFFFFF)); done; byte 0
  byte 1; byte 5; printf 'added'; byte 0; } >copies.upg
expect 4 "apply with copies far beyond the old file" run apply copies.upg target --yes
has "data.txt" "skipped entry named"
cmp -s target/added.txt added.ref || fail "the entry after the skipped one was not applied"
lacks "^The upgrade has been applied\.$" "skipped entry"
cmp -s target/data.txt target.orig/data.txt || fail "the skipped entry's file changed"
[ -e target/__QXUPD_ ] && fail "the temporary folder was left behind"
diff -r sentinel sentinel.orig >/dev/null || fail "copies: the folder beside the target changed"
rm -f target/added.txt

# 4. A literal of 4 GiB that the package does not carry: refused for want of space or
# skipped; never reported as applied, nothing written.
{ header 1; record 0 $POLICY0 'huge.bin'; identity $STAMP $((0xFFFFFFF0)) 0
  byte 3; u32 $((0xFFFFFFF0)); printf 'tail'; } >literal.upg
run apply literal.upg target --yes >out.txt 2>&1
rc=$?
[ $rc -eq 1 ] || [ $rc -eq 4 ] || { fail "apply of a 4 GiB literal: exit $rc, expected 1 or 4"; cat -v out.txt; }
lacks "^The upgrade has been applied\.$" "4 GiB literal"
unchanged "4 GiB literal"

# 5. An Add-only package for a folder that does not exist writes nothing and says so.
{ header 1; record 0 $POLICY0 'new.txt'; identity $STAMP 3 0; byte 1; byte 3; printf 'new'; byte 0; } >add.upg
run apply add.upg missing-folder --yes >out.txt 2>&1
rc=$?
[ $rc -ne 0 ] || { fail "apply to a missing folder exited 0"; cat -v out.txt; }
lacks "^The upgrade has been applied\.$" "missing folder"
[ ! -e missing-folder ] || fail "the missing target folder was created"
unchanged "missing folder"

[ "$failures" -eq 0 ] && echo "hostile.sh: all checks passed"
exit "$failures"
