#!/usr/bin/env bash
# End-to-end checks of signed packages with the minisign program from Debian: minisign
# signs and `ambrel` checks (prehashed and legacy form, keys with and without a password,
# minisign's and ambrel's), `ambrel` signs and minisign checks, every refused signature
# leaves the folder as it was with nothing searched, and a package changed on disk during
# a run is not what gets applied. Packages stay under 65000 bytes, the legacy form's limit.
# Usage: sign.sh AMBREL [RUNNER] [BUILDER]
set -u
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
ambrel=$(absolute "$1")
runner=${2:-}
builder=$(absolute "${3:-$1}")
support=$(cd "$(dirname "$0")/../support" && pwd)
source "$support/cli_checks.sh"
command -v minisign >/dev/null || { echo "FAIL: minisign is not installed (Debian: minisign)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"  # relative paths: the Windows program would take a leading "/" for an option
mkdir tmp
export TMPDIR="$work/tmp"  # where the native program keeps its private copies

run() { $runner "$ambrel" "$@" </dev/null; }
terminal() { python3 "$support/on_terminal.py" "$@"; }
printf 'pass phrase\n' >pw.txt
# The folder the refused runs must leave alone, and the copy their search would find.
same_as_old() {
  diff -r "$1" old >/dev/null && [ ! -e "$1/__QXUPD_" ] || fail "$2: $1 changed"
}

mkdir -p old/Data new/Data
head -c 30000 /dev/urandom >old/Data/level.dat
{ head -c 15000 old/Data/level.dat; printf 'changed'; tail -c 14000 old/Data/level.dat; } >new/Data/level.dat
printf 'readme 1.0\n' >old/readme.txt
printf 'readme 1.1\n' >new/readme.txt
head -c 20000 /dev/urandom >new/Data/added.bin  # carried whole: a package of some 20 KB
"$builder" build old new -o p.upg --title "Signed 1.1" >/dev/null || fail "building the package"

# ---- Keys: minisign's and ambrel's, with and without a password -------------------------
minisign -G -W -p mw.pub -s mw.key >/dev/null || fail "minisign -G -W"
terminal --expect "Password: " --send "pass phrase" --expect "time): " --send "pass phrase" -- \
  minisign -G -p mp.pub -s mp.key >/dev/null || fail "minisign -G with a password"
expect 0 "keygen --no-password" run keygen -p aw.pub -s aw.key --no-password
expect 0 "keygen with a password file" run keygen -p ap.pub -s ap.key --password-file pw.txt
has "protected by the password" "keygen"
expect 1 "keygen over existing files" run keygen -p aw.pub -s new.key --no-password
has "exists already" "keygen over existing files"
[ -e new.key ] && fail "keygen wrote a secret key beside an existing public key"

# minisign_sign KEY [minisign options...]: the key's password comes through a terminal.
minisign_sign() {
  local key=$1
  shift
  case $key in
    mw|aw) minisign -S -s "$key.key" "$@" >/dev/null ;;
    *) terminal --expect "Password: " --send "pass phrase" -- minisign -S -s "$key.key" "$@" >/dev/null ;;
  esac
}

# ---- minisign signs, ambrel checks -----------------------------------------------------
for key in mw mp aw ap; do
  for form in "" -l; do
    what="minisign -S $form with the $key key"
    minisign_sign $key $form -m p.upg -t "by minisign, $key$form" || fail "$what"
    rm -rf target && cp -rp old target
    expect 0 "apply after $what" run apply p.upg target --yes --key $key.pub
    has "Signature:   good, by key ID" "$what"
    has "Trusted comment: by minisign, $key$form" "$what"
    diff -r target new >/dev/null || fail "$what: the folder was not upgraded"
  done
done
rm -rf target && cp -rp old target
minisign_sign mw -m p.upg -t "checked by verify and info"
expect 0 "verify --key" run verify p.upg target --key mw.pub
has "Trusted comment: checked by verify and info" "verify --key"
has "installation match: yes" "verify --key"
expect 0 "info --key" run info p.upg --key mw.pub
has "Trusted comment: checked by verify and info" "info --key"
has "Title:          Signed 1.1" "info --key"
expect 0 "info --json --key" run info p.upg --json --key mw.pub
has '"trusted_comment": "checked by verify and info"' "info --json"
has '"form": "prehashed"' "info --json"

