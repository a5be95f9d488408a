// The log against the real Wine registry, files and clock.
//
// The log's state is read once per process, so each case runs
// tests/win/logChild (built as log_child.exe) in a fresh process with TMP
// and TEMP pointing at a scratch folder of its own, and then reads the file
// it left. The registry values the log reads are set by the child and put
// back as they were by the fixture.
//
// The file is opened with the runtime's O_WRONLY | O_APPEND | O_CREAT and no
// O_BINARY, i.e. in text mode: every LF the log writes reaches the disk as
// CR LF. The checks below therefore require exactly one CR LF per line and
// no other CR, which also proves that a message's own trailing CR is gone.
#include "common/log.h"

#include <fcntl.h>
#include <io.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <regex>
#include <string>
#include <vector>

#include "tests/win/win32uTestUtil.h"

#ifndef OV_LOG_CHILD_EXE
#error "OV_LOG_CHILD_EXE (host path of log_child.exe) must be defined by the build"
#endif

using win32utest::Utf8;
using win32utest::Wide;

namespace {

const std::string kBuildTag = "inst-build-" + std::to_string(OV_BUILD_NUMBER);
const wchar_t kLevelKey[] = L"SOFTWARE\\Wow6432Node\\Orvane, Inc.";
const wchar_t kHostKeyParent[] = L"SOFTWARE\\Orvane, Inc.";
const wchar_t kHostKey[] = L"SOFTWARE\\Orvane, Inc.\\OvxLog";
const char kTruncatedNotice[] = "The following message is truncated:";
const char kHostFailed[] = "Failed to send above log message to host";
const char kEuro[] = "\xE2\x82\xAC";
const DWORD kChildTimeoutMs = 60000;

// --- files and folders ---------------------------------------------------------

std::wstring TempPath()
{
   wchar_t buf[MAX_PATH + 1];
   DWORD n = GetTempPathW(MAX_PATH + 1, buf);
   return n > 0 && n <= MAX_PATH ? std::wstring(buf, n) : std::wstring(L"C:\\");
}

void RemoveTree(const std::wstring &path)
{
   DWORD attrs = GetFileAttributesW(path.c_str());
   if (attrs == INVALID_FILE_ATTRIBUTES) {
      return;
   }
   if ((attrs & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(path.c_str());
      return;
   }
   WIN32_FIND_DATAW found;
   HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &found);
   if (find != INVALID_HANDLE_VALUE) {
      do {
         std::wstring name = found.cFileName;
         if (name != L"." && name != L"..") {
            RemoveTree(path + L"\\" + name);
         }
      } while (FindNextFileW(find, &found));
      FindClose(find);
   }
   RemoveDirectoryW(path.c_str());
}

bool FileExists(const std::wstring &path)
{
   DWORD attrs = GetFileAttributesW(path.c_str());
   return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The whole file, or nothing with *exists false.
std::string ReadBytes(const std::wstring &path, bool *exists)
{
   std::string data;
   HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
   *exists = file != INVALID_HANDLE_VALUE;
   if (!*exists) {
      return data;
   }
   char buf[4096];
   DWORD got = 0;
   while (ReadFile(file, buf, sizeof buf, &got, nullptr) && got > 0) {
      data.append(buf, got);
   }
   CloseHandle(file);
   return data;
}

// The child program, copied once into the temporary folder: Wine cannot
// start a program by its \\?\unix path, which is how the build tree is seen.
class ChildProgram {
public:
   ChildProgram()
   {
      std::wstring host = Wide(OV_LOG_CHILD_EXE);
      for (wchar_t &c : host) {
         if (c == L'/') {
            c = L'\\';
         }
      }
      path_ = TempPath() + L"ovlog-child-" + std::to_wstring(GetCurrentProcessId()) + L".exe";
      copied_ = CopyFileW((L"\\\\?\\unix" + host).c_str(), path_.c_str(), FALSE) != 0;
   }
   ~ChildProgram()
   {
      if (copied_) {
         DeleteFileW(path_.c_str());
      }
   }
   ChildProgram(const ChildProgram &) = delete;
   ChildProgram &operator=(const ChildProgram &) = delete;
   bool ok() const { return copied_; }
   const std::wstring &path() const { return path_; }

private:
   std::wstring path_;
   bool copied_ = false;
};

const ChildProgram &Child()
{
   static ChildProgram child;
   return child;
}

// One folder per case: tmp\ is the child's TMP and TEMP, cwd\ its current
// folder (where a relative fallback file goes).
class Scratch {
public:
   Scratch()
   {
      static unsigned counter = 0;
      root_ = TempPath() + L"ovlogtest-" + std::to_wstring(GetCurrentProcessId()) +
              L"-" + std::to_wstring(++counter);
      RemoveTree(root_);
      ok_ = CreateDirectoryW(root_.c_str(), nullptr) &&
            CreateDirectoryW(tmp().c_str(), nullptr) &&
            CreateDirectoryW(cwd().c_str(), nullptr);
   }
   ~Scratch() { RemoveTree(root_); }
   Scratch(const Scratch &) = delete;
   Scratch &operator=(const Scratch &) = delete;

   bool ok() const { return ok_; }
   // With the trailing backslash, as GetTempPath returns it.
   std::wstring tmp() const { return root_ + L"\\tmp\\"; }
   std::wstring cwd() const { return root_ + L"\\cwd"; }

private:
   std::wstring root_;
   bool ok_ = false;
};

// Command-line quoting that CommandLineToArgvW and the runtime undo.
std::wstring Quote(const std::wstring &arg)
{
   std::wstring out = L"\"";
   size_t slashes = 0;
   for (wchar_t c : arg) {
      if (c == L'\\') {
         slashes++;
         continue;
      }
      out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
      slashes = 0;
      out += c;
   }
   out.append(slashes * 2, L'\\');
   return out + L"\"";
}

// This process's environment with TMP and TEMP replaced.
std::vector<wchar_t> ChildEnvironment(const std::wstring &tmp)
{
   std::vector<wchar_t> block;
   wchar_t *env = GetEnvironmentStringsW();
   for (const wchar_t *p = env; p != nullptr && *p != L'\0'; p += wcslen(p) + 1) {
      if (_wcsnicmp(p, L"TMP=", 4) == 0 || _wcsnicmp(p, L"TEMP=", 5) == 0) {
         continue;
      }
      block.insert(block.end(), p, p + wcslen(p) + 1);
   }
   if (env != nullptr) {
      FreeEnvironmentStringsW(env);
   }
   for (const std::wstring &var : {L"TMP=" + tmp, L"TEMP=" + tmp}) {
      block.insert(block.end(), var.begin(), var.end());
      block.push_back(L'\0');
   }
   block.push_back(L'\0');
   return block;
}

// Exit code of the child, or ~0 when it could not be run.
DWORD RunChild(const Scratch &scratch, const std::vector<std::wstring> &ops)
{
   if (!Child().ok() || !scratch.ok()) {
      ADD_FAILURE() << "no child program or scratch folder";
      return ~0u;
   }
   std::wstring cmd = Quote(Child().path());
   for (const std::wstring &op : ops) {
      cmd += L" " + Quote(op);
   }
   std::vector<wchar_t> cmdBuf(cmd.begin(), cmd.end());
   cmdBuf.push_back(L'\0');
   std::vector<wchar_t> env = ChildEnvironment(scratch.tmp());
   STARTUPINFOW si;
   memset(&si, 0, sizeof si);
   si.cb = sizeof si;
   PROCESS_INFORMATION pi;
   if (!CreateProcessW(Child().path().c_str(), cmdBuf.data(), nullptr, nullptr, FALSE,
                       CREATE_UNICODE_ENVIRONMENT, env.data(), scratch.cwd().c_str(),
                       &si, &pi)) {
      ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
      return ~0u;
   }
   DWORD code = ~0u;
   if (WaitForSingleObject(pi.hProcess, kChildTimeoutMs) == WAIT_OBJECT_0) {
      GetExitCodeProcess(pi.hProcess, &code);
   } else {
      TerminateProcess(pi.hProcess, 1);
      ADD_FAILURE() << "child timed out";
   }
   CloseHandle(pi.hThread);
   CloseHandle(pi.hProcess);
   return code;
}

// --- the registry the log reads -----------------------------------------------

class RegKey {
public:
   RegKey() = default;
   ~RegKey()
   {
      if (key_ != nullptr) {
         RegCloseKey(key_);
      }
   }
   RegKey(const RegKey &) = delete;
   RegKey &operator=(const RegKey &) = delete;
   PHKEY Out() { return &key_; }
   HKEY Get() const { return key_; }

private:
   HKEY key_ = nullptr;
};

bool KeyExists(const wchar_t *path)
{
   RegKey key;
   return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | KEY_WOW64_64KEY,
                        key.Out()) == ERROR_SUCCESS;
}

// Saves the level key (every value of it) and whether the host-log key and
// its parent exist; puts all of it back when the case ends.
class RegistryGuard {
public:
   RegistryGuard()
   {
      levelKeyExisted_ = KeyExists(kLevelKey);
      hostParentExisted_ = KeyExists(kHostKeyParent);
      hostKeyExisted_ = KeyExists(kHostKey);
      if (!levelKeyExisted_) {
         return;
      }
      RegKey key;
      if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kLevelKey, 0, KEY_READ | KEY_WOW64_64KEY,
                        key.Out()) != ERROR_SUCCESS) {
         return;
      }
      for (DWORD i = 0;; i++) {
         wchar_t name[16384];
         DWORD nameLen = 16384;
         DWORD type = 0;
         DWORD size = 0;
         if (RegEnumValueW(key.Get(), i, name, &nameLen, nullptr, &type, nullptr,
                           &size) != ERROR_SUCCESS) {
            break;
         }
         Value v;
         v.name.assign(name, nameLen);
         v.type = type;
         v.data.resize(size);
         DWORD got = size;
         if (RegQueryValueExW(key.Get(), v.name.c_str(), nullptr, &v.type,
                              v.data.empty() ? nullptr : v.data.data(),
                              &got) == ERROR_SUCCESS) {
            v.data.resize(got);
            values_.push_back(v);
         }
      }
   }

   ~RegistryGuard()
   {
      RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kLevelKey, KEY_WOW64_64KEY, 0);
      if (levelKeyExisted_) {
         RegKey key;
         if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kLevelKey, 0, nullptr, 0,
                             KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, key.Out(),
                             nullptr) == ERROR_SUCCESS) {
            for (const Value &v : values_) {
               RegSetValueExW(key.Get(), v.name.c_str(), 0, v.type,
                              v.data.empty() ? nullptr : v.data.data(),
                              static_cast<DWORD>(v.data.size()));
            }
         }
      }
      if (!hostKeyExisted_) {
         RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kHostKey, KEY_WOW64_64KEY, 0);
      }
      if (!hostParentExisted_) {
         RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kHostKeyParent, KEY_WOW64_64KEY, 0);
      }
   }
   RegistryGuard(const RegistryGuard &) = delete;
   RegistryGuard &operator=(const RegistryGuard &) = delete;

   bool hostKeyExisted() const { return hostKeyExisted_; }

