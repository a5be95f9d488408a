// The built DLL's resources as Windows reads them. The string table is read
// from its raw blocks, language by language, so that a missing translation
// cannot hide behind the loader's fallback to another language.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "tests/msi/msiSession.h"

namespace {

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
// or changed placeholder would read garbage from the argument list.
TEST(Resources, EveryLanguageHoldsItsTextsInEntries13To19Only)
{
   msitest::LoadedDll dll;
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
}

TEST(Resources, VersionNamesTheProductAndItsBuild)
{
   msitest::LoadedDll dll;   // the loaded copy is a file of the process folder
   const std::wstring path = msitest::ProcessFolder() + L"ovinstutil.dll";
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
