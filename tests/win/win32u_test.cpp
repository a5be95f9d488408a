// The UTF-8 wrappers of the wide file, process, module, service and
// message-box functions and of those that return text, against the real
// Wine API: each result, errno and last error is the wide call's own.
#include "lib/misc/win32u.h"
#include "lib/misc/windowsu.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/log.h"
#include "lib/misc/win32uInt.h"
#include "tests/win/win32uTestUtil.h"

using namespace win32utest;

namespace {

// Started as this same program with kChildVar naming a report file, the
// child writes what it was started with, before GoogleTest runs, and exits.
const wchar_t kChildVar[] = L"OV_WIN32U_TEST_CHILD_REPORT";
const wchar_t kValueVar[] = L"OV_WIN32U_TEST_VALUE";
const DWORD kChildExitCode = 7;

int RunAsChildIfAsked()
{
   std::wstring reportPath = EnvVar(kChildVar);
   if (reportPath.empty()) {
      return 0;
   }
   STARTUPINFOW si = {};
   GetStartupInfoW(&si);
   wchar_t cwd[MAX_PATH];
   GetCurrentDirectoryW(MAX_PATH, cwd);
   std::wstring report = std::wstring(GetCommandLineW()) + L"\n" +
                         (si.lpTitle != nullptr ? si.lpTitle : L"") + L"\n" + cwd + L"\n" +
                         EnvVar(kValueVar);
   FILE *file = _wfopen(reportPath.c_str(), L"wb");
   if (file != nullptr) {
      fwrite(report.data(), sizeof(wchar_t), report.size(), file);
      fclose(file);
   }
   ExitProcess(kChildExitCode);
}

const int gChildHook = RunAsChildIfAsked();

std::wstring ThisProgram()
{
   wchar_t buf[MAX_PATH];
   return std::wstring(buf, GetModuleFileNameW(nullptr, buf, MAX_PATH));
}

// What a call gave, with the errno and last error it left.
std::string Outcome(const std::function<std::string()> &call)
{
   SetSentinels();
   std::string value = call();
   int err = errno;
   DWORD lastError = GetLastError();
   return value + ", errno " + std::to_string(err) + ", last error " + std::to_string(lastError);
}

std::string Str(long long value)
{
   return std::to_string(value);
}

// --- Win32U_Fopen, Win32U_Access, Win32U_Open ----------------------------------

TEST(Win32UFiles, NonAsciiNamesAndTheCreatePermission)
{
   ScratchDir dir;
   const std::string readOnly = dir.Utf8Path(std::string("r") + kMixed);
   const std::string writable = dir.Utf8Path(std::string("w") + kMixed);
   // The permission argument is read with O_CREAT.
   int fd = Win32U_Open(readOnly.c_str(), _O_CREAT | _O_WRONLY | _O_BINARY, _S_IREAD);
   ASSERT_GE(fd, 0);
   EXPECT_EQ(static_cast<int>(kMixed.size()), _write(fd, kMixed.data(), kMixed.size()));
   _close(fd);
   fd = Win32U_Open(writable.c_str(), _O_CREAT | _O_WRONLY, _S_IREAD | _S_IWRITE);
   ASSERT_GE(fd, 0);
   _close(fd);
   EXPECT_EQ(kMixed, ReadWholeFile(Wide(readOnly)));   // created under the UTF-16 name
   EXPECT_EQ(-1, Win32U_Access(readOnly.c_str(), 2));
   EXPECT_EQ(0, Win32U_Access(writable.c_str(), 2));
   FILE *in = Win32U_Fopen(readOnly.c_str(), "rb");
   ASSERT_NE(nullptr, in);
   char buf[16] = {};
   EXPECT_EQ(kMixed.size(), fread(buf, 1, sizeof buf, in));
   fclose(in);
   EXPECT_EQ(kMixed, buf);
   // No path: refused without reaching the runtime's parameter handler.
   SetSentinels();
   EXPECT_EQ(nullptr, Win32U_Fopen(nullptr, "r"));
   EXPECT_EQ(EINVAL, errno);
}

TEST(Win32UFiles, LongPathRule)
{
   ScratchDir dir;
   const std::wstring base = dir.wide() + L"\\";
   auto pathOf = [&](size_t units, wchar_t fill, const std::wstring &tail) {
      return base + std::wstring(units - base.size() - tail.size(), fill) + tail;
   };
   const struct {
      const char *label;
      std::wstring path;
      bool prefixed, refused;
   } cases[] = {
      {"300 units", pathOf(300, L'n', L""), false, true},
      {"260 units, the shortest refused", pathOf(260, L'm', L""), false, true},
      {"260 units ending in a surrogate pair", pathOf(260, L'j', Wide(kSmile)), false, true},
      {"259 units reach the runtime", pathOf(259, L'k', L""), false, false},
      {"300 units behind \\\\?\\ are passed on", pathOf(300, L'p', Wide(kMixed)), true, false},
   };
   const struct {
      const char *label;
      std::function<bool(const char *)> succeeds;
   } calls[] = {
      {"Win32U_Fopen", [](const char *p) {
          FILE *f = Win32U_Fopen(p, "w");
          return f != nullptr && fclose(f) == 0;
       }},
      {"Win32U_Open", [](const char *p) {
          int fd = Win32U_Open(p, _O_CREAT | _O_WRONLY, _S_IREAD | _S_IWRITE);
          return fd >= 0 && _close(fd) == 0;
       }},
      {"Win32U_Access", [](const char *p) { return Win32U_Access(p, 0) == 0; }},
   };
   for (const auto &c : cases) {
      std::string path = Utf8(c.prefixed ? LongForm(c.path) : c.path);
      for (const auto &call : calls) {
         SCOPED_TRACE(testing::Message() << c.label << ", " << call.label);
         SetSentinels();
         EXPECT_EQ(!c.refused, call.succeeds(path.c_str()));
         EXPECT_EQ(c.refused ? ENAMETOOLONG : kErrnoSentinel, errno);
         if (c.refused) {
            EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), GetLastError());
         }
         EXPECT_EQ(!c.refused, Exists(c.path));
      }
   }
}