private:
   struct Value {
      std::wstring name;
      DWORD type = 0;
      std::vector<BYTE> data;
   };
   bool levelKeyExisted_ = false;
   bool hostParentExisted_ = false;
   bool hostKeyExisted_ = false;
   std::vector<Value> values_;
};

// --- reading the log ------------------------------------------------------------

struct Line {
   std::string text;      // without its line end
   bool parsed = false;   // has the timestamp | tag | letters shape
   std::string timestamp;
   std::string zone;
   std::string tag;
   std::string letters;
   std::string message;
   size_t messageOffset = 0;
};

Line Parse(const std::string &text)
{
   static const std::regex shape(
      "^([0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3})"
      "(Z|[+-][0-9]{2}:[0-9]{2})\\| ([^|]*)\\| ([A-Z0-9]{2}): ");
   Line line;
   line.text = text;
   std::smatch m;
   if (std::regex_search(text, m, shape)) {
      line.parsed = true;
      line.timestamp = m[1];
      line.zone = m[2];
      line.tag = m[3];
      line.letters = m[4];
      line.messageOffset = static_cast<size_t>(m.length(0));
      line.message = text.substr(line.messageOffset);
   }
   return line;
}

// Splits the file at CR LF; any other CR or LF is a fault (see the top).
std::vector<Line> SplitLog(const std::string &bytes)
{
   std::vector<Line> lines;
   size_t start = 0;
   while (start < bytes.size()) {
      size_t lf = bytes.find('\n', start);
      if (lf == std::string::npos) {
         ADD_FAILURE() << "log does not end in a line end: " << bytes.substr(start);
         break;
      }
      if (lf == start || bytes[lf - 1] != '\r') {
         ADD_FAILURE() << "LF without CR at byte " << lf;
         start = lf + 1;
         continue;
      }
      std::string text = bytes.substr(start, lf - 1 - start);
      EXPECT_EQ(std::string::npos, text.find('\r')) << "stray CR in: " << text;
      lines.push_back(Parse(text));
      start = lf + 1;
   }
   return lines;
}

