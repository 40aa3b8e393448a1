#!/usr/bin/env bash
# Replays a fuzz target's committed crash inputs, then fuzzes it for SECONDS from the seeds
# (in a scratch corpus, so the seeds stay as they are). Fails on any crash, leak, timeout
# or sanitizer report; the input that caused it is kept under $TMPDIR and named.
# Usage: run_fuzz.sh TARGET SEEDS CRASHES SECONDS
set -uo pipefail
target=$1 seeds=$2 crashes=$3 seconds=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
options=(-timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1024 -print_final_stats=1)

if [ -d "$crashes" ] && [ -n "$(ls -A "$crashes")" ]; then
  echo "== replaying $(ls "$crashes" | wc -l) committed inputs"
  "$target" "${options[@]}" "$crashes"/* >"$work/replay.log" 2>&1 || {
    tail -n 40 "$work/replay.log"
    echo "FAIL: a committed crash input fails again"
    exit 1
  }
fi

mkdir -p "$work/corpus"
keep=$(mktemp -d "${TMPDIR:-/tmp}/ambrel-fuzz-finding-XXXXXX")
"$target" "${options[@]}" -max_total_time="$seconds" -artifact_prefix="$keep/" "$work/corpus" "$seeds" \
  >"$work/fuzz.log" 2>&1
rc=$?
grep -E '^stat::number_of_executed_units|^#[0-9]+ +DONE' "$work/fuzz.log" | tail -n 2
if [ $rc -ne 0 ]; then
  tail -n 60 "$work/fuzz.log"
  echo "FAIL: $(basename "$target") exit $rc; the input is kept in $keep"
  exit 1
fi
rm -rf "$keep"
echo "$(basename "$target"): no finding in ${seconds}s"
