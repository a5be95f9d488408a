// The UTF-8 wrappers of the wide registry functions, against Wine's
// registry, each test under its own scratch key HKCU\Software\OvTest\<test>.
#include "lib/misc/win32uRegistry.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/log.h"
#include "lib/unicode/unicodeSimpleBase.h"
#include "tests/win/win32uTestUtil.h"

using namespace win32utest;

namespace {

const wchar_t kScratchRoot[] = L"Software\\OvTest";

// An open key, closed on every path.
struct Key {
   HKEY h = nullptr;
   Key() = default;
   Key(const Key &) = delete;
   Key &operator=(const Key &) = delete;
   ~Key()
   {
      if (h != nullptr) {
         RegCloseKey(h);
      }
   }
};

// The running test's key, removed with everything under it afterwards.
class ScratchKey : public Key {
public:
   ScratchKey() : path_(std::wstring(kScratchRoot) + L"\\" + TestName())
   {
      RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
      EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0,
                                               KEY_ALL_ACCESS, nullptr, &h, nullptr));
   }
   ~ScratchKey()
   {
      if (h != nullptr) {
         RegCloseKey(h);
         h = nullptr;
      }
      RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
      // Goes only once no other test's key is left under it.
      RegDeleteKeyW(HKEY_CURRENT_USER, kScratchRoot);
   }

private:
   std::wstring path_;
};

typedef std::vector<BYTE> Bytes;

Bytes B(const std::string &s)
{
   return Bytes(s.begin(), s.end());
}

Bytes B(const std::wstring &w)
{
   const BYTE *p = reinterpret_cast<const BYTE *>(w.data());
   return Bytes(p, p + w.size() * sizeof(wchar_t));
}

// `text` followed by '#' up to `total` bytes: what a '#'-filled buffer holds
// after `text` was written into it.
Bytes Filled(const std::string &text, size_t total)
{
   Bytes b = B(text);
   b.resize(total, '#');
   return b;
}

// Stores exactly these bytes with the wide call.
void SetRaw(HKEY key, const std::wstring &name, DWORD type, const Bytes &data)
{
   ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name.c_str(), 0, type,
                                           data.empty() ? nullptr : data.data(),
                                           static_cast<DWORD>(data.size())));
}

// Reads exactly the stored bytes with the wide call.
Bytes GetRaw(HKEY key, const std::wstring &name, DWORD *type)
{
   DWORD size = 0;
   if (RegQueryValueExW(key, name.c_str(), nullptr, type, nullptr, &size) != ERROR_SUCCESS) {
      return B("<missing>");
   }
   Bytes data(size + 1);
   if (RegQueryValueExW(key, name.c_str(), nullptr, type, data.data(), &size) != ERROR_SUCCESS) {
      return B("<unreadable>");
   }
   data.resize(size);
   return data;
}

struct Query {
   LONG result;
   DWORD type;
   DWORD size;
   Bytes data;
};

// Win32U_RegQueryValueEx into `size` bytes filled with '#'; no buffer for 0.
Query QueryValue(HKEY key, const std::string &name, DWORD size)
{
   Query q{0, 0xDEAD, size, Bytes(size, '#')};
   q.result = Win32U_RegQueryValueEx(key, name.c_str(), nullptr, &q.type,
                                     size == 0 ? nullptr : q.data.data(), &q.size);
   return q;
}

std::wstring LoneSurrogateText()
{
   return std::wstring(L"a") + static_cast<wchar_t>(0xD800) + L"b" + L'\0';
}

// --- keys and value names -----------------------------------------------------

