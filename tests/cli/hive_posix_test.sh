#!/usr/bin/env bash
# kdr4tose-cli on Windows hive files (--hive, --system-hive), against the same registry as a
# registry file: the hives are made here from .reg text (an empty hive of our own generator,
# filled by hivexregedit), never taken from elsewhere.
#
#   hive_posix_test.sh path/to/kdr4tose-cli path/to/examples path/to/kdr4tose-cli-changed
set -u
cli=$1
examples=$2
cli_changed=$3
here=$(cd -- "$(dirname -- "$0")" && pwd)
source "$(dirname -- "$0")/../support/test_root.sh" hive-test
expect_code() { [[ $1 == "$2" ]] || fail "$3: exit code $2, expected $1"; }
expect_err() { grep -qF -- "$2" "$1" || fail "$3: no '$2' in: $(cat "$1")"; }
model() { python3 "$here/reg_model.py" "$@"; }
# hivexregedit reads and writes its text as UTF-8 only so.
export PERL_UNICODE=SDA
# merge REG ROOT HIVE: the keys of REG below ROOT into HIVE.
merge() {
  model merge-text "$1" "$2" "$root/merge.txt" &&
    hivexregedit --merge --prefix "$2" "$3" "$root/merge.txt" || fail "hivexregedit --merge $1"
}
user_export() { hivexregedit --export --prefix HKEY_CURRENT_USER "$1" '\'; }

# --- an empty hive, once; libhivex opens it --------------------------------------------------
empty=$root/empty.dat
python3 "$here/make_empty_hive.py" "$empty" || fail "make_empty_hive.py"
hivexregedit --export "$empty" '\' >"$root/empty.reg" || fail "libhivex does not open the empty hive"

# --- the content: the sample and values of every type with Japanese text --------------------
reg=$root/content.reg
{
  cat "$examples/sample.reg"
  # ソ and 表 end in 0x5C; a REG_EXPAND_SZ, a REG_MULTI_SZ, binary, a DWORD, an empty name.
  {
    printf '\r\n[HKEY_CURRENT_USER\\Software\\VTQ\\Kodrel\\Client\\AppInfo\\ソ表示]\r\n'
    printf '"名前ソ"="表示テキスト\\\\予定"\r\n'
    printf '"Path"=hex(2):25,54,45,4d,50,25,5c,95,5c,00\r\n'
    printf '"Lines"=hex(7):95,5c,00,83,5c,00,00\r\n'
    printf '"Raw"=hex:00,ff,5c,81\r\n"Count"=dword:0000002a\r\n@="既定"\r\n'
  } | iconv -f utf-8 -t cp932
} >"$reg"
grep -q 'ソ' < <(iconv -f cp932 -t utf-8 "$reg") || fail "the content file was not made"
user=$root/NTUSER.DAT
software=$root/SOFTWARE
cp -- "$empty" "$user" && merge "$reg" HKEY_CURRENT_USER "$user"
cp -- "$empty" "$software" && merge "$reg" 'HKEY_LOCAL_MACHINE\Software' "$software"
# Another program's key, with a name no code page 932 can hold: left alone.
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Other\\한국]\r\n"v"="한국어"\r\n' |
  iconv -f utf-8 -t utf-16le | { printf '\xff\xfe'; cat; } >"$root/other.reg"
merge "$root/other.reg" HKEY_CURRENT_USER "$user"
model dump <(user_export "$user") 'HKEY_CURRENT_USER\Software\Other' >"$root/other.before"
grep -q '한국' "$root/other.before" || fail "the other program's key is not in the hive"

run() {  # run NAME ARGS...: output in $root/NAME.out, .err; exit code in $code
  local name=$1
  shift
  "$cli" "$@" >"$root/$name.out" 2>"$root/$name.err"
  code=$?
}

# --- Collect: the same store from the hive as from the registry file --------------------------
cp -r -- "$examples/drive_c" "$root/c_reg"
cp -r -- "$examples/drive_c" "$root/c_hive"
mkdir "$root/w_reg" "$root/w_hive"
run collect_reg --registry "$reg" --drive "C=$root/c_reg" --work-dir "$root/w_reg" collect
expect_code 0 "$code" "collect from the registry file"
cp -- "$user" "$root/user.before"
run collect_hive --hive "$user" --system-hive "$software" --drive "C=$root/c_hive" \
  --work-dir "$root/w_hive" collect
