# shellcheck shell=bash
# Shared set-up of the applicator's end-to-end tests: their arguments, the Wine harness, a
# sample program in two versions with the packages between them, and folder checks.
# Usage in a test:  . "$(dirname "$0")/common.sh" NAME AMBREL32_EXE EMULATOR NATIVE_AMBREL WIN_PEEK_EXE
set -u
GUI_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$GUI_DIR/../wine/lib.sh"

absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
AMBREL32=$(absolute "$2")
NATIVE_AMBREL=${4:-}
WIN_PEEK=$(absolute "$5")
wine_init "$3" "$1"
if [ -z "$NATIVE_AMBREL" ] || [ ! -x "$NATIVE_AMBREL" ]; then
  echo "$1: needs the native ambrel to build packages (configure with -DAMBREL_NATIVE_TOOL=.../build/ambrel)"
  exit 1
fi
xvfb_start || exit 1
FIX=$WINE_WORK/fixtures
mkdir -p "$FIX"

APPLIED="The upgrade has been applied."
ABORTED="The upgrade process was aborted. No changes have been made to any of your files."
INSTALLED='C:\Games\Brackwold\Current'  # three folders deep: the search must go down to it

# The sample program in two versions: an unchanged file, two updated ones, a removed and
# an added one. Old files are stamped 2024-01-10 12:00, changed and added ones 2024-03-01
# 09:30 (even seconds: MS-DOS stamps have a 2-second step).
make_versions() {
  local old=$FIX/old new=$FIX/new
  mkdir -p "$old/Maps" "$old/System" "$new/Maps" "$new/System" "$new/Extra"
  printf 'abc' >"$old/abc.txt"
  head -c 300000 /dev/urandom >"$old/Maps/Level.map"
  head -c 60000 /dev/urandom >"$old/System/Core.dll"
  printf 'to be removed\n' >"$old/gone.txt"
  touch -d '2024-01-10 12:00:00' "$old/abc.txt" "$old/Maps/Level.map" "$old/System/Core.dll" "$old/gone.txt"
  cp -p "$old/abc.txt" "$new/abc.txt"
  { head -c 150000 "$old/Maps/Level.map"; printf 'NEW'; tail -c 100000 "$old/Maps/Level.map"; } >"$new/Maps/Level.map"
  { cat "$old/System/Core.dll"; printf 'version 1.3'; } >"$new/System/Core.dll"
  printf 'added\r\n' >"$new/Extra/added.txt"
  touch -d '2024-03-01 09:30:00' "$new/Maps/Level.map" "$new/System/Core.dll" "$new/Extra/added.txt"
}

# build OLD NEW PACKAGE [ambrel build options...]
build() {
  local old=$1 new=$2 package=$3
  shift 3
  "$NATIVE_AMBREL" build "$old" "$new" -o "$package" "$@" >/dev/null 2>&1 || {
    echo "$WINE_NAME: could not build $package" >&2
    exit 1
  }
}

# install_program 'C:\folder' [PACKAGE NAME]: the program (and a package under NAME) there.
install_program() {
  local folder
  folder=$(wine_c "$1")
  mkdir -p "$folder"
  cp "$AMBREL32" "$folder/ambrel32.exe"
  [ $# -ge 3 ] && cp "$2" "$folder/$3"
  return 0
}

# install_copy SOURCE 'C:\folder': an installed copy of a version.
install_copy() {
  local folder
  folder=$(wine_c "$2")
  mkdir -p "$folder"
  cp -rp "$1/." "$folder/"
}

# What a folder holds: every file with its size, MS-DOS-rounded time and content hash,
# and every folder.
tree_state() {
  (
    cd "$1" || exit 1
    find . -type d | sort
    find . -type f -print0 | sort -z | while IFS= read -r -d '' f; do
      echo "$f $(stat -c '%s %Y' "$f") $(md5sum <"$f" | cut -c1-32)"
    done
  )
}

# same_tree DESCRIPTION ACTUAL EXPECTED: the same files, contents and time stamps.
same_tree() {
  local got want
  got=$(tree_state "$2")
  want=$(tree_state "$3")
  if [ "$got" != "$want" ]; then
    fail "$1"
    diff <(echo "$want") <(echo "$got") | head -n 20 >&2
  fi
}

no_temporary_folder() {
  [ ! -e "$(wine_c "$1")/__QXUPD_" ] || fail "a temporary folder __QXUPD_ was left in $1"
}

# keep_screenshot NAME [CAPTION]: with AMBREL_SCREENSHOTS set, copies the last screenshot
# there as NAME.png, cut to the window with that caption (and a margin) when one is given.
keep_screenshot() {
  [ -n "${AMBREL_SCREENSHOTS:-}" ] || return 0
  mkdir -p "$AMBREL_SCREENSHOTS"
  if [ $# -ge 2 ]; then
    local l t r b
    read -r l t r b < <(win_texts "$2" | awk -F'\t' '$1 == "window" { print $2, $3, $4, $5; exit }')
    convert "$LAST_SHOT" -crop "$((r - l + 40))x$((b - t + 40))+$((l - 20))+$((t - 20))" +repage \
      "$AMBREL_SCREENSHOTS/$1.png"
  else
    cp "$LAST_SHOT" "$AMBREL_SCREENSHOTS/$1.png"
  fi
}

# same_text_ignoring_case DESCRIPTION ACTUAL EXPECTED: the folder labels are written by the
# system's directory-list service, whose letter case is its own.
same_text_ignoring_case() {
  [ "${2,,}" = "${3,,}" ] || fail "$1: \"$2\", expected \"$3\""
}

# browse_into NAME: in the open folder chooser, a double click on the folder NAME in its
# folder list (".." is the parent); waits until the chooser shows the folder it opened.
browse_into() {
  local chooser="Change Target Folder" before item start=$SECONDS
  before=$(control_text "$chooser" 1088)
  item=$(list_items "$chooser" 1121 |
    awk -F'\t' -v want="[${1,,}]" 'tolower($6) == want { print $2, $3, $4, $5; exit }')
  if [ -z "$item" ]; then
    fail "the folder chooser lists no folder \"$1\" in $before"
    return 1
  fi
  set -- $item
  xdotool mousemove $((($1 + $3) / 2)) $((($2 + $4) / 2)) click --repeat 2 --delay 100 1
  while [ "$(control_text "$chooser" 1088)" = "$before" ]; do
    if [ $((SECONDS - start)) -ge 30 ]; then
      fail "the folder chooser stayed in $before after a double click"
      return 1
    fi
    sleep 0.2
  done
}

# choose_folder: OK in the folder chooser; waits until it has gone.
choose_folder() {
  local chooser
  chooser=$(win_ids "Change Target Folder" | tail -n 1)
  control_click "Change Target Folder" 1 || return 1
  win_wait_gone "$chooser" 30
}
