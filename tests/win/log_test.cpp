// The log against the real Wine registry, files and clock. The log's state
// is read once per process, so each case runs tests/win/logChild in a fresh
// process whose current folder is a scratch folder (where a relative
// fallback file goes) and whose temporary folder is its "tmp", and then
// reads the files it left.
//
// The file is opened without O_BINARY, i.e. in text mode: every LF the log
// writes reaches the disk as CR LF. A line therefore has to end in exactly
// one CR LF, which also proves that a message's own trailing CR is gone.
#include "common/log.h"

#include <fcntl.h>
#include <io.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/win/win32uTestUtil.h"

#ifndef OV_LOG_CHILD_EXE
#error "OV_LOG_CHILD_EXE (host path of log_child.exe) must be defined by the build"
#endif

using win32utest::Utf8;
using win32utest::Wide;

namespace {

using Strings = std::vector<std::string>;

const std::string kBuildTag = "inst-build-" + std::to_string(OV_BUILD_NUMBER);
const std::string kHostFailed = "Failed to send above log message to host";
const std::wstring kPid = std::to_wstring(GetCurrentProcessId());

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

// The child sees Windows 10, which a program without a compatibility
// manifest is told is 6.2 (a version the OS probes log as unknown).
const wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\child.exe";

void ClearRegistry()
{
   RegDeleteTreeW(HKEY_CURRENT_USER, kAppDefaults);
   RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Orvane, Inc.", L"LogLevel");
   RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvane, Inc.\\OvxLog", KEY_WOW64_64KEY, 0);
}

// A scratch folder with a non-ASCII name and its "tmp" inside. The log tests
// own the log level value and the host-log key of the sandboxed prefix
// (ctest runs them under one resource lock); each case starts without them.
struct Scratch {
   Scratch()
   {
      static int count = 0;
      root += std::to_wstring(++count) + L"\u00e9\u20ac";
      RemoveTree(root);
      ok = CreateDirectoryW(root.c_str(), nullptr) && CreateDirectoryW(tmp().c_str(), nullptr);
      ClearRegistry();
      RegSetKeyValueW(HKEY_CURRENT_USER, kAppDefaults, L"Version", REG_SZ, L"win10", 12);
   }
   ~Scratch()
   {
      RemoveTree(root);
      ClearRegistry();
   }
   std::wstring tmp() const { return root + L"\\tmp"; }
   bool Exists(const std::string &name) const
   {
      return GetFileAttributesW((root + L"\\" + Wide(name)).c_str()) != INVALID_FILE_ATTRIBUTES;
   }
   std::wstring root = TempPath() + L"ovlogtest-" + kPid + L"-";
   bool ok = false;
};

// Exit code of the child run in the scratch folder, ~0 when it did not end.
// It runs from a copy there: Wine cannot start a program by the \\?\unix
// path the build tree is seen through.
DWORD RunChild(const Scratch &scratch, const Strings &ops)
{
   std::wstring host = L"\\\\?\\unix" + Wide(OV_LOG_CHILD_EXE), exe = scratch.root + L"\\child.exe";
   std::replace(host.begin(), host.end(), L'/', L'\\');
   std::wstring cmd = L"\"" + exe + L"\"";
   for (const std::string &op : ops) {
      cmd += L" \"" + Wide(op) + L"\"";   // no op holds a quote or ends in a backslash
   }
   STARTUPINFOW si = {};
   si.cb = sizeof si;
   PROCESS_INFORMATION pi;
   DWORD code = ~0u;
   if (!CopyFileW(host.c_str(), exe.c_str(), FALSE) ||
       !CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr,
                       scratch.root.c_str(), &si, &pi)) {
      ADD_FAILURE() << "cannot copy or start the child: " << GetLastError();
      return code;
   }
   if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) {
      TerminateProcess(pi.hProcess, code);
   }
   GetExitCodeProcess(pi.hProcess, &code);
   CloseHandle(pi.hThread);
   CloseHandle(pi.hProcess);
   return code;
}

long long Ticks(const FILETIME &ft)
{
   return static_cast<long long>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime;
}

