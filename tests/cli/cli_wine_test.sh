#!/usr/bin/env bash
# Runs kdr4tose-cli.exe under Wine against Wine's own registry and checks what it prints, its
# exit codes, the folders it copies and the registry values it writes.
#
#   cli_wine_test.sh path/to/kdr4tose-cli.exe path/to/tools/wine-run path/to/kdr4tose-cli-changed.exe
#
# The last is the tests' build of the program, in which another program changes the registry
# file during the write-back.
set -u
exe=$1
wine_run=$2
changed_exe=$3
here=$(cd -- "$(dirname -- "$0")" && pwd)
# A prefix of our own, copied from the prepared template.
source "$(dirname -- "$0")/wine_prefix.sh" cli-wine

# The old and the new Client edition, with data folders on C:.
mkdir -p "$c/k4/prv/DDBVID/sub" "$c/k4/prv/log" "$c/tool"
printf 'view=orders\r\n' >"$c/k4/prv/DDBVID/orders.ddv"
printf 'nested\r\n' >"$c/k4/prv/DDBVID/sub/n.ddv"
printf 'log line\r\n' >"$c/k4/prv/log/kodrel.log"
printf '%s\r\n' 'REGEDIT4' '' \
  '[HKEY_LOCAL_MACHINE\Software\VTQ\Kodrel Client]' '' \
  '[HKEY_LOCAL_MACHINE\Software\VTQ\Kodrel SE Client]' '' \
  '[HKEY_CURRENT_USER\Software\VTQ\Kodrel\Client\Client]' '"Host"="dbsrv01"' \
  '"PRV_PATH"="C:\\k4\\prv\\"' '' \
  '[HKEY_CURRENT_USER\Software\VTQ\Kodrel\Client\Common]' '"SRVPORT"=dword:00001f90' '' \
  '[HKEY_CURRENT_USER\Software\VTQ\Kodrel\Client\Common\Rdb]' '"RDB_PASS"="S3cret!"' '' \
  '[HKEY_CURRENT_USER\Software\VTQ\KodrelSE\Client\Client]' '"PRV_PATH"="C:\\kse\\prv\\"' '' \
  >"$c/seed.reg"
KDR_WINEPREFIX=$prefix "$wine_run" regedit.exe /S 'C:\seed.reg' >/dev/null 2>&1
grep -q 'Kodrel SE Client' "$prefix/system.reg" || { echo "could not seed the Wine registry" >&2; exit 1; }
cp -- "$exe" "$c/tool/kdr4tose-cli.exe"

# The prefix's user speaks Japanese (wine-run's locale): the checks read the English texts
# (run), or the user's (run_user).
run() {  # run args...: stdout in $out, stderr in $err, exit code in $code
  run_user --lang en "$@"
}
run_user() {
  KDR_WINEPREFIX=$prefix "$wine_run" 'C:\tool\kdr4tose-cli.exe' "$@" >"$root/out" 2>"$root/err"
  code=$?
  out=$(tr -d '\r' <"$root/out")
  err=$(tr -d '\r' <"$root/err")
}
expect() {  # expect CODE OUTPUT what
  [[ $code == "$1" ]] || fail "$3: exit code $code, expected $1 (stderr: $err)"
  [[ $out == "$2" ]] || fail "$3: printed '$out', expected '$2'"
}

run status
expect 0 $'Kodrel4 installed:   Client\nKodrelSE installed:  Client\ncollected:           none (in C:\\tool\\kdr4env)\nCollect:             enabled\nMigrate:             disabled' "status"

run migrate
expect 2 'KodrelSEがインストールされていません、或いは、情報が収集されていません。' "migrate before collect"

run --log 'C:\collect.log' collect
expect 0 'Kodrel4 Clientの情報を収集しました。' "collect"
cmp -s "$c/tool/kdr4env/client/DDBVID/sub/n.ddv" "$c/k4/prv/DDBVID/sub/n.ddv" || fail "nested folder not collected"
cmp -s "$c/tool/kdr4env/client/plog/kodrel.log" "$c/k4/prv/log/kodrel.log" || fail "log not collected"
grep -qF "$(printf 'COPY\tC:\\k4\\prv\\DDBVID\\orders.ddv\t13')" "$c/collect.log" ||
  fail "collect log lacks the COPY line: $(head -c 600 "$c/collect.log")"
