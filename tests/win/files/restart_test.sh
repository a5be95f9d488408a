#!/usr/bin/env bash
# Deletion at the next restart, which needs a restart: in a prefix of its
# own (the restart would stop every program of a shared one), a running
# program's file is put aside by Util_DeleteFileW; the pending operation
# and the reboot-request entry are read while the wineserver lives, and
# after a wineserver restart (Wine's reboot) the file put aside is gone.
#
# Usage: restart_test.sh BENCH_DELETE_EXE FILE_HOLDER_EXE PREFIX
set -uo pipefail

here="$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd -P)"
exe="$1"
holder="$2"
prefix="$3"
bash "$here/../../../scripts/wine-prefix.sh" "$prefix" >&2 || exit 1
prefix="$(cd -- "$prefix" && pwd -P)"
source "$here/../../../scripts/wine-env.sh"
ov_wine_env "$prefix"
name="ovtest-restart"
scratch="$prefix/drive_c/$name"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

wineserver -k >/dev/null 2>&1
rm -rf -- "$scratch"
mkdir -p -- "$scratch"
cp -- "$holder" "$scratch/a.exe"
echo held >"$scratch/held"
# The program runs from the file to delete and holds another one open.
(cd -- "$scratch" && exec wine "C:\\$name\\a.exe" "C:\\$name\\held") </dev/null >/dev/null 2>&1 &
for _ in $(seq 1 100); do
   (cd -- "$scratch" && wine cmd /c del "C:\\$name\\held") >/dev/null 2>&1
   [[ -e "$scratch/held" ]] && break   # held open: the program runs
   echo held >"$scratch/held"
   sleep 0.3
done

out="$(bash "$here/../../../scripts/wine-run.sh" --prefix "$prefix" "$exe" "C:\\$name\\a.exe" 0 file 2>&1)"
echo "$out"
grep -q '^result 1' <<<"$out" || fail "Util_DeleteFileW did not report the file put aside"
[[ ! -e "$scratch/a.exe" && -e "$scratch/a.exe.tmp" ]] || fail "a.exe was not renamed to a.exe.tmp"
pending="$(wine reg query 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations 2>/dev/null | tr -d '\r')"
echo "$pending"
grep -qF "\\??\\C:\\$name\\a.exe.tmp" <<<"$pending" || fail "no pending delete of a.exe.tmp"
components="$(wine reg query 'HKLM\SOFTWARE\Orvane, Inc.\NeedReboot' /v Components 2>/dev/null | tr -d '\r')"
echo "$components"
grep -qE "REG_SZ +del@boot:C:\\\\$name\\\\a\.exe$" <<<"$components" || fail "no reboot request del@boot:C:\\$name\\a.exe"

# The restart: the wineserver ends (and the program with it); the next
# start performs the pending operations.
wineserver -k >/dev/null 2>&1
wait
wine cmd /c exit >/dev/null 2>&1
wineserver -w
[[ ! -e "$scratch/a.exe.tmp" ]] || fail "a.exe.tmp survived the restart"
wine reg query 'HKLM\SOFTWARE\Orvane, Inc.\NeedReboot' /v Components >/dev/null 2>&1 &&
   fail "the volatile reboot request survived the restart"
wineserver -k >/dev/null 2>&1
rm -rf -- "$scratch"
[[ $failures -eq 0 ]] && echo "delete at restart: all checks passed"
exit $((failures > 0))
