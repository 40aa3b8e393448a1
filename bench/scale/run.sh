#!/usr/bin/env bash
# Scale benchmark: installs the compared tools, builds `ambrel` (release), and prints the
# tables of run.py: one folder of 5,000 and 10,000 files, a 2 GiB file beside 9,900 small
# ones, the builder with 1, 2 and all cores, and the real release pairs (fetched once by
# bench/builder/run.sh into ~/.cache/ambrel-bench). About 10 GB of disk in WORK_DIR.
# Usage: bench/scale/run.sh [WORK_DIR [run.py options]]   (default: out/bench-scale)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
bash "$root/scripts/install-deps.sh" --bench
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j "$(nproc)" --target ambrel >/dev/null
python3 "$root/bench/scale/run.py" "$root/build/ambrel" "${1:-$root/out/bench-scale}" "${@:2}"