// "LL message" for a parsed line, the plain text for any other.
std::vector<std::string> Summary(const std::vector<Line> &lines)
{
   std::vector<std::string> out;
   for (const Line &l : lines) {
      out.push_back(l.parsed ? l.letters + " " + l.message : l.text);
   }
   return out;
}

std::string WinText(DWORD code)
{
   return Utf8(Inst_WinErrorText(code));
}

std::string ErrnoText(int code)
{
   return Utf8(Inst_ErrnoText(code));
}

// The suffix rule, " (text)" only when there is a text.
std::string WithText(const std::string &head, const std::string &text)
{
   return text.empty() ? head : head + " (" + text + ")";
}

// --- the fixture ----------------------------------------------------------------

class LogTest : public testing::Test {
protected:
   void SetUp() override
   {
      ASSERT_TRUE(Child().ok()) << "cannot copy " << OV_LOG_CHILD_EXE;
      ASSERT_TRUE(scratch_.ok());
      // A host-log key left by something else would add lines everywhere.
      ASSERT_FALSE(registry_.hostKeyExisted()) << "HKLM\\SOFTWARE\\Orvane, Inc.\\OvxLog exists";
   }

   DWORD Run(const std::vector<std::wstring> &ops) { return RunChild(scratch_, ops); }

   // Lines of a file in the child's temporary folder (or, with inCwd, its
   // current folder); a missing file is a failure.
   std::vector<Line> Log(const std::wstring &name = L"ovinst.log", bool inCwd = false)
   {
      std::wstring path = (inCwd ? scratch_.cwd() + L"\\" : scratch_.tmp()) + name;
      bool exists = false;
      std::string bytes = ReadBytes(path, &exists);
      EXPECT_TRUE(exists) << Utf8(path) << " was not created";
      return SplitLog(bytes);
   }

   bool Exists(const std::wstring &name, bool inCwd = false) const
   {
      return FileExists((inCwd ? scratch_.cwd() + L"\\" : scratch_.tmp()) + name);
   }

   std::string TmpUtf8() const { return Utf8(scratch_.tmp()); }

   RegistryGuard registry_;
   Scratch scratch_;
};

// --- the level mask -------------------------------------------------------------

// One line of each level; which of them appear shows the mask.
const std::vector<std::wstring> kEveryLevel = {
   L"log", L"0x001", L"e1",   L"log", L"0x002", L"i1",   L"log", L"0x004", L"e2",
   L"log", L"0x008", L"w1",   L"log", L"0x010", L"g2",   L"log", L"0x020", L"i2",
   L"log", L"0x040", L"unread", L"log", L"0x080", L"p1", L"ca",  L"ca line",
};

std::vector<std::wstring> Ops(std::vector<std::wstring> before,
                              const std::vector<std::wstring> &middle,
                              const std::vector<std::wstring> &after)
{
   before.insert(before.end(), middle.begin(), middle.end());
   before.insert(before.end(), after.begin(), after.end());
   return before;
}

const std::vector<std::string> kDefaultMaskLines = {
   "E1 e1", "I1 i1", "E2 e2", "W1 w1", "I2 i2", "I0 ca line",
};

TEST_F(LogTest, MaskDefaultWhenTheValueIsMissing)
{
   ASSERT_EQ(0u, Run(Ops({L"level", L"none", L"setup", L"case", L"-", L"-", L"-"},
                         kEveryLevel, {L"end"})));
   // No G2, P1 or unread-bit line, no Begin/End, and none of the
   // Inst_GetDefaultLogLevel complaints (issued while the mask was unread).
   EXPECT_EQ(kDefaultMaskLines, Summary(Log()));
}

TEST_F(LogTest, MaskDefaultWhenTheKeyIsMissing)
{
   ASSERT_EQ(0u, Run(Ops({L"level", L"nokey", L"setup", L"case", L"-", L"-", L"-"},
                         kEveryLevel, {L"end"})));
   EXPECT_EQ(kDefaultMaskLines, Summary(Log()));
}

TEST_F(LogTest, MaskDefaultForAStringValue)
{
   // Even a string that reads as "all bits" is the wrong type.
   ASSERT_EQ(0u, Run(Ops({L"level", L"sz", L"2047", L"setup", L"case", L"-", L"-", L"-"},
                         kEveryLevel, {L"end"})));
   EXPECT_EQ(kDefaultMaskLines, Summary(Log()));
}

