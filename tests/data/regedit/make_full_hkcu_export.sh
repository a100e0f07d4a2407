#!/usr/bin/env bash
# Remakes full_hkcu_v5.reg: a whole HKEY_CURRENT_USER exported with Wine's `regedit /E` from a
# fresh prefix into which the sample's user keys were imported and a few values of another
# program were added whose text has no code page 932 form (or a lossy one). The markers of the
# installed products, comments and deletions are added to the export by the console tool's test.
#
#   tests/data/regedit/make_full_hkcu_export.sh path/to/examples/sample.reg
set -eu
here=$(cd -- "$(dirname -- "$0")" && pwd)
sample=$1
wine=${KDR_WINE:-/usr/lib/wine/wine64}
wineserver=${KDR_WINESERVER:-/usr/lib/wine/wineserver}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kdr4tose-fullhkcu.XXXXXX")
export WINEPREFIX=$scratch/prefix WINEDEBUG=-all LC_ALL=ja_JP.UTF-8
export WINEDLLOVERRIDES=mscoree,mshtml=
cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true
  "$wineserver" -w >/dev/null 2>&1 || true
  rm -rf -- "$scratch"
}
trap cleanup EXIT

"$wine" wineboot.exe --init >/dev/null 2>&1
python3 - "$sample" "$scratch/user.reg" <<'PY'
import sys
blocks = open(sys.argv[1], 'rb').read().split(b'\r\n\r\n')
open(sys.argv[2], 'wb').write(b'\r\n\r\n'.join(b for b in blocks if b'HKEY_LOCAL_MACHINE' not in b))
PY
cd -- "$scratch"
"$wine" regedit.exe user.reg
key='HKCU\Software\OtherApp'
"$wine" reg.exe add "$key" /v Price /d '¥100 〜 ¥200 — © 한국어 😀' /f >/dev/null
"$wine" reg.exe add "$key" /v 'Name¥' /d 'yen' /f >/dev/null
"$wine" reg.exe add "$key" /v 'Name\' /d 'backslash' /f >/dev/null
"$wine" reg.exe add "$key" /v 'カード' /d 'card' /f >/dev/null
"$wine" reg.exe add "$key" /v 'ニード' /d 'need' /f >/dev/null
"$wine" reg.exe add "$key\\¥Key" /v v /d x /f >/dev/null
"$wine" regedit.exe /E full.reg 'HKEY_CURRENT_USER'
cp -- full.reg "$here/full_hkcu_v5.reg"
