#!/usr/bin/env bash
# The project's main job, shown: builds the demo package around the built
# ovinstutil.dll (examples/demo/demo.wxs, with wixl) and takes it under Wine
# through the phases of a product's life, each with `msiexec /qn` and a
# verbose installer log: install, repair, uninstall, and an install that
# fails late and must be rolled back. After each phase it prints what each
# custom action did (its result, the properties it set), the machine state
# the actions change, and the lines they wrote to ovinst.log.
#
# Usage: scripts/demo.sh BUILD_WIN_DIR [OUT_DIR]
#   BUILD_WIN_DIR  the Windows build tree holding ovinstutil.dll
#   OUT_DIR        where the package, the installer log and a copy of
#                  ovinst.log are kept (default BUILD_WIN_DIR/../demo)
# The demo has a Wine prefix of its own, OUT_DIR/wineprefix (sandboxed like
# the test prefix), so nothing it does touches the tests' prefix.
set -euo pipefail

here="$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd -P)"
root="$here/.."
[[ $# -ge 1 ]] || { echo "usage: $0 BUILD_WIN_DIR [OUT_DIR]" >&2; exit 2; }
win="$(cd -- "$1" && pwd -P)"
out="${2:-$win/../demo}"
mkdir -p -- "$out"
out="$(cd -- "$out" && pwd -P)"
dll="$win/ovinstutil.dll"
[[ -f "$dll" ]] || { echo "demo: $dll is not built" >&2; exit 1; }

# Each custom action of the package with the properties it sets
# ("Action|properties", or "Action=Export|properties" where the package's
# action calls an export of another name). A phase's report shows those that
# ran in it.
actions=(
   "OVSetRealVersionNT|VersionNT VersionNT64"
   "OVSetOVSysVer|OVSYSVER"
   "OVDetectWin2003R2|WIN2003R2"
   "OVDecoupleChildInstaller|"
   # Processes family
   "OVAppTerminate|"
   "OVDetectRunningVM|VM_RUNNING"
   "OVAppSearch|OV_VM_PROCESS OV_RPCSS_PATH OV_RPCSS_STATE OV_NO_SUCH_SERVICE"
   "OVRegSvr|"
   "OVUnregSvr|"
   # Files and install location
   "OVReadInProperties|DEMO_GREETING"
   "OVValidateINSTALLDIR|BadINSTALLDIR"
   "OVAutoSelectInstallDrive|INSTALLDIR"
   "OVIsRepairSafe|"
   "OVDeleteFilesAndFolders|"
   # Services and drivers
   "OVInstallDemoDriver=OVInstallKernelDriver|"
   "OVInstallDemoService=OVInstallKernelDriver|"
   "OVServiceFailureConfig|"
   "OVUninstallDemoService=OVUninstallKernelDriver|"
   "OVUninstallDemoDriver=OVUninstallKernelDriver|"
   "OVInstallInfDemo=OVInstallInfKernelDriver|"
   "OVUninstallInfDemo=OVUninstallInfKernelDriver|"
   "OVStopRunningServices|"
   # Registry table, registry security, warnings and message boxes, tray cleanup.
   "OVWriteRegistryValues64|"
   "OVRemoveRegistryValues64|"
   "OVResetRegSecurity|"
   "OVDisplayWarnings|"
   "OVMessageBox|MSGBOX_RTN"
   "OVCleanupTrayIcons|"
)

# --- the package ---------------------------------------------------------------
stage="$out/stage"
bash "$here/demo-package.sh" "$win" "$stage"
msi="$stage/demo.msi"

# Registry table: the key of the demo's OVRegistry64 rows.
demo_key='SOFTWARE\Orvane, Inc.\Orvane Tools Demo\Demo'
# A stand-in notification area with one live and one dangling icon, while
# the install runs (it needs a display and the tree's stand_in_tray.exe).
registry_ui_tray() {
   tray_exe="$win/stand_in_tray.exe"
   if [[ "$1" == start && -n "${DISPLAY:-}" && -f "$tray_exe" ]]; then
      cp -- "$tray_exe" "$drop/stand_in_tray.exe"
      exec {tray_in}> >(cd -- "$drop" && exec wine 'C:\ovdemo\stand_in_tray.exe' --until-stdin-closes LD \
                          >"$out/tray.txt" 2>/dev/null)
      for _ in $(seq 1 100); do grep -q '^ready' "$out/tray.txt" 2>/dev/null && break; sleep 0.2; done
   elif [[ "$1" == stop && -n "${tray_in:-}" ]]; then
      exec {tray_in}>&-
   elif [[ "$1" == report ]]; then
      echo "Registry values of HKLM\\$demo_key (OVWriteRegistryValues64):"
      wine reg query "HKLM\\$demo_key" /reg:64 2>/dev/null | tr -d '\r' | sed -n 's/^ \+/   /p'
      echo "Warnings in the installer log (OVDisplayWarnings):"
      grep -a 'Demo warning' "$out/install.log" | sed 's/^/   /' || true
      if [[ -f "$out/tray.txt" ]]; then
         echo "Stand-in notification area, icons 100 (live owner) and 101 (dangling):"
         tr -d '\r' <"$out/tray.txt" | grep '^deleted' | sed 's/^/   /' || echo "   nothing deleted"
      else
         echo "Notification area: no display or no stand_in_tray.exe, nothing to clean"
      fi
   fi
}

# --- the Wine prefix -------------------------------------------------------------
prefix="$out/wineprefix"
bash "$here/wine-prefix.sh" "$prefix" >&2
source "$(dirname -- "${BASH_SOURCE[0]}")/wine-env.sh"
ov_wine_env "$prefix"
# The prefix has no drive for the host's files: the package goes to C:.
drop="$prefix/drive_c/ovdemo"
mkdir -p -- "$drop"
cp -- "$msi" "$drop/demo.msi"
# Files and install location: the administrator's presets beside the
# package, read by OVReadInProperties.
printf '; presets for demo.msi\r\nDEMO_GREETING = Hello from demo.txt\r\n' >"$drop/demo.txt"
# Services and drivers: the INF the install runs beside the package.
cp -- "$root/examples/demo/ovdemo.inf" "$drop/"

# Windows 10 and later keep their real version in these two values, which
# OVSetRealVersionNT publishes over the installer's VersionNT; Wine does not
# write them, so the demo does.
wine reg add 'HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion' /v CurrentMajorVersionNumber \
   /t REG_DWORD /d 10 /f >/dev/null 2>&1
wine reg add 'HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion' /v CurrentMinorVersionNumber \
   /t REG_DWORD /d 0 /f >/dev/null 2>&1

product_code="{8E0A5C53-3C2B-4F5B-9D47-61C0F1A2B7E4}"
# The installer's registration key of that code. The package itself enters
# a parent package as its client there, as a parent's nested install would,
# just before OVDecoupleChildInstaller runs.
registration='HKCR\Installer\Products\35C5A0E8B2C3B5F4D974160C1F2A7B4E'
parent_code="{0C7E1B2A-9F35-4D61-8A0B-5E2D47C3F918}"
temp_dir="$prefix/drive_c/users/$(id -un)/Temp"
# The "Clients" value of the registration: ':' for a product of its own,
# the parent's code for a nested one.
clients_value() {
   wine reg query "$registration" /v Clients 2>/dev/null | tr -d '\r' |
      sed -n 's/.*REG_MULTI_SZ *//p' | sed 's/\\0/ /g; s/ *$//'
}

# What the custom actions change on the machine, shown after every phase:
# "kind|what|detail" with the kinds registry (key, value), file (path).
state_probes=(
   "registry|$registration|Clients"
   "file|C:\\Program Files\\Orvane Tools Demo\\README.txt|"
   # Processes family: the COM server's registration, by the folder it was
   # registered from.
   "registry|HKCU\\Software\\Orvane Test\\ComServers|ov_com_plain.dll"
   # Files and install location: leftovers the file tables do not know,
   # made before the uninstall, which deletes them.
   "file|C:\\Program Files\\Orvane Tools Demo\\cache|"
   "file|C:\\Program Files\\Orvane Tools Demo\\leftover.log|"
   # Services and drivers: the SCM's entries (Wine ends its services with
   # the installer's session, so their state here is the one after it;
   # ovinst.log shows them running during the install).
   "service|OvDemoDrv|"
   "service|OvDemoSvc|"
   "registry|HKLM\\SOFTWARE\\Orvane, Inc.\\Orvane Tools Demo\\Inf|Installed"
   # Registry table: one of the OVRegistry64 rows the install writes and the
   # uninstall removes.
   "registry|HKLM\\$demo_key|Dword"
)

machine_state() {
   local entry kind what detail
   for entry in "${state_probes[@]}"; do
      IFS='|' read -r kind what detail <<<"$entry"
      case "$kind" in
         registry)
            printf '%s\\%s = %s\n' "$what" "$detail" \
               "$(wine reg query "$what" /v "$detail" 2>/dev/null | tr -d '\r' |
                  sed -n 's/.*REG_[A-Z_]* *//p' | sed 's/\\0/ /g; s/ *$//' | grep . || echo '(absent)')" ;;
         service)
            local key
            key="$({ wine reg query "HKLM\\SYSTEM\\CurrentControlSet\\Services\\$what" 2>/dev/null || true; } | tr -d '\r')"
            if [[ "$key" == *ImagePath* ]]; then
               printf 'service %s: %s\n' "$what" "$(grep -E '^ +(Type|Start|Group|Tag) ' <<<"$key" |
                  awk '$3 != "" {printf "%s%s %s", sep, $1, $3; sep = ", "}')"
            else
               printf 'service %s: (absent)\n' "$what"
            fi ;;
         file)
            local unix="$prefix/drive_c/${what#C:\\}"
            unix="${unix//\\//}"
            printf '%s: %s\n' "$what" "$([[ -e "$unix" ]] && echo present || echo absent)" ;;
      esac
   done
}

