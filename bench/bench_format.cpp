// One typical log line (timestamp, build tag, level, then the message)
// formatted in one call by the library's engine, by glibc and by
// stb_sprintf, so that the engine's cost can be read against two known
// formatters.
#include <benchmark/benchmark.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/logLineFormatters.h"

namespace {

using benchline::FormatLine;
using benchline::Formatter;
using benchline::Glibc;
using benchline::Stb;
const Formatter Ours = Text_Snprintf;

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