// --- every path-taking wrapper against its wide call ------------------------------

TEST(Win32UArguments, ResultsErrnoAndLastErrorAreTheWideCalls)
{
   ScratchDir dir;
   wchar_t buf[MAX_PATH];
   std::wstring dll(buf, GetSystemDirectoryW(buf, MAX_PATH));
   dll += L"\\version.dll";
   const std::string file = dir.Utf8Path(std::string("v") + kMixed + ".dll");
   ASSERT_TRUE(CopyFileW(dll.c_str(), Wide(file).c_str(), TRUE));
   SetFileAttributesW(Wide(file).c_str(), FILE_ATTRIBUTE_READONLY);
   // An existing folder and file, a missing file and a service's name.
   const std::string paths[] = {dir.utf8() + "\\", file, dir.Utf8Path(std::string("no") + kE),
                                "RpcSs"};
   std::unique_ptr<SC_HANDLE__, decltype(&CloseServiceHandle)> manager(
      OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT), CloseServiceHandle);
   ASSERT_NE(nullptr, manager);
   const SC_HANDLE scm = manager.get();
   const DWORD kOwner = OWNER_SECURITY_INFORMATION, kData = LOAD_LIBRARY_AS_DATAFILE,
               kQuery = SERVICE_QUERY_STATUS;
   ULARGE_INTEGER avail, total, none;
   DWORD n = 0;
   WIN32_FILE_ATTRIBUTE_DATA data;
   char cmd[] = "x";
   wchar_t wideCmd[] = L"x";
   STARTUPINFOA si = {};
   si.cb = sizeof si;
   STARTUPINFOW wideSi = {};
   wideSi.cb = sizeof wideSi;
   PROCESS_INFORMATION pi;
   auto loaded = [](HMODULE m) { return m != nullptr && FreeLibrary(m) ? "loaded" : "none"; };
   auto opened = [](SC_HANDLE h) { return h && CloseServiceHandle(h) ? "opened" : "none"; };
   auto closed = [](FILE *f) { return f != nullptr && fclose(f) == 0 ? "opened" : "none"; };
   auto closedFd = [](int fd) { return fd >= 0 && _close(fd) == 0 ? "opened" : "none"; };
   const struct {
      const char *label;
      std::function<std::string(const char *)> wrapped;
      std::function<std::string(const wchar_t *)> direct;
   } cases[] = {
      {"GetDriveType", [](const char *p) { return Str(Win32U_GetDriveType(p)); },
       [](const wchar_t *p) { return Str(GetDriveTypeW(p)); }},
      {"GetDiskFreeSpaceEx", [&](const char *p) {
          total.QuadPart = 0;
          return Str(Win32U_GetDiskFreeSpaceEx(p, &avail, &total, &none)) + Str(total.QuadPart);
       },
       [&](const wchar_t *p) {
          total.QuadPart = 0;
          return Str(GetDiskFreeSpaceExW(p, &avail, &total, &none)) + Str(total.QuadPart);
       }},
      {"GetFileSecurity", [&](const char *p) {
          n = 0;
          return Str(Win32U_GetFileSecurity(p, kOwner, nullptr, 0, &n)) + Str(n);
       },
       [&](const wchar_t *p) {
          n = 0;
          return Str(GetFileSecurityW(p, kOwner, nullptr, 0, &n)) + Str(n);
       }},
      {"LoadLibraryEx",
       [&](const char *p) { return loaded(Win32U_LoadLibraryEx(p, nullptr, kData)); },
       [&](const wchar_t *p) { return loaded(LoadLibraryExW(p, nullptr, kData)); }},
      {"OpenService", [&](const char *p) { return opened(Win32U_OpenService(scm, p, kQuery)); },
       [&](const wchar_t *p) { return opened(OpenServiceW(scm, p, kQuery)); }},
      {"GetFileAttributes", [](const char *p) { return Str(Win32U_GetFileAttributes(p)); },
       [&](const wchar_t *p) {
          BOOL ok = GetFileAttributesExW(p, GetFileExInfoStandard, &data);
          return Str(ok ? static_cast<int>(data.dwFileAttributes) : -1);
       }},
      {"CreateProcess", [&](const char *p) {
          return Str(Win32U_CreateProcess(p, cmd, nullptr, nullptr, 0, 0, nullptr, nullptr, &si,
                                          &pi));
       },
       [&](const wchar_t *p) {
          return Str(CreateProcessW(p, wideCmd, nullptr, nullptr, 0, 0, nullptr, nullptr, &wideSi,
                                    &pi));
       }},
      {"Fopen", [&](const char *p) { return closed(Win32U_Fopen(p, "rb")); },
       [&](const wchar_t *p) { return closed(_wfopen(p, L"rb")); }},
      {"Access", [](const char *p) { return Str(Win32U_Access(p, 0)); },
       [](const wchar_t *p) { return Str(_waccess(p, 0)); }},
      {"Open", [&](const char *p) { return closedFd(Win32U_Open(p, _O_RDONLY)); },
       [&](const wchar_t *p) { return closedFd(_wopen(p, _O_RDONLY)); }},
      // Last, as it changes into the folder.
      {"SetCurrentDirectory", [](const char *p) { return Str(Win32U_SetCurrentDirectory(p)); },
       [](const wchar_t *p) { return Str(SetCurrentDirectoryW(p)); }},
   };
   wchar_t saved[MAX_PATH];
   GetCurrentDirectoryW(MAX_PATH, saved);
   for (const auto &c : cases) {
      for (const std::string &path : paths) {
         SCOPED_TRACE(testing::Message() << c.label << "(\"" << path << "\")");
         std::wstring wide = Wide(path);
         std::string direct = Outcome([&] { return c.direct(wide.c_str()); });
         EXPECT_EQ(direct, Outcome([&] { return c.wrapped(path.c_str()); }));
      }
   }
   SetCurrentDirectoryW(saved);
}

