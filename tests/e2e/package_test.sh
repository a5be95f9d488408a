#!/usr/bin/env bash
# Usage: tests/e2e/package_test.sh BUILD_WIN_DIR OUT_DIR BUILD_NUMBER (what each export did in the demo's phases)
set -uo pipefail
out="$2"
tag="setupKit-build-$3"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# In a file, Wine's background processes (they inherit its output) cannot hold ctest's pipe open.
bash "$(dirname -- "${BASH_SOURCE[0]}")/../../scripts/demo.sh" "$1" "$out" >"$out.report" 2>&1
rc=$?
WINEPREFIX="$out/wineprefix" wineserver -k >/dev/null 2>&1 || true
cat -- "$out.report"
[[ $rc -eq 0 ]] || fail "the demo ended with $rc (a phase's exit code, or a rollback that left a change)"

declare -A heading=([install]="1. install" [repair]="2. repair" [uninstall]="3. uninstall")
section() { awk -v h="===== ${heading[$1]}" '$0 == h {on = 1; next} /^===== / {on = 0} on' "$out.report"; }
# PHASE|KIND|LINE, "!KIND" for a missing line: log (ovinst.log after the tag), msi (the installer log),
# report (the phase's report), all extended regexes, or state (a machine-state line after the phase).
while IFS='|' read -r phase kind line; do
   case "${kind#!}" in
      log) grep -a -q -E "\| $tag\| $line$" "$out/$phase.ovinst.log" ;;
      msi) grep -a -q -E "^$line$" "$out/$phase.log" ;;
      report) grep -q -E "^$line$" <<<"$(section "$phase")" ;;
      state) grep -q -F -x -- "   $line" <<<"$(section "$phase")" ;;
   esac
   found=$?
   [[ $found -eq 0 && "$kind" != "!"* || $found -ne 0 && "$kind" == "!"* ]] || fail "$phase: $kind '$line'"
done <<'CHECKS'
install|msi|Property\(S\): VersionNT = 1000
install|msi|Property\(S\): OVSYSVER = :([A-Z0-9 ().=]+:)+BUILD=[0-9]+:
install|log|I0: Win2003 R2 detection
install|!msi|Property\(S\): WIN2003R2 = .*
install|log|I1: MsiUtil_UnnestMsi: Successfully decoupled \{8E0A5C53-3C2B-4F5B-9D47-61C0F1A2B7E4\} from parent installer \{0C7E1B2A-9F35-4D61-8A0B-5E2D47C3F918\}
install|state|HKCR\Installer\Products\35C5A0E8B2C3B5F4D974160C1F2A7B4E\Clients = :
install|report|Helper program ovdemo-helper.exe after OVAppTerminate: terminated
install|msi|Property\(S\): VM_RUNNING = 1
install|msi|Property\(S\): OV_VM_PROCESS = orvane-ovx
install|msi|Property\(S\): OV_RPCSS_PATH = C:\\windows\\system32\\rpcss\.exe
install|msi|Property\(S\): OV_RPCSS_STATE = SERVICE_RUNNING
install|!msi|Property\(S\): OV_NO_SUCH_SERVICE = .*
install|state|HKCU\Software\Orvane Test\ComServers\ov_com_plain.dll = C:\Program Files\Orvane Tools Demo
install|msi|Property\(S\): DEMO_GREETING = Hello from demo\.txt
install|msi|Property\(S\): BadINSTALLDIR = 0
install|msi|Property\(S\): INSTALLDIR = C:\\Program Files\\Orvane Tools Demo\\
install|log|I0: Drive C has [0-9]+
install|log|I1: Inst_InstallServiceW: Service created: OvDemoDrv
install|log|I1: Inst_InstallServiceW: Service created: OvDemoSvc
install|state|service OvDemoDrv: Group OvDemoGroup, Start 0x3, Type 0x1
install|state|service OvDemoSvc: Start 0x3, Type 0x10
install|log|I0: --- OVServiceFailureConfig\(\)
install|state|HKLM\SOFTWARE\Orvane, Inc.\Orvane Tools Demo\Inf\Installed = 0x1
install|report|   Dword +REG_DWORD +0x2a
install|report|   List +REG_MULTI_SZ +a\\0b\\0c
install|report|   Folder +REG_SZ +C:\\Program Files\\Orvane Tools Demo\\
install|log|I0: Reseting security for HKLM\\SOFTWARE\\Orvane, Inc.\\Orvane Tools Demo
install|log|I0: Condition "VersionNT < 500" is not TRUE, do not show message.
install|log|I0: Silent install so exiting.
install|msi|Warning 25010\.Demo warning: Orvane Tools Demo is being installed\.
install|report|   deleted icon 101
install|!report|   deleted icon 100
repair|log|I0: OK to repair
repair|log|I0: Stopping services.
uninstall|state|service OvDemoDrv: (absent)
uninstall|state|service OvDemoSvc: (absent)
uninstall|state|HKLM\SOFTWARE\Orvane, Inc.\Orvane Tools Demo\Inf\Installed = (absent)
uninstall|state|HKLM\SOFTWARE\Orvane, Inc.\Orvane Tools Demo\Demo\Dword = (absent)
uninstall|state|HKCU\Software\Orvane Test\ComServers\ov_com_plain.dll = (absent)
uninstall|state|C:\Program Files\Orvane Tools Demo\cache: absent
uninstall|state|C:\Program Files\Orvane Tools Demo\leftover.log: absent
failure|log|I0: ERROR: Unknown type 'fail'
failure|log|I0: CustomActionData = OvDemoDrv;0;1;OvDemoGroup
failure|log|I0: OVUninstallInfKernelDriver: INFO: Enter
CHECKS
# Both services ran: each start reached the running state.
[[ $(grep -a -c "| $tag| I2: Inst_StartService: Service is running$" "$out/install.ovinst.log") -eq 2 ]] ||
   fail "the demo driver and service did not both run"

[[ $failures -eq 0 ]] && echo "package end-to-end: all checks passed"
exit $((failures > 0))
