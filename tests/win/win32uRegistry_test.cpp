// The UTF-8 wrappers of the wide registry functions, against Wine's
// registry, with their failure lines. Key and value names with non-ASCII
// text go through them in the registry library's tests too.
#include "lib/misc/win32u.h"
#include "lib/misc/win32uRegistry.h"

#include <gtest/gtest.h>

#include "tests/win/win32uTestUtil.h"

using namespace win32utest;
using namespace std::string_literals;
using Strings = std::vector<std::string>;

namespace {

TEST(Win32URegistry, SetStoresTerminatedUtf16QueryConvertsBack)
{
   ScratchKey s;
   const std::string name = "v" + kMixed, ab = Bytes(L"a\0b\0\0"s);
   const std::wstring wide = Wide(name);
   const struct { const char *label; DWORD type; std::string data, stored; } cases[] = {
      {"REG_SZ with its terminator", REG_SZ, kMixed + '\0', Bytes(Wide(kMixed) + L'\0')},
      {"REG_EXPAND_SZ without it: added", REG_EXPAND_SZ, kMixed, Bytes(Wide(kMixed) + L'\0')},
      {"REG_MULTI_SZ of two strings", REG_MULTI_SZ, kE + "\0"s + kMixed + "\0\0"s,
       Bytes(Wide(kE) + L'\0' + Wide(kMixed) + L"\0\0"s)},
      {"REG_MULTI_SZ without the list end", REG_MULTI_SZ, "a\0b\0"s, ab},
      {"REG_MULTI_SZ without the last terminator", REG_MULTI_SZ, "a\0b"s, ab},
      {"REG_MULTI_SZ, bytes after the list end", REG_MULTI_SZ, "a\0b\0\0zz"s, ab},
      {"REG_MULTI_SZ of size 0", REG_MULTI_SZ, "", Bytes(L"\0"s)},
      {"REG_BINARY, not UTF-8", REG_BINARY, "\xC3\xFF\0A\x80"s, "\xC3\xFF\0A\x80"s},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      EXPECT_EQ(0, Win32U_RegSetValueEx(s.key, name.c_str(), 0, c.type, (const BYTE *)c.data.data(),
                                        DWORD(c.data.size())));
      char stored[64];
      DWORD type = 0, size = 64;
      RegQueryValueExW(s.key, wide.c_str(), nullptr, &type, (BYTE *)stored, &size);
      EXPECT_EQ(Str(c.type) + ":" + c.stored, Str(type) + ":" + std::string(stored, size));
   }

   // Queries, each under a log capture of its own: the failure lines (level
   // letters included) exactly, and no line at all on the other paths.
   const std::string abc = Bytes(L"abc\0"s), mixed = Bytes(Wide(kMixed) + L'\0');   // 10 bytes
   const std::string two = Bytes(Wide(kE) + L'\0' + Wide(kMixed) + L"\0\0"s);      // 16 bytes
   // Type REG_NONE: no value; size: the caller's buffer, 0 for none; data: written at its start.
   const struct { const char *label; DWORD type; std::string stored; DWORD size; LONG result; DWORD reported;
                  std::string data; Strings lines; } queries[] = {
      {"abc, 3 bytes: the wide call gets 6 of 8", REG_SZ, abc, 3, ERROR_MORE_DATA, 16, "", {}},
      {"abc, 4 bytes: fits exactly", REG_SZ, abc, 4, 0, 3, "abc\0"s, {}},
      {"abc, no buffer: twice the UTF-16 bytes", REG_SZ, abc, 0, 0, 16, "", {}},
      {"non-ASCII, 10 bytes: fits exactly", REG_SZ, mixed, 10, 0, 9, kMixed + '\0', {}},
      {"non-ASCII, 9 bytes: the UTF-8 length", REG_SZ, mixed, 9, ERROR_MORE_DATA, 9, "", {}},
      {"no terminator stored", REG_EXPAND_SZ, Bytes(L"abc"s), 8, 0, 3, "abc\0"s, {}},
      {"REG_MULTI_SZ of two strings", REG_MULTI_SZ, two, 14, 0, 13, kE + "\0"s + kMixed + "\0\0"s, {}},
      {"REG_MULTI_SZ without the last terminator", REG_MULTI_SZ, Bytes(L"a\0b"s), 16, 0, 4, "a\0b\0\0"s, {}},
      {"odd byte count", REG_SZ, "a\0b\0c\0d"s, 16, ERROR_INVALID_DATA, 16, "",
       {"E1 Win32UGetRegistryStringLength: Unexpected size of a UTF-16 string: 8 bytes exceeds buffer of 7 bytes."}},
      {"lone surrogate: its text up to the terminator", REG_SZ, Bytes(L"a\xD800" L"b\0"s), 16, ERROR_INVALID_DATA,
       16, "", {"E1 Win32UCodeSetUtf16leToUtf8: Failed to convert the UTF-16 string to UTF-8: "
                "\\x61\\x00\\x00\\xD8\\x62\\x00."}},
      {"REG_DWORD, 2 bytes: the wide call had room", REG_DWORD, "\x78\x56\x34\x12", 2, ERROR_MORE_DATA, 4, "", {}},
      {"no value: every output as it was", REG_NONE, "", 8, ERROR_FILE_NOT_FOUND, 8, "", {}},
   };
   for (const auto &c : queries) {
      SCOPED_TRACE(c.label);
      s.Put(L"", wide.c_str(), c.type, c.stored);
      LogCapture log;
      SetSentinels();
      DWORD type = 0xDEAD, size = c.size;
      std::string data(c.size, '#');   // no buffer for size 0
      const LONG rc = Win32U_RegQueryValueEx(s.key, name.c_str(), nullptr, &type,
                                             c.size ? (BYTE *)&data[0] : nullptr, &size);
      // Wine's registry calls leave errno and the last error alone, and so must the conversions and the log.
      EXPECT_EQ(Str(kErrnoSentinel) + " " + Str(kLastErrorSentinel), Str(errno) + " " + Str(GetLastError()));
      EXPECT_EQ(Str(c.result) + " " + Str(c.reported) + " " + Str(c.type == REG_NONE ? 0xDEAD : c.type),
                Str(rc) + " " + Str(size) + " " + Str(type));
      EXPECT_EQ(c.data + std::string(c.size - c.data.size(), '#'), data);
      EXPECT_EQ(c.lines, log.Take());
   }
   // Enumerated: the name, the type, and the data as a query gives it.
   s.Put(L"", wide.c_str(), REG_MULTI_SZ, two);
   char got[32];
   BYTE out[32];
   DWORD gotSize = 32, type = 0, size = 32;
   EXPECT_EQ(ERROR_SUCCESS, Win32U_RegEnumValue(s.key, 0, got, &gotSize, 0, &type, out, &size));
   EXPECT_EQ(name + " 7 " + kE + "\0"s + kMixed + "\0\0"s,
             std::string(got, gotSize) + " " + Str(type) + " " + std::string((const char *)out, size + 1));
   EXPECT_EQ(ERROR_NO_MORE_ITEMS, Win32U_RegEnumValue(s.key, 1, got, &gotSize, 0, 0, 0, 0));
   // Keys: the name and the class, both ways.
   HKEY sub;
   ASSERT_EQ(0, Win32U_RegCreateKeyEx(s.key, name.c_str(), 0, kE, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr));
   RegCloseKey(sub);
   gotSize = size = 32;
   EXPECT_EQ(0, Win32U_RegEnumKeyEx(s.key, 0, got, &gotSize, nullptr, (char *)out, &size, nullptr));
   EXPECT_EQ(name + " " + kE, std::string(got, gotSize) + " " + std::string((const char *)out, size));
}

}  // namespace
