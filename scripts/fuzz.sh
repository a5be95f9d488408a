#!/usr/bin/env bash
# `make fuzz`: runs every harness in the fuzz tree for FUZZ_SECONDS seconds
# each (default 60), keeping the grown corpus in build/fuzz/corpus/<name>/.
# Prints libFuzzer's closing statistics per harness; fails on any finding
# (the input is kept in build/fuzz/artifacts/<name>/).
#
# Usage: scripts/fuzz.sh [FUZZ_TREE]    (default build/fuzz)
set -uo pipefail

root="$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.." && pwd -P)"
tree="${1:-$root/build/fuzz}"
seconds="${FUZZ_SECONDS:-60}"

shopt -s nullglob
harnesses=()
for f in "$tree"/fuzz_*; do
   [[ -f "$f" && -x "$f" ]] && harnesses+=("$f")
done
if [[ ${#harnesses[@]} -eq 0 ]]; then
   echo "fuzz: no harnesses in $tree (run make first)" >&2
   exit 1
fi

failed=()
summary=()
for h in "${harnesses[@]}"; do
   name="$(basename -- "$h")"
   stem="${name#fuzz_}"
   log="$tree/fuzz-$stem.log"
   echo "=== $name: ${seconds}s"
   "$root/scripts/fuzz-run.sh" --corpus "$tree/corpus/$stem" "$h" \
      "$root/fuzz/corpus/$stem" "$tree/artifacts/$stem" \
      -max_total_time="$seconds" -print_final_stats=1 >"$log" 2>&1
   rc=$?
   # libFuzzer's closing lines: "Done N runs in S second(s)" and the stats.
   grep -E '^(Done [0-9]+ runs|stat::number_of_executed_units|stat::average_exec_per_sec|stat::new_units_added|stat::peak_rss_mb)' "$log" | sed "s/^/   /"
   runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)"
   if [[ $rc -ne 0 ]]; then
      echo "   FINDING (exit $rc); log $log, inputs in $tree/artifacts/$stem/"
      grep -E '^(==[0-9]+==ERROR|SUMMARY:|artifact_prefix|Test unit written)|runtime error:' "$log" | head -n 20 | sed "s/^/   /"
      failed+=("$name")
      summary+=("$name: FAILED (exit $rc) after ${runs:-?} executions")
   else
      summary+=("$name: ok, ${runs:-?} executions in ${seconds}s")
   fi
done

echo "=== fuzz summary"
printf '   %s\n' "${summary[@]}"
if [[ ${#failed[@]} -ne 0 ]]; then
   echo "fuzz: findings in ${failed[*]}"
   exit 1
fi
