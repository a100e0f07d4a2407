#!/usr/bin/env bash
# kdr4tose-cli report over a share of work folders that real runs left: a whole job, a Collect
# that failed in part, a damaged store that verify refused, an interrupted Collect, a run refused
# before it began, a folder that cannot be read. Checks the text, CSV and JSON reports and that
# the report changes nothing in the folders.
#
#   cli_report_posix_test.sh path/to/kdr4tose-cli path/to/examples
set -u
cli=$1
examples=$2
here=$(cd -- "$(dirname -- "$0")" && pwd)
docs=$here/../../docs/cli.md
source "$(dirname -- "$0")/../support/test_root.sh" report-test
share=$root/share/kdr4
pc=$(hostname)
odd='山田,"太郎"'  # a user folder with a comma, quotes and Japanese

# batch USER COMMAND [args...]: as the fleet batch files run the tool for a user, each user with
# a drive of their own: the --json result, standard error and a line in results.txt.
batch() {
  local user=$1 command=$2
  shift 2
  local work=$share/$user
  mkdir -p "$work"
  [[ -d $root/drive-$user ]] || { mkdir -p "$root/drive-$user" && cp -r "$examples/drive_c/." "$root/drive-$user/"; }
  [[ -f $root/reg-$user ]] || cp "$examples/sample.reg" "$root/reg-$user"
  "$cli" --registry "$root/reg-$user" --drive "C=$root/drive-$user" --work-dir "$work" --json \
    "$@" "$command" >"$work/$command.json" 2>"$work/$command.err" &
  local pid=$!
  [[ -n ${interrupt:-} ]] && interrupt_when_copying "$pid" "$work"
  wait "$pid"
  local rc=$?
  echo "2026/12/10 $(date +%H:%M:%S).00 $pc $command $rc" >>"$work/results.txt"
  return "$rc"
}
# Stops a Collect with SIGINT once it has copied its first file of the many.
interrupt_when_copying() {
  local store=$2/kdr4env/personal/DDBVID/many
  for ((i = 0; i < 1000; i++)); do
    [[ -n $(ls "$store" 2>/dev/null | head -1) ]] && break
    sleep 0.01
  done
  kill -INT "$1"
}

# The whole job.
batch tanaka collect || fail "tanaka: collect"
batch tanaka verify || fail "tanaka: verify"
batch tanaka migrate || fail "tanaka: migrate"
# A folder where a collected file goes: that file is not copied.
mkdir -p "$share/sato/kdr4env/client/DDBVID/orders.ddv/x"
batch sato collect
[[ $? == 1 ]] || fail "sato: collect did not fail in part"
# A store changed after Collect: verify refuses it, and migrate.bat stops there.
batch suzuki collect || fail "suzuki: collect"
printf 'X' | dd of="$share/suzuki/kdr4env/client/DDBVID/orders.ddv" bs=1 seek=0 conv=notrunc 2>/dev/null
batch suzuki verify
[[ $? == 1 ]] || fail "suzuki: verify of a changed store"
# A Collect stopped by Ctrl-C, with many files to copy so that it is stopped on the way.
mkdir -p "$root/drive-kato" && cp -r "$examples/drive_c/." "$root/drive-kato/"
mkdir -p "$root/drive-kato/Kodrel4/Personal/prv/DDBVID/many"
for ((i = 0; i < 3000; i++)); do printf '%04096d' "$i" >"$root/drive-kato/Kodrel4/Personal/prv/DDBVID/many/f$i.ddv"; done
interrupt=1 batch kato collect
[[ $? == 130 ]] || fail "kato: the collect was not interrupted: $(tail -2 "$share/kato/collect.err")"
# A run refused before it began: no log, only the batch file's line and the tool's error.
batch "$odd" collect --bogus
[[ $? == 64 ]] || fail "odd: a bad option did not exit 64"
# A user folder whose name holds a line break, with a batch line in the PC's code page (cp932).
nl=$'line\nbreak'
mkdir -p "$share/$nl"
printf '2026/12/10 9:00:00.00 \x93\x8c\x8b\x9e01 collect 2\r\n' >"$share/$nl/results.txt"
# A results.txt that is a folder: the folder cannot be read.
mkdir -p "$share/broken/results.txt"
# Not a work folder: left out.
mkdir -p "$share/tools"

snapshot() { (cd "$root/share" && find . -printf '%p %y %s %m %T@\n' | LC_ALL=C sort && find . -type f -exec sha256sum {} + | LC_ALL=C sort); }
before=$(snapshot)

