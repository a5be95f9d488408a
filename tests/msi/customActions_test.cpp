// The custom actions through the built DLL's export table in real installer
// sessions: OVDetectWin2003R2, OVSetRealVersionNT and OVDecoupleChildInstaller
// against what the test sets up, and the OS-version actions on each Windows
// Wine can pretend to be: Wine reports another Windows to the probe
// (tests/msi/probe) when HKCU\Software\Wine\AppDefaults\<its file name>\Version
// names it, to its installer session and the library alike.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "common/osInfo.h"
#include "tests/msi/msiSession.h"
#include "tests/win/importSlot.h"

using namespace msitest;
using namespace std::string_literals;

namespace {

using Strings = std::vector<std::string>;

class CustomActions : public testing::Test {
protected:
   void SetUp() override { ASSERT_TRUE(session.Ok()) << session.Failure(); }

   // Runs the export and gives its transcript. Every line must carry the
   // custom actions' tag. With `only`, just the custom action's own lines
   // and the library lines that start with one of those prefixes.
   Strings Run(const char *exportName, UINT rc = 0, const Strings &only = {})
   {
      LogMark mark;
      EXPECT_EQ(rc, dll.Call(exportName, session.Handle()));
      for (const LogLine &line : mark.Lines()) {
         EXPECT_EQ(CustomActionTag(), line.tag) << line.text;
      }
      Strings lines;
      for (const std::string &line : mark.Transcript()) {
         bool kept = only.empty() || line.compare(0, 3, "I0 ") == 0;
         for (const std::string &prefix : only) {
            kept = kept || line.compare(3, prefix.size(), prefix) == 0;
         }
         if (kept) {
            lines.push_back(line);
         }
      }
      return lines;
   }

   LoadedDll dll;
   MsiSession session;
};

const std::string kGet = "I1 MsiUtil_GetPropertyString: Getting Property ";
const std::string kSet = "I1 MsiUtil_SetProperty: Setting property ";

// Wine's GetSystemMetrics(SM_SERVERR2) is always 0: for the "found" branch
// the DLL's import slot of user32!GetSystemMetrics is pointed at this.
int WINAPI R2SystemMetrics(int index)
{
   return index == SM_SERVERR2 ? 1 : GetSystemMetrics(index);
}

TEST_F(CustomActions, DetectWin2003R2LooksOnlyAtThe502Family)
{
   using Case = std::tuple<const char *, const char *, bool>;   // VersionNT, VersionNT64, in the family
   testutil::ImportSlot slot(dll.Module(), "user32.dll", "GetSystemMetrics");
   ASSERT_TRUE(slot.Valid()) << "the DLL does not import GetSystemMetrics";
   for (bool r2 : {false, true}) {
      r2 ? slot.Point(&R2SystemMetrics) : slot.Restore();
      for (auto [versionNT, versionNT64, family] : {Case{"601", "", false}, {"502", "", true}, {"", "502", true}}) {
         SCOPED_TRACE(std::string(r2 ? "R2 system, " : "") + "VersionNT '" + versionNT + "', VersionNT64 '" +
                      versionNT64 + "'");
         EXPECT_EQ(0u, session.Set("VersionNT", versionNT));
         EXPECT_EQ(0u, session.Set("VersionNT64", versionNT64));
         // A stale value shows that the property is written in every case.
         EXPECT_EQ(0u, session.Set("WIN2003R2", "stale"));
         Strings lines{"I0 Win2003 R2 detection", kGet + "VersionNT = " + versionNT,
                       kGet + "VersionNT64 = " + versionNT64};
         if (family) {
            lines.push_back(r2 ? "I0 Win2003 R2 found." : "I0 Win2003 R2 not found.");
         }
         lines.push_back(kSet + "WIN2003R2 = " + (family && r2 ? "1" : ""));
         EXPECT_EQ(lines, Run("OVDetectWin2003R2"));
         EXPECT_EQ(family && r2 ? "1" : "", session.Get("WIN2003R2"));
      }
   }
}

// With every level on, an action's session opens and closes with the Begin
// and End lines, and a session opened without a name says so.
TEST(CustomActionLog, EveryLevelShowsTheSessionsBeginAndEnd)
{
   const wchar_t key[] = L"SOFTWARE\\Wow6432Node\\Orvane, Inc.";
   const DWORD all = 0x7FF;
   ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, L"LogLevel", REG_DWORD, &all, sizeof all));
   {
      LoadedDll dll;   // reads the level at its first session
      MsiSession session;
      ASSERT_TRUE(session.Ok()) << session.Failure();
      session.Set("VersionNT", "601");
      session.Set("VersionNT64", "");
      LogMark mark;
      EXPECT_EQ(0u, dll.Call("OVDetectWin2003R2", session.Handle()));
      EXPECT_EQ((Strings{"XX Inst_SetupLogging: Begin Logging '<unspecified>' (LogLevel 0x000007ff)",
                         "I0 Win2003 R2 detection", kGet + "VersionNT = 601", kGet + "VersionNT64 = ",
                         kSet + "WIN2003R2 = ", "XX Inst_EndLogging: End Logging"}),
                mark.Transcript());
   }
   EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, key, L"LogLevel"));
}

