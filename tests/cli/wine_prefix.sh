# Sourced by the console tests under Wine, with $wine_run set to tools/wine-run: a folder $root
# of the test's own holding a Wine prefix $prefix (copied from the prepared template, which
# wine-run makes when missing) with its drive C at $c, both removed at the end (cleanup_prefix,
# on exit); and fail() of support/test_root.sh. $1 names the folder.
wine=${KDR_WINE:-/usr/lib/wine/wine64}
server=$(dirname -- "$wine")/wineserver
source "$(dirname -- "${BASH_SOURCE[0]}")/../support/test_root.sh" "$1"
prefix=$root/prefix
cleanup_prefix() {
  WINEPREFIX=$prefix "$server" -k >/dev/null 2>&1
  [[ -n ${KDR_KEEP:-} ]] || rm -rf -- "$root"
}
trap cleanup_prefix EXIT
"$wine_run" cmd.exe /c exit 0 >/dev/null 2>&1
template=${KDR_WINE_TEMPLATE:-${XDG_CACHE_HOME:-$HOME/.cache}/kdr4tose/wine-template}
cp -a -- "$template" "$prefix" || { echo "no Wine template prefix at $template" >&2; exit 1; }
c=$prefix/drive_c
