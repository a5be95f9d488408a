// The session layer called directly, against a real Wine installer session,
// and the built DLL's resources. Expected values come from the installer
// itself or from the test's own data.
#include "common/msiUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>

#include "tests/msi/msiSession.h"
#include "tests/win/importSlot.h"

using namespace msitest;

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

class MsiUtilTest : public testing::Test {
protected:
   void SetUp() override { ASSERT_TRUE(session.Ok()) << session.Failure(); }
   MSIHANDLE h() const { return session.Handle(); }

   MsiSession session;
};

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

TEST_F(MsiUtilTest, PropertiesAndFormattingLeaveTheirTranscript)
{
   testutil::ImportSlot get(GetModuleHandleW(nullptr), "msi.dll", "MsiGetPropertyW");
   testutil::ImportSlot record(GetModuleHandleW(nullptr), "msi.dll", "MsiCreateRecord");
   ASSERT_TRUE(get.Valid() && record.Valid());
   gRealGet = get.Real<decltype(&MsiGetPropertyW)>();
   const MSIHANDLE dead = 0xDEAD;
   const std::string set = "I1 MsiUtil_SetProperty: Setting property MYPROP = ";
   const std::string get8 = "I1 MsiUtil_GetPropertyString: Getting Property MYPROP = ";
   const std::string get16 = "I1 MsiUtil_GetPropertyStringW: Getting Property MYPROP = ";
   const std::string invalid = "| winerror code " + std::to_string(ERROR_INVALID_HANDLE);
   const std::string failed = "| winerror code " + std::to_string(ERROR_FUNCTION_FAILED);
   const struct {
      const char *label;
      std::function<Strings(MSIHANDLE)> call;   // what the calls gave, in order
      Strings results, lines;
      bool secondReadFails = false, noRecord = false;
   } cases[] = {
      {"set, read both ways, removed with the empty value",
       [](MSIHANDLE h) {
          return Strings{std::to_string(MsiUtil_SetProperty(h, "MYPROP", kNonAscii.c_str())),
                         MsiUtil_GetPropertyString(h, "MYPROP"), Utf8(MsiUtil_GetPropertyStringW(h, "MYPROP")),
                         std::to_string(MsiUtil_SetProperty(h, "MYPROP", "")),
                         MsiUtil_GetPropertyString(h, "MYPROP"), Utf8(MsiUtil_GetPropertyStringW(h, "MYPROP"))};
       },
       {"1", kNonAscii, kNonAscii, "1", "", ""},
       {set + kNonAscii, get8 + kNonAscii, get16 + kNonAscii, set, get8, get16}},
      {"a dead handle: empty reads, a failed write",
       [dead](MSIHANDLE) {
          return Strings{MsiUtil_GetPropertyString(dead, "MYPROP"), std::to_string(MsiUtil_GetPropertyInt(dead, "MYPROP")),
                         Utf8(MsiUtil_GetPropertyStringW(dead, "MYPROP")),
                         std::to_string(MsiUtil_SetProperty(dead, "MYPROP", "x"))};
       },
       {"", "0", "", "0"},
       {"E1 MsiUtil_GetPropertyString: MsiGetProperty failed for property MYPROP" + invalid,
        "E1 MsiUtil_GetPropertyString: MsiGetProperty failed for property MYPROP" + invalid,
        "I1 MsiUtil_GetPropertyStringW: MsiGetProperty failed for property MYPROP" + invalid, set + "x",
        "E1 MsiUtil_SetProperty: Failed to set property" + invalid}},
      {"the narrow read's second call fails",
       [](MSIHANDLE h) { return Strings{MsiUtil_GetPropertyString(h, "ProductName")}; }, {""},
       {"E1 MsiUtil_GetPropertyString: Failed to get property ProductName" + failed}, true},
      {"the wide read's second call fails",
       [](MSIHANDLE h) { return Strings{Utf8(MsiUtil_GetPropertyStringW(h, "ProductName"))}; }, {""},
       {"E1 MsiUtil_GetPropertyStringW: Failed to get property ProductName" + failed}, true},
      {"no record for the formatting: the text unchanged",
       [](MSIHANDLE h) { return Strings{MsiUtil_FormatString(h, "[ProductName]")}; }, {"[ProductName]"},
       {"I1 MsiUtil_FormatString: FormatString received: [ProductName]",
        "E1 MsiUtil_FormatString: Failed to create record for formatted string"}, false, true},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      gGetCalls = 0;
      c.secondReadFails ? get.Point(&SecondReadFails) : get.Restore();
      c.noRecord ? record.Point(&NoRecord) : record.Restore();
      LogMark mark;
      const Strings results = c.call(h());
      get.Restore();
      record.Restore();
      EXPECT_EQ(c.results, results);
      EXPECT_EQ(c.lines, mark.Transcript());
   }
   for (const auto &c : {std::make_pair("12abc", 12), {"abc", 0}, {"-7", -7}, {"0601", 601}, {"", 0}}) {
      SCOPED_TRACE(std::string("the integer in '") + c.first + "'");
      ASSERT_EQ(0u, session.Set("NUMBER", c.first));
      EXPECT_EQ(c.second, MsiUtil_GetPropertyInt(h(), "NUMBER"));
   }
}

