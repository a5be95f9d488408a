#!/usr/bin/env bash
# Fails unless every DLL that a PE file imports is a Windows system DLL, so the
# custom-action DLL carries its C++ runtime inside instead of needing
# libstdc++-6.dll, libgcc_s_seh-1.dll or libwinpthread-1.dll beside it.
#
# Usage: scripts/check-dll-imports.sh OBJDUMP FILE.dll
#   OBJDUMP is x86_64-w64-mingw32-objdump (or any objdump that reads PE).
set -uo pipefail

if [[ $# -ne 2 ]]; then
   echo "usage: $0 OBJDUMP FILE.dll" >&2
   exit 2
fi
objdump="$1"
file="$2"

if ! headers="$("$objdump" -p -- "$file")"; then
   echo "FAIL: $objdump -p $file failed" >&2
   exit 1
fi
mapfile -t imports < <(sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' <<<"$headers" | tr -d '\r')
if [[ ${#imports[@]} -eq 0 ]]; then
   echo "FAIL: no import table found in $file" >&2
   exit 1
fi

# System DLLs a custom action may use. Anything else (a MinGW runtime DLL, or
# a DLL of our own) would have to ship beside the DLL in the installer.
allowed_re='^(kernel32|kernelbase|ntdll|user32|gdi32|advapi32|shell32|shlwapi|ole32|oleaut32|msi|setupapi|cfgmgr32|newdev|version|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+|rpcrt4|secur32|crypt32|bcrypt|ncrypt|wintrust|userenv|wtsapi32|netapi32|iphlpapi|ws2_32|psapi|dbghelp|imagehlp|comctl32|comdlg32|mpr|powrprof|winmm|winhttp|wininet|dnsapi|sspicli|authz|propsys|uxtheme)\.dll$'
runtime_re='^(libstdc\+\+|libgcc|libwinpthread|libssp|libgomp|libatomic|libquadmath)'

bad=0
for dll in "${imports[@]}"; do
   lower="${dll,,}"
   if [[ "$lower" =~ $runtime_re ]]; then
      echo "FAIL: $file imports the MinGW runtime DLL $dll (link it statically)"
      bad=1
   elif [[ "$lower" =~ $allowed_re ]]; then
      echo "ok:   $dll"
   else
      echo "FAIL: $file imports $dll, which is not a Windows system DLL"
      bad=1
   fi
done

if [[ $bad -ne 0 ]]; then
   exit 1
fi
echo "PASS: $(basename -- "$file") imports only Windows system DLLs (${#imports[@]})"
