#!/usr/bin/env bash
# Package-builder benchmark: installs the compared tools, builds `ambrel`, generates the
# game-update corpus (about 140 MB, once) and prints the table of run.py.
# Usage: bench/builder/run.sh [WORK_DIR]   (default: out/bench-builder)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
bash "$root/scripts/install-deps.sh" --bench
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j "$(nproc)" --target ambrel >/dev/null
python3 "$root/bench/builder/run.py" "$root/build/ambrel" "${1:-$root/out/bench-builder}"