if grep -q 'S3cret!' "$c/collect.log"; then fail "collect log shows a credential"; fi

run status --json
[[ $code == 0 && $out == *'"collected":10,"stores":{"Client":"whole"},"collect_enabled":true,"migrate_enabled":true'* ]] ||
  fail "status --json: $code $out"

# In the user's language, Japanese, through a redirection (UTF-8, as on Windows).
run_user status
expect 0 $'Kodrel4 インストール済み:   Client\nKodrelSE インストール済み:  Client\n収集済み:                   Client（場所: C:\\tool\\kdr4env）\n収集したものの状態:         Client 完全\n「情報収集開始」:           押せます\n「情報移行開始」:           押せます' "status in Japanese"
run_user verify
expect 0 'Client: 完全（4 個のファイルを確認しました）' "verify in Japanese"
KDR_WINE_LOCALE=C.UTF-8 run_user verify
expect 0 'Client: whole (4 file(s) checked)' "verify in an English locale"

run migrate
expect 0 'Kodrel Clientの情報を移行しました。' "migrate"
cmp -s "$c/kse/prv/DDBVID/sub/n.ddv" "$c/k4/prv/DDBVID/sub/n.ddv" || fail "nested folder not migrated"
# Asked of Wine's registry itself: its files on disk are written only when the server exits.
query() { KDR_WINEPREFIX=$prefix "$wine_run" reg.exe query "$1" /v "$2" 2>/dev/null | tr -d '\r'; }
query 'HKCU\Software\VTQ\KodrelSE\Client\Common\Rdb' RDB_PASS | grep -qE 'RDB_PASS +REG_SZ +S3cret!' ||
  fail "migrated credential not in Wine's registry"
query 'HKCU\Software\VTQ\KodrelSE\Client\Client' Host | grep -qE 'Host +REG_SZ +dbsrv01' ||
  fail "Host not migrated"

# A work folder on a network share, as an administrator gives one per user. Wine reaches
# \\server\share through the prefix's dosdevices/unc/server/share.
mkdir -p "$root/share/kdr4/tanaka" "$prefix/dosdevices/unc/server"
ln -s "$root/share" "$prefix/dosdevices/unc/server/share"
unc='\\server\share\kdr4\tanaka'
run --work-dir "$unc" status --json
[[ $code == 0 && $out == *'"work_folder":"\\\\server\\share\\kdr4\\tanaka\\kdr4env"'* ]] ||
  fail "status of a UNC work folder: $code $out $err"
run --work-dir "$unc" collect
expect 0 'Kodrel4 Clientの情報を収集しました。' "collect into a UNC work folder"
cmp -s "$root/share/kdr4/tanaka/kdr4env/client/DDBVID/sub/n.ddv" "$c/k4/prv/DDBVID/sub/n.ddv" ||
  fail "nested folder not collected into the share"
rm -rf -- "$c/kse"
run --work-dir "$unc" migrate
expect 0 'Kodrel Clientの情報を移行しました。' "migrate from a UNC work folder"
cmp -s "$c/kse/prv/DDBVID/orders.ddv" "$c/k4/prv/DDBVID/orders.ddv" ||
  fail "data not migrated from the share"
# The shell's copy takes no \\?\ paths: such a Collect would leave the data folders out.
run --work-dir '\\?\UNC\server\share\kdr4\tanaka' collect
[[ $code == 64 && $err == *'without the \\?\ prefix'* ]] || fail '\\?\ work folder:'" $code $out $err"
run --work-dir '\\server\share\kdr4\nobody' status
[[ $code == 64 && $err == *'\\server\share\kdr4\nobody is not an existing folder'* ]] ||
  fail "missing UNC work folder: $code $err"

# The fleet example's batch files, as an administrator puts them beside the tool: Collect into
# the user's folder on the share, then verify and Migrate from it.
for bat in collect migrate report; do
  sed 's/\r*$/\r/' "$here/../../examples/fleet/$bat.bat" >"$c/tool/$bat.bat"