expect_code 0 "$code" "collect from the hives"
cmp -s "$user" "$root/user.before" || fail "collect changed the hive"
cmp -s "$root/collect_reg.out" "$root/collect_hive.out" || fail "collect: the messages differ"
# The log names its source, the copy records hold the copies' own times and a manifest the time
# it was sealed; all else is equal.
diff -r -x kdr4tose.log -x '*.copies' -x kdr4tose.manifest "$root/w_reg" "$root/w_hive" \
  >"$root/collect.diff" || fail "collect: the stores differ: $(head -n 20 "$root/collect.diff")"
for e in personal client; do
  diff <(grep -v $'^time\t' "$root/w_reg/kdr4env/$e/kdr4tose.manifest") \
    <(grep -v $'^time\t' "$root/w_hive/kdr4env/$e/kdr4tose.manifest") >"$root/collect.diff" ||
    fail "collect: the $e manifests differ: $(cat "$root/collect.diff")"
done
grep -q '表示テキスト' < <(iconv -f cp932 -t utf-8 "$root/w_hive/kdr4env/client/kdr4reg.fil") ||
  fail "collect: the Japanese value is not in the settings file"
grep -qF 'settings from the hive file' "$root/w_hive/kdr4env/kdr4tose.log" ||
  fail "collect: the work log does not name the hive"

# Without --system-hive there are no installation markers: nothing counts as installed.
run nomarkers --hive "$user" --work-dir "$root/w_hive" status --json
grep -q '"old_installed":0,"new_installed":0,' "$root/nomarkers.out" ||
  fail "status without --system-hive: $(cat "$root/nomarkers.out")"
run markers --hive "$user" --system-hive "$software" --work-dir "$root/w_hive" status --json
grep -q '"old_installed":110,"new_installed":10,' "$root/markers.out" ||
  fail "status with --system-hive: $(cat "$root/markers.out")"

# --- Migrate: the same registry in the hive as in the registry file; undo gives it back ------
run migrate_reg --registry "$reg" --drive "C=$root/c_reg" --work-dir "$root/w_reg" migrate
expect_code 0 "$code" "migrate into the registry file"
# Another owner (as root, which keeps it) and mode, through a symbolic link: all kept.
chmod 640 "$user"
owner=$(id -un)
if [[ $(id -u) == 0 ]]; then chown nobody "$user" && owner=nobody; fi
ln -s "$user" "$root/NTUSER.link"
run migrate_hive --hive "$root/NTUSER.link" --system-hive "$software" --drive "C=$root/c_hive" \
  --work-dir "$root/w_hive" migrate
expect_code 0 "$code" "migrate into the hive"
cmp -s "$root/migrate_reg.out" "$root/migrate_hive.out" || fail "migrate: the messages differ"
model dump "$reg" HKEY_CURRENT_USER >"$root/reg.after"
model dump <(user_export "$user") HKEY_CURRENT_USER | grep -v 'Software\\Other' >"$root/hive.after"
diff "$root/reg.after" "$root/hive.after" >"$root/migrate.diff" ||
  fail "migrate: the registries differ: $(head -n 20 "$root/migrate.diff")"
grep -q 'KodrelSE\\Client\\AppInfo' "$root/hive.after" || fail "migrate wrote nothing into the hive"
model dump <(user_export "$user") 'HKEY_CURRENT_USER\Software\Other' >"$root/other.after"
cmp -s "$root/other.before" "$root/other.after" || fail "migrate changed another program's key"
[[ -L $root/NTUSER.link && $(stat -c '%U %a' "$user") == "$owner 640" ]] ||
  fail "migrate did not keep the link, the hive's owner and mode: $(stat -c '%U %a' "$user")"
ls -a "$root" | grep -q '^\.kdr4tose-' && fail "migrate left a temporary file"
run undo_hive --hive "$user" --work-dir "$root/w_hive" undo
expect_code 0 "$code" "undo in the hive"
diff <(user_export "$root/user.before") <(user_export "$user") >/dev/null ||
  fail "undo did not give the hive back as it was"
# Two runs at once on one hive (and work folder) take turns: both migrate, neither is lost.
"$cli" --hive "$user" --system-hive "$software" --drive "C=$root/c_hive" --work-dir "$root/w_hive" \
  --quiet migrate >/dev/null 2>"$root/twice1.err" &
first=$!
"$cli" --hive "$user" --system-hive "$software" --drive "C=$root/c_hive" --work-dir "$root/w_hive" \
  --quiet migrate >/dev/null 2>"$root/twice2.err"
