#!/usr/bin/env bash
# Instructions per formatted log line, ours against glibc (bench_core.cpp says how).
set -euo pipefail

driver="${1:?usage: $0 PATH/TO/bench_core}"
if ! command -v valgrind >/dev/null; then
   echo "callgrind.sh: valgrind is not installed; nothing measured" >&2
   exit 0
fi
tmp="$(mktemp -d)"
trap 'rm -rf -- "$tmp"' EXIT

total_ir() {
   if ! valgrind --tool=callgrind --callgrind-out-file="$tmp/cg" "$driver" "$1" "$2" >/dev/null 2>"$tmp/log"; then
      echo "callgrind.sh: valgrind failed for $1 $2:" >&2
      cat "$tmp/log" >&2
      return 1
   fi
   awk '/^(summary|totals):/ { print $2; exit }' "$tmp/cg"
}

declare -A per_line
for impl in ours glibc; do
   a="$(total_ir "$impl" 1000)"
   b="$(total_ir "$impl" 11000)"
   per_line[$impl]="$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.1f", (b - a) / 10000 }')"
   printf '%-8s %10s Ir per line\n' "$impl" "${per_line[$impl]}"
done
awk -v o="${per_line[ours]}" -v g="${per_line[glibc]}" 'BEGIN { printf "ours/glibc %7.2f\n", o / g }'
