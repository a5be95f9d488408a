// Custom actions that publish the Windows version as installer properties.
#include <cctype>
#include <string>

#include "common/msiUtil.h"
#include "common/osInfo.h"
#include "customActions/caFrame.h"
#include "lib/misc/ownedHandle.h"
#include "lib/misc/win32uRegistry.h"

namespace {

constexpr int kWin2003Family = 502;

// GetSystemMetrics index of the Windows Server 2003 R2 flag.
constexpr int kSmServerR2 = 89;

const char kCurrentVersionKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\";

// KEY_READ as the value 0x20019, in the native view: the values read are
// the same in both views.
constexpr REGSAM kReadAccess = 0x20019;

UINT DetectWin2003R2(MSIHANDLE install)
{
   Inst_LogCA("Win2003 R2 detection");
   const int versionNT = MsiUtil_GetPropertyInt(install, "VersionNT");
   const int versionNT64 = MsiUtil_GetPropertyInt(install, "VersionNT64");
   int r2 = 0;
   if (versionNT == kWin2003Family || versionNT64 == kWin2003Family) {
      r2 = GetSystemMetrics(kSmServerR2);
      Inst_LogCA("Win2003 R2 %sfound.", r2 != 0 ? "" : "not ");
   }
   // Set in every case: the empty value removes a stale property.
   MsiUtil_SetProperty(install, "WIN2003R2", r2 != 0 ? "1" : "");
   return ERROR_SUCCESS;
}

UINT SetOVSysVer(MSIHANDLE install)
{
   Inst_LogCA("Checking System Version");
   std::string version = Util_GetSystemVersionString();
   for (char &c : version) {
      c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
   }
   MsiUtil_SetProperty(install, "OVSYSVER", version.c_str());
   Inst_LogCA("Done System Version");
   return ERROR_SUCCESS;
}

// A REG_DWORD of exactly four bytes, nothing else.
bool QueryDword(HKEY key, const char *name, DWORD &value)
{
   DWORD type = REG_NONE;
   DWORD size = sizeof value;
   LONG rc = Win32U_RegQueryValueEx(key, name, nullptr, &type,
                                    reinterpret_cast<LPBYTE>(&value), &size);
   return rc == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value;
}

// Windows 10 and later report 6.2 to programs without a manifest that
// names them; the installer's VersionNT then says 602. The registry keeps
// the real numbers.
void ReplaceVersionNT(MSIHANDLE install)
{
   RegKeyHandle key;
   if (Win32U_RegOpenKeyEx(HKEY_LOCAL_MACHINE, kCurrentVersionKey, 0, kReadAccess, key.Out()) !=
       ERROR_SUCCESS) {
      Inst_LogCA("Couldn't open SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\");
      return;
   }
   DWORD major = 0;
   DWORD minor = 0;
   if (!QueryDword(key.Get(), "CurrentMajorVersionNumber", major)) {
      Inst_LogCA("Couldn't query SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\"
                 "#CurrentMajorVersionNumber");
      return;
   }
   if (!QueryDword(key.Get(), "CurrentMinorVersionNumber", minor)) {
      Inst_LogCA("Couldn't query SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\"
                 "#CurrentMinorVersionNumber");
      return;
   }
   if (major < 10) {
      Inst_LogCA("Registry Major Version < 10, ignoring");
      return;
   }
   if (major > 99) {
      Inst_LogCA("Registry Major Version > 99, ignoring");
      return;
   }
   if (minor > 99) {
      Inst_LogCA("Registry Minor Version > 99, ignoring");
      return;
   }
   const ResString version = Util_Sprintf("%02u%02u", static_cast<unsigned>(major),
                                          static_cast<unsigned>(minor));
   MsiUtil_SetProperty(install, "VersionNT", version.c_str());
   // The installer sets VersionNT64 only on 64-bit Windows.
   if (MsiUtil_GetPropertyInt(install, "VersionNT64") > 0) {
      MsiUtil_SetProperty(install, "VersionNT64", version.c_str());
   }
}

UINT SetRealVersionNT(MSIHANDLE install)
{
   Inst_LogCA("OVSetRealVersionNT running");
   ReplaceVersionNT(install);
   Inst_LogCA("OVSetRealVersionNT Done");
   return ERROR_SUCCESS;
}

} // namespace

OV_CUSTOM_ACTION OVDetectWin2003R2(MSIHANDLE install)
{
   return CaFrame("OVDetectWin2003R2", ERROR_SUCCESS, [&] { return DetectWin2003R2(install); });
}

OV_CUSTOM_ACTION OVSetOVSysVer(MSIHANDLE install)
{
   return CaFrame("OVSetOVSysVer", ERROR_SUCCESS, [&] { return SetOVSysVer(install); });
}

OV_CUSTOM_ACTION OVSetRealVersionNT(MSIHANDLE install)
{
   return CaFrame("OVSetRealVersionNT", ERROR_SUCCESS, [&] { return SetRealVersionNT(install); });
}
