#!/usr/bin/env bash
# Benchmark, not a test: OVWriteRegistryValues64 writing N OVRegistry64 rows
# against the installer's own WriteRegistryValues writing the same N values
# from its Registry table, in one `wine msiexec /i /qn` run, with the log at
# its default level (every "Creating" line and the library's I1 lines
# written).
#
# Both are timed in the deferred phase, where the standard action really
# writes: silent OVMessageBox calls (deferred, each leaves a time-stamped
# "OVMessageBox running." line in ovinst.log) mark the script before
# WriteRegistryValues, between the two, and after each of our actions:
#   standard = mark 2 - mark 1   (WriteRegistryValues + one action call)
#   ours     = mark 3 - the action's own opening line (its rows + one call)
#   floor    = mark 4 - OVRemoveRegistryValues64's opening line
# The floor is the remove action over the same rows while their component
# is being installed: it fetches every row and reads its component, then
# skips it, so it costs what the table walk alone costs a custom action,
# whose every MsiViewFetch is a call into the installer's process.
# Half of the values are strings, half numbers, in both tables.
#
# Usage: bench/registry_table_msiexec.sh BUILD_WIN_DIR [ROWS] [OUT_DIR]
set -euo pipefail

here="$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd -P)"
root="$here/.."
win="$(cd -- "$1" && pwd -P)"
rows="${2:-1000}"
out="${3:-$win/../bench-registry}"
mkdir -p -- "$out"
out="$(cd -- "$out" && pwd -P)"
dll="$win/ovinstutil.dll"
[[ -f "$dll" ]] || { echo "bench: $dll is not built" >&2; exit 1; }