TEST(Win32URegistryKeys, NonAsciiKeysAndValues)
{
   ScratchKey scratch;
   const std::string name = std::string("Sub ") + kMixed;
   const std::string className = std::string("Klasse") + kE;
   {
      Key sub;
      DWORD disposition = 0;
      ASSERT_EQ(ERROR_SUCCESS, Win32U_RegCreateKeyEx(scratch.h, name.c_str(), 0, className.c_str(),
                                                     0, KEY_ALL_ACCESS, nullptr, &sub.h,
                                                     &disposition));
      EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
   }
   {
      // Created under the UTF-16 form of the name, with its class.
      Key sub;
      ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(scratch.h, Wide(name).c_str(), 0, KEY_READ, &sub.h));
      wchar_t cls[64];
      DWORD clsSize = 64;
      ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(sub.h, cls, &clsSize, nullptr, nullptr, nullptr,
                                                nullptr, nullptr, nullptr, nullptr, nullptr,
                                                nullptr));
      EXPECT_EQ(Wide(className), std::wstring(cls, clsSize));
      Key opened;
      EXPECT_EQ(ERROR_SUCCESS,
                Win32U_RegOpenKeyEx(scratch.h, name.c_str(), 0, KEY_READ, &opened.h));
   }
   EXPECT_EQ(ERROR_SUCCESS, Win32U_RegDeleteKey(scratch.h, name.c_str()));
   DWORD type;
   SetRaw(scratch.h, Wide(name), REG_DWORD, Bytes{1, 0, 0, 0});
   EXPECT_EQ(ERROR_SUCCESS, Win32U_RegDeleteValue(scratch.h, name.c_str()));
   EXPECT_EQ(B("<missing>"), GetRaw(scratch.h, Wide(name), &type));

   // Failures: the wide call's result and last error, the caller's errno.
   const struct {
      const char *label;
      std::function<LONG()> wrapped, direct;
   } failures[] = {
      {"open a deleted key", [&] {
          Key k;
          return Win32U_RegOpenKeyEx(scratch.h, name.c_str(), 0, KEY_READ, &k.h);
       },
       [&] {
          Key k;
          return RegOpenKeyExW(scratch.h, Wide(name).c_str(), 0, KEY_READ, &k.h);
       }},
      {"delete a deleted key", [&] { return Win32U_RegDeleteKey(scratch.h, name.c_str()); },
       [&] { return RegDeleteKeyW(scratch.h, Wide(name).c_str()); }},
      {"delete a deleted value", [&] { return Win32U_RegDeleteValue(scratch.h, name.c_str()); },
       [&] { return RegDeleteValueW(scratch.h, Wide(name).c_str()); }},
   };
   for (const auto &f : failures) {
      SCOPED_TRACE(f.label);
      SetSentinels();
      LONG direct = f.direct();
      DWORD directError = GetLastError();
      SetSentinels();
      EXPECT_EQ(direct, f.wrapped());
      EXPECT_EQ(ERROR_FILE_NOT_FOUND, direct);
      EXPECT_EQ(directError, GetLastError());
      EXPECT_EQ(kErrnoSentinel, errno);
   }
}

// --- Win32U_RegSetValueEx ----------------------------------------------------