TEST_F(MsiUtilTest, LongValuesComeBackWholeAndAreLoggedUpTo4095)
{
   const std::string head = "I1 MsiUtil_GetPropertyStringW: Getting Property LONG = ";
   for (size_t length : {4095u, 4096u, 5000u}) {
      SCOPED_TRACE("a value of " + std::to_string(length) + " characters");
      const std::string value = Pattern(length);
      ASSERT_EQ(0u, session.Set("LONG", value.c_str()));
      EXPECT_EQ(value, MsiUtil_GetPropertyString(h(), "LONG"));
      LogMark mark;
      EXPECT_EQ(Wide(value), MsiUtil_GetPropertyStringW(h(), "LONG"));
      Strings lines = mark.Transcript();
      if (length < 4096) {   // shown in full, so cut by the log's own line limit
         ASSERT_EQ(2u, lines.size());
         EXPECT_EQ("The following message is truncated:", lines[0]);
         ASSERT_GT(lines[1].size(), head.size() + 1000);
         EXPECT_EQ(head + value.substr(0, lines[1].size() - head.size()), lines[1]);
      } else {
         EXPECT_EQ(Strings{head + "[...]"}, lines);
      }
   }
}

// "Größe" is 5 UTF-16 units and 7 UTF-8 bytes.
TEST_F(MsiUtilTest, GetPropertyWrapperReportsSizesInUtf8Bytes)
{
   const std::string value = "Gr\xC3\xB6\xC3\x9F" "e";
   ASSERT_EQ(0u, session.Set("SIZED", value.c_str()));
   const struct {
      const char *label;
      DWORD capacity, size;   // in, and out
      UINT rc;
      std::string content;   // the buffer afterwards, all capacity bytes
   } cases[] = {
      {"room for the terminator too", 8, 7, ERROR_SUCCESS, value + '\0'},
      {"exactly the bytes: copied, not terminated", 7, 7, ERROR_SUCCESS, value},
      {"one byte short, the units fit: the byte length", 6, 7, ERROR_MORE_DATA, "######"},
      {"too few units: four bytes per unit", 4, 20, ERROR_MORE_DATA, "####"},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      std::string buf(c.capacity + 1, '#');
      DWORD size = c.capacity;
      EXPECT_EQ(c.rc, Win32U_MsiGetProperty(h(), "SIZED", &buf[0], &size));
      EXPECT_EQ(c.size, size);
      EXPECT_EQ(c.content, buf.substr(0, c.capacity));
      EXPECT_EQ('#', buf[c.capacity]) << "written past the caller's size";
   }
}

TEST_F(MsiUtilTest, FormatStringExpandsReferencesUpTo2047Bytes)
{
   {   // no '[': unchanged, and no record is formatted; a directory
      const std::string dir = session.Get("INSTALLDIR");
      ASSERT_FALSE(dir.empty());
      LogMark mark;
      EXPECT_EQ("plain ]text", MsiUtil_FormatString(h(), "plain ]text"));
      EXPECT_EQ(dir + "bin", MsiUtil_FormatString(h(), "[INSTALLDIR]bin"));
      EXPECT_EQ((Strings{"I1 MsiUtil_FormatString: FormatString received: plain ]text",
                         "I1 MsiUtil_FormatString: FormatString received: [INSTALLDIR]bin",
                         "I1 MsiUtil_FormatString: Formatted string: " + dir + "bin"}),
                mark.Transcript());
   }
   std::string accents;   // 1024 units of 2 bytes each
   while (accents.size() < 2048) {
      accents += "\xC3\xA9";
   }
   const std::pair<std::string, bool> lengths[] = {
      {Pattern(2047), true}, {Pattern(2048), false}, {accents.substr(0, 2046) + "a", true}, {accents, false}};
   for (const auto &l : lengths) {
      SCOPED_TRACE("an expansion of " + std::to_string(l.first.size()) + " bytes");
      ASSERT_EQ(0u, session.Set("LONG", l.first.c_str()));
      EXPECT_EQ(l.second ? l.first : "", MsiUtil_FormatString(h(), "[LONG]"));
   }
}

