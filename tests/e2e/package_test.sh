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

# --- registry table, registry security, warnings and message boxes, tray cleanup
source "$here/../../scripts/wine-env.sh"
ov_wine_env "$out/wineprefix"
demo_key='HKLM\SOFTWARE\Orvane, Inc.\Orvane Tools Demo\Demo'
ca_line() { grep -a -q "| $tag| I0: $1"$'\r'"\?$" "$ca_log" || fail "no line '$1' in ovinst.log"; }
reg_value() { wine reg query "$demo_key$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *\(REG_[A-Z_]*\) *\(.*\)$/\1 \2/p"; }
for action in OVWriteRegistryValues64 OVResetRegSecurity OVDisplayWarnings OVMessageBox OVCleanupTrayIcons; do
   grep -a -q "^Action ended .*: $action\. Return value 1\.$" "$log" ||
      fail "$action did not end with success in the installer log"
done
[[ "$(reg_value '' Dword)" == "REG_DWORD 0x2a" ]] || fail "Dword = '$(reg_value '' Dword)'"
[[ "$(reg_value '' FromProperty)" == "REG_DWORD 0x7" ]] || fail "FromProperty = '$(reg_value '' FromProperty)'"
[[ "$(reg_value '' List)" == 'REG_MULTI_SZ a\0b\0c' ]] || fail "List = '$(reg_value '' List)'"
[[ "$(reg_value '' Text)" == "REG_SZ plain text" ]] || fail "Text = '$(reg_value '' Text)'"
[[ "$(reg_value '' Folder)" == 'REG_SZ C:\Program Files\Orvane Tools Demo\' ]] || fail "Folder = '$(reg_value '' Folder)'"
wine reg query "$demo_key\\KeyOnly" >/dev/null 2>&1 || fail "the key-only row did not create its key"
ca_line 'Creating HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane, Inc.\\Orvane Tools Demo\\Demo -> List = a~b~c'
ca_line 'Reseting security for HKLM\\SOFTWARE\\Orvane, Inc.\\Orvane Tools Demo'
ca_line 'Condition "VersionNT < 500" is not TRUE, do not show message.'
ca_line 'Silent install so exiting.'
grep -a -q '^Warning 25010\.Demo warning: Orvane Tools Demo is being installed\.' "$log" ||
   fail "the warning of the true condition is not in the installer log"
! grep -a -q 'Warning 25011' "$log" || fail "the warning of a false condition was posted"
if [[ -f "$out/tray.txt" ]]; then
   grep -q $'^deleted icon 101\r\\?$' "$out/tray.txt" || fail "the dangling tray icon was not deleted"
   ! grep -q $'^deleted icon 100\r\\?$' "$out/tray.txt" || fail "the live tray icon was deleted"
fi
# Uninstall: the values go, the 64-bit DLL leaves the keys.
wine msiexec /x '{8E0A5C53-3C2B-4F5B-9D47-61C0F1A2B7E4}' /qn >/dev/null 2>&1 || fail "msiexec /x failed"
[[ -z "$(reg_value '' Dword)" ]] || fail "Dword still there after the uninstall"
ca_log="$out/wineprefix/drive_c/users/$(id -un)/Temp/ovinst.log"   # the uninstall's lines too
ca_line 'Deleting value HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane, Inc.\\Orvane Tools Demo\\Demo -> Dword'
wineserver -k >/dev/null 2>&1 || true

[[ $failures -eq 0 ]] && echo "package end-to-end: all checks passed"
exit $((failures > 0))
