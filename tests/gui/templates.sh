#!/usr/bin/env bash
# The dialog templates inside ambrel32.exe, decoded from the program with windres, against
# one table: every template's position, size, style, caption and font, and every control of
# it in template order with its identifier, class, position, size, text and style.
# Usage: templates.sh WINDRES AMBREL32_EXE
set -u
windres=$1
program=$2
failures=0
problem() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Window and control styles, as windows.h defines them.
declare -A FLAG=(
  [POPUP]=0x80000000 [CHILD]=0x40000000 [VISIBLE]=0x10000000 [DISABLED]=0x08000000
  [CAPTION]=0x00C00000 [BORDER]=0x00800000 [DLGFRAME]=0x00400000 [VSCROLL]=0x00200000
  [SYSMENU]=0x00080000 [GROUP]=0x00020000 [TABSTOP]=0x00010000
  [DS_3DLOOK]=0x4 [DS_SETFONT]=0x40 [DS_MODALFRAME]=0x80 [DS_CONTEXTHELP]=0x2000
  [SS_NOPREFIX]=0x80
  [ES_MULTILINE]=0x4 [ES_AUTOHSCROLL]=0x80 [ES_READONLY]=0x800
  [LBS_NOTIFY]=0x1 [LBS_SORT]=0x2 [LBS_OWNERDRAWFIXED]=0x10 [LBS_HASSTRINGS]=0x40 [LBS_DISABLENOSCROLL]=0x1000
  [CBS_OWNERDRAWFIXED]=0x10 [CBS_SORT]=0x100 [CBS_HASSTRINGS]=0x200
)
# Control kinds: the value of the class's kind field (SS_TYPEMASK 0x1F of a static control,
# BS_TYPEMASK 0xF of a button, the low two bits of a combo box). A check box may tick
# itself or not (BS_CHECKBOX 2, BS_AUTOCHECKBOX 3).
declare -A KIND=(
  [SS_LEFT]=0 [SS_CENTER]=1 [SS_WHITEFRAME]=9 [SS_LEFTNOWORDWRAP]=0xC
  [BS_PUSHBUTTON]=0 [BS_DEFPUSHBUTTON]=1 [BS_CHECKBOX]="2 3" [BS_GROUPBOX]=7
  [CBS_DROPDOWNLIST]=3
)
declare -A KIND_MASK=([STATIC]=0x1F [BUTTON]=0xF [COMBOBOX]=0x3)

