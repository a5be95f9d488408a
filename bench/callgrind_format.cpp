// Formats the benchmark's log line N times with one formatter, for
// instruction counts under callgrind (bench/callgrind.sh), which unlike wall
// time do not depend on what else the machine is doing.
//
//   callgrind_format <ours|glibc|stb> <N>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define STB_SPRINTF_IMPLEMENTATION
#define STB_SPRINTF_STATIC
#include <stb/stb_sprintf.h>

#include "lib/string/str.h"

namespace {

const char kFormat[] =
   "%04d-%02d-%02dT%02d:%02d:%02d.%03d%s| %s| %c%c: "
   "Util_DeleteFileW: Deleting %s (attempt %d)";
const char kPath[] = "C:\\Users\\builder\\AppData\\Local\\Temp\\setup.msi";

typedef int (*Formatter)(char *buf, size_t size, const char *fmt, ...);

int Glibc(char *buf, size_t size, const char *fmt, ...) {
   va_list ap;
   va_start(ap, fmt);
   int n = vsnprintf(buf, size, fmt, ap);
   va_end(ap);
   return n;
}

int Stb(char *buf, size_t size, const char *fmt, ...) {
   va_list ap;
   va_start(ap, fmt);
   int n = stbsp_vsnprintf(buf, static_cast<int>(size), fmt, ap);
   va_end(ap);
   return n;
}

// Through a volatile pointer: the call cannot be folded or hoisted.
Formatter volatile gFormatter;
volatile unsigned gSink;

}  // namespace

int main(int argc, char **argv) {
   if (argc != 3) {
      fprintf(stderr, "usage: %s <ours|glibc|stb> <N>\n", argv[0]);
      return 2;
   }
   if (strcmp(argv[1], "ours") == 0) {
      gFormatter = Text_Snprintf;
   } else if (strcmp(argv[1], "glibc") == 0) {
      gFormatter = Glibc;
   } else if (strcmp(argv[1], "stb") == 0) {
      gFormatter = Stb;
   } else {
      fprintf(stderr, "%s: unknown formatter '%s'\n", argv[0], argv[1]);
      return 2;
   }
   long n = strtol(argv[2], nullptr, 10);
   char buf[2048];
   for (long i = 0; i < n; i++) {
      int len = gFormatter(buf, sizeof buf, kFormat, 2026, 12, 5, 16, 38, 7,
                           123, "Z", "setupKit-build-12345", 'I', '0', kPath, 3);
      gSink = gSink + static_cast<unsigned>(len) + static_cast<unsigned char>(buf[len / 2]);
   }
   return 0;
}