// What a record handler was handed: the last message, its fields 1 on ("-" for
// a null field, an integer field's number, 'a string') and its text formatted
// without a handle; it answers with `button`.
struct Capture {
   int button, count = 0;
   UINT type = 0;
   std::string fields, formatted;
};

int WINAPI CaptureHandler(void *context, UINT type, MSIHANDLE record)
{
   Capture &c = *static_cast<Capture *>(context);
   wchar_t buf[1024];
   DWORD n = 1024;
   c.count++;
   c.type = type;
   for (UINT i = 1; i <= MsiRecordGetFieldCount(record); i++, n = 1024) {
      const std::string text = MsiRecordGetStringW(record, i, buf, &n) == 0 ? Utf8({buf, n}) : "?";
      const bool integer = MsiRecordGetInteger(record, i) != int(MSI_NULL_INTEGER) && MsiRecordDataSize(record, i) == 4;
      c.fields += (i > 1 ? "," : "") + (MsiRecordIsNull(record, i) ? "-" : integer ? text : "'" + text + "'");
   }
   n = 1024;
   c.formatted = MsiFormatRecordW(0, record, buf, &n) == 0 ? Utf8({buf, n}) : "?";
   return c.button;
}

// The installer fills a null field 0 with the Error row's template before the
// handler sees the record: the formatted text shows the library left it null.
TEST_F(MsiUtilTest, PostedMessagesCarryTheirFieldsAndReturnTheButton)
{
   const std::string returned = "I1 MsiUtil_PostMessageEx: MsiProcessMessage returned: ";
   const struct {
      const char *label;
      int button;
      std::function<int(MSIHANDLE)> post;
      UINT type;
      std::string fields, formatted;
      Strings lines;
   } cases[] = {
      {"'ds' with 5 and \"abc\"", IDOK,
       [](MSIHANDLE h) { return MsiUtil_PostMessageEx(h, INSTALLMESSAGE_ERROR, 25002, "ds", 5, "abc"); },
       INSTALLMESSAGE_ERROR, "25002,5,'abc'", "Number 5, text abc.", {returned + "1"}},
      {"an unknown letter stops the filling", IDCANCEL,
       [](MSIHANDLE h) { return MsiUtil_PostMessageEx(h, INSTALLMESSAGE_WARNING, 25002, "dxs", 5, "abc"); },
       INSTALLMESSAGE_WARNING, "25002,5,-,-", "Number 5, text .",
       {"I1 MsiUtil_PostMessageEx: Invalid input, skipping xs specifiers", returned + "2"}},
      {"a null string leaves its field empty", IDOK,
       [](MSIHANDLE h) {
          return MsiUtil_PostMessageEx(h, INSTALLMESSAGE_INFO, 25002, "s", static_cast<const char *>(nullptr));
       },
       INSTALLMESSAGE_INFO, "25002,-", "Number , text .", {returned + "1"}},
      {"an error message: exclamation icon and OK button", IDOK,
       [](MSIHANDLE h) { return MsiUtil_PostErrorMessage(h, 25001); }, 0x01000030u, "25001",
       "Plain error message.", {"I1 MsiUtil_PostErrorMessage: Posting error message 25001", returned + "1"}},
      {"a warning with the caller's flags", IDNO,
       [](MSIHANDLE h) { return MsiUtil_PostWarningMessage(h, MB_YESNO | MB_ICONQUESTION, 25003); },
       0x02000000u | MB_YESNO | MB_ICONQUESTION, "25003", "Plain warning message.",
       {"I1 MsiUtil_PostWarningMessage: Posting warning message 25003", returned + "7"}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      Capture got{c.button, 0, 0, {}, {}};
      const DWORD kinds = INSTALLLOGMODE_ERROR | INSTALLLOGMODE_WARNING | INSTALLLOGMODE_INFO;
      ASSERT_EQ(0u, MsiSetExternalUIRecord(CaptureHandler, kinds, &got, nullptr));
      LogMark mark;
      EXPECT_EQ(c.button, c.post(h()));
      MsiSetExternalUIRecord(nullptr, 0, nullptr, nullptr);
      EXPECT_EQ(c.lines, mark.Transcript());
      EXPECT_EQ(1, got.count);
      EXPECT_EQ(c.type, got.type);
      EXPECT_EQ(c.fields, got.fields);
      EXPECT_NE(std::string::npos, got.formatted.find(c.formatted)) << got.formatted;
   }
}

TEST_F(MsiUtilTest, SetTargetPathMovesTheFolder)
{
   const std::string moved = ProcessFolder().empty() ? "" : Utf8(ProcessFolder()) + kNonAscii + "\\";
   EXPECT_EQ(0u, MsiUtil_SetTargetPath(h(), "INSTALLDIR", moved.c_str()));
   EXPECT_EQ(moved, session.Get("INSTALLDIR"));
   EXPECT_EQ(moved + "bin", MsiUtil_FormatString(h(), "[INSTALLDIR]bin"));
   EXPECT_NE(0u, MsiUtil_SetTargetPath(h(), "NOSUCHDIR", moved.c_str()));
}

TEST(MsiUtilStrings, SprintfGrowsUpTo43008Characters)
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

// The built DLL's resources as Windows reads them. The string table is read
// from its raw blocks, language by language, so that a missing translation
// cannot hide behind the loader's fallback to another language.
constexpr UINT kFirstId = 13, kLastId = 19;
constexpr UINT kBlocks = kLastId / 16 + 1;   // block b holds ids 16*(b-1) to 16*b-1
const LPCWSTR kStringType = reinterpret_cast<LPCWSTR>(RT_STRING);   // RT_STRING follows UNICODE

const std::wstring kEnglish[] = {
   L"Setup could not determine the drive letter for this installation path.  Please specify another installation path.",
   L"The installation path may not contain a ';' character.  Please select an installation directory without this character.",
   L"You may not install this product on a network drive.",
   L"The installation path must have less than 255 characters.  This path has %d characters.",
   L"The installation directory is not writable. Please select another location or adjust its Access Control List.",
   L"Rather than using the Repair option in Add/Remove Programs, run the original %s installer again to repair this application.",
   L"Setup failed to get required information to repair this product.",
};

// English (the product's text) and its six translations.
const std::set<LANGID> kLanguages = {
   MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),     MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN),
   MAKELANGID(LANG_SPANISH, SUBLANG_SPANISH_MODERN), MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH),
   MAKELANGID(LANG_ITALIAN, SUBLANG_ITALIAN),        MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN),
   MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED)};