"$cli" report "$share" >"$root/report.txt" 2>"$root/report.err"
code=$?
[[ $code == 1 ]] || fail "report with an unreadable folder: exit $code, not 1"
cat "$root/report.txt"
row_of() { grep -F -- "$share/$1 " "$root/report.txt"; }
for user in tanaka sato suzuki kato; do
  [[ $(row_of "$user" | wc -l) == 1 ]] || fail "text: not one line for $user"
done
[[ $(row_of tanaka) =~ \ +root\ +migrate\ +20[0-9-]+T[0-9:+-]+\ +\ +done\ +([0-9]+)\ +0\ +0$ ]] ||
  fail "text: tanaka's line: $(row_of tanaka)"
[[ $(row_of sato) =~ \ collect\ .*\ done\ +failed\ \(files_not_copied\)\ +[0-9]+\ +1\ +1$ ]] ||
  fail "text: sato's line: $(row_of sato)"
[[ $(row_of suzuki) =~ \ verify\ +2026/12/10\ [0-9:.]+\ +store\ whole\ +store\ changed\ .*\ 1\ +from_results_txt ]] ||
  fail "text: suzuki's line: $(row_of suzuki)"
[[ $(row_of kato) =~ \ failed\ \(interrupted\)\ .*\ 130\ +interrupted$ ]] || fail "text: kato's line: $(row_of kato)"
[[ $(grep -F "$odd" "$root/report.txt") =~ \ 64\ +from_results_txt\;\ user_from_folder\;\ kdr4tose-cli:\  ]] ||
  fail "text: the refused run's line: $(grep -F "$odd" "$root/report.txt")"
grep -qxF "$share/broken: cannot read: cannot read $share/broken/results.txt: not a regular file" "$root/report.txt" ||
  fail "text: no line for the unreadable folder"
grep -qF "$share/tools" "$root/report.txt" && fail "text: a folder that is no work folder has a line"
grep -qE "/line\?break +東京01 +line\?break +collect " "$root/report.txt" ||
  fail "text: the folder with a line break, or the cp932 PC name: $(grep -F break "$root/report.txt")"

"$cli" --csv report "$share" >"$root/report.csv" 2>/dev/null
[[ $? == 1 ]] || fail "report --csv: exit code"
"$cli" --json report "$share" "$share/tanaka" >"$root/report.json" 2>/dev/null
[[ $? == 1 ]] || fail "report --json: exit code"
python3 "$here/json_schema.py" "$docs" "$root/report.json" report || fail "report --json: not of the schema"
python3 - "$root/report.csv" "$root/report.json" "$share" "$odd" <<'PY' || fail "CSV or JSON report"
import csv, json, sys
csv_path, json_path, share, odd = sys.argv[1:]
raw = open(csv_path, "rb").read()
assert raw.startswith(b"\xef\xbb\xbf"), "CSV without a byte order mark"
# Every record ends in CR LF; a line break inside a quoted field stays as it is.
assert raw.endswith(b"\r\n") and raw.count(b"\r\n") == len(list(csv.reader(open(csv_path, encoding="utf-8-sig", newline="")))), "CSV records do not end in CR LF"
rows = list(csv.DictReader(open(csv_path, encoding="utf-8-sig", newline="")))
by_folder = {r["folder"][len(share) + 1:]: r for r in rows}
assert set(by_folder) == {"tanaka", "sato", "suzuki", "kato", odd, "broken", "line\nbreak"}, sorted(by_folder)
assert by_folder["line\nbreak"]["machine"] == "東京01", by_folder["line\nbreak"]
r = by_folder[odd]
assert (r["user"], r["command"], r["exit"]) == (odd, "collect", "64"), r
assert by_folder["tanaka"]["Client"] == "done" and by_folder["tanaka"]["exit"] == "0"
assert by_folder["sato"]["Client"] == "failed (files_not_copied)" and by_folder["sato"]["failures"] == "1"
assert by_folder["suzuki"]["Client"] == "store changed", by_folder["suzuki"]
assert by_folder["kato"]["exit"] == "130" and "interrupted" in by_folder["kato"]["notes"]
assert by_folder["broken"]["error"].endswith("not a regular file"), by_folder["broken"]
report = json.load(open(json_path, encoding="utf-8"))
assert report["unreadable"] == 1
folders = [r["folder"][len(share) + 1:] for r in report["rows"]]
assert folders.count("tanaka") == 2, folders  # asked for twice: reported twice
j = {f: r for f, r in zip(folders, report["rows"])}
assert j["tanaka"]["editions"] == [{"edition": "Client", "outcome": "done"}], j["tanaka"]
assert j["tanaka"]["exit_code"] == 0 and j["tanaka"]["files"] > 0
assert j["kato"]["exit_code"] == 130 and j["kato"]["editions"][0]["reason"] == "interrupted", j["kato"]
assert j[odd]["user"] == odd and j[odd]["notes"] == ["from_results_txt", "user_from_folder"]
assert j["suzuki"]["editions"][1] == {"edition": "Client", "outcome": "store changed"}, j["suzuki"]
assert j["broken"]["error"].endswith("not a regular file")
PY

