// The custom actions through the built DLL's export table, and the session
// layer under them called directly, in real installer sessions, against what
// the test sets up. Expected values come from the installer itself or from
// the test's own data.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/msiUtil.h"
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
// opens and closes its own session: the Begin and End lines around it. The
// version numbers are the leading digits of the properties.
TEST_F(CustomActions, DetectWin2003R2LooksOnlyAtThe502Family)
{
   testutil::ImportSlot slot(dll.Module(), "user32.dll", "GetSystemMetrics");
   ASSERT_TRUE(slot.Valid()) << "the DLL does not import GetSystemMetrics";
   const DWORD all = 0x7FF;
   ASSERT_EQ(0, RegSetKeyValueW(HKEY_LOCAL_MACHINE, kLevelKey, L"LogLevel", REG_DWORD, &all, sizeof all));
   for (bool r2 : {false, true}) {
      r2 ? slot.Point(&R2SystemMetrics) : slot.Restore();
      for (auto [nt, nt64, family] : {std::tuple{"601", "", false}, {"502", "", true}, {"", "502 R2", true}}) {
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
      {"10.5, VersionNT64 empty stays empty", dword(10), dword(5), false, false, "1005"},
      {"99.99", dword(99), dword(99), true, false, "9999"},
      {"9.0", dword(9), dword(0), true, false, "", {"I0 Registry Major Version < 10, ignoring"}},
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
   const std::wstring nested = Wide(parent) + L"\0\0"s, none, standalone = L":\0\0"s;
   // The parent is cut to a product code's length: here to 37 characters,
   // since only one byte of the e-acute's two would fit.
   const std::wstring splitChar = Wide(parent.substr(0, 37)) + L"\u00e9-more\0second\0\0"s;
   const struct {
      const char *label;
      std::string productCode;
      const std::wstring *clients;   // the raw REG_MULTI_SZ, empty for none; null: not registered
      Strings lines;                 // after the opening line and the ProductCode read
      std::string clientsAfter;
      bool sourceList;
   } cases[] = {
      {"nested", child, &nested, {checking + child, read + "\"" + parent + "\"", decoupled + parent}, ":", true},
      {"nested, parent cut before a character that does not fit", child, &splitChar,
       {checking + child, read + "\"" + Utf8(splitChar.c_str()) + "\"", decoupled + parent.substr(0, 37)}, ":", true},
      {"standing on its own", child, &standalone,
       {checking + child, read + "\":\"", "E1 MsiUtil_IsMsiNested: MSI reg info for " + child + " indicates it is not nested",
        notNested(child)}, ":", false},
      {"registered without Clients", child, &none,
       {checking + child, "E1 Util_GetKeyValueString: Cannot query key value HKEY_CLASSES_ROOT\\" + key + "\\Clients*",
        "E1 MsiUtil_IsMsiNested: Error getting registry key " + key + " for value Clients", notNested(child)},
       "absent", false},
      {"not registered", child, nullptr,
       {checking + child, "E1 MsiUtil_IsMsiNested: MSI reg info for " + key + " does not exist", notNested(child)},
       "absent", false},
      {"code without braces", unbraced, &nested,
       {checking + unbraced, "E1 MsiUtil_IsMsiNested: Error munging ProductCode", notNested(unbraced)}, parent, false},
      {"empty ProductCode", "", &nested,
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
      testutil::ExpectTranscript(want, Run("OVDecoupleChildInstaller", c.productCode.empty() ? 1603 : 0));
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

// Every position differs from its neighbours, so a cut or a shift shows.
std::string Pattern(size_t length)
{
   std::string s;
   for (size_t i = 0; i < length; i++) {
      s += static_cast<char>('a' + (i * 7 + i / 26) % 26);
   }
   return s;
}

// Stand-ins for failures a live session does not give: a property read whose
// second call (the one with room for the value) fails, and a record that
// cannot be made.
decltype(&MsiGetPropertyW) gRealGet = nullptr;
int gGetCalls = 0;
UINT WINAPI SecondReadFails(MSIHANDLE h, LPCWSTR name, LPWSTR value, LPDWORD size)
{
   return ++gGetCalls == 2 ? ERROR_FUNCTION_FAILED : gRealGet(h, name, value, size);
}
MSIHANDLE WINAPI NoRecord(UINT)
{
   return 0;
}

// Each message the installer passes on: its type and fields 1 on ("-" for a
// null field, an integer field's number, 'a string'). The answer is No.
Strings gPosted;
int WINAPI RecordPosted(void *, UINT type, MSIHANDLE record)
{
   std::string got = std::to_string(type) + ":";
   for (UINT i = 1; i <= MsiRecordGetFieldCount(record); i++) {
      wchar_t buf[64];
      DWORD n = 64;
      const std::string text = MsiRecordGetStringW(record, i, buf, &n) == 0 ? Utf8(buf) : "?";
      const bool integer = MsiRecordDataSize(record, i) == 4 && MsiRecordGetInteger(record, i) != int(MSI_NULL_INTEGER);
      got += (i > 1 ? "," : "") + (MsiRecordIsNull(record, i) ? "-" : integer ? text : "'" + text + "'");
   }
   gPosted.push_back(got);
   return IDNO;
}

// The session layer's failure paths and limits (its main paths leave the
// property lines of the custom actions above).
TEST_F(CustomActions, SessionLayerFailuresAndLimitsLeaveTheirTranscript)
{
   testutil::ImportSlot get(GetModuleHandleW(nullptr), "msi.dll", "MsiGetPropertyW");
   testutil::ImportSlot record(GetModuleHandleW(nullptr), "msi.dll", "MsiCreateRecord");
   ASSERT_TRUE(get.Valid() && record.Valid());
   gRealGet = get.Real<decltype(&MsiGetPropertyW)>();
   const std::string dir = session.Get("INSTALLDIR"), v4095 = Pattern(4095), v4096 = Pattern(4096);
   const std::string received = "I1 MsiUtil_FormatString: FormatString received: ";
   const std::string returned = "I1 MsiUtil_PostMessageEx: MsiProcessMessage returned: 7";
   const std::string size7 = "Gr\xC3\xB6\xC3\x9F" "e";   // 5 UTF-16 units, 7 UTF-8 bytes
   for (const auto &[name, value] : {std::pair{"V4095", v4095}, {"V4096", v4096}, {"SIZED", size7}}) {
      ASSERT_EQ(0u, session.Set(name, value.c_str()));
   }
   auto post = [](std::function<int(MSIHANDLE)> call) {
      return [call](MSIHANDLE h) { return Strings{std::to_string(call(h))}; };
   };
   const struct {
      const char *label;
      std::function<Strings(MSIHANDLE)> call;
      Strings results, lines;   // what the calls gave, in order, then the messages posted
      bool secondReadFails = false, noRecord = false;
   } cases[] = {
      {"a dead handle: empty reads, a failed write",
       [](MSIHANDLE) {
          return Strings{std::to_string(MsiUtil_GetPropertyInt(0xDEAD, "P")), Utf8(MsiUtil_GetPropertyStringW(0xDEAD, "P")),
                         std::to_string(MsiUtil_SetProperty(0xDEAD, "P", "x"))};
       },
       {"0", "", "0"},
       {"E1 MsiUtil_GetPropertyString: MsiGetProperty failed for property P| winerror code 6",
        "I1 MsiUtil_GetPropertyStringW: MsiGetProperty failed for property P| winerror code 6",
        kSet + "P = x", "E1 MsiUtil_SetProperty: Failed to set property| winerror code 6"}},
      {"the narrow read's second call fails",
       [](MSIHANDLE h) { return Strings{MsiUtil_GetPropertyString(h, "ProductName")}; }, {""},
       {"E1 MsiUtil_GetPropertyString: Failed to get property ProductName| winerror code 1627"}, true},
      {"the wide read's second call fails",
       [](MSIHANDLE h) { return Strings{Utf8(MsiUtil_GetPropertyStringW(h, "ProductName"))}; }, {""},
       {"E1 MsiUtil_GetPropertyStringW: Failed to get property ProductName| winerror code 1627"}, true},
      // Shown in full below 4096 characters, so cut by the log's own line limit.
      {"4095 characters", [](MSIHANDLE h) { return Strings{Utf8(MsiUtil_GetPropertyStringW(h, "V4095"))}; }, {v4095},
       {"The following message is truncated:",
        "I1 MsiUtil_GetPropertyStringW: Getting Property V4095 = " + v4095.substr(0, 1800) + "*"}},
      {"4096 characters", [](MSIHANDLE h) { return Strings{Utf8(MsiUtil_GetPropertyStringW(h, "V4096"))}; }, {v4096},
       {"I1 MsiUtil_GetPropertyStringW: Getting Property V4096 = [...]"}},
      {"the wrapper's sizes in UTF-8 bytes; four per unit when the units do not fit",
       [](MSIHANDLE h) {
          Strings got;
          for (DWORD capacity : {8u, 7u, 6u, 4u}) {
             std::string buf(capacity + 1, '#');
             DWORD size = capacity;
             const UINT rc = Win32U_MsiGetProperty(h, "SIZED", &buf[0], &size);
             got.push_back(std::to_string(rc) + " " + std::to_string(size) + " " + buf);
          }
          return got;
       },
       {"0 7 " + size7 + "\0#"s, "0 7 " + size7 + "#", "234 7 #######", "234 20 #####"}, {}},
      {"no record for the formatting: the text unchanged",
       [](MSIHANDLE h) { return Strings{MsiUtil_FormatString(h, "[ProductName]")}; }, {"[ProductName]"},
       {received + "[ProductName]", "E1 MsiUtil_FormatString: Failed to create record for formatted string"}, false,
       true},
      {"no '[': unchanged and not formatted; a directory expanded",
       [](MSIHANDLE h) { return Strings{MsiUtil_FormatString(h, "plain ]text"), MsiUtil_FormatString(h, "[INSTALLDIR]bin")}; },
       {"plain ]text", dir + "bin"},
       {received + "plain ]text", received + "[INSTALLDIR]bin", "I1 MsiUtil_FormatString: Formatted string: " + dir + "bin"}},
      {"an unknown field letter stops the filling",
       post([](MSIHANDLE h) { return MsiUtil_PostMessageEx(h, INSTALLMESSAGE_WARNING, 25002, "dxs", 5, "abc"); }),
       {"7", std::to_string(INSTALLMESSAGE_WARNING) + ":25002,5,-,-"},
       {"I1 MsiUtil_PostMessageEx: Invalid input, skipping xs specifiers", returned}},
      {"a null string leaves its field empty",
       post([](MSIHANDLE h) {
          return MsiUtil_PostMessageEx(h, INSTALLMESSAGE_ERROR, 25002, "s", static_cast<const char *>(nullptr));
       }),
       {"7", std::to_string(INSTALLMESSAGE_ERROR) + ":25002,-"}, {returned}},
      {"an error message: exclamation icon and OK button", post([](MSIHANDLE h) { return MsiUtil_PostErrorMessage(h, 25001); }),
       {"7", std::to_string(0x01000030) + ":25001"}, {"I1 MsiUtil_PostErrorMessage: Posting error message 25001", returned}},
      {"a warning with the caller's flags",
       post([](MSIHANDLE h) { return MsiUtil_PostWarningMessage(h, MB_YESNO | MB_ICONQUESTION, 25003); }),
       {"7", std::to_string(0x02000000 | MB_YESNO | MB_ICONQUESTION) + ":25003"},
       {"I1 MsiUtil_PostWarningMessage: Posting warning message 25003", returned}},
   };
   ASSERT_EQ(0u, MsiSetExternalUIRecord(RecordPosted, INSTALLLOGMODE_ERROR | INSTALLLOGMODE_WARNING, nullptr, nullptr));
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      gGetCalls = 0;
      gPosted.clear();
      c.secondReadFails ? get.Point(&SecondReadFails) : get.Restore();
      c.noRecord ? record.Point(&NoRecord) : record.Restore();
      LogMark mark;
      Strings results = c.call(session.Handle());
      get.Restore();
      record.Restore();
      results.insert(results.end(), gPosted.begin(), gPosted.end());
      EXPECT_EQ(c.results, results);
      testutil::ExpectTranscript(c.lines, mark.Transcript());
   }
   MsiSetExternalUIRecord(nullptr, 0, nullptr, nullptr);
   // Formatting keeps up to 2047 bytes, not characters: an e-acute is two.
   std::string accents;
   while (accents.size() < 2048) {
      accents += "\xC3\xA9";
   }
   for (const std::string &value : {accents.substr(0, 2046) + "a", accents}) {
      ASSERT_EQ(0u, session.Set("LONG", value.c_str()));
      EXPECT_EQ(value.size() < 2048 ? value : "", MsiUtil_FormatString(session.Handle(), "[LONG]")) << value.size();
   }
   // The string table holds entries 13 to 19 only.
   ResString narrow;
   WideString wide;
   for (UINT id : {12u, 15u, 20u, 4000u}) {
      const std::string text = id == 15 ? "You may not install this product on a network drive." : "";
      EXPECT_EQ(id == 15, Util_LoadResString(narrow, id, dll.Module()) && narrow == text) << id;
      EXPECT_EQ(id == 15, Util_LoadResStringW(wide, id, dll.Module()) && wide == Wide(text)) << id;
   }
   // The library's own module is this test program here, which has no table.
   EXPECT_FALSE(Util_LoadResString(narrow, 13, nullptr));
}

TEST(SessionLayer, SprintfGrowsUpTo43008Characters)
{
   for (size_t length : {2047u, 2048u, 3000u, 43008u, 43009u, 50000u}) {
      SCOPED_TRACE("an expansion of " + std::to_string(length) + " characters");
      const std::string text = Pattern(length);
      const size_t kept = length < 43008 ? length : 43008;
      EXPECT_EQ(text.substr(0, kept), Util_Sprintf("%s", text.c_str()));
      EXPECT_EQ(Wide(text.substr(0, kept)), Util_SprintfW(L"%ls", Wide(text).c_str()));
   }
   EXPECT_EQ("0601|x", Util_Sprintf("%02u%02u|%s", 6u, 1u, "x"));
}

}  // namespace
