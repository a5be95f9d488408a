// Loads a DLL by the path given on the command line, checks that it loaded
// (its DllMain accepted DLL_PROCESS_ATTACH) and that it unloads again.
// Exit code 0 on success, 1 on a failure, 2 on a usage error.
//
// Under Wine the test wrapper passes host paths as \\?\unix\... paths, since
// the test prefix has no drive letter for the host file system.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t **argv)
{
   if (argc != 2) {
      std::fwprintf(stderr, L"usage: dll_load_test PATH_TO_DLL\n");
      return 2;
   }
   const wchar_t *path = argv[1];

   HMODULE module = LoadLibraryW(path);
   if (module == nullptr) {
      std::fwprintf(stderr, L"FAIL: LoadLibraryW(%ls): error %lu\n", path,
                    static_cast<unsigned long>(GetLastError()));
      return 1;
   }

   wchar_t loaded[MAX_PATH * 2] = {};
   DWORD len = GetModuleFileNameW(module, loaded,
                                  static_cast<DWORD>(sizeof loaded / sizeof loaded[0]));
   std::wprintf(L"loaded %ls at %p\n", len ? loaded : path,
                static_cast<void *>(module));

   if (!FreeLibrary(module)) {
      std::fwprintf(stderr, L"FAIL: FreeLibrary: error %lu\n",
                    static_cast<unsigned long>(GetLastError()));
      return 1;
   }
   std::wprintf(L"PASS: loaded and freed\n");
   return 0;
}
