// Helpers of the tests of the UTF-8 wrappers. Expected values are made with
// the system's own converters, not the library's, so that a fault in the
// library's conversion cannot hide itself.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "common/log.h"

namespace win32utest {

// é (2 UTF-8 bytes, 1 unit), € (3 bytes, 1 unit), 😀 (4 bytes, 2 units).
const char kE[] = "\xC3\xA9";
const char kSmile[] = "\xF0\x9F\x98\x80";
const std::string kMixed = std::string(kE) + "\xE2\x82\xAC" + kSmile;

// errno and last-error values no function under test sets by itself.
constexpr int kErrnoSentinel = EDOM;
constexpr DWORD kLastErrorSentinel = 0xBEEF;

inline void SetSentinels()
{
   errno = kErrnoSentinel;
   SetLastError(kLastErrorSentinel);
}

// The system's conversions; empty for text that is not valid.
inline std::wstring Wide(const std::string &s)
{
   std::wstring w(s.size(), L'\0');
   // Not called for empty text, which would set the last error.
   w.resize(s.empty() ? 0 : MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), int(s.size()), &w[0],
                                                int(w.size())));
   EXPECT_EQ(s.empty(), w.empty()) << "test data is not UTF-8";
   return w;
}

inline std::string Utf8(const std::wstring &w)
{
   std::string s(w.size() * 3, '\0');
   s.resize(w.empty() ? 0 : WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), &s[0], int(s.size()), nullptr,
                                                nullptr));
   return s;
}

inline std::string Str(long long value) { return std::to_string(value); }

inline std::wstring LongForm(const std::wstring &path) { return L"\\\\?\\" + path; }

inline bool Exists(const std::wstring &path)
{
   return GetFileAttributesW(LongForm(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A folder of the running test under the temporary folder, with a
// non-ASCII name, removed with the files and empty folders in it afterwards.
class ScratchDir {
public:
   // `suffix` tells apart several folders of one test.
   explicit ScratchDir(const wchar_t *suffix = L"")
   {
      wchar_t temp[MAX_PATH + 1];
      DWORD n = GetTempPathW(MAX_PATH + 1, temp);
      const testing::TestInfo *test = testing::UnitTest::GetInstance()->current_test_info();
      path_ = std::wstring(temp, n <= MAX_PATH ? n : 0) + L"ovtest-" + Wide(test->name()) + Wide(kMixed) + suffix;
      Remove();
      EXPECT_TRUE(CreateDirectoryW(LongForm(path_).c_str(), nullptr));
   }
   ~ScratchDir() { Remove(); }
   ScratchDir(const ScratchDir &) = delete;
   ScratchDir &operator=(const ScratchDir &) = delete;
   const std::wstring &wide() const { return path_; }
   std::string utf8() const { return Utf8(path_); }
   std::wstring WidePath(const std::string &name) const { return path_ + L"\\" + Wide(name); }
   std::string Utf8Path(const std::string &name) const { return utf8() + "\\" + name; }

private:
   void Remove() const
   {
      WIN32_FIND_DATAW found;
      HANDLE find = FindFirstFileW(LongForm(path_ + L"\\*").c_str(), &found);
      for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &found)) {
         const std::wstring name = found.cFileName, child = LongForm(path_ + L"\\" + name);
         if (name != L"." && name != L"..") {
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(child.c_str()) || RemoveDirectoryW(child.c_str());
         }
      }
      find != INVALID_HANDLE_VALUE && FindClose(find);
      RemoveDirectoryW(LongForm(path_).c_str());
   }

   std::wstring path_;
};

inline std::string ReadWholeFile(const std::wstring &path)
{
   std::ifstream in(LongForm(path).c_str(), std::ios::binary);
   return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A log session of its own for the length of one check, writing to a
// scratch folder, so that what earlier tests did to this process's log
// cannot matter. Take() ends it and gives the lines as "LL text" (level
// letters, blank, text), without the session's own begin and end lines.
class LogCapture {
public:
   LogCapture()
   {
      wchar_t temp[MAX_PATH + 1];
      const size_t n = GetTempPathW(MAX_PATH + 1, temp);
      // The log takes its file name relative to the temporary folder.
      Inst_SetupLogging("win_tests", kTag, (Utf8(dir_.wide().substr(n)) + "\\capture.log").c_str(), nullptr);
   }
   ~LogCapture() { Take(); }
   LogCapture(const LogCapture &) = delete;
   LogCapture &operator=(const LogCapture &) = delete;

   std::vector<std::string> Take()
   {
      std::vector<std::string> lines;
      if (!std::exchange(open_, false)) {
         return lines;
      }
      Inst_EndLogging();
      const std::string bytes = ReadWholeFile(dir_.wide() + L"\\capture.log");
      const std::string tag = std::string("| ") + kTag + "| ";
      for (size_t at = 0, end; (end = bytes.find("\r\n", at)) != std::string::npos; at = end + 2) {
         const size_t found = bytes.find(tag, at);
         const size_t level = found + tag.size();   // "LL: text"
         if (found < end && bytes.compare(level, 2, "XX") != 0) {
            lines.push_back(bytes.substr(level, 2) + bytes.substr(level + 3, end - level - 3));
         }
      }
      return lines;
   }

private:
   static constexpr const char *kTag = "win-test";
   ScratchDir dir_{L"-log"};
   bool open_ = true;
};

// How often `needle` occurs in `text`.
inline size_t CountOf(const std::string &text, const std::string &needle)
{
   size_t count = 0;
   for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
      count++;
   }
   return count;
}

// HKCU (or HKLM)\Software\OvTest\scratch, emptied first and removed afterwards.
struct ScratchKey {
   explicit ScratchKey(HKEY r = HKEY_CURRENT_USER) : root(r)
   {
      RegDeleteTreeW(root, Wide(path).c_str());
      RegCreateKeyExW(root, Wide(path).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
   }
   ~ScratchKey()
   {
      RegCloseKey(key);
      RegDeleteTreeW(root, Wide(path).c_str());
   }
   std::string Sub(const std::string &name) const { return path + "\\" + name; }
   // Creates `sub` and, unless `type` is REG_NONE (0), stores exactly these bytes as its value `name`;
   // the value is removed first either way.
   void Put(const std::wstring &sub, const wchar_t *name = L"", DWORD type = 0, const std::string &data = "") const
   {
      HKEY h;
      ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(key, sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr));
      RegDeleteValueW(h, name);
      type == REG_NONE ||
         RegSetValueExW(h, name, 0, type, reinterpret_cast<const BYTE *>(data.data()), DWORD(data.size()));
      RegCloseKey(h);
   }

   const HKEY root;
   const std::string path = "Software\\OvTest\\scratch";
   HKEY key = nullptr;
};

// The bytes of a wide text, as the registry stores them.
inline std::string Bytes(const std::wstring &w)
{
   return std::string(reinterpret_cast<const char *>(w.data()), w.size() * sizeof(wchar_t));
}

}  // namespace win32utest