TEST(Win32URegistrySet, StringsAreStoredAsTerminatedUtf16AndOthersUnchanged)
{
   ScratchKey scratch;
   const std::string name = std::string("v") + kMixed;
   const std::string text = std::string("d") + kMixed;
   const Bytes wideText = B(Wide(text) + L'\0');
   const Bytes ab = B(std::wstring(L"a\0b\0\0", 5));
   const Bytes empty = B(std::wstring(1, L'\0'));
   const struct {
      const char *label;
      DWORD type;
      std::string data;
      Bytes stored;
   } cases[] = {
      {"REG_SZ with its terminator", REG_SZ, text + '\0', wideText},
      {"REG_SZ without it: added", REG_SZ, text, wideText},
      {"REG_EXPAND_SZ", REG_EXPAND_SZ, text + '\0', wideText},
      {"REG_SZ, bytes after the terminator", REG_SZ, std::string("ab\0cd", 6),
       B(std::wstring(L"ab\0", 3))},
      {"REG_SZ of size 0: the empty string", REG_SZ, "", empty},
      {"REG_MULTI_SZ of two strings", REG_MULTI_SZ,
       std::string(kE) + '\0' + kEuro + kSmile + '\0' + '\0',
       B(Wide(kE) + L'\0' + Wide(std::string(kEuro) + kSmile) + L'\0' + L'\0')},
      {"REG_MULTI_SZ without the list end", REG_MULTI_SZ, std::string("a\0b\0", 4), ab},
      {"REG_MULTI_SZ without the last terminator", REG_MULTI_SZ, std::string("a\0b", 3), ab},
      {"REG_MULTI_SZ, bytes after the list end", REG_MULTI_SZ, std::string("a\0b\0\0zz", 7), ab},
      {"REG_MULTI_SZ, empty list", REG_MULTI_SZ, std::string(1, '\0'), empty},
      {"REG_MULTI_SZ of size 0", REG_MULTI_SZ, "", empty},
      {"REG_DWORD", REG_DWORD, "\x78\x56\x34\x12", B("\x78\x56\x34\x12")},
      {"REG_BINARY, not UTF-8", REG_BINARY, std::string("\xC3\xFF\0A\x80", 5),
       B(std::string("\xC3\xFF\0A\x80", 5))},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      ASSERT_EQ(ERROR_SUCCESS, Win32U_RegSetValueEx(scratch.h, name.c_str(), 0, c.type,
                                                    reinterpret_cast<const BYTE *>(c.data.c_str()),
                                                    static_cast<DWORD>(c.data.size())));
      DWORD stored = 0;
      EXPECT_EQ(c.stored, GetRaw(scratch.h, Wide(name), &stored));
      EXPECT_EQ(c.type, stored);
   }
   // A string type without data reaches the wide call as it is.
   EXPECT_EQ(RegSetValueExW(scratch.h, L"nd", 0, REG_SZ, nullptr, 0),
             Win32U_RegSetValueEx(scratch.h, "nd", 0, REG_SZ, nullptr, 0));
}

// --- Win32U_RegQueryValueEx --------------------------------------------------

