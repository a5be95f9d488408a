// The custom actions through the built DLL's export table in real installer
// sessions, against what the test sets up.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/osInfo.h"
#include "tests/msi/msiSession.h"
#include "tests/win/expectLines.h"
#include "tests/win/importSlot.h"

using namespace msitest;
using namespace std::string_literals;

namespace {

using Strings = std::vector<std::string>;

class CustomActions : public testing::Test {
protected:
   void SetUp() override { ASSERT_TRUE(session.Ok()) << session.Failure(); }

   // The export's transcript; every line must carry the custom actions' tag.
   Strings Run(const char *exportName, UINT rc = 0)
   {
      LogMark mark;
      EXPECT_EQ(rc, dll.Call(exportName, session.Handle()));
      for (const LogLine &line : mark.Lines()) {
         EXPECT_EQ(CustomActionTag(), line.tag) << line.text;
      }
      return mark.Transcript();
   }

   LoadedDll dll;
   MsiSession session;
};

const std::string kGet = "I1 MsiUtil_GetPropertyString: Getting Property ";
const std::string kSet = "I1 MsiUtil_SetProperty: Setting property ";
const wchar_t kLevelKey[] = L"SOFTWARE\\Wow6432Node\\Orvane, Inc.";

// Wine's GetSystemMetrics(SM_SERVERR2) is always 0: for the "found" branch
// the DLL's import slot of user32!GetSystemMetrics is pointed at this.
int WINAPI R2SystemMetrics(int index)
{
   return index == SM_SERVERR2 ? 1 : GetSystemMetrics(index);
}

// With every level on (read by the DLL at its first session), each call
// opens and closes its own session: the Begin and End lines around it.
TEST_F(CustomActions, DetectWin2003R2LooksOnlyAtThe502Family)
{
   testutil::ImportSlot slot(dll.Module(), "user32.dll", "GetSystemMetrics");
   ASSERT_TRUE(slot.Valid()) << "the DLL does not import GetSystemMetrics";
   const DWORD all = 0x7FF;
   ASSERT_EQ(0, RegSetKeyValueW(HKEY_LOCAL_MACHINE, kLevelKey, L"LogLevel", REG_DWORD, &all, sizeof all));
   for (bool r2 : {false, true}) {
      r2 ? slot.Point(&R2SystemMetrics) : slot.Restore();
      for (auto [nt, nt64, family] : {std::tuple{"601", "", false}, {"502", "", true}, {"", "502", true}}) {
         SCOPED_TRACE(std::string(r2 ? "R2, " : "") + "VersionNT '" + nt + "', VersionNT64 '" + nt64 + "'");
         EXPECT_EQ(0u, session.Set("VersionNT", nt));
         EXPECT_EQ(0u, session.Set("VersionNT64", nt64));
         EXPECT_EQ(0u, session.Set("WIN2003R2", "stale"));   // written in every case
         Strings lines{"XX Inst_SetupLogging: Begin Logging '<unspecified>' (LogLevel 0x000007ff)",
                       "I0 Win2003 R2 detection", kGet + "VersionNT = " + nt, kGet + "VersionNT64 = " + nt64};
         if (family) {
            lines.push_back(r2 ? "I0 Win2003 R2 found." : "I0 Win2003 R2 not found.");
         }
         lines.push_back(kSet + "WIN2003R2 = " + (family && r2 ? "1" : ""));
         lines.push_back("XX Inst_EndLogging: End Logging");
         EXPECT_EQ(lines, Run("OVDetectWin2003R2"));
         RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kLevelKey, L"LogLevel");
         EXPECT_EQ(family && r2 ? "1" : "", session.Get("WIN2003R2"));
      }
   }
}

