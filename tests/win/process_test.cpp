// What the custom actions' tests cannot reach of the process and service
// libraries: the launch results and exit codes of both forms of
// Util_Launch, against copies of ov_sleeper; the service functions'
// answers to bad arguments, to names the SCM cannot open, and to an install
// without a description.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "common/process.h"
#include "common/service.h"
#include "tests/service/serviceTestUtil.h"
#include "tests/win/expectLines.h"
#include "tests/win/win32uTestUtil.h"

using namespace servicetest;
using namespace win32utest;
using testutil::ExpectTranscript;

TEST(ProcessLaunch, ResultsQuotingAndExitCodes)
{
   ScratchDir dir;
   const std::string exe = dir.Utf8Path("sleeper.exe"), text = dir.Utf8Path("text.exe"), none = dir.Utf8Path("none.exe");
   ASSERT_TRUE(CopyFileW(BuiltFile(OV_SLEEPER_EXE).c_str(), Wide(exe).c_str(), TRUE));
   std::ofstream(Wide(text).c_str()) << "not a program";
   const std::string q = "\"" + exe + "\"", launch = "I1 Util_Launch: Attempting to launch \"",
                     exited = "I1 Util_Launch: Child exited with code ", found = "I2 Util_FileExists: Found \"" + exe + "\"",
                     running = "E1 Util_Launch: No exit code returned from async/timeout process";
   const Lines missing = {"I2 Util_FileExists: Did not find file/directory: \"" + none + "\"| posix code 2*",
                            "E1 Util_Launch: File \"" + none + "\" doesn't exist"};
   const struct { bool full; std::string executable, arguments; DWORD wait; uint32_t result; DWORD exitCode; Lines lines; } cases[] = {
      {true, exe, "0 7", INFINITE, UTIL_LAUNCH_ENDED, 7, {found, launch + q + " 0 7\"", exited + "7"}},
      {true, "", q + " 0 4", 5000, UTIL_LAUNCH_ENDED, 4, {launch + q + " 0 4\"", exited + "4"}},
      {true, q, "60000 0", 0, UTIL_LAUNCH_TIMED_OUT, 77, {found, launch + q + " 60000 0\"", running}},
      {true, none, "", INFINITE, UTIL_LAUNCH_NOT_STARTED, 77, missing},
      {true, text, "", INFINITE, UTIL_LAUNCH_NOT_STARTED, 77,
       {"I2 Util_FileExists: Found \"" + text + "\"", launch + "\"" + text + "\" \"", "E1 Util_Launch: Create Process failed|*"}},
      // The short form: true once started; an exit code only after a wait.
      {false, q, "0 5", 1, 1, 5, {found, launch + q + " 0 5\"", exited + "5", "I1 Util_Launch: Process returned 5"}},
      {false, q, "1000 6", 0, 1, 77, {found, launch + q + " 1000 6\"", running}},
      {false, none, "", 1, 0, 77, missing},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.executable + " " + c.arguments);
      DWORD code = 77;
      PROCESS_INFORMATION pi = {};
      LogCapture log;
      EXPECT_EQ(c.result, c.full ? Util_Launch(c.executable, c.arguments, c.wait, 0, &code, &pi)
                                 : uint32_t(Util_Launch(c.executable, c.arguments, int(c.wait), 1, &code)));
      EXPECT_EQ(c.exitCode, code);
      ExpectTranscript(c.lines, log.Take());
      // The handles are the caller's: a running program can still be ended.
      if (c.full && c.result != UTIL_LAUNCH_NOT_STARTED) {
         EXPECT_TRUE(TerminateProcess(pi.hProcess, 0) || c.result == UTIL_LAUNCH_ENDED);
         EXPECT_TRUE(CloseHandle(pi.hProcess) && CloseHandle(pi.hThread));
      }
   }
   Sleep(1500);   // the unwaited program ends before its folder goes
}

TEST(ServiceControl, FailuresAndTheirLines)
{
   ServiceGuard plain{Name("Plain")};
   const std::string missing = Name("Missing"), open = "E1 Inst_StartService: Service could not be opened: ",
                     start = "I1 Inst_StartService: Attempting to start service: ",
                     reduced = "I1 Inst_StartService: Attempting to open service using reduced permissions";
   const struct { int op; std::string name; Lines lines; } cases[] = {
      {0, missing, {start + missing, open + "ERROR_SERVICE_DOES_NOT_EXIST", reduced, open + "ERROR_SERVICE_DOES_NOT_EXIST"}},
      {0, "a\\b", {start + "a\\b", open + "ERROR_INVALID_NAME", reduced, open + "ERROR_INVALID_NAME"}},
      {1, "", {"E1 Inst_StartService: invalid parameter", "E1 Inst_StopService: invalid parameter",
               "E1 Inst_UninstallService: invalid parameter: 0x00000000 0x00000000",
               "E1 Inst_UninstallService: invalid parameter: *", "E1 Inst_InstallServiceW: bad parameters: *"}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.name);
      LogCapture log;
      EXPECT_FALSE(c.op == 0 ? Inst_StartService(c.name.c_str())
                             : Inst_StartService(nullptr) || Inst_StopService(nullptr, TRUE) ||
                                  Inst_UninstallService(nullptr, nullptr) || Inst_UninstallService("x", nullptr) ||
                                  Inst_InstallServiceW(L"n", L"d", nullptr, 1, 3, L"p", nullptr, nullptr, 1, FALSE,
                                                       nullptr, FALSE));
      ExpectTranscript(c.lines, log.Take());
   }
   LogCapture log;
   EXPECT_TRUE(Inst_InstallServiceW(Wide(plain.name).c_str(), L"Plain", nullptr, SERVICE_WIN32_OWN_PROCESS, 3,
                                    L"C:\\x.exe", nullptr, L"", 1, FALSE, nullptr, FALSE));
   ExpectTranscript({"I1 Inst_InstallServiceW: Not stopping any pre-existing instances of service by request",
                     "I1 Inst_InstallServiceW: installing service: " + plain.name,
                     "I2 ModifyDependencyString: Dependencies wide char ",
                     "I1 Inst_InstallServiceW: Service created: " + plain.name,
                     "I1 Inst_InstallServiceW: Unspecified Service description not saved"},
                    log.Take());
   EXPECT_EQ(DWORD(SERVICE_STOPPED), State(plain.name));
}
