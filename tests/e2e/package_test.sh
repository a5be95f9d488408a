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

# Services and drivers: the deferred actions installed and started a real
# kernel driver and service and set the service's failure actions; the
# package's uninstall removes both.
for action in OVInstallDemoDriver OVInstallDemoService OVServiceFailureConfig; do
   grep -a -q "^Action ended .*: $action\. Return value 1\.$" "$log" ||
      fail "$action did not end with success in the installer log"
done
for service in OvDemoDrv OvDemoSvc; do
   grep -a -q "| $tag| I1: Inst_InstallServiceW: Service created: $service"$'\r'"\?$" "$ca_log" ||
      fail "$service was not created"
   grep -a -A40 "| $tag| I1: Inst_StartService: Attempting to start service: $service"$'\r'"\?$" "$ca_log" |
      grep -a -q "| $tag| I2: Inst_StartService: Service is running" || fail "$service did not run"
done
service_key() {
   WINEPREFIX="$out/wineprefix" WINEDEBUG=-all wine reg query \
      "HKLM\\SYSTEM\\CurrentControlSet\\Services\\$1" 2>/dev/null | tr -d '\r'
}
service_key OvDemoDrv | grep -q 'Type *REG_DWORD *0x1$' || fail "OvDemoDrv is not a kernel driver"
service_key OvDemoDrv | grep -q 'Group *REG_SZ *OvDemoGroup$' || fail "OvDemoDrv is not in OvDemoGroup"
service_key OvDemoSvc | grep -q 'Type *REG_DWORD *0x10$' || fail "OvDemoSvc is not a service of its own process"
(cd -- "$out/wineprefix/drive_c" && WINEPREFIX="$out/wineprefix" WINEDEBUG=-all \
   wine msiexec /x '{8E0A5C53-3C2B-4F5B-9D47-61C0F1A2B7E4}' /qn >"$out.uninstall" 2>&1) ||
   fail "msiexec /x failed"
for service in OvDemoDrv OvDemoSvc; do
   service_key "$service" | grep -q 'ImagePath' && fail "$service is still installed after the uninstall"
done
WINEPREFIX="$out/wineprefix" wineserver -k >/dev/null 2>&1 || true

[[ $failures -eq 0 ]] && echo "package end-to-end: all checks passed"
exit $((failures > 0))
