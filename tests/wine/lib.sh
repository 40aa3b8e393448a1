# shellcheck shell=bash
# Harness shared by the end-to-end tests of the Win32 programs: fresh Wine prefixes, a
# headless X server, finding windows by caption and driving them with xdotool, screenshots,
# pixels and message-box texts. Source it from a bash test script:
#
#   . "$(dirname "$0")/../wine/lib.sh"
#   wine_init "$EMULATOR" my_test        # once; removes everything it made at exit
#   xvfb_start
#   scenario "happy path" happy_path      # runs a function with the failure bookkeeping
#                                         # (only those whose name matches the extended
#                                         # regular expression $AMBREL_SCENARIO, when set)
#   wine_finish                           # prints the summary and exits 0 or 1
#
# A scenario function usually does: wine_new_prefix; copy the program onto C:; wine_start
# it; win_wait / win_key / expect_msgbox ...; wine_wait_exit; checks. Windows are always
# waited for with a timeout; a wait that times out reports which window it waited for,
# lists the visible windows, keeps a screenshot and returns 1.
#
# Variables (set by the functions, read by the caller):
#   EMULATOR     the Wine loader every Windows program runs through (CMake's
#                CMAKE_CROSSCOMPILING_EMULATOR: `wine` for i686, /usr/lib/wine/wine64 for x86_64)
#   WINE_WORK    this script's scratch folder; removed at exit
#   WINEPREFIX   the current prefix (wine_new_prefix); DISPLAY the Xvfb display (xvfb_start)
#   WINE_PID     process id of the program started last; WINE_LOG its standard error
#   WIN          window id found by the last successful win_wait*; WIN_CAPTION its caption
#   LAST_SHOT    the screenshot taken last; FAILURES the number of failed checks so far
#   WINE_KEEP    where screenshots of failures are kept (default: ./wine-failures, or
#                $AMBREL_WINE_KEEP)
#   WIN_PEEK     (set by the caller) host path of the Windows build's win_peek.exe, which
#                win_texts, control_text, control_wait and win_cover run inside the prefix
#
# Functions:
#   wine_init EMULATOR NAME      sets up WINE_WORK and the exit clean-up; NAME labels output
#   wine_new_prefix              a fresh prefix: a copy of a template booted once per Wine
#                                loader (cached in $AMBREL_WINE_TEMPLATES, default
#                                /tmp/ambrel-wine-templates) in which Wine draws window frames
#                                itself (X11 "Managed"=N: no window manager is needed) and
#                                whose Z: drive (the host's root) and links into the host
#                                (the user folders) are removed, so nothing can walk the
#                                host's file system. Wine's own fonts are installed into it,
#                                and Wine's relay trace is limited to MessageBoxA and
#                                ExtTextOutA (see msgbox_calls, drawn_texts). About a quarter
#                                second.
#   wine_c 'C:\a\b'              prints the host path of a path on C: of the current prefix
#   wine_windows_dir             prints the prefix's Windows folder as Windows spells it
#   xvfb_start [WxH]             starts Xvfb on a free display (default 1024x768, 24 bits)
#                                and exports DISPLAY; xvfb_stop ends it (also at exit)
#   wine_start 'C:\dir\prog.exe' [ARGS...]
#                                starts the program in the background in its own folder with
#                                WINEDEBUG=-all,trace+msgbox,err+winediag,+relay (plus
#                                $WINE_TRACE, e.g. "trace+dialog"); its stderr goes to WINE_LOG
#   wine_wait_exit [SECONDS]     waits for the program started last (default 30 s); returns
#                                its exit code, 124 on timeout (reported as a failure)
#   wine_stop                    ends every process of the current prefix (wineserver -k)
#   win_wait CAPTION [SECONDS]   waits for a visible window whose caption is exactly CAPTION
#                                (default 30 s); sets WIN and WIN_CAPTION
#   win_wait_new CAPTION [SECONDS]
#                                as win_wait, but only a window id that no win_wait* has
#                                returned before (pages and boxes that share one caption)
#   win_wait_any SECONDS CAPTION...
#                                the first visible window with one of the captions that is
#                                new (not returned before); sets WIN and WIN_CAPTION
#   win_wait_gone ID [SECONDS]   waits until the window is no longer visible
#   win_ids CAPTION              prints the ids of the visible windows with that caption,
#                                oldest first (win_wait_new thus finds the next new window)
#   win_key ID KEY...            gives the window the keyboard focus and sends xdotool keys
#                                (Return, Escape, y, n, alt+b, ...)
#   win_click ID X Y             clicks at (X, Y) relative to the window's top-left corner
#   win_geometry ID              prints "X Y WIDTH HEIGHT" of the window on the screen
#   win_texts CAPTION            what the visible windows with that caption show (win_peek
#                                texts): per window "window L T R B CL CT CR CB ENABLED
#                                MAXIMISED HANDLE", then per control "ID CLASS ENABLED VISIBLE L
#                                T R B TEXT", tab-separated, rectangles on the screen, a CR as
#                                \r and a LF as \n
#   win_handle CAPTION [ID]      the handle (hex, no leading zeros) of the topmost visible window
#                                with that caption (that holds control ID, when given)
#   win_move HANDLE X Y          moves that window's top-left corner to (X, Y) on the screen
#   win_redraw HANDLE            invalidates that window, background and controls included,
#                                so that its program paints it again
#   list_items CAPTION ID        the items of list box ID in that window: "INDEX L T R B TEXT"
#   control_text CAPTION ID [FIELD]
#                                one field (default 9, the text; 3 enabled, 5-8 the rectangle)
#                                of control ID in the topmost window with that caption
#   control_wait CAPTION ID TEXT [SECONDS]
#                                waits until control ID of that window shows TEXT
#   control_click CAPTION ID     clicks the middle of control ID of that window
#   win_client CAPTION           prints "L T R B" of the topmost such window's client area
#   win_cover CAPTION            takes that window's caption bar and frame off and makes it as
#                                large as the screen, so that its client area covers the
#                                whole screen
#   shot NAME                    screenshot of the whole screen to $WINE_WORK/NAME.png; sets
#                                LAST_SHOT
#   pixel FILE X Y               prints "R G B" (0..255) of one pixel of a picture
#   pixels FILE X Y W H          prints "X Y R G B" for every pixel of that rectangle
#   msgbox_texts                 prints the texts of every message box the program started
#                                last has shown, one per line (line breaks as the two
#                                characters \n, everything else as written)
#   msgbox_calls                 prints one line "OWNER FLAGS CAPTION" (tab-separated; owner
#                                window handle and the MB_* flags in hex without leading zeros)
#                                for every MessageBoxA call of the program started last, in the
#                                order of msgbox_texts
#   drawn_texts                  prints every text the program started last drew with
#                                ExtTextOutA, one per line, in order
#   expect_msgbox CAPTION TEXT [SECONDS]
#                                waits for a new box with that caption and checks that the
#                                last box text is TEXT; sets WIN (returns 1 when no box came)
#   check DESCRIPTION COMMAND... runs the command; a failure is counted and reported
#   fail MESSAGE                 counts and reports a failure (keeps a screenshot)
#   scenario NAME FUNCTION [ARGS...]
#                                runs a function as one scenario: counts a failure when it
#                                returns nonzero, ends the prefix's programs afterwards and
#                                prints the scenario's name and time
#   wine_finish                  prints "NAME: N checks failed" or "NAME: all checks passed"
#                                and exits with 0 or 1
#
# Driving the applicator ambrel32.exe (captions as the program shows them):
#   wizard_happy_path [SECONDS]  with ambrel32 started and its package and installed copy in
#                                place: waits for the backdrop "Corvelle Ambrel", presses
#                                Next (Return) on page 1 and page 2 (windows "Ambrel"), and
#                                waits for the final box, which it closes with Return. Returns
#                                0 when that box was "All Finished" / "The upgrade has been
#                                applied."; reports a failure and returns 1 when a page 3, an
#                                error or an aborted upgrade came instead, or a window did
#                                not come in time (default 60 s for the whole apply).

