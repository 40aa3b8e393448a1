#!/usr/bin/env bash
# ambrel32.exe end to end under Wine: which package it takes, the ways out before anything
# is applied, the pages for a package whose installed copy is nowhere, the notice during a
# long search, and which folder page 3 and Browse lead the apply to.
# Usage: wizard_pages.sh AMBREL32_EXE EMULATOR NATIVE_AMBREL WIN_PEEK_EXE
. "$(dirname "$0")/common.sh" wizard_pages "$@"

make_versions
build "$FIX/old" "$FIX/new" "$FIX/main.upg" --title "Brackwold 1.3" --error-policy 2
# A package whose old files exist nowhere on the prefix's drives.
mkdir -p "$FIX/ghost_old/Ghost" "$FIX/ghost_new/Ghost"
head -c 5000 /dev/urandom >"$FIX/ghost_old/Ghost/thing.dat"
{ cat "$FIX/ghost_old/Ghost/thing.dat"; printf 'more'; } >"$FIX/ghost_new/Ghost/thing.dat"
build "$FIX/ghost_old" "$FIX/ghost_new" "$FIX/nowhere.upg" --title "Nowhere" --error-policy 2
printf 'not a package' >"$FIX/bogus.upg"
# The same files a few bytes long, for the scenarios that apply a package: the apply pauses
# 100 ms at every change of its percentage, and these change it only a few times.
mkdir -p "$FIX/small_old/Maps" "$FIX/small_old/System" "$FIX/small_new/Maps" "$FIX/small_new/System" \
  "$FIX/small_new/Extra"
