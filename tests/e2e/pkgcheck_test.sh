#!/usr/bin/env bash
# Usage: pkgcheck_test.sh BUILD_WIN_DIR OUT_DIR: the demo package, built by wixl and rebuilt by msibuild, passes.
set -uo pipefail
root="$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/../.." && pwd -P)"
win="$1"
out="$2"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

bash "$root/scripts/demo-package.sh" "$win" "$out" || fail "could not build the demo package"
mkdir -p -- "$out/dump"
# msibuild reads a stream column's file from a folder named after the table.
(cd -- "$out/dump" && msidump -d . ../demo.msi >/dev/null && msidump -d . -s ../demo.msi >/dev/null &&
 mkdir -p Binary && cp _Streams/Binary.* Binary/ &&
 msibuild ../rebuilt.msi $(for t in *.idt; do echo -i "$t"; done)) || fail "msibuild could not rebuild the package"
cp -- "$out/demo.msi" "$out/typo.msi" && msibuild "$out/typo.msi" -q "INSERT INTO CustomAction (Action, Type, \
Source, Target) VALUES ('Typo', 1, 'OvInstUtil', 'OVSetOVSysVers')" || fail "cannot make typo.msi"

expect() {   # PACKAGE EXIT-CODE LINE...: what the checker prints for the package
   local got code
   got="$(bash "$root/scripts/wine-run.sh" --prefix "$win/wineprefix" "$win/ovpkgcheck.exe" "$out/$1" 2>/dev/null |
          tr -d '\r')"
   code=$?
   [[ "$got" == "$(printf '%s\n' "${@:3}")" && $code -eq $2 ]] || fail "$1: exit $code, printed:"$'\n'"$got"
}
expect demo.msi 0 "0 errors, 0 warnings"
expect rebuilt.msi 0 "0 errors, 0 warnings"
expect typo.msi 1 \
   "error   unknown-export  CustomAction[Typo]: calls 'OVSetOVSysVers', which the DLL in Binary 'OvInstUtil' does not export" \
   "1 error, 0 warnings"

[[ $failures -eq 0 ]] && echo "package checker end-to-end: all checks passed"
exit $((failures > 0))
