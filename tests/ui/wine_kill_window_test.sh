#!/usr/bin/env bash
# Ends the window program kdr4tose.exe under Wine by force (SIGKILL to its process id) at moments
# of a Migrate and of a Collect of a data folder holding a large file and many small ones.
#
# Migrate, after each kill: no file of the new product's folder holds anything under its own name
# but its old content or the store's; when `status` names the Migrate unfinished the next start of
# the window says so (ui_driver's `unfinished`); `kdr4tose-cli.exe undo` (no --force) gives back
# the registry branch (as regedit exports it) and every file of the folder, byte for byte, and
# leaves nothing of the tool's behind.
# Collect, after each kill: verify says whole or unfinished; Migrate refuses an unfinished store
# and writes nothing; the next Collect makes it whole and sweeps what the killed one left.
#
#   wine_kill_window_test.sh kdr4tose.exe kdr4tose-cli.exe ui_driver.exe tools/wine-run \
#       [MIGRATE-ROUNDS [COLLECT-ROUNDS [MEGABYTES]]]
#
# A third of the kills come at a moment drawn (seed 4711 unless KDR_TEST_SEED) from the whole run,
# a third from the time after the copy's first write into its destination that the copy of the
# large file took (and a quarter more), a third as soon as the large file is whole in its place
# (on Windows, among the renames that follow the shell copy).
set -u
exe=$1
cli_exe=$2
driver=$3
wine_run=$4
migrate_rounds=${5:-5}
collect_rounds=${6:-3}
megabytes=${7:-64}
RANDOM=${KDR_TEST_SEED:-4711}
here=$(cd -- "$(dirname -- "$0")" && pwd)
source "$here/../cli/wine_prefix.sh" wine-kill-window
source "$here/xvfb_display.sh"
trap 'WINEPREFIX=$prefix "$server" -k >/dev/null 2>&1; stop_xvfb; cleanup_prefix' EXIT
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 WINEDEBUG=-all
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
start_xvfb "$root/xvfb.log" || { echo "Xvfb did not start" >&2; exit 125; }

old=$c/k4/prv
new=$c/kse/prv
store=$c/tool/kdr4env/client
mkdir -p "$old/DDBVID/sub" "$old/log" "$new/DDBVID/sub" "$new/log" "$c/tool"
# The store's content and, under the same names, older content already in the new folders.
fill() { head -c "$2" < <(yes "$1") >"$3"; }
fill 'collected data' $((megabytes << 20)) "$old/DDBVID/big.ddv"
# Of another size and an older time, so that neither looks like the other while it is copied.
fill 'data the user had' $(((megabytes + 1) << 20)) "$new/DDBVID/big.ddv"
touch -d '2020-01-01 12:00' "$new/DDBVID/big.ddv"
for ((i = 0; i < 300; i++)); do
  printf 'record %d\r\n' "$i" >"$old/DDBVID/sub/r$i.ddv"
  ((i % 2)) && printf 'older record %d\r\n' "$i" >"$new/DDBVID/sub/r$i.ddv"
done
printf 'log line\r\n' >"$old/log/kodrel.log"
printf 'kept\r\n' >"$new/DDBVID/keep.ddv"
printf '%s\r\n' 'REGEDIT4' '' \
  '[HKEY_LOCAL_MACHINE\Software\VTQ\Kodrel Client]' '' \
  '[HKEY_LOCAL_MACHINE\Software\VTQ\Kodrel SE Client]' '' \
  '[HKEY_CURRENT_USER\Software\VTQ\Kodrel\Client\Client]' '"Host"="dbsrv01"' \
  '"PRV_PATH"="C:\\k4\\prv\\"' '' \
  '[HKEY_CURRENT_USER\Software\VTQ\Kodrel\Client\Common]' '"SRVPORT"=dword:00001f90' '' \
  '[HKEY_CURRENT_USER\Software\VTQ\KodrelSE\Client\Client]' '"PRV_PATH"="C:\\kse\\prv\\"' '' \
  '[HKEY_CURRENT_USER\Software\VTQ\KodrelSE\Client\Common]' '"SRVPORT"=dword:00000001' '' \
  >"$c/seed.reg"
