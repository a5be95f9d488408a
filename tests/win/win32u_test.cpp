// The UTF-8 wrappers of the runtime's path functions and of the wide calls
// that give a path or a directory, against the real Wine API: the results,
// errno and last error must be the wide call's own.
#include "lib/misc/win32u.h"
#include "lib/misc/windowsu.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "lib/misc/win32uInt.h"
#include "tests/win/win32uTestUtil.h"

using namespace win32utest;

namespace {

// Each call's outcome: whether it succeeded and the file exists, errno, and
// the last error of a refusal (the runtime's own is its business).
TEST(Win32UFiles, LongPathRuleErrnoPermissionAndTheAttributesLine)
{
   ScratchDir dir;
   auto pathOf = [&](size_t units, const std::wstring &tail) {
      return dir.wide() + L"\\" + std::wstring(units - dir.wide().size() - 1 - tail.size(), 'x') + tail;
   };
   const struct { const char *label; std::wstring path; bool prefixed; std::string outcome; } cases[] = {
      {"260 units, the shortest refused", pathOf(260, L"2"), false, "00 38 206"},
      {"260 units ending in a surrogate pair", pathOf(260, Wide(kSmile)), false, "00 38 206"},
      {"259 units reach the runtime", pathOf(259, L"1"), false, "11 " + Str(kErrnoSentinel) + " 0"},
      {"300 units behind \\\\?\\ are passed on", pathOf(300, Wide(kMixed)), true, "11 " + Str(kErrnoSentinel) + " 0"},
      {"a missing folder: the runtime's errno", dir.WidePath("no" + kMixed + "\\f"), false, "00 2 0"},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      const std::string path = Utf8(c.prefixed ? LongForm(c.path) : c.path);
      auto outcome = [&](bool succeeded) {
         const std::string errors = Str(errno) + " " + Str(errno == ENAMETOOLONG ? GetLastError() : 0);
         const std::string got = Str(succeeded) + Str(Exists(c.path)) + " " + errors;
         SetSentinels();
         return got;
      };
      SetSentinels();
      const int fd = Win32U_Open(path.c_str(), _O_CREAT | _O_WRONLY, _S_IREAD | _S_IWRITE);
      EXPECT_EQ(c.outcome, outcome(fd >= 0 && _close(fd) == 0)) << "Open";
      FILE *f = Win32U_Fopen(path.c_str(), "w");
      EXPECT_EQ(c.outcome, outcome(f != nullptr && fclose(f) == 0)) << "Fopen";
      // Writable: the permission given with _O_CREAT was passed on.
      EXPECT_EQ(c.outcome, outcome(Win32U_Access(path.c_str(), 2) == 0)) << "Access";
   }
   // The wrappers of the other wide calls that take a path differ only in the call (the file and process
   // tests see them); this one logs its failures.
   const std::string missing = dir.Utf8Path("no" + kMixed);
   LogCapture log;
   EXPECT_EQ(int(GetFileAttributesW(dir.wide().c_str())), Win32U_GetFileAttributes(dir.utf8().c_str()));
   SetSentinels();
   EXPECT_EQ(-1, Win32U_GetFileAttributes(missing.c_str()));
   EXPECT_EQ(Str(kErrnoSentinel) + " 2", Str(errno) + " " + Str(GetLastError()));
   EXPECT_EQ(std::vector<std::string>{"E1 Win32U_GetFileAttributes: GetFileAttributesExW(\"" + missing +
                                      "\", ...) failed, error: 2"},
             log.Take());
}

// A stand-in for GetTempPathW on a system with long temporary paths: call n
// returns gReturns[n] (the last repeats) and writes that many units of é when
// they fit; 0 fails. gCapacities: the buffer of each call.
std::vector<DWORD> gReturns, gCapacities;

DWORD ScriptedQuery(utf16_t *buffer, DWORD capacity, void *)
{
   gCapacities.push_back(capacity);
   const DWORD result = gReturns[std::min(gCapacities.size(), gReturns.size()) - 1];
   std::fill(buffer, buffer + (result < capacity ? result : 0), L'\u00E9');
   SetLastError(result == 0 ? ERROR_ACCESS_DENIED : GetLastError());
   return result;
}

TEST(Win32UDirectories, GrowLoopAndTheWideCalls)
{
   const struct { const char *label; std::vector<DWORD> returns, capacities; } cases[] = {
      {"text growing between calls", {301, 401, 400}, {260, 301, 401}},
      {"a report equal to the buffer still enlarges it", {260, 4}, {260, 261}},
      {"second call failing", {301, 0}, {260, 301}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      const bool fails = c.returns.back() == 0;
      const std::string expected = Utf8(std::wstring(c.returns.back(), L'\u00E9'));
      std::string buf(expected.size() + 1, '#');
      gReturns = c.returns;
      gCapacities.clear();
      SetSentinels();
      const DWORD got = win32u::CopyDirectory(ScriptedQuery, nullptr, &buf[0], DWORD(buf.size()));
      EXPECT_EQ(fails ? 0 : expected.size(), got);
      EXPECT_EQ(c.capacities, gCapacities);
      EXPECT_EQ(Str(kErrnoSentinel) + " " + Str(fails ? ERROR_ACCESS_DENIED : kLastErrorSentinel),
                Str(errno) + " " + Str(GetLastError()));
      EXPECT_EQ(fails ? "#" : expected + '\0', buf);
   }
   // The wiring to the wide call (GetTempPath's is every log capture's), with a directory that fits the first
   // buffer; without a buffer, the size needed.
   wchar_t wide[MAX_PATH];
   char buf[3 * MAX_PATH];
   const std::string system = Utf8(std::wstring(wide, GetSystemDirectoryW(wide, MAX_PATH)));
   EXPECT_EQ(system, std::string(buf, Win32U_GetSystemDirectory(buf, sizeof buf)));
   EXPECT_EQ(system.size() + 1, Win32U_GetSystemDirectory(nullptr, 0));
}

TEST(Win32UDeathTest, ProgrammingErrorsEndTheProcess)
{
   const auto panics = testing::ExitedWithCode(-1);   // how Util_Panic ends the process
   char cmd[] = "x", block[] = "A=1\0", buf[MAX_PATH * 3];
   STARTUPINFOA si = {};
   PROCESS_INFORMATION pi;
   EXPECT_EXIT(Win32U_GetDriveType("C:\\\xC3"), panics, "NOT_IMPLEMENTED lib/");
   EXPECT_EXIT(Win32U_CreateProcess(0, cmd, 0, 0, 0, 0, block, 0, &si, &pi), panics, "VERIFY lib/misc/win32u:");
   EXPECT_EXIT(Win32U_FormatMessage(FORMAT_MESSAGE_FROM_SYSTEM, 0, 2, 1031), panics, "VERIFY lib/misc/windowsu:");
   EXPECT_EXIT(Win32U_GetSystemDirectory(buf, Win32U_GetSystemDirectory(nullptr, 0) - 1), panics, "VERIFY lib/");
   si.cb = sizeof(STARTUPINFOEXW) + 1;
   EXPECT_EXIT(Win32U_CreateProcess(0, cmd, 0, 0, 0, 0, 0, 0, &si, &pi), panics, "VERIFY lib/misc/win32u:");
}

}  // namespace
