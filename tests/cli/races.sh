#!/usr/bin/env bash
# End-to-end checks of `ambrel apply` beside other processes: an apply of a folder that
# another run holds, fifty pairs of applies started at once on one folder, and, natively, a
# FIFO in place of a file, a low limit of open files, and a run as an unprivileged user who
# owns the folder. AMBREL_HOLD_LOCK names the helper that holds a folder's apply lock.
# Usage: races.sh AMBREL [RUNNER] [BUILDER]
set -u
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
ambrel=$(absolute "$1")
runner=${2:-}
builder=$(absolute "${3:-$1}")
hold=${AMBREL_HOLD_LOCK:?"AMBREL_HOLD_LOCK names the lock helper"}
source "$(dirname "$0")/../support/cli_checks.sh"
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
cd "$work"

run() { $runner "$ambrel" "$@" </dev/null; }
busy="Another upgrade of this folder is running."

# Thirty files of 200 KB with scattered changes, a removed and an added file: a run takes a
# moment, so that two started together overlap.
mkdir -p old/data new/data
for i in $(seq -w 1 30); do
  head -c 200000 /dev/urandom >old/data/f$i.bin
  { head -c 90000 old/data/f$i.bin; printf 'changed %s' "$i"; tail -c 100000 old/data/f$i.bin; } >new/data/f$i.bin
done
printf 'gone\n' >old/gone.txt
printf 'added\n' >new/added.txt
touch -d '2026-01-10 12:00:00' old/data/* old/gone.txt
touch -d '2026-03-01 09:30:00' new/data/* new/added.txt
"$builder" build old new -o update.upg >/dev/null || fail "building the package"

same_as_new() { diff -r "$1" new >/dev/null && [ ! -e "$1/__QXUPD_" ]; }

# A folder another run holds: nothing is changed, and the run says why.
cp -rp old held
touch flag
$runner "$hold" held flag >hold.txt 2>&1 &
holder=$!
for _ in $(seq 1 300); do grep -q held hold.txt && break; sleep 0.1; done
grep -q held hold.txt || fail "the lock helper did not hold the folder: $(cat hold.txt)"
expect 1 "apply while another run holds the folder" run apply update.upg held --yes
has "$busy" "apply while another run holds the folder"
diff -r old held >/dev/null || fail "the held folder was changed"
[ ! -e held/__QXUPD_ ] || fail "a temporary folder was made in the held folder"
rm -f flag
wait $holder
expect 0 "apply once the folder is free" run apply update.upg held --yes
same_as_new held || fail "the folder is not the new version after the lock was released"

# Fifty pairs started at once: each run either applies, finds the work done, or is told the
# folder is busy; the folder always ends up new, with no temporary folder left. Each run
# has a copy of the package: Windows opens a package for one reader at a time.
busy_seen=0
cp update.upg a.upg && cp update.upg b.upg
for i in $(seq 1 50); do
  rm -rf pair && cp -rp old pair
  (run apply a.upg pair --yes >a.txt 2>&1; echo $? >a.rc) &
  (run apply b.upg pair --yes >b.txt 2>&1; echo $? >b.rc) &
  wait
  for side in a b; do
    rc=$(cat $side.rc)
    case "$rc" in
      0) ;;
      1) grep -q "$busy" $side.txt || { fail "pair $i: run $side exit 1 without the busy message"; cat $side.txt; }
         busy_seen=$((busy_seen + 1)) ;;
      *) fail "pair $i: run $side exit $rc"; cat $side.txt ;;
    esac
  done
  [ "$(cat a.rc)$(cat b.rc)" != "11" ] || fail "pair $i: both runs were told the folder is busy"
  same_as_new pair || fail "pair $i: the folder is not the new version"
done
echo "fifty pairs: $busy_seen runs were told the folder is busy"

if [ -z "$runner" ]; then
  # A FIFO where a file stands is a changed file: the run neither hangs nor reads it.
  cp -rp old fifo
  rm fifo/data/f05.bin && mkfifo fifo/data/f05.bin
  expect 4 "apply with a FIFO in place of a file" timeout 60 "$ambrel" apply update.upg fifo --yes
  has "data.f05.bin: " "the FIFO's entry is listed as skipped"
  [ -p fifo/data/f05.bin ] || fail "the FIFO was replaced"
  expect 1 "verify with a FIFO in place of a file" timeout 60 "$ambrel" verify update.upg fifo
  has "data.f05.bin" "verify names the FIFO's entry"

  # More new files than the process may hold open.
  mkdir -p wide-old wide-new/many
  printf 'keep' >wide-old/keep.txt && cp -p wide-old/keep.txt wide-new/keep.txt
  for i in $(seq 1 300); do printf 'file %s' "$i" >wide-new/many/f$i.txt; done
  "$builder" build wide-old wide-new -o wide.upg >/dev/null || fail "building the wide package"
  cp -rp wide-old wide
  expect 0 "apply with 64 open files allowed" bash -c "ulimit -n 64 && \"$ambrel\" apply wide.upg wide --yes"
  diff -r wide wide-new >/dev/null || fail "the wide folder is not the new version"

  # Run by an unprivileged user who owns the folder: applied, the files stay that user's,
  # and the lock keeps a second run out as before.
  if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
    as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
    cp -rp old own && chown -R 65534:65534 own update.upg && chmod 755 "$work"
    touch flag
    as_nobody "$hold" own flag >hold.txt 2>&1 &
    holder=$!
    for _ in $(seq 1 300); do grep -q held hold.txt && break; sleep 0.1; done
    expect 1 "apply by the owner while another run holds the folder" as_nobody "$ambrel" apply update.upg own --yes
    has "$busy" "apply by the owner while another run holds the folder"
    rm -f flag
    wait $holder
    expect 0 "apply by the folder's owner" as_nobody "$ambrel" apply update.upg own --yes
    same_as_new own || fail "the owner's folder is not the new version"
    [ -z "$(find own ! -user 65534)" ] || fail "files of the owner's folder changed hands: $(find own ! -user 65534)"
  fi
fi

[ "$failures" -eq 0 ] && echo "all checks passed"
exit $((failures > 0))
