#!/usr/bin/env bash
# Exit pressed in kdr4tose.exe under Wine during a Collect and during a Migrate of data folders
# holding many files: the driver (ui_driver stop-*) probes the window every 250 ms throughout,
# reads its progress window, presses Exit once the progress has moved and answers yes.
# Collect, after it: the work log says it was interrupted, verify says unfinished, nothing of the
# tool's is left in the store. Migrate, after it: the log says so, status names the Migrate
# unfinished, and undo gives back the registry branch and every file of the new folder.
#
#   wine_stop_window_test.sh kdr4tose.exe kdr4tose-cli.exe ui_driver.exe tools/wine-run [FILES]
set -u
exe=$1
cli_exe=$2
driver=$3
wine_run=$4
files=${5:-600}
here=$(cd -- "$(dirname -- "$0")" && pwd)
source "$here/../cli/wine_prefix.sh" wine-stop-window
source "$here/xvfb_display.sh"
trap 'WINEPREFIX=$prefix "$server" -k >/dev/null 2>&1; stop_xvfb; cleanup_prefix' EXIT
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 WINEDEBUG=-all
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
start_xvfb "$root/xvfb.log" || { echo "Xvfb did not start" >&2; exit 125; }

# Personal's two data paths and Client's one, each of its folders holding $files small files.
for folder in k4/pprv/DDBVID k4/pprv/log k4/ppub/DDBDAT k4/ppub/log k4/cprv/DDBVID k4/cprv/log; do
  mkdir -p "$c/$folder"
  for ((i = 0; i < files; i++)); do printf 'record %d of %s\r\n' "$i" "$folder" >"$c/$folder/r$i.dat"; done
done
head -c $((16 << 20)) /dev/zero | tr '\0' 'x' >"$c/k4/cprv/DDBVID/big.ddv"
mkdir -p "$c/kse/prv/DDBVID" "$c/kse/prv/log" "$c/tool"
printf 'data the user had\r\n' >"$c/kse/prv/DDBVID/r1.dat"
printf '%s\r\n' 'REGEDIT4' '' \
  '[HKEY_LOCAL_MACHINE\Software\VTQ\Kodrel Personal]' '' \
  '[HKEY_LOCAL_MACHINE\Software\VTQ\Kodrel Client]' '' \
  '[HKEY_LOCAL_MACHINE\Software\VTQ\Kodrel SE Client]' '' \
  '[HKEY_CURRENT_USER\Software\VTQ\Kodrel\Personal\Client]' '"PRV_PATH"="C:\\k4\\pprv\\"' '' \
  '[HKEY_CURRENT_USER\Software\VTQ\Kodrel\Personal\Server]' '"PUB_PATH"="C:\\k4\\ppub\\"' '' \
  '[HKEY_CURRENT_USER\Software\VTQ\Kodrel\Client\Client]' '"PRV_PATH"="C:\\k4\\cprv\\"' '' \
  '[HKEY_CURRENT_USER\Software\VTQ\Kodrel\Client\Common]' '"SRVPORT"=dword:00001f90' '' \
  '[HKEY_CURRENT_USER\Software\VTQ\KodrelSE\Client\Client]' '"PRV_PATH"="C:\\kse\\prv\\"' '' \
  >"$c/seed.reg"
KDR_WINEPREFIX=$prefix "$wine_run" regedit.exe /S 'C:\seed.reg' >/dev/null 2>&1
cp -- "$exe" "$c/tool/kdr4tose.exe"
cp -- "$cli_exe" "$c/tool/kdr4tose-cli.exe"
cp -- "$driver" "$c/ui_driver.exe"

export WINEPREFIX=$prefix
"$server" -p
cli() { "$wine" 'C:\tool\kdr4tose-cli.exe' "$@" 2>/dev/null | tr -d '\r'; }
states() { cli verify --json | grep -o '"state":"[a-z ]*"' | cut -d'"' -f4 | tr '\n' ' '; }
hashes() { (cd "$1" && find . -type f -print0 | sort -z | xargs -0 -r md5sum); }
registry() {
  rm -f "$c/export.reg"
  "$wine" regedit.exe /E 'C:\export.reg' 'HKEY_CURRENT_USER\Software\VTQ\KodrelSE' >/dev/null 2>&1
  md5sum <"$c/export.reg"
}
log_says() { iconv -f UTF-8 -t UTF-8 -c "$c/tool/kdr4env/kdr4tose.log" | tr -d '\r' | grep -c "$1"; }
stop_run() {
  "$wine" 'C:\tool\kdr4tose.exe' >/dev/null 2>&1 &
  local window=$!
  "$wine" 'C:\ui_driver.exe' "stop-$1" 'C:\tool\kdr4tose.exe' >"$root/driver.out" 2>&1 ||
    fail "the $1 was not stopped as it should be"
  tr -d '\r' <"$root/driver.out" | grep -v '^progress: .*コピーしています | [0-9]' | head -40
  grep -c '^progress: ' "$root/driver.out" | sed 's/$/ progress texts read/'
  # A window that does not end is ended, so that the checks after it still run.
  local i
  for ((i = 0; i < 600; i++)); do kill -0 "$window" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$window" 2>/dev/null && { fail "the window of the $1 did not end"; kill -KILL "$window"; }
  wait "$window"
  echo "the window of the $1 exited with $?"
}

stop_run collect
(($(log_says '^#.interrupted: collect did not finish') == 1)) || fail "the log does not say the collect was interrupted"
now=$(states)
[[ $now == *unfinished* ]] || fail "verify after the stopped collect says '$now', not unfinished"
echo "verify after the stopped collect: $now"
[[ -z $(find "$c/tool/kdr4env" -name '.kdr4tose-*' | head -1) ]] || fail "the stopped collect left a temporary file"

cli --quiet collect >/dev/null || fail "the collect after the stopped one failed"
now=$(states)
[[ $now == "whole whole " ]] || fail "not whole after the next collect: '$now'"
before_files=$(hashes "$c/kse/prv")
before_registry=$(registry)
stop_run migrate
(($(log_says '^#.interrupted: migrate did not finish') == 1)) || fail "the log does not say the migrate was interrupted"
cli --lang en status | grep -q '^unfinished migrate' || fail "status does not name the stopped migrate unfinished"
[[ $(hashes "$c/kse/prv") != "$before_files" ]] || fail "the migrate was stopped before it wrote anything"
cli --quiet undo >/dev/null || fail "undo of the stopped migrate failed"
[[ $(hashes "$c/kse/prv") == "$before_files" && $(registry) == "$before_registry" ]] ||
  fail "undo did not give back the folder and the registry"

if ((failures > 0)); then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "window stop test passed"
