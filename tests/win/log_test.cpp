// The log against the real Wine registry, files and clock. The log's state
// is read once per process, so each case runs tests/win/logChild in a fresh
// process whose current and temporary folder is a scratch folder, and then
// reads the files it left there.
//
// The file is opened without O_BINARY, i.e. in text mode: every LF the log
// writes reaches the disk as CR LF. A line therefore has to end in exactly
// one CR LF, which also proves that a message's own trailing CR is gone.
#include <fcntl.h>
#include <io.h>
#include <process.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <sstream>

#include "tests/win/expectLines.h"
#include "tests/win/win32uTestUtil.h"

namespace {

using Strings = std::vector<std::string>;

const std::string kBuildTag = "inst-build-" + std::to_string(OV_BUILD_NUMBER);
const std::string kHostCommand = "guest.log.text ==INSTLOG ";

// The system's own texts, independent of the library's lookups.
std::string SystemText(DWORD code)
{
   wchar_t buf[1024];
   DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 1033,
                            buf, 1024, nullptr);
   std::string text = win32utest::Utf8(std::wstring(buf, n));
   return text.substr(0, text.find_last_not_of("\r\n") + 1);
}

std::string ErrnoText(int code) { return win32utest::Utf8(_wcserror(code)); }

// The log tests own the log level value and the host-log key of the
// sandboxed prefix (ctest runs them under one resource lock).
void ClearRegistry()
{
   RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Orvane, Inc.", L"LogLevel");
   RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvane, Inc.\\OvxLog", KEY_WOW64_64KEY, 0);
}

// Exit code of the child, run from a copy in the folder: Wine cannot start a
// program by the \\?\unix path the build tree is seen through.
intptr_t RunChild(const win32utest::ScratchDir &dir, const std::string &ops)
{
   std::wstring host = L"\\\\?\\unix" + win32utest::Wide(OV_LOG_CHILD_EXE), exe = dir.WidePath("child.exe");
   std::replace(host.begin(), host.end(), L'/', L'\\');
   EXPECT_TRUE(CopyFileW(host.c_str(), exe.c_str(), FALSE));
   // The spawn joins the arguments as they are: no word holds a quote or ends in a backslash.
   std::wstring cmd = L'"' + exe + L"\" \"" + dir.wide() + L'"';
   std::istringstream in(ops);
   for (std::string word; std::getline(in, word, ' ');) {
      cmd += word.empty() ? L"" : L" \"" + win32utest::Wide(word) + L'"';
   }
   return _wspawnl(_P_WAIT, exe.c_str(), cmd.c_str(), nullptr);
}

std::string LocalTime()
{
   SYSTEMTIME t;
   GetLocalTime(&t);
   char text[32];
   snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", t.wYear, t.wMonth, t.wDay, t.wHour,
            t.wMinute, t.wSecond, t.wMilliseconds);
   return text;
}

// The lines of a file written between two local times, split at CR LF (any
// other CR or LF is a fault, see the top), as "[tag|]LL message": the tag
// only when it is not the build tag; a host request without its command.
// The zone suffix must be the one OV_LOG_EXPECT_ZONE names (the log_zone_*
// entries set it with a TZ).
Strings Summaries(const std::string &bytes, const std::string &before, const std::string &after)
{
   static const std::regex shape("^([0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}\\.[0-9]{3})(Z|[+-][0-9]{2}:[0-9]{2})"
                                 "\\| ([^|]*)\\| ([A-Z0-9]{2}): (.*)$");
   const char *expectZone = std::getenv("OV_LOG_EXPECT_ZONE");
   const std::string zone = expectZone != nullptr ? expectZone : "";
   Strings out;
   size_t start = 0;
   for (size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2) {
      std::string text = bytes.substr(start, end - start);
      text.erase(0, text.rfind(kHostCommand, 0) == 0 ? kHostCommand.size() : 0);
      std::smatch m;
      if (!std::regex_match(text, m, shape)) {
         out.push_back(text);
         continue;
      }
      EXPECT_TRUE(before <= m.str(1) && m.str(1) <= after && (zone.empty() || m.str(2) == zone)) << text;
      out.push_back((m.str(3) == kBuildTag ? "" : m.str(3) + "|") + m.str(4) + " " + m.str(5));
   }
   return out;
}

struct Case {
   std::string name, ops;     // "{tmp}" in ops and lines stands for the folder's full path
   Strings lines;             // the file's summaries; none: no file at all
   std::string file = "ovinst.log";
   Strings host = {};         // the requests the host took, summarised the same way
};

