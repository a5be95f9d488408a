// The log against the real Wine registry, files and clock. The log reads its
// state once per process, so each case runs in a death-test child whose
// current folder is a scratch folder (where a relative fallback file goes)
// and whose temporary folder is its "tmp". The file is in text mode: a line
// ending in exactly one CR LF proves a message's own trailing CR is gone.
#include "common/log.h"

#include <fcntl.h>
#include <io.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "tests/win/simulatedHost.h"
#include "tests/win/win32uTestUtil.h"

using namespace win32utest;

namespace {

using Strings = std::vector<std::string>;

const std::string kBuildTag = "inst-build-" + std::to_string(OV_BUILD_NUMBER);
const std::string kHostFailed = "Failed to send above log message to host";
const wchar_t kLevelKey[] = L"SOFTWARE\\Wow6432Node\\Orvane, Inc.";
const wchar_t kHostKey[] = L"SOFTWARE\\Orvane, Inc.\\OvxLog";

std::wstring TempPath()
{
   wchar_t buf[MAX_PATH + 1];
   DWORD n = GetTempPathW(MAX_PATH + 1, buf);
   return std::wstring(buf, n <= MAX_PATH ? n : 0);
}

void RemoveTree(const std::wstring &path)
{
   WIN32_FIND_DATAW found;
   HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &found);
   for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &found)) {
      if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0) {
         RemoveTree(path + L"\\" + found.cFileName);
      }
   }
   find != INVALID_HANDLE_VALUE && FindClose(find);
   DeleteFileW(path.c_str()) || RemoveDirectoryW(path.c_str());
}

// The system's own texts, independent of the library's lookups.
std::string SystemText(DWORD code)
{
   wchar_t buf[1024];
   DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                            code, 1033, buf, 1024, nullptr);
   std::string text = Utf8(std::wstring(buf, n));
   return text.substr(0, text.find_last_not_of("\r\n") + 1);
}

std::string ErrnoText(int code) { return Utf8(_wcserror(code)); }

// A failed check ends the child with its note.
void Check(bool ok, const std::string &what)
{
   if (!ok) {
      fprintf(stderr, "log child: %s\n", what.c_str());
      exit(1);
   }
}

// The log level value: "none" removes it, "nokey" its key; "sz" is REG_SZ "2047".
void Level(const std::string &kind)
{
   const HKEY hklm = HKEY_LOCAL_MACHINE;
   DWORD v = kind[0] == '0' ? std::stoul(kind, nullptr, 0) : 0;
   LONG rc = kind == "nokey" ? RegDeleteKeyExW(hklm, kLevelKey, KEY_WOW64_64KEY, 0)
             : kind == "none" ? RegDeleteKeyValueW(hklm, kLevelKey, L"LogLevel")
             : kind == "sz"   ? RegSetKeyValueW(hklm, kLevelKey, L"LogLevel", REG_SZ, L"2047", 10)
                              : RegSetKeyValueW(hklm, kLevelKey, L"LogLevel", REG_DWORD, &v, 4);
   Check(rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND, "cannot set the level " + kind);
}

void HostKey(bool on)
{
   LONG rc = on ? RegSetKeyValueW(HKEY_LOCAL_MACHINE, kHostKey, nullptr, REG_SZ, L"", 2)
                : RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kHostKey, KEY_WOW64_64KEY, 0);
   Check(rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND, "cannot set the host key");
}

void Folder(const char *path, bool make)
{
   Check((make ? CreateDirectoryA(path, nullptr) : RemoveDirectoryA(path)) != 0, path);
}

void L(uint32_t level, const std::string &text) { Inst_Log(level, "%s", text.c_str()); }
void Session(const char *name = nullptr, const char *tag = nullptr, const char *file = nullptr,
             const char *fallback = nullptr) { Inst_SetupLogging(name, tag, file, fallback); }

