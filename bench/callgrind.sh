#!/usr/bin/env bash
# Instructions per formatted log line for each formatter, under callgrind.
#
# Each formatter runs twice, N1 and N2 lines; the difference of the two
# totals divided by N2 - N1 leaves out start-up, locale and loader costs,
# which do not belong to one line.
#
# Usage: bench/callgrind.sh PATH/TO/callgrind_format
set -euo pipefail

if [[ $# -ne 1 || ! -x "$1" ]]; then
   echo "usage: $0 PATH/TO/callgrind_format" >&2
   exit 2
fi
driver="$1"
if ! command -v valgrind >/dev/null; then
   echo "callgrind.sh: valgrind is not installed; nothing measured" >&2
   exit 0
fi

n1=1000
n2=11000
tmp="$(mktemp -d)"
trap 'rm -rf -- "$tmp"' EXIT

# Total Ir of a run, from the "summary:" (or "totals:") line of its output.
total_ir() {
   local out="$tmp/cg.$1.$2"
   valgrind --tool=callgrind --callgrind-out-file="$out" "$driver" "$1" "$2" \
      >/dev/null 2>"$tmp/log.$1.$2" || {
      echo "callgrind.sh: valgrind failed for $1 $2:" >&2
      cat "$tmp/log.$1.$2" >&2
      return 1
   }
   awk '/^(summary|totals):/ { print $2; exit }' "$out"
}

declare -A per_line
for impl in ours glibc stb; do
   a="$(total_ir "$impl" "$n1")"
   b="$(total_ir "$impl" "$n2")"
   per_line[$impl]="$(awk -v a="$a" -v b="$b" -v n1="$n1" -v n2="$n2" \
      'BEGIN { printf "%.1f", (b - a) / (n2 - n1) }')"
done

printf '%-8s %14s\n' "impl" "Ir per line"
for impl in ours glibc stb; do
   printf '%-8s %14s\n' "$impl" "${per_line[$impl]}"
done
awk -v o="${per_line[ours]}" -v s="${per_line[stb]}" -v g="${per_line[glibc]}" \
   'BEGIN { printf "ours/stb   %7.2f\nours/glibc %7.2f\n", o / s, o / g }'
exit 0