# Each work folder on its own; a folder that is not there; no work folder at all.
"$cli" report "$share/tanaka" >"$root/one.txt" 2>&1
[[ $? == 0 && $(wc -l <"$root/one.txt") == 2 ]] || fail "report of one work folder: $(cat "$root/one.txt")"
"$cli" --csv report "$share/$odd/" >"$root/slash.csv" 2>&1
python3 -c 'import csv, sys; r = next(csv.DictReader(open(sys.argv[1], encoding="utf-8-sig", newline=""))); assert r["user"] == sys.argv[2], r' \
  "$root/slash.csv" "$odd" || fail "report of a folder given with a trailing slash: $(cat "$root/slash.csv")"
"$cli" report "$root/none" >"$root/none.txt" 2>&1
[[ $? == 1 ]] && grep -qF "$root/none: cannot read: " "$root/none.txt" || fail "report of a missing folder: $(cat "$root/none.txt")"
"$cli" report "$share/tools" >"$root/empty.txt" 2>&1
[[ $? == 2 ]] || fail "report of a folder without work folders: exit $?"
"$cli" report >/dev/null 2>&1
[[ $? == 64 ]] || fail "report without folders is not a usage error"
"$cli" report "$share" "" >/dev/null 2>&1
[[ $? == 64 ]] || fail "report of a folder with an empty name is not a usage error"
"$cli" --csv --json report "$share" >/dev/null 2>&1
[[ $? == 64 ]] || fail "report --csv --json is not a usage error"
"$cli" --csv status >/dev/null 2>&1
[[ $? == 64 ]] || fail "--csv with status is not a usage error"
[[ $(snapshot) == "$before" ]] || fail "the report changed the share: $(diff <(echo "$before") <(snapshot) | head -5)"
# A Collect still going, holding the work folder's lock: the report reads its log all the same.
running=$root/share2/ito
mkdir -p "$running" "$root/drive-ito"
cp -r "$root/drive-kato/." "$root/drive-ito/"
"$cli" --registry "$examples/sample.reg" --drive "C=$root/drive-ito" --work-dir "$running" collect >/dev/null 2>&1 &
pid=$!
for ((i = 0; i < 1000; i++)); do
  [[ -n $(ls "$running/kdr4env/personal/DDBVID/many" 2>/dev/null | head -1) ]] && break
  sleep 0.01
done
kill -STOP "$pid"
timeout 60 "$cli" report "$running" >"$root/running.txt" 2>&1
code=$?
kill -CONT "$pid"
wait "$pid"
[[ $code == 0 ]] && grep -qE ' collect .* not_finished$' "$root/running.txt" ||
  fail "report during a collect: exit $code: $(cat "$root/running.txt")"
# A folder its user alone may read, as the share's rights give it: the administrator's report
# says so for that folder, and reads the others.
if setpriv --reuid=65534 --regid=65534 --clear-groups true 2>/dev/null; then
  chmod 755 "$root" "$root/share" "$share"
  chmod 700 "$share/sato"
  chmod -R o+rX "$share/tanaka"
  setpriv --reuid=65534 --regid=65534 --clear-groups "$cli" report "$share" >"$root/denied.txt" 2>&1
  [[ $? == 1 ]] || fail "report as another user: exit code"
  grep -qF "$share/sato: cannot read: " "$root/denied.txt" || fail "report as another user: $(cat "$root/denied.txt")"
  grep -qF "$share/tanaka " "$root/denied.txt" || fail "report as another user lost the readable folder"
  chmod 700 "$share/sato"
fi

if ((failures > 0)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "all report checks passed"
