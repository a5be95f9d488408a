// What one log line costs: building it (clock reading, local-time breakdown
// and LogLine_Build) against the appending write() that puts it into the
// file, which no logger can avoid. Building should stay under a quarter of
// the whole line.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <string>

#include "common/logLine.h"

namespace {

// The clock as the Windows writer reads it: local time with milliseconds
// and the zone offset in minutes.
LogLineTime Now()
{
   auto now = std::chrono::system_clock::now();
   auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
   time_t seconds = std::chrono::system_clock::to_time_t(now);
   struct tm tm;
   localtime_r(&seconds, &tm);
   return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
           static_cast<int>(ms.count() % 1000), static_cast<int>(tm.tm_gmtoff / 60)};
}

// The typical line; the arguments reach the builder through `...`, as they
// do from Inst_Log.
size_t BuildV(char (&buf)[LOG_LINE_BUFFER_SIZE], const LogLineTime &t, const char *format, ...)
{
   va_list ap;
   va_start(ap, format);
   size_t length = 0;
   LogLine_Build(buf, t, "setupKit-build-12345", 0x002, format, ap, nullptr, &length);
   va_end(ap);
   return length;
}

size_t TypicalLine(char (&buf)[LOG_LINE_BUFFER_SIZE], const LogLineTime &t)
{
   return BuildV(buf, t, "Util_DeleteFileW: Deleting %s (attempt %d)",
                 "C:\\Users\\builder\\AppData\\Local\\Temp\\{6C1F0A2E}\\setup.msi", 3);
}

// Building only, at a fixed time: the formatting engine's share.
void BM_BuildLine(benchmark::State &state)
{
   char buf[LOG_LINE_BUFFER_SIZE];
   LogLineTime t = Now();
   for (auto _ : state) {
      benchmark::DoNotOptimize(TypicalLine(buf, t));
   }
}

// Appending to a temporary file opened as the log opens its own: the bare
// write() of a built line, or a whole line (clock, building and write; the
// difference is what the writer adds before its write). The file is emptied (outside the
// timing) every 65536 lines so that a long run does not fill the disk.
void BM_Append(benchmark::State &state, bool build)
{
   const char *dir = getenv("TMPDIR");
   std::string path = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/logXXXXXX";
   int fd = mkstemp(&path[0]);
   fd = fd >= 0 && close(fd) == 0 ? open(path.c_str(), O_WRONLY | O_APPEND) : -1;
   unlink(path.c_str());
   if (fd < 0) {
      state.SkipWithError("cannot create a temporary file");
      return;
   }
   char buf[LOG_LINE_BUFFER_SIZE];
   size_t length = TypicalLine(buf, Now());
   int64_t done = 0;
   for (auto _ : state) {
      length = build ? TypicalLine(buf, Now()) : length;
      benchmark::DoNotOptimize(write(fd, buf, length));
      if (++done % 65536 == 0) {
         state.PauseTiming();
         benchmark::DoNotOptimize(ftruncate(fd, 0));
         state.ResumeTiming();
      }
   }
   close(fd);
   state.counters["line_bytes"] = static_cast<double>(length);
}

BENCHMARK(BM_BuildLine);
BENCHMARK_CAPTURE(BM_Append, AppendWrite, false);
BENCHMARK_CAPTURE(BM_Append, WholeLine, true);

}  // namespace

BENCHMARK_MAIN();
