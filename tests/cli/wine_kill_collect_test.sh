#!/usr/bin/env bash
# Ends kdr4tose-cli.exe under Wine by force (SIGKILL) at ROUNDS moments of a Collect of a data
# folder of many files. After each: verify says whole (the Collect finished, or was ended before
# it began to write) or unfinished, never anything Migrate would take with files missing; Migrate
# refuses an unfinished store and writes nothing; the next Collect makes it whole.
#
#   wine_kill_collect_test.sh path/to/kdr4tose-cli.exe path/to/tools/wine-run [ROUNDS]
set -u
exe=$1
wine_run=$2
rounds=${3:-20}
RANDOM=${KDR_TEST_SEED:-4711}
source "$(dirname -- "$0")/wine_prefix.sh" wine-kill
mkdir -p "$c/k4/prv/DDBVID" "$c/k4/prv/log" "$c/tool"
for ((i = 0; i < 400; i++)); do printf 'record %d\r\n' "$i" >"$c/k4/prv/DDBVID/r$i.ddv"; done
head -c 5000000 /dev/zero | tr '\0' 'k' >"$c/k4/prv/DDBVID/big.ddv"
printf 'log line\r\n' >"$c/k4/prv/log/kodrel.log"
printf '%s\r\n' 'REGEDIT4' '' \
  '[HKEY_LOCAL_MACHINE\Software\VTQ\Kodrel Client]' '' \
  '[HKEY_LOCAL_MACHINE\Software\VTQ\Kodrel SE Client]' '' \
  '[HKEY_CURRENT_USER\Software\VTQ\Kodrel\Client\Client]' '"Host"="dbsrv01"' \
  '"PRV_PATH"="C:\\k4\\prv\\"' '' \
  '[HKEY_CURRENT_USER\Software\VTQ\KodrelSE\Client\Client]' '"PRV_PATH"="C:\\kse\\prv\\"' '' \
  >"$c/seed.reg"
KDR_WINEPREFIX=$prefix "$wine_run" regedit.exe /S 'C:\seed.reg' >/dev/null 2>&1
cp -- "$exe" "$c/tool/kdr4tose-cli.exe"

export WINEPREFIX=$prefix WINEDEBUG=-all
"$server" -p  # one server for all the runs
cli() { "$wine" 'C:\tool\kdr4tose-cli.exe' --quiet "$@" >/dev/null 2>&1; }
state() {
  "$wine" 'C:\tool\kdr4tose-cli.exe' verify --json 2>/dev/null | tr -d '\r' |
    grep -o '"state":"[a-z ]*"' | head -1 | cut -d'"' -f4
}
now_ms() { echo $(($(date +%s%N) / 1000000)); }
# Each run ended by force copies the data again, as the first did: a Collect again keeps what
# the record of the copies proves, and would end before the moments taken from the first.
copy_again() { rm -f -- "$c/tool/kdr4env/"*.copies; }

start=$(now_ms)
cli collect || fail "the reference collect failed"
collect_ms=$(($(now_ms) - start))
[[ $(state) == whole ]] || fail "not whole after the reference collect"
echo "collect ${collect_ms} ms (uninterrupted)"

killed=0
unfinished=0
for ((i = 1; i <= rounds; i++)); do
  delay=$((collect_ms * (RANDOM % 1001) / 1000))
  round="round $i (ended after $delay ms)"
  copy_again
  "$wine" 'C:\tool\kdr4tose-cli.exe' --quiet collect >/dev/null 2>&1 &
  pid=$!
  sleep "$(printf '%d.%03d' $((delay / 1000)) $((delay % 1000)))"
  kill -KILL "$pid" 2>/dev/null && killed=$((killed + 1))
  wait "$pid" 2>/dev/null
  now=$(state)
  case $now in
    whole) ;;
    unfinished)
      unfinished=$((unfinished + 1))
      cli migrate
      code=$?
      [[ $code == 1 ]] || fail "$round: migrate of an unfinished store exit $code, not 1"
      [[ -e $c/kse/prv/DDBVID ]] && fail "$round: migrate of an unfinished store copied data"
      ;;
    *) fail "$round: verify says '$now'" ;;
  esac
  cli collect || fail "$round: the next collect failed"
  [[ $(state) == whole ]] || fail "$round: not whole after the next collect"
done
echo "$killed of $rounds collects ended by force, $unfinished left unfinished"
((unfinished > 0)) || fail "no kill left an unfinished store: the moments missed the copy"

# Ctrl-C, as Wine gives SIGINT to a console program: the run stops after the folder the shell
# copy is taking, says so, logs it and exits 130; or, landing after the copy, it ends whole.
stopped=0
for tenths in 4 6 8; do
  delay=$((collect_ms * tenths / 10))
  copy_again
  "$wine" 'C:\tool\kdr4tose-cli.exe' --lang en --quiet collect >/dev/null 2>"$root/int.err" &
  pid=$!
  sleep "$(printf '%d.%03d' $((delay / 1000)) $((delay % 1000)))"
  kill -INT "$pid"
  wait "$pid"
  code=$?
  now=$(state)
  round="Ctrl-C after $delay ms"
  echo "$round: exit $code, $now"
  case $code/$now in
    0/whole) ;;
    130/unfinished)
      stopped=$((stopped + 1))
      tr -d '\r' <"$root/int.err" | grep -q '^kdr4tose-cli: interrupted: ' ||
        fail "$round: standard error does not say so: $(head -c 300 "$root/int.err")"
      tr -d '\r' <"$c/tool/kdr4env/kdr4tose.log" | grep -qxF $'#\tinterrupted: collect did not finish' ||
        fail "$round: the log does not say the collect was interrupted"
      ;;
    *) fail "$round: exit $code with the store $now" ;;
  esac
  cli collect || fail "$round: the next collect failed"
done
((stopped > 0)) || fail "no Ctrl-C stopped a collect: the moments missed the copy"

if ((failures > 0)); then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "wine kill test passed"