TEST(Win32URegistryQuery, BuffersSizesAndConversions)
{
   ScratchKey scratch;
   const std::string name = std::string("n") + kSmile;
   const Bytes abc = B(std::wstring(L"abc\0", 4));
   const Bytes mixed = B(Wide(kMixed) + L'\0');   // 10 bytes; 9 in UTF-8
   const Bytes two = B(Wide(kE) + L'\0' + Wide(std::string(kEuro) + kSmile) + L'\0' + L'\0');
   const std::string twoUtf8 = std::string(kE) + '\0' + kEuro + kSmile + '\0' + '\0';
   const std::string expandable = std::string("%SystemRoot%\\") + kEuro;
   const Bytes dword{0x78, 0x56, 0x34, 0x12};
   const std::string binary("\xC3\xFF\0A\x80\0\0\xD8\x01\x02", 10);
   const std::string nul(1, '\0');
   const struct {
      const char *label;
      DWORD type;
      Bytes stored;
      DWORD size;   // the caller's buffer; 0 for none
      LONG result;
      DWORD reported;
      std::string data;   // written at the start of the buffer
   } cases[] = {
      {"abc, 2 bytes: twice the UTF-16 bytes", REG_SZ, abc, 2, ERROR_MORE_DATA, 16, ""},
      {"abc, 3 bytes: the wide call gets 6 of 8", REG_SZ, abc, 3, ERROR_MORE_DATA, 16, ""},
      {"abc, 4 bytes: fits exactly", REG_SZ, abc, 4, 0, 3, std::string("abc\0", 4)},
      {"abc, 8 bytes", REG_SZ, abc, 8, 0, 3, std::string("abc\0", 4)},
      {"abc, no buffer: twice the UTF-16 bytes", REG_SZ, abc, 0, 0, 16, ""},
      {"non-ASCII, no buffer", REG_SZ, mixed, 0, 0, 20, ""},
      {"non-ASCII, 10 bytes: fits exactly", REG_SZ, mixed, 10, 0, 9, kMixed + '\0'},
      {"non-ASCII, 9 bytes: the UTF-8 length", REG_SZ, mixed, 9, ERROR_MORE_DATA, 9, ""},
      {"non-ASCII, 4 bytes: the wide call fails", REG_SZ, mixed, 4, ERROR_MORE_DATA, 20, ""},
      {"REG_EXPAND_SZ stays unexpanded", REG_EXPAND_SZ, B(Wide(expandable) + L'\0'), 32, 0,
       static_cast<DWORD>(expandable.size()), expandable + '\0'},
      {"no terminator stored", REG_SZ, B(L"abc"), 8, 0, 3, std::string("abc\0", 4)},
      {"text after the terminator", REG_SZ, B(std::wstring(L"ab\0cd\0", 6)), 16, 0, 2,
       std::string("ab\0", 3)},
      {"nothing stored", REG_SZ, Bytes(), 4, 0, 0, nul},
      {"nothing stored, no buffer", REG_SZ, Bytes(), 0, 0, 0, ""},
      {"empty string, 1 byte", REG_SZ, B(std::wstring(1, L'\0')), 1, 0, 0, nul},
      {"REG_MULTI_SZ of two strings, no buffer", REG_MULTI_SZ, two, 0, 0, 28, ""},
      {"REG_MULTI_SZ of two strings", REG_MULTI_SZ, two, 32, 0, 11, twoUtf8},
      {"REG_MULTI_SZ fitting exactly", REG_MULTI_SZ, two, 12, 0, 11, twoUtf8},
      {"REG_MULTI_SZ one byte short", REG_MULTI_SZ, two, 11, ERROR_MORE_DATA, 11, ""},
      {"REG_MULTI_SZ without the list end", REG_MULTI_SZ, B(std::wstring(L"a\0b\0", 4)), 16, 0,
       4, std::string("a\0b\0\0", 5)},
      {"REG_MULTI_SZ without the last terminator", REG_MULTI_SZ, B(std::wstring(L"a\0b", 3)),
       16, 0, 4, std::string("a\0b\0\0", 5)},
      {"REG_MULTI_SZ, empty list", REG_MULTI_SZ, B(std::wstring(2, L'\0')), 4, 0, 0, nul},
      {"odd byte count", REG_SZ, Bytes{'a', 0, 'b', 0, 'c', 0, 'd'}, 16, ERROR_INVALID_DATA, 16,
       ""},
      {"odd byte count, no buffer: nothing measured", REG_SZ, Bytes{'a', 0, 'b', 0, 'c', 0, 'd'},
       0, 0, 14, ""},
      {"odd REG_MULTI_SZ", REG_MULTI_SZ, Bytes{'a', 0, 0, 0, 'd'}, 16, ERROR_INVALID_DATA, 16, ""},
      {"odd byte count, the extra byte zero", REG_SZ, Bytes{'a', 0, 'b', 0, 0, 0, 0}, 16, 0, 2,
       std::string("ab\0", 3)},
      {"lone surrogate", REG_SZ, B(LoneSurrogateText()), 16, ERROR_INVALID_DATA, 16, ""},
      {"REG_DWORD", REG_DWORD, dword, 4, 0, 4, "\x78\x56\x34\x12"},
      {"REG_DWORD, 2 bytes: the wide call had room", REG_DWORD, dword, 2, ERROR_MORE_DATA, 4, ""},
      {"REG_DWORD, no buffer", REG_DWORD, dword, 0, 0, 4, ""},
      {"REG_BINARY", REG_BINARY, B(binary), 10, 0, 10, binary},
      {"REG_BINARY, 6 bytes: the wide call had room", REG_BINARY, B(binary), 6, ERROR_MORE_DATA,
       10, ""},
      {"REG_BINARY, 4 bytes: the wide call fails", REG_BINARY, B(binary), 4, ERROR_MORE_DATA, 10,
       ""},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      SetRaw(scratch.h, Wide(name), c.type, c.stored);
      Query q = QueryValue(scratch.h, name, c.size);
      EXPECT_EQ(c.result, q.result);
      EXPECT_EQ(c.reported, q.size);
      EXPECT_EQ(c.type, q.type);
      EXPECT_EQ(Filled(c.data, c.size), q.data);
   }
}

