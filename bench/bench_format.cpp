// One typical log line (timestamp, build tag, level, then the message)
// formatted in one call by the library's engine, by glibc and by
// stb_sprintf, so that the engine's cost can be read against two known
// formatters.
#include <benchmark/benchmark.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define STB_SPRINTF_IMPLEMENTATION
// Internal linkage, so the copy that Debian's libstb may also bring in at
// link time cannot clash with this one.
#define STB_SPRINTF_STATIC
#include <stb/stb_sprintf.h>

#include "lib/string/str.h"

namespace {

// Prefix and message as the logger joins them: one format, one call.
const char kFormat[] =
   "%04d-%02d-%02dT%02d:%02d:%02d.%03d%s| %s| %c%c: "
   "Util_DeleteFileW: Deleting %s (attempt %d)";
const char kPath[] = "C:\\Users\\builder\\AppData\\Local\\Temp\\setup.msi";

typedef int (*Formatter)(char *buf, size_t size, const char *fmt, ...);

// Text_Snprintf already has this shape; the other two get the same one
// variadic layer over their va_list entry points.
const Formatter Ours = Text_Snprintf;

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

inline int FormatLine(Formatter f, char *buf, size_t size) {
   return f(buf, size, kFormat, 2026, 12, 5, 16, 38, 7, 123, "Z",
            "setupKit-build-12345", 'I', '0', kPath, 3);
}

void BM_Format(benchmark::State &state, Formatter f) {
   char buf[2048];
   for (auto _ : state) {
      int n = FormatLine(f, buf, sizeof buf);
      benchmark::DoNotOptimize(n);
      benchmark::DoNotOptimize(buf);
      benchmark::ClobberMemory();
   }
}

// A benchmark of formatters that disagree would compare different work.
struct SameTextCheck {
   SameTextCheck() {
      char ours[2048], glibc[2048], stb[2048];
      int a = FormatLine(Ours, ours, sizeof ours);
      int b = FormatLine(Glibc, glibc, sizeof glibc);
      int c = FormatLine(Stb, stb, sizeof stb);
      if (a != b || b != c || strcmp(ours, glibc) != 0 || strcmp(glibc, stb) != 0) {
         fprintf(stderr,
                 "bench_format: the formatters disagree\n  ours  %d \"%s\"\n"
                 "  glibc %d \"%s\"\n  stb   %d \"%s\"\n",
                 a, ours, b, glibc, c, stb);
         abort();
      }
   }
} sameTextCheck;

BENCHMARK_CAPTURE(BM_Format, ours_Text_Snprintf, Ours);
BENCHMARK_CAPTURE(BM_Format, glibc_vsnprintf, Glibc);
BENCHMARK_CAPTURE(BM_Format, stb_vsnprintf, Stb);

}  // namespace

BENCHMARK_MAIN();
