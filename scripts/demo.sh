#!/usr/bin/env bash
# The demo: builds ambrel, makes a sample installed program (version 1.0) and its next version
# (1.1), makes a package of the difference, and applies it in place, showing every step.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh" --native
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j "$(nproc)" --target ambrel >/dev/null
ambrel="$root/build/ambrel"

work="$root/out/demo"
rm -rf "$work"
mkdir -p "$work"
cd "$work"

# Deterministic sample content: numbered text lines, and binary records.
lines() { awk -v n="$1" -v tag="$2" 'BEGIN { for (i = 0; i < n; i++) printf "%s line %06d: the quick brown fox jumps over the lazy dog\n", tag, i }'; }
records() { awk -v n="$1" -v k="$2" 'BEGIN { for (i = 0; i < n; i++) printf "REC%08d%08x", i, (i * k) % 4294967291 }'; }

echo "== Making version 1.0 in v1/ and version 1.1 in v2/"
mkdir -p v1/Maps v1/System v2/Maps v2/System v2/Music
lines 2000 cfg > v1/System/game.ini
records 40000 7 > v1/Maps/level1.map
records 30000 11 > v1/Maps/level2.map
lines 500 old > v1/System/obsolete.txt
# 1.1: a setting changed, records inserted and changed, a file removed, a file added.
lines 2000 cfg | sed 's/^cfg line 001000.*/cfg line 001000: Difficulty=Hard/' > v2/System/game.ini
{ records 20000 7; printf 'NEW RECORDS FOR 1.1 '; records 20000 7 | tail -c +320001; } > v2/Maps/level1.map
records 30000 13 > v2/Maps/level2.map
lines 300 track > v2/Music/theme.txt
touch -d '2026-01-10 12:00:00' v1/*/* && touch -d '2026-03-01 09:30:00' v2/*/*
cp -a v1 installed

echo; echo "== ambrel build v1 v2 -o sample.upg --compress"
"$ambrel" build v1 v2 -o sample.upg --compress --title "Sample 1.0 to 1.1" \
  --description "Brings Sample from version 1.0 to 1.1: new level records, a new theme."
ls -l sample.upg

echo; echo "== ambrel info sample.upg"
"$ambrel" info sample.upg

echo; echo "== ambrel verify sample.upg installed"
"$ambrel" verify sample.upg installed

echo; echo "== ambrel apply sample.upg installed --yes"
"$ambrel" apply sample.upg installed --yes

echo; echo "== The installed folder now equals version 1.1:"
diff -r installed v2 && echo "contents: identical"
(cd installed && find . -type f | sort | xargs "$ambrel" identity) > applied.txt
(cd v2 && find . -type f | sort | xargs "$ambrel" identity) > expected.txt
diff applied.txt expected.txt && echo "identities (size, check value, time stamp): identical" && cat applied.txt
