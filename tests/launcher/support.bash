# shellcheck shell=bash
# Set-up shared by the launcher's end-to-end tests, over the Wine harness tests/wine/lib.sh:
# the installed game, the CD in a CD-ROM drive, the patch folder, and checks of the game
# folder.
#
# launcher_init NAME BRACKPATCH PROBE APPLICATOR EMULATOR [NATIVE_AMBREL]
#   remembers the programs, names the test and starts Xvfb. Sets REG_VIEW to the registry
#   view the launcher reads HKLM\Software through (/reg:32 for an i686 program, /reg:64 for
#   x86_64).
# game_machine INSTALLED CD STANDIN|REAL [LETTER]
#                            a fresh prefix with all of the following: the game installed
#                            (dated INSTALLED), the CD (dated CD) in drive LETTER (default E:),
#                            the patch folder
# game_install DATE          the game in C:\Games\Brackwold (GAME: its host path), the main
#                            game file dated DATE (UTC), the install key with its "Path"
# cd_make DATE               the CD in $WINE_WORK/cd (CD): every restored file and map, the
#                            main game file dated DATE, the others dated CD_DATE
# cd_retime                  dates the CD's files again after the test has read them
# cd_drive LETTER            maps the CD as a CD-ROM drive (restarts the prefix's server)
# cd_drive_ready LETTER      waits until programs in the prefix see that drive as a CD-ROM
# patch_folder STANDIN|REAL  C:\Patch (PATCH) with brackpatch.exe and an ambrel32.exe: the
#                            probe standing in for the applicator, or the real one
# programs_folder            prints the host path of the Start-menu Programs folder
# tree_state DIR             prints every file and folder of DIR with its size, last-write
#                            time and checksum (reading a file changes its last access)

GAME_WIN='C:\Games\Brackwold'
PATCH_WIN='C:\Patch'
CD_DATE='1999-10-03 10:00:00 UTC'
MAPS=(Arrival Ashfen Thornwick Gallowmere Duskhollow Brinegate Mirefall Saltmarch Ravensedge Cinderholt
      Kestrel Wyrmdeep Brackwold)
CD_PROMPT='This update must access files on your Brackwold CD.\nPlease put your CD into your CD drive and press OK.'
CAPTION='Brackwold Upgrade'

. "$(dirname "${BASH_SOURCE[0]}")/../wine/lib.sh"

launcher_init() {
  BRACKPATCH=$2 PROBE=$3 APPLICATOR=$4
  NATIVE_AMBREL=${6:-}
  wine_init "$5" "$1"
  # The machine field of the PE header: 0x014c i386, 0x8664 x86_64.
  local pe machine
  pe=$(od -An -tu4 -j60 -N4 "$BRACKPATCH" | tr -d ' ')
  machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$BRACKPATCH" | tr -d ' ')
  if [ "$machine" = 8664 ]; then REG_VIEW=/reg:64; else REG_VIEW=/reg:32; fi
  xvfb_start
}

game_machine() {
  wine_new_prefix
  game_install "$1"
  cd_make "$2"
  cd_drive "${4:-e}"
  patch_folder "$3"
  cd_drive_ready "${4:-e}"
}

wreg() { "$EMULATOR" reg "$@" >/dev/null 2>&1 || fail "reg $*"; }

game_install() {
  GAME=$(wine_c "$GAME_WIN")
  mkdir -p "$GAME/system" "$GAME/Maps"
  printf 'installed main %s\n' "$1" >"$GAME/system/Brackwold.U"
  printf 'installed ai\n' >"$GAME/system/Brackwoldai.U"
  printf 'installed engine\n' >"$GAME/system/Engine.U"
  printf 'icon\n' >"$GAME/system/zintra.ico"
  printf 'installed Arrival\n' >"$GAME/Maps/Arrival.bkm"
  printf '[Engine.Engine]\r\nCdPath=E:\\Brackwold\\\r\nLanguage=int\r\n' >"$GAME/system/brackwold.ini"
  printf '[Engine.Engine]\r\nCdPath=..\\\r\n' >"$GAME/system/default.ini"
  touch -d '1998-11-02 08:00:00 UTC' "$GAME"/system/* "$GAME/Maps/Arrival.bkm"
  touch -d "$1" "$GAME/system/Brackwold.U"
  wreg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths\BRACKRUN.EXE' /v Path /t REG_SZ \
    /d "$GAME_WIN" /f "$REG_VIEW"
}

cd_make() {
  CD=$WINE_WORK/cd
  rm -rf "$CD"
  mkdir -p "$CD/Maps" "$CD/system"
  local map
  for map in "${MAPS[@]}"; do printf 'CD map %s\n' "$map" >"$CD/Maps/$map.bkm"; done
  printf 'CD main\n' >"$CD/system/Brackwold.U"
  printf 'CD ai\n' >"$CD/system/Brackwoldai.U"
  printf 'CD engine\n' >"$CD/system/Engine.U"
  CD_MAIN_DATE=$1
  cd_retime
}

# Dates the CD's files again (reading a file changes its last access): last access and
# last write apart, so that a copy that mixes them up is seen.
cd_retime() {
  touch -a -d '1999-10-02 09:00:00 UTC' "$CD"/Maps/* "$CD"/system/*
  touch -m -d "$CD_DATE" "$CD"/Maps/* "$CD"/system/*
  touch -d "$CD_MAIN_DATE" "$CD/system/Brackwold.U"
}

cd_drive() {
  ln -sfn "$CD" "$WINEPREFIX/dosdevices/$1:"
  wreg add 'HKLM\Software\Wine\Drives' /v "$1:" /t REG_SZ /d cdrom /f /reg:64
  # Wine reads the drive types when it starts. Let the server end by itself, which saves
  # the registry; a server killed at once can lose the new value.
  if ! timeout 20 "$WINESERVER" -w >/dev/null 2>&1; then
    "$WINESERVER" -k >/dev/null 2>&1
    "$WINESERVER" -w >/dev/null 2>&1
  fi
}

# Waits until Windows programs in the prefix see drive LETTER as a CD-ROM drive (under load
# the drive type has been seen to lag the restart), mapping it again once after 10 s.
cd_drive_ready() {
  local attempt tries
  for attempt in 1 2; do
    for ((tries = 0; tries < 20; tries++)); do
      "$EMULATOR" "$PATCH/probe.exe" drive-type "$1:" >/dev/null 2>&1
      [ $? -eq 5 ] && return 0
      sleep 0.5
    done
    cd_drive "$1"
  done
  fail "drive $1: is not a CD-ROM drive in the prefix"
}

patch_folder() {
  PATCH=$(wine_c "$PATCH_WIN")
  mkdir -p "$PATCH"
  cp "$BRACKPATCH" "$PATCH/brackpatch.exe"
  if [ "$1" = REAL ]; then
    cp "$APPLICATOR" "$PATCH/ambrel32.exe"
  else
    cp "$PROBE" "$PATCH/ambrel32.exe"
  fi
  cp "$PROBE" "$PATCH/probe.exe"
}

programs_folder() {
  local value
  value=$("$EMULATOR" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders' \
    /v Programs 2>/dev/null | sed -n 's/^ *Programs *REG_SZ *//p' | tr -d '\r')
  wine_c "$value"
}

