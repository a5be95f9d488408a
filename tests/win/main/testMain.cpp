// main() of the GoogleTest programs that run under Wine. While a death
// test's child runs, GoogleTest points the parent's stderr at a temporary
// file; should the parent die then, the run would show a test that just
// stops. This main keeps the original stderr and names the running test
// there when the process aborts or meets an unhandled exception.
#include <windows.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <io.h>

namespace {

int gOriginalStderr = -1;

void NameTheRunningTest(const char *how)
{
   const testing::TestInfo *info = testing::UnitTest::GetInstance()->current_test_info();
   char line[512];
   int n = std::snprintf(line, sizeof line, "\n*** test program %s during %s.%s\n", how,
                         info != nullptr ? info->test_suite_name() : "(no test)",
                         info != nullptr ? info->name() : "");
   if (gOriginalStderr >= 0 && n > 0) {
      _write(gOriginalStderr, line, static_cast<unsigned>(n < int(sizeof line) ? n : sizeof line - 1));
   }
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS *e)
{
   char how[64];
   std::snprintf(how, sizeof how, "died of exception 0x%08lx",
                 static_cast<unsigned long>(e->ExceptionRecord->ExceptionCode));
   NameTheRunningTest(how);
   return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

int main(int argc, char **argv)
{
   gOriginalStderr = _dup(2);
   std::signal(SIGABRT, [](int) { NameTheRunningTest("aborted"); });
   SetUnhandledExceptionFilter(OnUnhandledException);
   testing::InitGoogleTest(&argc, argv);
   return RUN_ALL_TESTS();
}
