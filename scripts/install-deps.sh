#!/usr/bin/env bash
# Installs the Debian packages the project needs that are not there yet (as root, or through
# sudo). `--native` limits it to the Linux build; `--bench` adds the benchmark's tools;
# `--win64` installs the x86_64 cross compiler that the 64-bit Windows test flavour needs.
set -euo pipefail

native=(cmake make g++ pkg-config libgtest-dev googletest zlib1g-dev libcli11-dev nlohmann-json3-dev libdivsufsort-dev libdeflate-dev tzdata
        libgcrypt20-dev minisign python3 help2man mandoc man-db lintian dpkg-dev file bash-completion)
windows=(g++-mingw-w64-i686 libz-mingw-w64-dev libgcrypt-mingw-w64-dev wine wine32:i386 wine64 fonts-wine xvfb xdotool imagemagick unzip
         binutils-mingw-w64-i686)
win64=(g++-mingw-w64-x86-64 libz-mingw-w64-dev libgcrypt-mingw-w64-dev wine64 fonts-wine xvfb xdotool imagemagick)
bench=(xdelta3 bsdiff zstd time bc python3)
# The fuzz targets of the test command need clang's libFuzzer and sanitizer runtimes.
fuzz=(clang libclang-rt-14-dev)

wanted=("${native[@]}")
case "${1:-}" in
  --native) ;;
  --bench) wanted+=("${bench[@]}") ;;
  --win64) wanted=("${win64[@]}") ;;
  *) wanted+=("${windows[@]}" "${fuzz[@]}") ;;
esac

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing=()
for pkg in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
# The benchmark fetches real releases with npm; a Node.js installed outside Debian's
# packages serves as well.
if [ "${1:-}" = "--bench" ] && ! command -v npm >/dev/null; then missing+=(npm); fi
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
for pkg in "${missing[@]}"; do
  case "$pkg" in
    *:i386) dpkg --print-foreign-architectures | grep -qx i386 || as_root dpkg --add-architecture i386 ;;
  esac
done
as_root apt-get update -qq
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
