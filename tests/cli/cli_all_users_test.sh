#!/usr/bin/env bash
# --all-users over a list of users the test gives (the tests' build of the program): each user's
# registry file, store and exit code, the users chosen, and the one line of a user that cannot
# be reached.
#
#   cli_all_users_test.sh path/to/kdr4tose-cli-users path/to/examples
set -u
cli=$1
examples=$2
here=$(cd -- "$(dirname -- "$0")" && pwd)
docs=$here/../../docs/cli.md
source "$(dirname -- "$0")/../support/test_root.sh" all-users

cp -r -- "$examples/drive_c" "$root/"
mkdir -p "$root/work"
# A user with Kodrel4, one without it (the administrator's own account), one whose registry
# cannot be loaded, one held by another program, one whose release fails, and one to map onto.
cp "$examples/sample.reg" "$root/alice.reg"
cp "$examples/sample.reg" "$root/carol.reg"
cp "$examples/sample.reg" "$root/erin.reg"
printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Other]\r\n"x"="y"\r\n' \
  >"$root/admin.reg"
{
  printf 'alice\tS-1-5-21-9-1001\t%s/p/alice\t%s/alice.reg\n' "$root" "$root"
  printf 'admin\tS-1-5-21-9-500\t%s/p/admin\t%s/admin.reg\n' "$root" "$root"
  printf 'bob\tS-1-5-21-9-1002\t%s/p/bob\t%s/bob.reg\tload: error 5 (Access is denied.)\n' "$root" "$root"
  printf 'dave\tS-1-5-21-9-1004\t%s/p/dave\t%s/dave.reg\tbusy: error 32 (in use)\n' "$root" "$root"
  printf 'carol\tS-1-5-21-9-1003\t%s/p/carol\t%s/carol.reg\trelease: error 1018 (gone)\n' "$root" "$root"
  printf 'erin\tS-1-5-21-9-1005\t%s/p/erin\t%s/erin.reg\n' "$root" "$root"
  # A name whose second byte in code page 932 is a backslash, and one outside code page 932.
  printf '表示\tS-1-5-21-9-1006\t%s/p/x\t%s/alice.reg\n' "$root" "$root"
  printf '한국\tS-1-5-21-9-1007\t%s/p/y\t%s/alice.reg\n' "$root" "$root"
} >"$root/users.txt"
export KDR_TEST_USERS=$root/users.txt

# run NAME args...: stdout in $out, stderr in $err, exit code in $code
run() {
  local name=$1
  shift
  out=$root/$name.out
  err=$root/$name.err
  "$cli" --all-users --drive "C=$root/drive_c" --work-dir "$root/work" "$@" >"$out" 2>"$err"
  code=$?
}
# users_json FILE 'user:exit ...': the --json users in order with their exit codes, each a
# result of the run's command when it ran and an error when it could not.
users_json() {
  python3 "$here/json_schema.py" "$docs" "$1" all-users || fail "$1: not of the JSON schema"
  python3 - "$@" <<'PY' || fail "$1: $(cat "$1")"
import json, sys
r = json.load(open(sys.argv[1]))
got = " ".join(f"{u['user']}:{u['exit_code']}" for u in r["users"])
assert got == sys.argv[2], got
for u in r["users"]:
    assert (u["result"] is None) == ("error" in u and u["exit_code"] != 70), u
    if u["result"] is not None:
        assert u["result"]["command"].split()[0] == r["run"], u
assert r["exit_code"] == max((u["exit_code"] for u in r["users"]),
                             key=lambda c: [2, 0, 1, 75, 64, 70].index(c)), r
PY
}

# --- which users, and each one's outcome ---------------------------------------------------
# name | arguments | exit | users:exit in --json order
while IFS='|' read -r name args want users; do
  # shellcheck disable=SC2086  # the arguments are words
  run "$name" $args --json
  [[ $code == "$want" ]] || fail "$name: exit $code, expected $want: $(cat "$err")"
  users_json "$out" "$users"
