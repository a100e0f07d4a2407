#!/usr/bin/env bash
# kdr4tose-cli on the bundled sample:
#  - CYCLES Collect + Migrate cycles in a row give the same settings files, registry file, work
#    tree and copied folders every time (nothing grows); built with the sanitizers, every run
#    is also checked for leaks;
#  - two processes started at once on the same work folder (the same registry, or two different
#    ones) take turns: each settings file is one run's version or the other's and the store
#    verifies; a run that cannot have the work folder within the wait gives up with exit 75;
#  - the work tree is created owner-only, whatever the umask;
#  - a link inside a data folder that points out of it is not followed by the copy;
#  - a file a Migrate replaced gets its mode, time and (as root) owner back from undo.
#
#   repeat_concurrent_permission_test.sh path/to/kdr4tose-cli path/to/examples [CYCLES]
set -u
cli=$1
examples=$2
cycles=${3:-${KDR_REPEAT_CYCLES:-100}}
source "$(dirname -- "$0")/../support/test_root.sh" repeat
fresh() {  # fresh DIR: the sample's registry file and drive C, an empty work folder
  mkdir -p "$1/work"
  cp -r -- "$examples/sample.reg" "$examples/drive_c" "$1/"
}
cli_run() {  # cli_run DIR REGFILE COMMAND
  "$cli" --quiet --registry "$2" --drive "C=$1/drive_c" --work-dir "$1/work" "$3" > /dev/null 2>> "$1/stderr"
}
# Every file below DIR with its size and checksum, and every folder, one sorted line each.
state() {
  (cd "$1" && find . -type d -printf 'D %p\n' -o -type f -printf 'F %p %s\n' | sort &&
    find . -type f -print0 | sort -z | xargs -0 -r md5sum)
}

# --- repeated cycles ---------------------------------------------------------------------
umask 022
dir=$root/repeat
fresh "$dir"
first=
for ((i = 1; i <= cycles; i++)); do
  cli_run "$dir" "$dir/sample.reg" collect || fail "cycle $i: collect exit $?"
  cli_run "$dir" "$dir/sample.reg" migrate || fail "cycle $i: migrate exit $?"
  # The work folder's log and backups grow with every run and a manifest holds its time;
  # everything else stays the same.
  now=$(state "$dir" | grep -v -e ' ./stderr' -e 'kdr4env/kdr4tose.log' -e 'kdr4env/backup/' \
    -e '  ./.*/kdr4tose.manifest$')
  if [[ -z $first ]]; then
    first=$now
  elif [[ $now != "$first" ]]; then
    fail "cycle $i differs from cycle 1:"
    diff <(echo "$first") <(echo "$now") | head -n 10 >&2
    break
  fi
done
[[ -s $dir/stderr ]] && { fail "runs wrote to standard error:"; head -n 20 "$dir/stderr" >&2; }
echo "$cycles cycles: $(echo "$first" | grep -c '^F') files, registry file $(stat -c %s "$dir/sample.reg") bytes, unchanged"

# --- permissions -------------------------------------------------------------------------
wrong=$(find "$dir/work/kdr4env" \( -type d ! -perm 700 \) -o \( -type f -perm /077 \))
[[ -z $wrong ]] || fail "not owner-only under umask 022: $wrong"
[[ -n $(find "$dir/work/kdr4env" -name kdr4reg.fil) ]] || fail "no settings file to check"
[[ $(stat -c %a "$dir/drive_c/KodrelSE/Client/prv/DDBVID") == 700 ]] ||
  fail "new data folder mode $(stat -c %a "$dir/drive_c/KodrelSE/Client/prv/DDBVID")"

# --- a link that points out of the source tree ---------------------------------------------
dir=$root/link
fresh "$dir"
mkdir -p "$dir/secret"
echo "SECRET-CONTENT" > "$dir/secret/key.txt"
ln -s "$dir/secret" "$dir/drive_c/Kodrel4/Client/prv/DDBVID/outdir"
ln -s "$dir/secret/key.txt" "$dir/drive_c/Kodrel4/Client/prv/DDBVID/outfile"
cli_run "$dir" "$dir/sample.reg" collect
[[ -f $dir/work/kdr4env/client/DDBVID/orders.ddv ]] || fail "link case: the folder was not copied"
if grep -rlq SECRET-CONTENT "$dir/work" 2> /dev/null; then
  fail "link case: a link out of the source tree was followed: $(grep -rl SECRET-CONTENT "$dir/work")"
fi

