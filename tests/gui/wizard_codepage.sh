#!/usr/bin/env bash
# ambrel32.exe and ambrel.exe end to end under Wine with accented names: a package that the
# native builder made from a UTF-8 tree (its names in code page 1252) is shown and applied
# by the wizard, and by the command-line program, to the same tree installed in the
# prefix, whose names Wine keeps in UTF-8 on the host.
# Usage: wizard_codepage.sh AMBREL32_EXE EMULATOR NATIVE_AMBREL WIN_PEEK_EXE
. "$(dirname "$0")/common.sh" wizard_codepage "$@"

# An updated and a removed file in accented folders (they identify the installation), a
# file added in a new accented folder, and an unchanged one.
old=$FIX/old new=$FIX/new
mkdir -p "$old/Música" "$old/Mapas/Señales" "$new/Música/Canción" "$new/Mapas/Señales"
head -c 40000 /dev/urandom >"$old/Música/tema.ogg"
{ head -c 20000 "$old/Música/tema.ogg"; printf 'nuevo'; tail -c 15000 "$old/Música/tema.ogg"; } >"$new/Música/tema.ogg"
printf 'old north' >"$old/Mapas/Señales/norte.map"
printf 'unchanged' >"$old/Ærø.cfg" && cp "$old/Ærø.cfg" "$new/Ærø.cfg"
printf 'a new song' >"$new/Música/Canción/nueva.ogg"
touch -d '2024-01-10 12:00:00' "$old/Música/tema.ogg" "$old/Mapas/Señales/norte.map" "$old/Ærø.cfg" "$new/Ærø.cfg"
touch -d '2024-03-01 09:30:00' "$new/Música/tema.ogg" "$new/Música/Canción/nueva.ogg"
build "$old" "$new" "$FIX/accents.upg" --title "Música 1.1" --description "Canción nueva" --error-policy 2
LC_ALL=C grep -q -F $'M\xfasica\\tema.ogg' "$FIX/accents.upg" || fail "the package does not hold its names in 1252"

wizard() {
  wine_new_prefix || return 1
  install_program 'C:\Patch' "$FIX/accents.upg" ambrel32.upg
  install_copy "$old" "$INSTALLED"
  wine_start 'C:\Patch\ambrel32.exe'
  win_wait_new "Ambrel" 90 || return 1
  # Page 1 shows the title as the 1252 text it is.
  win_texts "Ambrel" | LC_ALL=C grep -q -F $'M\xfasica 1.1' || fail "page 1 does not show the accented title"
  win_key "$WIN" Return
  win_wait_new "Ambrel" 45 || return 1
  win_key "$WIN" Return
  expect_msgbox "All Finished" "$APPLIED" 60 || return 1
  win_key "$WIN" Return
  wine_wait_exit 45
  same_tree "the wizard did not bring the accented tree to its new version" "$(wine_c "$INSTALLED")" "$new"
  no_temporary_folder "$INSTALLED"
}

command_line() {
  wine_new_prefix || return 1
  install_program 'C:\Patch' "$FIX/accents.upg" ambrel32.upg
  cp "$(dirname "$AMBREL32")/ambrel.exe" "$(wine_c 'C:\Patch')/ambrel.exe"
  install_copy "$old" "$INSTALLED"
  "$EMULATOR" 'C:\Patch\ambrel.exe' apply 'C:\Patch\ambrel32.upg' "$INSTALLED" --yes >"$WINE_WORK/cli.txt" 2>&1 </dev/null ||
    { fail "ambrel.exe apply failed: $(tail -n 3 "$WINE_WORK/cli.txt")"; return 1; }
  same_tree "ambrel.exe did not bring the accented tree to its new version" "$(wine_c "$INSTALLED")" "$new"
  no_temporary_folder "$INSTALLED"
}

scenario "the wizard applies a package with accented names" wizard
scenario "ambrel.exe applies it inside the prefix" command_line
wine_finish
