// The process library against real processes: copies of ov_sleeper under
// the names a case needs, started by the test, searched, read, terminated
// and launched by the library; the log lines each call leaves.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "common/process.h"
#include "tests/process/sleeperProcess.h"
#include "tests/win/importSlot.h"
#include "tests/win/win32uTestUtil.h"

using namespace win32utest;

namespace {

using Strings = std::vector<std::string>;

// Lines ending in '*' match any line that begins with the text before it
// (error texts, library handles).
void ExpectLines(const Strings &want, Strings got)
{
   for (size_t i = 0; i < want.size() && i < got.size(); i++) {
      const std::string &w = want[i];
      if (!w.empty() && w.back() == '*' && got[i].compare(0, w.size() - 1, w, 0, w.size() - 1) == 0) {
         got[i] = w;
      }
   }
   EXPECT_EQ(want, got);
}

// A sleeper copied into the scratch folder under `exeName` and started.
class Sleeper : public processtest::Sleeper {
public:
   Sleeper(const ScratchDir &dir, const std::string &exeName, const std::string &tail = "")
      : processtest::Sleeper(Wide(OV_SLEEPER_EXE), dir.WidePath(exeName), Wide(tail))
   {
      EXPECT_TRUE(Started()) << exeName;
   }
};

std::string Pid(DWORD pid)
{
   return std::to_string(pid);
}

TEST(ProcessSearch, ContainmentAndPrefixRules)
{
   ScratchDir dir;
   Sleeper notepad(dir, "notepad.exe"), keynote(dir, "keynote.exe");
   const struct {
      const char *name;
      DWORD inMemory;   // the only process containment may find, 0: none, 1: either
      std::vector<DWORD> prefixed;
   } cases[] = {
      {"KEYNO", keynote.Pid(), {keynote.Pid()}},
      {"Notepad", notepad.Pid(), {notepad.Pid()}},
      {"note", 1, {notepad.Pid()}},
      {"ote.e", 1, {}},
      {"keynote.exe", keynote.Pid(), {keynote.Pid()}},
      {"notepad.exe.none", 0, {}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.name);
      DWORD pid = 12345;
      EXPECT_EQ(c.inMemory != 0, Util_IsInMemory(c.name, &pid));
      if (c.inMemory == 1) {
         EXPECT_TRUE(pid == notepad.Pid() || pid == keynote.Pid()) << pid;
      } else {
         EXPECT_EQ(c.inMemory, pid);
      }
      std::list<DWORD> found = {99};
      EXPECT_TRUE(Util_GetProcessIdList(c.name, found));
      std::vector<DWORD> mine;   // the first entry stays; others of the prefix can run
      for (DWORD id : found) {
         if (id == notepad.Pid() || id == keynote.Pid()) {
            mine.push_back(id);
         }
      }
      EXPECT_EQ(99u, found.front()) << "appended, not replaced";
      EXPECT_EQ(c.prefixed, mine);
   }
   // The lines of one search: the library loaded and freed around it.
   LogCapture log;
   EXPECT_TRUE(Util_IsInMemory("KEYNOTE", nullptr));
   EXPECT_FALSE(Util_IsInMemory("no-such-program", nullptr));
   ExpectLines({"I1 Util_LoadLibrary: Loaded library Kernel32.dll(*",
                "I1 Util_IsInMemory: Process found keynote.exe with ID " + Pid(keynote.Pid()),
                "I1 Util_FreeLibrary: Freeing library: *", "I1 Util_LoadLibrary: Loaded library Kernel32.dll(*",
                "I1 Util_FreeLibrary: Freeing library: *"},
               log.Take());
}

TEST(ProcessSearch, TerminateEndsOnlyTheFirstMatch)
{
   ScratchDir dir;
   Sleeper first(dir, "ovterm.exe");
   Sleeper second(dir, "ovterm2.exe");
   LogCapture log;
   EXPECT_TRUE(Util_AppTerminate("OVTERM"));
   EXPECT_FALSE(Util_AppTerminate("ovterm.exe;ovterm2.exe"));
   EXPECT_TRUE(first.EndsWithin(5000));
   EXPECT_TRUE(second.Running());
   ExpectLines({"I1 Util_LoadLibrary: *",
                "I1 Util_IsInMemory: Process found ovterm.exe with ID " + Pid(first.Pid()),
                "I1 Util_FreeLibrary: *",
                "I1 Util_AppTerminate: OVTERM with pid " + Pid(first.Pid()) + " found in memory!",
                "I1 Util_AppTerminate: Process terminated: OVTERM", "I1 Util_LoadLibrary: *",
                "I1 Util_FreeLibrary: *", "I1 Util_AppTerminate: ovterm.exe;ovterm2.exe *NOT* found in memory."},
               log.Take());
}

// Stand-ins for this program's own import slots, which the library linked
// into it calls.
BOOL WINAPI RefusedRead(HANDLE, LPCVOID, LPVOID, SIZE_T, SIZE_T *)
{
   SetLastError(ERROR_PARTIAL_COPY);
   return FALSE;
}

HMODULE WINAPI NoModule(LPCWSTR)
{
   SetLastError(ERROR_MOD_NOT_FOUND);
   return nullptr;
}

TEST(ProcessSearch, CommandLineOfAnotherProcess)
{
   ScratchDir dir;
   Sleeper vm(dir, "orvane-ovx.exe", " --marker Orvane-OVX \"C:\\vm dir\\Machine.ovx\"");
   std::string line = "stale";
   EXPECT_TRUE(Util_GetProcessCommandLine(vm.Pid(), line));
   // In the ANSI code page, as the system converts it.
   const std::wstring wide = vm.CommandLine();
   std::string ansi(wide.size() * 2, '\0');
   ansi.resize(WideCharToMultiByte(CP_ACP, 0, wide.c_str(), int(wide.size()), &ansi[0], int(ansi.size()),
                                   nullptr, nullptr));
   EXPECT_EQ(ansi, line);

   LogCapture log;
   {
      testutil::ImportSlot read(GetModuleHandleW(nullptr), "kernel32.dll", "ReadProcessMemory");
      ASSERT_TRUE(read.Valid());
      read.Point(&RefusedRead);
      EXPECT_FALSE(Util_GetProcessCommandLine(vm.Pid(), line));
   }
   EXPECT_FALSE(Util_GetProcessCommandLine(0xFFFFFFF0, line));
   {
      // Without ntdll's function, and without kernel32 for the id list.
      testutil::ImportSlot module(GetModuleHandleW(nullptr), "kernel32.dll", "GetModuleHandleW");
      ASSERT_TRUE(module.Valid());
      module.Point(&NoModule);
      EXPECT_FALSE(Util_GetProcessCommandLine(vm.Pid(), line));
      std::list<DWORD> pids;
      EXPECT_FALSE(Util_GetProcessIdList("orvane-ovx", pids));
   }
   EXPECT_EQ(ansi, line) << "failures leave the text alone";
   ExpectLines({"I0 ReadProcessMemory failed with error 0x12b",
                "I0 OpenProcess of procId failed with error 0x57",
                "I0 GetProcAddress of NtQueryInformationProcess failed",
                "E1 Util_GetProcessIdList: GetModuleHandle for Kernel32 failed| winerror code 126*"},
               log.Take());
}

TEST(ProcessLaunch, ResultsExitCodesAndLines)
{
   ScratchDir dir;
   const std::string sleeper = dir.Utf8Path("sleeper.exe");
   ASSERT_TRUE(CopyFileW(processtest::BuiltFile(Wide(OV_SLEEPER_EXE)).c_str(), Wide(sleeper).c_str(), TRUE));
   const std::string notProgram = dir.Utf8Path("text.exe");
   std::ofstream(Wide(notProgram).c_str()) << "not a program";
   const std::string quoted = "\"" + sleeper + "\"";
   const struct {
      const char *label;
      std::string executable, arguments;
      DWORD waitMs;
      int hidden;
      uint32_t result;
      DWORD exitCode;   // what exitCode holds after the call (sentinel 77: untouched)
      Strings lines;
   } cases[] = {
      {"plain path", sleeper, "0 7", INFINITE, 0, UTIL_LAUNCH_ENDED, 7,
       {"I1 Util_Launch: Attempting to launch \"" + quoted + " 0 7\"", "I1 Util_Launch: Child exited with code 7"}},
      {"doubly quoted, hidden", "\"" + quoted + "\"", "0 3", 5000, 1, UTIL_LAUNCH_ENDED, 3,
       {"I1 Util_Launch: Attempting to launch \"" + quoted + " 0 3\"", "I1 Util_Launch: Child exited with code 3"}},
      {"command line only", "", quoted + " 0 4", INFINITE, 0, UTIL_LAUNCH_ENDED, 4,
       {"I1 Util_Launch: Attempting to launch \"" + quoted + " 0 4\"", "I1 Util_Launch: Child exited with code 4"}},
      {"still running", quoted, "60000 0", 0, 0, UTIL_LAUNCH_TIMED_OUT, 77,
       {"I1 Util_Launch: Attempting to launch \"" + quoted + " 60000 0\"",
        "E1 Util_Launch: No exit code returned from async/timeout process"}},
      {"missing", dir.Utf8Path("none.exe"), "", INFINITE, 0, UTIL_LAUNCH_NOT_STARTED, 77,
       {"E1 Util_Launch: File \"" + dir.Utf8Path("none.exe") + "\" doesn't exist"}},
      {"not a program", notProgram, "", INFINITE, 0, UTIL_LAUNCH_NOT_STARTED, 77,
       {"I1 Util_Launch: Attempting to launch \"\"" + notProgram + "\" \"", "E1 Util_Launch: Create Process failed|*"}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      DWORD code = 77;
      PROCESS_INFORMATION pi = {};
      LogCapture log;
      EXPECT_EQ(c.result, Util_Launch(c.executable, c.arguments, c.waitMs, c.hidden, &code, &pi));
      EXPECT_EQ(c.exitCode, code);
      ExpectLines(c.lines, log.Take());
      if (c.result != UTIL_LAUNCH_NOT_STARTED) {
         // The handles are the caller's: the process is still there to end.
         EXPECT_TRUE(TerminateProcess(pi.hProcess, 0) || c.result == UTIL_LAUNCH_ENDED);
         EXPECT_TRUE(CloseHandle(pi.hProcess));
         EXPECT_TRUE(CloseHandle(pi.hThread));
      }
   }

   // The short form: true once started; an exit code only after a wait.
   LogCapture log;
   DWORD code = 77;
   EXPECT_TRUE(Util_Launch(quoted, "0 5", 1, 0, &code));
   EXPECT_EQ(5u, code);
   code = 77;
   EXPECT_TRUE(Util_Launch(quoted, "1500 6", 0, 1, &code));
   EXPECT_EQ(77u, code);
   EXPECT_TRUE(Util_Launch(quoted, "0 8", 1, 0, nullptr));
   EXPECT_FALSE(Util_Launch(dir.Utf8Path("none.exe"), "", 1, 0, &code));
   ExpectLines({"I1 Util_Launch: Attempting to launch \"" + quoted + " 0 5\"", "I1 Util_Launch: Child exited with code 5",
                "I1 Util_Launch: Process returned 5",
                "I1 Util_Launch: Attempting to launch \"" + quoted + " 1500 6\"",
                "E1 Util_Launch: No exit code returned from async/timeout process",
                "I1 Util_Launch: Attempting to launch \"" + quoted + " 0 8\"",
                "E1 Util_Launch: File \"" + dir.Utf8Path("none.exe") + "\" doesn't exist"},
               log.Take());
   Sleep(2000);   // the unwaited program has ended before its folder goes
}

TEST(ProcessLibraries, LoadAndFreeLines)
{
   LogCapture log;
   HMODULE module = Util_LoadLibrary("version.dll", 1);
   ASSERT_NE(nullptr, module);
   EXPECT_TRUE(Util_FreeLibrary(module));
   EXPECT_EQ(nullptr, Util_LoadLibrary("no-such-library.dll", 0));
   EXPECT_FALSE(Util_FreeLibrary(nullptr));
   const unsigned handle = static_cast<unsigned>(reinterpret_cast<uintptr_t>(module));
   ExpectLines({"I1 Util_LoadLibrary: Loaded library version.dll(" + std::to_string(handle) + ")",
                "I1 Util_FreeLibrary: Freeing library: " + std::to_string(static_cast<int>(handle)),
                "E1 Util_LoadLibrary: Failed to load library no-such-library.dll| winerror code 126*",
                "W1 Util_FreeLibrary: Cannot free NULL library"},
               log.Take());
}

}  // namespace
