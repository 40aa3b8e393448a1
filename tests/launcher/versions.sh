#!/usr/bin/env bash
# End-to-end tests of brackpatch.exe under Wine, by the installed version and the CD's:
# version 1.0 upgraded through the real applicator (then refused as already 1.3), version
# 1.1 with the restored files, and a CD of version 1.2.
# The dates are UTC dates: every main game file is dated late in the evening (UTC) or early
# in the morning, so that in a zone east of UTC its local date is another day. The tests
# run in UTC and again in Asia/Tokyo (UTC+9), where 2 November 23:30 UTC is 3 November.
# Usage: versions.sh BRACKPATCH PROBE AMBREL32 EMULATOR NATIVE_AMBREL
set -u
. "$(dirname "$0")/support.bash"
launcher_init "launcher_versions (TZ=${TZ:-unset})" "$@" || exit 1

ALREADY_13='Your installed version of brackwold is already v1.3\nThis patch patches from v1.0 to v1.3\nYou do not need this patch.'
CD_12='This patch cannot patch from Brackwold version 1.2\nThis patch only patches from v1.0 to v1.3.'

# The package for the applicator: from the game folder as the launcher leaves it (ini files
# gone, maps from the CD) to version 1.3, whose main game file is dated 8 March.
make_package() {
  local old=$WINE_WORK/old new=$WINE_WORK/new
  rm -rf "$old" "$new"
  cp -a "$GAME" "$old"
  rm -f "$old"/system/*.ini
  local map
  for map in "${MAPS[@]}"; do [ -e "$old/Maps/$map.bkm" ] || cp -p "$CD/Maps/$map.bkm" "$old/Maps/"; done
  cp -a "$old" "$new"
  printf 'version 1.3 main\n' >"$new/system/Brackwold.U"
  printf 'version 1.3 engine\n' >"$new/system/Engine.U"
  printf 'Wyrmdeep of 1.3\n' >"$new/Maps/Wyrmdeep.bkm"
  printf 'new in 1.3\n' >"$new/system/Brackwold13.int"
  # 9 March in Tokyo.
  touch -d '2000-03-08 23:30:00 UTC' "$new/system/Brackwold.U" "$new/system/Engine.U" "$new/Maps/Wyrmdeep.bkm" \
    "$new/system/Brackwold13.int"
  cd_retime
  "$NATIVE_AMBREL" build "$old" "$new" -o "$PATCH/ambrel32.upg" --compress --title "Brackwold 1.3" \
    --description "Brackwold from version 1.0 to version 1.3" >/dev/null
}

upgrade_10() {
  [ -f "$APPLICATOR" ] || { fail "ambrel32.exe was not built"; return 1; }
  [ -x "$NATIVE_AMBREL" ] || { fail "no native ambrel to build the package with"; return 1; }
  # 3 November in Tokyo.
  game_machine '1998-11-02 23:30:00 UTC' '1998-10-30 12:00:00 UTC' REAL
  local programs
  programs=$(programs_folder)
  mkdir -p "$programs/Brackwold"
  make_package || { fail "building the package"; return 1; }
  local arrival
  arrival=$(tree_state "$GAME/Maps" | grep Arrival)

  wine_start 'C:\Patch\brackpatch.exe'
  expect_msgbox "$CAPTION" "$CD_PROMPT" || return 1
  launcher_screenshot "$WIN"
  win_key "$WIN" Return
  win_wait "Corvelle Ambrel" 30 || return 1
  # The launcher has prepared the folder and waits for the applicator.
  check "the launcher waits for the applicator" kill -0 "$WINE_PID"
  check "the mutex is held while the applicator runs" mutex_held
  expect_ini_deleted
  # Wyrmdeep is in the package: the applicator's search has read it, and with that changed
  # its last access.
  local map
  for map in "${MAPS[@]}"; do
    case $map in
      Arrival) ;;
      Wyrmdeep) check "Maps/Wyrmdeep.bkm has the CD's content" cmp -s "$CD/Maps/$map.bkm" "$GAME/Maps/$map.bkm" ;;
      *) expect_from_cd "Maps/$map.bkm" "Maps/$map.bkm" ;;
    esac
  done
  check "the installed map is untouched" [ "$(tree_state "$GAME/Maps" | grep Arrival)" = "$arrival" ]
  check "1.0 gets no restored file" grep -q 'installed engine' "$GAME/system/Engine.U"
  check "the shortcut has its seven lines" \
    cmp -s "$programs/Brackwold/Play for Free on Zintra.url" <(expected_shortcut)
  check "only one shortcut" [ ! -e "$programs/Play Brackwold for Free on Zintra.url" ]

  wizard_happy_path || return 1
  wine_wait_exit
  check "exit code 0" [ $? -eq 0 ]
  expect_ini_restored 'E:\Brackwold\'
  local f
  for f in system/Brackwold.U system/Engine.U Maps/Wyrmdeep.bkm system/Brackwold13.int; do
    check "$f is upgraded" cmp -s "$WINE_WORK/new/$f" "$GAME/$f"
  done
  check "no temporary folder is left" [ ! -e "$GAME/__QXUPD_" ]
  check "the mutex ends with the launcher" mutex_gone

  # Run again: the game is version 1.3 now.
  local before
  before=$(tree_state "$GAME"; tree_state "$programs")
  wine_start 'C:\Patch\brackpatch.exe'
  expect_msgbox "$CAPTION" "$CD_PROMPT" || return 1
  win_key "$WIN" Return
  expect_msgbox "$CAPTION" "$ALREADY_13" || return 1
  win_key "$WIN" Return
  wine_wait_exit
  check "exit code 0 after the refusal" [ $? -eq 0 ]
  check "a refusal changes nothing" [ "$(tree_state "$GAME"; tree_state "$programs")" = "$before" ]
}

# The main game file is dated 1 November (UTC; 2 November in Tokyo). The user keeps a file
# named like the copy's temporary file beside Engine.U: it is neither written nor deleted.
restore_11() {
  game_machine '1998-11-01 20:00:00 UTC' '1998-10-30 12:00:00 UTC' STANDIN
  rm "$GAME/system/Brackwoldai.U"
  printf "the user's own notes\n" >"$GAME/system/Engine.U.tmp"
  touch -d '1999-01-05 10:00:00 UTC' "$GAME/system/Engine.U.tmp"
  local own
  own=$(tree_state "$GAME/system" | grep 'Engine.U.tmp')
  local programs
  programs=$(programs_folder)
  mkdir -p "$programs/Brackwold"

  wine_start 'C:\Patch\brackpatch.exe'
  expect_msgbox "$CAPTION" "$CD_PROMPT" || return 1
  win_key "$WIN" Return
  standin_wait || return 1
  expect_ini_deleted
  local main_date
  main_date=$(date -d '1998-10-30 12:00:00 UTC' +%s)
  expect_from_cd system/Brackwold.U system/Brackwold.U "$main_date $main_date"
  expect_from_cd system/Brackwoldai.U system/Brackwoldai.U
  expect_from_cd system/Engine.U system/Engine.U
  check "the user's Engine.U.tmp is as it was" [ "$(tree_state "$GAME/system" | grep 'Engine.U.tmp')" = "$own" ]
  check "no temporary file of the copies is left" \
    [ -z "$(find "$GAME" \( -iname '*.tmp' -o -iname '*.tmp[0-9]' \) ! -path '*/system/Engine.U.tmp')" ]
  expect_from_cd Maps/Thornwick.bkm Maps/Thornwick.bkm
  expect_from_cd Maps/Ashfen.bkm Maps/Ashfen.bkm
  expect_from_cd Maps/Wyrmdeep.bkm Maps/Wyrmdeep.bkm
  check "the installed map is kept" grep -q 'installed Arrival' "$GAME/Maps/Arrival.bkm"
  check "no shortcut for version 1.1" \
    [ ! -e "$programs/Brackwold/Play for Free on Zintra.url" -a ! -e "$programs/Play Brackwold for Free on Zintra.url" ]
  touch "$PATCH/release.txt"
  wine_wait_exit
  check "exit code 0" [ $? -eq 0 ]
  expect_ini_restored 'E:\Brackwold\'
}

# The CD's main game file is dated 24 November (UTC; 25 November in Tokyo).
cd_of_12() {
  game_machine '1998-11-02 12:00:00 UTC' '1999-11-24 23:30:00 UTC' STANDIN
  local before
  before=$(tree_state "$GAME")
  wine_start 'C:\Patch\brackpatch.exe'
  expect_msgbox "$CAPTION" "$CD_PROMPT" || return 1
  win_key "$WIN" Return
  expect_msgbox "$CAPTION" "$CD_12" || return 1
  win_key "$WIN" Return
  wine_wait_exit
  check "exit code 0" [ $? -eq 0 ]
  check "a refusal changes nothing" [ "$(tree_state "$GAME")" = "$before" ]
  check "the applicator is not started" [ ! -e "$PATCH/started.txt" ]
}

scenario "version 1.0 with the CD, upgraded by the applicator, then refused as 1.3" upgrade_10
scenario "version 1.1: the restored files come from the CD" restore_11
scenario "a CD of version 1.2 is refused" cd_of_12
wine_finish