// The lines of a log written between two clock readings, split at CR LF
// (any other CR or LF is a fault, see the top), as "[tag|]LL message": the
// tag only when it is not the build tag, and a full-length line whose
// message repeats one character c as "LL c*". The local time of each line
// less its zone offset must be a UTC time between the readings, and the
// zone suffix the one OV_LOG_EXPECT_ZONE names (ctest sets it with a TZ).
Strings Summaries(const std::string &bytes, long long before, long long after)
{
   static const std::regex shape("^([0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}\\.[0-9]{3})"
                                 "(Z|([+-])([0-9]{2}):([0-9]{2}))"
                                 "\\| ([^|]*)\\| ([A-Z0-9]{2}): (.*)$");
   char zone[16] = "";
   GetEnvironmentVariableA("OV_LOG_EXPECT_ZONE", zone, sizeof zone);
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
      EXPECT_TRUE(zone[0] == '\0' || m.str(2) == zone) << text;
      std::string tag = m[6], message = m[8];
      if (text.size() == 2045 && message.find_first_not_of(message[0]) == std::string::npos) {
         message = message.substr(0, 1) + "*";
      }
      out.push_back((tag == kBuildTag ? "" : tag + "|") + m.str(7) + " " + message);
   }
   EXPECT_EQ(bytes.size(), start) << "the log does not end in CR LF";
   return out;
}

// --- the cases: operations of the child and the lines of one file ------------