# The templates. A dialog line: name, x, y, width, height (dialog units), style, caption,
# font size and face. A control line: its dialog, identifier ("none": -1), class, x, y,
# width, height, style (a child window, visible unless HIDDEN, enabled unless DISABLED),
# text. Controls are listed in template order.
TABLE=$(cat <<'EOF'
dialog;CONFIRM;76;66;273;184;POPUP CAPTION SYSMENU DS_MODALFRAME VISIBLE;Ambrel;8;MS Sans Serif
control;CONFIRM;199;STATIC;9;11;58;134;SS_CENTER BORDER;
control;CONFIRM;none;BUTTON;5;3;263;147;BS_GROUPBOX;

dialog;CONFIRM1;76;66;273;184;POPUP CAPTION SYSMENU DS_MODALFRAME VISIBLE;Ambrel;8;MS Sans Serif
control;CONFIRM1;199;STATIC;9;11;58;134;SS_CENTER BORDER;
control;CONFIRM1;301;BUTTON;118;159;38;17;BS_DEFPUSHBUTTON TABSTOP;&Next  >>
control;CONFIRM1;2;BUTTON;222;159;38;17;BS_PUSHBUTTON TABSTOP;Cancel
control;CONFIRM1;300;BUTTON;77;159;38;17;BS_PUSHBUTTON TABSTOP DISABLED;<<  &Back
control;CONFIRM1;none;BUTTON;5;3;263;147;BS_GROUPBOX;
control;CONFIRM1;none;STATIC;76;16;21;11;SS_LEFT;Title:
control;CONFIRM1;101;STATIC;99;16;158;10;SS_LEFTNOWORDWRAP SS_NOPREFIX;UpdateTitle
control;CONFIRM1;none;STATIC;77;34;51;10;SS_LEFT;Description:
control;CONFIRM1;102;EDIT;76;45;177;95;ES_MULTILINE ES_READONLY BORDER VSCROLL TABSTOP;

dialog;CONFIRM2;76;66;273;184;POPUP CAPTION SYSMENU DS_MODALFRAME VISIBLE;Ambrel;8;MS Sans Serif
control;CONFIRM2;199;STATIC;9;11;58;134;SS_CENTER BORDER;
control;CONFIRM2;301;BUTTON;118;159;38;17;BS_DEFPUSHBUTTON TABSTOP;&Next  >>
control;CONFIRM2;2;BUTTON;222;159;38;17;BS_PUSHBUTTON TABSTOP;Cancel
control;CONFIRM2;300;BUTTON;77;159;38;17;BS_PUSHBUTTON TABSTOP;<<  &Back
control;CONFIRM2;none;BUTTON;5;3;263;147;BS_GROUPBOX;
control;CONFIRM2;none;STATIC;79;16;178;28;SS_LEFT;Please select the target folder that contains the files which should be upgraded.
control;CONFIRM2;none;BUTTON;78;60;178;29;BS_GROUPBOX;
control;CONFIRM2;101;STATIC;83;71;126;11;SS_LEFTNOWORDWRAP SS_NOPREFIX;Folder
control;CONFIRM2;102;BUTTON;214;69;38;16;BS_PUSHBUTTON TABSTOP;B&rowse
control;CONFIRM2;none;STATIC;78;111;178;27;SS_LEFT;Press the Next button to proceed with the upgrade, or Back to review the details of the upgrade.

dialog;CONFIRM3;76;66;273;184;POPUP CAPTION SYSMENU DS_MODALFRAME VISIBLE;Ambrel;8;MS Sans Serif
control;CONFIRM3;199;STATIC;9;11;58;134;SS_CENTER BORDER;
control;CONFIRM3;301;BUTTON;118;159;38;17;BS_DEFPUSHBUTTON TABSTOP;&Next  >>
control;CONFIRM3;2;BUTTON;222;159;38;17;BS_PUSHBUTTON TABSTOP;Cancel
control;CONFIRM3;300;BUTTON;77;159;38;17;BS_PUSHBUTTON TABSTOP;<<  &Back
control;CONFIRM3;none;BUTTON;5;3;263;147;BS_GROUPBOX;
control;CONFIRM3;none;STATIC;80;16;97;11;SS_LEFT;Invalid target folder!
control;CONFIRM3;none;STATIC;80;40;178;26;SS_LEFT;The selected directory (as shown below) does not contain the necessary files to receive an upgrade.
control;CONFIRM3;none;BUTTON;80;69;179;23;BS_GROUPBOX;
control;CONFIRM3;101;STATIC;86;78;169;11;SS_CENTER SS_NOPREFIX;FolderName
control;CONFIRM3;none;STATIC;80;106;178;31;SS_LEFT;Press the Next button to try the upgrade anyway, the Back button to alter the target upgrade folder, or Cancel to abort the upgrade.

dialog;UPGSEARCH;106;86;176;27;POPUP DLGFRAME VISIBLE;;8;MS Sans Serif
control;UPGSEARCH;none;STATIC;9;10;159;10;SS_CENTER;Searching for installed components...

dialog;BROWSE;26;27;223;139;POPUP CAPTION SYSMENU DS_MODALFRAME DS_3DLOOK DS_CONTEXTHELP;Change Target Folder;8;Helv
control;BROWSE;none;STATIC;8;6;147;9;SS_LEFT;&Folders:
control;BROWSE;1088;STATIC;8;18;147;9;SS_LEFT SS_NOPREFIX;
control;BROWSE;1121;LISTBOX;8;32;147;68;LBS_SORT LBS_OWNERDRAWFIXED LBS_HASSTRINGS LBS_NOTIFY BORDER VSCROLL LBS_DISABLENOSCROLL TABSTOP;
control;BROWSE;1091;STATIC;8;104;147;9;SS_LEFT;Dri&ves:
control;BROWSE;1137;COMBOBOX;8;114;147;68;CBS_DROPDOWNLIST CBS_SORT CBS_OWNERDRAWFIXED CBS_HASSTRINGS BORDER VSCROLL TABSTOP;
control;BROWSE;1;BUTTON;167;6;50;14;BS_DEFPUSHBUTTON;OK
control;BROWSE;2;BUTTON;167;24;50;14;BS_PUSHBUTTON;Cancel
control;BROWSE;1038;BUTTON;167;46;50;14;BS_PUSHBUTTON;&Help
control;BROWSE;1090;STATIC;260;8;76;9;SS_LEFT;File &name:
control;BROWSE;1152;EDIT;259;18;90;12;ES_AUTOHSCROLL HIDDEN;
control;BROWSE;1120;LISTBOX;260;34;90;68;HIDDEN;
control;BROWSE;1089;STATIC;260;106;90;9;SS_LEFT;List files of &type:
control;BROWSE;1136;COMBOBOX;260;116;90;96;CBS_DROPDOWNLIST HIDDEN;
control;BROWSE;1040;BUTTON;282;143;50;12;BS_CHECKBOX HIDDEN;&Read only

dialog;UPGPROGRESS;52;58;228;94;POPUP CAPTION SYSMENU DS_MODALFRAME VISIBLE;Cap;8;MS Sans Serif
control;UPGPROGRESS;103;STATIC;7;7;52;10;SS_LEFT;Op
control;UPGPROGRESS;101;STATIC;64;7;156;10;SS_LEFT;fnm
control;UPGPROGRESS;102;STATIC;64;21;156;10;SS_LEFT;desc
control;UPGPROGRESS;105;STATIC;20;42;188;14;SS_WHITEFRAME BORDER;
control;UPGPROGRESS;2;BUTTON;93;68;41;14;BS_PUSHBUTTON TABSTOP;Cncl
EOF
)

