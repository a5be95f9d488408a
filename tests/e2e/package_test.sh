#!/usr/bin/env bash
# End to end: the demo package, built with wixl around the built DLL and
# installed by Wine's msiexec, proves that the DLL loads in the installer's
# custom-action server and that each export is found by name and succeeds.
#
# Usage: tests/e2e/package_test.sh BUILD_WIN_DIR OUT_DIR BUILD_NUMBER
set -uo pipefail

here="$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd -P)"
win="$1"
out="$2"
build_number="$3"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Wine's background processes inherit the output of the first program of a
# prefix session; kept in a file, they cannot hold ctest's pipe open.
bash "$here/../../scripts/demo.sh" "$win" "$out" >"$out.report" 2>&1
rc=$?
WINEPREFIX="$out/wineprefix" wineserver -k >/dev/null 2>&1 || true
cat -- "$out.report"
[[ $rc -eq 0 ]] || fail "msiexec /i returned $rc"

log="$out/install.log"
ca_log="$out/ovinst.log"
for action in OVSetRealVersionNT OVSetOVSysVer OVDetectWin2003R2 OVDecoupleChildInstaller; do
   grep -a -q "^Action ended .*: $action\. Return value 1\.$" "$log" ||
      fail "$action did not end with success in the installer log"
done

expect_property() {
   local line
   line="$(grep -a -m1 "^Property(S): $1 = " "$log")" || { fail "property $1 not set"; return; }
   [[ "${line#Property(S): $1 = }" =~ $2 ]] || fail "property $1 = '${line#Property(S): $1 = }', expected /$2/"
}
# The demo prefix reports registry version 10.0.
expect_property VersionNT '^1000$'
expect_property VersionNT64 '^1000$'
expect_property OVSYSVER '^:([A-Z0-9 ().=]+:)+BUILD=[0-9]+:$'
if grep -a -q "^Property(S): WIN2003R2 = " "$log"; then
   fail "WIN2003R2 set on a system that is not Windows Server 2003"
fi

# Every custom action line carries the build tag, and each action wrote its
# opening and closing lines.
tag="setupKit-build-$build_number"
for text in "OVSetRealVersionNT running" "OVSetRealVersionNT Done" "Checking System Version" \
            "Done System Version" "Win2003 R2 detection" "Unparenting Nested Install"; do
   grep -a -q "| $tag| I0: $text"$'\r'"\?$" "$ca_log" || fail "no line '$text' with tag $tag in ovinst.log"
done

# The demo registers its product as the nested child of a parent first.
grep -a -q "| $tag| I1: MsiUtil_UnnestMsi: Successfully decoupled {8E0A5C53-3C2B-4F5B-9D47-61C0F1A2B7E4} from parent installer {0C7E1B2A-9F35-4D61-8A0B-5E2D47C3F918}" "$ca_log" ||
   fail "OVDecoupleChildInstaller did not decouple the product from its parent"

# Processes family: the helper program ended, the stand-in machine found,
# the OVAppSearch rows, and the COM server registered and then unregistered.
for action in OVAppTerminate OVDetectRunningVM OVAppSearch OVRegSvr; do
   grep -a -q "^Action ended .*: $action\. Return value 1\.$" "$log" ||
      fail "$action did not end with success in the installer log"
done
expect_property VM_RUNNING '^1$'
expect_property OV_VM_PROCESS '^orvane-ovx$'
expect_property OV_RPCSS_PATH '^C:\\windows\\system32\\rpcss\.exe$'
expect_property OV_RPCSS_STATE '^SERVICE_RUNNING$'
grep -a -q "^Property(S): OV_NO_SUCH_SERVICE = " "$log" && fail "OV_NO_SUCH_SERVICE set for a missing service"
grep -a -q "| $tag| I1: Util_AppTerminate: Process terminated: ovdemo-helper" "$ca_log" ||
   fail "OVAppTerminate did not terminate the helper program"
grep -q "helper program ovdemo-helper.exe after OVAppTerminate: terminated" "$out.report" ||
   fail "the helper program is still running after the install"
grep -qF "after the install (OVRegSvr)    : C:\\Program Files\\Orvane Tools Demo" "$out.report" ||
   fail "OVRegSvr did not register the COM server from its folder"
grep -q "after an uninstall (OVUnregSvr) : <none>$" "$out.report" ||
   fail "OVUnregSvr did not unregister the COM server"

[[ $failures -eq 0 ]] && echo "package end-to-end: all checks passed"
exit $((failures > 0))
