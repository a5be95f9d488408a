// One typical log line (timestamp, build tag, level, then the message)
// formatted in one call by the library's engine, by glibc and by
// stb_sprintf, so that the engine's cost can be read against two known
// formatters.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/logLineFormatters.h"

namespace {

using namespace benchline;

void BM_Format(benchmark::State &state, Formatter f) {
   char buf[2048];
   for (auto _ : state) {
      int n = FormatLine(f, buf, sizeof buf);
      benchmark::DoNotOptimize(n);
      benchmark::DoNotOptimize(buf);
      benchmark::ClobberMemory();
   }
}

// Registered only once all three agree: formatters that disagree would
// compare different work.
const bool kRegistered = [] {
   char ours[2048], other[2048];
   const int n = FormatLine(kFormatters[0].f, ours, sizeof ours);
   for (const auto &fm : kFormatters) {
      if (FormatLine(fm.f, other, sizeof other) != n || strcmp(ours, other) != 0) {
         fprintf(stderr, "bench_format: %s disagrees\n  ours %d \"%s\"\n  %s \"%s\"\n", fm.name, n,
                 ours, fm.name, other);
         abort();
      }
      benchmark::RegisterBenchmark(fm.name, BM_Format, fm.f);
   }
   return true;
}();

}  // namespace

BENCHMARK_MAIN();
