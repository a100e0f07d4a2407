#!/usr/bin/env bash
# The detail lines the console prints (undo items, a seal that fails, a dry run's failures and
# masked credentials, an edition it cannot plan, a damaged manifest, registry file, hive file or
# backup journal, a registry or hive file that cannot be locked, a user that cannot be reached, a
# wrong option): with --lang ja they hold no
# English words; with --lang en they read as before.
#
#   cli_lang_posix_test.sh path/to/kdr4tose-cli path/to/kdr4tose-cli-users path/to/examples
set -u
cli=$1
# shellcheck disable=SC2034  # used by the table's commands, through eval
cli_users=$2
examples=$3
unset LANG LC_MESSAGES LC_ALL
source "$(dirname -- "$0")/../support/test_root.sh" lang

cp -r -- "$examples/drive_c" "$root/"
cp -- "$examples/sample.reg" "$root/reg.reg"
mkdir -p "$root/work"
printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\VTQ\\KodrelSE]\r\n"x"=dword:zz\r\n' >"$root/bad.reg"
# A Japanese Windows says its own error in Japanese.
printf 'bob\tS-1-5-21-9-1002\t%s/p/bob\t%s/bob.reg\tload: error 5 (アクセスが拒否されました。)\n' \
  "$root" "$root" >"$root/users.txt"
export KDR_TEST_USERS=$root/users.txt
cli_on() { "$cli" --registry "$root/reg.reg" --drive "C=$root/drive_c" --work-dir "$root/work" "$@"; }
if ! cli_on --quiet collect >/dev/null 2>&1 || ! cli_on --quiet migrate >/dev/null 2>&1; then
  fail "the collect and migrate before the cases failed"
fi
# shellcheck disable=SC2034  # used by the table's commands, through eval
store=$root/work/kdr4env/client new=$root/drive_c/KodrelSE/Client/prv
# The Migrate's backup, named by its time.
backup=$(basename "$(dirname "$root"/work/kdr4env/backup/*/kdr4tose.undo)")
# A folder too deep to be listed (its path is longer than PATH_MAX): a mode would not stop root.
# shellcheck disable=SC2034  # used by the table's commands, through eval
deep=$store/DDBVID$(printf '/%0200d' {1..22})

# name | what makes the case | exit | a line --lang en prints | the command's arguments
while IFS='|' read -r name setup want english args; do
  eval "$setup"
  for lang in ja en; do
    # shellcheck disable=SC2086  # the arguments are words
    eval "$args" --lang $lang >"$root/$name.$lang" 2>&1
    code=$?
    [[ $code == "$want" ]] || fail "$name --lang $lang: exit $code, expected $want: $(cat "$root/$name.$lang")"
  done
  english=${english//\$root/$root}
  grep -qxF -- "${english//\$backup/$backup}" "$root/$name.en" ||
    fail "$name --lang en: no line '$english': $(cat "$root/$name.en")"
  # Paths and key names are the user's; what is left is the console's own words.
  sed -e "s|$root||g" -e 's|[^ （]*[\\/][^ ）]*||g' "$root/$name.ja" |
    grep -E '[A-Za-z]{2,}[ ,:;]+[a-z]{2,}' && fail "$name --lang ja: English left (above)"
done <<'TABLE'
undo|echo changed >"$new/DDBVID/orders.ddv"|1|refused: file C:\KodrelSE\Client\prv\DDBVID\orders.ddv (changed since the Migrate wrote it)|cli_on undo
accept|rm "$store/kdr4tose.manifest" && mkdir "$store/kdr4tose.manifest"|1|not sealed: the manifest could not be written|cli_on verify --accept client
dry-run|rmdir "$store/kdr4tose.manifest" && cli_on --quiet verify --accept client && mkdir -p "$new/log/kodrel.log"|1|  would fail: C:\KodrelSE\Client\prv\log\kodrel.log is a folder; the file cannot replace it|cli_on migrate --dry-run
manifest|printf 'x\n' >"$store/kdr4tose.manifest"|1|  kdr4tose.manifest: the manifest is damaged: line 1: not a kdr4tose manifest|cli_on verify
plan|rm "$store/kdr4tose.manifest" && mkdir -p "$deep"|1|  cannot be previewed: cannot list $root/work\kdr4env\client\DDBVID\|cli_on migrate --dry-run
registry|:|64|kdr4tose-cli: the registry file $root/bad.reg is malformed: line 4: bad dword value (one to eight hex digits)|"$cli" --registry "$root/bad.reg" --work-dir "$root/work" status
user|:|1|kdr4tose-cli: user bob: cannot reach the registry: error 5 (アクセスが拒否されました。)|"$cli_users" --all-users --drive "C=$root/drive_c" --work-dir "$root/work" collect
option|:|64|kdr4tose-cli: The following argument was not expected: --bogus|"$cli" --bogus status
hive|:|64|kdr4tose-cli: cannot read the hive file $root/bad.reg: it is not a whole registry hive file: hivex_open: Invalid argument (errno 22)|"$cli" --hive "$root/bad.reg" --work-dir "$root/work" status
journal|sed -i '2s/.*/bogus/' "$root"/work/kdr4env/backup/*/kdr4tose.undo|1|the journal is damaged: line 2: no time line|cli_on undo
backups|:|0|$backup    -  the journal is damaged: line 2: no time line|cli_on undo --list
folder|:|64|kdr4tose-cli: cannot use the hive file $root: it is not a regular file|"$cli" --hive "$root" --work-dir "$root/work" status
read-only|chmod a-w "$root/reg.reg"|64|kdr4tose-cli: cannot use the registry file $root/reg.reg: it is read-only; the migrated settings could not be written back|cli_on migrate
TABLE

# A work folder with a Japanese name (a user's desktop): --json gives it as it is, not as U+FFFD.
mkdir -p "$root/j/作業" && cp -r -- "$examples/drive_c" "$examples/sample.reg" "$root/j/"
cli_j() { "$cli" --registry "$root/j/sample.reg" --drive "C=$root/j/drive_c" --work-dir "$root/j/作業" "$@"; }
cli_j --quiet collect >/dev/null 2>&1 && rm -- "$root/j/作業/kdr4env/client/kdr4tose.manifest" &&
  mkdir -p "$root/j/作業/kdr4env/client/DDBVID$(printf '/%0200d' {1..22})" ||
  fail "the collect before the Japanese folder's dry run failed"
json=$(cli_j migrate --dry-run --json 2>/dev/null)
[[ $json == *'"error":"cannot list '"$root"'/j/作業\\kdr4env'* ]] ||
  fail "the dry run's --json does not name the Japanese folder: $json"

exit $((failures > 0))