// UTF-8 read by windres without its code-page pragma becomes one 1252
// character per byte: back in 1252 it is valid non-ASCII UTF-8, which a right
// text never is (it does not fit 1252, or its accents are lone 1252 bytes).
bool LooksMisdecoded(const std::wstring &text)
{
   std::string bytes(2 * text.size() + 1, '\0');
   BOOL lossy = FALSE;
   int n = WideCharToMultiByte(1252, WC_NO_BEST_FIT_CHARS, text.data(), int(text.size()), &bytes[0],
                               int(bytes.size()), nullptr, &lossy);
   bytes.resize(std::max(n, 0));
   bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; });
   return !lossy && !ascii &&
          MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), n, nullptr, 0) > 0;
}

// Entries 0 to 16*kBlocks-1 of one language; a block that is missing or ends
// before its 16th counted string is reported and left empty.
std::vector<std::wstring> Table(HMODULE dll, LANGID lang)
{
   std::vector<std::wstring> table(16 * kBlocks);
   for (UINT block = 1; block <= kBlocks; ++block) {
      HRSRC found = FindResourceExW(dll, kStringType, MAKEINTRESOURCEW(block), lang);
      HGLOBAL loaded = found ? LoadResource(dll, found) : nullptr;
      const WCHAR *p = loaded ? static_cast<const WCHAR *>(LockResource(loaded)) : nullptr;
      const WCHAR *end = p ? p + SizeofResource(dll, found) / sizeof(WCHAR) : p;
      for (UINT slot = 16 * (block - 1); slot < 16 * block; ++slot) {
         if (p == end || end - p - 1 < *p) {
            ADD_FAILURE() << "language " << lang << ": block " << block << " missing or cut at " << slot;
            break;
         }
         table[slot].assign(p + 1, *p);
         p += 1 + *p;
      }
   }
   return table;
}