stage="$out/stage"
rm -rf -- "$stage"
mkdir -p -- "$stage"
cp -- "$dll" "$stage/"
value() { if (( $1 % 2 )); then echo "#$1"; else echo "value number $1"; fi; }
{
   cat <<'HEAD'
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="6B1D2E3F-4A5B-4C6D-8E7F-90A1B2C3D4E5" Name="Orvane Registry Bench" Language="1033"
           Version="1.0.0" Manufacturer="Orvane, Inc." UpgradeCode="7C2E3F40-5B6C-4D7E-9F80-A1B2C3D4E5F6">
    <Package InstallerVersion="500" Compressed="yes" InstallScope="perMachine" />
    <Binary Id="OvInstUtil" SourceFile="ovinstutil.dll" />
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Component Id="Bench" Guid="8D3F4051-6C7D-4E8F-A091-B2C3D4E5F607" Win64="yes">
        <RegistryValue Root="HKLM" Key="SOFTWARE\OvBench" Name="Installed" Type="integer" Value="1" KeyPath="yes" />
HEAD
   for ((i = 1; i <= rows; i++)); do
      v="$(value "$i")"
      if [[ "$v" == \#* ]]; then
         echo "        <RegistryValue Root=\"HKLM\" Key=\"SOFTWARE\\OvBench\\Standard\" Name=\"v$i\" Type=\"integer\" Value=\"${v#\#}\" />"
      else
         echo "        <RegistryValue Root=\"HKLM\" Key=\"SOFTWARE\\OvBench\\Standard\" Name=\"v$i\" Type=\"string\" Value=\"$v\" />"
      fi
   done
   cat <<'TAIL'
      </Component>
    </Directory>
    <Feature Id="Main" Level="1"><ComponentRef Id="Bench" /></Feature>
    <CustomAction Id="Mark1" BinaryKey="OvInstUtil" DllEntry="OVMessageBox" Execute="deferred" Return="check" />
    <CustomAction Id="Mark2" BinaryKey="OvInstUtil" DllEntry="OVMessageBox" Execute="deferred" Return="check" />
    <CustomAction Id="Mark3" BinaryKey="OvInstUtil" DllEntry="OVMessageBox" Execute="deferred" Return="check" />
    <CustomAction Id="Mark4" BinaryKey="OvInstUtil" DllEntry="OVMessageBox" Execute="deferred" Return="check" />
    <CustomAction Id="OVRemoveRegistryValues64" BinaryKey="OvInstUtil" DllEntry="OVRemoveRegistryValues64"
                  Execute="deferred" Return="check" />
    <CustomAction Id="OVWriteRegistryValues64" BinaryKey="OvInstUtil" DllEntry="OVWriteRegistryValues64"
                  Execute="deferred" Return="check" />
    <InstallExecuteSequence>
      <Custom Action="Mark1" Sequence="4990" />
      <WriteRegistryValues Sequence="5000" />
      <Custom Action="Mark2" Sequence="5010" />
      <Custom Action="OVWriteRegistryValues64" Sequence="5020" />
      <Custom Action="Mark3" Sequence="5030" />
      <Custom Action="OVRemoveRegistryValues64" Sequence="5040" />
      <Custom Action="Mark4" Sequence="5050" />
    </InstallExecuteSequence>
  </Product>
</Wix>
TAIL
} >"$stage/bench.wxs"
(cd -- "$stage" && wixl -a x64 -o bench.msi bench.wxs 2> >(grep -v -e 'GLib-GIO-CRITICAL' -e '^$' >&2))
msi="$stage/bench.msi"
{
   printf 'Registry\tRoot\tKey\tName\tValue\tComponent_\n'
   printf 's72\tI2\tS255\tS255\tS0\ts72\n'
   printf 'OVRegistry64\tRegistry\n'
   for ((i = 1; i <= rows; i++)); do
      printf 'r%s\t2\tSOFTWARE\\OvBench\\Ours\tv%s\t%s\tBench\n' "$i" "$i" "$(value "$i")"
   done
} >"$stage/OVRegistry64.idt"
(cd -- "$stage" && msibuild bench.msi -i OVRegistry64.idt)

prefix="$out/wineprefix"
bash "$root/scripts/wine-prefix.sh" "$prefix" >&2
source "$root/scripts/wine-env.sh"
ov_wine_env "$prefix"
drop="$prefix/drive_c/ovbench"
mkdir -p -- "$drop"
cp -- "$msi" "$drop/bench.msi"
temp_dir="$prefix/drive_c/users/$(id -un)/Temp"
(cd -- "$drop" && wine msiexec /x 'C:\ovbench\bench.msi' /qn >/dev/null 2>&1) || true
wine reg delete 'HKLM\SOFTWARE\OvBench' /f >/dev/null 2>&1 || true
rm -f -- "$temp_dir/ovinst.log"
(cd -- "$drop" && wine msiexec /i 'C:\ovbench\bench.msi' /qn /l*v 'C:\ovbench\install.log') || {
   echo "bench: msiexec /i failed ($?)" >&2
   exit 1
}
log="$temp_dir/ovinst.log"
# Milliseconds of the day of the first line after line `after` that holds `text`.
stamp() {
   awk -v text="$1" -v after="${2:-0}" 'NR > after && index($0, text) {
      split(substr($0, 12, 12), t, /[:.]/); print NR, ((t[1] * 60 + t[2]) * 60 + t[3]) * 1000 + t[4]; exit }' "$log"
}
read -r l1 m1 < <(stamp "I0: OVMessageBox running.")
read -r l2 m2 < <(stamp "I0: OVMessageBox running." "$l1")
read -r lo mo < <(stamp "I0: OVWriteRegistryValues64 running" "$l2")
read -r l3 m3 < <(stamp "I0: OVMessageBox running." "$lo")
read -r lr mr < <(stamp "I0: OVRemoveRegistryValues64 running" "$l3")
read -r l4 m4 < <(stamp "I0: OVMessageBox running." "$lr")
standard=$((m2 - m1))
ours=$((m3 - mo))
floor=$((m4 - mr))
written="$(wine reg query 'HKLM\SOFTWARE\OvBench\Ours' 2>/dev/null | grep -c ' v[0-9]' || true)"
written_std="$(wine reg query 'HKLM\SOFTWARE\OvBench\Standard' 2>/dev/null | grep -c ' v[0-9]' || true)"
lines="$(awk -v a="$lo" -v b="$l3" 'NR >= a && NR < b' "$log" | wc -l)"
wineserver -k >/dev/null 2>&1 || true
echo "rows: $rows (values written: standard $written_std, OVWriteRegistryValues64 $written)"
echo "WriteRegistryValues (deferred, with one action call): $standard ms"
echo "OVWriteRegistryValues64 (with its call, $lines log lines): $ours ms"
echo "floor: the same rows fetched and skipped by OVRemoveRegistryValues64: $floor ms"
awk -v o="$ours" -v s="$standard" -v f="$floor" 'BEGIN {
   if (s <= 0) { print "ratio: n/a"; exit }
   printf "ratio: %.2f (floor %.2f, ours beyond the floor %.2f)\n", o / s, f / s, (o - f) / s }'
