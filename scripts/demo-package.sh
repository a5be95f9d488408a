#!/usr/bin/env bash
# Builds the demo package (examples/demo/demo.wxs) around the built DLL and
# the test programs it installs: wixl for the standard tables, msibuild for
# the custom tables wixl cannot write. `make demo` installs it; the package
# checker's test checks it.
#
# Usage: scripts/demo-package.sh BUILD_WIN_DIR STAGE_DIR   (makes STAGE_DIR/demo.msi)
set -euo pipefail

root="$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.." && pwd -P)"
[[ $# -eq 2 ]] || { echo "usage: $0 BUILD_WIN_DIR STAGE_DIR" >&2; exit 2; }
win="$(cd -- "$1" && pwd -P)"
stage="$2"
[[ -f "$win/ovinstutil.dll" ]] || { echo "demo-package: $win/ovinstutil.dll is not built" >&2; exit 1; }
rm -rf -- "$stage"
mkdir -p -- "$stage"
# wixl finds files by names relative to the folder it runs in.
# Processes family: the COM server the package installs and the program
# that stands in for the helper and the virtual machine process.
# Services and drivers: the test service and the kernel driver it installs.
for program in ov_com_plain.dll ov_sleeper.exe ov_test_service.exe ov_test_driver.sys; do
   [[ -f "$win/$program" ]] || cmake --build "$win" --target "${program%.*}" >&2
   cp -- "$win/$program" "$stage/"
done
cp -- "$root/examples/demo/demo.wxs" "$root/examples/demo/README.txt" "$root/examples/demo/ovdemo.inf" \
   "$win/ovinstutil.dll" "$stage/"
(cd -- "$stage" && wixl -a x64 -D DllPath=ovinstutil.dll -D ReadmePath=README.txt \
    -D ComServerPath=ov_com_plain.dll -D ServicePath=ov_test_service.exe -D DriverPath=ov_test_driver.sys \
    -D InfPath=ovdemo.inf \
    -o demo.msi demo.wxs 2> >(grep -v -e 'GLib-GIO-CRITICAL' -e '^$' >&2))
msi="$stage/demo.msi"
# wixl writes no rollback flag: the rollback actions get their whole type
# here (a DLL in the Binary table 0x1, result ignored 0x40, rollback 0x100,
# in-script 0x400, no impersonation 0x800).
for action in OVRegSvrRollback OVUnregSvrRollback OVInstallDemoDriverRollback OVInstallDemoServiceRollback \
              OVUninstallDemoDriverRollback OVUninstallDemoServiceRollback \
              OVInstallInfDemoRollback OVUninstallInfDemoRollback; do
   msibuild "$msi" -q "UPDATE \`CustomAction\` SET \`Type\` = 3393 WHERE \`Action\` = '$action'"
done
# Processes family: OVAppSearch's table (wixl has no custom tables). Rows:
# a running program, a service's path, its state, a service that is absent.
msibuild "$msi" -q "CREATE TABLE \`OVAppSearch\` (\`Property\` CHAR(72) NOT NULL, \`FileName\` CHAR(255) NOT NULL, \`Attributes\` SHORT NOT NULL PRIMARY KEY \`Property\`)"
for row in "OV_VM_PROCESS|orvane-ovx|1" "OV_RPCSS_PATH|RpcSs|2" "OV_RPCSS_STATE|RpcSs|3" \
           "OV_NO_SUCH_SERVICE|OvDemoNoSuchService|2"; do
   IFS='|' read -r property file attributes <<<"$row"
   msibuild "$msi" -q "INSERT INTO \`OVAppSearch\` (\`Property\`, \`FileName\`, \`Attributes\`) VALUES ('$property', '$file', $attributes)"
done
# Registry table, registry security, warnings and message boxes, tray cleanup:
# wixl has no custom tables: the OVRegistry64 rows (one of every encoding,
# under the product's key), the OVDisplayWarnings rows and their Error
# messages go in with msibuild.
demo_key='SOFTWARE\Orvane, Inc.\Orvane Tools Demo\Demo'
msibuild "$msi" -q "CREATE TABLE \`OVRegistry64\` (\`Registry\` CHAR(72) NOT NULL, \`Root\` SHORT, \`Key\` CHAR(255), \`Name\` CHAR(255), \`Value\` LONGCHAR, \`Component_\` CHAR(72) NOT NULL PRIMARY KEY \`Registry\`)"
for row in "r1|Dword|#42" "r2|FromProperty|#[DEMO_NUMBER]" "r3|List|a[~]b[~]c" "r4|Folder|[INSTALLDIR]" \
           "r5||Orvane Tools Demo" "r6|Text|plain text"; do
   IFS='|' read -r id name value <<<"$row"
   msibuild "$msi" -q "INSERT INTO \`OVRegistry64\` (\`Registry\`, \`Root\`, \`Key\`, \`Name\`, \`Value\`, \`Component_\`) VALUES ('$id', 2, '$demo_key', '$name', '$value', 'DemoRegistry')"
done
msibuild "$msi" -q "INSERT INTO \`OVRegistry64\` (\`Registry\`, \`Root\`, \`Key\`, \`Name\`, \`Value\`, \`Component_\`) VALUES ('r7', 2, '$demo_key\\KeyOnly', '+', '', 'DemoRegistry')"
msibuild "$msi" -q "CREATE TABLE \`OVDisplayWarnings\` (\`Condition\` CHAR(255) NOT NULL, \`Message\` SHORT PRIMARY KEY \`Condition\`)"
msibuild "$msi" -q "INSERT INTO \`OVDisplayWarnings\` (\`Condition\`, \`Message\`) VALUES ('NOT Installed', 25010)"
msibuild "$msi" -q "INSERT INTO \`OVDisplayWarnings\` (\`Condition\`, \`Message\`) VALUES ('VersionNT < 500', 25011)"
msibuild "$msi" -q "INSERT INTO \`Error\` (\`Error\`, \`Message\`) VALUES (25010, 'Demo warning: [ProductName] is being installed.')"
msibuild "$msi" -q "INSERT INTO \`Error\` (\`Error\`, \`Message\`) VALUES (25011, 'Demo warning for Windows before 2000.')"
msibuild "$msi" -q "INSERT INTO \`Error\` (\`Error\`, \`Message\`) VALUES (25012, 'Demo question: continue?')"
msibuild "$msi" -q "INSERT INTO \`Error\` (\`Error\`, \`Message\`) VALUES (26000, 'Could not reset the access rights of [ERROR_RESET_REG_SECURITY_KEY].')"
# The other messages the library posts: the driver actions' failures and no
# drive with room for the product.
msibuild "$msi" -q "INSERT INTO \`Error\` (\`Error\`, \`Message\`) VALUES (25030, 'Could not install the service [2].')"
msibuild "$msi" -q "INSERT INTO \`Error\` (\`Error\`, \`Message\`) VALUES (25031, 'Could not remove the service [2]; it goes at the next restart.')"
msibuild "$msi" -q "INSERT INTO \`Error\` (\`Error\`, \`Message\`) VALUES (26002, 'No fixed drive has room for [ProductName].')"