// One line at every level bit below 0x100, then one for the host.
void Every()
{
   const char *texts[] = {"e1", "i1", "e2", "w1", "g2", "i2", "unread", "p1"};
   for (uint32_t bit = 0; bit < 8; bit++) {
      L(1u << bit, texts[bit]);
   }
   Inst_LogCA("ca");
}

// A rename of the file is refused while the log holds it open.
void HeldOpen(const std::wstring &path, bool open)
{
   const std::wstring probe = path + L".probe";
   Check(open == !(MoveFileW(path.c_str(), probe.c_str()) && MoveFileW(probe.c_str(), path.c_str())),
         "wrong open state of the file");
}

// Every call, at a written or a filtered level, also one that creates the
// file or opens a session, leaves errno and the last error as they were.
void Preserved(uint32_t level)
{
   const std::function<void()> calls[] = {
      [&] { Inst_Log(level, "preserve %s", "Inst_Log"); },
      [] { Inst_LogCA("preserve"); },
      [&] { Inst_LogWinError(level, ERROR_ACCESS_DENIED, "preserve"); },
      [&] { Inst_LogLastError(level, 0, "preserve"); },
      [&] { Inst_LogErrno(level, ENOENT, "preserve"); },
      [&] { Inst_LogLastErrno(level, ENOENT, "preserve"); },
      [] { Inst_SetupLogging("nested", nullptr, nullptr, nullptr); },
      [] { Inst_EndLogging(); },
      [] { Inst_ErrorCodeText(0xE0001234); },   // no system text
      [] { Inst_ErrnoText(ENOENT); },
   };
   for (size_t i = 0; i < sizeof calls / sizeof calls[0]; i++) {
      errno = ERANGE;
      SetLastError(0x1234);
      calls[i]();
      Check(errno == ERANGE && GetLastError() == 0x1234, "disturbed by call " + Str(i));
   }
}