TEST_F(LogTest, MaskZeroSwitchesEverythingOff)
{
   ASSERT_EQ(0u, Run(Ops({L"level", L"dword", L"0", L"setupca", L"setupKit-build-9"},
                         kEveryLevel,
                         {L"winerr", L"0x400", L"5", L"ca error", L"end", L"ca", L"after"})));
   EXPECT_FALSE(Exists(L"ovinst.log"));
   EXPECT_FALSE(Exists(L"ovinstutil.log", true));
}

TEST_F(LogTest, MaskAllBitsWritesBeginAndEndAsXX)
{
   ASSERT_EQ(0u, Run(Ops({L"level", L"dword", L"0x7FF", L"setup", L"my case", L"-", L"-", L"-"},
                         kEveryLevel, {L"log", L"0x300", L"two bits", L"end"})));
   std::vector<std::string> expected = {
      "XX Inst_SetupLogging: Begin Logging 'my case' (LogLevel 0x000007ff)",
      "E1 e1", "I1 i1", "E2 e2", "W1 w1", "G2 g2", "I2 i2", "XX unread", "P1 p1",
      "I0 ca line", "XX two bits", "XX Inst_EndLogging: End Logging",
   };
   EXPECT_EQ(expected, Summary(Log()));
}

TEST_F(LogTest, MaskOfOneBitKeepsCustomActionLines)
{
   // 0x008: only W1 of the listed levels, plus every I0 line; a level that
   // merely includes 0x400 passes as well and is printed XX.
   ASSERT_EQ(0u, Run(Ops({L"level", L"dword", L"8", L"setup", L"-", L"-", L"-", L"-"},
                         kEveryLevel, {L"log", L"0x401", L"ca and e1", L"end"})));
   EXPECT_EQ((std::vector<std::string>{"W1 w1", "I0 ca line", "XX ca and e1"}),
             Summary(Log()));
}

TEST_F(LogTest, MaskIsReadOncePerProcess)
{
   ASSERT_EQ(0u, Run({L"level", L"dword", L"0x7FF", L"setup", L"first", L"-", L"-", L"-",
                      L"end", L"level", L"dword", L"0", L"setup", L"second", L"-", L"-", L"-",
                      L"log", L"0x10", L"still 0x7FF", L"end"}));
   std::vector<std::string> expected = {
      "XX Inst_SetupLogging: Begin Logging 'first' (LogLevel 0x000007ff)",
      "XX Inst_EndLogging: End Logging",
      "XX Inst_SetupLogging: Begin Logging 'second' (LogLevel 0x000007ff)",
      "G2 still 0x7FF",
      "XX Inst_EndLogging: End Logging",
   };
   EXPECT_EQ(expected, Summary(Log()));
}

TEST_F(LogTest, MaskValueEqualToTheUnreadMarkerIsReadAgain)
{
   // With 0x40 only I0 lines pass; the next session reads the value anew.
   ASSERT_EQ(0u, Run({L"level", L"dword", L"0x40", L"setup", L"first", L"-", L"-", L"-",
                      L"log", L"0x1", L"e1 filtered", L"ca", L"ca passes", L"end",
                      L"level", L"dword", L"0x101", L"setup", L"second", L"-", L"-", L"-",
                      L"log", L"0x1", L"e1 passes", L"end"}));
   std::vector<std::string> expected = {
      "I0 ca passes",
      "XX Inst_SetupLogging: Begin Logging 'second' (LogLevel 0x00000101)",
      "E1 e1 passes",
   };
   EXPECT_EQ(expected, Summary(Log()));
}

// --- sessions, tags and files ---------------------------------------------------------

TEST_F(LogTest, NestedSessionsWriteOnlyTheOutermostBeginAndEnd)
{
   ASSERT_EQ(0u, Run({L"level", L"dword", L"0x7FF", L"setup", L"outer", L"tagA", L"-", L"-",
                      L"setup", L"inner", L"tagB", L"-", L"-", L"log", L"2", L"between",
                      L"end", L"isopen", L"ovinst.log", L"1", L"log", L"2", L"after first end",
                      L"end", L"isopen", L"ovinst.log", L"0"}));
   std::vector<Line> lines = Log();
   std::vector<std::string> expected = {
      "XX Inst_SetupLogging: Begin Logging 'outer' (LogLevel 0x000007ff)",
      "I1 between",
      "I1 after first end",
      "XX Inst_EndLogging: End Logging",
   };
   EXPECT_EQ(expected, Summary(lines));
   // The inner open did not replace the outer session's tag.
   for (const Line &l : lines) {
      EXPECT_EQ("tagA", l.tag) << l.text;
   }
}

TEST_F(LogTest, EndWithoutOpenChangesNothing)
{
   ASSERT_EQ(0u, Run({L"level", L"dword", L"0x7FF", L"end", L"end", L"setup", L"s", L"-",
                      L"-", L"-", L"log", L"2", L"inside", L"end", L"ca", L"outside"}));
   std::vector<std::string> expected = {
      "XX Inst_SetupLogging: Begin Logging 's' (LogLevel 0x000007ff)",
      "I1 inside",
      "XX Inst_EndLogging: End Logging",
      "I0 outside",
   };
   EXPECT_EQ(expected, Summary(Log()));
}

TEST_F(LogTest, NoFileWhenNothingPassesTheFilter)
{
   ASSERT_EQ(0u, Run({L"level", L"none", L"setup", L"quiet", L"-", L"-", L"-", L"log",
                      L"0x10", L"g2", L"log", L"0x80", L"p1", L"lasterr", L"0x10", L"5",
                      L"g2 error", L"end"}));
   EXPECT_FALSE(Exists(L"ovinst.log"));
   EXPECT_FALSE(Exists(L"ovinstutil.log", true));
}

