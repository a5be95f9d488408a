// Loads the DLL given on the command line (its DllMain accepts
// DLL_PROCESS_ATTACH) and frees it again. Exit code 0 on success, 1 on a
// failure. Under Wine the test wrapper passes host paths as \\?\unix\...
// paths, since the test prefix has no drive letter for the host file system.
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t **argv)
{
   HMODULE module = argc == 2 ? LoadLibraryW(argv[1]) : nullptr;
   if (module == nullptr || !FreeLibrary(module)) {
      std::fprintf(stderr, "FAIL: the DLL did not load and unload: error %lu\n", GetLastError());
      return 1;
   }
   std::printf("PASS: loaded and freed\n");
   return 0;
}
