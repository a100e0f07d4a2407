#!/usr/bin/env bash
# Remakes the Wine exports in this folder: imports input_v5.reg and input_regedit4.reg into a
# scratch Wine prefix, adds a few values with reg.exe, and exports both branches with
# `regedit /E` (which writes version 5, UTF-16LE). Wine's regedit cannot write REGEDIT4 files,
# so input_regedit4.reg is written by hand; its import is checked through the version 5 export.
# ours_regedit4.reg is what our own writer makes of a store; Wine's reading of it is exported
# to wine_ours_v5.reg.
#
#   tests/data/regedit/make_wine_exports.sh
set -eu
here=$(cd -- "$(dirname -- "$0")" && pwd)
wine=${KDR_WINE:-/usr/lib/wine/wine64}
wineserver=${KDR_WINESERVER:-/usr/lib/wine/wineserver}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kdr4tose-regedit.XXXXXX")
export WINEPREFIX=$scratch/prefix WINEDEBUG=-all LC_ALL=ja_JP.UTF-8
export WINEDLLOVERRIDES=mscoree,mshtml=
cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true
  "$wineserver" -w >/dev/null 2>&1 || true
  rm -rf -- "$scratch"
}
trap cleanup EXIT

"$wine" wineboot.exe --init >/dev/null 2>&1
cp -- "$here/input_v5.reg" "$here/input_regedit4.reg" "$here/ours_regedit4.reg" "$scratch/"
cd -- "$scratch"
"$wine" regedit.exe input_v5.reg
"$wine" regedit.exe input_regedit4.reg
"$wine" regedit.exe ours_regedit4.reg
key='HKCU\Software\VTQ\FromReg'
"$wine" reg.exe add "$key" /ve /d 'default text' /f >/dev/null
"$wine" reg.exe add "$key" /v Path /t REG_EXPAND_SZ /d '%TEMP%\ソフト' /f >/dev/null
"$wine" reg.exe add "$key" /v List /t REG_MULTI_SZ /d 'one\0二つ\0three' /f >/dev/null
"$wine" reg.exe add "$key" /v Flags /t REG_DWORD /d 305419896 /f >/dev/null
"$wine" reg.exe add "$key" /v Blob /t REG_BINARY /d 0102ABCDEF /f >/dev/null
"$wine" reg.exe add "$key" /v Big /t REG_QWORD /d 0x1122334455667788 /f >/dev/null
"$wine" reg.exe add "$key" /v Blank /t REG_SZ /d '' /f >/dev/null
"$wine" reg.exe add "$key\\空のキー" /f >/dev/null
"$wine" regedit.exe /E wine_hkcu_v5.reg 'HKEY_CURRENT_USER\Software\VTQ'
"$wine" regedit.exe /E wine_hklm_v5.reg 'HKEY_LOCAL_MACHINE\Software\Wow6432Node\VTQ'
"$wine" regedit.exe /E wine_ours_v5.reg 'HKEY_CURRENT_USER\Software\Ours'
cp -- wine_hkcu_v5.reg wine_hklm_v5.reg wine_ours_v5.reg "$here/"