# --- two runs at once ----------------------------------------------------------------------
dir=$root/concurrent
fresh "$dir"
sed 's/"4.20"/"4.21"/; s/"Width"=dword:00000320/"Width"=dword:00000321/' "$dir/sample.reg" > "$dir/other.reg"
cmp -s "$dir/sample.reg" "$dir/other.reg" && fail "other.reg is no different"
for reg in sample other; do
  rm -rf "$dir/work" && mkdir "$dir/work"
  cli_run "$dir" "$dir/$reg.reg" collect
  for e in personal client; do cp "$dir/work/kdr4env/$e/kdr4reg.fil" "$dir/$reg.$e.fil"; done
done
cmp -s "$dir/sample.personal.fil" "$dir/other.personal.fil" && fail "the two registries give the same file"
rounds=20
for ((i = 1; i <= rounds; i++)); do
  cli_run "$dir" "$dir/sample.reg" collect &
  a=$!
  cli_run "$dir" "$dir/other.reg" collect &
  b=$!
  wait "$a" || fail "concurrent round $i: first collect exit $?"
  wait "$b" || fail "concurrent round $i: second collect exit $?"
  for e in personal client; do
    f=$dir/work/kdr4env/$e/kdr4reg.fil
    cmp -s "$f" "$dir/sample.$e.fil" || cmp -s "$f" "$dir/other.$e.fil" ||
      fail "concurrent round $i: $e settings file is neither run's version"
  done
  cli_run "$dir" "$dir/sample.reg" verify || fail "concurrent round $i: the store does not verify"
done
# A run that cannot have the work folder within the wait gives up (exit 75) with nothing done.
before=$(state "$dir/work")
flock "$dir/work/kdr4env/kdr4tose.lock" sleep 12 &
holder=$!
sleep 0.5
cli_run "$dir" "$dir/sample.reg" collect
code=$?
[[ $code == 75 ]] || fail "a collect into a work folder in use: exit $code, not 75"
[[ $(state "$dir/work") == "$before" ]] || fail "a collect that gave up changed the work folder"
wait "$holder"
cp "$dir/sample.reg" "$dir/before.reg"
for ((i = 1; i <= rounds; i++)); do
  cp "$dir/before.reg" "$dir/sample.reg"
  cli_run "$dir" "$dir/sample.reg" migrate &
  a=$!
  cli_run "$dir" "$dir/sample.reg" migrate &
  b=$!
  wait "$a" || fail "concurrent migrate $i: first exit $?"
  wait "$b" || fail "concurrent migrate $i: second exit $?"
  [[ $i == 1 ]] && cp "$dir/sample.reg" "$dir/after.reg"
  cmp -s "$dir/sample.reg" "$dir/after.reg" || fail "concurrent migrate $i: registry file differs"
done
cmp -s "$dir/before.reg" "$dir/after.reg" && fail "migrate wrote nothing"
echo "$rounds concurrent collect pairs and $rounds concurrent migrate pairs checked"

# --- a write-protected work folder ------------------------------------------------------
# Migrate only reads the store: its backup and log go to the user's own folder, and undo finds
# them there. Run as an ordinary user, for whom a folder without write permission is one.
as_user() {
  if ((EUID == 0)); then
    setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME="$ro/home" "$@"
  else
    env HOME="$ro/home" "$@"
  fi
}
ro=$root/readonly
fresh "$ro"
mkdir -p "$ro/home"
if ((EUID == 0)); then
  chmod 755 "$root"
  chown -R nobody:nogroup "$ro"
fi
unset XDG_STATE_HOME
ro_run() {  # ro_run COMMAND...
  as_user "$cli" --registry "$ro/sample.reg" --drive "C=$ro/drive_c" --work-dir "$ro/work" "$@" \
    > "$ro/out" 2>&1
}
ro_run collect || fail "collect before the work folder was write-protected: $(cat "$ro/out")"
cp "$ro/sample.reg" "$ro/before.reg"
as_user chmod -R a-w "$ro/work"
work_before=$(state "$ro/work")
ro_run migrate
code=$?
[[ $code == 0 ]] || fail "migrate from a write-protected work folder: exit $code: $(cat "$ro/out")"
cmp -s "$ro/sample.reg" "$ro/before.reg" && fail "migrate from a write-protected work folder wrote nothing"
[[ $(state "$ro/work") == "$work_before" ]] || fail "migrate changed the write-protected work folder"
compgen -G "$ro/home/.local/state/kdr4tose/backup/*/kdr4tose.undo" > /dev/null ||
  fail "no backup in the user's folder"
grep -q $'^#\tmigrate, ' "$ro/home/.local/state/kdr4tose/kdr4tose.log" 2> /dev/null ||
  fail "no log in the user's folder"
