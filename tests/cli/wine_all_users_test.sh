#!/usr/bin/env bash
# --all-users under Wine with the system's profile list: the user Wine runs as (logged on, its
# hive under HKEY_USERS) and a second user whose NTUSER.DAT RegSaveKeyW made. Wine 8 lists
# both and gives the first one's hive; its RegLoadAppKeyW is a stub, so the second user's hive
# cannot be loaded there: that user is then one line with the error, the run goes on and fails.
# On Windows the second user is collected like the first. Also --drive on Windows: the data
# paths' C: read from a folder, the work folder on C: left where it is.
#
#   wine_all_users_test.sh kdr4tose-cli.exe tools/wine-run save_key.exe schema-docs
set -u
exe=$1
wine_run=$2
save_key=$3
here=$(cd -- "$(dirname -- "$0")" && pwd)
source "$here/wine_prefix.sh" all-users
wine_in() { KDR_WINEPREFIX=$prefix "$wine_run" "$@"; }

# The old Client edition, its data below C:\old as a mounted old disk would have it.
mkdir -p "$c/old/k4/prv/DDBVID" "$c/tool" "$c/work"
printf 'view=orders\r\n' >"$c/old/k4/prv/DDBVID/orders.ddv"
printf '%s\r\n' 'REGEDIT4' '' \
  '[HKEY_LOCAL_MACHINE\Software\VTQ\Kodrel Client]' '' \
  '[HKEY_LOCAL_MACHINE\Software\VTQ\Kodrel SE Client]' '' \
  '[HKEY_CURRENT_USER\Software\VTQ\Kodrel\Client\Client]' '"Host"="dbsrv01"' \
  '"PRV_PATH"="C:\\k4\\prv\\"' '' \
  '[HKEY_CURRENT_USER\Software\VTQ\KodrelSE\Client\Client]' '"PRV_PATH"="C:\\kse\\prv\\"' '' \
  >"$c/seed.reg"
wine_in regedit.exe /S 'C:\seed.reg' >/dev/null 2>&1
cp -- "$exe" "$c/tool/kdr4tose-cli.exe"
cp -- "$save_key" "$c/tool/save_key.exe"
# The second user: a profile of the list and a hive file made from the first user's keys.
mkdir -p "$c/users/bob"
wine_in 'C:\tool\save_key.exe' 'Software\VTQ' 'C:\users\bob\NTUSER.DAT' >/dev/null 2>&1 ||
  fail "save_key could not make bob's NTUSER.DAT"
wine_in reg.exe add 'HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList\S-1-5-21-0-0-0-1001' \
  /v ProfileImagePath /t REG_EXPAND_SZ /d '%SystemDrive%\users\bob' /f >/dev/null 2>&1
bob_before=$(md5sum <"$c/users/bob/NTUSER.DAT")
me=$(wine_in cmd.exe /c 'echo %USERNAME%' 2>/dev/null | tr -d '\r')

KDR_WINEPREFIX=$prefix "$wine_run" 'C:\tool\kdr4tose-cli.exe' --lang en --all-users --work-dir 'C:\work' \
  --drive 'C=C:\old' --json collect >"$root/out" 2>"$root/err"
code=$?
tr -d '\r' <"$root/err" >"$root/err.txt"
python3 "$here/json_schema.py" "$here/../../docs/cli.md" "$root/out" all-users ||
  fail "not of the JSON schema: $(cat "$root/out")"
cmp -s "$c/work/$me/kdr4env/client/DDBVID/orders.ddv" "$c/old/k4/prv/DDBVID/orders.ddv" ||
  fail "the logged-on user's data was not collected from the mapped drive: $(cat "$root/err.txt")"
if [[ -e $c/work/bob/kdr4env/client/kdr4reg.fil ]]; then
  [[ $code == 0 ]] || fail "both users collected, exit $code"
else
  [[ $code == 1 ]] || fail "bob not collected, exit $code, expected 1"
  [[ $(grep -c '^kdr4tose-cli: user bob: cannot reach the registry: cannot load C:\\users\\bob\\NTUSER.DAT: error ' "$root/err.txt") == 1 ]] ||
    fail "no one line for bob: $(cat "$root/err.txt")"
  [[ ! -e $c/work/bob ]] || fail "a work folder was made for bob, who could not be reached"
fi
[[ $(md5sum <"$c/users/bob/NTUSER.DAT") == "$bob_before" ]] || fail "collect changed bob's NTUSER.DAT"
python3 - "$root/out" "$me" <<'PY' || fail "users in --json: $(cat "$root/out")"
import json, sys
r = json.load(open(sys.argv[1]))
names = [u["user"] for u in r["users"]]
assert names == [sys.argv[2], "bob"] or names == ["bob", sys.argv[2]], names
me = next(u for u in r["users"] if u["user"] == sys.argv[2])
assert me["exit_code"] == 0 and me["result"]["command"] == "collect", me
PY
# A name outside the list, and only the first user.
KDR_WINEPREFIX=$prefix "$wine_run" 'C:\tool\kdr4tose-cli.exe' --lang en --all-users --work-dir 'C:\work' \
  --user "$me" status >"$root/out" 2>&1
[[ $? == 0 ]] && grep -q "^\[user $me\]" "$root/out" && ! grep -q 'bob' "$root/out" ||
  fail "--user $me: $(cat "$root/out")"
# --hive: the same file loaded for one run; where it cannot be loaded (Wine), one line and 64.
KDR_WINEPREFIX=$prefix "$wine_run" 'C:\tool\kdr4tose-cli.exe' --lang en --work-dir 'C:\work\bob' \
  --hive 'C:\users\bob\NTUSER.DAT' status >"$root/out" 2>"$root/err"
code=$?
if [[ $code != 0 ]]; then
  [[ $code == 64 ]] || fail "--hive: exit $code"
  grep -qF 'kdr4tose-cli: cannot use the hive file C:\users\bob\NTUSER.DAT: cannot load C:\users\bob\NTUSER.DAT: error ' "$root/err" ||
    fail "--hive: $(cat "$root/err")"
fi
[[ $(md5sum <"$c/users/bob/NTUSER.DAT") == "$bob_before" ]] || fail "--hive status changed the file"
# Migrate writes the logged-on user's hive through HKEY_USERS\<SID>: the values are that user's.
KDR_WINEPREFIX=$prefix "$wine_run" 'C:\tool\kdr4tose-cli.exe' --all-users --work-dir 'C:\work' \
  --user "$me" migrate >"$root/out" 2>&1 || fail "migrate --user $me: $(cat "$root/out")"
wine_in reg.exe query 'HKCU\Software\VTQ\KodrelSE\Client\Client' /v Host 2>/dev/null | grep -q dbsrv01 ||
  fail "migrate did not write the user's registry"
cmp -s "$c/kse/prv/DDBVID/orders.ddv" "$c/old/k4/prv/DDBVID/orders.ddv" || fail "data not migrated"
exit $((failures > 0))
