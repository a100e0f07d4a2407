#!/usr/bin/env bash
# Runs kdr4tose-cli as a process against registry files and host folders and checks what it
# prints, its exit codes, the registry file it writes back and the folders it copies.
#
#   cli_posix_test.sh path/to/kdr4tose-cli path/to/examples path/to/kdr4tose-cli-changed
#
# The last is the tests' build of the program, in which another program changes the registry
# file during the write-back.
set -u
cli=$1
examples=$2
cli_changed=$3
data=$(cd -- "$(dirname -- "$0")/../data/regedit" && pwd)
here=$(cd -- "$(dirname -- "$0")" && pwd)
docs=$here/../../docs/cli.md
# The texts checked are the English ones, whatever the machine's locale; Japanese where asked.
unset LANG LC_MESSAGES
export LC_ALL=C.UTF-8
source "$(dirname -- "$0")/../support/test_root.sh" cli-test
# One JSON object of the schema in docs/cli.md, of the command that is the first word of what.
json_ok() {
  python3 "$here/json_schema.py" "$docs" "$1" "${2%% *}" || fail "$2: not of the JSON schema"
}
# expect_code WANT GOT what
expect_code() {
  [[ $1 == "$2" ]] || fail "$3: exit code $2, expected $1"
}
# expect_line FILE LINE what: FILE holds exactly LINE as one of its lines
expect_line() {
  grep -qxF -- "$2" "$1" || { fail "$3: no line '$2' in $1:"; head -n 8 "$1" | sed 's/^/    /' >&2; }
}
# expect_count FILE TEXT N what: TEXT occurs on exactly N lines of FILE
expect_count() {
  local n
  n=$(grep -cF -- "$2" "$1")
  [[ $n == "$3" ]] || fail "$4: '$2' on $n lines, expected $3"
}
expect_no_text() {
  if grep -qF -- "$2" "$1"; then fail "$3: '$2' found"; fi
}
# Registry file text as UTF-8 without CRs.
reg_utf8() { iconv -f cp932 -t utf-8 "$1" | tr -d '\r'; }
# Only the keys of the new product's branch of a registry file (as UTF-8).
new_branch() { reg_utf8 "$1" | awk '/^\[/ { keep = index($0, "\\VTQ\\KodrelSE") > 0 } keep'; }
# Copies registry file $1 to $2 without the keys (and their values) whose line holds $3.
drop_keys() {
  python3 - "$@" <<'PY'
import sys
src, dst, needle = sys.argv[1], sys.argv[2], sys.argv[3].encode("cp932")
out, skipping = [], False
for line in open(src, "rb").read().split(b"\r\n"):
    if line.startswith(b"["):
        skipping = needle in line
    if not skipping:
        out.append(line)
open(dst, "wb").write(b"\r\n".join(out))
PY
}

# A fresh copy of the sample: $case/sample.reg, $case/drive_c, work folder $case/work.
fresh() {
  case_dir=$root/$1
  mkdir -p "$case_dir/work"
  cp -r -- "$examples/sample.reg" "$examples/drive_c" "$case_dir/"
  reg=$case_dir/sample.reg
}
run() {  # run NAME args...: stdout in $out, stderr in $err, exit code in $code
  local name=$1
  shift
  out=$case_dir/$name.out
  err=$case_dir/$name.err
  "$cli" "$@" >"$out" 2>"$err"
  code=$?
}
cli_on_sample() {  # cli_on_sample NAME args... (registry, drive and work folder of the case)
  local name=$1
  shift
  run "$name" --registry "$reg" --drive "C=$case_dir/drive_c" --work-dir "$case_dir/work" "$@"
}

msg_p_collected='Kodrel4 Personalの情報を収集しました。'
msg_c_collected='Kodrel4 Clientの情報を収集しました。'
msg_c_migrated='Kodrel Clientの情報を移行しました。'
msg_nothing='Kodrel4の情報が有りません。'
msg_not_migrated='KodrelSEがインストールされていません、或いは、情報が収集されていません。'

# --- the whole job on the sample ---------------------------------------------------------
fresh job
cli_on_sample status0 status
expect_code 0 "$code" "status before collect"
expect_line "$out" "Kodrel4 installed:   Personal, Client" "status before collect"
expect_line "$out" "KodrelSE installed:  Client" "status before collect"
expect_line "$out" "Collect:             enabled" "status before collect"
expect_line "$out" "Migrate:             disabled" "status before collect"

LC_ALL=ja_JP.UTF-8 cli_on_sample status0-ja status
expect_code 0 "$code" "status in Japanese"
expect_line "$out" "Kodrel4 インストール済み:   Personal、Client" "status in Japanese"
expect_line "$out" "「情報移行開始」:           押せません" "status in Japanese"

