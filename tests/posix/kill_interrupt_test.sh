#!/usr/bin/env bash
# Kills kdr4tose-cli (SIGKILL) at random moments while it collects and migrates a large profile
# (100 000 values), again and again. After every kill: the settings file is the previous or the
# new version, whole; the work tree holds nothing else but leftover temporary files
# (".kdr4tose-*.tmp", which no run reads); the registry file is the previous or the new one;
# and a following run completes and gives exactly what an uninterrupted run gives.
#
# The kill moments are drawn from a fixed seed (KDR_TEST_SEED to draw others) as fractions of an
# uninterrupted run's length, so a run can be repeated; whether a run ends before its kill still
# depends on the machine's speed.
#
#   kill_interrupt_test.sh path/to/kdr4tose-cli [ROUNDS]    (ROUNDS kills of each command, 15)
set -u
# The English texts, whatever the machine's locale.
unset LANG LC_MESSAGES
export LC_ALL=C.UTF-8
cli=$1
rounds=${2:-${KDR_KILL_ROUNDS:-15}}
seed=${KDR_TEST_SEED:-4711}
if ! [[ $seed =~ ^[0-9]+$ ]]; then
  echo "KDR_TEST_SEED must be a number" >&2
  exit 2
fi
RANDOM=$seed
echo "kill moments from seed $seed"
source "$(dirname -- "$0")/../support/test_root.sh" kill

# A registry file with the old and the new Client edition and KEYS x VALUES values below a
# key-tree row of the Client export. $2 changes every value's text.
make_registry() {
  awk -v tag="$2" 'BEGIN {
    printf "REGEDIT4\r\n\r\n"
    printf "[HKEY_LOCAL_MACHINE\\Software\\VTQ\\Kodrel Client]\r\n\r\n"
    printf "[HKEY_LOCAL_MACHINE\\Software\\VTQ\\Kodrel SE Client]\r\n\r\n"
    printf "[HKEY_CURRENT_USER\\Software\\VTQ\\Kodrel\\Client\\Client]\r\n\"PRV_PATH\"=\"C:\\\\old\\\\prv\\\\\"\r\n\"Host\"=\"srv%s\"\r\n\r\n", tag
    printf "[HKEY_CURRENT_USER\\Software\\VTQ\\KodrelSE\\Client\\Client]\r\n\"PRV_PATH\"=\"C:\\\\se\\\\prv\\\\\"\r\n\r\n"
    for (k = 0; k < 1000; k++) {
      printf "[HKEY_CURRENT_USER\\Software\\VTQ\\Kodrel\\Client\\AppInfo\\K%04d]\r\n", k
      for (v = 0; v < 100; v++) printf "\"V%03d\"=\"value %d %d %s\"\r\n", v, k, v, tag
      printf "\r\n"
    }
  }' > "$1"
}

setup_case() {  # setup_case DIR: drive C with the old data folders, an empty work folder
  mkdir -p "$1/c/old/prv/DDBVID/sub" "$1/c/old/prv/log" "$1/work"
  yes "kodrel data folder" | head -c 3000000 > "$1/c/old/prv/DDBVID/big.ddv"
  echo a > "$1/c/old/prv/DDBVID/sub/a.ddv"
  echo l > "$1/c/old/prv/log/x.log"
}

cli_run() {  # cli_run DIR REGFILE COMMAND
  "$cli" --quiet --registry "$2" --drive "C=$1/c" --work-dir "$1/work" "$3" > /dev/null 2>&1
}

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# Only the settings file, the manifest and leftover temporary files in the work tree's edition
# folder.
check_tree() {  # check_tree DIR what
  local f
  while IFS= read -r f; do
    case "$(basename "$f")" in
      kdr4reg.fil | kdr4tose.manifest | .kdr4tose-*.tmp) ;;
      *) fail "$2: unexpected file $f" ;;
    esac
  done < <(find "$1/work/kdr4env/client" -maxdepth 1 -type f)
}

# Uninterrupted reference runs.
ref=$root/ref
setup_case "$ref"
make_registry "$root/a.reg" A
make_registry "$root/b.reg" B
cp "$root/a.reg" "$ref/a.reg"
cp "$root/b.reg" "$ref/b.reg"
cli_run "$ref" "$ref/a.reg" collect || fail "reference collect A"
cp "$ref/work/kdr4env/client/kdr4reg.fil" "$root/fil.prev"
cp -a "$ref/work" "$root/work.prev"
start=$(now_ms)
cli_run "$ref" "$ref/b.reg" collect || fail "reference collect B"
collect_ms=$(($(now_ms) - start))
cp "$ref/work/kdr4env/client/kdr4reg.fil" "$root/fil.new"
cmp -s "$root/fil.prev" "$root/fil.new" && fail "the two collects give the same file"
cp -a "$ref/work" "$root/work.new"
cp "$ref/b.reg" "$root/reg.prev"
start=$(now_ms)
cli_run "$ref" "$ref/b.reg" migrate || fail "reference migrate"
migrate_ms=$(($(now_ms) - start))
cp "$ref/b.reg" "$root/reg.new"
cmp -s "$root/reg.prev" "$root/reg.new" && fail "the migrate changed nothing"
grep -c '^"V' "$root/b.reg" | grep -qx 100000 || fail "the profile does not hold 100000 values"
echo "collect ${collect_ms} ms, migrate ${migrate_ms} ms (uninterrupted)"