TEST_F(LogTest, TagsOfSessionsAndOutside)
{
   ASSERT_EQ(0u, Run({L"level", L"none", L"ca", L"before", L"setupca", L"setupKit-build-42",
                      L"ca", L"inside", L"end", L"ca", L"after", L"setup", L"-", L"", L"-",
                      L"-", L"ca", L"empty tag", L"end"}));
   std::vector<Line> lines = Log();
   ASSERT_EQ(4u, lines.size());
   EXPECT_EQ(kBuildTag, lines[0].tag);
   EXPECT_EQ("setupKit-build-42", lines[1].tag);
   EXPECT_EQ(kBuildTag, lines[2].tag) << "End must clear the tag";
   EXPECT_EQ(kBuildTag, lines[3].tag);
   EXPECT_EQ((std::vector<std::string>{"I0 before", "I0 inside", "I0 after", "I0 empty tag"}),
             Summary(lines));
}

TEST_F(LogTest, SessionFileNamesAreUsedUntilTheNextSession)
{
   // The end of a session clears only the tag: a line after it goes to the
   // same file again (reopened); the next session's names replace them.
   ASSERT_EQ(0u, Run({L"level", L"none", L"setup", L"-", L"-", L"own.log", L"-", L"log",
                      L"1", L"into own.log", L"end", L"log", L"1", L"after the end",
                      L"setup", L"-", L"-", L"-", L"-", L"log", L"1", L"default name",
                      L"end"}));
   EXPECT_EQ((std::vector<std::string>{"E1 into own.log", "E1 after the end"}),
             Summary(Log(L"own.log")));
   EXPECT_EQ((std::vector<std::string>{"E1 default name"}), Summary(Log()));
}

TEST_F(LogTest, LinesAreAppendedAcrossProcesses)
{
   ASSERT_EQ(0u, Run({L"level", L"none", L"setupca", L"t", L"ca", L"first process", L"end"}));
   ASSERT_EQ(0u, Run({L"setupca", L"t", L"ca", L"second process", L"end"}));
   EXPECT_EQ((std::vector<std::string>{"I0 first process", "I0 second process"}),
             Summary(Log()));
}