TEST(Log, Cases)
{
   const std::string every = " L 1 e1 L 2 i1 L 4 e2 L 8 w1 L 0x10 g2 L 0x20 i2 L 0x40 unread L 0x80 p1 C ca ",
                     s = " S - - - - ", begin = "XX Inst_SetupLogging: Begin Logging ",
                     all = "(LogLevel 0x000007ff)", end = "XX Inst_EndLogging: End Logging",
                     cut = "The following message is truncated:", a3000(3000, 'a'), z3000(3000, 'z');
   // What the runtime says when the log opens a folder as its file.
   const int fd = _wopen(L"C:\\windows", O_WRONLY | O_APPEND | O_CREAT, 0644);
   const int err = fd >= 0 ? _close(fd) : errno;
   const std::string failed = "Failed to send above log message to host",
                     intended = "E1 InstCreateLogFile: Unable to log to intended file {tmp}\\",
                     posix = "| posix code " + std::to_string(err) + " (" + ErrnoText(err) + ")";
   std::vector<Case> cases;
   for (const std::string value : {"none", "nokey", "sz"}) {
      cases.push_back({"MaskDefault-" + value, "v " + value + s + every + "X",
                       {"E1 e1", "I1 i1", "E2 e2", "W1 w1", "I2 i2", "I0 ca"}});
   }
   const Case more[] = {
      {"MaskZeroWritesNothing", "v 0 A t" + every + "W 0x400 5 ca X C after", {}},
      {"NothingPassesNoFile", "v none" + s + "L 0x10 g2 L 0x80 p1 E 0x10 5 g X", {}},
      {"MaskAllBitsReadOnce", "v 0x7FF S one - - -" + every + "L 0x300 xx X v 0 A t L 0x10 g2 X",
       {begin + "'one' " + all, "E1 e1", "I1 i1", "E2 e2", "W1 w1", "G2 g2", "I2 i2", "XX unread", "P1 p1",
        "I0 ca", "XX xx", end, "t|" + begin + "'<unspecified>' " + all, "t|G2 g2", "t|" + end}},
      // 0x40 (the unread marker) is read again by the next session; a level
      // that merely includes 0x400 passes any mask.
      {"MaskOfTheUnreadValueThenOneBit", "v 0x40 S one - - - L 1 no C ca X v 8" + s + every + "L 0x401 ca+e1 X",
       {"I0 ca", "W1 w1", "I0 ca", "XX ca+e1"}},
      // An end without a session changes nothing; a line outside a session
      // opens the file with the default names and the build tag; the file
      // reopens in append mode.
      {"NestedSessions",
       "v 0x7FF X C before S outer A - - S inner B - - L 2 between X o ovinst.log 1 L 2 after X"
       " o ovinst.log 0 C outside",
       {"I0 before", "A|" + begin + "'outer' " + all, "A|I1 between", "A|I1 after", "A|" + end, "I0 outside"}},
      // Both files fail: the line is lost and the next one tries again.
      {"FallbackFile", "v none m ovinst.log m ovinstutil.log" + s + "L 1 lost d ovinstutil.log L 1 first L 2 second X",
       {intended + "ovinst.log" + posix, "E1 first", "I1 second"}, "ovinstutil.log"},
      {"FallbackFileByFullPath", "v none m p.log S - - p.log {tmp}\\fb.log L 8 w X",
       {intended + "p.log" + posix, "W1 w"}, "fb.log"},
      // Error suffixes and texts (0xE0001234 has the customer bit: no system
      // text), long and cut lines; the file's name stays after the session.
      {"SuffixesAndLineText",
       "v none S - - own.log - W 1 5 w5 E 1 5 e5 E 1 0 e0 W 1 0 w0 W 1 0x20000001 x N 1 2 n2 R 1 0 r0 N 1 -1 n-1"
       " R 1 -1 r-1 W 0x10 5 f E 0x80 5 f N 0x10 2 f R 0x10 2 f T 5 T 0xE0001234 L 2 " + a3000 +
          " L 2 crlf\r\n L 2 \r\n L 2 many\n\r\r\n L 2 cr\r X L 1 after S - " + std::string(2100, 't') +
          " own.log - L 2 lost X",
       {"E1 w5| winerror code 5 (" + SystemText(5) + ")", "E1 e5| winerror code 5 (" + SystemText(5) + ")",
        "E1 e0| winerror code 0 (code was erased)", "E1 w0| winerror code 0 (" + SystemText(0) + ")",
        "E1 x| winerror code 536870913", "E1 n2| posix code 2 (" + ErrnoText(2) + ")",
        "E1 r0| posix code 0 (code was erased)", "E1 n-1| posix code -1 (" + ErrnoText(-1) + ")",
        "E1 r-1| posix code 4294967295 (" + ErrnoText(-1) + ")", "I0 " + SystemText(5),
        "I0 Unknown error code: 0xe0001234", cut, "I1 aaaa*", "I1 crlf", "I1 ", "I1 many",
        "I1 cr", "E1 after", "Serious format error in logging code"},
       "own.log"},
      // The switch follows the key at every custom-action open, nested or
      // not; a plain session leaves it. The notice goes to the host too, but
      // only the line gets the note when the host is not there.
      {"HostSwitch",
       "v none A t C off h 1 A t C on L 2 " + z3000 + " L 0x10 no X h 0 A t C off X X h 1" + s +
          "C plain X t A t C on L 2 " + a3000 + " X",
       {"t|I0 off", "t|I0 on", failed, cut, "t|I1 zzzz*", failed, "t|I0 off", "I0 plain", "t|I0 on", cut,
        "t|I1 aaaa*"},
       "ovinst.log", {"t|I0 on", cut, "t|I1 aaaa*"}},
   };
   cases.insert(cases.end(), std::begin(more), std::end(more));
   for (const Case &c : cases) {
      SCOPED_TRACE(c.name);
      ClearRegistry();
      win32utest::ScratchDir dir(win32utest::Wide(c.name).c_str());
      auto expand = [&dir](std::string text) {
         const size_t at = text.find("{tmp}");
         return at == std::string::npos ? text : text.replace(at, 5, dir.utf8());
      };
      const std::string before = LocalTime();
      ASSERT_EQ(0, RunChild(dir, expand(c.ops)));
      const std::string after = LocalTime();
      Strings want;
      std::transform(c.lines.begin(), c.lines.end(), std::back_inserter(want), expand);
      testutil::ExpectTranscript(want, Summaries(win32utest::ReadWholeFile(dir.WidePath(c.file)), before, after));
      testutil::ExpectTranscript(c.host, Summaries(win32utest::ReadWholeFile(dir.WidePath("host.txt")), before, after));
      EXPECT_EQ(!want.empty(), win32utest::Exists(dir.WidePath(c.file)));
      EXPECT_TRUE(!want.empty() || !win32utest::Exists(dir.WidePath("ovinstutil.log")));
   }
   ClearRegistry();
}

}  // namespace