void LogOneMissingFile(const std::wstring &logFolder, const std::string &missing)
{
   // A death-test child, so its log state is fresh.
   ScopedEnv tmp(L"TMP", logFolder);
   Inst_SetupLogging("win32u", nullptr, "win32u.log", nullptr);
   SetSentinels();
   int result = Win32U_GetFileAttributes(missing.c_str());
   bool kept = GetLastError() == ERROR_FILE_NOT_FOUND && errno == kErrnoSentinel;
   Inst_EndLogging();
   exit(result == -1 && kept ? 0 : 1);
}

TEST(Win32UGetFileAttributesDeathTest, MissingFileLogsOneLine)
{
   ScratchDir dir;
   std::string missing = dir.Utf8Path(std::string("none") + kEuro);
   EXPECT_EXIT(LogOneMissingFile(dir.wide(), missing), testing::ExitedWithCode(0), "");
   std::string log = ReadWholeFile(dir.WidePath("win32u.log"));
   EXPECT_EQ(1u, CountOf(log, "Win32U_GetFileAttributes: GetFileAttributesExW(\"" + missing +
                                 "\", ...) failed, error: 2\r\n"))
      << log;
   EXPECT_EQ(1u, CountOf(log, "\n")) << log;
}

// --- Win32U_CreateProcess ----------------------------------------------------

