// Entry point of the custom-action DLL.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
   if (reason == DLL_PROCESS_ATTACH) {
      // The library starts no threads of its own and keeps no per-thread
      // state, so the installer's worker threads need not call in here.
      DisableThreadLibraryCalls(instance);
   }
   return TRUE;
}
