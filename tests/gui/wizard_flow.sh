#!/usr/bin/env bash
# ambrel32.exe end to end under Wine, the whole happy path: the package lies beside the
# program, named like it; the installed copy sits three folders deep on C: and the search
# finds it. Checks what pages 1 and 2 show, Back, the backdrop's gradient, banner and side
# notices and the progress bar by pixel, the final message, and that the folder then holds
# exactly the new version. With AMBREL_SCREENSHOTS=DIR it also keeps the README's pictures.
# Usage: wizard_flow.sh AMBREL32_EXE EMULATOR NATIVE_AMBREL WIN_PEEK_EXE
. "$(dirname "$0")/common.sh" wizard_flow "$@"

make_versions
printf 'Maps and fixes for Brackwold.\nRead the notes\r\nafter the upgrade.\n' >"$FIX/notes.txt"
build "$FIX/old" "$FIX/new" "$FIX/main.upg" --title "Brackwold 1.3 & Maps" --description-file "$FIX/notes.txt" \
  --error-policy 2
# The builder writes CR LF line ends; a package from elsewhere may hold a bare LF. The first
# line end of this one becomes LF and a blank (same length): page 1 must show every line
# break as CR LF, and keep a CR LF as it is.
perl -0777 -pi -e 's/Brackwold\.\r\nRead/Brackwold.\n Read/ or die "no description to change\n"' "$FIX/main.upg" || exit 1

# ink_box FILE X Y W H R G B: "LEFT TOP RIGHT BOTTOM" (inclusive) of the pixels of exactly
# that colour in the rectangle; nothing when there are none.
ink_box() {
  pixels "$1" "$2" "$3" "$4" "$5" | awk -v r="$6" -v g="$7" -v b="$8" '
    $3 == r && $4 == g && $5 == b {
      if (!n || $1 < l) l = $1; if (!n || $1 > rr) rr = $1
      if (!n || $2 < t) t = $2; if (!n || $2 > bb) bb = $2; n++ }
    END { if (n) print l, t, rr, bb }'
}

# maximised_backdrop_checks: the window is maximised and keeps its caption, so its client
# area starts below the caption while the screen is 1024 x 768: rows worked out from the
# screen's height (H = 769) and from the client's (H = client height + 1) differ by up to
# 19 rows at the bottom. Band k starts at client row MulDiv(769, k, 256), colour
# RGB(0, 0, 255 - k); the banner's white text and its black shadow 4 pixels right and down
# are centred together on the screen's width; the side notices start at x = 22 and 44 and
# are centred on the screen's height.
maximised_backdrop_checks() {
  local window cl ct cr cb zoomed
  window=$(win_texts "Corvelle Ambrel" | awk -F'\t' '$1 == "window" { print; exit }')
  read -r cl ct cr cb zoomed < <(echo "$window" | awk -F'\t' '{ print $6, $7, $8, $9, $11 }')
  if [ "$zoomed" != 1 ] || [ "$ct" -le 0 ] || [ $((cb - ct)) -ge 768 ]; then
    fail "the backdrop is not a maximised window with a caption (client area $cl,$ct-$cr,$cb, maximised: $zoomed)"
    return 1
  fi
  shot backdrop_maximised
  local column wrong="" k row
  column=$(pixels "$LAST_SHOT" 1010 "$ct" 1 $((cb - ct)))
  for ((k = 0; k < 256; k += 4)); do
    row=$((ct + (769 * k + 128) / 256))
    [ "$row" -lt "$cb" ] || break
    [ "$(echo "$column" | awk -v y="$row" '$2 == y { print $3, $4, $5 }')" = "0 0 $((255 - k))" ] || wrong="$wrong $row"
    if [ $k -gt 0 ]; then
      [ "$(echo "$column" | awk -v y=$((row - 1)) '$2 == y { print $3, $4, $5 }')" = "0 0 $((259 - k))" ] ||
        wrong="$wrong $((row - 1))"
    fi
  done
  check "the bands start at the rows of the screen's height below the client's top $ct (wrong at rows:$wrong)" \
    [ -z "$wrong" ]

  local white black wl wt wr wb bl bt br bb
  white=$(ink_box "$LAST_SHOT" "$cl" "$ct" $((cr - cl)) 120 255 255 255)
  black=$(ink_box "$LAST_SHOT" "$cl" "$ct" $((cr - cl)) 120 0 0 0)
  if [ -z "$white" ] || [ -z "$black" ]; then
    fail "no banner in white with a black shadow below the caption (white: $white; black: $black)"
  else
    read -r wl wt wr wb <<<"$white"
    read -r bl bt br bb <<<"$black"
    check "the banner's shadow lies 4 pixels right and down (white $white, black $black)" \
      [ $((br - wr)) -eq 4 -a $((bb - wb)) -eq 4 ]
    # Twice the centre of text and shadow together against the screen's width plus 1.
    check "the banner is centred on the screen's width (ink from $wl to $br)" \
      [ $((wl + br - 2 * cl - 1025)) -ge -2 -a $((wl + br - 2 * cl - 1025)) -le 2 ]
    check "the banner is drawn from client row 18 (ink from client row $((wt - ct)) to $((bb - ct)))" \
      [ $((wt - ct)) -ge 18 -a $((bb - ct)) -le 70 ]
  fi

  # The notices: two runs of columns holding white, each centred on row 384.5 of the client.
  local runs
  # Runs of columns holding white, a gap of up to 3 columns inside a run (descenders).
  runs=$(pixels "$LAST_SHOT" "$cl" "$ct" 100 $((cb - ct)) | awk -v cl="$cl" -v ct="$ct" '
    $3 == 255 && $4 == 255 && $5 == 255 {
      x = $1 - cl; y = $2 - ct; seen[x] = 1
      if (!(x in top) || y < top[x]) top[x] = y; if (y > bottom[x]) bottom[x] = y }
    END {
      n = 0
      for (x = 0; x < 100; x++) {
        if (!(x in seen)) continue
        if (n && x - last <= 4) { if (top[x] < t[n]) t[n] = top[x]; if (bottom[x] > b[n]) b[n] = bottom[x] }
        else { n++; first[n] = x; t[n] = top[x]; b[n] = bottom[x] }
        last = x; end[n] = x
      }
      for (i = 1; i <= n; i++) print first[i], end[i], t[i], b[i] }')
  local count x0 x1 y0 y1 n=0
  count=$(echo "$runs" | grep -c .)
  check "the side notices are two lines of white text ($count runs of columns: $(echo $runs))" [ "$count" -eq 2 ]
  for x in 22 44; do
    n=$((n + 1))
    read -r x0 x1 y0 y1 < <(echo "$runs" | sed -n "${n}p")
    [ -n "${x0:-}" ] || continue
    check "side notice $n starts at x = $x (its ink: columns $x0-$x1)" [ "$x0" -ge "$x" -a "$x0" -le $((x + 3)) ]
    check "side notice $n is centred on the screen's height (its ink: client rows $y0-$y1)" \
      [ $((y0 + y1 - 769)) -ge -4 -a $((y0 + y1 - 769)) -le 4 ]
  done
}

# backdrop_checks: the gradient's 64 bands follow the screen's height (not the window's),
# and the banner and both side notices are drawn in white.
backdrop_checks() {
  maximised_backdrop_checks
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
    [ "$(control_text Ambrel 102)" = 'Maps and fixes for Brackwold.\r\n Read the notes\r\nafter the upgrade.\r\n' ]
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
