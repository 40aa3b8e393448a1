#!/usr/bin/env bash
# ambrel32.exe end to end under Wine, the whole happy path: the package lies beside the
# program, named like it; the installed copy sits three folders deep on C: and the search
# finds it. Checks what pages 1 and 2 show, Back, the backdrop's gradient, banner and side
# notices and the progress bar by pixel, the final message, and that the folder then holds
# exactly the new version. With AMBREL_SCREENSHOTS=DIR it also keeps the README's pictures.
# Usage: wizard_flow.sh AMBREL32_EXE EMULATOR NATIVE_AMBREL WIN_PEEK_EXE
. "$(dirname "$0")/common.sh" wizard_flow "$@"

make_versions
# Line ends of both kinds: the page shows every line break as CR LF, and a CR LF as it is.
printf 'Maps and fixes for Brackwold.\nRead the notes\r\nafter the upgrade.\n' >"$FIX/notes.txt"
build "$FIX/old" "$FIX/new" "$FIX/main.upg" --title "Brackwold 1.3 & Maps" --description-file "$FIX/notes.txt" \
  --error-policy 2

# backdrop_checks: the gradient's 64 bands follow the screen's height (not the window's),
# and the banner and both side notices are drawn in white.
backdrop_checks() {
  local l t r b
  read -r l t r b < <(win_client "Corvelle Ambrel")
  shot backdrop
  check "the top band of the backdrop is RGB(0, 0, 255)" [ "$(pixel "$LAST_SHOT" $((r - 10)) $((t + 1)))" = "0 0 255" ]
  local white
  white=$(pixels "$LAST_SHOT" $((l + 300)) $((t + 18)) 424 48 | awk '$3 == 255 && $4 == 255 && $5 == 255' | wc -l)
  check "the banner is drawn in white ($white pixels)" [ "$white" -gt 300 ]
  white=$(pixels "$LAST_SHOT" $((l + 22)) $((t + 200)) 36 368 | awk '$3 == 255 && $4 == 255 && $5 == 255' | wc -l)
  check "the side notices are drawn in white ($white pixels)" [ "$white" -gt 300 ]

  # With its client area over the whole screen every band is visible: band k starts at row
  # MulDiv(769, k, 256) and has the colour RGB(0, 0, 255 - k), down to RGB(0, 0, 3).
  win_cover "Corvelle Ambrel"
  sleep 0.5
  shot backdrop_covered
  local column wrong=0 k row
  column=$(pixels "$LAST_SHOT" 1010 0 1 768)
  for ((k = 0; k < 256; k += 4)); do
    row=$(((769 * k + 128) / 256))
    [ "$(echo "$column" | awk -v y="$row" '$2 == y { print $3, $4, $5 }')" = "0 0 $((255 - k))" ] || wrong=$((wrong + 1))
    if [ $k -gt 0 ]; then
      [ "$(echo "$column" | awk -v y=$((row - 1)) '$2 == y { print $3, $4, $5 }')" = "0 0 $((259 - k))" ] ||
        wrong=$((wrong + 1))
    fi
  done
  check "every band of the gradient in place ($wrong rows wrong)" [ "$wrong" -eq 0 ]
  check "the last band of the backdrop is RGB(0, 0, 3)" [ "$(pixel "$LAST_SHOT" 1010 766)" = "0 0 3" ]
}

# bar_checks: the percentage bar, mid-way, is blue from its left end and white to its right
# end (the one column at the fill is painted by neither part).
bar_checks() {
  local l t r b
  read -r l t r b < <(win_texts "Upgrade Processing" | awk -F'\t' '$1 == 105 { print $5, $6, $7, $8; exit }')
  shot progress
  local pattern
  pattern=$(pixels "$LAST_SHOT" $((l + 1)) $((t + 2)) $((r - l - 2)) 1 |
    awk '{ c = ($3 == 0 && $4 == 0 && $5 == 255) ? "B" : ($3 == 255 && $4 == 255 && $5 == 255) ? "W" : "x"; printf "%s", c }')
  [[ "$pattern" =~ ^B+x?W+$ ]] || fail "the bar reads $pattern (B blue, W white, x other)"
}

happy_path() {
  wine_new_prefix || return 1
  install_program 'C:\Patch' "$FIX/main.upg" ambrel32.upg
  install_copy "$FIX/old" "$INSTALLED"
  wine_start 'C:\Patch\ambrel32.exe'
  win_wait "Corvelle Ambrel" 90 || return 1
  win_wait_new "Ambrel" 90 || return 1
  local page=$WIN
  sleep 0.3
  check "page 1 shows the title with its & as written" [ "$(control_text Ambrel 101)" = "Brackwold 1.3 & Maps" ]
  check "page 1 shows the description line by line" \
    [ "$(control_text Ambrel 102)" = 'Maps and fixes for Brackwold.\r\nRead the notes\r\nafter the upgrade.\r\n' ]
  check "Back is disabled on page 1" [ "$(control_text Ambrel 300 3)" = 0 ]
  shot page1
  keep_screenshot backdrop-page1
  backdrop_checks

  # Next, then Back returns to page 1 with the same texts, and Next again to page 2.
  win_key "$page" Return
  win_wait_new "Ambrel" 45 || return 1
  same_text_ignoring_case "page 2 shows the folder the search found" "$(control_text Ambrel 101)" "$INSTALLED"
  check "Back is enabled on page 2" [ "$(control_text Ambrel 300 3)" = 1 ]
  control_click Ambrel 300
  win_wait_new "Ambrel" 45 || return 1
  check "Back shows page 1 again" [ "$(control_text Ambrel 101)" = "Brackwold 1.3 & Maps" ]
  win_key "$WIN" Return
  win_wait_new "Ambrel" 45 || return 1
  shot page2
  keep_screenshot page2 Ambrel
  win_key "$WIN" Return

  # The apply, with the progress dialog; the folder passes the test, so no page 3.
  win_wait_any 30 "Upgrade Processing" "Ambrel" || return 1
  [ "$WIN_CAPTION" = "Upgrade Processing" ] || { fail "page 3 was shown for the folder the search found"; return 1; }
  control_wait "Upgrade Processing" 103 "Update" 45 || return 1
  sleep 1
  bar_checks
  keep_screenshot progress "Upgrade Processing"
  check "the progress dialog's button reads Cancel" [ "$(control_text "Upgrade Processing" 2)" = "Cancel" ]
  expect_msgbox "All Finished" "$APPLIED" 60 || return 1
  win_key "$WIN" Return
  wine_wait_exit 45
  check "no other message box was shown" [ "$(msgbox_texts)" = "$APPLIED" ]
  same_tree "the folder holds exactly the new version" "$(wine_c "$INSTALLED")" "$FIX/new"
  no_temporary_folder "$INSTALLED"
}

scenario "happy path: search, pages, Back, progress, applied" happy_path
wine_finish
