#!/usr/bin/env bash
# ambrel32.exe end to end under Wine: the questions and refusals of the apply. A policy-1
# finding answered No, a file in the temporary folder's place, and the cancel button during
# the rebuild of a large file answered Yes (the folder stays as it was) and No (the run
# goes on to the end).
# Usage: wizard_apply.sh AMBREL32_EXE EMULATOR NATIVE_AMBREL WIN_PEEK_EXE
. "$(dirname "$0")/common.sh" wizard_apply "$@"

make_versions
build "$FIX/old" "$FIX/new" "$FIX/ask.upg" --title "Brackwold 1.3" --error-policy 1
# The installed copy for the policy-1 package: one updated file was changed by its user.
cp -rp "$FIX/old" "$FIX/changed"
printf 'patched by hand' >>"$FIX/changed/System/Core.dll"
touch -d '2024-01-10 12:00:00' "$FIX/changed/System/Core.dll"

# A large file, so that its rebuild runs long enough to be cancelled.
mkdir -p "$FIX/big_old" "$FIX/big_new"
head -c 4000000 /dev/urandom >"$FIX/big_old/Big.dat"
{ head -c 2000000 "$FIX/big_old/Big.dat"; printf 'NEW'; tail -c 1500000 "$FIX/big_old/Big.dat"; } >"$FIX/big_new/Big.dat"
touch -d '2024-01-10 12:00:00' "$FIX/big_old/Big.dat"
touch -d '2024-03-01 09:30:00' "$FIX/big_new/Big.dat"
build "$FIX/big_old" "$FIX/big_new" "$FIX/big.upg" --title "Large" --error-policy 2

CAPTION="Upgrade Processing"
CONFIRM_CANCEL="The update has not been performed. Are you sure you want to cancel?"

# confirm_pages PACKAGE COPY: the program with PACKAGE beside it and COPY installed; Next
# on pages 1 and 2.
confirm_pages() {
  wine_new_prefix || return 1
  install_program 'C:\Patch' "$1" ambrel32.upg
  install_copy "$2" "$INSTALLED"
  wine_start 'C:\Patch\ambrel32.exe'
  win_wait_new "Ambrel" 90 || return 1
  win_key "$WIN" Return
  win_wait_new "Ambrel" 45 || return 1
  win_key "$WIN" Return
}

# start_apply PACKAGE COPY: confirm_pages, then waits for the progress dialog (its id in
# PROGRESS).
start_apply() {
  confirm_pages "$@" || return 1
  win_wait_new "$CAPTION" 45 || return 1
  PROGRESS=$WIN
}

# answer_question TEXT KEY: a new box of the apply (caption "Upgrade Processing") with TEXT,
# answered with KEY.
answer_question() {
  expect_msgbox "$CAPTION" "$1" 45 || return 1
  win_key "$WIN" "$2"
  win_wait_gone "$WIN" 30
}

policy_question_no() {
  start_apply "$FIX/ask.upg" "$FIX/changed" || return 1
  answer_question "Operation: Update\n\nFilename: System\\Core.dll\n\n** File Size/CRC Error: This file has been changed. It will not be updated.\n\nDo you wish to continue with the update?" n ||
    return 1
  expect_msgbox "Upgrade Aborted" "$ABORTED" 45 || return 1
  win_key "$WIN" Return
  wine_wait_exit 45
  same_tree "the folder is not byte for byte as it was" "$(wine_c "$INSTALLED")" "$FIX/changed"
  no_temporary_folder "$INSTALLED"
}

cancel_yes() {
  start_apply "$FIX/big.upg" "$FIX/big_old" || return 1
  control_wait "$CAPTION" 103 "Update" 45 || return 1
  check "the main window is disabled while the progress dialog exists" \
    [ "$(win_texts "Corvelle Ambrel" | awk -F'\t' '$1 == "window" { print $10; exit }')" = 0 ]
  control_click "$CAPTION" 2 || return 1
  answer_question "$CONFIRM_CANCEL" y || return 1
  expect_msgbox "Upgrade Aborted" "$ABORTED" 45 || return 1
  win_key "$WIN" Return
  wine_wait_exit 45
  same_tree "a cancelled apply changed the folder" "$(wine_c "$INSTALLED")" "$FIX/big_old"
  no_temporary_folder "$INSTALLED"
}

# Esc is the cancel button too; No withdraws the request, and a second one asks again.
cancel_no() {
  start_apply "$FIX/big.upg" "$FIX/big_old" || return 1
  control_wait "$CAPTION" 103 "Update" 45 || return 1
  win_key "$PROGRESS" Escape
  answer_question "$CONFIRM_CANCEL" n || return 1
  win_key "$PROGRESS" Escape
  answer_question "$CONFIRM_CANCEL" n || return 1
  expect_msgbox "All Finished" "$APPLIED" 60 || return 1
  win_key "$WIN" Return
  wine_wait_exit 45
  same_tree "the folder does not hold the new version" "$(wine_c "$INSTALLED")" "$FIX/big_new"
  no_temporary_folder "$INSTALLED"
}

# A file where the temporary folder would go stops the apply before anything changes, and
# the final message says why.
temporary_folder_taken() {
  cp -rp "$FIX/old" "$FIX/blocked"
  printf 'in the way' >"$FIX/blocked/__QXUPD_"
  confirm_pages "$FIX/ask.upg" "$FIX/blocked" || return 1
  expect_msgbox "Upgrade Aborted" "$ABORTED\n\nThe upgrade cannot be applied: $INSTALLED\\__QXUPD_ is a link or a file, not a folder; remove it and try again." 45 ||
    return 1
  win_key "$WIN" Return
  wine_wait_exit 45
  same_tree "the folder is not as it was" "$(wine_c "$INSTALLED")" "$FIX/blocked"
}

scenario "a policy-1 finding answered No" policy_question_no
scenario "a file in place of the temporary folder" temporary_folder_taken
scenario "cancel during the rebuild answered Yes" cancel_yes
scenario "cancel during the rebuild answered No, twice" cancel_no
wine_finish
