// The UTF-8 wrappers of the wide registry functions, against Wine's
// registry, each test under the scratch key HKCU\Software\OvTest, with
// their failure lines.
#include "lib/misc/win32u.h"
#include "lib/misc/win32uRegistry.h"

#include <gtest/gtest.h>

#include <map>

#include "tests/win/win32uTestUtil.h"

using namespace win32utest;
using namespace std::string_literals;
using Strings = std::vector<std::string>;

namespace {

// The scratch key, emptied first and removed afterwards.
struct ScratchKey {
   HKEY h = nullptr;
   ScratchKey()
   {
      RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\OvTest", 0, 0, 0, KEY_ALL_ACCESS, 0, &h, 0);
      RegDeleteTreeW(h, nullptr);   // what an interrupted run left
   }
   ~ScratchKey() { RegCloseKey(h), RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\OvTest"); }
};

std::string Bytes(const std::wstring &w)
{
   return std::string(reinterpret_cast<const char *>(w.data()), w.size() * sizeof(wchar_t));
}

// Stores exactly these bytes with the wide call; REG_NONE removes the value.
void SetRaw(HKEY key, const std::string &name, DWORD type, const std::string &data)
{
   RegDeleteValueW(key, Wide(name).c_str());
   if (type != REG_NONE) {
      RegSetValueExW(key, Wide(name).c_str(), 0, type, (const BYTE *)data.data(),
                     DWORD(data.size()));
   }
}

TEST(Win32URegistryKeys, CreateEnumerateOpenAndDelete)
{
   ScratchKey scratch;
   const std::string name = "Sub " + kMixed;
   const std::map<std::string, std::string> keys = {{kE, ""}, {kSmile, ""}, {name, "Cl"s + kE}};
   for (const auto &k : keys) {
      HKEY sub;
      ASSERT_EQ(ERROR_SUCCESS, Win32U_RegCreateKeyEx(scratch.h, k.first.c_str(), 0,
                                                     k.second.c_str(), 0, KEY_ALL_ACCESS,
                                                     nullptr, &sub, nullptr));
      RegCloseKey(sub);
   }
   // Enumerated with their classes, converted the other way.
   std::map<std::string, std::string> seen;
   LONG rc = ERROR_SUCCESS;
   for (DWORD i = 0; rc == ERROR_SUCCESS; i++) {
      char key[64], cls[64];
      DWORD keySize = 64, clsSize = 64;
      rc = Win32U_RegEnumKeyEx(scratch.h, i, key, &keySize, nullptr, cls, &clsSize, nullptr);
      if (rc == ERROR_SUCCESS) {
         seen[std::string(key, keySize)] = std::string(cls, clsSize);
      }
   }
   EXPECT_EQ(ERROR_NO_MORE_ITEMS, rc);
   EXPECT_EQ(keys, seen);
   HKEY opened;
   EXPECT_EQ(ERROR_SUCCESS, Win32U_RegOpenKeyEx(scratch.h, name.c_str(), 0, KEY_READ, &opened));
   RegCloseKey(opened);
   EXPECT_EQ(ERROR_SUCCESS, Win32U_RegDeleteKey(scratch.h, name.c_str()));
   SetRaw(scratch.h, name, REG_DWORD, "1234");
   EXPECT_EQ(ERROR_SUCCESS, Win32U_RegDeleteValue(scratch.h, name.c_str()));
   // Again, failing: the wide call's result and last error, the caller's errno.
   const std::wstring wide = Wide(name);
   EXPECT_EQ(Outcome([&] { return Str(RegDeleteKeyW(scratch.h, wide.c_str())); }),
             Outcome([&] { return Str(Win32U_RegDeleteKey(scratch.h, name.c_str())); }));
   EXPECT_EQ(Outcome([&] { return Str(RegDeleteValueW(scratch.h, wide.c_str())); }),
             Outcome([&] { return Str(Win32U_RegDeleteValue(scratch.h, name.c_str())); }));
}

TEST(Win32URegistrySet, StringsAreStoredAsTerminatedUtf16AndOthersUnchanged)
{
   ScratchKey scratch;
   const std::string name = "v" + kMixed, ab = Bytes(L"a\0b\0\0"s);
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
      EXPECT_EQ(ERROR_SUCCESS, Win32U_RegSetValueEx(scratch.h, name.c_str(), 0, c.type,
                                                    (const BYTE *)c.data.data(),
                                                    DWORD(c.data.size())));
      char stored[64];
      DWORD type = 0, size = 64;
      RegQueryValueExW(scratch.h, Wide(name).c_str(), nullptr, &type, (BYTE *)stored, &size);
      EXPECT_EQ(c.stored, std::string(stored, size));
      EXPECT_EQ(c.type, type);
   }
}

// Each case under a log capture of its own: the failure lines (level
// letters included) exactly, and no line at all on the other paths.
TEST(Win32URegistryQuery, BuffersSizesConversionsAndFailureLines)
{
   ScratchKey scratch;
   const std::string name = "n" + std::string(kSmile);
   const std::string abc = Bytes(L"abc\0"s), mixed = Bytes(Wide(kMixed) + L'\0');   // 10 bytes
   const std::string two = Bytes(Wide(kE) + L'\0' + Wide(kMixed) + L"\0\0"s);      // 16 bytes
   const std::string twoUtf8 = kE + "\0"s + kMixed + "\0\0"s;                     // 14 bytes
   const std::string dword = "\x78\x56\x34\x12";
   const Strings none;
   // Type REG_NONE: no value; size: the caller's buffer, 0 for none; data: written at its start.
   const struct { const char *label; DWORD type; std::string stored; DWORD size; LONG result;
                  DWORD reported; std::string data; Strings lines; } cases[] = {
      {"abc, 2 bytes: twice the UTF-16 bytes", REG_SZ, abc, 2, ERROR_MORE_DATA, 16, "", none},
      {"abc, 3 bytes: the wide call gets 6 of 8", REG_SZ, abc, 3, ERROR_MORE_DATA, 16, "", none},
      {"abc, 4 bytes: fits exactly", REG_SZ, abc, 4, 0, 3, "abc\0"s, none},
      {"abc, no buffer: twice the UTF-16 bytes", REG_SZ, abc, 0, 0, 16, "", none},
      {"non-ASCII, 10 bytes: fits exactly", REG_SZ, mixed, 10, 0, 9, kMixed + '\0', none},
      {"non-ASCII, 9 bytes: the UTF-8 length", REG_SZ, mixed, 9, ERROR_MORE_DATA, 9, "", none},
      {"no terminator stored", REG_EXPAND_SZ, Bytes(L"abc"s), 8, 0, 3, "abc\0"s, none},
      {"REG_MULTI_SZ of two strings", REG_MULTI_SZ, two, 14, 0, 13, twoUtf8, none},
      {"REG_MULTI_SZ one byte short", REG_MULTI_SZ, two, 13, ERROR_MORE_DATA, 13, "", none},
      {"REG_MULTI_SZ without the last terminator", REG_MULTI_SZ, Bytes(L"a\0b"s), 16, 0, 4,
       "a\0b\0\0"s, none},
      {"odd byte count", REG_SZ, "a\0b\0c\0d"s, 16, ERROR_INVALID_DATA, 16, "",
       {"E1 Win32UGetRegistryStringLength: Unexpected size of a UTF-16 string: 8 bytes exceeds "
        "buffer of 7 bytes."}},
      {"lone surrogate: its text up to the terminator", REG_SZ, Bytes(L"a\xD800" L"b\0"s), 16,
       ERROR_INVALID_DATA, 16, "",
       {"E1 Win32UCodeSetUtf16leToUtf8: Failed to convert the UTF-16 string to UTF-8: "
        "\\x61\\x00\\x00\\xD8\\x62\\x00."}},
      {"REG_DWORD", REG_DWORD, dword, 4, 0, 4, dword, none},
      {"REG_DWORD, 2 bytes: the wide call had room", REG_DWORD, dword, 2, ERROR_MORE_DATA, 4, "",
       none},
      {"no value: every output as it was", REG_NONE, "", 8, ERROR_FILE_NOT_FOUND, 8, "", none},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      SetRaw(scratch.h, name, c.type, c.stored);
      LogCapture log;
      SetSentinels();
      DWORD type = 0xDEAD, size = c.size;
      std::string data(c.size, '#');   // no buffer for size 0
      EXPECT_EQ(c.result, Win32U_RegQueryValueEx(scratch.h, name.c_str(), nullptr, &type,
                                                 c.size ? (BYTE *)&data[0] : nullptr, &size));
      // Wine's registry calls leave both alone, and so must the conversions and the log.
      EXPECT_EQ(kErrnoSentinel, errno);
      EXPECT_EQ(kLastErrorSentinel, GetLastError());
      EXPECT_EQ(c.reported, size);
      EXPECT_EQ(c.type == REG_NONE ? 0xDEAD : c.type, type);
      EXPECT_EQ(c.data + std::string(c.size - c.data.size(), '#'), data);
      EXPECT_EQ(c.lines, log.Take());
   }
}

TEST(Win32URegistryEnum, ValueNameTypeAndConvertedData)
{
   ScratchKey scratch;
   const std::string name = "multi" + kMixed;   // 14 UTF-8 bytes
   SetRaw(scratch.h, name, REG_MULTI_SZ, Bytes(L"a\0"s + Wide(kMixed) + L"\0\0"s));   // 16 bytes
   char got[32];
   BYTE out[32];
   DWORD gotSize = 32, type = 0, size = 32;
   EXPECT_EQ(ERROR_SUCCESS, Win32U_RegEnumValue(scratch.h, 0, got, &gotSize, 0, &type, out, &size));
   EXPECT_EQ(name, std::string(got, gotSize));
   EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);
   // The size leaves out the last terminator.
   EXPECT_EQ("a\0"s + kMixed + "\0\0"s, std::string((const char *)out, size + 1));
   // 4 bytes give the wide call 8 of 16: its failure and twice its size.
   size = 4;
   EXPECT_EQ(ERROR_MORE_DATA, Win32U_RegEnumValue(scratch.h, 0, got, &gotSize, 0, 0, out, &size));
   EXPECT_EQ(32u, size);
   // The name and its terminator need 15 bytes.
   gotSize = 14;
   size = 32;
   EXPECT_EQ(ERROR_MORE_DATA, Win32U_RegEnumValue(scratch.h, 0, got, &gotSize, 0, 0, out, &size));
   EXPECT_EQ(14u, gotSize);
   EXPECT_EQ(ERROR_NO_MORE_ITEMS, Win32U_RegEnumValue(scratch.h, 1, got, &gotSize, 0, 0, 0, 0));
   // The conversion itself without a buffer, and without a size.
   size = 100;
   EXPECT_EQ(ERROR_MORE_DATA, Win32UCodeSetUtf16leToUtf8(Wide(kMixed).c_str(), 8, nullptr, &size));
   EXPECT_EQ(9u, size);   // the UTF-8 length
   EXPECT_EQ(ERROR_INVALID_PARAMETER, Win32UCodeSetUtf16leToUtf8(L"ab", 4, nullptr, nullptr));
   // Invalid text: its own line, and errno and last error as they were.
   LogCapture log;
   SetSentinels();
   EXPECT_EQ(ERROR_INVALID_DATA, Win32UCodeSetUtf16leToUtf8(L"x\xDC00", 4, nullptr, &size));
   EXPECT_EQ(kErrnoSentinel, errno);
   EXPECT_EQ(kLastErrorSentinel, GetLastError());
   EXPECT_EQ(Strings{"E1 Win32UCodeSetUtf16leToUtf8: Failed to convert the UTF-16 string to UTF-8: "
                     "\\x78\\x00\\x00\\xDC."},
             log.Take());
}

}  // namespace