cli_on_sample migrate0 migrate
expect_code 2 "$code" "migrate before collect"
expect_line "$out" "$msg_not_migrated" "migrate before collect"
cmp -s "$reg" "$examples/sample.reg" || fail "migrate with nothing to do rewrote the registry file"

# In Japanese: the window's messages are the same in both languages, the log stays English.
LC_ALL=ja_JP.UTF-8 cli_on_sample collect --log "$case_dir/collect.log" collect
expect_code 0 "$code" "collect"
grep -q '^collect: エディション 2、ファイル 7、249 バイト、.* 秒、失敗 0$' "$err" ||
  fail "collect's summary in Japanese: $(cat "$err")"
[[ $(cat "$out") == "$msg_p_collected"$'\n'"$msg_c_collected" ]] || fail "collect printed: $(cat "$out")"
cmp -s "$reg" "$examples/sample.reg" || fail "collect changed the registry file"
for command in "undo" "undo --list"; do
  cli_on_sample no-backup $command
  expect_code 2 "$code" "$command before any migrate"
done
cmp -s "$case_dir/work/kdr4env/client/DDBVID/販売/monthly.ddv" \
  "$examples/drive_c/Kodrel4/Client/prv/DDBVID/販売/monthly.ddv" || fail "client DDBVID subfolder not collected"
cmp -s "$case_dir/work/kdr4env/client/plog/kodrel.log" \
  "$examples/drive_c/Kodrel4/Client/prv/log/kodrel.log" || fail "client log not collected into plog"
cmp -s "$case_dir/work/kdr4env/personal/DDBDAT/branches.csv" \
  "$examples/drive_c/Kodrel4/Personal/pub/DDBDAT/branches.csv" || fail "personal DDBDAT not collected"
[[ $(stat -c %a "$case_dir/work/kdr4env") == 700 ]] || fail "work tree is not owner-only: $(stat -c %a "$case_dir/work/kdr4env")"
grep -q '^\[Software\\VTQ\\Kodrel\\Client\\Common\\Rdb\]' "$case_dir/work/kdr4env/client/kdr4reg.fil" ||
  fail "client settings file lacks the Rdb section"
log=$case_dir/collect.log
expect_line "$log" "COPY	C:\\Kodrel4\\Client\\prv\\DDBVID\\販売\\monthly.ddv	35" "collect log"
expect_line "$log" "SKIP	value Software\\VTQ\\Kodrel\\Client\\Client\\Current: PRVSAVE	never exported (skip list)" "collect log"
expect_line "$log" "SHOW	$msg_c_collected" "collect log"
expect_line "$log" "#	editions attempted 110, failed 0" "collect log"
expect_count "$log" "editions attempted" 1 "collect log"
expect_no_text "$log" "S3cret!" "collect log shows a credential"
expect_no_text "$log" "Tiger#2019" "collect log shows a credential"

cli_on_sample status1 status --json
expect_code 0 "$code" "status --json"
json_ok "$out" "status --json"
python3 - "$out" <<'PY' || fail "status --json after collect: $(cat "$out")"
import json, sys
s = json.load(open(sys.argv[1]))
assert s["format"] == 1 and s["command"] == "status", s
assert s["old_installed"] == 110 and s["new_installed"] == 10 and s["collected"] == 110, s
assert s["collect_enabled"] is True and s["migrate_enabled"] is True, s
assert s["work_folder"].endswith("/work/kdr4env"), s
PY

cli_on_sample migrate --log "$case_dir/migrate.log" migrate
expect_code 0 "$code" "migrate"
[[ $(cat "$out") == "$msg_c_migrated" ]] || fail "migrate printed: $(cat "$out")"
[[ $(head -c 8 "$reg") == REGEDIT4 ]] || fail "registry file not written back as REGEDIT4"
new_branch "$reg" >"$case_dir/after.reg.txt"
expect_line "$case_dir/after.reg.txt" '[HKEY_CURRENT_USER\Software\VTQ\KodrelSE\Client\Common\Rdb]' "written registry"
expect_line "$case_dir/after.reg.txt" '"RDB_PASS"="S3cret!"' "written registry (credential decoded)"
expect_line "$case_dir/after.reg.txt" '"Department"="営業部"' "written registry"
expect_line "$case_dir/after.reg.txt" '"SRVPORT"=dword:00001f90' "written registry"
expect_no_text "$case_dir/after.reg.txt" 'KodrelSE\Personal' "written registry (Personal is not installed in the new product)"
cmp -s "$case_dir/drive_c/KodrelSE/Client/prv/DDBVID/販売/monthly.ddv" \
  "$examples/drive_c/Kodrel4/Client/prv/DDBVID/販売/monthly.ddv" || fail "DDBVID not migrated"
cmp -s "$case_dir/drive_c/KodrelSE/Client/prv/log/kodrel.log" \
  "$examples/drive_c/Kodrel4/Client/prv/log/kodrel.log" || fail "plog not migrated into log"