// The errno a directory gives to the runtime's open, as the log meets it.
int ErrnoOfOpeningFolder(const std::wstring &path)
{
   errno = 0;
   int fd = _wopen(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
   int err = errno;
   if (fd >= 0) {
      _close(fd);
      return 0;
   }
   return err;
}

TEST_F(LogTest, FallbackFileWhenThePrimaryCannotBeOpened)
{
   ASSERT_TRUE(CreateDirectoryW((scratch_.tmp() + L"ovinst.log").c_str(), nullptr));
   int err = ErrnoOfOpeningFolder(scratch_.tmp() + L"ovinst.log");
   ASSERT_NE(0, err);
   ASSERT_EQ(0u, Run({L"level", L"none", L"setup", L"-", L"-", L"-", L"-", L"log", L"1",
                      L"first line", L"log", L"2", L"second line", L"end"}));
   std::string notice = "InstCreateLogFile: Unable to log to intended file " + TmpUtf8() +
                        "ovinst.log| posix code " + std::to_string(err) + " (" +
                        ErrnoText(err) + ")";
   EXPECT_EQ((std::vector<std::string>{"E1 " + notice, "E1 first line", "I1 second line"}),
             Summary(Log(L"ovinstutil.log", true)));
}

TEST_F(LogTest, FallbackFileNamedByTheSession)
{
   std::wstring fallback = scratch_.cwd() + L"\\named fallback.log";
   ASSERT_TRUE(CreateDirectoryW((scratch_.tmp() + L"primary.log").c_str(), nullptr));
   ASSERT_EQ(0u, Run({L"level", L"none", L"setup", L"-", L"-", L"primary.log", fallback,
                      L"log", L"8", L"warned", L"end"}));
   std::vector<Line> lines = Log(L"named fallback.log", true);
   ASSERT_EQ(2u, lines.size());
   EXPECT_EQ(0u, lines[0].message.find("InstCreateLogFile: Unable to log to intended file " +
                                       TmpUtf8() + "primary.log| posix code "))
      << lines[0].text;
   EXPECT_EQ("W1 warned", Summary(lines)[1]);
   EXPECT_FALSE(Exists(L"ovinstutil.log", true));
}

TEST_F(LogTest, BothFilesUnusableWritesNothingAndRetriesNextLine)
{
   ASSERT_TRUE(CreateDirectoryW((scratch_.tmp() + L"ovinst.log").c_str(), nullptr));
   ASSERT_TRUE(CreateDirectoryW((scratch_.cwd() + L"\\ovinstutil.log").c_str(), nullptr));
   ASSERT_EQ(0u, Run({L"level", L"none", L"setup", L"-", L"-", L"-", L"-", L"log", L"1",
                      L"lost", L"rmdir", L"ovinst.log", L"log", L"1", L"kept", L"end"}));
   EXPECT_EQ((std::vector<std::string>{"E1 kept"}), Summary(Log()));
}

// --- line text ------------------------------------------------------------------------

TEST_F(LogTest, OverlongMessageIsCutAfterTheNotice)
{
   ASSERT_EQ(0u, Run({L"level", L"none", L"setup", L"-", L"-", L"-", L"-", L"log", L"2",
                      std::wstring(3000, L'a'), L"log", L"2", L"short after"}));
   std::vector<Line> lines = Log();
   ASSERT_EQ(3u, lines.size());
   EXPECT_EQ(kTruncatedNotice, lines[0].text);
   EXPECT_FALSE(lines[0].parsed);
   ASSERT_TRUE(lines[1].parsed);
   EXPECT_EQ(2045u, lines[1].text.size());
   EXPECT_EQ(std::string(2045 - lines[1].messageOffset, 'a'), lines[1].message);
   EXPECT_EQ("I1 short after", Summary(lines)[2]);
}

TEST_F(LogTest, MessageOfExactlyTheRoomIsNotTruncated)
{
   // The room is 2045 minus the prefix; learn the prefix from a first line.
   ASSERT_EQ(0u, Run({L"level", L"none", L"setup", L"-", L"fixed", L"-", L"-", L"log", L"2",
                      L"probe"}));
   std::vector<Line> first = Log();
   ASSERT_EQ(1u, first.size());
   size_t room = 2045 - first[0].messageOffset;
   ASSERT_EQ(0u, Run({L"setup", L"-", L"fixed", L"-", L"-", L"log", L"2",
                      std::wstring(room, L'b'), L"log", L"2", std::wstring(room + 1, L'c')}));
   std::vector<Line> lines = Log();
   ASSERT_EQ(4u, lines.size());
   EXPECT_EQ(std::string(room, 'b'), lines[1].message);
   EXPECT_EQ(kTruncatedNotice, lines[2].text);
   EXPECT_EQ(std::string(room, 'c'), lines[3].message);
}

TEST_F(LogTest, CutNeverSplitsAUtf8Sequence)
{
   // Leads of 0, 1 and 2 ASCII bytes put the 2045-byte limit on each byte
   // of the three-byte characters.
   std::wstring euros;
   for (int i = 0; i < 1000; i++) {
      euros += Wide(kEuro);
   }
   std::vector<std::wstring> ops = {L"level", L"none", L"setup", L"-", L"-", L"-", L"-"};
   for (size_t lead = 0; lead < 3; lead++) {
      ops.insert(ops.end(), {L"log", L"2", std::wstring(lead, L'x') + euros});
   }
   ASSERT_EQ(0u, Run(ops));
   std::vector<Line> lines = Log();
   ASSERT_EQ(6u, lines.size());
   size_t fullLines = 0;
   for (size_t lead = 0; lead < 3; lead++) {
      SCOPED_TRACE(testing::Message() << "lead " << lead);
      EXPECT_EQ(kTruncatedNotice, lines[2 * lead].text);
      const Line &l = lines[2 * lead + 1];
      ASSERT_TRUE(l.parsed) << l.text;
      size_t whole = (2045 - l.messageOffset - lead) / 3;
      std::string expected(lead, 'x');
      for (size_t i = 0; i < whole; i++) {
         expected += kEuro;
      }
      EXPECT_EQ(expected, l.message);
      fullLines += l.text.size() == 2045 ? 1 : 0;
   }
   // Exactly one of the three cuts falls between two characters.
   EXPECT_EQ(1u, fullLines);
}

TEST_F(LogTest, TrailingLineEndsAreRemoved)
{
   // A CR left behind would reach the disk as CR CR LF (see the top).
   ASSERT_EQ(0u, Run({L"level", L"none", L"setup", L"-", L"-", L"-", L"-", L"log", L"2", L"crlf\\r\\n", L"log", L"2",
                      L"\\r\\n", L"log", L"2", L"many\\n\\r\\r\\n", L"log", L"2", L"cr\\r",
                      L"log", L"2", L"lf\\n"}));
   EXPECT_EQ((std::vector<std::string>{"I1 crlf", "I1 ", "I1 many", "I1 cr", "I1 lf"}),
             Summary(Log()));
}

TEST_F(LogTest, PrefixThatCannotBeFormattedGivesTheFormatErrorLine)
{
   ASSERT_EQ(0u, Run({L"level", L"dword", L"0x7FF", L"longtag", L"2100", L"log", L"2",
                      L"lost", L"end", L"log", L"2", L"after the session"}));
   std::vector<std::string> expected = {
      "Serious format error in logging code",   // Begin
      "Serious format error in logging code",   // "lost"
      "Serious format error in logging code",   // End
      "I1 after the session",
   };
   EXPECT_EQ(expected, Summary(Log()));
}

// --- error suffixes ---------------------------------------------------------------------

TEST_F(LogTest, WinErrorSuffixes)
{
   std::string text5 = WinText(5);
   ASSERT_FALSE(text5.empty());
   ASSERT_EQ(std::string::npos, text5.find_last_of("\r\n")) << text5;
   // 0x20000000 is the customer bit: the system has no text for the code.
   const DWORD noText = 0x20000001;
   ASSERT_TRUE(WinText(noText).empty());
   ASSERT_EQ(0u, Run({L"level", L"none", L"setup", L"-", L"-", L"-", L"-", L"winerr", L"1", L"5", L"open", L"lasterr", L"1",
                      L"5", L"open again", L"lasterr", L"1", L"0", L"erased", L"winerr",
                      L"1", L"0", L"zero", L"winerr", L"1", std::to_wstring(noText),
                      L"custom", L"lasterr", L"8", L"0xFFFFFFFF", L"all bits"}));
   std::vector<std::string> expected = {
      "E1 open| winerror code 5 (" + text5 + ")",
      "E1 open again| winerror code 5 (" + text5 + ")",
      "E1 erased| winerror code 0 (code was erased)",
      "E1 zero" + WithText("| winerror code 0", WinText(0)),
      "E1 custom| winerror code 536870913",
      "W1 all bits" + WithText("| winerror code 4294967295", WinText(0xFFFFFFFF)),
   };
   EXPECT_EQ(expected, Summary(Log()));
}

TEST_F(LogTest, PosixSuffixes)
{
   ASSERT_FALSE(ErrnoText(2).empty());
   ASSERT_EQ(0u, Run({L"level", L"none", L"setup", L"-", L"-", L"-", L"-", L"errno", L"1", L"2", L"enoent", L"lasterrno", L"1",
                      L"2", L"enoent again", L"lasterrno", L"1", L"0", L"erased", L"errno",
                      L"1", L"0", L"zero", L"errno", L"1", L"-1", L"minus one", L"lasterrno",
                      L"1", L"-1", L"minus one unsigned"}));
   std::vector<std::string> expected = {
      "E1 enoent| posix code 2 (" + ErrnoText(2) + ")",
      "E1 enoent again| posix code 2 (" + ErrnoText(2) + ")",
      "E1 erased| posix code 0 (code was erased)",
      "E1 zero" + WithText("| posix code 0", ErrnoText(0)),
      "E1 minus one" + WithText("| posix code -1", ErrnoText(-1)),
      "E1 minus one unsigned" + WithText("| posix code 4294967295", ErrnoText(-1)),
   };
   EXPECT_EQ(expected, Summary(Log()));
}

TEST_F(LogTest, SuffixThatDoesNotFitTruncatesTheLine)
{
   // The message leaves 10 bytes of room; the suffix is cut there.
   ASSERT_EQ(0u, Run({L"level", L"none", L"setup", L"-", L"fixed", L"-", L"-", L"log", L"2",
                      L"probe"}));
   std::vector<Line> first = Log();
   ASSERT_EQ(1u, first.size());
   size_t room = 2045 - first[0].messageOffset;
   std::wstring message(room - 10, L'm');
   ASSERT_EQ(0u, Run({L"setup", L"-", L"fixed", L"-", L"-", L"lasterr", L"1", L"0", message,
                      L"lasterr", L"1", L"0", std::wstring(room - 35, L'n')}));
   std::vector<Line> lines = Log();
   ASSERT_EQ(4u, lines.size());
   EXPECT_EQ(kTruncatedNotice, lines[1].text);
   ASSERT_TRUE(lines[2].parsed);
   EXPECT_EQ(2045u, lines[2].text.size());
   std::string suffix = "| winerror code 0 (code was erased)";
   ASSERT_EQ(35u, suffix.size());
   EXPECT_EQ(Utf8(message) + suffix.substr(0, 10), lines[2].message);
   // A suffix that exactly fills the room is whole, without a notice.
   ASSERT_TRUE(lines[3].parsed) << lines[3].text;
   EXPECT_EQ(2045u, lines[3].text.size());
   EXPECT_EQ(std::string(room - 35, 'n') + suffix, lines[3].message);
}

TEST_F(LogTest, FilteredErrorLinesWriteNothing)
{
   ASSERT_EQ(0u, Run({L"level", L"none", L"setup", L"-", L"-", L"-", L"-", L"winerr", L"0x10", L"5", L"a", L"lasterr",
                      L"0x80", L"5", L"b", L"errno", L"0x10", L"2", L"c", L"lasterrno",
                      L"0x10", L"2", L"d", L"log", L"1", L"only"}));
   EXPECT_EQ((std::vector<std::string>{"E1 only"}), Summary(Log()));
}

// --- caller's errno and last error ------------------------------------------------------

TEST_F(LogTest, CallerErrorsArePreserved)
{
   // The first call creates the file; later ones write into it; 0x10 is
   // filtered by the default mask, 1 is written.
   ASSERT_EQ(0u, Run({L"level", L"none", L"setup", L"-", L"-", L"-", L"-", L"preserve",
                      L"1", L"preserve", L"0x10", L"end"}));
   std::vector<Line> lines = Log();
   EXPECT_FALSE(lines.empty());
   // And the same before any session, while the mask is still unread.
   Scratch own;
   ASSERT_EQ(0u, RunChild(own, {L"preserve", L"1"}));
}

TEST_F(LogTest, CallerErrorsArePreservedWhenTheFileFallsBack)
{
   ASSERT_TRUE(CreateDirectoryW((scratch_.tmp() + L"ovinst.log").c_str(), nullptr));
   ASSERT_EQ(0u, Run({L"level", L"none", L"setup", L"-", L"-", L"-", L"-", L"preserve",
                      L"1", L"end"}));
   EXPECT_FALSE(Log(L"ovinstutil.log", true).empty());
}

// --- host switch -------------------------------------------------------------------------

TEST_F(LogTest, HostSwitchOnNotesEachLineTheHostDidNotTake)
{
   ASSERT_EQ(0u, Run({L"level", L"none", L"hostkey", L"1", L"setupca", L"setupKit-build-3",
                      L"ca", L"one", L"log", L"2", L"two", L"log", L"0x10", L"filtered",
                      L"log", L"2", std::wstring(3000, L'z'), L"end"}));
   std::vector<Line> lines = Log();
   std::vector<std::string> summary = Summary(lines);
   ASSERT_EQ(7u, summary.size());
   EXPECT_EQ("I0 one", summary[0]);
   EXPECT_EQ(kHostFailed, summary[1]);
   EXPECT_EQ("I1 two", summary[2]);
   EXPECT_EQ(kHostFailed, summary[3]);
   // The notice goes to the host as well, but only the line gets the note.
   EXPECT_EQ(kTruncatedNotice, summary[4]);
   EXPECT_EQ(0u, summary[5].find("I1 zzz"));
   EXPECT_EQ(2045u, lines[5].text.size());
   EXPECT_EQ(kHostFailed, summary[6]);
}

TEST_F(LogTest, HostSwitchOnAfterAFormatError)
{
   // The format error line goes to the host too, without a note of its own.
   ASSERT_EQ(0u, Run({L"level", L"none", L"hostkey", L"1", L"longtag", L"2100", L"setupca",
                      L"t", L"ca", L"lost", L"end", L"end"}));
   EXPECT_EQ((std::vector<std::string>{"Serious format error in logging code"}),
             Summary(Log()));
}

TEST_F(LogTest, HostSwitchIsDecidedAtEveryCustomAction)
{
   ASSERT_EQ(0u, Run({L"level", L"none", L"setupca", L"t", L"ca", L"off", L"hostkey", L"1",
                      L"setupca", L"t", L"ca", L"on", L"end", L"hostkey", L"0", L"setupca",
                      L"t", L"ca", L"off again", L"end", L"end"}));
   EXPECT_EQ((std::vector<std::string>{"I0 off", "I0 on", kHostFailed, "I0 off again"}),
             Summary(Log()));
}

TEST_F(LogTest, HostSwitchNeedsTheCustomActionOpen)
{
   // Inst_SetupLogging itself leaves the switch as it is (off).
   ASSERT_EQ(0u, Run({L"level", L"none", L"hostkey", L"1", L"setup", L"-", L"-", L"-", L"-",
                      L"ca", L"plain session", L"end"}));
   EXPECT_EQ((std::vector<std::string>{"I0 plain session"}), Summary(Log()));
}

// --- error texts in this process --------------------------------------------------------

TEST(LogErrorText, WinErrorTextIsTheSystemTextWithoutLineEnd)
{
   for (DWORD code : {2u, 5u, 87u}) {
      wchar_t buf[1024];
      DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, code, 1033, buf, 1024, nullptr);
      ASSERT_GT(n, 0u) << code;
      std::wstring expected(buf, n);
      while (!expected.empty() && (expected.back() == L'\r' || expected.back() == L'\n')) {
         expected.pop_back();
      }
      ASSERT_FALSE(expected.empty());
      EXPECT_EQ(expected, Inst_WinErrorText(code)) << code;
      EXPECT_EQ(expected, Inst_ErrorCodeText(code)) << code;
   }
}

