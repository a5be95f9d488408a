// main() of the GoogleTest programs that run under Wine.
//
// While a death test's child runs, GoogleTest points the parent's own stderr
// at a temporary file. Should the parent die in that window (one of the
// death-test machinery's internal checks, or a crash), what it last said
// goes down with that file and the run shows a test that just stops. This
// main keeps a handle on the original stderr and, when the process aborts or
// meets an unhandled exception, names the running test there and copies the
// redirected output back.

#include <windows.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <io.h>

namespace {

int gOriginalStderr = -1;

void Say(const char *text)
{
   if (gOriginalStderr >= 0 && text != nullptr) {
      _write(gOriginalStderr, text, static_cast<unsigned>(std::strlen(text)));
   }
}

// GoogleTest names its redirect files with GetTempFileName and the prefix
// "gtest_redir", which keeps the first three letters: the newest gte*.tmp.
void CopyRedirectedStderr()
{
   char dir[MAX_PATH + 1];
   DWORD len = GetTempPathA(sizeof dir, dir);
   if (len == 0 || len >= MAX_PATH - 12) {
      return;
   }
   char pattern[MAX_PATH + 16];
   std::snprintf(pattern, sizeof pattern, "%sgte*.tmp", dir);
   WIN32_FIND_DATAA found;
   HANDLE find = FindFirstFileA(pattern, &found);
   if (find == INVALID_HANDLE_VALUE) {
      return;
   }
   WIN32_FIND_DATAA newest = found;
   while (FindNextFileA(find, &found)) {
      if (CompareFileTime(&found.ftLastWriteTime, &newest.ftLastWriteTime) > 0) {
         newest = found;
      }
   }
   FindClose(find);
   char path[MAX_PATH + 16];
   std::snprintf(path, sizeof path, "%s%s", dir, newest.cFileName);
   FILE *f = std::fopen(path, "rb");
   if (f == nullptr) {
      return;
   }
   Say("*** redirected stderr of this process:\n");
   char buf[1024];
   size_t n;
   while ((n = std::fread(buf, 1, sizeof buf - 1, f)) > 0) {
      buf[n] = '\0';
      Say(buf);
   }
   std::fclose(f);
   Say("\n");
}

void NameTheRunningTest(const char *how)
{
   char line[512];
   const testing::TestInfo *info =
      testing::UnitTest::GetInstance()->current_test_info();
   std::snprintf(line, sizeof line, "\n*** test program %s during %s.%s\n", how,
                 info != nullptr ? info->test_suite_name() : "(no test)",
                 info != nullptr ? info->name() : "");
   Say(line);
   CopyRedirectedStderr();
}

void OnAbort(int)
{
   NameTheRunningTest("aborted");
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS *e)
{
   char how[64];
   std::snprintf(how, sizeof how, "died of exception 0x%08lx",
                 static_cast<unsigned long>(e->ExceptionRecord->ExceptionCode));
   NameTheRunningTest(how);
   return EXCEPTION_CONTINUE_SEARCH;
}

} // namespace

int main(int argc, char **argv)
{
   gOriginalStderr = _dup(2);
   std::signal(SIGABRT, OnAbort);
   SetUnhandledExceptionFilter(OnUnhandledException);
   testing::InitGoogleTest(&argc, argv);
   return RUN_ALL_TESTS();
}