done <<'TABLE'
collect|--exclude-user dave --exclude-user carol --exclude-user erin --exclude-user 表示 --exclude-user 한국 collect|1|alice:0 admin:2 bob:1
status-one|--user ALICE status|0|alice:0
busy|--user dave --user alice collect|75|alice:0 dave:75
release|--user carol collect|70|carol:70
nothing|--user admin --user alice collect|0|alice:0 admin:2
names|--user 表示 --user 한국 collect|1|表示:0 한국:1
TABLE
[[ -e $root/work/表示/kdr4env/client/DDBVID/orders.ddv ]] || fail "表示 was not collected"
[[ ! -e $root/work/한국 ]] || fail "a folder was made for a name outside code page 932"

# The unreachable user is one line with the system's text; nothing of theirs is made.
grep -qxF "kdr4tose-cli: user bob: cannot reach the registry: error 5 (Access is denied.)" \
  "$root/collect.err" || fail "no line for bob: $(cat "$root/collect.err")"
[[ ! -e $root/work/bob ]] || fail "a work folder was made for a user who could not be reached"
[[ ! -e $root/work/dave/kdr4env ]] || fail "a busy user got a store"
grep -qF "the registry could not be released: error 1018 (gone)" "$root/release.err" ||
  fail "a release that failed was not told: $(cat "$root/release.err")"

# The same store as a run for that user alone (the fleet's per-user layout).
mkdir -p "$root/single/alice"
"$cli" --registry "$root/alice.reg" --drive "C=$root/drive_c" --work-dir "$root/single/alice" \
  collect >/dev/null 2>&1 || fail "single collect"
for f in personal/kdr4reg.fil client/kdr4reg.fil client/DDBVID/orders.ddv personal/DDBDAT/branches.csv; do
  cmp -s "$root/work/alice/kdr4env/$f" "$root/single/alice/kdr4env/$f" ||
    fail "all-users and single stores differ in $f"
done

# --- a mapped user: erin takes alice's store; alice's registry stays as it was -------------
cp "$root/alice.reg" "$root/alice.before"
run map --user erin --map-user alice=erin migrate --json
[[ $code == 0 ]] || fail "map: exit $code: $(cat "$err")"
users_json "$out" "erin:0"
python3 -c 'import json,sys; u=json.load(open(sys.argv[1]))["users"][0]; assert u["store_user"]=="alice", u' \
  "$out" || fail "map: no store_user: $(cat "$out")"
cmp -s "$root/alice.reg" "$root/alice.before" || fail "map: alice's registry was written"
cmp -s "$root/erin.reg" "$examples/sample.reg" && fail "map: erin's registry was not written"
[[ -e $root/work/alice/kdr4env/kdr4tose.log && ! -e $root/work/erin ]] ||
  fail "map: the run did not work in alice's store alone"
run undo-map --user erin --map-user alice=erin undo
[[ $code == 0 ]] || fail "undo of the mapped migrate: exit $code: $(cat "$err")"
cmp -s "$root/erin.reg" "$examples/sample.reg" || fail "undo did not give erin's registry back"

# --- refused before anything runs ------------------------------------------------------------
while IFS='|' read -r name args; do
  # shellcheck disable=SC2086
  "$cli" $args >"$root/$name.out" 2>"$root/$name.err"
  got=$?
  [[ $got == 64 ]] || fail "$name: exit $got, expected 64: $(cat "$root/$name.err")"
done <<TABLE
no-such-user|--all-users --work-dir $root/work --user nobody status
map-no-new|--all-users --work-dir $root/work --map-user alice migrate
map-twice|--all-users --work-dir $root/work --map-user alice=erin --map-user carol=ERIN migrate
map-collect|--all-users --work-dir $root/work --map-user alice=erin collect
map-device|--all-users --work-dir $root/work --map-user CON=erin migrate
user-alone|--work-dir $root/work --user alice status
with-registry|--all-users --registry $root/alice.reg --work-dir $root/work status
TABLE
cmp -s "$root/erin.reg" "$examples/sample.reg" || fail "a refused run wrote a registry"

exit $((failures > 0))
