// Util_SafeDeleteDirectoryW on a folder from the command line: the tree
// delete benchmark (bench/bench_delete.sh, under Wine), and the check of a
// tree with a Unix symbolic link, which a Windows program cannot make.
// Usage: bench_delete PATH FLAGS [rd | rem | file]
//   Prints "result N" (1: the function reported the tree gone). With "rd",
//   the tree is removed with "cmd /c rd /s /q" instead, for comparison; with
//   "rem", only "cmd /c rem" runs (the cost of starting cmd). Either way the
//   elapsed milliseconds follow as "ms N". With "file", PATH is a file
//   deleted by Util_DeleteFileW with no retry and the restart fallback (the
//   restart test: tests/win/files/restart_test.sh).
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "common/file.h"
#include "common/log.h"

int wmain(int argc, wchar_t **argv)
{
   if (argc < 3) {
      return 2;
   }
   const bool rd = argc > 3 && wcscmp(argv[3], L"rd") == 0;
   const bool rem = argc > 3 && wcscmp(argv[3], L"rem") == 0;
   const bool file = argc > 3 && wcscmp(argv[3], L"file") == 0;
   // Lines go to bench_delete.log in the temporary folder.
   Inst_SetupLogging("bench_delete", "bench-delete", "bench_delete.log", nullptr);
   LARGE_INTEGER frequency, start, end;
   QueryPerformanceFrequency(&frequency);
   QueryPerformanceCounter(&start);
   int result = 0;
   if (rd || rem) {
      std::wstring command = rem ? std::wstring(L"cmd.exe /c rem")
                                 : L"cmd.exe /c rd /s /q \"" + std::wstring(argv[1]) + L"\"";
      STARTUPINFOW si = {};
      si.cb = sizeof si;
      PROCESS_INFORMATION pi = {};
      if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
         WaitForSingleObject(pi.hProcess, INFINITE);
         CloseHandle(pi.hThread);
         CloseHandle(pi.hProcess);
         result = GetFileAttributesW(argv[1]) == INVALID_FILE_ATTRIBUTES;
      }
   } else if (file) {
      result = Util_DeleteFileW(argv[1], 0, TRUE);
   } else {
      result = Util_SafeDeleteDirectoryW(argv[1], wcstoul(argv[2], nullptr, 0));
   }
   QueryPerformanceCounter(&end);
   Inst_EndLogging();
   printf("result %d\nms %lld\n", result, (end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart);
   return 0;
}
