#!/usr/bin/env bash
# `make test`, after the build: runs ctest in build/host, build/fuzz and
# build/win (the last under one private Xvfb display, through Wine). Every
# tree runs even if an earlier one failed; the exit code is non-zero if any
# test failed or a tree could not be tested.
#
# Usage: scripts/run-tests.sh [BUILD_DIR]     (default build)
#   OV_CTEST_ARGS  extra ctest arguments for every tree, e.g. "-R dll"
set -uo pipefail

root="$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.." && pwd -P)"
jobs="${JOBS:-2}"
read -r -a extra <<<"${OV_CTEST_ARGS:-}"

# Internal: the Windows tree's run, started by with-xvfb.sh below.
if [[ "${1:-}" == "--win-inner" ]]; then
   tree="$2"
   prefix="$tree/wineprefix"
   bash "$root/scripts/wine-prefix.sh" "$prefix" || exit 1
   prefix="$(cd -- "$prefix" && pwd -P)"
   # One wineserver (and one start of Wine's services) for all the tests;
   # it persists until stopped here, before Xvfb goes away.
   stop_wineserver() { WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true; }
   trap stop_wineserver EXIT
   WINEPREFIX="$prefix" wineserver -p </dev/null >/dev/null 2>&1 || true
   # A failing Windows test runs once more: Wine itself has failed a test
   # program now and then on a loaded two-core machine (a death test's parent
   # dying while its stderr was redirected). The first failure's output stays
   # in the log, and a test that fails twice fails the run.
   ctest --test-dir "$tree" --output-on-failure -j "$jobs" --repeat until-pass:2 "${extra[@]}"
   exit $?
fi

build="${1:-$root/build}"
passed=0
failed=0
bad_trees=()
summaries=()

run_tree() {
   local name="$1"; shift
   local log="$build/$name/ctest-summary.log"
   local start end rc line p f n
   echo
   echo "===== ctest: $name"
   if [[ ! -f "$build/$name/CTestTestfile.cmake" ]]; then
      echo "run-tests: $build/$name is not configured" >&2
      bad_trees+=("$name")
      summaries+=("$name: NOT CONFIGURED")
      return
   fi
   start=$SECONDS
   "$@" 2>&1 | tee "$log"
   rc=${PIPESTATUS[0]}
   end=$SECONDS
   line="$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n1)"
   if [[ -z "$line" && $rc -eq 0 ]] && grep -q '^No tests were found' "$log"; then
      summaries+=("$name: no tests ($((end - start))s)")
   elif [[ -n "$line" ]]; then
      f="$(sed -E 's/^.* ([0-9]+) tests? failed out of ([0-9]+).*$/\1/' <<<"$line")"
      n="$(sed -E 's/^.* ([0-9]+) tests? failed out of ([0-9]+).*$/\2/' <<<"$line")"
      p=$((n - f))
      passed=$((passed + p))
      failed=$((failed + f))
      summaries+=("$name: $line ($((end - start))s)")
   else
      summaries+=("$name: no ctest summary, exit $rc ($((end - start))s)")
      failed=$((failed + 1))
   fi
   if [[ $rc -ne 0 ]]; then
      bad_trees+=("$name")
   fi
}

run_tree host ctest --test-dir "$build/host" --output-on-failure -j "$jobs" "${extra[@]}"
run_tree fuzz ctest --test-dir "$build/fuzz" --output-on-failure -j "$jobs" "${extra[@]}"
run_tree win bash "$root/scripts/with-xvfb.sh" bash "$root/scripts/run-tests.sh" --win-inner "$build/win"

echo
echo "===== test summary"
printf '  %s\n' "${summaries[@]}"
echo "Total: $passed passed, $failed failed"
if [[ ${#bad_trees[@]} -ne 0 ]]; then
   echo "FAILED trees: ${bad_trees[*]}"
   exit 1
fi
