// The UTF-8 wrappers of the wide file, process, module and service
// functions and of those that return text, against the real Wine API: each
// result, errno and last error must be the wide call's own.
#include "lib/misc/win32u.h"
#include "lib/misc/windowsu.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "lib/misc/win32uInt.h"
#include "tests/win/win32uTestUtil.h"

using namespace win32utest;
using namespace std::string_literals;

namespace {

// Started as this same program with kChildVar naming a report file, the
// child writes what it was started with (in UTF-8), before GoogleTest runs.
const wchar_t kChildVar[] = L"OV_WIN32U_TEST_CHILD_REPORT";
const wchar_t kValueVar[] = L"OV_WIN32U_TEST_VALUE";

int RunAsChildIfAsked()
{
   if (EnvVar(kChildVar).empty()) {
      return 0;
   }
   STARTUPINFOW si = {};
   GetStartupInfoW(&si);
   wchar_t cwd[MAX_PATH];
   GetCurrentDirectoryW(MAX_PATH, cwd);
   std::ofstream(EnvVar(kChildVar).c_str(), std::ios::binary)
      << Utf8(GetCommandLineW() + L"\n"s + (si.lpTitle != nullptr ? si.lpTitle : L"") + L"\n" +
              cwd + L"\n" + EnvVar(kValueVar));
   ExitProcess(7);
}

const int gChildHook = RunAsChildIfAsked();

TEST(Win32UFiles, OpenReadsThePermissionWithCreateOnly)
{
   ScratchDir dir;
   for (int mode : {_S_IREAD, _S_IREAD | _S_IWRITE}) {
      const std::string path = dir.Utf8Path(Str(mode) + kMixed);
      int fd = Win32U_Open(path.c_str(), _O_CREAT | _O_WRONLY, mode);
      EXPECT_TRUE(fd >= 0 && _close(fd) == 0);
      EXPECT_EQ(mode & _S_IWRITE ? 0 : -1, Win32U_Access(path.c_str(), 2)) << mode;
   }
   // No path: refused before the runtime's invalid-parameter handler.
   SetSentinels();
   EXPECT_EQ(nullptr, Win32U_Fopen(nullptr, "r"));
   EXPECT_EQ(EINVAL, errno);
}

TEST(Win32UFiles, LongPathRule)
{
   ScratchDir dir;
   auto pathOf = [&](size_t units, const std::wstring &tail) {
      return dir.wide() + L"\\" + std::wstring(units - dir.wide().size() - 1 - tail.size(), 'x') +
             tail;
   };
   const struct { const char *label; std::wstring path; bool prefixed, refused; } cases[] = {
      {"260 units, the shortest refused", pathOf(260, L"2"), false, true},
      {"260 units ending in a surrogate pair", pathOf(260, Wide(kSmile)), false, true},
      {"259 units reach the runtime", pathOf(259, L"1"), false, false},
      {"300 units behind \\\\?\\ are passed on", pathOf(300, Wide(kMixed)), true, false},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      const std::string path = Utf8(c.prefixed ? LongForm(c.path) : c.path);
      auto check = [&](const char *call, bool succeeded) {
         int err = errno;
         DWORD lastError = GetLastError();
         EXPECT_EQ(!c.refused, succeeded) << call;
         EXPECT_EQ(c.refused ? ENAMETOOLONG : kErrnoSentinel, err) << call;
         EXPECT_TRUE(!c.refused || lastError == ERROR_FILENAME_EXCED_RANGE) << call << lastError;
         EXPECT_EQ(!c.refused, Exists(c.path)) << call;
         SetSentinels();
      };
      SetSentinels();
      FILE *f = Win32U_Fopen(path.c_str(), "w");
      check("Win32U_Fopen", f != nullptr && fclose(f) == 0);
      int fd = Win32U_Open(path.c_str(), _O_CREAT | _O_WRONLY, _S_IREAD | _S_IWRITE);
      check("Win32U_Open", fd >= 0 && _close(fd) == 0);
      check("Win32U_Access", Win32U_Access(path.c_str(), 0) == 0);
   }
}

TEST(Win32UArguments, ResultsErrnoAndLastErrorAreTheWideCalls)
{
   ScratchDir dir;
   wchar_t system[MAX_PATH];
   GetSystemDirectoryW(system, MAX_PATH);
   const std::string file = dir.Utf8Path("v" + kMixed + ".dll");
   ASSERT_TRUE(CopyFileW((system + L"\\version.dll"s).c_str(), Wide(file).c_str(), TRUE));
   // An existing folder and file, a missing file and a service's name.
   const std::string paths[] = {dir.utf8() + "\\", file, dir.Utf8Path("no" + kMixed), "RpcSs"};
   std::unique_ptr<SC_HANDLE__, decltype(&CloseServiceHandle)> scm(
      OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT), CloseServiceHandle);
   const DWORD kOwner = OWNER_SECURITY_INFORMATION, kData = LOAD_LIBRARY_AS_DATAFILE,
               kRead = GENERIC_READ;
   ULARGE_INTEGER space;
   DWORD n;
   char cmd[] = "x";
   wchar_t wideCmd[] = L"x";
   STARTUPINFOA si = {};
   STARTUPINFOW wideSi = {};
   PROCESS_INFORMATION pi;
   auto loaded = [](HMODULE m) { return m != nullptr && FreeLibrary(m); };
   auto opened = [](SC_HANDLE h) { return h != nullptr && CloseServiceHandle(h); };
   auto closed = [](FILE *f) { return f != nullptr && fclose(f) == 0; };
   auto closedFd = [](int fd) { return fd >= 0 && _close(fd) == 0; };
#define OV_CASE(name, wrapped, direct)                                                       \
   {#name, [&](const char *p) { return Str(wrapped); }, [&](const wchar_t *p) { return Str(direct); }}
   const struct { const char *label; std::function<std::string(const char *)> wrapped;
                  std::function<std::string(const wchar_t *)> direct; } cases[] = {
      OV_CASE(GetDriveType, Win32U_GetDriveType(p), GetDriveTypeW(p)),
      OV_CASE(GetDiskFreeSpaceEx, Win32U_GetDiskFreeSpaceEx(p, 0, &space, 0),
              GetDiskFreeSpaceExW(p, 0, &space, 0)),
      OV_CASE(GetFileSecurity, Win32U_GetFileSecurity(p, kOwner, 0, 0, &n),
              GetFileSecurityW(p, kOwner, 0, 0, &n)),
      OV_CASE(LoadLibraryEx, loaded(Win32U_LoadLibraryEx(p, 0, kData)),
              loaded(LoadLibraryExW(p, 0, kData))),
      OV_CASE(OpenService, opened(Win32U_OpenService(scm.get(), p, kRead)),
              opened(OpenServiceW(scm.get(), p, kRead))),
      OV_CASE(GetFileAttributes, Win32U_GetFileAttributes(p), int(GetFileAttributesW(p))),
      OV_CASE(CreateProcess, Win32U_CreateProcess(p, cmd, 0, 0, 0, 0, 0, 0, &si, &pi),
              CreateProcessW(p, wideCmd, 0, 0, 0, 0, 0, 0, &wideSi, &pi)),
      OV_CASE(Fopen, closed(Win32U_Fopen(p, "rb")), closed(_wfopen(p, L"rb"))),
      OV_CASE(Access, Win32U_Access(p, 0), _waccess(p, 0)),
      OV_CASE(Open, closedFd(Win32U_Open(p, _O_RDONLY)), closedFd(_wopen(p, _O_RDONLY))),
      // Last, as it moves into the folder.
      OV_CASE(SetCurrentDirectory, Win32U_SetCurrentDirectory(p), SetCurrentDirectoryW(p)),
   };
#undef OV_CASE
   wchar_t saved[MAX_PATH];
   GetCurrentDirectoryW(MAX_PATH, saved);
   LogCapture log;
   for (const auto &c : cases) {
      for (const std::string &path : paths) {
         SCOPED_TRACE(testing::Message() << c.label << "(\"" << path << "\")");
         const std::wstring wide = Wide(path);
         std::string direct = Outcome([&] { return c.direct(wide.c_str()); });
         EXPECT_EQ(direct, Outcome([&] { return c.wrapped(path.c_str()); }));
      }
   }
   SetCurrentDirectoryW(saved);
   // Of all these, only Win32U_GetFileAttributes logs, and only its failures.
   const std::string failed = "E1 Win32U_GetFileAttributes: GetFileAttributesExW(\"";
   EXPECT_EQ((std::vector<std::string>{failed + paths[2] + "\", ...) failed, error: 2",
                                       failed + "RpcSs\", ...) failed, error: 2"}),
             log.Take());
}

TEST(Win32UCreateProcess, ChildGetsTheConvertedArguments)
{
   ScratchDir dir;
   const std::wstring report = dir.WidePath("report.txt");
   std::wstring block = kChildVar + L"="s + report + L'\0' + kValueVar + L"=block" + Wide(kSmile) +
                        L'\0' + L"SystemRoot=" + EnvVar(L"SystemRoot") + L'\0';
   wchar_t self[MAX_PATH];
   const std::string program = Utf8(std::wstring(self, GetModuleFileNameW(0, self, MAX_PATH)));
   const std::string commandLine = "\"" + program + "\" " + kMixed + " \"two " + kE + "\"";
   std::string title = "Title " + kMixed;
   auto run = [&](DWORD flags, wchar_t *environment) {
      STARTUPINFOA si = {};
      si.cb = sizeof si;
      si.lpTitle = &title[0];
      std::string cmd = commandLine;
      PROCESS_INFORMATION pi = {};
      DWORD code = Win32U_CreateProcess(program.c_str(), &cmd[0], 0, 0, 0, flags, environment,
                                        dir.utf8().c_str(), &si, &pi);
      WaitForSingleObject(pi.hProcess, 30000);
      GetExitCodeProcess(pi.hProcess, &code);
      CloseHandle(pi.hThread);
      CloseHandle(pi.hProcess);
      return Str(code) + ": " + ReadWholeFile(report);
   };
   const std::string expected = "7: " + commandLine + "\n" + title + "\n" + dir.utf8() + "\n";
   // The child sees the report variable, so it is removed again on every path.
   SetEnvironmentVariableW(kChildVar, report.c_str());
   SetEnvironmentVariableW(kValueVar, Wide(kMixed).c_str());
   // The wrapper adds CREATE_UNICODE_ENVIRONMENT itself for the inherited one.
   EXPECT_EQ(expected + kMixed, run(0, nullptr));
   SetEnvironmentVariableW(kChildVar, nullptr);
   SetEnvironmentVariableW(kValueVar, nullptr);
   EXPECT_EQ(expected + "block" + kSmile, run(CREATE_UNICODE_ENVIRONMENT, &block[0]));
}

// The wiring to the wide calls; the copy itself is the grow loop's, below.
TEST(Win32UDirectories, MatchTheWideCalls)
{
   for (const bool system : {false, true}) {
      SCOPED_TRACE(system ? "Win32U_GetSystemDirectory" : "Win32U_GetTempPath");
      wchar_t wide[MAX_PATH];
      const std::string expected = Utf8(std::wstring(
         wide, system ? GetSystemDirectoryW(wide, MAX_PATH) : GetTempPathW(MAX_PATH, wide)));
      auto call = [&](char *buf, DWORD size) {
         return system ? Win32U_GetSystemDirectory(buf, size) : Win32U_GetTempPath(size, buf);
      };
      std::string buf(expected.size() + 2, '#');
      EXPECT_EQ(expected.size() + 1, call(&buf[0], 0));   // size 0: only the size is asked for
      EXPECT_EQ(expected.size(), call(&buf[0], DWORD(buf.size())));
      EXPECT_EQ(expected + '\0' + '#', buf);
   }
}

// A stand-in for GetTempPathW on a system with long temporary paths: each
// call returns the next scripted value (the last repeats) and writes that
// many units of é when they fit; 0 fails.
struct Script {
   std::vector<DWORD> returns, capacities;   // capacities: the buffer of each call
};

DWORD ScriptedQuery(utf16_t *buffer, DWORD capacity, void *context)
{
   Script *script = static_cast<Script *>(context);
   script->capacities.push_back(capacity);
   DWORD result = script->returns[std::min(script->capacities.size(), script->returns.size()) - 1];
   if (result == 0) {
      SetLastError(ERROR_ACCESS_DENIED);
   } else if (result < capacity) {
      std::fill(buffer, buffer + result, L'\u00E9');
      buffer[result] = 0;
   }
   return result;
}

TEST(Win32UDirectories, GrowLoopOfCopyDirectory)
{
   const struct { const char *label; std::vector<DWORD> returns, capacities; } cases[] = {
      {"259 units fit the first buffer", {259}, {260}},
      {"260 units do not", {261, 260}, {260, 261}},
      {"text growing between calls", {301, 401, 400}, {260, 301, 401}},
      {"a report equal to the buffer still enlarges it", {260, 4}, {260, 261}},
      {"second call failing", {301, 0}, {260, 301}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      const bool fails = c.returns.back() == 0;
      const std::string expected = Utf8(std::wstring(c.returns.back(), L'\u00E9'));
      std::string buf(expected.size() + 1, '#');
      for (DWORD size : {static_cast<DWORD>(buf.size()), 0ul}) {
         Script script{c.returns, {}};
         SetSentinels();
         DWORD got = win32u::CopyDirectory(ScriptedQuery, &script, size ? &buf[0] : nullptr, size);
         EXPECT_EQ(c.capacities, script.capacities);
         EXPECT_EQ(kErrnoSentinel, errno);
         EXPECT_EQ(fails ? ERROR_ACCESS_DENIED : kLastErrorSentinel, GetLastError());
         // With a buffer the length, without one the size needed; 0 on failure.
         EXPECT_EQ(fails ? 0 : expected.size() + (size ? 0 : 1), got);
         EXPECT_EQ(fails ? "#" : expected + '\0', buf);
      }
   }
}

TEST(Win32UFormatMessage, MatchesTheWideCall)
{
   const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
   // The three accepted languages, and a message that does not exist.
   const DWORD cases[][2] = {{2, 0}, {2, 1024}, {2, 1033}, {0x2BADF00D, 0}};   // id, language
   for (const auto &c : cases) {
      SCOPED_TRACE(testing::Message() << "message " << c[0] << ", language " << c[1]);
      std::wstring wide(32768, L'\0');
      SetSentinels();
      wide.resize(FormatMessageW(flags, nullptr, c[0], c[1], &wide[0], 32768, nullptr));
      const DWORD error = GetLastError();
      SetSentinels();
      char *message = Win32U_FormatMessage(flags, nullptr, c[0], c[1]);
      EXPECT_EQ(error, GetLastError());
      EXPECT_EQ(kErrnoSentinel, errno);
      EXPECT_EQ(c[0] == 2 ? Utf8(wide) : "(null)", message != nullptr ? message : "(null)");
      free(message);
   }
}

TEST(Win32UDeathTest, ProgrammingErrorsEndTheProcess)
{
   STARTUPINFOEXA small = {}, big = {};
   big.StartupInfo.cb = sizeof(STARTUPINFOEXW) + 1;
   char cmd[] = "x", block[] = "A=1\0";
   PROCESS_INFORMATION pi;
   UINT systemLen = Win32U_GetSystemDirectory(nullptr, 0) - 1;
   std::string buf(systemLen + 1, '#');
   const struct { const char *label, *message; std::function<void()> call; } cases[] = {
      {"invalid UTF-8 argument", "NOT_IMPLEMENTED lib/", [] { Win32U_GetDriveType("C:\\\xC3"); }},
      {"narrow environment block", "VERIFY lib/misc/win32u:",
       [&] { Win32U_CreateProcess(0, cmd, 0, 0, 0, 0, block, 0, &small.StartupInfo, &pi); }},
      {"start-up record larger than STARTUPINFOEXW", "VERIFY lib/misc/win32u:",
       [&] { Win32U_CreateProcess(0, cmd, 0, 0, 0, 0, 0, 0, &big.StartupInfo, &pi); }},
      {"directory one byte longer than the buffer", "VERIFY lib/misc/windowsu:",
       [&] { Win32U_GetSystemDirectory(&buf[0], systemLen); }},
      {"FormatMessage allocating its buffer", "VERIFY lib/misc/windowsu:",
       [] { Win32U_FormatMessage(FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, 2, 0); }},
      {"FormatMessage from a string", "VERIFY lib/misc/windowsu:",
       [] { Win32U_FormatMessage(FORMAT_MESSAGE_FROM_STRING, "x", 0, 0); }},
      {"FormatMessage in German", "VERIFY lib/misc/windowsu:",
       [] { Win32U_FormatMessage(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 2, 1031); }},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      EXPECT_EXIT(c.call(), testing::ExitedWithCode(kPanicExitCode), c.message);
   }
}

}  // namespace