expect_no_text "$case_dir/migrate.log" "S3cret!" "migrate log shows a credential"
expect_line "$case_dir/migrate.log" "#	exit 0" "migrate log"
expect_count "$case_dir/migrate.log" "editions attempted" 1 "migrate log"

# --- quiet: success lines are not printed -------------------------------------------------
fresh quiet
cli_on_sample collect --quiet collect
expect_code 0 "$code" "collect --quiet"
[[ ! -s $out ]] || fail "collect --quiet printed: $(cat "$out")"

# --- nothing to collect -----------------------------------------------------------------
fresh nothing
drop_keys "$examples/sample.reg" "$case_dir/a.reg" 'Kodrel Personal]'
drop_keys "$case_dir/a.reg" "$reg" 'Kodrel Client]'
cli_on_sample collect collect
expect_code 2 "$code" "collect with no old edition"
[[ $(cat "$out") == "$msg_nothing" ]] || fail "collect with no old edition printed: $(cat "$out")"

# --- a Migrate whose data step fails: the new product's PRV_PATH is missing -------------
fresh datafail
cli_on_sample collect collect
expect_code 0 "$code" "collect (datafail)"
grep -av 'KodrelSE\\\\Client\\\\prv' "$examples/sample.reg" >"$reg"
cli_on_sample migrate migrate
expect_code 1 "$code" "migrate whose data step fails"
[[ $(cat "$out") == "$msg_not_migrated" ]] || fail "failed migrate printed: $(cat "$out")"
# The settings were imported before the data step failed, so the file was written back.
new_branch "$reg" | grep -qxF '"Host"="dbsrv01"' || fail "settings of the failed migrate not written back"

# --- version 5 registry files are written back as version 5 -----------------------------
fresh v5
cli_on_sample collect collect
# (Without the hex(2) and hex(7) values, whose bytes a version 5 file holds as UTF-16.)
{ printf '\xff\xfe'; reg_utf8 "$examples/sample.reg" | grep -v 'hex([27])' |
  sed '1s/.*/Windows Registry Editor Version 5.00/; s/$/\r/' |
  iconv -f utf-8 -t utf-16le; } >"$reg"
cli_on_sample migrate migrate
expect_code 0 "$code" "migrate on a version 5 file"
[[ $(head -c 2 "$reg" | od -An -tx1 | tr -d ' ') == fffe ]] || fail "version 5 file not written back as UTF-16"
iconv -f utf-16le -t utf-8 "$reg" | tr -d '\r' | grep -qxF '"Department"="営業部"' ||
  fail "version 5 file lacks the migrated values"

# --- a full HKEY_CURRENT_USER export: only the new product's branch changes ---------------
# Wine's `regedit /E HKEY_CURRENT_USER` (version 5, with text of another program that has no
# code page 932 form), with the products' markers, comments and deletions added by hand.
fresh fullhkcu
python3 - "$data/full_hkcu_v5.reg" "$reg" <<'PY'
import sys
text = open(sys.argv[1], "rb").read().decode("utf-16")
header, rest = text.split("\r\n", 1)
markers = "".join("[HKEY_LOCAL_MACHINE\\Software\\VTQ\\%s]\r\n\"Version\"=\"1\"\r\n\r\n" % name
                  for name in ("Kodrel Personal", "Kodrel Client", "Kodrel SE Client"))
added = ("; exported by hand, © kept\r\n" + markers +
         "[-HKEY_CURRENT_USER\\Software\\Gone]\r\n\r\n"
         "[HKEY_CURRENT_USER\\Software\\OtherApp]\r\n\"Old\"=-\r\n; 〜 a comment\r\n\r\n"
         "[HKEY_CURRENT_USER\\Software\\VTQ\\KodrelSE\\Client\\Common]\r\n"
         "; ours, kept too\r\n\"Gone\"=-\r\n\r\n")
open(sys.argv[2], "wb").write(("\ufeff" + header + "\r\n\r\n" + added + rest).encode("utf-16-le"))
PY
cp -- "$reg" "$case_dir/before.reg"
cli_on_sample status status
expect_code 0 "$code" "status on a full export"
expect_line "$out" "Kodrel4 installed:   Personal, Client" "status on a full export"
cli_on_sample collect collect
expect_code 0 "$code" "collect on a full export"
cmp -s "$reg" "$case_dir/before.reg" || fail "collect changed a full export"
cli_on_sample migrate migrate
expect_code 0 "$code" "migrate on a full export: $(cat "$err")"
python3 - "$case_dir/before.reg" "$reg" <<'PY' || fail "a full export changed outside the new product's branch"
import difflib, sys
def lines(path):
    return open(path, "rb").read().decode("utf-16").split("\r\n")
