// The session layer called directly, against a real Wine installer session,
// and the built DLL's string table. Expected values come from the installer
// itself or from the test's own data.
#include "common/msiUtil.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "tests/msi/msiSession.h"
#include "tests/win/expectLines.h"
#include "tests/win/importSlot.h"

using namespace msitest;
using namespace std::string_literals;

namespace {

using Strings = std::vector<std::string>;

const std::string kNonAscii = "Gr\xC3\xB6\xC3\x9F" "e \xE6\x97\xA5\xE6\x9C\xAC";   // Größe 日本

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

TEST(MsiUtil, PropertiesFormattingAndMessagesLeaveTheirTranscript)
{
   MsiSession session;
   ASSERT_TRUE(session.Ok()) << session.Failure();
   testutil::ImportSlot get(GetModuleHandleW(nullptr), "msi.dll", "MsiGetPropertyW");
   testutil::ImportSlot record(GetModuleHandleW(nullptr), "msi.dll", "MsiCreateRecord");
   ASSERT_TRUE(get.Valid() && record.Valid());
   gRealGet = get.Real<decltype(&MsiGetPropertyW)>();
   const std::string dir = session.Get("INSTALLDIR"), moved = Utf8(ProcessFolder()) + kNonAscii + "\\";
   const std::string set = "I1 MsiUtil_SetProperty: Setting property MYPROP = ";
   const std::string get8 = "I1 MsiUtil_GetPropertyString: Getting Property MYPROP = ";
   const std::string get16 = "I1 MsiUtil_GetPropertyStringW: Getting Property MYPROP = ";
   const std::string invalid = "| winerror code " + std::to_string(ERROR_INVALID_HANDLE);
   const std::string failed = "| winerror code " + std::to_string(ERROR_FUNCTION_FAILED);
   const std::string received = "I1 MsiUtil_FormatString: FormatString received: ";
   const std::string formatted = "I1 MsiUtil_FormatString: Formatted string: ";
   const std::string returned = "I1 MsiUtil_PostMessageEx: MsiProcessMessage returned: 7";
   const std::string cut = "The following message is truncated:", v4095 = Pattern(4095), v4096 = Pattern(4096);
   const std::string size7 = "Gr\xC3\xB6\xC3\x9F" "e";   // 5 UTF-16 units, 7 UTF-8 bytes
   // A value set without the library's line, read the wide way.
   auto readWide = [](const std::string &value) {
      return [value](MSIHANDLE h) {
         MsiSetPropertyW(h, L"MYPROP", Wide(value).c_str());
         return Strings{Utf8(MsiUtil_GetPropertyStringW(h, "MYPROP"))};
      };
   };
   auto post = [](std::function<int(MSIHANDLE)> call) {
      return [call](MSIHANDLE h) { return Strings{std::to_string(call(h))}; };
   };
   const struct {
      const char *label;
      std::function<Strings(MSIHANDLE)> call;
      Strings results, lines;   // what the calls gave, in order, then the messages posted
      bool secondReadFails = false, noRecord = false;
   } cases[] = {
      {"set, read both ways, removed with the empty value",
       [](MSIHANDLE h) {
          return Strings{std::to_string(MsiUtil_SetProperty(h, "MYPROP", kNonAscii.c_str())),
                         MsiUtil_GetPropertyString(h, "MYPROP"), Utf8(MsiUtil_GetPropertyStringW(h, "MYPROP")),
                         std::to_string(MsiUtil_SetProperty(h, "MYPROP", "")), MsiUtil_GetPropertyString(h, "MYPROP")};
       },
       {"1", kNonAscii, kNonAscii, "1", ""}, {set + kNonAscii, get8 + kNonAscii, get16 + kNonAscii, set, get8}},
      {"a dead handle: empty reads, a failed write",
       [](MSIHANDLE) {
          return Strings{std::to_string(MsiUtil_GetPropertyInt(0xDEAD, "MYPROP")),
                         Utf8(MsiUtil_GetPropertyStringW(0xDEAD, "MYPROP")),
                         std::to_string(MsiUtil_SetProperty(0xDEAD, "MYPROP", "x"))};
       },
       {"0", "", "0"},
       {"E1 MsiUtil_GetPropertyString: MsiGetProperty failed for property MYPROP" + invalid,
        "I1 MsiUtil_GetPropertyStringW: MsiGetProperty failed for property MYPROP" + invalid, set + "x",
        "E1 MsiUtil_SetProperty: Failed to set property" + invalid}},
      {"the narrow read's second call fails",
       [](MSIHANDLE h) { return Strings{MsiUtil_GetPropertyString(h, "ProductName")}; }, {""},
       {"E1 MsiUtil_GetPropertyString: Failed to get property ProductName" + failed}, true},
      {"the wide read's second call fails",
       [](MSIHANDLE h) { return Strings{Utf8(MsiUtil_GetPropertyStringW(h, "ProductName"))}; }, {""},
       {"E1 MsiUtil_GetPropertyStringW: Failed to get property ProductName" + failed}, true},
      // Shown in full below 4096 characters, so cut by the log's own line limit.
      {"4095 characters", readWide(v4095), {v4095}, {cut, get16 + v4095.substr(0, 1800) + "*"}},
      {"4096 characters", readWide(v4096), {v4096}, {get16 + "[...]"}},
      {"the wrapper's sizes in UTF-8 bytes; four per unit when the units do not fit",
       [size7](MSIHANDLE h) {
          MsiSetPropertyW(h, L"MYPROP", Wide(size7).c_str());
          Strings got;
          for (DWORD capacity : {8u, 7u, 6u, 4u}) {
             std::string buf(capacity + 1, '#');
             DWORD size = capacity;
             const UINT rc = Win32U_MsiGetProperty(h, "MYPROP", &buf[0], &size);
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
       {"plain ]text", dir + "bin"}, {received + "plain ]text", received + "[INSTALLDIR]bin", formatted + dir + "bin"}},
      {"the folder moved, and no folder of that name",
       [&](MSIHANDLE h) {
          return Strings{std::to_string(MsiUtil_SetTargetPath(h, "INSTALLDIR", moved.c_str())),
                         MsiUtil_FormatString(h, "[INSTALLDIR]bin"),
                         std::to_string(MsiUtil_SetTargetPath(h, "NOSUCHDIR", moved.c_str()) != 0)};
       },
       {"0", moved + "bin", "1"}, {received + "[INSTALLDIR]bin", formatted + moved + "bin"}},
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
   for (const auto &c : {std::make_pair("12abc", 12), {"abc", 0}, {"-7", -7}, {"0601", 601}, {"", 0}}) {
      SCOPED_TRACE(std::string("the integer in '") + c.first + "'");
      ASSERT_EQ(0u, session.Set("NUMBER", c.first));
      EXPECT_EQ(c.second, MsiUtil_GetPropertyInt(session.Handle(), "NUMBER"));
   }
   // Up to 2047 bytes, not characters: an e-acute is two.
   std::string accents;
   while (accents.size() < 2048) {
      accents += "\xC3\xA9";
   }
   for (const auto &[value, fits] : {std::pair{Pattern(2047), true}, {Pattern(2048), false},
                                     {accents.substr(0, 2046) + "a", true}, {accents, false}}) {
      SCOPED_TRACE("an expansion of " + std::to_string(value.size()) + " bytes");
      ASSERT_EQ(0u, session.Set("LONG", value.c_str()));
      EXPECT_EQ(fits ? value : "", MsiUtil_FormatString(session.Handle(), "[LONG]"));
   }
}

TEST(MsiUtil, SprintfGrowsUpTo43008Characters)
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

// The built DLL's string table: English (which the install-directory tests
// read) and six translations, and the library's reading of it by id.
TEST(MsiUtil, StringTableHoldsSevenLanguagesAndLoadsById)
{
   LoadedDll dll;
   const HMODULE m = dll.Module();
   std::set<LANGID> found;
   for (UINT block : {1u, 2u}) {   // entries 0 to 31
      auto add = [](HMODULE, LPCWSTR, LPCWSTR, WORD lang, LONG_PTR out) -> BOOL {
         return reinterpret_cast<std::set<LANGID> *>(out)->insert(lang), TRUE;
      };
      EnumResourceLanguagesW(m, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(block), add, LONG_PTR(&found));
   }
   // U.S. English, German, modern Spanish, French, Italian, Japanese, simplified Chinese.
   EXPECT_EQ((std::set<LANGID>{0x0409, 0x0407, 0x0C0A, 0x040C, 0x0410, 0x0411, 0x0804}), found);
   // The library's reading, in the thread's (English) language.
   ResString narrow("stale text that is longer than nothing");
   WideString wide;
   EXPECT_TRUE(Util_LoadResString(narrow, 15, m));
   EXPECT_TRUE(Util_LoadResStringW(wide, 15, m));
   EXPECT_EQ("You may not install this product on a network drive.", narrow);
   EXPECT_EQ(L"You may not install this product on a network drive.", wide);
   for (UINT missing : {12u, 20u, 4000u}) {
      SCOPED_TRACE("id " + std::to_string(missing));
      EXPECT_FALSE(Util_LoadResString(narrow, missing, m));
      EXPECT_FALSE(Util_LoadResStringW(wide, missing, m));
   }
   // The library's own module is this test program here, which has no table.
   EXPECT_FALSE(Util_LoadResString(narrow, 13, nullptr));
}

}  // namespace
