#!/usr/bin/env bash
# Apply benchmark: `ambrel apply --yes` of a generated update of a 200+ MB folder, against a
# baseline measured in the same run: reading every old file once (cat) plus writing every
# new file once (a copy of the new tree). Prints the ratio and the peak memory.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
bash "$root/scripts/install-deps.sh" --bench
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j "$(nproc)" --target ambrel >/dev/null
ambrel="$root/build/ambrel"
work=${BENCH_DIR:-$root/out/bench-apply}
size_mb=${1:-220}

if [ ! -f "$work/package.upg" ]; then
  rm -rf "$work"; mkdir -p "$work"
  echo "Generating $size_mb MB trees in $work"
  python3 "$(dirname "$0")/make_trees.py" "$work" "$size_mb"
  "$ambrel" build "$work/old" "$work/new" -o "$work/package.upg" --no-check >/dev/null
fi
echo "old tree: $(du -sm "$work/old" | cut -f1) MB, new tree: $(du -sm "$work/new" | cut -f1) MB," \
     "package: $(du -sm "$work/package.upg" | cut -f1) MB"

seconds() { date +%s.%N; }

rm -rf "$work/target" "$work/copy"
cp -a "$work/old" "$work/target"
sync
# Baseline: read all old files once, write all new files once.
t0=$(seconds)
find "$work/target" -type f -exec cat {} + >/dev/null
cp -a "$work/new" "$work/copy"
sync
t1=$(seconds)
baseline=$(echo "$t1 - $t0" | bc -l)
rm -rf "$work/copy"

t0=$(seconds)
/usr/bin/time -f "%M" -o "$work/rss.txt" "$ambrel" apply "$work/package.upg" "$work/target" --yes >"$work/apply.log"
sync
t1=$(seconds)
applied=$(echo "$t1 - $t0" | bc -l)
diff -r "$work/target" "$work/new" >/dev/null || { echo "FAILED: the applied tree differs from the new tree"; exit 1; }

rss_kb=$(cat "$work/rss.txt")
printf "baseline (cat old + copy new): %.2f s\n" "$baseline"
printf "ambrel apply --yes:            %.2f s\n" "$applied"
printf "ratio: %.2fx (target: at most 3x)\n" "$(echo "$applied / $baseline" | bc -l)"
printf "peak memory: %.1f MB (target: under 64 MB)\n" "$(echo "$rss_kb / 1024" | bc -l)"