def in_branch(lines):
    # For each line, whether the block it is in is a key of the new product's branch.
    inside, out = False, []
    for line in lines:
        if line.startswith("["):
            key = line.lstrip("[-").upper()
            inside = key.startswith("HKEY_CURRENT_USER\\SOFTWARE\\VTQ\\KODRELSE\\") or \
                     key.startswith("HKEY_CURRENT_USER\\SOFTWARE\\VTQ\\KODRELSE]")
        out.append(inside)
    return out
a, b = lines(sys.argv[1]), lines(sys.argv[2])
ia, ib = in_branch(a), in_branch(b)
changed = 0
for tag, i1, i2, j1, j2 in difflib.SequenceMatcher(None, a, b, autojunk=False).get_opcodes():
    if tag == "equal":
        continue
    for i in range(i1, i2):
        assert ia[i] and not a[i].startswith("["), ("removed outside", a[i])
    for j in range(j1, j2):
        assert ib[j] or b[j] == "", ("added outside", b[j])
    changed += (i2 - i1) + (j2 - j1)
assert changed > 0, "nothing was migrated"
assert b[0] == a[0] and "; exported by hand, © kept" in b and "; ours, kept too" in b
assert '"Gone"=-' in b and "[-HKEY_CURRENT_USER\\Software\\Gone]" in b
assert '"Department"="営業部"' in b, "migrated values missing"
PY

# --- the registry file's setup: link, mode, read-only, folder, lock, log -----------------
fresh setup
cli_on_sample collect collect
mv -- "$reg" "$case_dir/real.reg"
ln -s real.reg "$reg"
chmod 640 "$case_dir/real.reg"
cli_on_sample migrate --log "$case_dir/migrate.log" migrate
expect_code 0 "$code" "migrate through a symbolic link"
[[ -L $reg ]] || fail "the symbolic link was replaced by a file"
new_branch "$case_dir/real.reg" | grep -qxF '"Department"="営業部"' || fail "the link's target was not written"
[[ $(stat -c %a "$case_dir/real.reg") == 640 ]] || fail "mode not kept: $(stat -c %a "$case_dir/real.reg")"
[[ $(stat -c %a "$case_dir/migrate.log") == 600 ]] || fail "log is not owner-only: $(stat -c %a "$case_dir/migrate.log")"
ls -a "$case_dir" | grep -q 'kdr4tose-' && fail "a temporary file was left beside the registry file"

fresh readonly
cli_on_sample collect collect
chmod 444 "$reg"
rm -rf -- "$case_dir/drive_c/KodrelSE/Client/prv/DDBVID"
cli_on_sample migrate migrate
expect_code 64 "$code" "migrate on a read-only registry file"
grep -q 'read-only' "$err" || fail "read-only registry file: $(cat "$err")"
[[ ! -e $case_dir/drive_c/KodrelSE/Client/prv/DDBVID ]] || fail "read-only registry file: data copied"
cli_on_sample status status
expect_code 0 "$code" "status on a read-only registry file"

fresh folder
run folder --registry "$case_dir" --work-dir "$case_dir/work" status
expect_code 64 "$code" "--registry naming a folder"

fresh busy
flock "$reg" sleep 30 &
holder=$!
sleep 0.5
cli_on_sample migrate migrate
expect_code 75 "$code" "migrate while another run holds the registry file"
grep -q 'in use' "$err" || fail "busy registry file: $(cat "$err")"
kill "$holder" 2>/dev/null
wait "$holder" 2>/dev/null

# --- a 32-bit product's markers in a 64-bit export (WOW6432Node) -------------------------
fresh wow
python3 - "$reg" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
open(sys.argv[1], "wb").write(data.replace(b"[HKEY_LOCAL_MACHINE\\Software\\VTQ\\Kodrel Client]",
                                           b"[HKEY_LOCAL_MACHINE\\Software\\WOW6432Node\\VTQ\\Kodrel Client]"))
PY
cli_on_sample status status
expect_line "$out" "Kodrel4 installed:   Personal, Client" "markers in the 32-bit view"

# --- a malformed registry file is refused and nothing is written ------------------------
fresh malformed
{ cat "$examples/sample.reg"; printf '"Broken"=dword:xyz\r\n'; } >"$reg"
cp -- "$reg" "$case_dir/before.reg"
lines=$(wc -l <"$reg")
for command in collect migrate; do
  cli_on_sample "$command" "$command"
  expect_code 64 "$code" "$command on a malformed registry file"
  grep -q "line $lines" "$err" || fail "$command on a malformed file: no 'line $lines' in: $(cat "$err")"
done
cmp -s "$reg" "$case_dir/before.reg" || fail "malformed registry file was changed"
[[ ! -e $case_dir/work/kdr4env ]] || fail "work tree created from a malformed registry file"

