#!/usr/bin/env bash
# End-to-end tests of brackpatch.exe under Wine, by the user's answers: the game not
# installed (No, then Yes), OK at the CD prompt without the CD, and Cancel at the CD prompt.
# Usage: prompts.sh BRACKPATCH PROBE AMBREL32 EMULATOR [NATIVE_AMBREL]
set -u
. "$(dirname "$0")/support.bash"
launcher_init launcher_prompts "$@" || exit 1

NOT_INSTALLED='Brackwold does not appear to be installed on this machine.\nAttempt upgrade anyway?'
NO_CD='Unable to proceed with upgrade, original cd required'

# A game folder without the install key: No ends the launcher, Yes starts the applicator,
# and neither touches the folder.
not_installed() {
  game_machine '1998-11-02 12:00:00 UTC' '1998-10-30 12:00:00 UTC' STANDIN
  wreg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths\BRACKRUN.EXE' /f "$REG_VIEW"
  local before
  before=$(tree_state "$GAME")

  wine_start 'C:\Patch\brackpatch.exe'
  expect_msgbox "$CAPTION" "$NOT_INSTALLED" || return 1
  win_key "$WIN" n
  wine_wait_exit
  check "exit code 0 after No" [ $? -eq 0 ]
  check "No starts nothing" [ ! -e "$PATCH/started.txt" ]
  check "only the one question" [ "$(msgbox_texts)" = "$NOT_INSTALLED" ]

  wine_start 'C:\Patch\brackpatch.exe'
  expect_msgbox "$CAPTION" "$NOT_INSTALLED" || return 1
  win_key "$WIN" y
  standin_wait || return 1
  touch "$PATCH/release.txt"
  wine_wait_exit
  check "exit code 0 after Yes" [ $? -eq 0 ]
  check "only the one question" [ "$(msgbox_texts)" = "$NOT_INSTALLED" ]
  check "the game folder is untouched" [ "$(tree_state "$GAME")" = "$before" ]
}

# A CD-ROM drive whose disc lacks the marker file, and the marker on the fixed disk C:.
ok_without_cd() {
  game_machine '2000-03-08 12:00:00 UTC' '1998-10-30 12:00:00 UTC' STANDIN d
  mkdir -p "$(wine_c 'C:\maps')"
  mv "$CD/Maps/Thornwick.bkm" "$(wine_c 'C:\maps')/"
  local before
  before=$(tree_state "$GAME")
  wine_start 'C:\Patch\brackpatch.exe'
  expect_msgbox "$CAPTION" "$CD_PROMPT" || return 1
  win_key "$WIN" Return
  expect_msgbox "$CAPTION" "$NO_CD" || return 1
  win_key "$WIN" Return
  wine_wait_exit
  check "exit code 1 without the CD" [ $? -eq 1 ]
  check "no version message after it" [ "$(msgbox_texts | wc -l)" -eq 2 ]
  check "nothing is changed" [ "$(tree_state "$GAME")" = "$before" ]
  check "the applicator is not started" [ ! -e "$PATCH/started.txt" ]
}

# Cancel at the CD prompt: the sequence runs without a CD. Files from the CD are looked for
# beside the launcher; the Start menu lacks the game's folder.
cancel_at_prompt() {
  game_machine '1998-11-02 12:00:00 UTC' '1999-11-24 12:00:00 UTC' STANDIN
  mkdir -p "$PATCH/Maps"
  printf 'Kestrel beside the launcher\n' >"$PATCH/Maps/Kestrel.bkm"
  local programs
  programs=$(programs_folder)
  rm -rf "$programs/Brackwold"

  wine_start 'C:\Patch\brackpatch.exe'
  expect_msgbox "$CAPTION" "$CD_PROMPT" || return 1
  win_key "$WIN" Escape
  standin_wait || return 1
  expect_ini_deleted
  check "a map beside the launcher is copied" cmp -s "$PATCH/Maps/Kestrel.bkm" "$GAME/Maps/Kestrel.bkm"
  check "nothing comes from the CD" [ ! -e "$GAME/Maps/Ashfen.bkm" ]
  check "the shortcut goes directly into Programs" \
    cmp -s "$programs/Play Brackwold for Free on Zintra.url" <(expected_shortcut)
  touch "$PATCH/release.txt"
  wine_wait_exit
  check "exit code 0" [ $? -eq 0 ]
  check "only the CD prompt" [ "$(msgbox_texts)" = "$CD_PROMPT" ]
  expect_ini_restored 'E:\Brackwold\'
}

scenario "not installed: No, then Yes" not_installed
scenario "OK at the CD prompt without the CD" ok_without_cd
scenario "Cancel at the CD prompt" cancel_at_prompt
wine_finish