# The verbose log is UTF-16 on some Wine versions; made plain text here.
plain_log() {
   if head -c2 "$1" 2>/dev/null | od -An -tx1 | grep -q 'ff fe'; then
      iconv -f UTF-16 -t UTF-8 "$1"
   else
      cat -- "$1" 2>/dev/null
   fi | tr -d '\r' >"$2"
}

# Runs one phase: msiexec with the given arguments, its verbose log in
# OUT_DIR/NAME.log and the ovinst.log lines written meanwhile in
# OUT_DIR/NAME.ovinst.log. Sets phase_rc.
run_phase() {
   local name="$1"
   shift
   local before
   before="$(stat -c %s "$temp_dir/ovinst.log" 2>/dev/null || echo 0)"
   rm -f -- "$drop/$name.log"
   set +e
   (cd -- "$drop" && wine msiexec "$@" /qn /l*v "C:\\ovdemo\\$name.log")
   phase_rc=$?
   set -e
   # Wine's msiexec returns once the phase is done; its log is then complete.
   plain_log "$drop/$name.log" "$out/$name.log"
   tail -c +$((before + 1)) "$temp_dir/ovinst.log" 2>/dev/null | tr -d '\r' >"$out/$name.ovinst.log" || :
}

result_text() {
   case "$1" in
      1) echo "0 (success)" ;;
      2) echo "1602 (cancelled by the user)" ;;
      3) echo "1603 (failed the installation)" ;;
      0) echo "not run (condition false)" ;;
      *) echo "installer return value $1" ;;
   esac
}