# The next kill delay: a random fraction (in thousandths) of MAX_MS. Drawn here, in the main
# shell: bash reseeds RANDOM in every subshell.
next_delay() {  # next_delay MAX_MS
  delay=$(($1 * (RANDOM % 1001) / 1000))
}

# kill_during DIR REGFILE COMMAND DELAY_MS: starts the command and kills it after DELAY_MS;
# prints whether it was killed.
kill_during() {
  local delay=$4
  "$cli" --quiet --registry "$2" --drive "C=$1/c" --work-dir "$1/work" "$3" > /dev/null 2>&1 &
  local pid=$!
  sleep "$(printf '0.%03d' "$delay")" 2> /dev/null || sleep 0
  if kill -KILL "$pid" 2> /dev/null; then echo killed; else echo finished; fi
  wait "$pid" 2> /dev/null
}

# The state verify gives the Client store.
store_state() {  # store_state DIR
  "$cli" --registry "$case_dir/b.reg" --drive "C=$1/c" --work-dir "$1/work" verify --json \
    2> /dev/null | grep -o '"state":"[a-z ]*"' | head -1 | cut -d'"' -f4
}

same_data() {  # same_data DIR REFERENCE_WORK
  diff -r "$1/work/kdr4env/client/DDBVID" "$2/kdr4env/client/DDBVID" > /dev/null
}

# Whether the last run in the work folder's log ended (its outcome and exit were written).
run_ended() {  # run_ended DIR
  awk '/^#\t(collect|migrate), /{ended=0} /^#\teditions attempted /{ended=1} END{exit !ended}' \
    "$1/work/kdr4env/kdr4tose.log"
}

killed=0
unfinished=0
case_dir=$root/case
setup_case "$case_dir"
cp "$root/b.reg" "$case_dir/b.reg"
for ((i = 1; i <= rounds; i++)); do
  rm -rf "$case_dir/work" && cp -a "$root/work.prev" "$case_dir/work"
  next_delay $((collect_ms > 999 ? 999 : collect_ms))
  round="collect round $i (killed after $delay ms)"
  [[ $(kill_during "$case_dir" "$case_dir/b.reg" collect "$delay") == killed ]] && killed=$((killed + 1))
  fil=$case_dir/work/kdr4env/client/kdr4reg.fil
  if ! cmp -s "$fil" "$root/fil.prev" && ! cmp -s "$fil" "$root/fil.new"; then
    fail "$round: the settings file is neither version ($(wc -c < "$fil") bytes)"
  fi
  check_tree "$case_dir" "$round"
  # The store tells whether the run finished: whole only as the previous or the new Collect
  # left it; else unfinished, which Migrate refuses and verify --accept seals.
  state=$(store_state "$case_dir")
  if [[ $state == whole ]]; then
    { cmp -s "$fil" "$root/fil.prev" && same_data "$case_dir" "$root/work.prev"; } ||
      { cmp -s "$fil" "$root/fil.new" && same_data "$case_dir" "$root/work.new"; } ||
      fail "$round: verify calls a store whole that neither Collect left"
  else
    [[ $state == unfinished ]] || fail "$round: verify says '$state', not unfinished"
    # The log says so too: its last run has no end.
    run_ended "$case_dir" && fail "$round: the log of a killed Collect says it ended"
    cp "$case_dir/b.reg" "$case_dir/m.reg"
    cli_run "$case_dir" "$case_dir/m.reg" migrate
    [[ $? == 1 ]] || fail "$round: migrate of an unfinished store did not exit 1"
    cmp -s "$case_dir/m.reg" "$case_dir/b.reg" || fail "$round: migrate of an unfinished store wrote"
    unfinished=$((unfinished + 1))
    if ((i % 2)); then
      "$cli" --quiet --registry "$case_dir/b.reg" --drive "C=$case_dir/c" \
        --work-dir "$case_dir/work" verify --accept client > /dev/null 2>&1 ||
        fail "$round: verify --accept failed"
      [[ $(store_state "$case_dir") == whole ]] || fail "$round: not whole after verify --accept"
    fi
  fi
  cli_run "$case_dir" "$case_dir/b.reg" collect || fail "$round: the next run failed"
  [[ $(store_state "$case_dir") == whole ]] || fail "$round: not whole after the next run"
  cmp -s "$fil" "$root/fil.new" || fail "$round: the next run gave another file"
  diff -r "$case_dir/work/kdr4env/client/DDBVID" "$root/work.new/kdr4env/client/DDBVID" > /dev/null ||
    fail "$round: data folders differ after the next run"