code=$?
wait "$first"
expect_code "0 0" "$? $code" "two migrates at once"
run twice_undo --hive "$user" --work-dir "$root/w_hive" undo
run twice_undo2 --hive "$user" --work-dir "$root/w_hive" undo
expect_code 0 "$code" "the second undo of two migrates at once"
diff <(user_export "$root/user.before") <(user_export "$user") >/dev/null ||
  fail "two migrates at once and their undos did not give the hive back"

# --- files that cannot be used: one line with the cause, exit 64, nothing changed ------------
# A registry file, long enough to be taken for a hive but for its first bytes.
{ cat "$reg"; head -c 20000 /dev/zero; } >"$root/not-a-hive.dat"
printf 'x' >"$root/tiny.dat"
truncated=$root/truncated.dat
head -c 6000 "$root/user.before" >"$truncated"
cut=$root/cut.dat
head -c 12288 "$root/user.before" >"$cut"
cp -- "$root/user.before" "$root/readonly.dat" && chmod 444 "$root/readonly.dat"
mkdir -p "$root/w_bad"
# case: name, what is expected on standard error, arguments
while IFS='|' read -r name want args; do
  [[ -z $name ]] && continue
  # shellcheck disable=SC2086
  eval "set -- $args"
  for f in "$root/not-a-hive.dat" "$truncated" "$root/readonly.dat"; do cp -- "$f" "$f.before"; done
  run "$name" --work-dir "$root/w_bad" --drive "C=$root/c_hive" "$@"
  expect_code 64 "$code" "$name"
  expect_err "$root/$name.err" "$want" "$name"
  [[ $(grep -c 'kdr4tose-cli:' "$root/$name.err") == 1 ]] || fail "$name: not one line"
  for f in "$root/not-a-hive.dat" "$truncated" "$root/readonly.dat"; do
    cmp -s "$f" "$f.before" || fail "$name: $f was changed"
  done
done <<EOF
not_a_hive|it is not a registry hive file: hivex_open: Operation not supported (errno 95)|--hive "$root/not-a-hive.dat" collect
truncated|cannot read the hive file $truncated: it is cut short: its header says 20480 bytes, the file has 6000|--hive "$truncated" status
tiny|cannot read the hive file $root/tiny.dat: it is not a whole registry hive file: hivex_open: Invalid argument (errno 22)|--hive "$root/tiny.dat" status
cut|cannot read the hive file $cut: it is cut short: its header says|--hive "$cut" collect
readonly|it is read-only|--hive "$root/readonly.dat" --system-hive "$software" migrate
folder|it is not a regular file|--hive "$root" status
missing_system|cannot use the hive file $root/none: |--hive "$user" --system-hive "$root/none" status
both|--hive and --registry|--hive "$user" --registry "$reg" status
system_alone|--system-hive goes with --hive|--system-hive "$software" status
same_file|--system-hive and --hive name the same file|--hive "$user" --system-hive "$user" migrate
empty_name|--hive: the name is empty|--hive "" status
EOF
ls "$root/w_bad" | grep -q . && fail "a refused run wrote into the work folder"

# A text below the tool's keys with no code page 932 form is refused, with the key named.
korean=$root/korean.dat
cp -- "$empty" "$korean"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\VTQ\\Kodrel\\Client\\X]\r\n"v"="한국어"\r\n' |
  iconv -f utf-8 -t utf-16le | { printf '\xff\xfe'; cat; } >"$root/korean.reg"
merge "$root/korean.reg" HKEY_CURRENT_USER "$korean"
run korean --hive "$korean" --work-dir "$root/w_bad" collect
expect_code 64 "$code" "a text with no code page 932 form"
expect_err "$root/korean.err" 'Software\VTQ\Kodrel\Client\X value "v" holds text with no exact code page 932 form' \
  "a text with no code page 932 form"

# Damaged hives (bytes of the keys' part changed at random, the same every run): each run ends
# with an answer, never a crash or a hang; a damaged one is refused with its cause.
python3 - "$root/user.before" "$root/mangled" <<'PY'
import random, sys
data = open(sys.argv[1], "rb").read()
rng = random.Random(29)
for n in range(40):
    b = bytearray(data)
    for _ in range(rng.choice((1, 4, 32))):
        b[rng.randrange(4096, len(b))] = rng.randrange(256)
    open("%s-%02d.dat" % (sys.argv[2], n), "wb").write(bytes(b))