# --- a work folder too long for the paths -----------------------------------------------
fresh toolong
deep=$case_dir/work
while ((${#deep} < 4080)); do
  part=$(printf 'd%.0s' $(seq 1 $((4080 - ${#deep} > 200 ? 200 : 4080 - ${#deep}))))
  deep=$deep/$part
done
mkdir -p -- "$deep"
run toolong --registry "$reg" --work-dir "$deep" collect
expect_code 70 "$code" "work folder too long"
grep -q 'too long' "$err" || fail "work folder too long: stderr $(cat "$err")"

# --- a write-back that fails at the end says no edition was migrated --------------------
fresh writeback
cli_on_sample collect collect
# Another program's large value makes the file bigger than the run may write (ulimit -f), so
# only the registry file's write-back fails, after the data were copied.
printf '[HKEY_CURRENT_USER\\Software\\Other]\r\n"Big"="%s"\r\n' "$(head -c 600000 /dev/zero | tr '\0' x)" >>"$reg"
cp -- "$reg" "$case_dir/before.reg"
out=$case_dir/migrate.out
err=$case_dir/migrate.err
(trap '' XFSZ && ulimit -f 400 && exec "$cli" --registry "$reg" --drive "C=$case_dir/drive_c" \
  --work-dir "$case_dir/work" migrate >"$out" 2>"$err")
code=$?
expect_code 70 "$code" "migrate whose write-back fails"
expect_no_text "$out" "$msg_c_migrated" "migrate whose write-back fails"
grep -q 'cannot write the registry file' "$err" || fail "failed write-back: stderr $(cat "$err")"
cmp -s "$reg" "$case_dir/before.reg" || fail "failed write-back: the registry file was changed"
ls -a "$case_dir" | grep -q 'kdr4tose-' && fail "failed write-back: a temporary file was left"
# The work folder's log tells the same story: not written back, exit 70.
log=$case_dir/work/kdr4env/kdr4tose.log
grep -q $'^#\tregistry file not written back: ' "$log" && grep -q $'^#\texit 70$' "$log" ||
  fail "failed write-back: the work log does not say so: $(tail -n 4 "$log")"

# --- a destination data folder that is a link off its drive: named, and nothing written ---
fresh link-destination
cli_on_sample collect collect
mkdir -p "$case_dir/elsewhere" "$case_dir/drive_c/KodrelSE/Client/prv"
ln -s "$case_dir/elsewhere" "$case_dir/drive_c/KodrelSE/Client/prv/DDBVID"
cp -- "$reg" "$case_dir/before.reg"
cli_on_sample migrate migrate
expect_code 1 "$code" "migrate into a linked data folder"
grep -qF 'KodrelSEのデータフォルダC:\KodrelSE\Client\prv\DDBVIDを使用できないため、Kodrel Clientの情報は移行せず' "$out" ||
  fail "linked data folder: the message does not name it: $(cat "$out")"
expect_no_text "$out" 'KodrelSEがインストールされていません' "linked data folder"
cmp -s "$reg" "$case_dir/before.reg" || fail "linked data folder: the settings were written"
[[ -z $(ls -A "$case_dir/elsewhere") ]] || fail "linked data folder: files were copied through the link"

# --- the registry file changed by something else between the run's read and its rename ----
fresh changed
cli_on_sample collect collect
cp -- "$reg" "$case_dir/before.reg"
printf '; changed meanwhile\r\n' >>"$case_dir/before.reg"
KDR_TEST_CHANGE_REGISTRY_FILE=1 "$cli_changed" --registry "$reg" --drive "C=$case_dir/drive_c" \
  --work-dir "$case_dir/work" migrate >"$case_dir/out" 2>"$case_dir/err"
expect_code 70 $? "migrate over a registry file changed meanwhile"
grep -q 'changed by something else' "$case_dir/err" || fail "changed registry file: $(cat "$case_dir/err")"
cmp -s "$reg" "$case_dir/before.reg" || fail "changed registry file: not left as the other program made it"
# ... and changed in place before the write-back reads it again, with its size and time kept.
fresh changed-in-place
cli_on_sample collect collect
python3 -c 'import sys; b = bytearray(open(sys.argv[1], "rb").read()); b[-1] ^= 0x20; open(sys.argv[2], "wb").write(b)' \
  "$reg" "$case_dir/before.reg"
KDR_TEST_CHANGE_REGISTRY_FILE=in-place cli=$cli_changed cli_on_sample migrate migrate
expect_code 70 "$code" "migrate over a registry file changed in place"
grep -q 'changed by something else' "$err" || fail "registry file changed in place: $(cat "$err")"
cmp -s "$reg" "$case_dir/before.reg" || fail "registry file changed in place: not left as it was made"

# --- usage errors -----------------------------------------------------------------------
fresh usage
usage_error() {  # usage_error what args...
  local what=$1
  shift
  run usage "$@"
  expect_code 64 "$code" "$what"
  grep -q '^usage: kdr4tose-cli' "$err" || fail "$what: no usage line in: $(cat "$err")"
  [[ ! -s $out ]] || fail "$what: printed on stdout: $(cat "$out")"
}
LC_ALL=ja_JP.UTF-8 run usage-ja --lang xx status
expect_code 64 "$code" "--lang xx"
grep -qx 'kdr4tose-cli: --lang には ja か en を指定してください（指定: xx）。' "$err" &&
  grep -q '^使い方: kdr4tose-cli' "$err" || fail "--lang xx in a Japanese locale: $(cat "$err")"
usage_error "no command" --registry "$reg"
usage_error "unknown command" --registry "$reg" export
usage_error "unknown option" --registry "$reg" --bogus status
usage_error "two commands" --registry "$reg" status collect
usage_error "no registry on Linux" --work-dir "$case_dir/work" status
grep -q -- '--registry' "$err" || fail "missing --registry: reason does not name it"
usage_error "bad --drive" --registry "$reg" --drive C /tmp --work-dir "$case_dir/work" status
usage_error "missing registry file" --registry "$case_dir/none.reg" status
# A FIFO as the registry file is refused at once; its open used to wait for a writer forever.
mkfifo "$case_dir/fifo.reg"
timeout 20 "$cli" --registry "$case_dir/fifo.reg" status >/dev/null 2>"$case_dir/fifo.err"
expect_code 64 "$?" "a FIFO as the registry file"
usage_error "missing work folder" --registry "$reg" --work-dir "$case_dir/none" status

# --- verify, preview and undo ---------------------------------------------------------
# Every file below a folder with its hash, and the registry file itself.
tree_state() { (cd "$1" && find . -printf '%y %p\n' | sort && find . -type f -exec sha256sum {} + | sort); }
# A registry file's keys (each with every key above it) and values, one sorted line each, so
# that two files holding the same registry compare equal however they are laid out.
reg_state() {
  python3 - "$1" <<'PY'
import re, sys
keys, lines, key = set(), [], None
text = open(sys.argv[1], "rb").read().decode("cp932").replace("\r", "")
text = re.sub(r"\\\n\s*", "", text)  # continued lines joined
for raw in text.split("\n"):
    if raw.startswith("[") and raw.endswith("]"):
        key = raw[1:-1].lower()
        parts = key.split("\\")
        for i in range(1, len(parts) + 1):
            keys.add("\\".join(parts[:i]))
    elif raw and key and not raw.startswith(("REGEDIT", "Windows Registry")):
        lines.append(key + "|" + raw)
print("\n".join(sorted(keys) + sorted(lines)))
PY
}
fresh store
cli_on_sample collect collect --json
expect_code 0 "$code" "collect --json"
json_ok "$out" "collect --json"
cli_on_sample verify verify
expect_code 0 "$code" "verify of a fresh store"
expect_line "$out" "Client: whole (4 file(s) checked)" "verify"
before_reg=$(sha256sum <"$reg")
before_keys=$(reg_state "$reg")
before_drive=$(tree_state "$case_dir/drive_c")
before_work=$(tree_state "$case_dir/work")
cli_on_sample preview migrate --dry-run
expect_code 0 "$code" "migrate --dry-run"
grep -qF 'Client\Common\Rdb\RDB_PASS = (credential, hidden)' "$out" ||
  fail "migrate --dry-run does not hide the credential: $(head -5 "$out")"
no_credentials() {  # no_credentials FILE what: the sample's two credential values are not in FILE
  expect_no_text "$1" "S3cret!" "$2"
  expect_no_text "$1" "Tiger#2019" "$2"
}
no_credentials "$out" "migrate --dry-run"
cli_on_sample preview-json migrate --dry-run --json
json_ok "$out" "migrate --dry-run --json"
no_credentials "$out" "migrate --dry-run --json"
cli_on_sample collect-preview collect --dry-run --json
json_ok "$out" "collect --dry-run --json"
no_credentials "$out" "collect --dry-run --json"
[[ $(sha256sum <"$reg") == "$before_reg" ]] || fail "a dry run changed the registry file"
[[ $(tree_state "$case_dir/drive_c") == "$before_drive" ]] || fail "a dry run changed the drive"
[[ $(tree_state "$case_dir/work") == "$before_work" ]] || fail "a dry run changed the work folder"
cli_on_sample migrate migrate --json
expect_code 0 "$code" "migrate --json"
json_ok "$out" "migrate --json"
# The fleet example's PowerShell summary selects fields of each edition's result: ones the
# schema has, and those a migrated edition always has.
python3 - "$here/../../examples/fleet/summary.ps1" "$docs" "$out" <<'PY' ||
import json, re, sys
line = re.search(r"Select-Object @\{n='user'; e=\{\$user\}\}, (.*)", open(sys.argv[1]).read()).group(1)
fields = [f.strip() for f in line.split(",")]
schema = json.loads(re.search(r"## The JSON schema\n.*?```json\n(.*?)```", open(sys.argv[2]).read(), re.S).group(1))
known = schema["elements"]["editions"]
unknown = [f for f in fields if f not in known["required"] and f not in known["optional"]]
assert not unknown, unknown
for edition in json.load(open(sys.argv[3]))["editions"]:
    missing = [f for f in fields if f not in edition and not f.startswith("reason")]
    assert not missing, (missing, edition)
PY
  fail "the fleet example's summary.ps1 selects fields migrate --json lacks"
grep -q '"backup":"2' "$out" || fail "migrate --json names no backup: $(cat "$out")"
cli_on_sample list undo --list
expect_code 0 "$code" "undo --list"
cli_on_sample list-json undo --list --json
json_ok "$out" "undo --list --json"
# What the store's files hold reaches the results only as valid UTF-8 JSON and without the
# terminal's control characters: a journal's time and a manifest's format field, altered.
journal=$(echo "$case_dir"/work/kdr4env/backup/*/kdr4tose.undo)
manifest=$case_dir/work/kdr4env/client/kdr4tose.manifest
cp -- "$journal" "$case_dir/journal.kept"
cp -- "$manifest" "$case_dir/manifest.kept"
sed -i $'2s/.*/time\t\xff\x1b[2J"/' "$journal"
sed -i $'1s/.*/kdr4tose-manifest\t\x82\xa0\x1b[2J/' "$manifest"
for command in "undo --list" verify; do
  cli_on_sample altered $command --json
  json_ok "$out" "$command --json on an altered store"
  cli_on_sample altered $command
  expect_no_text "$out" $'\x1b' "$command on an altered store prints a control character"
done
cp -- "$case_dir/journal.kept" "$journal"
cp -- "$case_dir/manifest.kept" "$manifest"
touch "$case_dir/work/kdr4env/client/"$'a\x1b[2J.ddv'  # a name in the store, not listed
cli_on_sample altered verify
expect_line "$out" '  a\x1b[2J.ddv: added since collected (not in the manifest)' "verify names a file with a control character"
rm -- "$case_dir/work/kdr4env/client/"$'a\x1b[2J.ddv'
# A link where a collected file was reads as that file, but Migrate would not copy it as one.
listed=$case_dir/work/kdr4env/client/DDBVID/orders.ddv
mv -- "$listed" "$case_dir/orders.kept"
ln -s -- "$case_dir/orders.kept" "$listed"
cli_on_sample linked verify
expect_code 1 "$code" "verify of a store with a link for a collected file"
grep -qF 'orders.ddv: not a plain file' "$out" || fail "verify does not name the link: $(cat "$out")"
rm -- "$listed"
mkfifo "$listed"  # read, it would wait for a writer
timeout 20 "$cli" --registry "$reg" --drive "C=$case_dir/drive_c" --work-dir "$case_dir/work" \
  verify >"$case_dir/fifo.out" 2>&1
expect_code 1 "$?" "verify of a store with a FIFO for a collected file"
rm -- "$listed"
mv -- "$case_dir/orders.kept" "$listed"
cli_on_sample undo undo --json
expect_code 0 "$code" "undo"
json_ok "$out" "undo --json"
[[ $(reg_state "$reg") == "$before_keys" ]] ||
  fail "undo did not give the registry back as it was: $(diff <(echo "$before_keys") <(reg_state "$reg") | head -5)"
[[ $(sha256sum <"$reg") == "$before_reg" ]] || fail "undo did not give the registry file back byte for byte"
[[ $(tree_state "$case_dir/drive_c") == "$before_drive" ]] || fail "undo did not give the drive back as it was"
# One changed byte in the store: verify says so, Migrate leaves that edition out.
printf 'X' | dd of="$case_dir/work/kdr4env/client/DDBVID/orders.ddv" bs=1 seek=0 conv=notrunc 2>/dev/null
cli_on_sample verify-bad verify --json
expect_code 1 "$code" "verify of a damaged store"
json_ok "$out" "verify --json"
grep -q '"problem":"content changed since collected"' "$out" || fail "verify --json: $(cat "$out")"
# --quiet leaves out what says all is well, never a problem.
cli_on_sample verify-bad-quiet verify --quiet
expect_code 1 "$code" "verify --quiet of a damaged store"
expect_line "$out" "Client: changed (0 missing, 1 changed, 0 added) (4 file(s) checked)" "verify --quiet of a changed store"
grep -qF 'orders.ddv: content changed since collected' "$out" || fail "verify --quiet: $(cat "$out")"
expect_no_text "$out" "Personal: whole" "verify --quiet of a damaged store"
# In Japanese by the locale or --lang, in English by --lang; --json the same in both.
LC_ALL=ja_JP.UTF-8 cli_on_sample verify-bad-ja verify
expect_line "$out" "Client: 変更あり（無くなった 0、変わった 1、追加された 0）（4 個のファイルを確認しました）" "verify in Japanese"
grep -qF 'orders.ddv: 収集した後で内容が変わっています' "$out" || fail "verify in Japanese: $(cat "$out")"
LC_ALL=ja_JP.UTF-8 cli_on_sample verify-bad-en --lang en verify --quiet
expect_line "$out" "Client: changed (0 missing, 1 changed, 0 added) (4 file(s) checked)" "verify --lang en"
cli_on_sample verify-bad-ja-json --lang ja verify --json
grep -q '"problem":"content changed since collected"' "$out" || fail "verify --json --lang ja: $(cat "$out")"
# Nothing left to undo is nothing to do, as for a list without backups.
cli_on_sample undo-again undo
expect_code 2 "$code" "undo with every backup undone"
LC_ALL=ja_JP.UTF-8 cli_on_sample undo-again-ja undo
grep -q 'のバックアップはすべて戻し済みです' "$err" || fail "undo with every backup undone, in Japanese: $(cat "$err")"
cli_on_sample undo-again-json undo --json
expect_code 2 "$code" "undo --json with every backup undone"
json_ok "$out" "undo --json with every backup undone"
cli_on_sample migrate-bad migrate
expect_code 1 "$code" "migrate of a damaged store"
grep -qF '内容が変わったファイルが1個有るため、移行せず、その詳細を' "$out" || fail "no changed-store message: $(cat "$out")"
# With --json the result is the only thing on standard output, also when an edition failed.
cli_on_sample migrate-bad-json migrate --json
expect_code 1 "$code" "migrate --json of a damaged store"
json_ok "$out" "migrate --json of a damaged store"
python3 -c 'import json,sys; e = {x["edition"]: x for x in json.load(open(sys.argv[1]))["editions"]}["Client"]; assert e["outcome"] == "not_migrated" and e["reason"] == "store_refused" and e["store"] == "changed", e' \
  "$out" || fail "migrate --json of a damaged store: $(cat "$out")"
cli_on_sample accept-json verify --accept client --json
expect_code 0 "$code" "verify --accept --json"
json_ok "$out" "verify --accept --json"
usage_error "--dry-run with verify" --registry "$reg" --work-dir "$case_dir/work" verify --dry-run
usage_error "--force without undo" --registry "$reg" --work-dir "$case_dir/work" migrate --force
# An empty name (a script's unset variable) is not the newest backup.
usage_error "--backup with an empty name" --registry "$reg" --work-dir "$case_dir/work" undo --backup ""

run help-ja --lang ja --help
help_ja=$out
grep -qx '終了コード:' "$help_ja" || fail "--lang ja --help is not in Japanese: $(head -3 "$help_ja")"
run help --help
expect_code 0 "$code" "--help"
for help in "$out" "$help_ja"; do
  grep -q -- '--registry' "$help" || fail "--help does not list --registry"
done
# Every reason code an edition can fail with is in the guide's table of reasons.
for reason in $(grep -o 'return {"[a-z_]*",' "$here/../../engine/edition_failure.cpp" | cut -d'"' -f2 | grep -vx unknown); do
  grep -q "^| \`$reason\` |" "$docs" || fail "docs/cli.md does not list the reason $reason"
done
# Every exit code the tool has is explained in --help and in the guide's table.
for n in $(sed -n 's/.*kExit[A-Za-z]* = \([0-9]*\);.*/\1/p' "$here/../../cli/cli_app.h") 130; do
  for help in "$out" "$help_ja"; do
    grep -qE "^  $n +[^ ]" "$help" || fail "$help does not explain exit code $n"
  done
  grep -q "^| $n |" "$docs" || fail "docs/cli.md does not explain exit code $n"
done
run version --version
expect_code 0 "$code" "--version"
grep -q '1\.0\.0\.1' "$out" || fail "--version printed: $(cat "$out")"

# A FIFO where the work folder's log goes is not written to (as any log that cannot be
# written); the run goes on instead of waiting for a reader forever.
fresh fifo-log
mkdir -p "$case_dir/work/kdr4env"
mkfifo "$case_dir/work/kdr4env/kdr4tose.log"
timeout 20 "$cli" --registry "$reg" --drive "C=$case_dir/drive_c" --work-dir "$case_dir/work" \
  collect >"$case_dir/fifo.out" 2>&1
[[ $? != 124 ]] || fail "collect with a FIFO as the log waited for a reader"
grep -qF "$msg_p_collected" "$case_dir/fifo.out" || fail "collect with a FIFO as the log: $(cat "$case_dir/fifo.out")"

if ((failures > 0)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "all kdr4tose-cli checks passed"