done
rm -rf -- "$c/kse"
fleet_user=$(KDR_WINEPREFIX=$prefix "$wine_run" cmd.exe /c 'echo %USERNAME%' 2>/dev/null | tr -d '\r')
fleet=$root/share/kdr4/$fleet_user
for bat in collect migrate; do
  KDR_WINEPREFIX=$prefix "$wine_run" cmd.exe /c "C:\\tool\\$bat.bat" >/dev/null 2>&1
  code=$?
  [[ $code == 0 ]] || fail "fleet $bat.bat: exit $code: $(cat "$fleet/$bat.err" 2>/dev/null)"
  python3 "$here/json_schema.py" "$here/../../docs/cli.md" "$fleet/$bat.json" "$bat" ||
    fail "fleet $bat.bat: $bat.json is not of the schema"
done
[[ $(tr -d '\r' <"$fleet/results.txt" | awk '{ print $(NF - 1), $NF }' | paste -sd,) == \
  'collect 0,verify 0,migrate 0' ]] || fail "fleet results.txt: $(cat "$fleet/results.txt")"
cmp -s "$c/kse/prv/DDBVID/sub/n.ddv" "$c/k4/prv/DDBVID/sub/n.ddv" || fail "fleet: data not migrated"
# The administrator's report over the share: a line per PC and user, the CSV written where it
# was asked for, nothing written into the share.
before_share=$(cd "$root/share" && find . -printf '%p %s %T@\n' | LC_ALL=C sort)
KDR_WINEPREFIX=$prefix "$wine_run" cmd.exe /c 'C:\tool\report.bat C:\report.csv' >"$root/out" 2>"$root/err"
code=$?
[[ $code == 0 ]] || fail "fleet report.bat: exit $code: $(cat "$root/err")"
python3 - "$c/report.csv" "$fleet_user" <<'PY' || fail "fleet report.bat: report.csv: $(cat "$c/report.csv")"
import csv, sys
rows = {r["folder"].rsplit("\\", 1)[-1]: r for r in csv.DictReader(open(sys.argv[1], encoding="utf-8-sig", newline=""))}
user = rows[sys.argv[2]]
assert (user["command"], user["Client"], user["exit"], user["user"]) == ("migrate", "done", "0", sys.argv[2]), user
assert user["folder"] == "\\\\server\\share\\kdr4\\" + sys.argv[2], user["folder"]
assert rows["tanaka"]["command"] == "migrate" and rows["tanaka"]["exit"] == "0", rows["tanaka"]
PY
tr -d '\r' <"$root/out" | grep -qE "server.share.kdr4.$fleet_user +[^ ]+ +$fleet_user +migrate " ||
  fail "fleet report.bat printed: $(cat "$root/out")"
[[ $(cd "$root/share" && find . -printf '%p %s %T@\n' | LC_ALL=C sort) == "$before_share" ]] ||
  fail "fleet report.bat changed the share"
# KDR4_SHARE as an administrator may well write it, with a final backslash (which would escape
# the closing quote of "%KDR4_SHARE%" and leave the tool a name it cannot read).
ln -s "$root/share" "$c/share"
KDR4_SHARE='C:\share\kdr4\' KDR_WINEPREFIX=$prefix "$wine_run" cmd.exe /c 'C:\tool\report.bat C:\report2.csv' \
  >"$root/out" 2>"$root/err"
code=$?
[[ $code == 0 ]] && grep -qF "C:\\share\\kdr4\\$fleet_user," "$c/report2.csv" ||
  fail "fleet report.bat with KDR4_SHARE ending in a backslash: exit $code: $(tr -d '\r' <"$root/out")"

# A Migrate whose data step fails: the new product's PRV_PATH removed.
KDR_WINEPREFIX=$prefix "$wine_run" reg.exe delete 'HKCU\Software\VTQ\KodrelSE\Client\Client' /v PRV_PATH /f >/dev/null 2>&1
run migrate
expect 1 'KodrelSEがインストールされていません、或いは、情報が収集されていません。' "migrate whose data step fails"

# A registry file instead of Wine's registry: the migrate writes it back (the run's own lock
# on it must not stand in the way of the rename), and only the new product's branch changes.
mkdir -p "$c/regrun"
cp -- "$c/seed.reg" "$c/regrun/file.reg"
run --registry 'C:\regrun\file.reg' --work-dir 'C:\regrun' collect
[[ $code == 0 ]] || fail "collect on a registry file: $code $err"
# A killed run's temporary file beside it (its writer no longer runs) is cleared away.
stale=".kdr4tose-2147483632-1.tmp"
printf 'half a registry\r\n' >"$c/regrun/$stale"
run --registry 'C:\regrun\file.reg' --work-dir 'C:\regrun' migrate
[[ $code != 70 && $err != *'cannot write the registry file'* ]] ||
  fail "migrate on a registry file: $code $err"