PY
for f in "$root"/mangled-*.dat; do
  rm -rf "$root/w_mangled" && mkdir "$root/w_mangled"
  timeout 20 "$cli" --hive "$f" --system-hive "$software" --drive "C=$root/c_hive" \
    --work-dir "$root/w_mangled" collect >"$root/mangled.out" 2>"$root/mangled.err"
  code=$?
  case $code in
    0 | 1) ;;
    64) grep -qE '^kdr4tose-cli: cannot read the hive file .*: (the hive is damaged|it is cut short|the key )' \
      "$root/mangled.err" || fail "$(basename "$f"): refused without its cause: $(head -n 1 "$root/mangled.err")" ;;
    *) fail "$(basename "$f"): exit code $code: $(head -n 2 "$root/mangled.err")" ;;
  esac
done

# --- faults at the write-back: told (exit 70), the file left as it was ------------------------
# fault NAME ENV...: a fresh collected store and hive, then a migrate under ENV.
fault() {
  local name=$1
  shift
  local dir=$root/fault_$name
  mkdir -p "$dir/w"
  cp -r -- "$examples/drive_c" "$dir/c"
  cp -- "$root/user.before" "$dir/NTUSER.DAT"
  "$cli" --hive "$dir/NTUSER.DAT" --system-hive "$software" --drive "C=$dir/c" --work-dir "$dir/w" \
    collect >/dev/null 2>&1 || fail "$name: collect"
  "$@" "$dir"
}
# A hive too big for the run to write (ulimit -f): the hive's copy in memory cannot be made
# (a limit below its size), or its commit (a limit of its size: the commit adds to it); nothing
# is replaced. The hive holds another program's large value, so that it is larger than any file
# the run writes into the work folder.
write_fails() {
  local call=$1 below=$2 dir=$3
  printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Other]\r\n"Big"=hex:%s00\r\n' \
    "$(head -c 600000 /dev/zero | tr '\0' 'x' | sed 's/x/01,/g')" >"$dir/big.reg"
  hivexregedit --merge --prefix HKEY_CURRENT_USER "$dir/NTUSER.DAT" "$dir/big.reg" || fail "big value"
  cp -- "$dir/NTUSER.DAT" "$dir/before"
  local limit=$((($(stat -c %s "$dir/NTUSER.DAT") + 1023) / 1024 - below))
  (trap '' XFSZ && ulimit -f "$limit" && exec "$cli" --hive "$dir/NTUSER.DAT" --system-hive "$software" \
    --drive "C=$dir/c" --work-dir "$dir/w" migrate >"$dir/out" 2>"$dir/err")
  expect_code 70 "$?" "$call fails"
  grep -qxF "kdr4tose-cli: cannot write the hive file $dir/NTUSER.DAT: $call: File too large (errno 27); the migrated settings were not saved" "$dir/err" ||
    fail "$call fails: $(cat "$dir/err")"
  cmp -s "$dir/NTUSER.DAT" "$dir/before" || fail "$call fails: the hive was changed"
  ls -a "$dir" | grep -q '^\.kdr4tose-' && fail "$call fails: a temporary file was left"
  grep -q $'^#\thive file not written back: ' "$dir/w/kdr4env/kdr4tose.log" ||
    fail "$call fails: the work log does not say so"
}
fault copy write_fails write 100
fault commit write_fails hivex_commit 0
# Another program changes the hive during the run: refused, the hive left as that made it.
changed_meanwhile() {
  local how=$1 dir=$2
  (export KDR_TEST_CHANGE_REGISTRY_FILE=$how && exec "$cli_changed" --hive "$dir/NTUSER.DAT" \
    --system-hive "$software" --drive "C=$dir/c" --work-dir "$dir/w" migrate >"$dir/out" 2>"$dir/err")
  expect_code 70 "$?" "a hive changed meanwhile ($how)"
  expect_err "$dir/err" "it was changed by something else during the run" "changed meanwhile ($how)"
  model dump <(user_export "$dir/NTUSER.DAT" 2>/dev/null) 'HKEY_CURRENT_USER\Software\VTQ\KodrelSE' |
    grep -q AppInfo && fail "changed meanwhile ($how): the migrated settings were written"
}
fault in_place changed_meanwhile in-place
fault appended changed_meanwhile appended

if ((failures)); then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "hive tests passed"
