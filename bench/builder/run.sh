#!/usr/bin/env bash
# Package-builder benchmark: installs the compared tools, builds `ambrel`, generates the
# game-update corpus (about 140 MB, once), fetches the real release pairs with npm (once,
# into ~/.cache/ambrel-bench) and prints the tables of run.py.
# Usage: bench/builder/run.sh [WORK_DIR [run.py options]]   (default: out/bench-builder)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
bash "$root/scripts/install-deps.sh" --bench
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j "$(nproc)" --target ambrel >/dev/null
python3 "$root/bench/builder/run.py" "$root/build/ambrel" "${1:-$root/out/bench-builder}" "${@:2}"
