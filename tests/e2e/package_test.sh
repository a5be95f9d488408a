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

# --- files and install location ----------------------------------------------
for action in OVReadInProperties OVValidateINSTALLDIR OVAutoSelectInstallDrive; do
   grep -a -q "^Action ended .*: $action\. Return value 1\.$" "$log" ||
      fail "$action did not end with success in the installer log"
done
expect_property DEMO_GREETING '^Hello from demo\.txt$'
expect_property BadINSTALLDIR '^0$'
expect_property INSTALLDIR '^C:\\Program Files\\Orvane Tools Demo\\$'
for text in "Reading in properties" "Validating installation directory" "AutoSelect installation drive." \
            "Drive C has [0-9]+"; do
   grep -a -q -E "\| $tag\| I0: $text"$'\r'"?$" "$ca_log" || fail "no line '$text' with tag $tag in ovinst.log"
done
# A repair with the package's folder in place goes on; the uninstall then
# deletes the leftovers the file tables do not know.
source "$here/../../scripts/wine-env.sh"
ov_wine_env "$out/wineprefix"
drop="$WINEPREFIX/drive_c/ovdemo"
ca_temp="$WINEPREFIX/drive_c/users/$(id -un)/Temp/ovinst.log"
(cd -- "$drop" && wine msiexec /i 'C:\ovdemo\demo.msi' REINSTALL=ALL REINSTALLMODE=omus /qn) >/dev/null 2>&1 ||
   fail "the repair did not succeed"
grep -a -q "| $tag| I0: OK to repair"$'\r'"\?$" "$ca_temp" || fail "OVIsRepairSafe did not allow the repair"
installed="$WINEPREFIX/drive_c/Program Files/Orvane Tools Demo"
mkdir -p -- "$installed/cache/sub"
echo x >"$installed/cache/sub/x.txt"
echo y >"$installed/leftover.log"
(cd -- "$drop" && wine msiexec /x 'C:\ovdemo\demo.msi' /qn) >/dev/null 2>&1 || fail "the uninstall failed"
grep -a -q "| $tag| I0: --- OVDeleteFilesAndFolders()"$'\r'"\?$" "$ca_temp" ||
   fail "OVDeleteFilesAndFolders did not run on uninstall"
[[ ! -e "$installed/cache" && ! -e "$installed/leftover.log" ]] || fail "the leftovers were not deleted"
wineserver -k >/dev/null 2>&1 || true

[[ $failures -eq 0 ]] && echo "package end-to-end: all checks passed"
exit $((failures > 0))