printf 'abc' >"$FIX/small_old/abc.txt"
printf 'level 1.0\n' >"$FIX/small_old/Maps/Level.map"
printf 'core 1.0\n' >"$FIX/small_old/System/Core.dll"
printf 'to be removed\n' >"$FIX/small_old/gone.txt"
touch -d '2024-01-10 12:00:00' "$FIX"/small_old/*.txt "$FIX"/small_old/*/*
cp -p "$FIX/small_old/abc.txt" "$FIX/small_new/"
printf 'level 1.3\n' >"$FIX/small_new/Maps/Level.map"
printf 'core 1.0\nversion 1.3\n' >"$FIX/small_new/System/Core.dll"
printf 'added\r\n' >"$FIX/small_new/Extra/added.txt"
touch -d '2024-03-01 09:30:00' "$FIX"/small_new/*/*
build "$FIX/small_old" "$FIX/small_new" "$FIX/small.upg" --title "Brackwold 1.3" --error-policy 2
# A package that a folder can fail and still take: Core.dll is not looked at by the folder
# test (error policy 0), and a changed gone.txt counts against the folder but is removed
# without a question (warning policy 0).
printf 'Core.dll 1 0\ngone.txt 0 1\n' >"$FIX/lenient.txt"
build "$FIX/small_old" "$FIX/small_new" "$FIX/lenient.upg" --title "Lenient" --policies "$FIX/lenient.txt"
# The installed copy with gone.txt changed by its user: one file matches, one counts as
# missing, so the folder fails the test.
cp -rp "$FIX/small_old" "$FIX/failing"
printf 'changed by its user\n' >"$FIX/failing/gone.txt"
touch -d '2024-01-10 12:00:00' "$FIX/failing/gone.txt"

CANCEL_QUESTION="Are you sure you want to cancel?"

# cancel_page ANSWER: Cancel on the page in WIN, answered y or n.
cancel_page() {
  local page=$WIN
  win_key "$page" Escape
  expect_msgbox "Upgrade Cancel Confirmation" "$CANCEL_QUESTION" || return 1
  win_key "$WIN" "$1"
  WIN=$page
}

# "default.upg" is taken when no package is named like the program; Cancel on page 1
# answered No stays on the page, answered Yes ends the program with nothing changed.
default_package_and_cancel() {
  wine_new_prefix || return 1
  install_program 'C:\Patch' "$FIX/main.upg" default.upg
  install_copy "$FIX/old" "$INSTALLED"
  wine_start 'C:\Patch\ambrel32.exe'
  win_wait_new "Ambrel" 90 || return 1
  check "page 1 shows the title of default.upg" [ "$(control_text Ambrel 101)" = "Brackwold 1.3" ]
  cancel_page n || return 1
  win_wait_gone "$(win_ids "Upgrade Cancel Confirmation" | tail -n 1)" 10
  check "No keeps page 1 open" [ -n "$(win_ids Ambrel | grep -x "$WIN")" ]
  check "No keeps page 1 as it was" [ "$(control_text Ambrel 101)" = "Brackwold 1.3" ]
  cancel_page y || return 1
  wine_wait_exit 45
  check "only the two questions were shown" [ "$(msgbox_texts)" = "$CANCEL_QUESTION"$'\n'"$CANCEL_QUESTION" ]
  same_tree "Cancel changed the installed copy" "$(wine_c "$INSTALLED")" "$FIX/old"
}

# With no package beside the program the chooser opens; its Cancel ends the program
# without any message.
no_package_chooser_cancel() {
  wine_new_prefix || return 1
  install_program 'C:\Patch'
  wine_start 'C:\Patch\ambrel32.exe'
  win_wait "Ambrel" 90 || return 1
  check "the chooser offers upgrade files" grep -q 'Upgrades (\*.UPG)' <(win_texts Ambrel)
  win_key "$WIN" Escape
  wine_wait_exit 45
  check "nothing was shown after the chooser" [ -z "$(msgbox_texts)" ]
}

# run_to_first_window ARGS...: starts the program with ARGS and waits for a page or a box.
run_to_first_window() {
  wine_start 'C:\Patch\ambrel32.exe' "$@"
  win_wait_any 90 "Ambrel" "Error"
}

# page_next: Next (Return) on the newest page.
page_next() { win_key "$(win_ids Ambrel | tail -n 1)" Return; }

# browse_from_page2 FOLDER...: Browse on page 2, then into each FOLDER in turn (".." goes
# up), then OK.
browse_from_page2() {
  control_click Ambrel 102 || return 1
  win_wait_new "Change Target Folder" 45 || return 1
  local folder
  for folder in "$@"; do browse_into "$folder" || return 1; done
  choose_folder
}

# The package from the command line: an invalid one, one whose path Explorer quoted because
# of its blanks (the quotes are removed; applied to the end), the same path unquoted (taken
# whole), and one whose path is longer than 259 bytes.
command_line_packages() {
  wine_new_prefix || return 1
  install_program 'C:\Patch' "$FIX/bogus.upg" ambrel32.upg
  install_copy "$FIX/old" "$INSTALLED"
  mkdir -p "$(wine_c 'C:\My Patches')"
  cp "$FIX/main.upg" "$(wine_c 'C:\My Patches\brackwold 1.3.upg')"

  run_to_first_window || return 1
  check "an invalid package gives the error box first (got \"$WIN_CAPTION\")" [ "$WIN_CAPTION" = "Error" ]
  check "the error box says \"Upgrade is invalid!\"" [ "$(msgbox_texts)" = "Upgrade is invalid!" ]
  win_key "$WIN" Return
  wine_wait_exit 45
  same_tree "an invalid package touched the installed copy" "$(wine_c "$INSTALLED")" "$FIX/old"

  # Wine quotes an argument with blanks, as Explorer does when a package is opened; the
  # harness's own happy path (which the launcher's tests use too) applies it.
  wine_start 'C:\Patch\ambrel32.exe' 'C:\My Patches\brackwold 1.3.upg'
  wizard_happy_path 90 || return 1
  wine_wait_exit 45
  same_tree "the package named by a quoted path was not applied" "$(wine_c "$INSTALLED")" "$FIX/new"

  # Unquoted, the tail is taken whole, blanks and all (Wine joins the arguments with blanks):
  # split at its first blank it would name C:\My and the invalid package would be reported.
  run_to_first_window 'C:\My' 'Patches\brackwold' '1.3.upg' || return 1
  if [ "$WIN_CAPTION" = "Ambrel" ]; then
    check "page 1 shows the title of the package named unquoted" [ "$(control_text Ambrel 101)" = "Brackwold 1.3" ]
    cancel_page y || return 1
  else
    fail "an unquoted path with blanks is not taken whole: the box \"$WIN_CAPTION\" came ($(msgbox_texts | tail -n 1))"
    win_key "$WIN" Return
  fi
  wine_wait_exit 45

  local long='C:\My Patches'
  while [ ${#long} -lt 270 ]; do long="$long\\folder"; done
  run_to_first_window "$long\\x.upg" || return 1
  check "a path longer than 259 bytes is invalid (got \"$WIN_CAPTION\")" [ "$WIN_CAPTION" = "Error" ]
  check "... with \"Upgrade is invalid!\"" [ "$(msgbox_texts | tail -n 1)" = "Upgrade is invalid!" ]
  win_key "$WIN" Return
  wine_wait_exit 45
}

# A package whose copy is nowhere: page 2 shows the Windows folder, page 3 follows Next;
# Back returns to page 2, Browse there picks the root of C:, which fails the test too, so
# page 3 shows it; Cancel ends the program.
copy_nowhere() {
  wine_new_prefix || return 1
  install_program 'C:\Patch' "$FIX/nowhere.upg" ambrel32.upg
  wine_start 'C:\Patch\ambrel32.exe'
  win_wait_new "Ambrel" 90 || return 1
  win_key "$WIN" Return
  win_wait_new "Ambrel" 45 || return 1
  same_text_ignoring_case "page 2 shows the Windows folder" "$(control_text Ambrel 101)" "$(wine_windows_dir)"
  win_key "$WIN" Return
  win_wait_new "Ambrel" 45 || return 1
  check "page 3 says the folder is invalid" grep -q $'\tInvalid target folder!$' <(win_texts Ambrel)
  same_text_ignoring_case "page 3 shows the Windows folder" "$(control_text Ambrel 101)" "$(wine_windows_dir)"
  shot page3
  keep_screenshot page3 Ambrel

  control_click Ambrel 300
  win_wait_new "Ambrel" 45 || return 1
  same_text_ignoring_case "Back shows page 2 with the folder" "$(control_text Ambrel 101)" "$(wine_windows_dir)"
  control_click Ambrel 102
  win_wait_new "Change Target Folder" 45 || return 1
  # The folder list starts with the parent folder; a double click there goes up to C:\.
  local l t r b
  read -r l t r b < <(win_texts "Change Target Folder" | awk -F'\t' '$1 == 1121 { print $5, $6, $7, $8; exit }')
  xdotool mousemove $((l + 40)) $((t + 8)) click --repeat 2 --delay 100 1
  control_wait "Change Target Folder" 1088 'c:\' 30 || return 1
  control_click "Change Target Folder" 1
  win_wait_gone "$WIN" 30 || return 1
  same_text_ignoring_case "Browse to the root of C: shows C:\\" "$(control_text Ambrel 101)" 'C:\'
  win_key "$(win_ids Ambrel | tail -n 1)" Return
  win_wait_new "Ambrel" 45 || return 1
  same_text_ignoring_case "page 3 shows the root that failed" "$(control_text Ambrel 101)" 'C:\'
  cancel_page y || return 1
  wine_wait_exit 45
  check "only the cancel question was shown" [ "$(msgbox_texts)" = "$CANCEL_QUESTION" ]
}

# The search notice is on the screen, centred and with its text painted, while the fixed
# drives are searched. The search lasts several seconds: before it reaches the installed
# copy it tests 400 folders that each hold gone.txt and a Maps\Level.map of 30 MB (one file,
# linked), which the test reads whole before it rejects the folder. (Many empty folders
# would do as well, but deleting tens of thousands of folders takes minutes here.)
search_notice() {
  wine_new_prefix || return 1
  install_program 'C:\Patch' "$FIX/main.upg" ambrel32.upg
  install_copy "$FIX/old" "$INSTALLED"
  local decoys i
  decoys=$(wine_c 'C:\Many')
  head -c 30000000 /dev/urandom >"$WINE_WORK/level.map"
  mkdir -p "$decoys"/d{1..400}/Maps || return 1
  for ((i = 1; i <= 400; i++)); do
    ln "$FIX/old/gone.txt" "$decoys/d$i/" && ln "$WINE_WORK/level.map" "$decoys/d$i/Maps/Level.map" || return 1
  done
  local notice_text="Searching for installed components..." start=$SECONDS seen="" peek
  wine_start 'C:\Patch\ambrel32.exe'
  while [ -z "$(win_ids Ambrel)" ]; do
    if [ $((SECONDS - start)) -ge 120 ]; then fail "page 1 did not come within 120 s"; return 1; fi
    peek=$(win_texts "")
    # The window line of the caption-less window whose label shows the notice's text, and
    # the label's line.
    seen=$(echo "$peek" | awk -F'\t' -v text="$notice_text" '$1 == "window" { w = $0 } $1 != "window" && $9 == text { print w; print; exit }')
    if [ -n "$seen" ]; then
      shot search_notice
      break
    fi
    sleep 0.1
  done
  if [ -z "$seen" ]; then
    fail "no notice \"$notice_text\" was seen while the drives were searched ($((SECONDS - start)) s)"
    return 1
  fi
  check "page 1 is not shown while the search notice is" [ -z "$(win_ids Ambrel)" ]
  local l t r b ink
  read -r l t r b < <(echo "$seen" | awk -F'\t' 'NR == 1 { print $2, $3, $4, $5 }')
  check "the search notice is centred on the screen (at $l,$t, $((r - l)) x $((b - t)))" \
    [ "$l" -eq $(((1024 - (r - l)) / 2)) -a "$t" -eq $(((768 - (b - t)) / 2)) ]
  # Painted before the search began (the search pumps no messages): its text in black.
  read -r l t r b < <(echo "$seen" | awk -F'\t' 'NR == 2 { print $5, $6, $7, $8 }')
  ink=$(pixels "$LAST_SHOT" "$l" "$t" $((r - l)) $((b - t)) | awk '$3 == 0 && $4 == 0 && $5 == 0' | wc -l)
  check "the search notice's text is painted ($ink black pixels in its label)" [ "$ink" -gt 100 ]
  win_wait_new "Ambrel" 120 || return 1
  check "the search notice is gone when page 1 comes" \
    [ -z "$(win_texts "" | awk -F'\t' -v text="$notice_text" '$9 == text')" ]
  win_key "$WIN" Return
  win_wait_new "Ambrel" 45 || return 1
  same_text_ignoring_case "page 2 shows the folder found after the long search" "$(control_text Ambrel 101)" "$INSTALLED"
  cancel_page y || return 1
  wine_wait_exit 45
}

# Next on page 3 applies to the folder that failed the test, not to the folder the search
# found: a copy that passes lies in C:\Brackwold, where the search finds it at once; Browse
# picks the copy that fails.
page3_next_applies() {
  wine_new_prefix || return 1
  install_program 'C:\Patch' "$FIX/lenient.upg" ambrel32.upg
  install_copy "$FIX/failing" "$INSTALLED"
  install_copy "$FIX/small_old" 'C:\Brackwold'
  wine_start 'C:\Patch\ambrel32.exe'
  win_wait_new "Ambrel" 90 || return 1
  win_key "$WIN" Return
  win_wait_new "Ambrel" 45 || return 1
  same_text_ignoring_case "page 2 shows the copy that passes" "$(control_text Ambrel 101)" 'C:\Brackwold'
  browse_from_page2 .. Games Brackwold Current || return 1
  same_text_ignoring_case "Browse shows the copy that fails on page 2" "$(control_text Ambrel 101)" "$INSTALLED"
  page_next
  win_wait_any 45 "Ambrel" "Upgrade Processing" || return 1
  [ "$WIN_CAPTION" = "Ambrel" ] || { fail "the apply began with no page 3 for the folder that fails the test"; return 1; }
  check "page 3 says the folder is invalid" grep -q $'\tInvalid target folder!$' <(win_texts Ambrel)
  same_text_ignoring_case "page 3 shows the copy that failed" "$(control_text Ambrel 101)" "$INSTALLED"
  page_next
  expect_msgbox "All Finished" "$APPLIED" 60 || return 1
  win_key "$WIN" Return
  wine_wait_exit 45
  same_tree "the folder that failed the test does not hold the new version" "$(wine_c "$INSTALLED")" "$FIX/small_new"
  same_tree "the folder the search found was changed" "$(wine_c 'C:\Brackwold')" "$FIX/small_old"
}

# After page 3 for a folder that failed, Browse to a folder that passes goes on to the apply
# with no page 3. That folder is a second copy one level below the one the search found, so
# the search never tested it.
browse_to_passing_folder() {
  wine_new_prefix || return 1
  install_program 'C:\Patch' "$FIX/small.upg" ambrel32.upg
  install_copy "$FIX/small_old" "$INSTALLED"
  local spare='C:\Games\Brackwold\Spare\Copy'
  install_copy "$FIX/small_old" "$spare"
  wine_start 'C:\Patch\ambrel32.exe'
  win_wait_new "Ambrel" 90 || return 1
  win_key "$WIN" Return
  win_wait_new "Ambrel" 45 || return 1
  same_text_ignoring_case "page 2 shows the copy the search found" "$(control_text Ambrel 101)" "$INSTALLED"
  browse_from_page2 .. || return 1
  page_next
  win_wait_new "Ambrel" 45 || return 1
  same_text_ignoring_case "page 3 comes for the folder above the copy" "$(control_text Ambrel 101)" 'C:\Games\Brackwold'
  control_click Ambrel 300
  win_wait_new "Ambrel" 45 || return 1
  browse_from_page2 Spare Copy || return 1
  same_text_ignoring_case "Browse shows the second copy on page 2" "$(control_text Ambrel 101)" "$spare"
  page_next
  win_wait_any 45 "Upgrade Processing" "Ambrel" || return 1
  [ "$WIN_CAPTION" = "Upgrade Processing" ] || { fail "page 3 came for a folder that passes the test"; return 1; }
  expect_msgbox "All Finished" "$APPLIED" 60 || return 1
  win_key "$WIN" Return
  wine_wait_exit 45
  same_tree "the folder chosen with Browse does not hold the new version" "$(wine_c "$spare")" "$FIX/small_new"
  same_tree "the folder the search found was changed" "$(wine_c "$INSTALLED")" "$FIX/small_old"
}

scenario "default.upg; Cancel answered No, then Yes" default_package_and_cancel
scenario "no package: the chooser, cancelled" no_package_chooser_cancel
scenario "packages from the command line: invalid, quoted (applied), unquoted, too long" command_line_packages
scenario "copy nowhere: Windows folder, page 3, Back, Browse to C:\\" copy_nowhere
scenario "the search notice while the drives are searched" search_notice
scenario "Next on page 3 applies to the folder that failed" page3_next_applies
scenario "Browse to a folder that passes, after page 3: no page 3" browse_to_passing_folder
wine_finish
