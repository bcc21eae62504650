#!/usr/bin/env bash
# scripts/wine-prefix.sh [REGISTRY]: makes a new Wine prefix at $WINEPREFIX in which Qt draws letters. Wine brings
# no fonts of its own without its recommended packages, and without these Qt draws symbols for letters: DejaVu
# Sans stands in for the Windows fonts. REGISTRY, lines of more REGEDIT4 sections, goes into the registry with it.
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX names the prefix to make}"
wineboot -i >/dev/null 2>&1
cp /usr/share/fonts/truetype/dejavu/DejaVuSans*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
reg=$WINEPREFIX/setup.reg
{
    printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\n'
    for font in "MS Shell Dlg" "MS Shell Dlg 2" "Segoe UI" "Tahoma" "MS Sans Serif" "Arial"; do
        printf '"%s"="DejaVu Sans"\n' "$font"
    done
    printf '\n%s\n' "${1:-}"
} >"$reg"
wine regedit "$reg" >/dev/null 2>&1
wineserver -w 2>/dev/null || /usr/lib/wine/wineserver -w
