// What one log line costs: building it (the clock reading, the local-time
// breakdown and LogLine_Build) against the appending write() that puts it
// into the file, which no logger can avoid. The goal is that building stays
// under a quarter of the whole line.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/logLine.h"

namespace {

const char kTag[] = "setupKit-build-12345";
const char kFormat[] = "Util_DeleteFileW: Deleting %s (attempt %d)";
const char kPath[] = "C:\\Users\\builder\\AppData\\Local\\Temp\\{6C1F0A2E}\\setup.msi";

// The file grows by one line per iteration; it is emptied (outside the
// timing) every this many lines so a long run does not fill the disk.
const int64_t kTruncateEvery = 1 << 16;

// The clock as the Windows writer reads it: wall time, broken down into
// local time with milliseconds, and the zone offset in minutes.
LogLineTime Now()
{
   struct timespec ts;
   clock_gettime(CLOCK_REALTIME, &ts);
   struct tm tm;
   localtime_r(&ts.tv_sec, &tm);
   LogLineTime t;
   t.year = tm.tm_year + 1900;
   t.month = tm.tm_mon + 1;
   t.day = tm.tm_mday;
   t.hour = tm.tm_hour;
   t.minute = tm.tm_min;
   t.second = tm.tm_sec;
   t.milliseconds = static_cast<int>(ts.tv_nsec / 1000000);
   t.zoneMinutes = static_cast<int>(tm.tm_gmtoff / 60);
   return t;
}

size_t BuildLine(char (&buf)[LOG_LINE_BUFFER_SIZE], const LogLineTime &t, ...)
{
   va_list ap;
   va_start(ap, t);
   size_t length = 0;
   LogLine_Build(buf, t, kTag, 0x002, kFormat, ap, nullptr, &length);
   va_end(ap);
   return length;
}

size_t BuildTypicalLine(char (&buf)[LOG_LINE_BUFFER_SIZE], const LogLineTime &t)
{
   return BuildLine(buf, t, kPath, 3);
}

// A temporary file opened as the log opens its own, removed afterwards.
class AppendFile {
public:
   AppendFile()
   {
      const char *dir = getenv("TMPDIR");
      path_ = std::string(dir != nullptr && dir[0] != '\0' ? dir : "/tmp") +
              "/bench_log.XXXXXX";
      int tmp = mkstemp(&path_[0]);
      if (tmp >= 0) {
         close(tmp);
         fd_ = open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
      }
   }
   ~AppendFile()
   {
      if (fd_ >= 0) {
         close(fd_);
      }
      unlink(path_.c_str());
   }
   AppendFile(const AppendFile &) = delete;
   AppendFile &operator=(const AppendFile &) = delete;
   int fd() const { return fd_; }

private:
   std::string path_;
   int fd_ = -1;
};

void EmptyNowAndThen(benchmark::State &state, int fd, int64_t done)
{
   if (done % kTruncateEvery == 0) {
      state.PauseTiming();
      if (ftruncate(fd, 0) != 0) {
         state.SkipWithError("ftruncate failed");
      }
      state.ResumeTiming();
   }
}

// Building only, at a fixed time: the formatting engine's share.
void BM_BuildLine(benchmark::State &state)
{
   char buf[LOG_LINE_BUFFER_SIZE];
   LogLineTime t = Now();
   size_t length = 0;
   for (auto _ : state) {
      length = BuildTypicalLine(buf, t);
      benchmark::DoNotOptimize(buf);
   }
   state.counters["line_bytes"] = static_cast<double>(length);
}
BENCHMARK(BM_BuildLine);

// The clock alone.
void BM_Timestamp(benchmark::State &state)
{
   for (auto _ : state) {
      LogLineTime t = Now();
      benchmark::DoNotOptimize(t);
   }
}
BENCHMARK(BM_Timestamp);

// Everything the writer does before its write(): clock plus building.
void BM_TimestampAndBuildLine(benchmark::State &state)
{
   char buf[LOG_LINE_BUFFER_SIZE];
   for (auto _ : state) {
      size_t length = BuildTypicalLine(buf, Now());
      benchmark::DoNotOptimize(length);
      benchmark::DoNotOptimize(buf);
   }
}
BENCHMARK(BM_TimestampAndBuildLine);

// The floor: one appending write() of an already built line.
void BM_AppendWrite(benchmark::State &state)
{
   AppendFile file;
   if (file.fd() < 0) {
      state.SkipWithError("cannot open a temporary file");
      return;
   }
   char buf[LOG_LINE_BUFFER_SIZE];
   size_t length = BuildTypicalLine(buf, Now());
   int64_t done = 0;
   for (auto _ : state) {
      benchmark::DoNotOptimize(write(file.fd(), buf, length));
      EmptyNowAndThen(state, file.fd(), ++done);
   }
   state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(length));
   state.counters["line_bytes"] = static_cast<double>(length);
}
BENCHMARK(BM_AppendWrite);

// A whole log line: clock, building and the write.
void BM_WholeLine(benchmark::State &state)
{
   AppendFile file;
   if (file.fd() < 0) {
      state.SkipWithError("cannot open a temporary file");
      return;
   }
   char buf[LOG_LINE_BUFFER_SIZE];
   int64_t done = 0;
   for (auto _ : state) {
      size_t length = BuildTypicalLine(buf, Now());
      benchmark::DoNotOptimize(write(file.fd(), buf, length));
      EmptyNowAndThen(state, file.fd(), ++done);
   }
}
BENCHMARK(BM_WholeLine);

}  // namespace

BENCHMARK_MAIN();
