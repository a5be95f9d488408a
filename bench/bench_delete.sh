#!/usr/bin/env bash
# The tree delete against the system's own tool, under Wine: a tree of
# 10,000 files in 500 folders is removed by Util_SafeDeleteDirectoryW
# (reparse checks on, log lines written as in a custom action) and an
# identical tree by "cmd /c rd /s /q", alternately, several rounds in one
# run. The cost of starting cmd is measured too ("cmd /c rem") and taken
# off rd's time. Prints each round and the ratio of the medians.
#
# Usage: bench/bench_delete.sh BUILD_WIN_DIR [ROUNDS]
# Not part of ctest: timings on a shared machine are not pass/fail.
set -euo pipefail

here="$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd -P)"
win="$(cd -- "$1" && pwd -P)"
rounds="${2:-5}"
exe="$win/bench_delete.exe"
[[ -f "$exe" ]] || { echo "bench_delete: $exe is not built (target bench_delete)" >&2; exit 1; }
prefix="$win/wineprefix"
bash "$here/../scripts/wine-prefix.sh" "$prefix" >&2
prefix="$(cd -- "$prefix" && pwd -P)"
name="ovbench-delete.$$"
scratch="$prefix/drive_c/$name"
trap 'rm -rf -- "$scratch"' EXIT

# 20 groups of 25 folders, 20 files of 100 bytes each.
make_tree() {
   local top="$1" g d
   mkdir -p -- "$top"
   for g in $(seq -w 1 20); do
      for d in $(seq -w 1 25); do
         mkdir -p -- "$top/g$g/d$d"
         (cd -- "$top/g$g/d$d" && for f in $(seq -w 1 20); do printf '%0100d' 0 >"f$f.txt"; done)
      done
   done
}

run() {   # run TREE_NAME FLAGS [rd|rem] -> milliseconds
   local out
   out="$(bash "$here/../scripts/wine-run.sh" --prefix "$prefix" "$exe" "C:\\$name\\$1" "$2" ${3:-} 2>/dev/null)"
   grep -q '^result 1' <<<"$out" || [[ "${3:-}" == rem ]] || { echo "bench_delete: $1 was not deleted" >&2; exit 1; }
   sed -n 's/^ms //p' <<<"$out" | tr -d '\r'
}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

safe=(); rd=(); rem=()
for i in $(seq 1 "$rounds"); do
   make_tree "$scratch/a"
   make_tree "$scratch/b"
   rem+=("$(run x 0 rem)")
   if (( i % 2 )); then
      safe+=("$(run a 3)"); rd+=("$(run b 3 rd)")
   else
      rd+=("$(run b 3 rd)"); safe+=("$(run a 3)")
   fi
   echo "round $i: Util_SafeDeleteDirectoryW ${safe[-1]} ms, cmd /c rd /s /q ${rd[-1]} ms (cmd start ${rem[-1]} ms)"
done
s="$(printf '%s\n' "${safe[@]}" | median)"
r="$(printf '%s\n' "${rd[@]}" | median)"
c="$(printf '%s\n' "${rem[@]}" | median)"
awk -v s="$s" -v r="$r" -v c="$c" 'BEGIN {
   printf "median: Util_SafeDeleteDirectoryW %d ms, rd %d ms, cmd start %d ms\n", s, r, c
   printf "ratio Util_SafeDeleteDirectoryW / rd: %.2f (rd without cmd start: %.2f)\n", s / r, (r > c ? s / (r - c) : 0)
}'
