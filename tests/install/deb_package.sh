#!/usr/bin/env bash
# Checks the Debian package CPack makes of a native build: its name, its files (program,
# man page, completion, README, copyright, compressed changelog), its control fields
# (dependencies from dpkg-shlibdeps, maintainer, description), and lintian's verdict.
# Usage: deb_package.sh BUILD_DIR
set -u
build=$1
source "$(dirname "$0")/../support/cli_checks.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

version=$("$build/ambrel" --version | sed 's/^ambrel //')
arch=$(dpkg --print-architecture)
expect 0 "cpack -G DEB" cpack -G DEB -B "$work/out" --config "$build/CPackConfig.cmake"
deb=$work/out/ambrel_${version}_${arch}.deb
[ -f "$deb" ] || { fail "no $(basename "$deb"): $(ls "$work/out")"; exit 1; }

expect 0 "dpkg-deb -c" dpkg-deb -c "$deb"
for file in ./usr/bin/ambrel ./usr/share/man/man1/ambrel.1.gz ./usr/share/bash-completion/completions/ambrel \
            ./usr/share/doc/ambrel/README.md ./usr/share/doc/ambrel/copyright ./usr/share/doc/ambrel/changelog.gz; do
  grep -q " $file\$" out.txt || fail "not in the package: $file"
done
grep -q " root/root .* ./usr/bin/ambrel\$" out.txt || fail "ambrel is not owned by root"
grep -q "^-rwxr-xr-x .* ./usr/bin/ambrel\$" out.txt || fail "ambrel is not mode 755"

expect 0 "dpkg-deb -I" dpkg-deb -I "$deb"
has "^ Package: ambrel$" "package name"
has "^ Version: $version$" "version"
has "^ Architecture: $arch$" "architecture"
has "^ Maintainer: .*<.*@.*>$" "maintainer"
has "^ Depends: .*libc6 (>= " "dependencies from dpkg-shlibdeps"
has "^ Depends: .*zlib1g" "zlib dependency"
has "^ Description: " "description"
has "^  ambrel applies upgrade packages" "long description"
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/ambrel/changelog.gz | gzip -t ||
  fail "changelog.gz is not gzip"
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/bin/ambrel >ambrel.bin
file ambrel.bin | grep -q ", stripped" || fail "the packaged program is not stripped: $(file ambrel.bin)"

# lintian: no errors (warnings and notes are printed for the reader).
lintian --tag-display-limit 0 "$deb" >lintian.txt 2>&1
status=$?
cat lintian.txt
if grep -q "^E: " lintian.txt; then
  fail "lintian reports errors"
elif [ "$status" -ne 0 ]; then
  fail "lintian did not run (exit $status)"
fi

[ "$failures" -eq 0 ] && echo "deb package: all checks passed"
exit $((failures > 0))