grep -qF "$ro/home/.local/state/kdr4tose" "$ro/out" || fail "migrate did not say where the backup is: $(cat "$ro/out")"
ro_run undo --list
[[ $? == 0 ]] || fail "undo --list does not find the backup in the user's folder: $(cat "$ro/out")"
# A backup place that cannot be read is not one without backups.
as_user chmod 000 "$ro/home/.local/state/kdr4tose/backup"
ro_run --lang en undo --list
code=$?
[[ $code == 1 ]] && grep -q '^kdr4tose-cli: cannot list .*kdr4tose.backup.*access denied' "$ro/out" ||
  fail "undo --list of a backup place it cannot read: exit $code: $(cat "$ro/out")"
for command in "undo --list" undo; do  # and in Japanese, with the error's number
  ro_run --lang ja $command
  code=$?
  [[ $code == 1 ]] && grep -q 'の中身を一覧できません（.*エラー 5' "$ro/out" &&
    ! grep -q 'cannot\|denied' "$ro/out" ||
    fail "$command in Japanese of a backup place it cannot read: exit $code: $(cat "$ro/out")"
done
as_user chmod 755 "$ro/home/.local/state/kdr4tose/backup"
ro_run undo
[[ $? == 0 ]] || fail "undo from the user's folder: $(cat "$ro/out")"
cmp -s "$ro/sample.reg" "$ro/before.reg" || fail "undo did not give the registry file back"
as_user chmod -R u+w "$ro/work"
echo "write-protected work folder: migrated and undone with the backup in the user's folder"
# A work folder the user may not look into is refused for that, not as a lock of another kind.
as_user chmod 000 "$ro/work/kdr4env"
ro_run --lang en migrate
code=$?
as_user chmod 755 "$ro/work/kdr4env"
[[ $code != 0 ]] && grep -q 'cannot lock the work folder: cannot read .*kdr4tose.lock: Permission denied' "$ro/out" ||
  fail "migrate from a work folder it cannot read: exit $code: $(cat "$ro/out")"

# --- a replaced file's owner, mode and time, given back by undo ---------------------------
# As nobody, a Migrate replaces a file of root's in a folder of nobody's: undo gives the file
# back its content, mode and time, says it could not give its owner and group, and exits 1;
# root's undo of the same backup by name then gives the owner too.
if ((EUID == 0)); then
  own=$root/owner
  fresh "$own"
  mkdir -p "$own/home" "$own/drive_c/KodrelSE/Client/prv/DDBVID"
  chown -R nobody:nogroup "$own"
  kept=$own/drive_c/KodrelSE/Client/prv/DDBVID/orders.ddv
  echo "the new product's own orders" > "$kept"
  chown root:root "$kept"
  chmod 0604 "$kept"
  touch -d @981173106 "$kept"
  cp -p "$kept" "$own/kept.before"
  before=$(stat -c '%U:%G %a %Y' "$kept")
  own_run() {  # own_run [as_root] COMMAND...
    local as=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
    [[ $1 == as_root ]] && { as=(); shift; }
    "${as[@]}" env HOME="$own/home" "$cli" --registry "$own/sample.reg" --drive "C=$own/drive_c" \
      --work-dir "$own/work" "$@" > "$own/out" 2> "$own/err"
  }
  own_run collect || fail "owner: collect: $(cat "$own/err")"
  own_run migrate || fail "owner: migrate: $(cat "$own/err")"
  [[ $(stat -c %U "$kept") == nobody ]] || fail "owner: the Migrate was to make the file nobody's"
  own_run undo
  code=$?
  [[ $code == 1 ]] || fail "owner: undo that cannot give the owner back: exit $code"
  cmp -s "$kept" "$own/kept.before" || fail "owner: undo did not give the content back"
  [[ $(stat -c '%a %Y' "$kept") == "604 981173106" ]] ||
    fail "owner: undo did not give mode and time back: $(stat -c '%a %Y' "$kept")"
  grep -q "orders.ddv (its owner and group could not be restored" "$own/err" ||
    fail "owner: undo did not say what it could not give back: $(cat "$own/err")"
  grep -q "NOT everything is as before" "$own/out" || fail "owner: undo said all is as before"
  backup=$(basename "$(dirname "$(compgen -G "$own/work/kdr4env/backup/*/kdr4tose.undo")")")
  own_run as_root undo --backup "$backup"
  code=$?
  [[ $code == 0 ]] || fail "owner: root's undo by name: exit $code: $(cat "$own/err")"
  [[ $(stat -c '%U:%G %a %Y' "$kept") == "$before" ]] ||
    fail "owner: root's undo left $(stat -c '%U:%G %a %Y' "$kept"), not $before"
  echo "a replaced file of root's: content, mode and time given back by nobody's undo, owner by root's"
fi

if ((failures > 0)); then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "repeat, concurrent and permission checks passed"