KDR_WINEPREFIX=$prefix "$wine_run" regedit.exe /S 'C:\seed.reg' >/dev/null 2>&1
cp -- "$exe" "$c/tool/kdr4tose.exe"
cp -- "$cli_exe" "$c/tool/kdr4tose-cli.exe"
cp -- "$driver" "$c/ui_driver.exe"

export WINEPREFIX=$prefix
"$server" -p # one server for all the runs
cli() { "$wine" 'C:\tool\kdr4tose-cli.exe' --quiet "$@" >/dev/null 2>&1; }
state() {
  "$wine" 'C:\tool\kdr4tose-cli.exe' verify --json 2>/dev/null | tr -d '\r' |
    grep -o '"state":"[a-z ]*"' | head -1 | cut -d'"' -f4
}
drive() { "$wine" 'C:\ui_driver.exe' "$1" 'C:\tool\kdr4tose.exe' >"$root/driver.out" 2>&1; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }
nap() { sleep "$(printf '%d.%03d' $(($1 / 1000)) $(($1 % 1000)))"; }
# Every file below $1, hidden ones included, with its hash: "hash  ./path".
hashes() { (cd "$1" && find . -type f -print0 | sort -z | xargs -0 -r md5sum); }
registry() {
  rm -f "$c/export.reg"
  "$wine" regedit.exe /E 'C:\export.reg' 'HKEY_CURRENT_USER\Software\VTQ\KodrelSE' >/dev/null 2>&1
  md5sum <"$c/export.reg"
}
leftovers() { find "$@" -name '.kdr4tose-*' 2>/dev/null | head -1; }
# Whether the last run in the work folder's log ended (its outcomes were written): a run ended
# by force leaves its header and the lines of the editions it finished, and no end.
run_ended() {
  tr -d '\r' <"$c/tool/kdr4env/kdr4tose.log" |
    awk '/^#\t(collect|migrate), /{ended=0} /^#\teditions attempted /{ended=1} END{exit !ended}'
}
# Waits (up to 60 s) for the first file or folder below $1 newer than $2.
first_write() {
  local i
  for ((i = 0; i < 3000; i++)); do
    [[ -n $(find "$1" -newer "$2" -print -quit 2>/dev/null) ]] && return 0
    sleep 0.02
  done
  return 1
}
# Starts the window, clicks $1 (collect or migrate) in it; $window is its process id.
start_run() {
  "$wine" 'C:\tool\kdr4tose.exe' >/dev/null 2>&1 &
  window=$!
  drive "press-$1" || { fail "$round: the window did not start a $1"; cat "$root/driver.out" >&2; }
}
# Whether $1/big.ddv is whole: the size and time of $2/big.ddv, changed since the mark.
whole_big() {
  [[ -n $(find "$1/big.ddv" -cnewer "$root/mark" 2>/dev/null) &&
    $(stat -c '%s %Y' "$1/big.ddv") == $(stat -c '%s %Y' "$2/big.ddv") ]]
}
# Waits (up to 60 s) until whole_big "$1" "$2".
until_whole() {
  local i
  for ((i = 0; i < 6000; i++)); do
    whole_big "$1" "$2" && return 0
    sleep 0.01
  done
  return 1
}
# Times an uninterrupted run of $1 in the window: $run_ms from the click to its message,
# $copy_ms from the copy's first write below $2 until big.ddv there is whole (as in $3).
time_run() {
  touch "$root/mark"
  sleep 1.1 # a later second than the mark, where times are kept by the second
  "$wine" 'C:\tool\kdr4tose.exe' >/dev/null 2>&1 &
  window=$!
  drive "run-$1" &
  local driver_pid=$! copy_start= copy_end=
  if first_write "$2" "$root/mark"; then
    copy_start=$(now_ms)
    until_whole "$2" "$3"
    copy_end=$(now_ms)
  fi
  wait "$driver_pid" || { fail "the reference $1 failed"; cat "$root/driver.out" >&2; }
  wait "$window"
  run_ms=$(tr -d '\r' <"$root/driver.out" | sed -n 's/^first message after \([0-9]*\) ms.*/\1/p')
  copy_ms=$((${copy_end:-0} - ${copy_start:-0}))
  echo "$1 in the window: ${run_ms:-?} ms; its copy of big.ddv done ${copy_ms} ms after its" \
    "first write (uninterrupted)"
  run_ms=${run_ms:-5000}
}