TEST(Win32URegistryQuery, ArgumentsErrnoAndLastError)
{
   ScratchKey scratch;
   SetRaw(scratch.h, L"v", REG_SZ, B(Wide(kMixed) + L'\0'));
   // A buffer without its size is refused, as by the wide call.
   BYTE buf[32];
   EXPECT_EQ(ERROR_INVALID_PARAMETER,
             Win32U_RegQueryValueEx(scratch.h, "v", nullptr, nullptr, buf, nullptr));
   // Neither buffer nor size: only the type.
   DWORD type = 0;
   EXPECT_EQ(ERROR_SUCCESS,
             Win32U_RegQueryValueEx(scratch.h, "v", nullptr, &type, nullptr, nullptr));
   EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
   // A missing value leaves every output as it was.
   Query q = QueryValue(scratch.h, std::string("no") + kE, 8);
   EXPECT_EQ(ERROR_FILE_NOT_FOUND, q.result);
   EXPECT_EQ(8u, q.size);
   EXPECT_EQ(0xDEADu, q.type);
   EXPECT_EQ(Filled("", 8), q.data);

   DWORD size = sizeof buf;
   SetSentinels();
   ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(scratch.h, L"v", nullptr, nullptr, buf, &size));
   DWORD directError = GetLastError();
   size = sizeof buf;
   SetSentinels();
   EXPECT_EQ(ERROR_SUCCESS, Win32U_RegQueryValueEx(scratch.h, "v", nullptr, nullptr, buf, &size));
   EXPECT_EQ(directError, GetLastError());
   EXPECT_EQ(kErrnoSentinel, errno);
   EXPECT_EQ(kMixed, reinterpret_cast<char *>(buf));
}

void LogMalformedValues(const std::wstring &logFolder, HKEY key)
{
   // A death-test child: its log state is fresh.
   ScopedEnv tmp(L"TMP", logFolder);
   Inst_SetupLogging("win32uRegistry", nullptr, "registry.log", nullptr);
   Query odd = QueryValue(key, "odd", 16);
   Query lone = QueryValue(key, "lone", 16);
   Inst_EndLogging();
   exit(odd.result == ERROR_INVALID_DATA && lone.result == ERROR_INVALID_DATA ? 0 : 1);
}

TEST(Win32URegistryQueryDeathTest, MalformedTextLogsOneLineEach)
{
   ScratchDir dir;
   ScratchKey scratch;
   SetRaw(scratch.h, L"odd", REG_SZ, Bytes{'a', 0, 'b', 0, 'c', 0, 'd'});
   std::wstring lone = LoneSurrogateText();
   SetRaw(scratch.h, L"lone", REG_SZ, B(lone));
   EXPECT_EXIT(LogMalformedValues(dir.wide(), scratch.h), testing::ExitedWithCode(0), "");

   std::string log = ReadWholeFile(dir.WidePath("registry.log"));
   EXPECT_EQ(1u, CountOf(log, "Win32UGetRegistryStringLength: Unexpected size of a UTF-16 "
                              "string: 8 bytes exceeds buffer of 7 bytes.\r\n"))
      << log;
   // The text up to its terminator is what failed to convert.
   char *escaped = Unicode_EscapeBuffer(lone.data(), 3 * sizeof(wchar_t), STRING_ENCODING_UTF16_LE);
   ASSERT_NE(nullptr, escaped);
   std::string expected = std::string("Win32UCodeSetUtf16leToUtf8: Failed to convert the UTF-16 "
                                      "string to UTF-8: ") + escaped + ".\r\n";
   free(escaped);
   EXPECT_EQ(1u, CountOf(log, expected)) << log;
   EXPECT_EQ(2u, CountOf(log, "Win32U")) << log;
}

// --- Win32U_RegEnumKeyEx, Win32U_RegEnumValue --------------------------------