TEST(Win32UCreateProcess, ChildGetsTheConvertedArguments)
{
   ScratchDir dir;
   std::wstring report = dir.WidePath("report.txt");
   std::wstring block = std::wstring(kChildVar) + L"=" + report + L'\0' + kValueVar + L"=block" +
                        Wide(kSmile) + L'\0' + L"SystemRoot=" + EnvVar(L"SystemRoot") + L'\0';
   const struct {
      const char *label;
      DWORD flags;
      wchar_t *environment;
      std::wstring value;
   } cases[] = {
      // The wrapper adds CREATE_UNICODE_ENVIRONMENT by itself.
      {"inherited environment", 0, nullptr, Wide(kMixed)},
      {"wide block passed unconverted", CREATE_UNICODE_ENVIRONMENT, &block[0],
       L"block" + Wide(kSmile)},
   };
   ScopedEnv child(kChildVar, report);
   ScopedEnv value(kValueVar, Wide(kMixed));
   std::string commandLine = "\"" + Utf8(ThisProgram()) + "\" " + kMixed + " \"two " + kE + "\"";
   std::string title = std::string("Title ") + kSmile + kEuro;
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      STARTUPINFOA si = {};
      si.cb = sizeof si;
      si.lpTitle = &title[0];
      std::vector<char> cmd(commandLine.c_str(), commandLine.c_str() + commandLine.size() + 1);
      PROCESS_INFORMATION pi = {};
      ASSERT_TRUE(Win32U_CreateProcess(Utf8(ThisProgram()).c_str(), cmd.data(), nullptr, nullptr,
                                       FALSE, c.flags, c.environment, dir.utf8().c_str(), &si,
                                       &pi));
      WaitForSingleObject(pi.hProcess, 30000);
      DWORD code = 0;
      GetExitCodeProcess(pi.hProcess, &code);
      CloseHandle(pi.hThread);
      CloseHandle(pi.hProcess);
      EXPECT_EQ(kChildExitCode, code);
      std::string got = ReadWholeFile(report);
      EXPECT_EQ(Wide(commandLine) + L"\n" + Wide(title) + L"\n" + dir.wide() + L"\n" + c.value,
                std::wstring(reinterpret_cast<const wchar_t *>(got.data()), got.size() / 2));
   }
}

// --- Win32U_GetTempPath, Win32U_GetSystemDirectory -------------------------------