cli collect || fail "the first collect failed"
[[ $(state) == whole ]] || fail "not whole after the first collect"

# What the new folders held before any Migrate, and what the store holds for them.
declare -A before_hash store_hash
while read -r hash path; do before_hash[$path]=$hash; done < <(hashes "$new")
while read -r hash path; do store_hash[./DDBVID/${path#./}]=$hash; done < <(hashes "$store/DDBVID")
while read -r hash path; do store_hash[./log/${path#./}]=$hash; done < <(hashes "$store/plog")
before_files=$(hashes "$new")
before_registry=$(registry)
# No file under its own name holds anything but its old content or the store's.
no_torn_file() {
  local hash path torn=0
  while read -r hash path; do
    [[ $path == */.kdr4tose-* ]] && continue
    [[ $hash == "${before_hash[$path]:-}" || $hash == "${store_hash[$path]:-}" ]] && continue
    fail "$round: $path holds neither its old content nor the store's"
    torn=$((torn + 1))
  done < <(hashes "$new")
  return $((torn > 0))
}
# How many of the store's files the new folders hold as the store does.
migrated() {
  local hash path n=0
  while read -r hash path; do
    [[ $hash == "${store_hash[$path]:-}" ]] && n=$((n + 1))
  done < <(hashes "$new")
  echo "$n"
}
all_migrated() { [[ $(migrated) == "${#store_hash[@]}" ]]; }
as_before() { [[ $(hashes "$new") == "$before_files" && $(registry) == "$before_registry" ]]; }
before_migrated=$(migrated) # those it held as the store does already

round=reference
time_run migrate "$new/DDBVID" "$store/DDBVID"
all_migrated || fail "the reference migrate did not copy everything"
[[ -z $(leftovers "$new") ]] || fail "the reference migrate left $(leftovers "$new")"
cli undo || fail "undo of the reference migrate failed"
as_before || fail "undo of the reference migrate did not give back the folders and registry"
migrate_ms=$run_ms
migrate_copy_ms=$copy_ms

# Sets `moment`, `delay` and `round` for round I of COMMAND, from the lengths of its reference
# run and copy: 1 a random moment after the click, 2 a random moment in the copy, 0 once big.ddv
# is whole in its place.
pick_moment() {  # pick_moment COMMAND I RUN_MS COPY_MS
  moment=$(($2 % 3))
  if ((moment == 1)); then
    delay=$(($3 * (RANDOM % 1001) / 1000))
    round="$1 round $2 (ended ${delay} ms after the click)"
  elif ((moment == 2)); then
    delay=$(($4 * 5 * (RANDOM % 1001) / 4000))
    round="$1 round $2 (ended ${delay} ms after the copy's first write)"
  else
    delay=0
    round="$1 round $2 (ended once big.ddv was whole in its place)"
  fi
}

killed=0 mid_copy=0 in_renames=0 unfinished=0 finished=0 not_begun=0
for ((i = 1; i <= migrate_rounds; i++)); do
  pick_moment migrate "$i" "$migrate_ms" "$migrate_copy_ms"
  touch "$root/mark"
  sleep 1.1
  start_run migrate
  ((moment == 1)) || first_write "$new" "$root/mark"
  ((moment == 0)) && until_whole "$new/DDBVID" "$store/DDBVID"
  nap "$delay"
  kill -KILL "$window" 2>/dev/null && killed=$((killed + 1))
  wait "$window" 2>/dev/null
  # In the copy: its temporary folder is there, a file is torn, or some files are copied and
  # some not (a copy in place, or between the renames).
  some=$(migrated)
  staged=$(leftovers "$new")
  if ! no_torn_file || [[ -n $staged ]] || ((some > before_migrated && some < ${#store_hash[@]}))
  then
    mid_copy=$((mid_copy + 1))
    [[ -n $staged ]] && ((some > before_migrated)) && in_renames=$((in_renames + 1))
  fi
  if "$wine" 'C:\tool\kdr4tose-cli.exe' --lang en status 2>/dev/null | grep -q '^unfinished migrate'; then
    unfinished=$((unfinished + 1))
    run_ended && fail "$round: the log of the Migrate ended by force says it ended"
    drive unfinished || { fail "$round: the window did not say so"; cat "$root/driver.out" >&2; }
    tail -n 3 "$c/tool/kdr4env/kdr4tose.log" | grep -q 'it stopped while it wrote' ||
      fail "$round: the log does not say the Migrate did not finish"
  elif all_migrated; then
    finished=$((finished + 1))
  elif as_before; then
    not_begun=$((not_begun + 1))
  else
    fail "$round: written in part, and status does not call it unfinished"
  fi
  "$wine" 'C:\tool\kdr4tose-cli.exe' --quiet undo >"$root/undo.out" 2>&1
  code=$?
  as_before || fail "$round: undo (exit $code) did not give back the folders and registry"
done
echo "$killed of $migrate_rounds migrates ended by force: $mid_copy during the copy" \
  "($in_renames of them between its renames);" \
  "$unfinished unfinished, $finished finished, $not_begun before writing"
((mid_copy > 0)) || fail "no kill landed in the copy"

# Each Collect timed or ended by force copies the data again, as the first did: a Collect again
# keeps what the record of the copies proves, and would end before the moments taken from it.
copy_again() { rm -f -- "$c/tool/kdr4env/"*.copies; }
round=reference
copy_again
time_run collect "$store/DDBVID" "$old/DDBVID"
[[ $(state) == whole ]] || fail "not whole after the reference collect"
collect_ms=$run_ms
collect_copy_ms=$copy_ms
killed=0 mid_copy=0 unfinished=0
for ((i = 1; i <= collect_rounds; i++)); do
  pick_moment collect "$i" "$collect_ms" "$collect_copy_ms"
  touch "$root/mark"
  sleep 1.1
  copy_again
  start_run collect
  ((moment == 1)) || first_write "$store/DDBVID" "$root/mark"
  ((moment == 0)) && until_whole "$store/DDBVID" "$old/DDBVID"
  nap "$delay"
  kill -KILL "$window" 2>/dev/null && killed=$((killed + 1))
  wait "$window" 2>/dev/null
  [[ -n $(leftovers "$store") ]] && mid_copy=$((mid_copy + 1))
  now=$(state)
  case $now in
    whole) ;;
    unfinished)
      unfinished=$((unfinished + 1))
      run_ended && fail "$round: the log of the Collect ended by force says it ended"
      cli migrate
      code=$?
      [[ $code == 1 ]] || fail "$round: migrate of an unfinished store exit $code, not 1"
      as_before || fail "$round: migrate of an unfinished store wrote something"
      ;;
    *) fail "$round: verify says '$now'" ;;
  esac
  cli collect || fail "$round: the next collect failed"
  [[ $(state) == whole ]] || fail "$round: not whole after the next collect"
  [[ -z $(leftovers "$store") ]] || fail "$round: the next collect left $(leftovers "$store")"
done
echo "$killed of $collect_rounds collects ended by force: $mid_copy during the copy," \
  "$unfinished left unfinished"
((unfinished > 0)) || fail "no collect was left unfinished"

if ((failures > 0)); then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "window kill test passed"
