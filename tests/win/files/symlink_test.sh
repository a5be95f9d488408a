#!/usr/bin/env bash
# A tree with a Unix symbolic link to a sibling folder, all inside one
# scratch folder on the prefix's drive C:. Wine lists such a link as a
# reparse point but follows it when it is opened; the delete must check its
# owner (an ordinary user under Wine), stop there, and leave the sibling's
# file in place.
#
# Usage: symlink_test.sh BENCH_DELETE_EXE PREFIX
set -uo pipefail

here="$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd -P)"
exe="$1"
prefix="$2"
bash "$here/../../../scripts/wine-prefix.sh" "$prefix" >&2 || exit 1
prefix="$(cd -- "$prefix" && pwd -P)"
name="ovtest-symlink.$$"
scratch="$prefix/drive_c/$name"
temp="$prefix/drive_c/users/$(id -un)/Temp"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf -- "$scratch"
mkdir -p -- "$scratch/tree/a" "$scratch/sibling" "$temp"
echo keep >"$scratch/sibling/keep.txt"
echo f >"$scratch/tree/a/f.txt"
# Relative, and inside the scratch folder.
ln -s ../sibling "$scratch/tree/link"
[[ "$(readlink -f -- "$scratch/tree/link")" == "$scratch/sibling" ]] || { echo "bad link"; exit 1; }
rm -f -- "$temp/bench_delete.log"

out="$(bash "$here/../../../scripts/wine-run.sh" --prefix "$prefix" "$exe" "C:\\$name\\tree" 3 2>&1)"
echo "$out"
grep -q '^result 0' <<<"$out" || fail "the delete did not report failure"
[[ -f "$scratch/sibling/keep.txt" ]] || fail "the sibling's file was deleted through the link"
[[ -L "$scratch/tree/link" ]] || fail "the link is gone"
[[ -d "$scratch/tree" ]] || fail "the tree's top folder was removed although the walk stopped"

log="$(tr -d '\r' <"$temp/bench_delete.log" 2>/dev/null | sed -n 's/^[^|]*| bench-delete| //p')"
echo "$log"
want=$'I1: Util_SafeDeleteDirectoryW: Opened file object of path \'C:\\'"$name"$'\\tree\\link\'
E1: CheckReparsePointOwnedByNonAdmin: This is a reparse point with a non-admin owner.
E1: Util_SafeDeleteDirectoryW: Skip deleting contents of reparse point owned by non-admin'
grep -qF -- "$want" <<<"$log" || fail "the log lacks the owner check of the link: $want"

rm -rf -- "$scratch"
[[ $failures -eq 0 ]] && echo "symlink delete: all checks passed"
exit $((failures > 0))