# ---- ambrel signs, minisign checks -----------------------------------------------------
for key in mw mp aw ap; do
  expect 0 "sign with the $key key" run sign p.upg -s $key.key -t "by ambrel, $key" --password-file pw.txt
  minisign -V -p $key.pub -m p.upg >out.txt 2>&1 || { fail "minisign -V of ambrel's signature ($key)"; cat out.txt; }
  has "Trusted comment: by ambrel, $key" "minisign -V ($key)"
done
expect 0 "build --sign" run build old new -o b.upg --title "Built" --sign aw.key
has "Signed b.upg with key ID" "build --sign"
minisign -V -p aw.pub -m b.upg >out.txt 2>&1 || { fail "minisign -V after build --sign"; cat out.txt; }
has "file:b.upg" "default trusted comment"
expect 1 "sign with a wrong password" run sign b.upg -s ap.key --password-file aw.pub
has "wrong password" "wrong password"
expect 1 "sign without a terminal or password file" run sign b.upg -s mp.key
has "no terminal to ask for the password on" "no terminal"
minisign -V -p aw.pub -m b.upg >/dev/null 2>&1 || fail "a failed sign changed the signature"
expect 1 "build --sign with a wrong password" run build old new -o c.upg --sign ap.key --password-file aw.pub
has "no package was written" "build --sign, wrong password"
[ -e c.upg ] && fail "a package was written although its key did not open"
mkdir d.upg.minisig  # where the signature goes, a folder: signing fails after the build
expect 1 "build --sign that cannot write its signature" run build old new -o d.upg --sign aw.key
has "was written and checked, but it is NOT signed" "build --sign failure"
has "ambrel sign d.upg -s aw.key" "build --sign failure"

