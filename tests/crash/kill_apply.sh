#!/usr/bin/env bash
# Crash test: `ambrel apply --yes` of a generated update of about 100 MB (adds, updates,
# removes, nested folders) is killed with SIGKILL at random moments. After each kill every
# user file must be its old or its new version (never missing, never cut short), and a
# second run of the same package must finish the job: the tree then equals the new tree.
# Kills aim at the verify and build phases and, more often, at the short commit phase. The
# summary counts what each kill left: all old, mixed, all new, finished before the kill.
# Usage: kill_apply.sh AMBREL KILLS [SEED]
set -u
ambrel=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
kills=$2
RANDOM=${3:-$$}
work=$(mktemp -d)
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
now_ms() { date +%s%3N; }

# ---- Two trees: 48 old files of 0.5 to 4 MiB in nested folders; in the new tree a quarter
# is updated in place, grown or cut, a quarter removed, the rest kept; 8 files are added
# in new folders.
mkdir old
for i in $(seq 0 47); do
  f=old/d$((i % 4))/s$((i % 3))/file$i.bin
  mkdir -p "$(dirname "$f")"
  head -c $(( (i % 8 + 1) * 512 * 1024 )) /dev/urandom >"$f"
done
touch -d '2025-01-10 10:00:00' $(find old -type f)
cp -rp old new
for i in $(seq 0 47); do
  f=new/d$((i % 4))/s$((i % 3))/file$i.bin
  case $((i % 4)) in
    0) dd if=/dev/urandom of="$f" bs=4096 count=2 seek=$((i * 7 % 100)) conv=notrunc status=none
       head -c $((i * 1000 + 17)) /dev/urandom >>"$f"
       touch -d '2025-06-01 12:00:00' "$f" ;;
    1) rm "$f" ;;
    3) [ $((i % 8)) -eq 3 ] && { truncate -s -100000 "$f"; touch -d '2025-06-01 12:00:00' "$f"; } ;;
  esac
done
for k in $(seq 0 7); do
  mkdir -p new/added$k/deeper
  head -c $((1024 * 1024 + k)) /dev/urandom >new/added$k/deeper/new$k.bin
done
touch -d '2025-06-01 12:00:00' $(find new/added* -type f)
"$ambrel" build old new -o update.upg >build.log 2>&1 || { cat build.log; fail "building the package"; exit 1; }

# name -> content hash of both trees.
declare -A old_hash new_hash
hashes() { (cd "$1" && find . -type f ! -path './__QXUPD_/*' -print0 | xargs -0 -r sha1sum) | sort -k2; }
while read -r h n; do old_hash[$n]=$h; done < <(hashes old)
while read -r h n; do new_hash[$n]=$h; done < <(hashes new)
names=$( (printf '%s\n' "${!old_hash[@]}"; printf '%s\n' "${!new_hash[@]}") | sort -u)

# check_between: every file of target is its old or new version; files in both trees are
# never missing; nothing else appears outside the temporary folder. Prints "old", "new" or
# "mixed" for what it found.
check_between() {
  declare -A now
  while read -r h n; do now[$n]=$h; done < <(hashes target)
  local n o=0 w=0 bad=0
  for n in $names; do
    local h=${now[$n]:-} ho=${old_hash[$n]:-} hn=${new_hash[$n]:-}
    if [ -z "$h" ]; then
      if [ -n "$ho" ] && [ -n "$hn" ]; then fail "kill $k: $n is missing"; bad=1; fi
      [ -z "$hn" ] && w=$((w + 1))
      [ -z "$ho" ] && o=$((o + 1))
      continue
    fi
    if [ "$h" = "$ho" ] && [ "$h" = "$hn" ]; then continue; fi
    if [ "$h" = "$ho" ]; then o=$((o + 1)); elif [ "$h" = "$hn" ]; then w=$((w + 1)); else
      fail "kill $k: $n is neither its old nor its new version (cut short or mixed)"; bad=1; fi
  done
  for n in "${!now[@]}"; do
    [ -n "${old_hash[$n]:-}" ] || [ -n "${new_hash[$n]:-}" ] || { fail "kill $k: unexpected file $n"; bad=1; }
  done
  if [ $bad -ne 0 ]; then echo broken; elif [ $w -eq 0 ]; then echo old; elif [ $o -eq 0 ]; then echo new; else echo mixed; fi
}

same_as_new() { diff <(hashes target) <(hashes new) >/dev/null; }

# Sets n to the number of files in the temporary folder, without starting a process (fast
# enough to poll in a busy loop); it rises while files are built and falls once they are
# moved into place.
shopt -s nullglob
count_temp() { local f=(target/__QXUPD_/*); n=${#f[@]}; }

# ---- Calibration: one full run, counting the files it builds.
rm -rf target && cp -rp old target
start=$(now_ms)
"$ambrel" apply update.upg target --yes >first.log 2>&1 &
pid=$!
built=0
while kill -0 $pid 2>/dev/null; do
  count_temp
  [ "$n" -gt "$built" ] && built=$n
done
wait $pid
rc=$?
total=$(( $(now_ms) - start ))
[ $rc -eq 0 ] && same_as_new || { cat first.log; fail "an uninterrupted apply did not give the new tree (exit $rc)"; exit 1; }
[ "$built" -gt 1 ] || { fail "the calibration run saw no built files"; exit 1; }
echo "calibration: apply takes ${total} ms and builds ${built} files"

# ---- The kills, placed by watching the temporary folder: every third while the files are
# verified or built (once a random number of them has been built), the others in the
# commit phase (once all but a random number of them have been moved into place).
declare -A outcome
declare -A second
for k in $(seq 1 "$kills"); do
  rm -rf target && cp -rp old target
  "$ambrel" apply update.upg target --yes >kill.log 2>&1 &
  pid=$!
  if [ $((k % 3)) -eq 1 ]; then
    goal=$(( RANDOM % built ))
    n=0
    while kill -0 $pid 2>/dev/null && [ "$n" -lt "$goal" ]; do count_temp; done
  else
    left=$(( RANDOM % built ))
    seen=0
    while kill -0 $pid 2>/dev/null; do
      count_temp
      [ "$n" -gt "$seen" ] && seen=$n
      [ "$seen" -eq "$built" ] && [ "$n" -le "$left" ] && break
    done
  fi
  kill -9 $pid 2>/dev/null
  wait $pid 2>/dev/null
  state=$(check_between)
  grep -q "The upgrade has been applied." kill.log && state=finished
  outcome[$state]=$(( ${outcome[$state]:-0} + 1 ))
  [ "$state" = broken ] && continue
  "$ambrel" apply update.upg target --yes >second.log 2>&1
  rc=$?
  second[$rc]=$(( ${second[$rc]:-0} + 1 ))
  if ! same_as_new; then
    fail "kill $k ($state): the second run (exit $rc) did not finish the job"
    tail -n 20 second.log
  elif [ $rc -ne 0 ] || ! grep -q "The upgrade has been applied." second.log; then
    fail "kill $k ($state): the second run finished the job but did not say so (exit $rc)"
    tail -n 20 second.log
  elif [ -e target/__QXUPD_ ]; then
    fail "kill $k: the second run left the temporary folder"
  fi
done

summary="kills: $kills;"
for s in old mixed new finished broken; do summary="$summary $s ${outcome[$s]:-0};"; done
summary="$summary second runs by exit code:"
for rc in "${!second[@]}"; do summary="$summary $rc x${second[$rc]}"; done
echo "$summary"
[ $failures -eq 0 ] && echo "kill_apply.sh: all checks passed"
exit $failures
