#!/usr/bin/env bash
# Installs what is missing, builds the Linux and the Windows flavours, and runs every test:
# natively with ctest (in UTC and in a zone with daylight saving time), again built with
# AddressSanitizer and UBSan, the fuzz targets briefly, and the Windows build under Wine.
# Ends with one line "N passed, N failed".
#
# The Windows programs ship as 32-bit (i686) builds. Some hosts cannot run 32-bit code at
# all; there the same sources are built for x86_64 and tested under the 64-bit Wine loader.
# AMBREL_WINE64=1 forces that 64-bit flavour.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
passed=0
failed=0

bash "$root/scripts/install-deps.sh" || { echo "0 passed, 1 failed"; exit 1; }

# Runs ctest in a build folder (further arguments go to ctest) and adds its counts to the
# totals.
run_ctest() {
  local dir=$1 out
  shift
  out=$(cd "$dir" && ctest --output-on-failure --timeout 900 "$@" 2>&1)
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
  mkdir -p "$dir"
  if cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >"$dir/configure.log" 2>&1 &&
     cmake --build "$dir" -j "$jobs" >"$dir/build.log" 2>&1; then
    return 0
  fi
  tail -n 40 "$dir/configure.log" "$dir/build.log"
  return 1
}

echo "== Linux build"
if build "$root/build"; then
  run_ctest "$root/build" -j "$jobs"
else
  failed=$((failed + 1))
fi

# ---- Sanitizers and fuzzing ------------------------------------------------------------
# The whole native suite again with AddressSanitizer and UBSan (undefined behaviour stops
# the program), then each libFuzzer target briefly from its seeds, replaying the inputs
# of earlier findings first.
echo "== Linux build with -fsanitize=address,undefined"
if build "$root/build-asan" -DAMBREL_SANITIZE=ON; then
  run_ctest "$root/build-asan" -j "$jobs"
else
  failed=$((failed + 1))
fi
echo "== Fuzz targets (clang, libFuzzer)"
if build "$root/build-fuzz" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DAMBREL_FUZZ=ON \
     -DAMBREL_NATIVE_TOOL="$root/build/ambrel"; then
  run_ctest "$root/build-fuzz"
else
  failed=$((failed + 1))
fi

# ---- Windows ---------------------------------------------------------------------------
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
prefix_root=$(mktemp -d)
trap 'wineserver -k >/dev/null 2>&1; rm -rf "$prefix_root"' EXIT

# The Wine loader a Windows build folder's tests run under.
emulator_of() { sed -n 's/^WINE_EXECUTABLE:FILEPATH=//p' "$1/CMakeCache.txt"; }

# probe DIR: makes a fresh prefix with the build's loader and runs the build's smallest
# program in it. Sets probe_seen to what happened; succeeds when the program ran.
probe() {
  local dir=$1 emu out
  emu=$(emulator_of "$dir")
  if [ -z "$emu" ]; then probe_seen="no Wine loader found"; return 1; fi
  export WINEPREFIX="$prefix_root/$(basename "$dir")"
  out=$("$emu" wineboot -i 2>&1 && "$emu" "$dir/tests/wine_probe.exe" 2>&1)
  local rc=$?
  if [ $rc -eq 0 ] && echo "$out" | grep -q "ambrel wine probe"; then
    probe_seen=$(echo "$out" | grep "ambrel wine probe" | tail -n 1)
    return 0
  fi
  probe_seen="exit $rc: $(echo "$out" | grep -v '^$' | tail -n 1)"
  return 1
}

echo "== Windows build (mingw-w64, i686): the programs that ship"
win32_built=0
build "$root/build-win32" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw.cmake" -DAMBREL_WINDOWS_ARCH=i686 \
  -DAMBREL_NATIVE_TOOL="$root/build/ambrel" && win32_built=1
[ $win32_built -eq 1 ] || failed=$((failed + 1))

flavour_dir=""
why=""
if [ "${AMBREL_WINE64:-0}" = 1 ]; then
  why="the 64-bit flavour is forced by AMBREL_WINE64=1"
elif [ $win32_built -eq 1 ] && probe "$root/build-win32"; then
  flavour_dir="$root/build-win32"
  why="the i686 probe ran under $(emulator_of "$flavour_dir") ($probe_seen)"
else
  why="the i686 probe could not run under wine (${probe_seen:-not built})"
fi

if [ -z "$flavour_dir" ]; then
  echo "== Windows build (mingw-w64, x86_64) for the tests, because $why"
  if bash "$root/scripts/install-deps.sh" --win64 &&
     build "$root/build-win64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw.cmake" -DAMBREL_WINDOWS_ARCH=x86_64 \
       -DAMBREL_NATIVE_TOOL="$root/build/ambrel"; then
    if probe "$root/build-win64"; then
      flavour_dir="$root/build-win64"
      why="$why; the x86_64 probe ran under $(emulator_of "$flavour_dir") ($probe_seen)"
    else
      why="$why; the x86_64 probe could not run either ($probe_seen)"
    fi
  else
    why="$why; the x86_64 build failed"
  fi
fi

if [ -n "$flavour_dir" ]; then
  echo "Windows tests: $(basename "$flavour_dir") flavour, because $why"
  # One Wine server for the whole run: every test case is a program start of its own, and
  # a server that ended with the last one would be started again for the next. Its helper
  # programs (services, explorer) start now, with no output to inherit: started by a test,
  # they would hold that test's output pipe open for as long as the server lives.
  wineserver -p
  "$(emulator_of "$flavour_dir")" wineboot >/dev/null 2>&1 </dev/null
  run_ctest "$flavour_dir"
else
  echo "Windows tests: not run, counted as a failure, because $why"
  failed=$((failed + 1))
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