struct Case {
   std::string name;
   std::function<void(SimulatedHost &host, const std::string &tmp)> run;
   Strings lines;   // summaries (see Summaries); none: no file at all; "*": any lines
   std::string file = "tmp\\ovinst.log";   // relative to the scratch folder
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

// Lines for the host reach the simulated hypervisor, which does not answer
// unless a case switches it on.
[[noreturn]] void RunChild(const Case &c, const std::wstring &root)
{
   const std::wstring tmp = root + L"\\tmp";
   Check(SetCurrentDirectoryW(root.c_str()) && SetEnvironmentVariableW(L"TMP", tmp.c_str()) &&
            SetEnvironmentVariableW(L"TEMP", tmp.c_str()), "cannot set the folders");
   SimulatedHost host;
   host.present = false;
   c.run(host, Utf8(tmp));
   exit(0);
}

long long Ticks(const FILETIME &ft)
{
   return static_cast<long long>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime;
}

// The lines of a log written between two clock readings as "[tag|]LL message"
// (the tag unless it is the build tag; "LL c*" for a full-length line of one
// character c). Each line's time less its zone offset must lie between the
// readings, its zone be the one OV_LOG_EXPECT_ZONE names (ctest sets a TZ).
Strings Summaries(const std::string &bytes, long long before, long long after)
{
   static const std::regex shape("^([0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}\\.[0-9]{3})"
                                 "(Z|([+-])([0-9]{2}):([0-9]{2}))"
                                 "\\| ([^|]*)\\| ([A-Z0-9]{2}): (.*)$");
   const std::string zone = Utf8(EnvVar(L"OV_LOG_EXPECT_ZONE"));
   Strings out;
   size_t start = 0;
   for (size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2) {
      std::string text = bytes.substr(start, end - start);
      EXPECT_EQ(std::string::npos, text.find_first_of("\r\n")) << "stray line end: " << text;
      std::smatch m;
      if (!std::regex_match(text, m, shape)) {
         out.push_back(text);
         continue;
      }
      SYSTEMTIME st = {};
      FILETIME local = {};
      sscanf(m.str(1).c_str(), "%hu-%hu-%huT%hu:%hu:%hu.%hu", &st.wYear, &st.wMonth, &st.wDay,
             &st.wHour, &st.wMinute, &st.wSecond, &st.wMilliseconds);
      EXPECT_TRUE(SystemTimeToFileTime(&st, &local)) << text;
      int minutes = m.str(2) == "Z" ? 0 : stoi(m.str(4)) * 60 + stoi(m.str(5));
      long long utc = Ticks(local) - (m.str(3) == "-" ? -1 : 1) * minutes * 600000000LL;
      EXPECT_TRUE(utc >= before - 10000 && utc <= after) << text;   // milliseconds are cut
      EXPECT_TRUE(zone.empty() || m.str(2) == zone) << text;
      std::string tag = m[6], message = m[8];
      if (text.size() == 2045 && message.find_first_not_of(message[0]) == std::string::npos) {
         message = message.substr(0, 1) + "*";
      }
      out.push_back((tag == kBuildTag ? "" : tag + "|") + m.str(7) + " " + message);
   }
   EXPECT_EQ(bytes.size(), start) << "the log does not end in CR LF";
   return out;
}

std::vector<Case> Cases()
{
   const std::string begin = "XX Inst_SetupLogging: Begin Logging ", all = "(LogLevel 0x000007ff)",
                     end = "XX Inst_EndLogging: End Logging";
   errno = 0;   // what the runtime says when the log opens a folder as its file
   const int fd = _wopen(TempPath().c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
   const int err = fd >= 0 ? _close(fd) : errno;
   const std::string intended = "E1 InstCreateLogFile: Unable to log to intended file ",
                     posix = "| posix code " + Str(err) + " (" + ErrnoText(err) + ")";
   auto with = [](const std::string &head, const std::string &text) {
      return text.empty() ? head : head + " (" + text + ")";
   };
   std::vector<Case> cases;
   for (const std::string value : {"none", "nokey", "sz"}) {
      cases.push_back({"MaskDefaultWithValue_" + value, [value](SimulatedHost &, auto) {
                          Level(value), Session(), Every(), Inst_EndLogging();
                       }, {"E1 e1", "I1 i1", "E2 e2", "W1 w1", "I2 i2", "I0 ca"}});
   }
   const std::vector<Case> more = {
      // A host that answers takes each line as one request: no failure note.
      {"HostAccepts", [](SimulatedHost &host, auto) {
          Level("none"), host.present = true, HostKey(true), Inst_SetupCALogging("t");
          Inst_LogCA("one"), L(1, "two"), Inst_EndLogging(), HostKey(false);
          // Their text is the host channel tests' concern.
          Check(host.requests.size() == 2, "not one request per line");
       }, {"t|I0 one", "t|E1 two"}},
      {"MaskZeroWritesNothing", [](SimulatedHost &, auto) {
          Level("0"), Inst_SetupCALogging("t"), Every();
          Inst_LogWinError(0x400, 5, "ca"), Inst_EndLogging(), Inst_LogCA("after");
       }, {}},
      {"NothingPassesNoFile", [](SimulatedHost &, auto) {
          Level("none"), Session(), L(0x10, "g2"), L(0x80, "p1");
          Inst_LogLastError(0x10, 5, "g"), Inst_EndLogging();
       }, {}},
      {"MaskAllBitsReadOnce", [](SimulatedHost &, auto) {
          Level("0x7FF"), Session("one"), Every(), L(0x300, "xx"), Inst_EndLogging();
          Level("0"), Session("two"), L(0x10, "g2"), Inst_EndLogging();
       }, {begin + "'one' " + all, "E1 e1", "I1 i1", "E2 e2", "W1 w1", "G2 g2", "I2 i2",
           "XX unread", "P1 p1", "I0 ca", "XX xx", end, begin + "'two' " + all, "G2 g2", end}},
      // 0x40 (the unread marker) is read again by the next session; a level
      // that merely includes 0x400 passes any mask.
      {"MaskOfTheUnreadValueThenOneBit", [](SimulatedHost &, auto) {
          Level("0x40"), Session("one"), L(1, "no"), Inst_LogCA("ca"), Inst_EndLogging();
          Level("0x8"), Session(), Every(), L(0x401, "ca+e1"), Inst_EndLogging();
       }, {"I0 ca", "W1 w1", "I0 ca", "XX ca+e1"}},
      // An end without a session changes nothing; a line outside a session
      // opens the file with the default names and the build tag; the file is
      // closed with the last session.
      {"NestedSessions", [](SimulatedHost &, const std::string &tmp) {
          const std::wstring file = Wide(tmp) + L"\\ovinst.log";
          Level("0x7FF"), Inst_EndLogging(), Inst_LogCA("before"), Session("outer", "A");
          Session("inner", "B"), L(2, "between"), Inst_EndLogging(), HeldOpen(file, true);
          L(2, "after"), Inst_EndLogging(), HeldOpen(file, false), Inst_LogCA("outside");
       }, {"I0 before", "A|" + begin + "'outer' " + all, "A|I1 between", "A|I1 after",
           "A|" + end, "I0 outside"}},
      // The names stay after the session; the file reopens in append mode.
      {"PrimaryName", [](SimulatedHost &, auto) {
          Level("none"), Session(nullptr, nullptr, "own.log"), L(1, "in"), Inst_EndLogging();
          L(1, "after");
       }, {"E1 in", "E1 after"}, "tmp\\own.log"},
      // Both files fail: the line is lost and the next one tries again.
      {"FallbackFile", [](SimulatedHost &, auto) {
          Level("none"), Folder("tmp\\ovinst.log", true), Folder("ovinstutil.log", true);
          Session(), L(1, "lost"), Folder("ovinstutil.log", false), L(1, "first");
          L(2, "second"), Inst_EndLogging();
       }, {intended + "{tmp}\\ovinst.log" + posix, "E1 first", "I1 second"}, "ovinstutil.log"},
      {"FallbackFileByFullPath", [](SimulatedHost &, const std::string &tmp) {
          Level("none"), Folder("tmp\\p.log", true);
          Session(nullptr, nullptr, "p.log", (tmp + "\\fb.log").c_str());
          L(8, "w"), Inst_EndLogging();
       }, {intended + "{tmp}\\p.log" + posix, "W1 w"}, "tmp\\fb.log"},
      // Before any session (mask unread), at a written and at a filtered
      // level, on the fallback and then on the primary file.
      {"CallerErrorsKept", [](SimulatedHost &, auto) {
          Level("none"), Folder("tmp\\ovinst.log", true), Preserved(1), Session(), Preserved(1);
          Inst_EndLogging(), Folder("tmp\\ovinst.log", false), Session(), Preserved(1);
          Preserved(0x10), Inst_EndLogging();
       }, {"*"}},
      {"LineText", [](SimulatedHost &, auto) {
          Level("none"), Session(), L(2, std::string(3000, 'a')), L(2, "crlf\r\n"), L(2, "\r\n");
          L(2, "many\n\r\r\n"), L(2, "cr\r"), Inst_EndLogging();
          Session(nullptr, std::string(2100, 't').c_str()), L(2, "lost"), Inst_EndLogging();
          L(2, "after");
       }, {"The following message is truncated:", "I1 a*", "I1 crlf", "I1 ", "I1 many", "I1 cr",
           "Serious format error in logging code", "I1 after"}},
      {"ErrorSuffixes", [](SimulatedHost &, auto) {
          Level("none"), Session();
          Inst_LogWinError(1, 5, "w5"), Inst_LogLastError(1, 5, "e5");
          Inst_LogLastError(1, 0, "e0"), Inst_LogWinError(1, 0, "w0");
          Inst_LogWinError(1, 0x20000001, "x"), Inst_LogErrno(1, 2, "n2");
          Inst_LogLastErrno(1, 0, "r0"), Inst_LogErrno(1, -1, "n-1");
          Inst_LogLastErrno(1, -1, "r-1"), Inst_LogWinError(0x10, 5, "f");
          Inst_LogLastError(0x80, 5, "f"), Inst_LogErrno(0x10, 2, "f");
          Inst_LogLastErrno(0x10, 2, "f"), Inst_EndLogging();
       }, {"E1 w5| winerror code 5 (" + SystemText(5) + ")",
           "E1 e5| winerror code 5 (" + SystemText(5) + ")",
           "E1 e0| winerror code 0 (code was erased)",
           "E1 w0" + with("| winerror code 0", SystemText(0)), "E1 x| winerror code 536870913",
           "E1 n2| posix code 2 (" + ErrnoText(2) + ")", "E1 r0| posix code 0 (code was erased)",
           "E1 n-1" + with("| posix code -1", ErrnoText(-1)),
           "E1 r-1" + with("| posix code 4294967295", ErrnoText(-1))}},
      // The switch follows the key at every custom-action open, nested or
      // not; a plain session leaves it. The notice goes to the host too, but
      // only the line gets the note.
      {"HostSwitch", [](SimulatedHost &, auto) {
          Level("none"), Inst_SetupCALogging("t"), Inst_LogCA("off"), HostKey(true);
          Inst_SetupCALogging("t"), Inst_LogCA("on"), L(2, std::string(3000, 'z')), L(0x10, "no");
          Inst_EndLogging(), HostKey(false), Inst_SetupCALogging("t"), Inst_LogCA("off");
          Inst_EndLogging(), Inst_EndLogging(), HostKey(true), Session(), Inst_LogCA("plain");
          Inst_EndLogging();
       }, {"t|I0 off", "t|I0 on", kHostFailed, "The following message is truncated:", "t|I1 z*",
           kHostFailed, "t|I0 off", "I0 plain"}},
   };
   cases.insert(cases.end(), more.begin(), more.end());
   return cases;
}

// The log tests own the log level value and the host-log key of the
// sandboxed prefix (ctest runs them under one resource lock); each case
// starts without them.
void ClearRegistry()
{
   RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kLevelKey, L"LogLevel");
   RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kHostKey, KEY_WOW64_64KEY, 0);
}

