#!/usr/bin/env bash
# Checks `cmake --install` of a native build into a DESTDIR: the installed program runs,
# its man page reads and lints cleanly and names every command and option of --help, and
# the bash completion completes commands and options.
# Usage: install_tree.sh BUILD_DIR
set -u
build=$1
source "$(dirname "$0")/../support/cli_checks.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
root=$work/root

DESTDIR=$root cmake --install "$build" --prefix /usr >install.log 2>&1 || { fail "cmake --install"; cat install.log; }
for file in usr/bin/ambrel usr/share/man/man1/ambrel.1 usr/share/bash-completion/completions/ambrel \
            usr/share/doc/ambrel/README.md usr/share/doc/ambrel/copyright usr/share/doc/ambrel/changelog.gz; do
  [ -f "$root/$file" ] || fail "not installed: $file"
done
program=$root/usr/bin/ambrel
page=$root/usr/share/man/man1/ambrel.1

# The program and its version.
expect 0 "installed ambrel --version" "$program" --version
has "^ambrel [0-9][0-9.]*$" "--version"
version=$(cat out.txt)

# The man page: it renders, carries the same version, lints without warnings, and holds
# the hand-written sections and every command and option the program's help lists.
expect 0 "man -l" env LC_ALL=C MANWIDTH=250 man -l "$page"
cp out.txt man.txt
has "^AMBREL(1)" "man page header"
grep -q -- "$version" man.txt || fail "man page: no \"$version\""
for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" FILES EXAMPLES; do
  grep -q "^$section" man.txt || fail "man page: no section $section"
done
for word in __QXUPD_ .minisig; do grep -q -- "$word" man.txt || fail "man page: no $word"; done
expect 0 "mandoc -T lint" mandoc -T lint -W warning "$page"
[ -s out.txt ] && { fail "mandoc -T lint reports"; cat out.txt; }
commands=$("$program" --help | sed -n '/^Subcommands:/,/^$/s/^  \([^ ]*\).*/\1/p')
[ -n "$commands" ] || fail "no commands in ambrel --help"
for command in $commands; do
  grep -q "^   ambrel $command\$" man.txt || fail "man page: no section for $command"
  for option in $("$program" "$command" --help | grep -oE '(^| |,)--?[a-z][a-z-]*' | tr -d ' ,' | sort -u); do
    grep -q -- "$option" man.txt || fail "man page: no $option of $command"
  done
done

# The completion: it loads in bash and completes commands and each command's options.
complete_words() {
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _ambrel
           echo "${COMPREPLY[*]}"' _ "$root/usr/share/bash-completion/completions/ambrel" "$@"
}
[ "$(complete_words ambrel ap)" = apply ] || fail "completing 'ambrel ap': $(complete_words ambrel ap)"
[ "$(complete_words ambrel i)" = "info identity" ] || fail "completing 'ambrel i': $(complete_words ambrel i)"
[ "$(complete_words ambrel info --j)" = --json ] || fail "completing 'ambrel info --j'"
[ "$(complete_words ambrel --ver)" = --version ] || fail "completing 'ambrel --ver'"
for command in $commands; do
  for option in $("$program" "$command" --help | grep -oE '(^| |,)--[a-z][a-z-]*' | tr -d ' ,' | sort -u); do
    complete_words ambrel "$command" "$option" | grep -qw -- "$option" || fail "completing $option of $command"
  done
done

[ "$failures" -eq 0 ] && echo "install tree: all checks passed"
exit $((failures > 0))
