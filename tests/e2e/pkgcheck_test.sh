#!/usr/bin/env bash
# The package checker end to end: the demo package, as wixl builds it and as
# msibuild builds it again from its tables and streams, gives no finding;
# copies broken one way each give exactly their finding and exit code 1.
#
# Usage: tests/e2e/pkgcheck_test.sh BUILD_WIN_DIR OUT_DIR
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

# A copy of the demo package changed by one query.
broken() {
   cp -- "$out/demo.msi" "$out/$1.msi" && msibuild "$out/$1.msi" -q "$2" || fail "cannot make $1.msi"
}
broken typo "INSERT INTO CustomAction (Action, Type, Source, Target) VALUES ('Typo', 1, 'OvInstUtil', 'OVSetOVSysVers')"
broken deferred "UPDATE CustomAction SET Type = 1025 WHERE Action = 'OVSetOVSysVer'"

expect() {   # package, exit code, the lines it must print
   local package="$1" rc="$2" got
   shift 2
   got="$(bash "$root/scripts/wine-run.sh" --prefix "$win/wineprefix" "$win/ovpkgcheck.exe" "$out/$package" \
          2>/dev/null | tr -d '\r')"
   local code=${PIPESTATUS[0]}
   [[ "$got" == "$(printf '%s\n' "$@")" && $code -eq $rc ]] ||
      fail "$package: exit $code, printed:"$'\n'"$got"
}
expect demo.msi 0 "0 errors, 0 warnings"
expect rebuilt.msi 0 "0 errors, 0 warnings"
expect typo.msi 1 \
   "error   unknown-export  CustomAction[Typo]: calls 'OVSetOVSysVers', which the DLL in Binary 'OvInstUtil' does not export" \
   "1 error, 0 warnings"
expect deferred.msi 1 \
   "error   needs-immediate CustomAction[OVSetOVSysVer]: OVSetOVSysVer reads properties, tables or component states that a deferred action cannot see: schedule it without the in-script flag (0x400)" \
   "1 error, 0 warnings"

[[ $failures -eq 0 ]] && echo "package checker end-to-end: all checks passed"
exit $((failures > 0))