TEST(Win32UDirectories, MatchTheWideCalls)
{
   ScratchDir dir;
   // 258 units, the longest TMP Wine takes, mostly multi-byte: over 400 UTF-8 bytes.
   std::wstring longTmp = dir.wide() + L"\\";
   while (longTmp.size() + 4 <= 258) {
      longTmp += Wide(kMixed);
   }
   longTmp.resize(258, L'x');
   ASSERT_TRUE(CreateDirectoryW(LongForm(longTmp).c_str(), nullptr));
   const struct {
      const char *label;
      bool system;
      std::wstring tmp;
   } cases[] = {
      {"Win32U_GetTempPath", false, EnvVar(L"TMP")},
      {"Win32U_GetTempPath, long non-ASCII TMP", false, longTmp},
      {"Win32U_GetSystemDirectory", true, EnvVar(L"TMP")},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      ScopedEnv tmp(L"TMP", c.tmp);
      wchar_t wide[MAX_PATH];
      DWORD n = c.system ? GetSystemDirectoryW(wide, MAX_PATH) : GetTempPathW(MAX_PATH, wide);
      const std::string expected = Utf8(std::wstring(wide, n));
      auto call = [&](char *buf, DWORD size) {
         return c.system ? Win32U_GetSystemDirectory(buf, size) : Win32U_GetTempPath(size, buf);
      };
      const DWORD len = static_cast<DWORD>(expected.size());
      std::vector<char> buf(len + 2, '#');
      SetSentinels();
      EXPECT_EQ(len + 1, call(nullptr, 0));
      EXPECT_EQ(len + 1, call(buf.data(), 0));   // size 0: only the size is asked for
      EXPECT_EQ('#', buf[0]);
      EXPECT_EQ(len, call(buf.data(), len + 1));
      EXPECT_EQ(expected + '\0' + '#', std::string(buf.data(), len + 2));
      EXPECT_EQ(kErrnoSentinel, errno);
      EXPECT_EQ(kLastErrorSentinel, GetLastError());
   }
}

// A stand-in for GetTempPathW on a system with long temporary paths: each
// call returns the next scripted value, with that many units of text when
// they fit, and fails on 0.
std::wstring NonAsciiPath(size_t units)
{
   std::wstring path = L"C:\\";
   while (path.size() < units) {
      path += path.size() + 2 <= units ? Wide(kSmile) : Wide(kE);
   }
   return path;
}

struct Script {
   std::vector<DWORD> returns;
   std::vector<DWORD> capacities;   // the buffer of each call
};

DWORD ScriptedQuery(utf16_t *buffer, DWORD capacity, void *context)
{
   Script *script = static_cast<Script *>(context);
   script->capacities.push_back(capacity);
   DWORD result = script->returns[std::min(script->capacities.size(), script->returns.size()) - 1];
   if (result == 0) {
      SetLastError(ERROR_ACCESS_DENIED);
   } else if (result < capacity) {
      memcpy(buffer, NonAsciiPath(result).c_str(), (result + 1) * sizeof(wchar_t));
   }
   return result;
}

