#!/usr/bin/env bash
# Usage: delete_test.sh symlink|restart BENCH_DELETE_EXE PREFIX, on a scratch folder of the prefix's drive C:
# symlink: a relative Unix symbolic link to a sibling folder, which Wine lists as a reparse point of an ordinary
# user, stops the delete of its tree. restart (in a prefix of its own): a copy of bench_delete deletes its own
# running file, which is put aside and, after a wineserver restart (Wine's reboot), gone.
set -uo pipefail
here="$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd -P)"
bash "$here/../../../scripts/wine-prefix.sh" "$3" >&2 || exit 1
source "$here/../../../scripts/wine-env.sh"
ov_wine_env "$(cd -- "$3" && pwd -P)"
name="ovtest-$1.$$"
scratch="$WINEPREFIX/drive_c/$name"
fail() { echo "FAIL: $*"; exit 1; }
trap 'rm -rf -- "$scratch"' EXIT
mkdir -p -- "$scratch"
if [[ "$1" == symlink ]]; then
   temp="$WINEPREFIX/drive_c/users/$(id -un)/Temp"
   mkdir -p -- "$scratch/tree/a" "$scratch/sibling" "$temp"
   echo keep >"$scratch/sibling/keep.txt"
   echo f >"$scratch/tree/a/f.txt"
   ln -s ../sibling "$scratch/tree/link"
   rm -f -- "$temp/bench_delete.log"
   bash "$here/../../../scripts/wine-run.sh" --prefix "$WINEPREFIX" "$2" "C:\\$name\\tree" 3 | tee "$scratch/out"
   grep -q '^result 0' "$scratch/out" || fail "the delete did not report failure"
   [[ -f "$scratch/sibling/keep.txt" ]] || fail "the sibling's file was deleted through the link"
   [[ -L "$scratch/tree/link" && -d "$scratch/tree" ]] || fail "the link or the tree's top folder is gone"
   grep -qF "E1: Util_SafeDeleteDirectoryW: Skip deleting contents of reparse point owned by non-admin" \
      "$temp/bench_delete.log" || fail "the log lacks the skip at the link"
else
   cp -- "$2" "$scratch/a.exe"
   (cd -- "$scratch" && wine "C:\\$name\\a.exe" "C:\\$name\\a.exe" 0 file) </dev/null 2>&1 | tee "$scratch/out"
   grep -q '^result 1' "$scratch/out" || fail "Util_DeleteFileW did not report the file put aside"
   [[ ! -e "$scratch/a.exe" && -e "$scratch/a.exe.tmp" ]] || fail "a.exe was not renamed to a.exe.tmp"
   wineserver -k >/dev/null 2>&1
   wine cmd /c exit >/dev/null 2>&1
   wineserver -w
   [[ ! -e "$scratch/a.exe.tmp" ]] || fail "a.exe.tmp survived the restart"
fi
echo "$1 delete: all checks passed"
