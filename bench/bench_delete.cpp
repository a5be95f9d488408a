// Util_SafeDeleteDirectoryW on a folder from the command line: the tree
// delete benchmark (bench/bench_delete.sh, under Wine), and the check of a
// tree with a Unix symbolic link, which a Windows program cannot make.
// Usage: bench_delete PATH FLAGS [rd | file]
//   Prints "result N" (1: the function reported the tree gone) and the
//   elapsed milliseconds as "ms N". With "rd", the tree is removed with
//   "cmd /c rd /s /q" instead, for comparison. With "file", PATH is a file
//   deleted by Util_DeleteFileW with no retry and the restart fallback (the
//   restart test: tests/win/files/delete_test.sh).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/file.h"
#include "common/log.h"

int wmain(int argc, wchar_t **argv)
{
   if (argc < 3) {
      return 2;
   }
   const std::wstring path = argv[1], mode = argc > 3 ? argv[3] : L"";
   // Lines go to bench_delete.log in the temporary folder.
   Inst_SetupLogging("bench_delete", "bench-delete", "bench_delete.log", nullptr);
   LARGE_INTEGER frequency, start, end;
   QueryPerformanceFrequency(&frequency);
   QueryPerformanceCounter(&start);
   int result = 0;
   if (mode == L"rd") {
      // _wsystem runs "cmd.exe /c" with the command.
      _wsystem((L"rd /s /q \"" + path + L"\"").c_str());
      result = GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
   } else {
      result = mode == L"file" ? Util_DeleteFileW(path, 0, TRUE)
                               : Util_SafeDeleteDirectoryW(path.c_str(), wcstoul(argv[2], nullptr, 0));
   }
   QueryPerformanceCounter(&end);
   Inst_EndLogging();
   printf("result %d\nms %lld\n", result, (end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart);
   return 0;
}