TEST(Win32UDirectories, GrowLoop)
{
   const struct {
      const char *label;
      std::vector<DWORD> returns, capacities;
   } cases[] = {
      {"300 units: grows to the reported size", {301, 300}, {260, 301}},
      {"259 units fit the first buffer", {259}, {260}},
      {"260 units do not", {261, 260}, {260, 261}},
      {"text growing between calls", {301, 401, 400}, {260, 301, 401}},
      {"a report equal to the buffer still enlarges it", {260, 4}, {260, 261}},
      {"first call failing", {0}, {260}},
      {"second call failing", {301, 0}, {260, 301}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      const bool fails = c.returns.back() == 0;
      const std::string expected = fails ? "" : Utf8(NonAsciiPath(c.returns.back()));
      std::vector<char> buf(expected.size() + 1, '#');
      for (bool withBuffer : {true, false}) {
         Script script{c.returns, {}};
         SetSentinels();
         DWORD size = withBuffer ? static_cast<DWORD>(buf.size()) : 0;
         DWORD got = win32u::CopyDirectory(ScriptedQuery, &script, size ? &buf[0] : nullptr, size);
         EXPECT_EQ(c.capacities, script.capacities);
         EXPECT_EQ(kErrnoSentinel, errno);
         EXPECT_EQ(fails ? ERROR_ACCESS_DENIED : kLastErrorSentinel, GetLastError());
         // With a buffer the length, without one the size needed; 0 on failure.
         EXPECT_EQ(fails ? 0 : expected.size() + (withBuffer ? 0 : 1), got);
         EXPECT_EQ(fails ? "#" : expected + '\0', std::string(buf.data(), buf.size()));
      }
   }
}

// --- Win32U_FormatMessage ----------------------------------------------------

TEST(Win32UFormatMessage, MatchesTheWideCall)
{
   const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
   const struct {
      const char *label;
      DWORD id, language;
   } cases[] = {{"language 0", 2, 0}, {"language 1024", 2, 1024}, {"language 1033", 2, 1033},
                {"an unknown message", 0x2BADF00D, 0}};
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      std::vector<wchar_t> wide(32768);
      DWORD n = 0;
      char *message = nullptr;
      std::string direct = Outcome([&] {
         n = FormatMessageW(flags, nullptr, c.id, c.language, wide.data(), 32768, nullptr);
         return Str(n != 0);
      });
      EXPECT_EQ(direct, Outcome([&] {
                   message = Win32U_FormatMessage(flags, nullptr, c.id, c.language);
                   return Str(message != nullptr);
                }));
      EXPECT_EQ(c.id == 2, n != 0);
      EXPECT_EQ(Utf8(std::wstring(wide.data(), n)), message != nullptr ? message : "");
      free(message);
   }
}

// --- process-ending checks ----------------------------------------------------

TEST(Win32UDeathTest, ProgrammingErrorsEndTheProcess)
{
   STARTUPINFOA si = {};
   si.cb = sizeof si;
   STARTUPINFOEXA big = {};
   big.StartupInfo.cb = sizeof(STARTUPINFOEXW) + 1;
   char cmd[] = "x";
   char block[] = "A=1\0";
   PROCESS_INFORMATION pi;
   UINT systemLen = Win32U_GetSystemDirectory(nullptr, 0) - 1;
   std::vector<char> buf(systemLen + 1);
   const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
   const struct {
      const char *label;
      std::function<void()> call;
      const char *message;
   } cases[] = {
      {"invalid UTF-8", [] { Win32U_GetDriveType("C:\\\xC3"); }, "NOT_IMPLEMENTED lib/"},
      {"narrow environment block", [&] {
          Win32U_CreateProcess(nullptr, cmd, nullptr, nullptr, 0, 0, block, nullptr, &si, &pi);
       },
       "VERIFY lib/misc/win32u:"},
      {"start-up record larger than STARTUPINFOEXW", [&] {
          Win32U_CreateProcess(nullptr, cmd, nullptr, nullptr, 0, 0, nullptr, nullptr,
                               &big.StartupInfo, &pi);
       },
       "VERIFY lib/misc/win32u:"},
      {"directory one byte longer than the buffer",
       [&] { Win32U_GetSystemDirectory(buf.data(), systemLen); }, "VERIFY lib/misc/windowsu:"},
      {"FormatMessage allocating its buffer",
       [&] { Win32U_FormatMessage(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, 2, 0); },
       "VERIFY lib/misc/windowsu:"},
      {"FormatMessage in German", [&] { Win32U_FormatMessage(flags, nullptr, 2, 1031); },
       "VERIFY lib/misc/windowsu:"},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      EXPECT_EXIT(c.call(), testing::ExitedWithCode(kPanicExitCode), c.message);
   }
}

}  // namespace