TEST(Win32URegistryEnum, KeysWithNonAsciiNamesAndClass)
{
   ScratchKey scratch;
   const std::string small = std::string(kEuro) + kSmile;   // 7 UTF-8 bytes
   const std::map<std::string, std::string> keys = {
      {kE, ""}, {small, ""}, {"plain", std::string("Cl") + kE}};   // name: class
   for (const auto &k : keys) {
      Key sub;
      std::wstring cls = Wide(k.second);
      ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(scratch.h, Wide(k.first).c_str(), 0, &cls[0], 0,
                                               KEY_ALL_ACCESS, nullptr, &sub.h, nullptr));
   }
   std::map<std::string, std::string> seen;
   DWORD index = 0, smallIndex = 0;
   for (LONG rc = ERROR_SUCCESS; rc == ERROR_SUCCESS; index++) {
      char name[64], cls[64];
      DWORD nameSize = sizeof name, clsSize = sizeof cls;
      FILETIME written = {0, 0};
      rc = Win32U_RegEnumKeyEx(scratch.h, index, name, &nameSize, nullptr, cls, &clsSize,
                               &written);
      if (rc == ERROR_SUCCESS) {
         EXPECT_EQ(strlen(name), nameSize);
         EXPECT_EQ(strlen(cls), clsSize);
         EXPECT_NE(0u, written.dwLowDateTime | written.dwHighDateTime);
         seen[name] = cls;
         smallIndex = name == small ? index : smallIndex;
      } else {
         EXPECT_EQ(ERROR_NO_MORE_ITEMS, rc);
      }
   }
   EXPECT_EQ(keys, seen);

   // The name's UTF-8 form and terminator need 8 bytes.
   char buf[16];
   memset(buf, '#', sizeof buf);
   DWORD size = 7;
   EXPECT_EQ(ERROR_MORE_DATA, Win32U_RegEnumKeyEx(scratch.h, smallIndex, buf, &size, nullptr,
                                                  nullptr, nullptr, nullptr));
   EXPECT_EQ(7u, size);
   EXPECT_EQ('#', buf[0]);
   size = 8;
   EXPECT_EQ(ERROR_SUCCESS, Win32U_RegEnumKeyEx(scratch.h, smallIndex, buf, &size, nullptr,
                                                nullptr, nullptr, nullptr));
   EXPECT_EQ(small, buf);
}

TEST(Win32URegistryEnum, ValuesWithNamesTypesAndConvertedData)
{
   ScratchKey scratch;
   const std::string textName = std::string("n") + kE;   // 3 UTF-8 bytes
   struct Value {
      DWORD type;
      Bytes stored;
      std::string data;   // what the caller gets
   };
   const std::map<std::string, Value> values = {
      {textName, {REG_SZ, B(Wide(kMixed) + L'\0'), kMixed + '\0'}},
      {kSmile, {REG_DWORD, Bytes{5, 0, 0, 0}, std::string("\5\0\0\0", 4)}},
      {std::string("multi") + kEuro,
       {REG_MULTI_SZ, B(L"a" + std::wstring(1, L'\0') + Wide(kE) + L'\0' + L'\0'),
        std::string("a\0", 2) + kE + '\0' + '\0'}},
   };
   for (const auto &v : values) {
      SetRaw(scratch.h, Wide(v.first), v.second.type, v.second.stored);
   }
   DWORD index = 0, textIndex = 0;
   for (LONG rc = ERROR_SUCCESS; rc == ERROR_SUCCESS; index++) {
      char name[64];
      DWORD nameSize = sizeof name, type = 0, size = 32;
      Bytes data(32, '#');
      rc = Win32U_RegEnumValue(scratch.h, index, name, &nameSize, nullptr, &type, data.data(),
                               &size);
      if (rc != ERROR_SUCCESS) {
         EXPECT_EQ(ERROR_NO_MORE_ITEMS, rc);
         continue;
      }
      SCOPED_TRACE(name);
      auto it = values.find(name);
      ASSERT_NE(values.end(), it);
      EXPECT_EQ(strlen(name), nameSize);
      EXPECT_EQ(it->second.type, type);
      // A string's size leaves out its last terminator.
      EXPECT_EQ(it->second.data.size() - (type == REG_DWORD ? 0 : 1), size);
      EXPECT_EQ(Filled(it->second.data, 32), data);
      textIndex = name == textName ? index : textIndex;
   }
   EXPECT_EQ(values.size() + 1, index);

   char name[16];
   BYTE data[16];
   memset(data, '#', sizeof data);
   DWORD nameSize = sizeof name, dataSize = 2, type = 0;
   // The data: 2 bytes give the wide call 4 of 10.
   EXPECT_EQ(ERROR_MORE_DATA, Win32U_RegEnumValue(scratch.h, textIndex, name, &nameSize, nullptr,
                                                  &type, data, &dataSize));
   EXPECT_EQ(20u, dataSize);
   EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
   EXPECT_EQ('#', data[0]);
   // The name: its UTF-8 form and terminator need 4 bytes.
   nameSize = 3;
   dataSize = sizeof data;
   EXPECT_EQ(ERROR_MORE_DATA, Win32U_RegEnumValue(scratch.h, textIndex, name, &nameSize, nullptr,
                                                  &type, data, &dataSize));
   EXPECT_EQ(3u, nameSize);
   // Sizes only: twice the UTF-16 bytes, as for the query.
   nameSize = sizeof name;
   dataSize = 0;
   EXPECT_EQ(ERROR_SUCCESS, Win32U_RegEnumValue(scratch.h, textIndex, name, &nameSize, nullptr,
                                                &type, nullptr, &dataSize));
   EXPECT_EQ(20u, dataSize);
   EXPECT_EQ(textName, name);
}

