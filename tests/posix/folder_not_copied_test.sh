#!/usr/bin/env bash
# What kdr4tose-cli says of a Collect that could not copy a folder: one that cannot be listed
# (mode 000, the tool run as nobody when the test runs as root) or made (a file of its name in
# the store) is named with a trailing backslash and counted as a folder, a file as a file, on
# the console in both languages, in the log, in the manifest and in --json. The folder is the
# sample's "販売" renamed "一覧表", whose code page 932 form ends with the byte of a backslash.
#
#   folder_not_copied_test.sh path/to/kdr4tose-cli path/to/examples
set -u
cli=$1
examples=$2
unset LANG LC_MESSAGES
export LC_ALL=C.UTF-8
source "$(dirname -- "$0")/../support/test_root.sh" folders
chmod 755 "$root"  # for nobody
folder='C:\Kodrel4\Client\prv\DDBVID\一覧表\'
file='C:\Kodrel4\Client\prv\DDBVID\orders.ddv'
as_user=()
[[ $EUID == 0 ]] && as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)

fresh() {  # fresh NAME: the sample in $case_dir, owned by whoever runs the tool
  case_dir=$root/$1
  mkdir -p "$case_dir/work"
  cp -r -- "$examples/sample.reg" "$examples/drive_c" "$case_dir/"
  mv "$case_dir/drive_c/Kodrel4/Client/prv/DDBVID/"{販売,一覧表}
  [[ $EUID == 0 ]] && chown -R nobody:nogroup "$case_dir"
}
collect() {  # collect NAME args...: stdout in $case_dir/NAME.out, stderr in NAME.err
  local name=$1
  shift
  "${as_user[@]}" "$cli" --registry "$case_dir/sample.reg" --drive "C=$case_dir/drive_c" \
    --work-dir "$case_dir/work" "$@" collect >"$case_dir/$name.out" 2>"$case_dir/$name.err"
  code=$?
}
expect() {  # expect FILE PATTERN what: an extended regular expression on a line of FILE
  grep -qE -- "$2" "$1" || { fail "$3: no line like '$2' in $1:"; sed 's/^/    /' "$1" >&2; }
}
expect_not() {
  if grep -qE -- "$2" "$1"; then fail "$3: a line like '$2' in $1"; fi
}
quoted() { printf '%s' "$1" | sed 's/[][\.*^$()+?{}|]/\\&/g'; }
# expect_json FILE FOLDERS ITEMS: the Client edition's counts
expect_json() {
  python3 - "$@" <<'PY' || fail "--json: $(cat "$1")"
import json, sys
client = [e for e in json.load(open(sys.argv[1]))["editions"] if e["edition"] == "Client"][0]
assert client["folders_not_copied"] == int(sys.argv[2]), client
assert client["not_copied"] == int(sys.argv[3]), client
PY
}

# --- a folder that cannot be listed ------------------------------------------------------
fresh unlisted
chmod 000 "$case_dir/drive_c/Kodrel4/Client/prv/DDBVID/一覧表"
collect text --log "$case_dir/collect.log"
[[ $code == 1 ]] || fail "unlisted: exit code $code"
err=$case_dir/text.err
expect "$err" "^kdr4tose-cli: not copied: $(quoted "$folder"): " "unlisted"
expect "$err" "^kdr4tose-cli: 1 folder\(s\) not copied; every one is in " "unlisted"
expect_not "$err" "file\(s\) not copied" "unlisted"
expect "$case_dir/collect.log" "^FAIL	$(quoted "$folder")	" "unlisted log"
collect json --json
expect_json "$case_dir/json.out" 1 1

# --- a file where a folder goes, a folder where a file goes ------------------------------
fresh blocked
store=$case_dir/work/kdr4env/client/DDBVID
mkdir -p "$store/orders.ddv"
echo file >"$store/一覧表"
[[ $EUID == 0 ]] && chown -R nobody:nogroup "$case_dir/work"
LC_ALL=ja_JP.UTF-8 collect ja
[[ $code == 1 ]] || fail "blocked: exit code $code"
err=$case_dir/ja.err
expect "$err" "^kdr4tose-cli: 1 個のフォルダをコピーできませんでした。すべてログ .* に書いてあります。$" "blocked"
expect "$err" "^kdr4tose-cli: 1 個のファイルをコピーできませんでした。すべてログ .* に書いてあります。$" "blocked"
expect "$err" "^kdr4tose-cli: コピーできませんでした: $(quoted "$file")（" "blocked"
expect "$err" "^kdr4tose-cli: コピーできませんでした: $(quoted "$folder")（" "blocked"
expect "$case_dir/work/kdr4env/client/kdr4tose.manifest" "^missed	$(quoted "$folder")	" "blocked manifest"
collect json --json
expect_json "$case_dir/json.out" 1 2

exit $((failures > 0))
