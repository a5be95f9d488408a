// Holds a file open without delete sharing until it is terminated, so that
// the file tests see a file in use by another process (error 32).
// Usage: file_holder PATH
#include <windows.h>

int wmain(int argc, wchar_t **argv)
{
   if (argc != 2) {
      return 2;
   }
   HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
   if (file == INVALID_HANDLE_VALUE) {
      return 1;
   }
   Sleep(INFINITE);
   return 0;
}
