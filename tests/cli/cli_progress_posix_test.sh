#!/usr/bin/env bash
# kdr4tose-cli with standard error going to a file or a pipe, as from a batch file: the progress
# lines come at their cadence (5 seconds and 10 points apart, or a new step), a summary line ends
# each Collect and Migrate; and SIGINT in the middle of a copy stops the run after its file:
# the message, exit code 130, the work log's line, no temporary file left, the store unfinished.
# The runs are slowed by stopping the process (SIGSTOP) most of the time, so that a small data
# set lasts long enough for the cadence to show.
#
#   cli_progress_posix_test.sh path/to/kdr4tose-cli path/to/examples
set -u
# The English texts, whatever the machine's locale.
unset LANG LC_MESSAGES
export LC_ALL=C.UTF-8
cli=$1
examples=$2
source "$(dirname -- "$0")/../support/test_root.sh" cli-progress
fresh() {
  case_dir=$root/$1
  mkdir -p "$case_dir/work"
  cp -r -- "$examples/sample.reg" "$examples/drive_c" "$case_dir/"
  local big=$case_dir/drive_c/Kodrel4/Personal/prv/DDBVID/many
  mkdir -p "$big"
  for ((i = 0; i < 300; i++)); do head -c 262144 /dev/urandom >"$big/f$i.ddv"; done
}
args() { echo --registry "$case_dir/sample.reg" --drive "C=$case_dir/drive_c" --work-dir "$case_dir/work"; }
# Each line read, with the time it came: "SECONDS.NANOS line".
stamp() { while IFS= read -r line; do printf '%s %s\n' "$(date +%s.%N)" "$line"; done; }
# Runs the command in $1 with stderr stamped into $case_dir/$1.err; the process runs 0.01 s of
# every 1.01 s. Exit code in $code.
slowed() {
  local name=$1
  shift
  # shellcheck disable=SC2046
  "$cli" $(args) "$@" 2> >(stamp >"$case_dir/$name.err") >"$case_dir/$name.out" &
  local pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    sleep 0.01
    kill -STOP "$pid" 2>/dev/null
    sleep 1
    kill -CONT "$pid" 2>/dev/null
  done
  wait "$pid"
  code=$?
  sleep 0.2 # the stamper's last line
}
# The progress lines of $1 keep their cadence; at least $2 of them when the run lasted long
# enough for that many (its summary says how long). A run too short for two lines (the first
# comes 5 seconds in) shows no cadence: that fails too, as a data set too small.
check_cadence() {
  python3 - "$1" "$2" <<'PY' || fail "progress cadence in $1"
import re, sys
lines = [l.rstrip("\n").split(" ", 1) for l in open(sys.argv[1], encoding="utf-8")]
progress = [(float(t), text) for t, text in lines if re.match(r"(collect|migrate) \w+: ", text)]
print(f"{len(progress)} progress lines in {sys.argv[1].rsplit('/', 1)[-1]}")
took = re.search(r", ([0-9.]+) s, ", lines[-1][1]) if lines else None
# Lines 5 seconds apart from 5 seconds in, with a second to spare.
room = int((float(took.group(1)) - 1) // 5) if took else int(sys.argv[2])
if room < 1:
    print("the run was too short to show the cadence")
ok = room >= 1 and len(progress) >= min(int(sys.argv[2]), room)
def percent(text):
    m = re.search(r"\((\d+)%\)", text)
    return int(m.group(1)) if m else None
def step(text):
    return text.split(",")[0]
# A line is timed by the run, then written: stopped in between, it reaches the stamper up to one
# stop (1.01 s) late, and the next one comes that much less than 5 seconds after it.
for (t0, a), (t1, b) in zip(progress, progress[1:]):
    if t1 - t0 < 3.9:
        print(f"only {t1 - t0:.1f} s apart: {a!r} -> {b!r}"); ok = False
    if step(a) == step(b) and percent(a) is not None and percent(b) is not None \
            and percent(b) - percent(a) < 10:
        print(f"less than 10 points apart: {a!r} -> {b!r}"); ok = False
sys.exit(0 if ok else 1)
PY
}
# The last line of $1 is the summary of command $2 with $3 edition(s) and $4 failed.
check_summary() {
  local last
  last=$(tail -n 1 "$1" | cut -d' ' -f2-)
  [[ $last =~ ^$2:\ $3\ edition\(s\),\ [0-9]+\ files,\ [0-9]+\ bytes,\ [0-9.]+\ s,\ $4\ failed$ ]] ||
    fail "$2: the last line is not its summary: '$last'"
}

fresh cadence
slowed collect collect
[[ $code == 0 ]] || fail "collect exit $code"
check_cadence "$case_dir/collect.err" 2
cat "$case_dir/collect.err"
check_summary "$case_dir/collect.err" collect 2 0
files=$(tail -n 1 "$case_dir/collect.err" | grep -o '[0-9]* files' | cut -d' ' -f1)
((${files:-0} > 300)) || fail "the summary counts ${files:-no} files; more than 300 were copied"
"$cli" $(args) migrate >/dev/null 2>"$case_dir/migrate.err"
[[ $? == 0 ]] || fail "migrate exit $?"
check_summary <(sed 's/^/0 /' "$case_dir/migrate.err") migrate 1 0
"$cli" $(args) --quiet collect >/dev/null 2>"$case_dir/quiet.err"
[[ ! -s $case_dir/quiet.err ]] || fail "--quiet printed on standard error: $(head -2 "$case_dir/quiet.err")"

fresh sigint
"$cli" $(args) collect >"$case_dir/int.out" 2>"$case_dir/int.err" &
pid=$!
store=$case_dir/work/kdr4env/personal/DDBVID/many
for ((i = 0; i < 500; i++)); do
  [[ -n $(ls "$store" 2>/dev/null | head -1) ]] && break
  sleep 0.01
done
kill -STOP "$pid"
copied_before=$(ls "$store" 2>/dev/null | wc -l)
kill -INT "$pid"
kill -CONT "$pid"
wait "$pid"
code=$?
copied_after=$(ls "$store" 2>/dev/null | wc -l)
echo "SIGINT after $copied_before file(s) copied; $copied_after when the run ended"
[[ $code == 130 ]] || fail "exit code $code after SIGINT, not 130"
[[ $(tail -n 1 "$case_dir/int.err") == "kdr4tose-cli: interrupted: the run stopped after the file it was copying; its log says how far it got" ]] ||
  fail "SIGINT: the last line is '$(tail -n 1 "$case_dir/int.err")'"
grep -qxF $'#\tinterrupted: collect did not finish' "$case_dir/work/kdr4env/kdr4tose.log" ||
  fail "the work log does not say the collect was interrupted"
((copied_after < 300)) || fail "the run copied every file after SIGINT"
[[ -z $(find "$case_dir/work" -name '.kdr4tose-*' | head -1) ]] ||
  fail "a temporary file was left: $(find "$case_dir/work" -name '.kdr4tose-*' | head -1)"
"$cli" $(args) verify --json 2>/dev/null | grep -q '"state":"unfinished"' ||
  fail "verify does not call the interrupted store unfinished"

# A run interrupted while it waits for another run's lock never ran: it ends with 130 and writes
# nothing into the other run's log, which that run then ends as finished.
fresh waiting
store=$case_dir/work/kdr4env/personal/DDBVID/many
"$cli" $(args) --quiet collect >/dev/null 2>&1 &
holder=$!
for ((i = 0; i < 500; i++)); do
  [[ -n $(ls "$store" 2>/dev/null | head -1) ]] && break
  sleep 0.01
done
kill -STOP "$holder"
# Its own registry file, so that it waits for the work folder; SIGINT as a terminal gives it (a
# script's background job starts with SIGINT ignored).
cp -- "$case_dir/sample.reg" "$case_dir/own.reg"
env --default-signal=INT "$cli" --registry "$case_dir/own.reg" --drive "C=$case_dir/drive_c" \
  --work-dir "$case_dir/work" collect >/dev/null 2>"$case_dir/waiting.err" &
waiter=$!
sleep 1
kill -INT "$waiter"
sleep 0.3
kill -INT "$waiter" 2>/dev/null
wait "$waiter"
code=$?
kill -CONT "$holder"
wait "$holder" || fail "the run holding the lock failed"
[[ $code == 130 ]] || fail "interrupted while waiting for the lock: exit $code, not 130: $(cat "$case_dir/waiting.err")"
! grep -qF 'interrupted:' "$case_dir/work/kdr4env/kdr4tose.log" ||
  fail "the waiting run wrote into the other run's log: $(grep -F 'interrupted:' "$case_dir/work/kdr4env/kdr4tose.log")"

if ((failures > 0)); then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "console progress test passed"