# windres's text form of the program's dialogs, one line per dialog or control:
#   dialog;NAME;X;Y;W;H;STYLE;CAPTION;FONTSIZE;FONT
#   control;NAME;ID;CLASS;X;Y;W;H;STYLE;TEXT
decode() {
  "$windres" -i "$program" -O rc 2>/dev/null | awk '
    function unquote(s) { s = substr(s, 2, length(s) - 2); gsub(/\\"/, "\"", s); gsub(/""/, "\"", s); return s }
    # Splits what follows the text into its comma-separated numbers and names.
    function fields(rest, out,   n, i) {
      n = split(rest, out, ",")
      for (i = 1; i <= n; i++) { gsub(/^[ \t]+|[ \t]+$/, "", out[i]); gsub(/"/, "", out[i]) }
      return n
    }
    /^"[^"]*" DIALOG / {
      name = $1; gsub(/"/, "", name)
      sub(/^"[^"]*" DIALOG [A-Z ]*/, "")
      fields($0, pos); caption = ""; style = ""; fsize = ""; font = ""; indialog = 1; next
    }
    indialog && /^STYLE / { style = $2; next }
    indialog && /^CAPTION / { sub(/^CAPTION /, ""); caption = unquote($0); next }
    indialog && /^FONT / { sub(/^FONT /, ""); fsize = $0; sub(/,.*/, "", fsize); sub(/^[^,]*, */, ""); font = unquote($0); next }
    indialog && /^BEGIN/ {
      printf "dialog;%s;%s;%s;%s;%s;%s;%s;%s;%s\n", name, pos[1], pos[2], pos[3], pos[4], style, caption, fsize, font
      incontrols = 1; next
    }
    incontrols && /^END/ { indialog = 0; incontrols = 0; next }
    incontrols {
      line = $0; sub(/^[ \t]+/, "", line)
      kind = line; sub(/[ \t].*/, "", kind); sub(/^[A-Z]+[ \t]+/, "", line)
      text = ""
      if (match(line, /^"([^"\\]|\\.|"")*"/)) { text = unquote(substr(line, 1, RLENGTH)); line = substr(line, RLENGTH + 2) }
      n = fields(line, f)
      if (kind == "CONTROL") {
        printf "control;%s;%s;%s;%s;%s;%s;%s;%s;%s\n", name, f[1], toupper(f[2]), f[4], f[5], f[6], f[7], f[3], text
      } else {
        class = (kind ~ /TEXT$/) ? "STATIC" : (kind == "EDITTEXT") ? "EDIT" : (kind == "LISTBOX") ? "LISTBOX" : (kind == "COMBOBOX") ? "COMBOBOX" : "BUTTON"
        printf "control;%s;%s;%s;%s;%s;%s;%s;%s;%s\n", name, f[1], class, f[2], f[3], f[4], f[5], (n >= 6 ? f[6] : "?"), text
      }
    }'
}

# style_of NAMES...: the OR of their flags (control kinds excluded).
style_of() {
  local value=0 name
  for name in "$@"; do
    [ -n "${FLAG[$name]:-}" ] && value=$((value | FLAG[$name]))
  done
  echo "$value"
}

ACTUAL=$(decode)
if [ -z "$ACTUAL" ]; then
  echo "FAIL: $windres could not decode the dialogs of $program"
  exit 1
fi

# Every template of the program is in the table, and every one of the table in the program.
want_names=$(echo "$TABLE" | awk -F';' '$1 == "dialog" { print $2 }' | sort)
got_names=$(echo "$ACTUAL" | awk -F';' '$1 == "dialog" { print $2 }' | sort)
[ "$want_names" = "$got_names" ] || problem "the program's dialog templates are $(echo $got_names), expected $(echo $want_names)"

check_dialog() {
  local name=$1 x=$2 y=$3 w=$4 h=$5 styles=$6 caption=$7 fsize=$8 font=$9
  local got
  got=$(echo "$ACTUAL" | awk -F';' -v n="$name" '$1 == "dialog" && $2 == n')
  [ -n "$got" ] || return 0
  local gx gy gw gh gstyle gcaption gfsize gfont
  IFS=';' read -r _ _ gx gy gw gh gstyle gcaption gfsize gfont <<<"$got"
  [ "$gx $gy $gw $gh" = "$x $y $w $h" ] || problem "$name is at ($gx, $gy), $gw x $gh; expected ($x, $y), $w x $h"
  # A template with a font carries DS_SETFONT.
  local want_style
  want_style=$(( $(style_of $styles) | FLAG[DS_SETFONT] ))
  [ $((gstyle)) -eq "$want_style" ] ||
    problem "$name has the style $(printf '0x%08X' $((gstyle))), expected $(printf '0x%08X' "$want_style") ($styles)"
  [ "$gcaption" = "$caption" ] || problem "$name has the caption \"$gcaption\", expected \"$caption\""
  [ "$gfsize $gfont" = "$fsize $font" ] || problem "$name has the font $gfsize \"$gfont\", expected $fsize \"$font\""
}

# check_control INDEX NAME ID CLASS X Y W H STYLES TEXT against the control at that place.
check_control() {
  local index=$1 name=$2 id=$3 class=$4 x=$5 y=$6 w=$7 h=$8 styles=$9 text=${10}
  local where="$name control $index (id $id)"
  local got
  got=$(echo "$ACTUAL" | awk -F';' -v n="$name" -v i="$index" '$1 == "control" && $2 == n && ++k == i')
  if [ -z "$got" ]; then
    problem "$where is missing"
    return
  fi
  local gid gclass gx gy gw gh gstyle gtext
  IFS=';' read -r _ _ gid gclass gx gy gw gh gstyle gtext <<<"$got"
  [ "$id" = none ] && id=65535
  [ "$gid" = -1 ] && gid=65535
  [ "$gid" = "$id" ] || problem "$where has the identifier $gid"
  [ "${gclass^^}" = "$class" ] || problem "$where is of the class $gclass, expected $class"
  [ "$gx $gy $gw $gh" = "$x $y $w $h" ] || problem "$where is at ($gx, $gy), $gw x $gh; expected ($x, $y), $w x $h"
  [ "$gtext" = "$text" ] || problem "$where says \"$gtext\", expected \"$text\""
  # Styles: every flag named is set; visible and enabled exactly as named; the control's
  # kind exactly (a check box either kind). Flags the table does not name are left open
  # (WS_GROUP, for one, is the resource compiler's).
  local actual=$((gstyle)) required name_ kinds="" shown=1 disabled=0
  for name_ in $styles; do
    case $name_ in
      HIDDEN) shown=0 ;;
      DISABLED) disabled=1 ;;
    esac
    [ -n "${KIND[$name_]:-}" ] && kinds=${KIND[$name_]}
  done
  required=$(( $(style_of $styles) | FLAG[CHILD] ))
  [ $((actual & required)) -eq "$required" ] ||
    problem "$where has the style $(printf '0x%08X' "$actual"), which lacks $(printf '0x%08X' $((required & ~actual))) of $styles"
  [ $(((actual & FLAG[VISIBLE]) != 0)) -eq "$shown" ] || problem "$where is $( [ $shown = 1 ] && echo hidden || echo visible)"
  [ $(((actual & FLAG[DISABLED]) != 0)) -eq "$disabled" ] || problem "$where is $( [ $disabled = 1 ] && echo enabled || echo disabled)"
  local mask=${KIND_MASK[$class]:-0}
  if [ "$mask" != 0 ]; then
    local kind ok=0
    for kind in ${kinds:-0}; do [ $((actual & mask)) -eq $((kind)) ] && ok=1; done
    [ "$ok" = 1 ] || problem "$where is of the kind $((actual & mask)) of its class, expected ${kinds:-0}"
  fi
}

declare -A count
while IFS=';' read -r what name a b c d e f g h i; do
  case $what in
    dialog) check_dialog "$name" "$a" "$b" "$c" "$d" "$e" "$f" "$g" "$h" ;;
    control)
      count[$name]=$((${count[$name]:-0} + 1))
      check_control "${count[$name]}" "$name" "$a" "$b" "$c" "$d" "$e" "$f" "$g" "$h"
      ;;
  esac
done <<<"$TABLE"
for name in "${!count[@]}"; do
  got=$(echo "$ACTUAL" | awk -F';' -v n="$name" '$1 == "control" && $2 == n' | wc -l)
  [ "$got" -eq "${count[$name]}" ] || problem "$name has $got controls, expected ${count[$name]}"
done

if [ "$failures" -eq 0 ]; then
  echo "templates.sh: all checks passed ($(echo "$TABLE" | grep -c '^dialog') templates, $(echo "$TABLE" | grep -c '^control') controls)"
fi
exit "$failures"
