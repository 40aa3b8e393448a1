# Checks shared by the end-to-end scripts in tests/cli (sourced, not run). They count
# failures in `failures` and keep each command's output in out.txt.
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# expect CODE DESCRIPTION COMMAND...: runs the command and checks its exit code.
expect() {
  local want=$1 what=$2
  shift 2
  "$@" >out.txt 2>&1
  local got=$?
  [ "$got" -eq "$want" ] || { fail "$what: exit $got, expected $want"; cat -v out.txt; }
}
has() { grep -q -- "$1" out.txt || { fail "$2: no \"$1\" in the output"; cat -v out.txt; }; }
lacks() { ! grep -q -- "$1" out.txt || { fail "$2: \"$1\" in the output"; cat -v out.txt; }; }
