#!/usr/bin/env bash
# ambrel32.exe end to end under Wine: the questions and refusals of the apply. A policy-1
# finding answered No, a critical finding with its further information, a file in the
# temporary folder's place, and the cancel button during the rebuild of a large file
# answered Yes (the folder stays as it was) and No (the run goes on to the end). Every box
# of the apply is task-modal, captioned with line 3 of the text table and owned by the
# progress dialog; the percentage bar is filled to the point its percentage gives.
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

# start_apply PACKAGE COPY: confirm_pages, then waits for the progress dialog (its X window
# id in PROGRESS, its window handle in PROGRESS_HANDLE) and notes the main window's handle
# (MAIN_HANDLE).
start_apply() {
  confirm_pages "$@" || return 1
  win_wait_new "$CAPTION" 45 || return 1
  PROGRESS=$WIN
  PROGRESS_HANDLE=$(win_handle "$CAPTION" 105)
  MAIN_HANDLE=$(win_handle "Corvelle Ambrel")
}

# MessageBoxA flags: a question (Yes and No, question icon) and a notice (OK, information
# icon) of the apply are task-modal; the final message is the main window's own.
MB_QUESTION=$(printf '%x' $((0x2000 | 0x20 | 0x4)))
MB_NOTICE=$(printf '%x' $((0x2000 | 0x40)))
MB_FINAL=$(printf '%x' $((0x40)))

# expect_boxes KIND...: the boxes the program showed, in order, were of these kinds:
# "question" and "notice" (of the apply: owned by the progress dialog, caption line 3) and
# "final" (the outcome: owned by the main window).
expect_boxes() {
  local want="" kind
  for kind in "$@"; do
    case $kind in
      question) want+="$PROGRESS_HANDLE"$'\t'"$MB_QUESTION"$'\t'"$CAPTION"$'\n' ;;
      notice) want+="$PROGRESS_HANDLE"$'\t'"$MB_NOTICE"$'\t'"$CAPTION"$'\n' ;;
      final) want+="$MAIN_HANDLE"$'\t'"$MB_FINAL"$'\t'"${FINAL_CAPTION:-Upgrade Aborted}"$'\n' ;;
    esac
  done
  local got
  got=$(msgbox_calls)
  if [ "$got" != "${want%$'\n'}" ]; then
    fail "the boxes (owner, flags, caption) were not as expected ($*; progress dialog $PROGRESS_HANDLE, main window $MAIN_HANDLE)"
    diff <(echo "${want%$'\n'}") <(echo "$got") | head -n 10 >&2
  fi
}

# runs_of TEXT: the text as runs of equal characters, "63B 1? 212W".
runs_of() {
  echo "$1" | fold -w1 | uniq -c | awk '{ printf "%s%d%s", (NR > 1 ? " " : ""), $1, $2 }'
}

# bar_fill_check: with the engine held by a question, the question is moved off the
# progress dialog and the dialog is made to paint itself again: it paints the bar at the
# last percentage drawn before, without the engine. The bar's inner rectangle (its client
# area less one pixel on every side) is then blue from its left end to the column
# left + MulDiv(percent, width, 100) (excluded) and white from the column after that to
# its right end, in the rows above and below the text.
bar_fill_check() {
  local box drawn_before percent
  box=$(win_texts "$CAPTION" | awk -F'\t' '$1 == "window" { h = $12 } $1 == 6 { print h; exit }')
  drawn_before=$(drawn_texts | wc -l)
  percent=$(drawn_texts | sed -n 's/^\([0-9]*\)%$/\1/p' | tail -n 1)
  [ -n "$box" ] && [ -n "$percent" ] || { fail "no question box or no percentage drawn (box: $box, percentage: $percent)"; return 1; }
  win_move "$box" 0 0
  win_redraw "$PROGRESS_HANDLE"
  local start=$SECONDS
  while [ "$(drawn_texts | wc -l)" -le "$drawn_before" ]; do
    if [ $((SECONDS - start)) -ge 20 ]; then fail "the progress dialog did not paint its bar again"; return 1; fi
    sleep 0.2
  done
  sleep 0.5
  shot bar_uncovered
  check "the bar was painted again at the last percentage ($percent%)" \
    [ -z "$(drawn_texts | tail -n +$((drawn_before + 1)) | grep -vx "$percent%")" ]
  local l t r b
  read -r l t r b < <(win_texts "$CAPTION" | awk -F'\t' '$1 == 105 { print $5, $6, $7, $8; exit }')
  local left=$((l + 1)) width=$((r - l - 2)) height=$((b - t - 2))
  local fill=$((left + (percent * width + 50) / 100))
  local want="" x row got
  for ((x = left; x < left + width; x++)); do
    if [ "$x" -lt "$fill" ]; then want+=B; elif [ "$x" -eq "$fill" ]; then want+="?"; else want+=W; fi
  done
  for row in $((t + 1)) $((t + height)); do
    got=$(pixels "$LAST_SHOT" "$left" "$row" "$width" 1 |
      awk '{ printf "%s", ($3 == 0 && $4 == 0 && $5 == 255) ? "B" : ($3 == 255 && $4 == 255 && $5 == 255) ? "W" : "x" }')
    [[ "$got" == $want ]] ||
      fail "at $percent% the bar's row $row reads $(runs_of "$got"), expected $(runs_of "$want") (B blue, W white, x other, ? either; fill at column $((fill - left)) of $width)"
  done
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
  expect_boxes question final
}

