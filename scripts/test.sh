#!/usr/bin/env bash
# Installs what is missing, builds the Linux and the 32-bit Windows flavour, and runs every
# test: natively with ctest (in UTC and in a zone with daylight saving time) and the Windows
# build under Wine. Ends with one line "N passed, N failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
passed=0
failed=0

bash "$root/scripts/install-deps.sh" || { echo "0 passed, 1 failed"; exit 1; }

# Runs ctest in a build folder and adds its counts to the totals.
run_ctest() {
  local dir=$1 out
  out=$(cd "$dir" && ctest --output-on-failure --timeout 600 2>&1)
  echo "$out"
  local summary
  summary=$(echo "$out" | grep -E "tests passed, [0-9]+ tests? failed out of [0-9]+" | tail -n 1)
  if [ -z "$summary" ]; then
    failed=$((failed + 1))
    return
  fi
  local bad total
  bad=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
  total=$(echo "$summary" | sed -E 's/.* failed out of ([0-9]+).*/\1/')
  passed=$((passed + total - bad))
  failed=$((failed + bad))
}

build() {
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >"$dir/configure.log" 2>&1 &&
    cmake --build "$dir" -j "$jobs" >"$dir/build.log" 2>&1
}

echo "== Linux build"
mkdir -p "$root/build"
if build "$root/build"; then
  run_ctest "$root/build"
else
  tail -n 40 "$root/build/configure.log" "$root/build/build.log"
  failed=$((failed + 1))
fi

echo "== Windows build (mingw-w64, i686) under Wine"
mkdir -p "$root/build-win32"
if build "$root/build-win32" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
    -DAMBREL_NATIVE_TOOL="$root/build/ambrel"; then
  prefix_root=$(mktemp -d)
  export WINEPREFIX="$prefix_root/pfx" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  wineboot -i >/dev/null 2>&1
  run_ctest "$root/build-win32"
  wineserver -k >/dev/null 2>&1
  rm -rf "$prefix_root"
else
  tail -n 40 "$root/build-win32/configure.log" "$root/build-win32/build.log"
  failed=$((failed + 1))
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
