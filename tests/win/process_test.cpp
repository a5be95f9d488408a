// What the custom actions' tests cannot reach of the process library: the
// prefix rule against the containment rule, and the launch results, quoting
// and exit codes, against copies of ov_sleeper.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <list>
#include <string>
#include <vector>

#include "common/process.h"
#include "tests/process/sleeperProcess.h"
#include "tests/win/expectLines.h"
#include "tests/win/win32uTestUtil.h"

using namespace win32utest;
using Strings = std::vector<std::string>;

namespace {

TEST(ProcessSearch, ContainmentAndPrefixRules)
{
   ScratchDir dir;
   processtest::Sleeper notepad(Wide(OV_SLEEPER_EXE), dir.WidePath("notepad.exe")),
      keynote(Wide(OV_SLEEPER_EXE), dir.WidePath("keynote.exe"));
   const DWORD n = notepad.Pid(), k = keynote.Pid();
   const struct { const char *name; std::vector<DWORD> contained, prefixed; } cases[] = {
      {"Notepad", {n}, {n}}, {"note", {n, k}, {n}}, {"ote.e", {n, k}, {}}, {"KEYNO", {k}, {k}}, {"notepad.exe.x", {}, {}}};
   for (const auto &c : cases) {
      SCOPED_TRACE(c.name);
      DWORD pid = 12345;
      EXPECT_EQ(!c.contained.empty(), Util_IsInMemory(c.name, &pid));
      EXPECT_TRUE(c.contained.empty() ? pid == 0 : (pid == c.contained.front() || pid == c.contained.back())) << pid;
      std::list<DWORD> found = {99};   // appended to, others of the prefix may run
      EXPECT_TRUE(Util_GetProcessIdList(c.name, found));
      std::vector<DWORD> mine, want = {99};
      want.insert(want.end(), c.prefixed.begin(), c.prefixed.end());
      for (DWORD id : found) {
         if (id == n || id == k || id == 99) {
            mine.push_back(id);
         }
      }
      EXPECT_EQ(want, mine);
   }
}

TEST(ProcessLaunch, ResultsQuotingAndExitCodes)
{
   ScratchDir dir;
   const std::string exe = dir.Utf8Path("sleeper.exe"), text = dir.Utf8Path("text.exe"), none = dir.Utf8Path("none.exe");
   ASSERT_TRUE(CopyFileW(processtest::BuiltFile(Wide(OV_SLEEPER_EXE)).c_str(), Wide(exe).c_str(), TRUE));
   std::ofstream(Wide(text).c_str()) << "not a program";
   const std::string q = "\"" + exe + "\"", launch = "I1 Util_Launch: Attempting to launch \"";
   const std::string exited = "I1 Util_Launch: Child exited with code ", running = "E1 Util_Launch: No exit code returned from async/timeout process";
   const std::string found = "I2 Util_FileExists: Found \"" + exe + "\"",
                     missing = "I2 Util_FileExists: Did not find file/directory: \"" + none + "\"| posix code 2*";
   const struct { std::string executable, arguments; DWORD waitMs; int hidden; uint32_t result; DWORD exitCode; Strings lines; } cases[] = {
      {exe, "0 7", INFINITE, 0, UTIL_LAUNCH_ENDED, 7, {found, launch + q + " 0 7\"", exited + "7"}},
      {"\"" + q + "\"", "0 3", 5000, 1, UTIL_LAUNCH_ENDED, 3, {found, launch + q + " 0 3\"", exited + "3"}},
      {"", q + " 0 4", INFINITE, 0, UTIL_LAUNCH_ENDED, 4, {launch + q + " 0 4\"", exited + "4"}},
      {q, "60000 0", 0, 0, UTIL_LAUNCH_TIMED_OUT, 77, {found, launch + q + " 60000 0\"", running}},
      {none, "", INFINITE, 0, UTIL_LAUNCH_NOT_STARTED, 77, {missing, "E1 Util_Launch: File \"" + none + "\" doesn't exist"}},
      {text, "", INFINITE, 0, UTIL_LAUNCH_NOT_STARTED, 77,
       {"I2 Util_FileExists: Found \"" + text + "\"", launch + "\"" + text + "\" \"", "E1 Util_Launch: Create Process failed|*"}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.executable + " " + c.arguments);
      DWORD code = 77;
      PROCESS_INFORMATION pi = {};
      LogCapture log;
      EXPECT_EQ(c.result, Util_Launch(c.executable, c.arguments, c.waitMs, c.hidden, &code, &pi));
      EXPECT_EQ(c.exitCode, code);
      testutil::ExpectTranscript(c.lines, log.Take());
      // The handles are the caller's: a running program can still be ended.
      if (c.result != UTIL_LAUNCH_NOT_STARTED) {
         EXPECT_TRUE(TerminateProcess(pi.hProcess, 0) || c.result == UTIL_LAUNCH_ENDED);
         EXPECT_TRUE(CloseHandle(pi.hProcess) && CloseHandle(pi.hThread));
      }
   }
   // The short form: true once started; an exit code only after a wait.
   LogCapture log;
   DWORD code = 77;
   EXPECT_TRUE(Util_Launch(q, "0 5", 1, 0, &code));
   EXPECT_EQ(5u, code);
   code = 77;
   EXPECT_TRUE(Util_Launch(q, "1000 6", 0, 1, &code));
   EXPECT_EQ(77u, code);
   EXPECT_FALSE(Util_Launch(none, "", 1, 0, &code));
   testutil::ExpectTranscript({found, launch + q + " 0 5\"", exited + "5", "I1 Util_Launch: Process returned 5", found,
                               launch + q + " 1000 6\"", running, missing,
                               "E1 Util_Launch: File \"" + none + "\" doesn't exist"},
                              log.Take());
   Sleep(1500);   // the unwaited program ends before its folder goes
}

}  // namespace