struct Case {
   std::string name;
   Strings ops;         // "{tmp}" stands for the full path of the temporary folder
   Strings lines;       // summaries; none: no file at all; "*": the file, any lines
   std::string file = "tmp\\ovinst.log";   // relative to the scratch folder
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

// Words separated by spaces; "c*N" stands for N times the character c.
Strings Ops(const std::string &words)
{
   Strings out;
   std::istringstream in(words);
   for (std::string w; std::getline(in, w, ' ');) {
      if (!w.empty()) {
         out.push_back(w.size() > 2 && w[1] == '*' ? std::string(stoul(w.substr(2)), w[0]) : w);
      }
   }
   return out;
}

std::vector<Case> Cases()
{
   const std::string every = " L 1 e1 L 2 i1 L 4 e2 L 8 w1 L 0x10 g2 L 0x20 i2 L 0x40 unread"
                             " L 0x80 p1 C ca ",
                     s = " S - - - - ", log = " tmp\\ovinst.log ";
   const std::string begin = "XX Inst_SetupLogging: Begin Logging ", all = "(LogLevel 0x000007ff)",
                     end = "XX Inst_EndLogging: End Logging";
   errno = 0;   // what the runtime says when the log opens a folder as its file
   const int fd = _wopen(TempPath().c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
   const int err = fd >= 0 ? _close(fd) : errno;
   const std::string intended = "E1 InstCreateLogFile: Unable to log to intended file {tmp}\\",
                     posix = "| posix code " + std::to_string(err) + " (" + ErrnoText(err) + ")";
   auto with = [](const std::string &head, const std::string &text) {
      return text.empty() ? head : head + " (" + text + ")";
   };
   std::vector<Case> cases;
   for (const std::string value : {"none", "nokey", "sz"}) {
      cases.push_back({"MaskDefaultWithValue_" + value, Ops("V " + value + s + every + "X"),
                       {"E1 e1", "I1 i1", "E2 e2", "W1 w1", "I2 i2", "I0 ca"}});
   }
   const std::vector<Case> more = {
      // A host that answers takes each line as one request: no failure note.
      {"HostAccepts",
       Ops("V none T H 1 A t C one L 1 two X H 0"),
       {"t|I0 one", "t|E1 two"}},
      {"MaskZeroWritesNothing", Ops("V 0 A t" + every + "W 0x400 5 ca X C after"), {}},
      {"NothingPassesNoFile", Ops("V none" + s + "L 0x10 g2 L 0x80 p1 E 0x10 5 g X"), {}},
      {"MaskAllBitsReadOnce",
       Ops("V 0x7FF S one - - -" + every + "L 0x300 xx X V 0 A t L 0x10 g2 X"),
       {begin + "'one' " + all, "E1 e1", "I1 i1", "E2 e2", "W1 w1", "G2 g2", "I2 i2",
        "XX unread", "P1 p1", "I0 ca", "XX xx", end, "t|" + begin + "'<unspecified>' " + all,
        "t|G2 g2", "t|" + end}},
      // 0x40 (the unread marker) is read again by the next session; a level
      // that merely includes 0x400 passes any mask.
      {"MaskOfTheUnreadValueThenOneBit",
       Ops("V 0x40 S one - - - L 1 no C ca X V 8" + s + every + "L 0x401 ca+e1 X"),
       {"I0 ca", "W1 w1", "I0 ca", "XX ca+e1"}},
      // An end without a session changes nothing; a line outside a session
      // opens the file with the default names and the build tag.
      {"NestedSessions",
       Ops("V 0x7FF X C before S outer A - - S inner B - - L 2 between X O" + log +
           "1 L 2 after X O" + log + "0 C outside"),
       {"I0 before", "A|" + begin + "'outer' " + all, "A|I1 between", "A|I1 after", "A|" + end,
        "I0 outside"}},
      // The names stay after the session; the file reopens in append mode.
      {"PrimaryName", Ops("V none S - - own.log - L 1 in X L 1 after"), {"E1 in", "E1 after"},
       "tmp\\own.log"},
      {"OsProbeLines", Ops("V none" + s + "Y X"), {"I1 Util_GetSystemVersionString: Unknown OS: 6.2 Type: 1"}},
      // Both files fail: the line is lost and the next one tries again.
      {"FallbackFile",
       Ops("V none M" + log + "M ovinstutil.log" + s + "L 1 lost D ovinstutil.log L 1 first"
           " L 2 second X"),
       {intended + "ovinst.log" + posix, "E1 first", "I1 second"}, "ovinstutil.log"},
      {"FallbackFileByFullPath", Ops("V none M tmp\\p.log S - - p.log {tmp}\\fb.log L 8 w X"),
       {intended + "p.log" + posix, "W1 w"}, "tmp\\fb.log"},
      // Before any session (mask unread), at a written and at a filtered
      // level, on the fallback and then on the primary file.
      {"CallerErrorsKept",
       Ops("V none M" + log + "P 1" + s + "P 1 X D" + log + s + "P 1 P 0x10 X"), {"*"}},
      {"LineText",
       Ops("V none" + s + "L 2 a*3000 L 2 crlf\r\n L 2 \r\n L 2 many\n\r\r\n L 2 cr\r X"
           " S - t*2100 - - L 2 lost X L 2 after"),
       {"The following message is truncated:", "I1 a*", "I1 crlf", "I1 ", "I1 many", "I1 cr",
        "Serious format error in logging code", "I1 after"}},
      {"ErrorSuffixes",
       Ops("V none" + s + "W 1 5 w5 E 1 5 e5 E 1 0 e0 W 1 0 w0 W 1 0x20000001 x N 1 2 n2"
           " R 1 0 r0 N 1 -1 n-1 R 1 -1 r-1 W 0x10 5 f E 0x80 5 f N 0x10 2 f R 0x10 2 f X"),
       {"E1 w5| winerror code 5 (" + SystemText(5) + ")",
        "E1 e5| winerror code 5 (" + SystemText(5) + ")",
        "E1 e0| winerror code 0 (code was erased)",
        "E1 w0" + with("| winerror code 0", SystemText(0)), "E1 x| winerror code 536870913",
        "E1 n2| posix code 2 (" + ErrnoText(2) + ")", "E1 r0| posix code 0 (code was erased)",
        "E1 n-1" + with("| posix code -1", ErrnoText(-1)),
        "E1 r-1" + with("| posix code 4294967295", ErrnoText(-1))}},
      // The switch follows the key at every custom-action open, nested or
      // not; a plain session leaves it. The notice goes to the host too, but
      // only the line gets the note.
      {"HostSwitch",
       Ops("V none A t C off H 1 A t C on L 2 z*3000 L 0x10 no X H 0 A t C off X X H 1" + s +
           "C plain X"),
       {"t|I0 off", "t|I0 on", kHostFailed, "The following message is truncated:", "t|I1 z*",
        kHostFailed, "t|I0 off", "I0 plain"}},
   };
   cases.insert(cases.end(), more.begin(), more.end());
   return cases;
}

class LogCase : public testing::TestWithParam<Case> {};

TEST_P(LogCase, WritesTheExpectedLines)
{
   const Case &c = GetParam();
   Scratch scratch;
   ASSERT_TRUE(scratch.ok);
   const std::string tmp = Utf8(scratch.tmp());
   auto expand = [&tmp](std::string s) {
      size_t at = s.find("{tmp}");
      return at == std::string::npos ? s : s.replace(at, 5, tmp);
   };
   Strings ops, want;
   std::transform(c.ops.begin(), c.ops.end(), std::back_inserter(ops), expand);
   std::transform(c.lines.begin(), c.lines.end(), std::back_inserter(want), expand);
   FILETIME before, after;
   GetSystemTimeAsFileTime(&before);
   ASSERT_EQ(0u, RunChild(scratch, ops));
   GetSystemTimeAsFileTime(&after);
   std::ifstream in((scratch.root + L"\\" + Wide(c.file)).c_str(), std::ios::binary);
   Strings got = Summaries(std::string(std::istreambuf_iterator<char>(in), {}), Ticks(before),
                           Ticks(after));
   EXPECT_EQ(!want.empty(), scratch.Exists(c.file));
   EXPECT_TRUE(!want.empty() || !scratch.Exists("ovinstutil.log"));
   if (want != Strings{"*"}) {
      EXPECT_EQ(want, got);
   }
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
