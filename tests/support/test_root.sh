# Sourced by the shell tests: a folder $root of the test's own, removed on exit unless KDR_KEEP
# is set, and fail(), which says what failed and counts it in $failures. $1 names the folder.
root=$(mktemp -d "${TMPDIR:-/tmp}/kdr4tose-$1.XXXXXX")
[[ -n ${KDR_KEEP:-} ]] || trap 'rm -rf -- "$root"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
