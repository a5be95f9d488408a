// The OS identification against the Windows Wine reports, read on its own
// through ntdll's RtlGetVersion; expected results by release, written out.
#include "common/osInfo.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/win/win32uTestUtil.h"

TEST(OsInfo, MatchesTheVersionNtdllReports)
{
   using RtlGetVersionFn = LONG(WINAPI *)(OSVERSIONINFOEXW *);
   auto rtl = reinterpret_cast<RtlGetVersionFn>(
      reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
   ASSERT_NE(nullptr, rtl);
   OSVERSIONINFOEXW v = {};
   v.dwOSVersionInfoSize = sizeof v;
   ASSERT_EQ(0, rtl(&v));
   ASSERT_EQ(VER_NT_WORKSTATION, v.wProductType) << "the rows below are client releases";
   // The client releases Wine can report: release token, the type's line and
   // the version string's line.
   const std::string type = "I1 Util_GetOSType: NT OS Type is unknown: Major: ",
                     unknown = "I1 Util_GetSystemVersionString: Unknown OS: ";
   const struct { DWORD major, minor; OSType type; const char *release; std::vector<std::string> lines; } rows[] = {
      {5, 1, OS_WINXP, ":XP:WINDOWS XP PROFESSIONAL:", {}}, {6, 0, OS_VISTA, ":VISTA:WINDOWS VISTA:", {}},
      {6, 1, OS_WIN7, ":WIN7:WINDOWS 7:", {}}, {6, 2, OS_WIN7, ":", {unknown + "6.2 Type: 1"}},
      {6, 3, OS_WIN7, ":", {unknown + "6.3 Type: 1"}},
      {10, 0, OS_UNKNOWN, ":", {type + "10 Minor: 0", unknown + "10.0 Type: 1"}}};
   win32utest::LogCapture log;
   const OSType got = Util_GetOSType();
   const std::string text = Util_GetSystemVersionString(),
                     tail = "SPMAJ=" + std::to_string(v.wServicePackMajor) + ":SPMIN=" +
                            std::to_string(v.wServicePackMinor) + ":BUILD=" +
                            std::to_string(v.dwBuildNumber) + ":";
   int matched = 0;
   for (const auto &r : rows) {
      if (r.major == v.dwMajorVersion && r.minor == v.dwMinorVersion) {
         matched++;
         EXPECT_EQ(r.type, got);
         EXPECT_EQ(r.lines, log.Take());
         EXPECT_EQ(0u, text.find(r.release)) << text;
         EXPECT_EQ(r.major >= 6, text.find(":BIT=64:") != std::string::npos) << text;
      }
   }
   EXPECT_EQ(1, matched) << v.dwMajorVersion << "." << v.dwMinorVersion;
   ASSERT_GE(text.size(), tail.size());
   EXPECT_EQ(tail, text.substr(text.size() - tail.size()));
   EXPECT_FALSE(Util_IsWow64()) << "a 64-bit process";
}