TEST(LogErrorText, CodesWithoutTextAreEmptyOrUnknown)
{
   EXPECT_EQ(L"", Inst_WinErrorText(0x20000001));
   EXPECT_EQ(L"Unknown error code: 0x20000001", Inst_ErrorCodeText(0x20000001));
   EXPECT_EQ(L"Unknown error code: 0xe0001234", Inst_ErrorCodeText(0xE0001234));
}

TEST(LogErrorText, ErrnoTextIsTheRuntimeText)
{
   for (int code : {0, 1, 2, 13, 22, 34}) {
      EXPECT_EQ(std::wstring(_wcserror(code)), Inst_ErrnoText(code)) << code;
      EXPECT_FALSE(Inst_ErrnoText(code).empty()) << code;
   }
}

TEST(LogErrorText, TextLookupsKeepTheCallerErrors)
{
   errno = EDOM;
   SetLastError(0xBEEF);
   Inst_WinErrorText(5);
   Inst_WinErrorText(0x20000001);
   Inst_ErrorCodeText(0x20000001);
   Inst_ErrnoText(2);
   EXPECT_EQ(EDOM, errno);
   EXPECT_EQ(0xBEEFu, GetLastError());
}

// --- time zone ---------------------------------------------------------------------------

// The zone offset now, from the time zone information rather than file
// times, formatted by this test's own rules.
std::string ExpectedZone()
{
   TIME_ZONE_INFORMATION tzi;
   DWORD which = GetTimeZoneInformation(&tzi);
   long bias = tzi.Bias;
   if (which == TIME_ZONE_ID_DAYLIGHT) {
      bias += tzi.DaylightBias;
   } else if (which == TIME_ZONE_ID_STANDARD) {
      bias += tzi.StandardBias;
   }
   long minutes = -bias;
   if (minutes == 0) {
      return "Z";
   }
   char buf[16];
   snprintf(buf, sizeof buf, "%c%02ld:%02ld", minutes < 0 ? '-' : '+', labs(minutes) / 60,
            labs(minutes) % 60);
   return buf;
}