# A Unix process keeps only the low byte of msiexec's result: 1603 arrives
# as 67.
exit_text() {
   case "$1" in
      67) echo "1603 (seen as 67, its low byte)" ;;
      *) echo "$1" ;;
   esac
}

report_phase() {
   local name="$1" title="$2" command="$3" entry action label props ret p
   echo
   echo "===== $title"
   echo "command: $command  ->  exit code $(exit_text "$phase_rc")"
   for entry in "${actions[@]}"; do
      action="${entry%%|*}"
      props="${entry#*|}"
      label="$action"
      if [[ "$action" == *=* ]]; then
         label="${action%%=*} (${action#*=})"
         action="${action%%=*}"
      fi
      ret="$(grep -a -m1 "^Action ended .*: $action\. Return value" "$out/$name.log" |
             sed 's/.*Return value \([0-9]*\)\..*/\1/' || true)"
      [[ -n "$ret" ]] || continue
      printf '%-50s result: %s\n' "$label" "$(result_text "$ret")"
      for p in $props; do
         if grep -a -q "^Property(S): $p = " "$out/$name.log"; then
            printf '%-50s   %s = %s\n' "" "$p" \
               "$(grep -a -m1 "^Property(S): $p = " "$out/$name.log" | sed "s/^Property(S): $p = //")"
         else
            printf '%-50s   %s is not set\n' "" "$p"
         fi
      done
   done
   echo "machine state:"
   machine_state | sed 's/^/   /'
   echo "----- ovinst.log, this phase"
   cat -- "$out/$name.ovinst.log"
   echo "-----"
}

