#!/usr/bin/env bash
# End to end: the demo package, built around the built DLL and taken by
# Wine's msiexec through install, repair, uninstall and an install that fails
# late (scripts/demo.sh), proves that the DLL loads in the installer's
# custom-action server, that each export is found by name and does its work
# in the phase the package gives it, and that the rollback actions leave the
# machine as it was.
#
# Usage: tests/e2e/package_test.sh BUILD_WIN_DIR OUT_DIR BUILD_NUMBER
set -uo pipefail

here="$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd -P)"
win="$1"
out="$2"
build_number="$3"
tag="setupKit-build-$build_number"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Wine's background processes inherit the output of the first program of a
# prefix session; kept in a file, they cannot hold ctest's pipe open.
bash "$here/../../scripts/demo.sh" "$win" "$out" >"$out.report" 2>&1
rc=$?
WINEPREFIX="$out/wineprefix" wineserver -k >/dev/null 2>&1 || true
cat -- "$out.report"
[[ $rc -eq 0 ]] || fail "the demo ended with $rc"

# The report's section of a phase ("1. install", ...).
section() { awk -v h="===== $1" '$0 == h || index($0, h) == 1 {on = 1; next} /^===== / {on = 0} on' "$out.report"; }
ended() {   # PHASE ACTION [RESULT]: the action ran in the phase with that result
   grep -a -q "^Action ended .*: $2\. Return value ${3:-1}\.$" "$out/$1.log" ||
      fail "$2 did not end with return value ${3:-1} in the $1 phase"
}
expect_property() {   # PHASE NAME REGEX
   local line
   line="$(grep -a -m1 "^Property(S): $2 = " "$out/$1.log")" || { fail "property $2 not set ($1)"; return; }
   [[ "${line#Property(S): $2 = }" =~ $3 ]] || fail "property $2 = '${line#Property(S): $2 = }', expected /$3/ ($1)"
}
ca_line() {   # PHASE "LL: text" as an extended regular expression
   grep -a -q -E "\| $tag\| $2$" "$out/$1.ovinst.log" || fail "no line '$2' in the $1 phase's ovinst.log"
}
state() {   # PHASE-HEADING LINE: the machine state after the phase shows the line
   # grep -q may stop reading early: given the whole section, no pipe breaks.
   grep -q -F -x -- "   $2" <<<"$(section "$1")" || fail "after '$1' the machine state lacks: $2"
}

# --- install -----------------------------------------------------------------------
for action in OVSetRealVersionNT OVSetOVSysVer OVDetectWin2003R2 OVDecoupleChildInstaller \
              OVAppTerminate OVDetectRunningVM OVAppSearch OVRegSvr \
              OVReadInProperties OVValidateINSTALLDIR OVAutoSelectInstallDrive; do
   ended install "$action"
done
# The demo prefix reports registry version 10.0.
expect_property install VersionNT '^1000$'
expect_property install VersionNT64 '^1000$'
expect_property install OVSYSVER '^:([A-Z0-9 ().=]+:)+BUILD=[0-9]+:$'
grep -a -q "^Property(S): WIN2003R2 = " "$out/install.log" && fail "WIN2003R2 set on a system that is not Windows Server 2003"
for text in "OVSetRealVersionNT running" "OVSetRealVersionNT Done" "Checking System Version" \
            "Done System Version" "Win2003 R2 detection" "Unparenting Nested Install"; do
   ca_line install "I0: $text"
done
# The demo registers its product as the nested child of a parent first.
ca_line install "I1: MsiUtil_UnnestMsi: Successfully decoupled \{8E0A5C53-3C2B-4F5B-9D47-61C0F1A2B7E4\} from parent installer \{0C7E1B2A-9F35-4D61-8A0B-5E2D47C3F918\}"
state "1. install" 'HKCR\Installer\Products\35C5A0E8B2C3B5F4D974160C1F2A7B4E\Clients = :'
# Processes: the helper program ended, the stand-in machine found, the
# OVAppSearch rows, the COM server registered from its folder.
expect_property install VM_RUNNING '^1$'
expect_property install OV_VM_PROCESS '^orvane-ovx$'
expect_property install OV_RPCSS_PATH '^C:\\windows\\system32\\rpcss\.exe$'
expect_property install OV_RPCSS_STATE '^SERVICE_RUNNING$'
grep -a -q "^Property(S): OV_NO_SUCH_SERVICE = " "$out/install.log" && fail "OV_NO_SUCH_SERVICE set for a missing service"
ca_line install "I1: Util_AppTerminate: Process terminated: ovdemo-helper.*"
grep -q "^Helper program ovdemo-helper.exe after OVAppTerminate: terminated$" "$out.report" ||
   fail "the helper program is still running after the install"
state "1. install" 'HKCU\Software\Orvane Test\ComServers\ov_com_plain.dll = C:\Program Files\Orvane Tools Demo'
# Files and install location.
expect_property install DEMO_GREETING '^Hello from demo\.txt$'
expect_property install BadINSTALLDIR '^0$'
expect_property install INSTALLDIR '^C:\\Program Files\\Orvane Tools Demo\\$'
for text in "Reading in properties" "Validating installation directory" "AutoSelect installation drive." \
            "Drive C has [0-9]+.*"; do
   ca_line install "I0: $text"
done

# Services and drivers: deferred actions installed and started a real kernel
# driver and a service and set the service's failure actions.
for action in OVInstallDemoDriver OVInstallDemoService OVServiceFailureConfig; do
   ended install "$action"