WINE_LIB_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
FAILURES=0
WIN=""
WIN_CAPTION=""
WIN_SEEN=" "
LAST_SHOT=""
WINE_PID=""
WINE_LOG=""
XVFB_PID=""
WINE_NAME="wine test"
WINE_TEMPLATE_RECIPE=3  # raise when the template is made differently, so old caches are not used

wine_init() {
  EMULATOR=$1
  WINE_NAME=${2:-wine test}
  if [ -z "$EMULATOR" ]; then
    echo "$WINE_NAME: no Wine loader given" >&2
    exit 1
  fi
  WINE_WORK=$(mktemp -d)
  WINE_KEEP=${AMBREL_WINE_KEEP:-$PWD/wine-failures}
  WINESERVER="$(dirname "$EMULATOR")/wineserver"
  [ -x "$WINESERVER" ] || WINESERVER=wineserver
  export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
  trap _wine_cleanup EXIT
  trap 'exit 143' TERM INT  # so that the clean-up runs when a test is stopped
}

_wine_cleanup() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then wine_stop; fi
  xvfb_stop
  [ -n "${WINE_WORK:-}" ] && rm -rf "$WINE_WORK"
}

# The template prefix of this Wine loader: booted once, then only copied.
_wine_template() {
  local root=${AMBREL_WINE_TEMPLATES:-${TMPDIR:-/tmp}/ambrel-wine-templates}
  local version key
  version=$("$EMULATOR" --version 2>/dev/null | tr -c 'A-Za-z0-9.\n' '_')
  key=$(echo "$EMULATOR" | tr -c 'A-Za-z0-9\n' '_')
  WINE_TEMPLATE="$root/$key-$version-$WINE_TEMPLATE_RECIPE"
  mkdir -p "$root"
  (
    flock 9
    if [ ! -e "$WINE_TEMPLATE/.ambrel-ready" ]; then
      rm -rf "$WINE_TEMPLATE"
      export WINEPREFIX=$WINE_TEMPLATE WINEDEBUG=-all
      "$EMULATOR" wineboot -i >/dev/null 2>&1
      # Wine draws the frames and captions itself: the screenshots look like Windows and
      # the windows need no window manager.
      "$EMULATOR" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
      # The relay trace (always on in wine_start) shows only these calls, with their
      # arguments: the owner and flags of message boxes, the texts a program draws itself.
      "$EMULATOR" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
        /d 'user32.MessageBoxA;gdi32.ExtTextOutA' /f >/dev/null 2>&1
      "$WINESERVER" -w
      # Wine's own fonts (Debian: fonts-wine) where every Wine finds them: the caption
      # buttons need Marlett, the dialogs MS Sans Serif.
      [ -d /usr/share/wine/fonts ] && cp -n /usr/share/wine/fonts/* "$WINE_TEMPLATE/drive_c/windows/Fonts/" 2>/dev/null
      # The user folders Wine links to the host's home become plain folders.
      find "$WINE_TEMPLATE/drive_c" -type l | while read -r link; do rm -f "$link" && mkdir -p "$link"; done
      [ -d "$WINE_TEMPLATE/drive_c" ] && touch "$WINE_TEMPLATE/.ambrel-ready"
    fi
  ) 9>"$root/.lock"
  [ -e "$WINE_TEMPLATE/.ambrel-ready" ]
}

wine_new_prefix() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ] && [[ "$WINEPREFIX" == "$WINE_WORK"/* ]]; then
    wine_stop
    rm -rf "$WINEPREFIX"
  fi
  if ! _wine_template; then
    echo "$WINE_NAME: could not boot a template prefix with $EMULATOR" >&2
    return 1
  fi
  local prefix
  prefix=$(mktemp -d "$WINE_WORK/prefix.XXXX")
  rmdir "$prefix"
  # The Windows folder's program files are never written by the programs under test, so
  # they are hard links; everything else (registry, drive C:) is a real copy.
  if cp -al "$WINE_TEMPLATE" "$prefix" 2>/dev/null; then
    find "$prefix" -type f -links +1 ! -path '*/windows/system32/*' ! -path '*/windows/syswow64/*' \
      ! -path '*/windows/winsxs/*' -exec sh -c 'for f; do cp -p "$f" "$f.copy" && mv -f "$f.copy" "$f"; done' sh {} +
  else
    rm -rf "$prefix"
    cp -a "$WINE_TEMPLATE" "$prefix"
  fi
  rm -f "$prefix/.ambrel-ready" "$prefix/dosdevices/z:"
  # Links out of the prefix (Wine makes them for the user folders) would let a search walk
  # the host; they become empty folders.
  find "$prefix/drive_c" -type l | while read -r link; do rm -f "$link" && mkdir -p "$link"; done
  export WINEPREFIX=$prefix
}

wine_c() {
  local p=${1#[Cc]:}
  p=${p//\\//}
  echo "$WINEPREFIX/drive_c${p}"
}

wine_windows_dir() { echo 'C:\windows'; }

xvfb_start() {
  local size=${1:-1024x768}
  local fifo=$WINE_WORK/display
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  XVFB_PID=$!
  local number
  read -r -t 20 number <"$fifo"
  rm -f "$fifo"
  if [ -z "$number" ]; then
    echo "$WINE_NAME: Xvfb did not start" >&2
    return 1
  fi
  export DISPLAY=":$number"
}

xvfb_stop() {
  if [ -n "$XVFB_PID" ]; then
    kill "$XVFB_PID" 2>/dev/null
    wait "$XVFB_PID" 2>/dev/null
    XVFB_PID=""
  fi
}

wine_start() {
  WIN_SEEN=" "
  WINE_ARGS=("$@")
  WINE_RESTARTS=0
  _wine_launch
}

# Starts WINE_ARGS (the program, then its arguments) in the program's folder.
_wine_launch() {
  local program=${WINE_ARGS[0]}
  local folder=${program%\\*}
  WINE_LOG=$(mktemp "$WINE_WORK/stderr.XXXX")
  (
    cd "$(wine_c "$folder")" || exit 1
    WINEDEBUG="-all,trace+msgbox,err+winediag,+relay${WINE_TRACE:+,$WINE_TRACE}" exec "$EMULATOR" "${WINE_ARGS[@]}"
  ) </dev/null >/dev/null 2>"$WINE_LOG" &
  WINE_PID=$!
}

# True, after starting the program again in a restarted prefix, when it ended because Wine
# could not bring up its desktop process (on a loaded host that start can time out): the
# program never got a window, so nothing of it ran. At most twice per start.
_wine_restart_without_display() {
  [ -n "${WINE_PID:-}" ] && [ "${WINE_RESTARTS:-2}" -lt 2 ] || return 1
  ! kill -0 "$WINE_PID" 2>/dev/null && grep -q 'nodrv_CreateWindow' "$WINE_LOG" 2>/dev/null || return 1
  # The prefix keeps a desktop that failed, so its processes end first.
  wine_stop
  echo "  note: Wine could not start its desktop (no display driver); starting the program again" >&2
  WINE_RESTARTS=$((WINE_RESTARTS + 1))
  _wine_launch
}

wine_wait_exit() {
  local limit=${1:-30} start=$SECONDS
  while kill -0 "$WINE_PID" 2>/dev/null; do
    if [ $((SECONDS - start)) -ge "$limit" ]; then
      fail "the program did not end within ${limit} s"
      return 124
    fi
    sleep 0.1
  done
  wait "$WINE_PID"
}

wine_stop() {
  "$WINESERVER" -k >/dev/null 2>&1
  "$WINESERVER" -w >/dev/null 2>&1
  [ -n "$WINE_PID" ] && wait "$WINE_PID" 2>/dev/null
  WINE_PID=""
}

win_ids() {
  local id
  # Oldest first: X window ids grow as Wine creates windows.
  for id in $(xdotool search --onlyvisible --name "$(_regex_of "$1")" 2>/dev/null | sort -n); do
    [ "$(xdotool getwindowname "$id" 2>/dev/null)" = "$1" ] && echo "$id"
  done
}

_regex_of() { printf '^%s$' "$(printf '%s' "$1" | sed 's/[][\.*^$+?(){}|/]/\\&/g')"; }

# _win_find NEW CAPTION...: sets WIN to a visible window with one of the captions (only an
# id not seen before when NEW is 1).
_win_find() {
  local new=$1 caption id
  shift
  for caption in "$@"; do
    for id in $(win_ids "$caption"); do
      if [ "$new" = 1 ] && [[ "$WIN_SEEN" == *" $id "* ]]; then continue; fi
      WIN=$id
      WIN_CAPTION=$caption
      WIN_SEEN="$WIN_SEEN$id "
      return 0
    done
  done
  return 1
}

_win_wait() {
  local new=$1 limit=$2 start=$SECONDS
  shift 2
  while ! _win_find "$new" "$@"; do
    _wine_restart_without_display
    if [ $((SECONDS - start)) -ge "$limit" ]; then
      local what
      what=$(printf '"%s" ' "$@")
      [ "$new" = 1 ] && what="a new window $what"
      fail "timed out after ${limit} s waiting for the window ${what% }"
      return 1
    fi
    sleep 0.1
  done
}

win_wait() { _win_wait 0 "${2:-30}" "$1"; }
win_wait_new() { _win_wait 1 "${2:-30}" "$1"; }
win_wait_any() {
  local limit=$1
  shift
  _win_wait 1 "$limit" "$@"
}

win_wait_gone() {
  local id=$1 limit=${2:-30} start=$SECONDS
  while xdotool search --onlyvisible --name '.*' 2>/dev/null | grep -qx "$id"; do
    if [ $((SECONDS - start)) -ge "$limit" ]; then
      fail "timed out after ${limit} s waiting for window $id ($(xdotool getwindowname "$id" 2>/dev/null)) to go"
      return 1
    fi
    sleep 0.1
  done
}

win_key() {
  local id=$1
  shift
  xdotool windowfocus "$id" 2>/dev/null
  sleep 0.2
  xdotool key --delay 50 "$@"
}

win_click() {
  xdotool mousemove --window "$1" "$2" "$3" click 1
}

win_geometry() {
  (
    eval "$(xdotool getwindowgeometry --shell "$1")"
    echo "$X $Y $WIDTH $HEIGHT"
  )
}

# Runs win_peek inside the current prefix (from C:, since the prefix has no Z: drive).
_peek() {
  local tool
  tool=$(wine_c 'C:\ambrel-test-tools')
  if [ ! -e "$tool/win_peek.exe" ]; then
    mkdir -p "$tool" && cp "$WIN_PEEK" "$tool/win_peek.exe" || return 2
  fi
  (cd "$tool" && WINEDEBUG=-all "$EMULATOR" 'C:\ambrel-test-tools\win_peek.exe' "$@" 2>/dev/null | tr -d '\r')
}

win_texts() { _peek texts "$1"; }

control_text() {
  win_texts "$1" | awk -F'\t' -v id="$2" -v field="${3:-9}" '$1 == "window" { n++ } n == 1 && $1 == id { print $field; exit }'
}

control_wait() {
  local caption=$1 id=$2 want=$3 limit=${4:-30} start=$SECONDS got=""
  while [ $((SECONDS - start)) -lt "$limit" ]; do
    got=$(control_text "$caption" "$id")
    [ "$got" = "$want" ] && return 0
    sleep 0.2
  done
  fail "timed out after ${limit} s waiting for control $id of \"$caption\" to show \"$want\" (it shows \"$got\")"
  return 1
}

control_click() {
  local rect
  rect=$(win_texts "$1" | awk -F'\t' -v id="$2" '$1 == "window" { n++ } n == 1 && $1 == id { print $5, $6, $7, $8; exit }')
  if [ -z "$rect" ]; then
    fail "no control $2 in the window \"$1\" to click"
    return 1
  fi
  set -- $rect
  xdotool mousemove $((($1 + $3) / 2)) $((($2 + $4) / 2)) click 1
}

win_handle() {
  win_texts "$1" | awk -F'\t' -v id="${2:-}" '
    $1 == "window" { handle = $12; if (id == "") { print handle; exit } }
    $1 != "window" && $1 == id { print handle; exit }' | sed 's/^0*\(.\)/\1/'
}

win_move() { _peek move "$@" >/dev/null; }

win_redraw() { _peek redraw "$1" >/dev/null; }

list_items() { _peek items "$1" "$2"; }

win_client() { win_texts "$1" | awk -F'\t' '$1 == "window" { print $6, $7, $8, $9; exit }'; }

win_cover() { _peek cover "$1" >/dev/null; }

shot() {
  LAST_SHOT="$WINE_WORK/$1.png"
  import -window root "$LAST_SHOT" 2>/dev/null
}

pixel() {
  convert "$1" -crop "1x1+$2+$3" +repage -depth 8 txt:- 2>/dev/null |
    sed -n 's/.*(\([0-9.]*\),\([0-9.]*\),\([0-9.]*\).*/\1 \2 \3/p' | head -n 1
}

pixels() {
  convert "$1" -crop "${4}x${5}+$2+$3" +repage -depth 8 txt:- 2>/dev/null |
    sed -n 's/^\([0-9]*\),\([0-9]*\): *(\([0-9.]*\),\([0-9.]*\),\([0-9.]*\).*/\1 \2 \3 \4 \5/p' |
    awk -v x="$2" -v y="$3" '{ print $1 + x, $2 + y, int($3), int($4), int($5) }'
}

msgbox_texts() {
  [ -n "$WINE_LOG" ] || return 0
  # Wine writes the text escaped: \\ for a backslash, \" for a quote, \n for a line break.
  sed -n 's/.*trace:msgbox:MSGBOX_OnInit L"\(.*\)"$/\1/p' "$WINE_LOG" |
    sed 's/\\\\/\x01/g; s/\\"/"/g; s/\x01/\\/g'
}

msgbox_calls() {
  [ -n "$WINE_LOG" ] || return 0
  # Relay: Call user32.MessageBoxA(OWNER,PTR "TEXT",PTR "CAPTION",FLAGS) ret=...
  sed -n 's/.*:Call user32\.MessageBoxA(\([0-9a-fA-F]*\),.*,[0-9a-fA-F]* "\(.*\)",\([0-9a-fA-F]*\)) ret=.*/\1 \3 \2/p' \
    "$WINE_LOG" | while read -r owner flags caption; do
    printf '%x\t%x\t%s\n' "$((16#$owner))" "$((16#$flags))" "$caption"
  done
}

drawn_texts() {
  [ -n "$WINE_LOG" ] || return 0
  # Relay: Call gdi32.ExtTextOutA(DC,X,Y,OPTIONS,RECT,PTR "TEXT",COUNT,DX) ret=...
  sed -n 's/.*:Call gdi32\.ExtTextOutA([0-9a-fA-F,]*[0-9a-fA-F]* "\(.*\)",[0-9a-fA-F]*,[0-9a-fA-F]*) ret=.*/\1/p' "$WINE_LOG"
}

expect_msgbox() {
  local caption=$1 text=$2 limit=${3:-30}
  win_wait_new "$caption" "$limit" || return 1
  local last
  last=$(msgbox_texts | tail -n 1)
  [ "$last" = "$text" ] || fail "box \"$caption\" says \"$last\", expected \"$text\""
  return 0
}

check() {
  local what=$1
  shift
  "$@" || fail "$what"
}

fail() {
  FAILURES=$((FAILURES + 1))
  echo "FAIL [$WINE_NAME${WINE_SCENARIO:+: $WINE_SCENARIO}]: $*" >&2
  if [ -n "${DISPLAY:-}" ]; then
    mkdir -p "$WINE_KEEP"
    local kept
    kept="$WINE_KEEP/$(echo "$WINE_NAME-${WINE_SCENARIO:-}-$FAILURES" | tr -c 'A-Za-z0-9_.\n-' '_').png"
    import -window root "$kept" 2>/dev/null && echo "  screenshot kept: $kept" >&2
    echo "  visible windows:" >&2
    local id name
    for id in $(xdotool search --onlyvisible --name '.' 2>/dev/null); do
      name=$(xdotool getwindowname "$id" 2>/dev/null)
      [ -n "$name" ] && echo "    $id \"$name\"" >&2
    done
  fi
  if [ -n "$WINE_PID" ]; then
    if kill -0 "$WINE_PID" 2>/dev/null; then
      echo "  the program (pid $WINE_PID) is still running" >&2
    else
      echo "  the program (pid $WINE_PID) has ended" >&2
    fi
  fi
  if [ -n "$WINE_LOG" ] && [ -s "$WINE_LOG" ]; then
    echo "  last lines of the program's stderr:" >&2
    tail -n 5 "$WINE_LOG" | sed 's/^/    /' >&2
  fi
}

scenario() {
  if [ -n "${AMBREL_SCENARIO:-}" ] && ! echo "$1" | grep -Eq -- "$AMBREL_SCENARIO"; then
    echo "-- $WINE_NAME: $1 (skipped: not matched by AMBREL_SCENARIO)"
    return 0
  fi
  WINE_SCENARIO=$1
  shift
  local before=$FAILURES start=$SECONDS
  if ! "$@"; then
    [ "$FAILURES" -gt "$before" ] || fail "scenario ended early"
  fi
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then wine_stop; fi
  echo "-- $WINE_NAME: $WINE_SCENARIO ($((SECONDS - start)) s)"
  WINE_SCENARIO=""
}

wine_finish() {
  if [ "$FAILURES" -eq 0 ]; then
    echo "$WINE_NAME: all checks passed"
    exit 0
  fi
  echo "$WINE_NAME: $FAILURES checks failed"
  exit 1
}

wizard_happy_path() {
  local limit=${1:-60}
  win_wait "Corvelle Ambrel" 90 || return 1
  win_wait_new "Ambrel" 90 || return 1
  win_key "$WIN" Return
  win_wait_new "Ambrel" 45 || return 1
  win_key "$WIN" Return
  win_wait_any "$limit" "All Finished" "Upgrade Aborted" "Error" "Ambrel" || return 1
  local text
  text=$(msgbox_texts | tail -n 1)
  case "$WIN_CAPTION" in
    "All Finished")
      win_key "$WIN" Return
      [ "$text" = "The upgrade has been applied." ] || { fail "the final box says \"$text\""; return 1; }
      return 0
      ;;
    "Ambrel") fail "page 3 (invalid target folder) came instead of the apply" ;;
    *) fail "the box \"$WIN_CAPTION\" came instead of \"All Finished\": $text" ;;
  esac
  return 1
}