long long FileTimeValue(const FILETIME &ft)
{
   ULARGE_INTEGER u;
   u.LowPart = ft.dwLowDateTime;
   u.HighPart = ft.dwHighDateTime;
   return static_cast<long long>(u.QuadPart);
}

// ctest also runs this case under TZ="<-02>2" and TZ="UTC0" with
// OV_LOG_EXPECT_ZONE naming the suffix Wine must produce for them.
TEST_F(LogTest, ZoneSuffixAndTimeFollowTheProcessZone)
{
   FILETIME before;
   GetSystemTimeAsFileTime(&before);
   ASSERT_EQ(0u, Run({L"level", L"none", L"ca", L"now"}));
   FILETIME after;
   GetSystemTimeAsFileTime(&after);

   std::vector<Line> lines = Log();
   ASSERT_EQ(1u, lines.size());
   ASSERT_TRUE(lines[0].parsed);
   EXPECT_EQ(ExpectedZone(), lines[0].zone);
   char expected[64];
   DWORD n = GetEnvironmentVariableA("OV_LOG_EXPECT_ZONE", expected, sizeof expected);
   if (n > 0 && n < sizeof expected) {
      EXPECT_EQ(std::string(expected), lines[0].zone);
   }

   // Local time minus the offset is UTC, between the two readings here.
   SYSTEMTIME st = {};
   int y, mo, d, h, mi, s, ms;
   ASSERT_EQ(7, sscanf(lines[0].timestamp.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d", &y, &mo,
                       &d, &h, &mi, &s, &ms));
   st.wYear = static_cast<WORD>(y);
   st.wMonth = static_cast<WORD>(mo);
   st.wDay = static_cast<WORD>(d);
   st.wHour = static_cast<WORD>(h);
   st.wMinute = static_cast<WORD>(mi);
   st.wSecond = static_cast<WORD>(s);
   st.wMilliseconds = static_cast<WORD>(ms);
   FILETIME local;
   ASSERT_TRUE(SystemTimeToFileTime(&st, &local));
   long long zoneMinutes = 0;
   if (lines[0].zone != "Z") {
      int zh = 0, zm = 0;
      ASSERT_EQ(2, sscanf(lines[0].zone.c_str() + 1, "%2d:%2d", &zh, &zm));
      zoneMinutes = (zh * 60 + zm) * (lines[0].zone[0] == '-' ? -1 : 1);
   }
   long long utc = FileTimeValue(local) - zoneMinutes * 600000000LL;
   // Milliseconds are cut, hence the one-millisecond slack below.
   EXPECT_GE(utc, FileTimeValue(before) - 10000);
   EXPECT_LE(utc, FileTimeValue(after));
}

}  // namespace