[[ ! -e $c/regrun/$stale ]] || fail "migrate on a registry file: a killed run's temporary file was left"
grep -q '"Host"="dbsrv01"' <(sed -n '/KodrelSE\\Client\\Client\]/,/^\r*$/p' "$c/regrun/file.reg") ||
  fail "migrate on a registry file: the migrated value is not in the file"

# The file changed by something else between the run's read and its rename (the lock is given
# up just before the rename on Windows): refused, and left as the other program made it.
mkdir -p "$c/regrun/changed"
cp -- "$c/seed.reg" "$c/regrun/changed.reg"
run --registry 'C:\regrun\changed.reg' --work-dir 'C:\regrun\changed' collect
cp -- "$c/regrun/changed.reg" "$c/regrun/changed.before"
printf '; changed meanwhile\r\n' >>"$c/regrun/changed.before"
cp -- "$changed_exe" "$c/tool/kdr4tose-cli-changed.exe"
KDR_TEST_CHANGE_REGISTRY_FILE=1 KDR_WINEPREFIX=$prefix "$wine_run" 'C:\tool\kdr4tose-cli-changed.exe' \
  --lang en --registry 'C:\regrun\changed.reg' --work-dir 'C:\regrun\changed' migrate >"$root/out" 2>"$root/err"
code=$?
err=$(tr -d '\r' <"$root/err")
[[ $code == 70 && $err == *'changed by something else'* ]] ||
  fail "registry file changed during the run: $code $err"
cmp -s "$c/regrun/changed.reg" "$c/regrun/changed.before" ||
  fail "registry file changed during the run: not left as the other program made it"
ls "$c/regrun" | grep -q 'kdr4tose-' && fail "registry file changed during the run: a temporary file was left"

run --bogus status
[[ $code == 64 && $err == *'usage: kdr4tose-cli'* ]] || fail "unknown option: $code $err"
# --drive works on Windows too (wine_all_users_test.sh); a malformed one is refused, as is a
# folder the tool's code page 932 paths cannot name.
for drive in 'C' '1=C:\x' 'C=C:\한국'; do
  run --drive "$drive" status
  [[ $code == 64 && $err == *'--drive'* ]] || fail "--drive $drive on Windows: $code $err"
done
run /?
[[ $code == 0 && $out == *'--registry'* ]] || fail "/? is not --help: $code $out $err"
help_en=$out
run_user /?
[[ $code == 0 && $out == *'終了コード:'* ]] || fail "/? is not in Japanese: $code $out $err"
for n in 0 1 2 64 70 75 130; do
  grep -qE "^  $n +[^ ]" <<<"$help_en" || fail "/? does not explain exit code $n"
  grep -qE "^  $n +[^ ]" <<<"$out" || fail "/? in Japanese does not explain exit code $n"
done

# A store file named as a device (a store made elsewhere, or by hand): read, COM1 would be the
# serial port and the run would wait for ever. Verify and Migrate call the store damaged.
mkdir -p "$c/devrun"
cp -- "$c/seed.reg" "$c/devrun/dev.reg"
run --registry 'C:\devrun\dev.reg' --work-dir 'C:\devrun' collect
[[ $code == 0 ]] || fail "collect for the device names: $code $err"
for name in COM1 aux nul.ddv 'lpt1.txt' 'CONIN$'; do
  printf 'x' >"$c/devrun/kdr4env/client/DDBVID/$name"
done
for command in verify migrate; do
  KDR_WINEPREFIX=$prefix timeout 120 "$wine_run" 'C:\tool\kdr4tose-cli.exe' \
    --registry 'C:\devrun\dev.reg' --work-dir 'C:\devrun' $command >"$root/out" 2>"$root/err"
  code=$?
  [[ $code == 1 ]] || fail "$command of a store with device names: exit $code (124: it hung)"
done

if ((failures > 0)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "all kdr4tose-cli Wine checks passed"