done
echo "collect: $killed of $rounds runs killed before they ended, $unfinished left unfinished"

# Ctrl-C (SIGINT) halfway: the run stops after the file it copies; exit 130, said on standard
# error, the log says the run did not finish, and the store reads unfinished.
rm -rf "$case_dir/work" && cp -a "$root/work.prev" "$case_dir/work"
"$cli" --quiet --registry "$case_dir/b.reg" --drive "C=$case_dir/c" --work-dir "$case_dir/work" \
  collect > /dev/null 2> "$case_dir/int.err" &
pid=$!
sleep "$(printf '0.%03d' $((collect_ms > 1998 ? 999 : collect_ms / 2)))"
kill -INT "$pid" 2> /dev/null
wait "$pid"
code=$?
if [[ $code == 130 ]]; then
  grep -q 'interrupted' "$case_dir/int.err" || fail "Ctrl-C: nothing said: $(cat "$case_dir/int.err")"
  grep -qxF $'#\tinterrupted: collect did not finish' "$case_dir/work/kdr4env/kdr4tose.log" ||
    fail "Ctrl-C: the log does not say the run was interrupted: $(tail -n 2 "$case_dir/work/kdr4env/kdr4tose.log")"
  [[ $(store_state "$case_dir") == unfinished ]] || fail "Ctrl-C: the store is not unfinished"
  echo "Ctrl-C: exit 130, the log and the store say the Collect did not finish"
else
  echo "Ctrl-C: the Collect ended before it (exit $code)"
  [[ $code == 0 ]] || fail "Ctrl-C: exit $code"
fi

killed_m=0
undone=0
for ((i = 1; i <= rounds; i++)); do
  rm -rf "$case_dir/work" "$case_dir/c/se" && cp -a "$root/work.new" "$case_dir/work"
  cp "$root/reg.prev" "$case_dir/b.reg"
  next_delay $((migrate_ms > 999 ? 999 : migrate_ms))
  round="migrate round $i (killed after $delay ms)"
  [[ $(kill_during "$case_dir" "$case_dir/b.reg" migrate "$delay") == killed ]] && killed_m=$((killed_m + 1))
  if ! cmp -s "$case_dir/b.reg" "$root/reg.prev" && ! cmp -s "$case_dir/b.reg" "$root/reg.new"; then
    fail "$round: the registry file is neither version ($(wc -c < "$case_dir/b.reg") bytes)"
  fi
  # A Migrate that stopped while it wrote is one whose log has no end.
  if "$cli" --registry "$case_dir/b.reg" --drive "C=$case_dir/c" --work-dir "$case_dir/work" \
    status --json 2> /dev/null | grep -q '"unfinished_migrates":\[{'; then
    run_ended "$case_dir" && fail "$round: the log of a Migrate that did not finish says it ended"
  fi
  # Undo takes back what the killed run recorded, whatever it had written by then (a run
  # killed before its first record leaves nothing to take back).
  if compgen -G "$case_dir/work/kdr4env/backup/*/kdr4tose.undo" > /dev/null; then
    cli_run "$case_dir" "$case_dir/b.reg" undo || fail "$round: undo after the kill failed"
    cmp -s "$case_dir/b.reg" "$root/reg.prev" || fail "$round: undo left another registry"
    [[ -z $(find "$case_dir/c/se" -type f 2> /dev/null) ]] || fail "$round: undo left data files"
    undone=$((undone + 1))
  fi
  cli_run "$case_dir" "$case_dir/b.reg" migrate || fail "$round: the next run failed"
  cmp -s "$case_dir/b.reg" "$root/reg.new" || fail "$round: the next run gave another registry"
  diff -r "$case_dir/c/se" "$ref/c/se" > /dev/null || fail "$round: new data folders differ"
  # The backups are Migrate's own output (the next run's at least); the rest is as collected.
  compgen -G "$case_dir/work/kdr4env/backup/*/kdr4tose.undo" > /dev/null ||
    fail "$round: the next run left no backup"
  rm -rf "$case_dir/work/kdr4env/backup"
  diff -r -x '.kdr4tose-*.tmp' -x kdr4tose.log "$case_dir/work" "$root/work.new" > /dev/null ||
    fail "$round: the work tree changed"
done
echo "migrate: $killed_m of $rounds runs killed before they ended, $undone undone after the kill"
echo "temporary files left by killed runs: $(find "$case_dir" -name '.kdr4tose-*.tmp' | wc -l)"

if ((failures > 0)); then
  echo "$failures failure(s); the same kill moments again:" \
    "KDR_TEST_SEED=$seed bash $0 $cli $rounds" >&2
  exit 1
fi
echo "kill test passed: $((killed + killed_m)) kills survived"