// The DLL's RegOpenKeyExW of the version key opens a key of the test's own
// instead, or is refused; every other open goes through.
decltype(&RegOpenKeyExW) gRealOpen = nullptr;
bool gRefuse = false;
const wchar_t kOwnVersionKey[] = L"Software\\OvTest\\CurrentVersion";
LSTATUS WINAPI OpenOwnVersionKey(HKEY root, LPCWSTR sub, DWORD options, REGSAM access, PHKEY out)
{
   if (root != HKEY_LOCAL_MACHINE || access != 0x20019 || sub == nullptr ||
       wcscmp(sub, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\") != 0) {
      return gRealOpen(root, sub, options, access, out);
   }
   return gRefuse ? ERROR_ACCESS_DENIED : gRealOpen(HKEY_CURRENT_USER, kOwnVersionKey, options, access, out);
}

using Value = std::pair<DWORD, std::string>;   // type and bytes; REG_NONE: absent

TEST_F(CustomActions, SetRealVersionNTTakesTheRegistryVersionFrom10On)
{
   testutil::ImportSlot open(dll.Module(), "advapi32.dll", "RegOpenKeyExW");
   ASSERT_TRUE(open.Valid());
   gRealOpen = open.Real<decltype(&RegOpenKeyExW)>();
   open.Point(&OpenOwnVersionKey);
   const std::string query = "I0 Couldn't query SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\#Current";
   const std::string below10 = "I0 Registry Major Version < 10, ignoring";
   auto dword = [](DWORD v) { return Value{REG_DWORD, std::string(reinterpret_cast<const char *>(&v), 4)}; };
   const Value absent{REG_NONE, ""}, text10{REG_SZ, "1\0"s "0\0\0\0"s}, shortTen{REG_DWORD, "\x0a\0"s};
   const struct {
      const char *label;
      Value major, minor;
      bool has64, refuse;   // VersionNT64 601 before (else empty); the key refused
      std::string result;   // VersionNT (and a set VersionNT64) after; empty: left at 601
      Strings lines = {};   // between the opening and closing lines when left
   } cases[] = {
      {"10.0", dword(10), dword(0), true, false, "1000"},
      {"10.0, VersionNT64 empty stays empty", dword(10), dword(0), false, false, "1000"},
      {"10.5", dword(10), dword(5), true, false, "1005"},
      {"99.99", dword(99), dword(99), true, false, "9999"},
      {"9.0", dword(9), dword(0), true, false, "", {below10}},
      {"100.0", dword(100), dword(0), true, false, "", {"I0 Registry Major Version > 99, ignoring"}},
      {"10.100", dword(10), dword(100), true, false, "", {"I0 Registry Minor Version > 99, ignoring"}},
      {"major as the string \"10\"", text10, dword(0), true, false, "", {query + "MajorVersionNumber"}},
      {"major a DWORD of two bytes", shortTen, dword(0), true, false, "", {query + "MajorVersionNumber"}},
      {"minor absent", dword(10), absent, true, false, "", {query + "MinorVersionNumber"}},
      {"the key refused", dword(10), dword(0), true, true, "",
       {"I0 Couldn't open SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\"}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      RegDeleteTreeW(HKEY_CURRENT_USER, kOwnVersionKey);
      for (auto [name, v] : {std::pair{L"CurrentMajorVersionNumber", c.major}, {L"CurrentMinorVersionNumber", c.minor}}) {
         EXPECT_TRUE(v.first == REG_NONE || RegSetKeyValueW(HKEY_CURRENT_USER, kOwnVersionKey, name, v.first,
                                                            v.second.data(), DWORD(v.second.size())) == 0);
      }
      gRefuse = c.refuse;
      EXPECT_EQ(0u, session.Set("VersionNT", "601"));
      EXPECT_EQ(0u, session.Set("VersionNT64", c.has64 ? "601" : ""));
      Strings lines{"I0 OVSetRealVersionNT running"};
      if (c.result.empty()) {
         lines.insert(lines.end(), c.lines.begin(), c.lines.end());
      } else {
         lines.push_back(kSet + "VersionNT = " + c.result);
         lines.push_back(kGet + "VersionNT64 = " + (c.has64 ? "601" : ""));
         c.has64 ? lines.push_back(kSet + "VersionNT64 = " + c.result) : void();
      }
      lines.push_back("I0 OVSetRealVersionNT Done");
      EXPECT_EQ(lines, Run("OVSetRealVersionNT"));
      EXPECT_EQ(c.result.empty() ? "601" : c.result, session.Get("VersionNT"));
      EXPECT_EQ(!c.has64 ? "" : c.result.empty() ? "601" : c.result, session.Get("VersionNT64"));
   }
   RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\OvTest");
}

// OVDecoupleChildInstaller against product registrations the test writes under
// HKEY_CLASSES_ROOT\Installer\Products, for codes no real product uses (the
// packed key name written out by hand).
TEST_F(CustomActions, DecoupleCutsANestedProductLooseAndLeavesOthersAlone)
{
   const std::string child = "{0DEC0A1B-2C3D-4E5F-8A9B-C0D1E2F3A4B5}", unbraced = child.substr(1, 36);
   const std::string parent = "{0DEC0A1B-0000-4000-8000-00000000CAFE}";
   const std::string key = "Installer\\Products\\B1A0CED0D3C2F5E4A8B90C1D2E3F4A5B";
   const std::wstring keyW = Wide(key);
   const std::string checking = "I1 MsiUtil_IsMsiNested: Checking Nested-ness of ProductCode: ";
   const std::string read = "I2 Util_GetKeyValueString: (HKEY_CLASSES_ROOT\\" + key + "\\Clients) = ";
   const std::string decoupled = "I1 MsiUtil_UnnestMsi: Successfully decoupled " + child + " from parent installer ";
   auto notNested = [&](const std::string &code) {
      return "I1 MsiUtil_UnnestMsi: product code '" + code + "' is not nested.  Nothing to be done.";
   };
   const std::wstring nested = Wide(parent) + L"\0\0"s, none;
   const std::wstring longer = Wide(parent) + L"-more\0second\0\0"s;   // cut to a product code's length
   // 37 characters and an e-acute of two bytes, of which only one would fit.
   const std::wstring splitChar = Wide(parent.substr(0, 37)) + L"\u00e9\0\0"s;
   const std::wstring standalone = L":\0\0"s;
   const struct {
      const char *label;
      std::string productCode;
      const std::wstring *clients;   // the raw REG_MULTI_SZ, empty for none; null: not registered
      UINT rc;
      Strings lines;   // after the opening line and the ProductCode read
      std::string clientsAfter;
      bool sourceList;
   } cases[] = {
      {"nested", child, &nested, 0, {checking + child, read + "\"" + parent + "\"", decoupled + parent}, ":", true},
      {"nested, parent text longer than a product code", child, &longer, 0,
       {checking + child, read + "\"" + parent + "-more\"", decoupled + parent}, ":", true},
      {"nested, parent cut before a character that does not fit", child, &splitChar, 0,
       {checking + child, read + "\"" + Utf8(splitChar.c_str()) + "\"", decoupled + parent.substr(0, 37)}, ":", true},
      {"standing on its own", child, &standalone, 0,
       {checking + child, read + "\":\"", "E1 MsiUtil_IsMsiNested: MSI reg info for " + child + " indicates it is not nested",
        notNested(child)}, ":", false},
      {"registered without Clients", child, &none, 0,
       {checking + child, "E1 Util_GetKeyValueString: Cannot query key value HKEY_CLASSES_ROOT\\" + key + "\\Clients*",
        "E1 MsiUtil_IsMsiNested: Error getting registry key " + key + " for value Clients", notNested(child)},
       "absent", false},
      {"not registered", child, nullptr, 0,
       {checking + child, "E1 MsiUtil_IsMsiNested: MSI reg info for " + key + " does not exist", notNested(child)},
       "absent", false},
      {"code without braces", unbraced, &nested, 0,
       {checking + unbraced, "E1 MsiUtil_IsMsiNested: Error munging ProductCode", notNested(unbraced)}, parent, false},
      {"empty ProductCode", "", &nested, ERROR_INSTALL_FAILURE,
       {"E1 MsiUtil_UnnestMsi: Empty product code", "I0 Error unnesting this installer."}, parent, false},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      ASSERT_EQ(0u, session.Set("ProductCode", c.productCode.c_str()));
      RegDeleteTreeW(HKEY_CLASSES_ROOT, keyW.c_str());   // left over only if a run died
      HKEY k = nullptr;
      if (c.clients != nullptr) {
         ASSERT_EQ(0, RegCreateKeyW(HKEY_CLASSES_ROOT, keyW.c_str(), &k));
         EXPECT_TRUE(c.clients->empty() || RegSetValueExW(k, L"Clients", 0, REG_MULTI_SZ,
                                                          reinterpret_cast<const BYTE *>(c.clients->data()),
                                                          DWORD(c.clients->size() * sizeof(wchar_t))) == 0);
         RegCloseKey(k);
      }
      Strings want{"I0 Unparenting Nested Install", kGet + "ProductCode = " + c.productCode};
      want.insert(want.end(), c.lines.begin(), c.lines.end());
      testutil::ExpectTranscript(want, Run("OVDecoupleChildInstaller", c.rc));
      wchar_t clients[512] = {};
      DWORD size = sizeof clients - 4;
      EXPECT_EQ(c.clientsAfter, RegGetValueW(HKEY_CLASSES_ROOT, keyW.c_str(), L"Clients", RRF_RT_REG_MULTI_SZ,
                                             nullptr, clients, &size) == 0 ? Utf8(clients) : "absent");
      EXPECT_EQ(c.sourceList, RegDeleteKeyW(HKEY_CLASSES_ROOT, (keyW + L"\\SourceList").c_str()) == ERROR_SUCCESS);
      RegDeleteTreeW(HKEY_CLASSES_ROOT, keyW.c_str());
   }
}

// The prefix reports Windows 7 (client 6.1) to every program it has no
// Version of its own for: the library's reading and the property it publishes.
TEST_F(CustomActions, SetOVSysVerPublishesTheSystemVersion)
{
   EXPECT_EQ(0u, session.Set("OVSYSVER", "stale"));
   const std::string version = ":WIN7:WINDOWS 7:BIT=64:SPMAJ=1:SPMIN=0:BUILD=7601:";
   EXPECT_EQ((Strings{"I0 Checking System Version", kSet + "OVSYSVER = " + version, "I0 Done System Version"}),
             Run("OVSetOVSysVer"));
   EXPECT_EQ(version, session.Get("OVSYSVER"));
   EXPECT_EQ(OS_WIN7, Util_GetOSType());
   EXPECT_FALSE(Util_IsWow64()) << "a 64-bit process";
}

}  // namespace
