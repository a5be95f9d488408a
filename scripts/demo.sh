#!/usr/bin/env bash
# The project's main job, shown: builds the demo package around the built
# ovinstutil.dll (examples/demo/demo.wxs, with wixl), installs it under Wine
# with `msiexec /i /qn` and a verbose installer log, and prints what each
# custom action did: its result, the properties it set and the lines it
# wrote to ovinst.log.
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

# Each custom action of the package, in sequence order, with the properties
# it sets. The list grows with the custom actions.
actions=(
   "OVSetRealVersionNT|VersionNT VersionNT64"
   "OVSetOVSysVer|OVSYSVER"
   "OVDetectWin2003R2|WIN2003R2"
   "OVDecoupleChildInstaller|"
   # Registry table, registry security, warnings and message boxes, tray cleanup.
   "OVWriteRegistryValues64|"
   "OVResetRegSecurity|"
   "OVDisplayWarnings|"
   "OVMessageBox|MSGBOX_RTN"
   "OVCleanupTrayIcons|"
)

# --- the package ---------------------------------------------------------------
# wixl finds files by names relative to the folder it runs in.
stage="$out/stage"
rm -rf -- "$stage"
mkdir -p -- "$stage"
cp -- "$root/examples/demo/demo.wxs" "$root/examples/demo/README.txt" "$dll" "$stage/"
(cd -- "$stage" && wixl -a x64 -D DllPath=ovinstutil.dll -D ReadmePath=README.txt \
    -o demo.msi demo.wxs 2> >(grep -v -e 'GLib-GIO-CRITICAL' -e '^$' >&2))
msi="$stage/demo.msi"

# --- registry table, registry security, warnings and message boxes, tray cleanup
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

# A previous demo's install goes first, so that this run installs afresh;
# its log lines go with it.
(cd -- "$drop" && wine msiexec /x "$product_code" /qn >/dev/null 2>&1) || true
rm -f -- "$temp_dir/ovinst.log" "$drop/install.log"

registry_ui_tray start   # registry table, registry security, warnings and message boxes, tray cleanup
set +e
(cd -- "$drop" && wine msiexec /i 'C:\ovdemo\demo.msi' /qn /l*v 'C:\ovdemo\install.log')
rc=$?
set -e
registry_ui_tray stop
# Wine's msiexec returns once the install is done, but its services may still
# be flushing files; the installer log is complete when msiexec has exited.
cp -f -- "$drop/install.log" "$out/install.log" 2>/dev/null || : >"$out/install.log"
cp -f -- "$temp_dir/ovinst.log" "$out/ovinst.log" 2>/dev/null || : >"$out/ovinst.log"
# The verbose log is UTF-16 on some Wine versions; make it plain text.
if head -c2 "$out/install.log" | od -An -tx1 | grep -q 'ff fe'; then
   iconv -f UTF-16 -t UTF-8 "$out/install.log" >"$out/install.log.txt" &&
      mv -f -- "$out/install.log.txt" "$out/install.log"
fi
tr -d '\r' <"$out/install.log" >"$out/install.log.txt" && mv -f -- "$out/install.log.txt" "$out/install.log"

# --- the report --------------------------------------------------------------------
result_text() {
   case "$1" in
      1) echo "0 (success)" ;;
      2) echo "1602 (cancelled by the user)" ;;
      3) echo "1603 (failed the installation)" ;;
      0) echo "not run (condition false)" ;;
      "") echo "not run" ;;
      *) echo "installer return value $1" ;;
   esac
}
property() {
   grep -a -m1 "^Property(S): $1 = " "$out/install.log" | sed "s/^Property(S): $1 = //" || true
}

echo
echo "===== ovinstutil.dll demo"
echo "package   : $msi"
echo "installed : wine msiexec /i demo.msi /qn /l*v install.log  ->  exit code $rc"
echo "prefix    : $prefix (registry version 10.0 written for OVSetRealVersionNT)"
echo
for entry in "${actions[@]}"; do
   name="${entry%%|*}"
   props="${entry#*|}"
   ret="$(grep -a -m1 "^Action ended .*: $name\. Return value" "$out/install.log" |
          sed 's/.*Return value \([0-9]*\)\..*/\1/' || true)"
   printf '%-26s result: %s\n' "$name" "$(result_text "$ret")"
   for p in $props; do
      if grep -a -q "^Property(S): $p = " "$out/install.log"; then
         printf '%-26s   %s = %s\n' "" "$p" "$(property "$p")"
      else
         printf '%-26s   %s is not set\n' "" "$p"
      fi
   done
done
echo
echo "Registration $registration, value Clients:"
echo "   written by the package (a parent's nested install): $parent_code"
echo "   after OVDecoupleChildInstaller                     : $(clients_value)"
echo
registry_ui_tray report   # registry table, registry security, warnings and message boxes, tray cleanup
echo
echo "----- ovinst.log (C:\\users\\$(id -un)\\Temp\\ovinst.log)"
sed 's/\r$//' "$out/ovinst.log"
echo "-----"
echo "installer log: $out/install.log"
exit "$rc"