# ---- Refusals: exit 2, the reason named, nothing searched, read or changed --------------
minisign_sign aw -m p.upg -t "the good one"
rm -rf target && mkdir -p roots/a && cp -rp old roots/a/install && cp -rp old target
size=$(wc -c <p.upg)
flip() {  # flip FILE OFFSET: one byte of FILE changed
  local byte
  byte=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
  printf "\\$(printf '%03o' $(((byte + 1) % 256)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
# [KEY=FILE] refused WHAT REASON [options...]: runs apply, verify and info on t.upg and its
# signature t.upg.minisig with the public key KEY (default aw.pub).
refused() {
  local what=$1 reason=$2 key=${KEY:-aw.pub}
  shift 2
  expect 2 "apply: $what" run apply t.upg --search roots --yes --key "$key" "$@"
  has "Signature check failed: .*$reason" "apply: $what"
  lacks "Searching" "apply: $what"
  lacks "Title:" "apply: $what"
  expect 2 "verify: $what" run verify t.upg target --key "$key" "$@"
  lacks "installation match" "verify: $what"
  expect 2 "info: $what" run info t.upg --key "$key" "$@"
  lacks "Form:" "info: $what"
  same_as_old roots/a/install "$what"
  same_as_old target "$what"
}
fresh() { cp p.upg t.upg && cp p.upg.minisig t.upg.minisig; }
for at in 0 $((size / 2)) $((size - 1)); do
  fresh && flip t.upg $at
  refused "package changed at byte $at" "does not match the package"
done
fresh && head -c $((size - 1)) p.upg >t.upg
refused "package cut short" "does not match the package"
line=$(sed -n 2p p.upg.minisig)  # its 41st Base64 character replaced by another one
[ "${line:40:1}" = A ] && other=B || other=A
fresh && { sed -n 1p p.upg.minisig; echo "${line:0:40}$other${line:41}"; sed -n 3,4p p.upg.minisig; } >t.upg.minisig
cmp -s t.upg.minisig p.upg.minisig && fail "the signature was not changed"
refused "signature changed" "does not match the package"
fresh && sed -i '3s/the good one/the good two/' t.upg.minisig
refused "trusted comment changed" "trusted comment does not match its signature"
fresh
KEY=mw.pub refused "another key" "signed with another key: the signature's key ID is [0-9A-F]*, the public key's is"
fresh && rm t.upg.minisig
refused "missing signature" "the package has no signature: t.upg.minisig does not exist"
fresh && cp b.upg.minisig t.upg.minisig
refused "signature of another package" "does not match the package"
fresh && head -n 3 p.upg.minisig >t.upg.minisig
refused "signature file cut short" "t.upg.minisig is unusable"
fresh && printf 'untrusted comment: minisign public key 1\n%s\n' "$(head -c 40 /dev/urandom | base64 -w0)" >garbage.pub
KEY=garbage.pub refused "key file with garbage" "garbage.pub is unusable"
fresh && printf 'anything' >other.minisig
refused "--signature names another file" "other.minisig is unusable" --signature other.minisig
expect 2 "--signature without --key" run info p.upg --signature p.upg.minisig
has "Usage: ambrel info" "--signature without --key"

# Without --key everything is as before; a signature beside the package is named once.
expect 0 "info without --key" run info p.upg
has "p.upg.minisig lies beside the package, but its signature was not checked" "unchecked signature"
[ "$(grep -c 'was not checked' out.txt)" -eq 1 ] || fail "the unchecked signature was named more than once"
rm -f t.upg.minisig
expect 0 "info of a package without a signature" run info t.upg
lacks "not checked" "no signature beside"

# Every private copy is gone again, after good checks and refusals alike.
if [ -z "$runner" ]; then
  [ -z "$(ls -A tmp)" ] || { fail "private copies were left behind"; ls -la tmp; }
elif [ -n "${WINEPREFIX:-}" ]; then
  left=$(find "$WINEPREFIX"/drive_c/users/*/AppData/Local/Temp -maxdepth 1 -type d -name 'ambrel-*' 2>/dev/null)
  [ -z "$left" ] || fail "private copies were left behind: $left"
fi

# ---- On a terminal (native): passwords without echo, and a package swapped mid-run --------
if [ -z "$runner" ]; then
  rm -f tk.pub tk.key
  terminal --expect "Password for the new secret key: " --send "one" --expect "again: " --send "two" -- \
    "$ambrel" keygen -p tk.pub -s tk.key >out.txt
  has "the two passwords differ" "keygen with two passwords"
  [ -e tk.key ] || [ -e tk.pub ] && fail "keygen wrote a key after two different passwords"
  # Ctrl-C at the prompt cancels it and gives the terminal its echo back.
  terminal --expect "Password for the new secret key: " --send $'\003' --shell "sleep 0.2" --send "visible" -- \
    sh -c "\"$ambrel\" keygen -p tk.pub -s tk.key; read line; echo \"read: \$line\"" >out.txt
  has "no password was given (cancelled)" "Ctrl-C at the password prompt"
  has "^visible" "echo after Ctrl-C at the password prompt"
  [ -e tk.key ] && fail "keygen wrote a key after Ctrl-C"
  terminal --expect "Password of the secret key: " --send "pass phrase" -- \
    "$ambrel" sign p.upg -s ap.key -t "typed on the terminal" >out.txt || fail "sign with a typed password"
  lacks "pass phrase" "the typed password was echoed"
  minisign -V -p ap.pub -m p.upg >out.txt 2>&1 || fail "minisign -V after a typed password"
  has "typed on the terminal" "typed password"

  # While apply asks its question, the package on disk is replaced by another one, or
  # changed in place: what is applied is what was checked.
  mkdir -p evil && printf 'not the publisher\047s\n' >evil/readme.txt && cp -p old/Data -r evil/
  "$builder" build old evil -o evil.upg >/dev/null || fail "building the other package"
  for swap in "cp evil.upg s.upg" "printf 'XXXXXXXX' | dd of=s.upg bs=1 seek=$((size - 3000)) conv=notrunc status=none"; do
    cp p.upg s.upg && cp p.upg.minisig s.upg.minisig
    rm -rf target && cp -rp old target
    terminal --expect "[y/n]" --shell "$swap" --send y -- "$ambrel" apply s.upg target --key ap.pub >out.txt
    rc=$?
    cmp -s s.upg p.upg && fail "the package was not changed during the run ($swap)"
    [ $rc -eq 0 ] || { fail "apply with a package changed during the run ($swap): exit $rc"; cat out.txt; }
    diff -r target new >/dev/null || fail "the changed package reached the folder ($swap)"
  done
  [ -z "$(ls -A tmp)" ] || { fail "private copies were left behind by the terminal runs"; ls -la tmp; }
else
  echo "SKIP: the terminal runs (under Wine)"
fi

[ "$failures" -eq 0 ] && echo "sign.sh: all checks passed"
exit "$failures"