# A previous demo's install goes first, so that this run starts afresh; its
# log lines go with it.
(cd -- "$drop" && wine msiexec /x "$product_code" /qn >/dev/null 2>&1) || true
rm -f -- "$temp_dir/ovinst.log"

echo
echo "===== ovinstutil.dll demo"
echo "package : $msi"
echo "prefix  : $prefix (registry version 10.0 written for OVSetRealVersionNT)"
echo "before  :"
machine_state | sed 's/^/   /'
failed=0

# Processes family: the helper program OVAppTerminate ends and the virtual
# machine process OVDetectRunningVM looks for, with the machine's path on its
# command line. Both would end by themselves after two minutes.
cp -f -- "$win/ov_sleeper.exe" "$drop/ovdemo-helper.exe"
cp -f -- "$win/ov_sleeper.exe" "$drop/orvane-ovx.exe"
(cd -- "$drop" && exec wine 'C:\ovdemo\ovdemo-helper.exe' 120000 0 >/dev/null 2>&1) &
helper_pid=$!
(cd -- "$drop" && exec wine 'C:\ovdemo\orvane-ovx.exe' 120000 0 'C:\VMs\Demo\Demo.ovx' >/dev/null 2>&1) &
vm_pid=$!
sleep 3

registry_ui_tray start
run_phase install /i 'C:\ovdemo\demo.msi'
registry_ui_tray stop
report_phase install "1. install" "msiexec /i demo.msi"
[[ $phase_rc -eq 0 ]] || failed=1
sleep 1
helper_state="still running"
kill -0 "$helper_pid" 2>/dev/null || helper_state="terminated"
kill "$vm_pid" "$helper_pid" 2>/dev/null || true
wait "$vm_pid" "$helper_pid" 2>/dev/null || true
echo "Helper program ovdemo-helper.exe after OVAppTerminate: $helper_state"
echo "Registration $registration, value Clients:"
echo "   written by the package (a parent's nested install): $parent_code"
echo "   after OVDecoupleChildInstaller                     : $(clients_value)"
registry_ui_tray report

# Wine 8's msiexec /f does not repair; a reinstall of every feature does.
run_phase repair /i 'C:\ovdemo\demo.msi' REINSTALL=ALL REINSTALLMODE=omus
report_phase repair "2. repair" "msiexec /i demo.msi REINSTALL=ALL REINSTALLMODE=omus"
[[ $phase_rc -eq 0 ]] || failed=1

installed="$prefix/drive_c/Program Files/Orvane Tools Demo"
mkdir -p -- "$installed/cache/sub"
echo x >"$installed/cache/sub/x.txt"
echo y >"$installed/leftover.log"
run_phase uninstall /x 'C:\ovdemo\demo.msi'
report_phase uninstall "3. uninstall" "msiexec /x demo.msi"
[[ $phase_rc -eq 0 ]] || failed=1
state_after_uninstall="$(machine_state)"

# A late failure: every change made so far must be taken back.
run_phase failure /i 'C:\ovdemo\demo.msi' OVDEMO_FAIL=1
report_phase failure "4. install that fails late (OVDEMO_FAIL=1): rolled back" "msiexec /i demo.msi OVDEMO_FAIL=1"
[[ $phase_rc -eq $((1603 % 256)) ]] || failed=1
if [[ "$(machine_state)" == "$state_after_uninstall" ]]; then
   echo "machine state after the rollback: as before the install"
else
   echo "machine state after the rollback differs from before the install:"
   diff <(echo "$state_after_uninstall") <(machine_state) | sed 's/^/   /' || true
   failed=1
fi
echo
echo "logs: $out/{install,repair,uninstall,failure}.log and .ovinst.log"
exit "$failed"
