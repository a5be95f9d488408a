#!/usr/bin/env bash
# Usage: bench/bench_delete.sh BUILD_WIN_DIR [ROUNDS]; not in ctest, as timings on a shared machine are no verdict.
# Under Wine, trees of 10,000 files in 500 folders removed by Util_SafeDeleteDirectoryW (owner checks and log
# on) and by "cmd /c rd /s /q" (cmd's start included), alternately, in rounds; prints the medians' ratio.
set -euo pipefail
here="$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd -P)"
exe="$(cd -- "$1" && pwd -P)/bench_delete.exe"
prefix="$1/wineprefix"
bash "$here/../scripts/wine-prefix.sh" "$prefix" >&2
name="ovbench-delete.$$"
scratch="$(cd -- "$prefix" && pwd -P)/drive_c/$name"
trap 'rm -rf -- "$scratch"' EXIT

make_tree() {   # 20 groups of 25 folders of 20 files of 100 bytes
   mkdir -p -- "$1"/g{01..20}/d{01..25}
   for d in "$1"/g*/d*; do
      for f in {01..20}; do printf '%0100d' 0 >"$d/f$f.txt"; done
   done
}

run() {   # run TREE_NAME [rd] -> milliseconds
   out="$(bash "$here/../scripts/wine-run.sh" --prefix "$prefix" "$exe" "C:\\$name\\$1" 3 ${2:-} 2>/dev/null)"
   grep -q '^result 1' <<<"$out" || { echo "bench_delete: $1 was not deleted" >&2; exit 1; }
   sed -n 's/^ms //p' <<<"$out" | tr -d '\r'
}

median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

safe=(); rd=()
for i in $(seq 1 "${2:-5}"); do
   make_tree "$scratch/a"
   make_tree "$scratch/b"
   if (( i % 2 )); then
      safe+=("$(run a)"); rd+=("$(run b rd)")
   else
      rd+=("$(run b rd)"); safe+=("$(run a)")
   fi
   echo "round $i: Util_SafeDeleteDirectoryW ${safe[-1]} ms, cmd /c rd /s /q ${rd[-1]} ms"
done
awk -v s="$(median "${safe[@]}")" -v r="$(median "${rd[@]}")" \
   'BEGIN { printf "median: Util_SafeDeleteDirectoryW %d ms, rd %d ms; ratio %.2f\n", s, r, s / r }'
