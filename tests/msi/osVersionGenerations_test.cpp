// The OS-version custom actions on the Windows releases Wine can pretend to
// be. Wine reports another Windows to one program when
// HKCU\Software\Wine\AppDefaults\<file name>\Version names it; the probe
// (tests/msi/probe) opens its own installer session under that Windows, so
// the installer's VersionNT, the library's version reads and the custom
// actions all see the same release. The expectations are what a real system
// with Wine's version data (see the table below) must give.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "common/osInfo.h"
#include "lib/misc/ownedHandle.h"
#include "tests/msi/msiSession.h"

#ifndef OV_PROBE_PATH
#error "OV_PROBE_PATH (host path of the built os_version_probe.exe) must be defined by the build"
#endif

using namespace msitest;

namespace {

const wchar_t kProbeName[] = L"os_version_probe.exe";
const wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\os_version_probe.exe";

// Runs the probe with Wine reporting `version` to it and returns its
// "NAME=value" lines.
std::map<std::string, std::string> RunProbe(const std::wstring &probe, const wchar_t *version)
{
   std::map<std::string, std::string> out;
   LONG rc = RegSetKeyValueW(HKEY_CURRENT_USER, kAppDefaults, L"Version", REG_SZ, version,
                             static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t)));
   if (rc != ERROR_SUCCESS) {
      ADD_FAILURE() << "cannot set the Wine version: " << rc;
      return out;
   }

   SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
   HANDLE readRaw = nullptr;
   HANDLE writeRaw = nullptr;
   if (!CreatePipe(&readRaw, &writeRaw, &inherit, 0)) {
      ADD_FAILURE() << "CreatePipe: " << GetLastError();
      return out;
   }
   KernelHandle readEnd(readRaw);
   KernelHandle writeEnd(writeRaw);
   SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);

   STARTUPINFOW si = {};
   si.cb = sizeof si;
   si.dwFlags = STARTF_USESTDHANDLES;
   si.hStdOutput = writeEnd.Get();
   si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
   si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
   PROCESS_INFORMATION pi = {};
   std::wstring commandLine = L"\"" + probe + L"\"";
   if (!CreateProcessW(probe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                       nullptr, &si, &pi)) {
      ADD_FAILURE() << "cannot start the probe: " << GetLastError();
      return out;
   }
   KernelHandle process(pi.hProcess);
   KernelHandle thread(pi.hThread);
   writeEnd.Reset();

   std::string text;
   char chunk[512];
   DWORD got = 0;
   while (ReadFile(readEnd.Get(), chunk, sizeof chunk, &got, nullptr) && got > 0) {
      text.append(chunk, got);
   }
   WaitForSingleObject(process.Get(), INFINITE);
   DWORD exitCode = ~0u;
   GetExitCodeProcess(process.Get(), &exitCode);
   EXPECT_EQ(0u, exitCode) << text;

   size_t start = 0;
   while (start < text.size()) {
      size_t end = text.find('\n', start);
      std::string line = text.substr(start, end == std::string::npos ? end : end - start);
      if (!line.empty() && line.back() == '\r') {
         line.pop_back();
      }
      size_t eq = line.find('=');
      if (eq != std::string::npos) {
         out[line.substr(0, eq)] = line.substr(eq + 1);
      }
      start = end == std::string::npos ? text.size() : end + 1;
   }
   return out;
}

TEST(OsVersionGenerations, CustomActionsReportEachWindowsWineCanBe)
{
   // Wine 8's data per release (version, build, product type, service pack,
   // suite 0x100 or 0, GetProductInfo 28 for clients and 7 for servers,
   // SM_SERVERR2 0, x64) and what they must give. Wine's quirks are kept as
   // they are: its "win7" is a server type and its "win2008r2" a client.
   struct Case {
      const wchar_t *wineVersion;
      const char *versionNT;
      OSType osType;
      const char *sysVer;
      const char *r2Line;
   };
   const Case cases[] = {
      {L"nt40", "400", OS_WINNT4, "", ""},
      {L"win2k", "500", OS_WIN2000, ":WIN2000:WINDOWS 2000 PROFESSIONAL:SPMAJ=4:SPMIN=0:BUILD=2195:", ""},
      {L"winxp", "501", OS_WINXP, ":XP:WINDOWS XP PROFESSIONAL:SPMAJ=3:SPMIN=0:BUILD=2600:", ""},
      {L"winxp64", "502", OS_WIN2003,
       ":XP:WINDOWS XP PROFESSIONAL X64 EDITION:SPMAJ=2:SPMIN=0:BUILD=3790:",
       "Win2003 R2 not found."},
      {L"win2003", "502", OS_WIN2003,
       ":WIN2003:WINDOWS SERVER 2003:STANDARD X64 EDITION:SPMAJ=2:SPMIN=0:BUILD=3790:",
       "Win2003 R2 not found."},
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
   const std::wstring probe = ProcessFolder() + kProbeName;
   ASSERT_TRUE(CopyFileW(host.c_str(), probe.c_str(), FALSE)) << GetLastError();

   for (const Case &c : cases) {
      SCOPED_TRACE(Utf8(c.wineVersion));
      std::map<std::string, std::string> got = RunProbe(probe, c.wineVersion);
      EXPECT_EQ(c.versionNT, got["VersionNT"]);
      // A 64-bit installer sets VersionNT64 to the same number.
      EXPECT_EQ(c.versionNT, got["VersionNT64"]);
      EXPECT_EQ(std::to_string(c.osType), got["OSTYPE"]);
      EXPECT_EQ(c.sysVer, got["OVSYSVER"]);
      EXPECT_EQ(c.r2Line, got["R2LINE"]);
      EXPECT_EQ("", got["WIN2003R2"]);
      EXPECT_EQ("0,0", got["RESULTS"]);
   }
   RegDeleteTreeW(HKEY_CURRENT_USER, kAppDefaults);
   RegDeleteKeyW(HKEY_CURRENT_USER, kAppDefaults);
   DeleteFileW(probe.c_str());
}

}  // namespace
