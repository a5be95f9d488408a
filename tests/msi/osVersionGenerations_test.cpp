// The OS-version custom actions on the Windows releases Wine can pretend to
// be: Wine reports another Windows to the probe (tests/msi/probe) when
// HKCU\Software\Wine\AppDefaults\<its file name>\Version names it, to its
// installer session and the library alike.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "common/osInfo.h"
#include "tests/msi/msiSession.h"

#ifndef OV_PROBE_PATH
#error "OV_PROBE_PATH (host path of the built os_version_probe.exe) must be defined by the build"
#endif

using namespace msitest;

namespace {

const wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\os_version_probe.exe";

// The probe's output, with Wine reporting `version` to it, and its exit code.
std::string RunProbe(const std::wstring &probe, const wchar_t *version)
{
   LONG rc = RegSetKeyValueW(HKEY_CURRENT_USER, kAppDefaults, L"Version", REG_SZ, version,
                             static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t)));
   FILE *pipe = rc == ERROR_SUCCESS ? _wpopen((L"\"" + probe + L"\"").c_str(), L"rb") : nullptr;
   if (pipe == nullptr) {
      return "cannot set the Wine version (" + std::to_string(rc) + ") or start the probe";
   }
   std::string text;
   for (int c; (c = fgetc(pipe)) != EOF;) {
      if (c != '\r') {
         text += static_cast<char>(c);
      }
   }
   return text + "exit " + std::to_string(_pclose(pipe));
}

TEST(OsVersionGenerations, CustomActionsReportEachWindowsWineCanBe)
{
   // What Wine 8's data per release must give. Wine's quirks are kept: its
   // "win7" is a server type and its "win2008r2" a client.
   const struct {
      const wchar_t *wineVersion;
      const char *versionNT;
      OSType osType;
      const char *sysVer, *r2Line;
   } cases[] = {
      {L"nt40", "400", OS_WINNT4, "", ""},
      {L"win2k", "500", OS_WIN2000, ":WIN2000:WINDOWS 2000 PROFESSIONAL:SPMAJ=4:SPMIN=0:BUILD=2195:", ""},
      {L"winxp", "501", OS_WINXP, ":XP:WINDOWS XP PROFESSIONAL:SPMAJ=3:SPMIN=0:BUILD=2600:", ""},
      {L"winxp64", "502", OS_WIN2003,
       ":XP:WINDOWS XP PROFESSIONAL X64 EDITION:SPMAJ=2:SPMIN=0:BUILD=3790:", "Win2003 R2 not found.|"},
      {L"win2003", "502", OS_WIN2003,
       ":WIN2003:WINDOWS SERVER 2003:STANDARD X64 EDITION:SPMAJ=2:SPMIN=0:BUILD=3790:",
       "Win2003 R2 not found.|"},
      {L"vista", "600", OS_VISTA, ":VISTA:WINDOWS VISTA:BIT=64:SPMAJ=2:SPMIN=0:BUILD=6002:", ""},
      {L"win2008", "600", OS_VISTA,
       ":WIN2008:WINDOWS SERVER 2008:STANDARD EDITION:BIT=64:SPMAJ=2:SPMIN=0:BUILD=6002:", ""},
      {L"win7", "601", OS_VISTA,
       ":WIN2008:WINDOWS SERVER 2008 R2:STANDARD EDITION:BIT=64:SPMAJ=1:SPMIN=0:BUILD=7601:", ""},
      {L"win2008r2", "601", OS_WIN7, ":WIN7:WINDOWS 7:BIT=64:SPMAJ=1:SPMIN=0:BUILD=7601:", ""},
      // 6.2 has no release token of its own. Wine's installer publishes
      // VersionNT 603 here, while GetVersionExA in a program without a
      // compatibility manifest (ours) stops at 6.2.
      {L"win10", "603", OS_WIN7, ":BIT=64:SPMAJ=0:SPMIN=0:BUILD=9200:", ""},
   };
   std::wstring host = L"\\\\?\\unix" + Wide(OV_PROBE_PATH);
   std::replace(host.begin(), host.end(), L'/', L'\\');
   const std::wstring probe = ProcessFolder() + L"os_version_probe.exe";
   ASSERT_TRUE(CopyFileW(host.c_str(), probe.c_str(), FALSE)) << GetLastError();
   for (const auto &c : cases) {
      SCOPED_TRACE(Utf8(c.wineVersion));
      // A 64-bit installer sets VersionNT64 to VersionNT.
      EXPECT_EQ("VersionNT=" + std::string(c.versionNT) + "\nVersionNT64=" + c.versionNT +
                   "\nOSTYPE=" + std::to_string(c.osType) + "\nOVSYSVER=" + c.sysVer +
                   "\nWIN2003R2=\nLINES=Checking System Version|Done System Version|Win2003 R2 detection|" +
                   c.r2Line + "\nRESULTS=0,0\nexit 0",
                RunProbe(probe, c.wineVersion));
   }
   RegDeleteTreeW(HKEY_CURRENT_USER, kAppDefaults);
   RegDeleteKeyW(HKEY_CURRENT_USER, kAppDefaults);
   DeleteFileW(probe.c_str());
}

}  // namespace