class LogCase : public testing::TestWithParam<Case> {};

TEST_P(LogCase, WritesTheExpectedLines)
{
   const Case &c = GetParam();
   // The same folder in the child, which runs this far again.
   const std::wstring root = TempPath() + L"ovlogtest-" + Wide(c.name) + L"\u00e9\u20ac";
   RemoveTree(root);
   ClearRegistry();
   ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr) &&
               CreateDirectoryW((root + L"\\tmp").c_str(), nullptr));
   FILETIME before, after;
   GetSystemTimeAsFileTime(&before);
   EXPECT_EXIT(RunChild(c, root), testing::ExitedWithCode(0), "");
   GetSystemTimeAsFileTime(&after);
   Strings want = c.lines;
   for (std::string &line : want) {
      size_t at = line.find("{tmp}");
      line = at == std::string::npos ? line : line.replace(at, 5, Utf8(root + L"\\tmp"));
   }
   const std::wstring file = root + L"\\" + Wide(c.file);
   Strings got = Summaries(ReadWholeFile(file), Ticks(before), Ticks(after));
   EXPECT_EQ(!want.empty(), Exists(file));
   EXPECT_TRUE(!want.empty() || !Exists(root + L"\\ovinstutil.log"));
   EXPECT_TRUE(want == Strings{"*"} || want == got) << testing::PrintToString(got);
   RemoveTree(root);
   ClearRegistry();
}

INSTANTIATE_TEST_SUITE_P(Log, LogCase, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<Case> &info) { return info.param.name; });

// The texts the error suffixes use are tested with them above.
TEST(LogErrorText, ErrorCodeTextFallsBackToTheCode)
{
   EXPECT_EQ(SystemText(5), Utf8(Inst_ErrorCodeText(5)));
   EXPECT_EQ(L"", Inst_WinErrorText(0xE0001234));   // the customer bit: no system text
   EXPECT_EQ(L"Unknown error code: 0xe0001234", Inst_ErrorCodeText(0xE0001234));
}

}  // namespace