# A critical finding (error policy 2): the copy is nowhere, so the Windows folder is proposed
# and page 3 follows; Next applies to it anyway, where the large file is missing. The
# question whether to see more is answered Yes, and the notice names the finding.
critical_with_information() {
  wine_new_prefix || return 1
  install_program 'C:\Patch' "$FIX/big.upg" ambrel32.upg
  wine_start 'C:\Patch\ambrel32.exe'
  local page
  for page in 1 2 3; do
    win_wait_new "Ambrel" 90 || return 1
    win_key "$WIN" Return
  done
  win_wait_new "$CAPTION" 45 || return 1
  PROGRESS_HANDLE=$(win_handle "$CAPTION" 105)
  MAIN_HANDLE=$(win_handle "Corvelle Ambrel")
  answer_question "Operation: Update\n\nFilename: Big.dat\n\n** Error: This file is critical to the upgrade, but cannot currently be updated. The upgrade process will be aborted.\n\nWould you like more information about the error?" y ||
    return 1
  answer_question "** Error: This file cannot be found. It will not be updated." Return || return 1
  expect_msgbox "Upgrade Aborted" "$ABORTED" 45 || return 1
  win_key "$WIN" Return
  wine_wait_exit 45
  expect_boxes question notice final
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
  expect_boxes question final
}

# Esc is the cancel button too; No withdraws the request, and a second one asks again.
# The first question comes once the bar is past 20 %, and the bar is checked while it holds.
cancel_no() {
  start_apply "$FIX/big.upg" "$FIX/big_old" || return 1
  control_wait "$CAPTION" 103 "Update" 45 || return 1
  local start=$SECONDS
  until [ "$(drawn_texts | sed -n 's/^\([0-9]*\)%$/\1/p' | tail -n 1)" -ge 20 ] 2>/dev/null; do
    if [ $((SECONDS - start)) -ge 60 ]; then fail "the bar did not reach 20 %"; return 1; fi
    sleep 0.1
  done
  win_key "$PROGRESS" Escape
  expect_msgbox "$CAPTION" "$CONFIRM_CANCEL" 45 || return 1
  local question=$WIN
  bar_fill_check
  win_key "$question" n
  win_wait_gone "$question" 30 || return 1
  win_key "$PROGRESS" Escape
  answer_question "$CONFIRM_CANCEL" n || return 1
  expect_msgbox "All Finished" "$APPLIED" 60 || return 1
  win_key "$WIN" Return
  wine_wait_exit 45
  same_tree "the folder does not hold the new version" "$(wine_c "$INSTALLED")" "$FIX/big_new"
  no_temporary_folder "$INSTALLED"
  FINAL_CAPTION="All Finished" expect_boxes question question final
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
scenario "a critical finding, with more information" critical_with_information
scenario "a file in place of the temporary folder" temporary_folder_taken
scenario "cancel during the rebuild answered Yes" cancel_yes
scenario "cancel during the rebuild answered No, twice" cancel_no
wine_finish