const wchar_t kCurrentVersion[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

using Value = std::pair<DWORD, std::string>;   // type and bytes; REG_NONE: absent

// A value under kCurrentVersion written, or removed.
void Put(const wchar_t *name, const Value &v)
{
   LONG rc = v.first == REG_NONE ? RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kCurrentVersion, name)
                                 : RegSetKeyValueW(HKEY_LOCAL_MACHINE, kCurrentVersion, name, v.first,
                                                   v.second.data(), DWORD(v.second.size()));
   EXPECT_TRUE(rc == ERROR_SUCCESS || (v.first == REG_NONE && rc == ERROR_FILE_NOT_FOUND)) << rc;
}

// For the open failure: the version key cannot be opened, every other can.
decltype(&RegOpenKeyExW) gRealOpen = nullptr;
LSTATUS WINAPI RefuseVersionKey(HKEY root, LPCWSTR sub, DWORD options, REGSAM access, PHKEY out)
{
   if (sub != nullptr && wcsstr(sub, L"Windows NT\\CurrentVersion") != nullptr) {
      return ERROR_ACCESS_DENIED;
   }
   return gRealOpen(root, sub, options, access, out);
}

TEST_F(CustomActions, SetRealVersionNTTakesTheRegistryVersionFrom10On)
{
   const wchar_t *names[] = {L"CurrentMajorVersionNumber", L"CurrentMinorVersionNumber"};
   Value saved[2];   // as found, put back at the end
   for (int i : {0, 1}) {
      char data[64];
      DWORD type = REG_NONE, size = sizeof data;
      bool found = RegGetValueW(HKEY_LOCAL_MACHINE, kCurrentVersion, names[i], RRF_RT_ANY | RRF_NOEXPAND, &type,
                                data, &size) == ERROR_SUCCESS;
      saved[i] = found ? Value{type, std::string(data, size)} : Value{REG_NONE, ""};
   }
   testutil::ImportSlot open(dll.Module(), "advapi32.dll", "RegOpenKeyExW");
   ASSERT_TRUE(open.Valid());
   gRealOpen = open.Real<decltype(&RegOpenKeyExW)>();
   const std::string query = "I0 Couldn't query SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\#Current";
   const std::string below10 = "I0 Registry Major Version < 10, ignoring";
   auto dword = [](DWORD v) { return Value{REG_DWORD, std::string(reinterpret_cast<const char *>(&v), 4)}; };
   const Value absent{REG_NONE, ""}, text10{REG_SZ, std::string("1\0" "0\0\0\0", 6)};
   const Value shortTen{REG_DWORD, std::string("\x0a\0", 2)};
   auto set = [](const char *both, bool has64) {
      Strings lines{kSet + "VersionNT = " + both, kGet + "VersionNT64 = " + (has64 ? "601" : "")};
      has64 ? lines.push_back(kSet + "VersionNT64 = " + both) : void();
      return lines;
   };
   const struct {
      const char *label;
      Value major, minor;
      bool has64, refuseOpen;                  // VersionNT64 601 before (else empty)
      const char *versionNT, *versionNT64;     // VersionNT is 601 before
      Strings lines;   // between the opening and closing lines
   } cases[] = {
      {"10.0", dword(10), dword(0), true, false, "1000", "1000", set("1000", true)},
      {"10.0, VersionNT64 empty stays empty", dword(10), dword(0), false, false, "1000", "", set("1000", false)},
      {"10.5", dword(10), dword(5), true, false, "1005", "1005", set("1005", true)},
      {"99.99", dword(99), dword(99), true, false, "9999", "9999", set("9999", true)},
      {"6.3", dword(6), dword(3), true, false, "601", "601", {below10}},
      {"9.0", dword(9), dword(0), true, false, "601", "601", {below10}},
      {"100.0", dword(100), dword(0), true, false, "601", "601", {"I0 Registry Major Version > 99, ignoring"}},
      {"10.100", dword(10), dword(100), true, false, "601", "601", {"I0 Registry Minor Version > 99, ignoring"}},
      {"major as the string \"10\"", text10, dword(0), true, false, "601", "601", {query + "MajorVersionNumber"}},
      {"major a DWORD of two bytes", shortTen, dword(0), true, false, "601", "601", {query + "MajorVersionNumber"}},
      {"both absent", absent, absent, true, false, "601", "601", {query + "MajorVersionNumber"}},
      {"minor absent", dword(10), absent, true, false, "601", "601", {query + "MinorVersionNumber"}},
      {"the key refused", dword(10), dword(0), true, true, "601", "601",
       {"I0 Couldn't open SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\"}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      Put(names[0], c.major);
      Put(names[1], c.minor);
      EXPECT_EQ(0u, session.Set("VersionNT", "601"));
      EXPECT_EQ(0u, session.Set("VersionNT64", c.has64 ? "601" : ""));
      c.refuseOpen ? open.Point(&RefuseVersionKey) : open.Restore();
      Strings lines{"I0 OVSetRealVersionNT running"};
      lines.insert(lines.end(), c.lines.begin(), c.lines.end());
      lines.push_back("I0 OVSetRealVersionNT Done");
      EXPECT_EQ(lines, Run("OVSetRealVersionNT"));
      open.Restore();
      EXPECT_EQ(c.versionNT, session.Get("VersionNT"));
      EXPECT_EQ(c.versionNT64, session.Get("VersionNT64"));
   }
   for (int i : {0, 1}) {
      Put(names[i], saved[i]);
   }
}

// OVDecoupleChildInstaller against product registrations the test writes under
// HKEY_CLASSES_ROOT\Installer\Products, for codes no real product uses (the
// packed key name written out by hand).
const std::string kChild = "{0DEC0A1B-2C3D-4E5F-8A9B-C0D1E2F3A4B5}";
const std::string kParent = "{0DEC0A1B-0000-4000-8000-00000000CAFE}";
const std::string kChildKey = "Installer\\Products\\B1A0CED0D3C2F5E4A8B90C1D2E3F4A5B";
const std::wstring kChildKeyW = Wide(kChildKey);

bool KeyExists(const std::wstring &path)
{
   HKEY key = nullptr;
   bool exists = RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS;
   return exists && RegCloseKey(key) == ERROR_SUCCESS;
}

// "Clients" as "<type>: string|string|..." ("absent" when missing).
std::string Clients()
{
   wchar_t data[512] = {};
   DWORD type = REG_NONE, size = sizeof data - 2 * sizeof(wchar_t);
   if (RegGetValueW(HKEY_CLASSES_ROOT, kChildKeyW.c_str(), L"Clients", RRF_RT_ANY, &type, data,
                    &size) != ERROR_SUCCESS) {
      return "absent";
   }
   std::string shown = std::to_string(type) + ":";
   for (const wchar_t *s = data; *s != L'\0'; s += wcslen(s) + 1) {
      shown += (s == data ? " " : "|") + Utf8(s);
   }
   return shown;
}

TEST_F(CustomActions, DecoupleCutsANestedProductLooseAndLeavesOthersAlone)
{
   const std::string checking = "I1 MsiUtil_IsMsiNested: Checking Nested-ness of ProductCode: ";
   const std::string decoupled = "I1 MsiUtil_UnnestMsi: Successfully decoupled " + kChild + " from parent installer ";
   // The lines when `code` is found not nested for `reason`.
   auto notNested = [&](const std::string &code, const std::string &reason) {
      return Strings{checking + code, "E1 MsiUtil_IsMsiNested: " + reason,
                     "I1 MsiUtil_UnnestMsi: product code '" + code + "' is not nested.  Nothing to be done."};
   };
   const std::string multi = std::to_string(REG_MULTI_SZ) + ":";
   const std::wstring nested = Wide(kParent) + L"\0\0"s;
   // The first string is cut to the length of a product code.
   const std::wstring longer = Wide(kParent) + L"-more\0second\0\0"s;
   // 37 characters and an e-acute of two bytes, of which only one would fit.
   const std::string shortParent = kParent.substr(0, 37);
   const std::wstring splitChar = Wide(shortParent) + L"\u00e9\0\0"s;
   const std::wstring standalone = L":\0\0"s;
   const std::string unbraced = kChild.substr(1, 36);
   const struct {
      const char *label;
      std::string productCode;
      bool registered;
      const std::wstring *clients;   // the raw REG_MULTI_SZ, null for none
      UINT rc;
      Strings lines;   // after the opening one
      std::string clientsAfter;
      bool sourceList;
   } cases[] = {
      {"nested", kChild, true, &nested, 0, {checking + kChild, decoupled + kParent}, multi + " :", true},
      {"nested, parent text longer than a product code", kChild, true, &longer, 0,
       {checking + kChild, decoupled + kParent}, multi + " :", true},
      {"nested, parent cut before a character that does not fit", kChild, true, &splitChar, 0,
       {checking + kChild, decoupled + shortParent}, multi + " :", true},
      {"standing on its own", kChild, true, &standalone, 0,
       notNested(kChild, "MSI reg info for " + kChild + " indicates it is not nested"), multi + " :", false},
      {"registered without Clients", kChild, true, nullptr, 0,
       notNested(kChild, "Error getting registry key " + kChildKey + " for value Clients"), "absent", false},
      {"not registered", kChild, false, nullptr, 0,
       notNested(kChild, "MSI reg info for " + kChildKey + " does not exist"), "absent", false},
      {"code without braces", unbraced, true, &nested, 0, notNested(unbraced, "Error munging ProductCode"),
       multi + " " + kParent, false},
      {"empty ProductCode", "", true, &nested, ERROR_INSTALL_FAILURE,
       {"E1 MsiUtil_UnnestMsi: Empty product code", "I0 Error unnesting this installer."}, multi + " " + kParent, false},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      ASSERT_EQ(0u, session.Set("ProductCode", c.productCode.c_str()));
      RegDeleteTreeW(HKEY_CLASSES_ROOT, kChildKeyW.c_str());   // left over only if a run died
      HKEY key = nullptr;
      if (c.registered) {
         ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, kChildKeyW.c_str(), 0, nullptr, 0,
                                                  KEY_ALL_ACCESS, nullptr, &key, nullptr));
         if (c.clients != nullptr) {
            EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"Clients", 0, REG_MULTI_SZ,
                                                    reinterpret_cast<const BYTE *>(c.clients->data()),
                                                    DWORD(c.clients->size() * sizeof(wchar_t))));
         }
         RegCloseKey(key);
      }
      ASSERT_EQ(c.registered, KeyExists(kChildKeyW));
      Strings want{"I0 Unparenting Nested Install"};
      want.insert(want.end(), c.lines.begin(), c.lines.end());
      EXPECT_EQ(want, Run("OVDecoupleChildInstaller", c.rc, {"MsiUtil_IsMsiNested:", "MsiUtil_UnnestMsi:"}));
      EXPECT_EQ(c.clientsAfter, Clients());
      EXPECT_EQ(c.sourceList, KeyExists(kChildKeyW + L"\\SourceList"));
      RegDeleteTreeW(HKEY_CLASSES_ROOT, kChildKeyW.c_str());
   }
   EXPECT_FALSE(KeyExists(kChildKeyW));
}

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
      bool family502;   // the R2 detection's "not found" line
      const char *sysVer;
   } cases[] = {
      {L"nt40", "400", OS_WINNT4, false, ""},
      {L"win2k", "500", OS_WIN2000, false, ":WIN2000:WINDOWS 2000 PROFESSIONAL:SPMAJ=4:SPMIN=0:BUILD=2195:"},
      {L"winxp", "501", OS_WINXP, false, ":XP:WINDOWS XP PROFESSIONAL:SPMAJ=3:SPMIN=0:BUILD=2600:"},
      {L"winxp64", "502", OS_WIN2003, true, ":XP:WINDOWS XP PROFESSIONAL X64 EDITION:SPMAJ=2:SPMIN=0:BUILD=3790:"},
      {L"win2003", "502", OS_WIN2003, true,
       ":WIN2003:WINDOWS SERVER 2003:STANDARD X64 EDITION:SPMAJ=2:SPMIN=0:BUILD=3790:"},
      {L"vista", "600", OS_VISTA, false, ":VISTA:WINDOWS VISTA:BIT=64:SPMAJ=2:SPMIN=0:BUILD=6002:"},
      {L"win2008", "600", OS_VISTA, false,
       ":WIN2008:WINDOWS SERVER 2008:STANDARD EDITION:BIT=64:SPMAJ=2:SPMIN=0:BUILD=6002:"},
      {L"win7", "601", OS_VISTA, false,
       ":WIN2008:WINDOWS SERVER 2008 R2:STANDARD EDITION:BIT=64:SPMAJ=1:SPMIN=0:BUILD=7601:"},
      {L"win2008r2", "601", OS_WIN7, false, ":WIN7:WINDOWS 7:BIT=64:SPMAJ=1:SPMIN=0:BUILD=7601:"},
      // 6.2 has no release token of its own. Wine's installer publishes
      // VersionNT 603 here, while GetVersionExA in a program without a
      // compatibility manifest (ours) stops at 6.2.
      {L"win10", "603", OS_WIN7, false, ":BIT=64:SPMAJ=0:SPMIN=0:BUILD=9200:"},
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
                   (c.family502 ? "Win2003 R2 not found.|" : "") + "\nRESULTS=0,0\nexit 0",
                RunProbe(probe, c.wineVersion));
   }
   RegDeleteTreeW(HKEY_CURRENT_USER, kAppDefaults);
   DeleteFileW(probe.c_str());
}

}  // namespace
