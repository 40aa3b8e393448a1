#!/usr/bin/env bash
# Makes the README's pictures of ambrel32.exe again (screenshots/*.png): builds what is
# needed and runs the applicator's end-to-end tests under Wine with AMBREL_SCREENSHOTS set,
# which makes them keep the backdrop with page 1, pages 2 and 3 and the progress dialog.
# AMBREL_WINE64=1 uses the 64-bit test flavour (for hosts that cannot run 32-bit code).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
bash "$root/scripts/install-deps.sh"
if [ "${AMBREL_WINE64:-0}" = 1 ]; then
  bash "$root/scripts/install-deps.sh" --win64
  arch=x86_64 dir=$root/build-win64
else
  arch=i686 dir=$root/build-win32
fi
cmake -S "$root" -B "$root/build" >/dev/null
cmake --build "$root/build" -j "$jobs" --target ambrel >/dev/null
cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw.cmake" -DAMBREL_WINDOWS_ARCH=$arch \
  -DAMBREL_NATIVE_TOOL="$root/build/ambrel" >/dev/null
cmake --build "$dir" -j "$jobs" --target ambrel32 win_peek >/dev/null
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$root/screenshots"
(cd "$dir" && AMBREL_SCREENSHOTS="$root/screenshots" ctest -R 'gui_wizard_(flow|pages)' --output-on-failure)
ls -l "$root/screenshots"
