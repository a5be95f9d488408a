// Process-ending reports for programming errors.
#include "lib/misc/panic.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "lib/string/str.h"

const char *Util_PanicModuleName(const char *file)
{
   // __FILE__ may be absolute; the module is named from the first folder of
   // the source tree on, without the extension.
   static const char *const kRoots[] = {"lib/", "common/", "customActions/",
                                        "hostChannel/"};
   static char name[256];
   // Windows compilers may spell the path with backslashes.
   char path[512];
   Text_Snprintf(path, sizeof path, "%s", file);
   for (char *c = path; *c != '\0'; c++) {
      if (*c == '\\') {
         *c = '/';
      }
   }
   file = path;
   const char *start = file;
   for (const char *root : kRoots) {
      for (const char *p = file; (p = strstr(p, root)) != nullptr; p++) {
         bool atFolder = p == file || p[-1] == '/';
         if (atFolder && p > start) {
            start = p;
         }
      }
   }
   Text_Snprintf(name, sizeof name, "%s", start);
   char *dot = strrchr(name, '.');
   char *slash = strrchr(name, '/');
   if (dot != nullptr && (slash == nullptr || dot > slash)) {
      *dot = '\0';
   }
   return name;
}

void Util_Panic(const char *format, ...)
{
   char message[1024];
   va_list ap;
   va_start(ap, format);
   Text_Vsnprintf(message, sizeof message, format, ap);
   va_end(ap);

   fputs(message, stderr);
   fflush(stderr);
#ifdef _WIN32
   OutputDebugStringA(message);
   // Not ExitProcess: the state that led here is not to be trusted with
   // DLL detach routines.
   TerminateProcess(GetCurrentProcess(), static_cast<UINT>(-1));
#endif
   _exit(-1);
}