// --- Win32UCodeSetUtf16leToUtf8 ----------------------------------------------

TEST(Win32UCodeSetUtf16leToUtf8, ResultsSizesAndBuffers)
{
   const std::wstring mixed = Wide(kMixed);   // 8 bytes, 9 in UTF-8
   const wchar_t withNul[] = {L'a', 0, L'b'};
   const wchar_t lone[] = {L'a', static_cast<wchar_t>(0xDC00)};
   const struct {
      const char *label;
      const wchar_t *text;
      DWORD bytes;
      bool buffer;
      DWORD size;
      LONG result;
      DWORD reported;
      std::string written;
   } cases[] = {
      {"fits exactly", mixed.c_str(), 8, true, 10, 0, 9, kMixed + '\0'},
      {"one byte short", mixed.c_str(), 8, true, 9, ERROR_MORE_DATA, 9, ""},
      {"no buffer: the UTF-8 length", mixed.c_str(), 8, false, 100, ERROR_MORE_DATA, 9, ""},
      {"embedded terminators are text", withNul, 6, true, 16, 0, 3, std::string("a\0b\0", 4)},
      {"empty text", L"", 0, true, 1, 0, 0, std::string(1, '\0')},
      {"empty text, size 0", nullptr, 0, true, 0, ERROR_MORE_DATA, 0, ""},
      {"lone surrogate", lone, 4, true, 16, ERROR_INVALID_DATA, 16, ""},
      {"odd byte count", L"ab", 3, true, 16, ERROR_INVALID_DATA, 16, ""},
      {"no text with a length", nullptr, 4, true, 16, ERROR_INVALID_PARAMETER, 16, ""},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      char buf[16];
      memset(buf, '#', sizeof buf);
      DWORD size = c.size;
      SetSentinels();
      EXPECT_EQ(c.result, Win32UCodeSetUtf16leToUtf8(c.text, c.bytes, c.buffer ? buf : nullptr,
                                                     &size));
      EXPECT_EQ(c.reported, size);
      EXPECT_EQ(Filled(c.written, sizeof buf), Bytes(buf, buf + sizeof buf));
      // The conversion allocates; the caller's errno and last error stay.
      EXPECT_EQ(kErrnoSentinel, errno);
      EXPECT_EQ(kLastErrorSentinel, GetLastError());
   }
   char buf[4];
   EXPECT_EQ(ERROR_INVALID_PARAMETER, Win32UCodeSetUtf16leToUtf8(L"ab", 4, buf, nullptr));
}

TEST(Win32URegistryDeathTest, InvalidUtf8DataEndsTheProcess)
{
   ScratchKey scratch;
   const char bad[] = "a\xC3(";
   EXPECT_EXIT(Win32U_RegSetValueEx(scratch.h, "x", 0, REG_SZ, reinterpret_cast<const BYTE *>(bad),
                                    sizeof bad),
               testing::ExitedWithCode(kPanicExitCode), "NOT_IMPLEMENTED lib/misc/win32uRegistry:");
}

}  // namespace
