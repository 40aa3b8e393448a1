#!/usr/bin/env bash
# The applicator exports its window and dialog procedures under their plain names, without
# the argument-size suffix of 32-bit stdcall names (WndProc, not WndProc@16).
# Usage: exports.sh AMBREL32_EXE OBJDUMP
set -u
program=$1
objdump=$2
table=$("$objdump" -p "$program" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p')
failures=0
for name in WndProc Confirm Confirm1 Confirm2 Confirm3 UpgSearchDlg UpgProgressDlg; do
  if ! echo "$table" | grep -Eq "\] $name\$"; then
    echo "FAIL: $name is not exported under its plain name"
    failures=$((failures + 1))
  fi
done
if echo "$table" | grep -q '@'; then
  echo "FAIL: decorated names in the export table:"
  echo "$table" | grep '@'
  failures=$((failures + 1))
fi
[ "$failures" -eq 0 ] && echo "exports.sh: all checks passed"
exit "$failures"