// Exactly the seven languages; English is the product's text, every other
// language translates each entry, and no language has entries outside 13 to
// 19. The texts are formats for the wide C runtime formatter: a lost, doubled
// or changed placeholder would read garbage from the argument list. Then
// LoadResString on the same table.
TEST(Resources, EveryLanguageHoldsItsTextsInEntries13To19Only)
{
   LoadedDll dll;
   std::set<LANGID> got;
   auto add = [](HMODULE, LPCWSTR, LPCWSTR, WORD lang, LONG_PTR out) -> BOOL {
      return reinterpret_cast<std::set<LANGID> *>(out)->insert(lang), TRUE;
   };
   for (UINT block = 1; block <= kBlocks; ++block) {
      EnumResourceLanguagesW(dll.Module(), kStringType, MAKEINTRESOURCEW(block), add, LONG_PTR(&got));
   }
   EXPECT_EQ(kLanguages, got);
   for (LANGID lang : kLanguages) {
      std::vector<std::wstring> table = Table(dll.Module(), lang);
      for (UINT id = 0; id < table.size(); ++id) {
         SCOPED_TRACE("language " + std::to_string(lang) + " entry " + std::to_string(id));
         const std::wstring &text = table[id];
         if (id < kFirstId || id > kLastId) {
            EXPECT_EQ(L"", text);
            continue;
         }
         if (lang == MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)) {
            EXPECT_EQ(kEnglish[id - kFirstId], text);
         } else {
            EXPECT_NE(kEnglish[id - kFirstId], text);
            EXPECT_FALSE(LooksMisdecoded(text)) << "read with the wrong code page";
         }
         std::wstring placeholder = id == 16 ? L"%d" : id == 18 ? L"%s" : L"";
         EXPECT_EQ(placeholder.empty() ? 0 : 1, std::count(text.begin(), text.end(), L'%'));
         EXPECT_NE(std::wstring::npos, text.find(placeholder));
         EXPECT_EQ(id == 14, text.find(L';') != std::wstring::npos);
      }
   }
   // The library's reading, in the thread's (English) language.
   ResString text("stale text that is longer than nothing");
   EXPECT_TRUE(Util_LoadResString(text, 13, dll.Module()));
   EXPECT_EQ(Utf8(kEnglish[0]), text);
   WideString wide;
   EXPECT_TRUE(Util_LoadResStringW(wide, 13, dll.Module()));
   EXPECT_EQ(kEnglish[0], wide);
   for (UINT missing : {12u, 20u, 4000u}) {
      SCOPED_TRACE("id " + std::to_string(missing));
      EXPECT_FALSE(Util_LoadResString(text, missing, dll.Module()));
      EXPECT_FALSE(Util_LoadResStringW(wide, missing, dll.Module()));
   }
   // The library's own module is this test program here, which has no table.
   EXPECT_FALSE(Util_LoadResString(text, 13, nullptr));
}

TEST(Resources, VersionNamesTheProductAndItsBuild)
{
   LoadedDll dll;   // the loaded copy is a file of the process folder
   const std::wstring path = ProcessFolder() + L"ovinstutil.dll";
   DWORD ignored = 0, size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
   ASSERT_NE(0u, size) << GetLastError();
   std::vector<BYTE> info(size);
   ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data())) << GetLastError();
   void *value = nullptr;
   UINT length = 0;
   ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", &value, &length));
   ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
   const VS_FIXEDFILEINFO &f = *static_cast<const VS_FIXEDFILEINFO *>(value);
   const DWORD major1minor0 = MAKELONG(0, 1), patch0build = MAKELONG(OV_BUILD_NUMBER, 0);
   EXPECT_EQ((std::vector<DWORD>{major1minor0, patch0build, major1minor0, patch0build, VFT_DLL}),
             (std::vector<DWORD>{f.dwFileVersionMS, f.dwFileVersionLS, f.dwProductVersionMS,
                                 f.dwProductVersionLS, f.dwFileType}));
   ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &value, &length));
   ASSERT_EQ(sizeof(DWORD), length);
   EXPECT_EQ(DWORD(MAKELONG(0x0409, 1200)), *static_cast<const DWORD *>(value)) << "U.S. English, UTF-16";
   // The text version must agree with the binary one that installers compare.
   ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904B0\\FileVersion", &value, &length));
   EXPECT_EQ(L"1.0.0." + std::to_wstring(OV_BUILD_NUMBER), static_cast<const wchar_t *>(value));
}

}  // namespace