done
for service in OvDemoDrv OvDemoSvc; do
   ca_line install "I1: Inst_InstallServiceW: Service created: $service"
   grep -a -q "| $tag| I2: Inst_StartService: Service is running" <<<"$(grep -a -A40 \
      "| $tag| I1: Inst_StartService: Attempting to start service: $service" "$out/install.ovinst.log")" ||
      fail "$service did not run"
done
state "1. install" "service OvDemoDrv: Group OvDemoGroup, Start 0x3, Type 0x1"
state "1. install" "service OvDemoSvc: Start 0x3, Type 0x10"
# The INF driver: its install section ran from the INF beside the package.
ended install OVInstallInfDemo
ca_line install "I0: InstallOrUninstallByInfSection: INFO: --- \(OvDemoInf\)"
state "1. install" 'HKLM\SOFTWARE\Orvane, Inc.\Orvane Tools Demo\Inf\Installed = 0x1'

# Registry table, registry security, warnings and message boxes, tray cleanup.
for action in OVWriteRegistryValues64 OVResetRegSecurity OVDisplayWarnings OVMessageBox OVCleanupTrayIcons; do
   ended install "$action"
done
install_report="$(section "1. install")"
value_shown() {   # NAME TYPE DATA as the install report lists the demo key's values
   grep -q -E "^   $1 +$2 +$3$" <<<"$install_report" || fail "the demo key's value $1 is not $2 $3"
}
value_shown Dword REG_DWORD 0x2a
value_shown FromProperty REG_DWORD 0x7
value_shown List REG_MULTI_SZ 'a\\0b\\0c'
value_shown Text REG_SZ 'plain text'
value_shown Folder REG_SZ 'C:\\Program Files\\Orvane Tools Demo\\'
state "1. install" 'HKLM\SOFTWARE\Orvane, Inc.\Orvane Tools Demo\Demo\Dword = 0x2a'
ca_line install 'I0: Creating HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane, Inc.\\Orvane Tools Demo\\Demo -> List = a~b~c'
ca_line install 'I0: Reseting security for HKLM\\SOFTWARE\\Orvane, Inc.\\Orvane Tools Demo'
ca_line install 'I0: Condition "VersionNT < 500" is not TRUE, do not show message.'
ca_line install 'I0: Silent install so exiting.'
grep -a -q '^Warning 25010\.Demo warning: Orvane Tools Demo is being installed\.' "$out/install.log" ||
   fail "the warning of the true condition is not in the installer log"
grep -a -q 'Warning 25011' "$out/install.log" && fail "the warning of a false condition was posted"
if [[ -f "$out/tray.txt" ]]; then
   grep -q $'^deleted icon 101\r\\?$' "$out/tray.txt" || fail "the dangling tray icon was not deleted"
   grep -q $'^deleted icon 100\r\\?$' "$out/tray.txt" && fail "the live tray icon was deleted"
fi

# --- repair, uninstall ---------------------------------------------------------------
grep -q -- "->  exit code 0$" <<<"$(section "2. repair")" || fail "the repair did not succeed"
ended repair OVIsRepairSafe
ca_line repair "I0: OK to repair"
ended repair OVStopRunningServices
ca_line repair "I0: Stopping services."
grep -q -- "->  exit code 0$" <<<"$(section "3. uninstall")" || fail "the uninstall did not succeed"
ended uninstall OVUnregSvr
ended uninstall OVDeleteFilesAndFolders
ended uninstall OVUninstallDemoService
ended uninstall OVUninstallDemoDriver
state "3. uninstall" "service OvDemoDrv: (absent)"
state "3. uninstall" "service OvDemoSvc: (absent)"
ended uninstall OVUninstallInfDemo
state "3. uninstall" 'HKLM\SOFTWARE\Orvane, Inc.\Orvane Tools Demo\Inf\Installed = (absent)'
state "3. uninstall" 'HKLM\SOFTWARE\Orvane, Inc.\Orvane Tools Demo\Demo\Dword = (absent)'
ca_line uninstall 'I0: Deleting value HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane, Inc.\\Orvane Tools Demo\\Demo -> Dword'
ca_line uninstall "I0: --- OVDeleteFilesAndFolders\(\)"
state "3. uninstall" 'HKCU\Software\Orvane Test\ComServers\ov_com_plain.dll = (absent)'
state "3. uninstall" 'C:\Program Files\Orvane Tools Demo\cache: absent'
state "3. uninstall" 'C:\Program Files\Orvane Tools Demo\leftover.log: absent'

# --- a late failure, rolled back ------------------------------------------------------
grep -q -- "->  exit code 1603 (seen as 67, its low byte)$" <<<"$(section "4. install that fails")" ||
   fail "the failing install did not end with 1603"
ca_line failure "I0: ERROR: Unknown type 'fail'"
# The rollback actions removed the driver, the service and the INF driver.
ca_line failure "I0: CustomActionData = OvDemoDrv;0;1;OvDemoGroup"
ca_line failure "I0: CustomActionData = OvDemoSvc;0;0;"
ca_line failure "I0: OVUninstallInfKernelDriver: INFO: Enter"
grep -q "^machine state after the rollback: as before the install$" "$out.report" ||
   fail "the rollback left the machine changed"

[[ $failures -eq 0 ]] && echo "package end-to-end: all checks passed"
exit $((failures > 0))