tree_state() {
  (cd "$1" && find . -printf '%y %p %s %T@ ' \( -type f -exec md5sum {} \; -o -printf '\n' \) | sort)
}

# Last access and last write of a file, in seconds since 1970 (Wine cannot set a creation
# time on Linux file systems: it reports one derived from the others).
times_of() { stat -c '%X %Y' "$1"; }
cd_times() { echo "$(date -d '1999-10-02 09:00:00 UTC' +%s) $(date -d "$CD_DATE" +%s)"; }

# Whether the launcher's mutex exists, asked by a program of its own in the prefix.
mutex_held() { "$EMULATOR" "$PATCH/probe.exe" mutex 2>/dev/null; }
mutex_gone() { ! mutex_held; }

# Waits for the stand-in applicator to have started (it writes started.txt) and checks
# that it saw the mutex.
standin_wait() {
  local waited=0
  while [ ! -s "$PATCH/started.txt" ]; do
    if [ "$waited" -ge 300 ]; then fail "the applicator (stand-in) was not started"; return 1; fi
    kill -0 "$WINE_PID" 2>/dev/null || { fail "the launcher ended without starting the applicator"; return 1; }
    sleep 0.1
    waited=$((waited + 1))
  done
  check "the mutex is held while the applicator runs" grep -q 'mutex held' "$PATCH/started.txt"
}

# The shortcut file as the launcher writes it for the game in C:\Games\Brackwold.
expected_shortcut() {
  printf '[InternetShortcut]\r\nURL=http://zintra.example.com/pub/cgi-bin/login/login.cgi?game_id=5127\r\n'
  printf 'Working Directory=\r\nHotKey=0\r\nShowCommand=1\r\nIconFile=C:\\Games\\Brackwold\\system\\zintra.ico\r\n'
  printf 'IconIndex=0\r\n'
}

expect_ini_deleted() {
  check "the ini files are gone while the applicator runs" \
    [ ! -e "$GAME/system/brackwold.ini" -a ! -e "$GAME/system/default.ini" ]
}

# Checks that both ini files hold just the section and the saved "CdPath".
expect_ini_restored() {
  local ini
  for ini in brackwold.ini default.ini; do
    check "$ini holds the saved CdPath" cmp -s "$GAME/system/$ini" <(printf '[Engine.Engine]\r\nCdPath=%s\r\n' "$1")
  done
}

# Checks that a file was copied from the CD: its content and its last-access and last-write times.
expect_from_cd() {
  local want=${3:-$(cd_times)} got
  got=$(times_of "$GAME/$2")  # before the content, which reading changes the last access of
  [ "$got" = "$want" ] || fail "$2 has the times $got, not the CD's $want"
  check "$2 has the CD's content" cmp -s "$CD/$1" "$GAME/$2"
}

# Keeps a picture of the message box WIN (the launcher's first question) for the README
# when AMBREL_SCREENSHOTS names a folder.
launcher_screenshot() {
  [ -n "${AMBREL_SCREENSHOTS:-}" ] || return 0
  local x y w h
  read -r x y w h <<<"$(win_geometry "$1")"
  shot launcher_question
  mkdir -p "$AMBREL_SCREENSHOTS"
  convert "$LAST_SHOT" -crop "${w}x${h}+${x}+${y}" +repage "$AMBREL_SCREENSHOTS/launcher-cd-prompt.png" ||
    fail "cropping the screenshot"
}
