// The core's hot paths in the same run against named peers. What one log
// line costs: formatting it in one call by the library's engine against
// glibc's snprintf; and building it with LogLine_Build against the
// appending write() that puts it into the file, which no logger can avoid
// (building should stay under a quarter of the whole line). UTF-8 <->
// UTF-16LE: the ICU path of CodeSet_Utf8ToUtf16le / CodeSet_Utf16leToUtf8
// against ICU's own u_strFromUTF8 / u_strToUTF8, within 1.2x is the goal.
//
// With the arguments "<ours|glibc> N" it only formats the line N times,
// for instruction counts under callgrind (bench/callgrind.sh), which unlike
// wall time do not depend on what else the machine is doing. The script
// runs each formatter for N1 and N2 lines: the difference of the two
// totals divided by N2 - N1 leaves out start-up, locale and loader costs,
// which do not belong to one line.
#include <benchmark/benchmark.h>

#include <unicode/ustring.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "common/logLine.h"
#include "lib/misc/codeset.h"
#include "lib/misc/codesetInternal.h"
#include "lib/string/str.h"

namespace {

// Text_Snprintf has the shape of snprintf.
typedef int (*Formatter)(char *buf, size_t size, const char *fmt, ...);
const Formatter kOurs = Text_Snprintf, kGlibc = snprintf;
const char kMessage[] = "Util_DeleteFileW: Deleting %s (attempt %d)";
const char kPath[] = "C:\\Users\\builder\\AppData\\Local\\Temp\\{6C1F0A2E}\\setup.msi";

// Prefix and message as the logger joins them: one format, one call.
int FormatLine(Formatter f, char *buf, size_t size)
{
   return f(buf, size, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%s| %s| %c%c: Util_DeleteFileW: Deleting %s (attempt %d)",
            2026, 12, 5, 16, 38, 7, 123, "Z", "setupKit-build-12345", 'I', '0', kPath, 3);
}

void BM_Format(benchmark::State &state, Formatter f)
{
   char buf[2048];
   for (auto _ : state) {
      benchmark::DoNotOptimize(FormatLine(f, buf, sizeof buf));
   }
}

// The same line by LogLine_Build, its arguments through `...` as they come
// from Inst_Log.
size_t BuildLine(char (&buf)[LOG_LINE_BUFFER_SIZE], const char *format, ...)
{
   va_list ap;
   va_start(ap, format);
   size_t length = 0;
   LogLine_Build(buf, {2026, 12, 5, 16, 38, 7, 123, 0}, "setupKit-build-12345", 0x400, format, ap, nullptr, &length);
   va_end(ap);
   return length;
}

// Appending to a temporary file opened as the log opens its own: the bare
// write() of a built line, or building and writing it. The file is emptied
// (outside the timing) every 65536 lines so that a long run does not fill
// the disk.
void BM_Append(benchmark::State &state, bool build)
{
   const int fd = open(P_tmpdir, O_TMPFILE | O_WRONLY | O_APPEND, 0600);
   if (fd < 0) {
      state.SkipWithError("cannot create a temporary file");
      return;
   }
   char buf[LOG_LINE_BUFFER_SIZE];
   size_t length = BuildLine(buf, kMessage, kPath, 3);
   int64_t done = 0;
   for (auto _ : state) {
      length = build ? BuildLine(buf, kMessage, kPath, 3) : length;
      benchmark::DoNotOptimize(write(fd, buf, length));
      if (++done % 65536 == 0) {
         state.PauseTiming();
         benchmark::DoNotOptimize(ftruncate(fd, 0));
         state.ResumeTiming();
      }
   }
   close(fd);
}

// Ours returns a new buffer, so ICU direct mallocs and frees its result
// too, sized as the ICU path sizes its own (a unit a byte, 3 bytes a unit),
// plus room for the terminator.
bool IcuDirect(bool toUtf16, const std::string &in, char **out, size_t *)
{
   const int32_t units = static_cast<int32_t>(toUtf16 ? in.size() : in.size() / 2);
   UErrorCode err = U_ZERO_ERROR;
   *out = static_cast<char *>(malloc((toUtf16 ? 2 : 3) * static_cast<size_t>(units) + 4));
   toUtf16 ? void(u_strFromUTF8(reinterpret_cast<UChar *>(*out), units, nullptr, in.data(), units, &err))
           : void(u_strToUTF8(*out, 3 * units, nullptr, reinterpret_cast<const UChar *>(in.data()), units, &err));
   return U_SUCCESS(err);
}

bool IcuPath(bool toUtf16, const std::string &in, char **out, size_t *size)
{
   return (toUtf16 ? CodeSetIcuUtf8ToUtf16le : CodeSetIcuUtf16leToUtf8)(in.data(), in.size(), out, size);
}

// 4 KiB of mixed text (ASCII, Latin-1, CJK, Hangul, emoji) cut on a
// character, as UTF-8 or as UTF-16LE.
void BM_Codeset(benchmark::State &state, decltype(&IcuPath) convert, bool toUtf16)
{
   std::string in;
   while (in.size() + 64 < 4096) {
      in += "C:\\Users\\J\xC3\xBCrgen M\xC3\xBCller\\Fran\xC3\xA7ois: \xE6\x96\x87\xE6\xA1\xA3\xE5\xA4\xB9 "
            "\xED\x95\x9C\xEA\xB5\xAD done \xF0\x9F\x98\x80 \xF0\x9F\x9A\x80 setup.inf; ";
   }
   in.resize(4096, 'x');
   char *out = nullptr;
   size_t size = 0;
   const bool ok = toUtf16 || IcuPath(true, in, &out, &size);
   in = toUtf16 ? in : std::string(out, size);
   for (auto _ : state) {
      free(std::exchange(out, nullptr));
      if (!ok || !convert(toUtf16, in, &out, &size)) {
         return state.SkipWithError("conversion failed");
      }
      benchmark::DoNotOptimize(out);
   }
   free(out);
   state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(in.size()));
}

BENCHMARK_CAPTURE(BM_Codeset, ToUtf16_IcuPath, IcuPath, true);
BENCHMARK_CAPTURE(BM_Codeset, ToUtf16_IcuDirect, IcuDirect, true);
BENCHMARK_CAPTURE(BM_Codeset, ToUtf8_IcuPath, IcuPath, false);
BENCHMARK_CAPTURE(BM_Codeset, ToUtf8_IcuDirect, IcuDirect, false);

}  // namespace

int main(int argc, char **argv)
{
   char ours[2048], glibc[2048];
   // Formatters that disagree would compare different work.
   if (FormatLine(kOurs, ours, sizeof ours) != FormatLine(kGlibc, glibc, sizeof glibc) || strcmp(ours, glibc) != 0) {
      fprintf(stderr, "bench_core: glibc disagrees\n  ours  \"%s\"\n  glibc \"%s\"\n", ours, glibc);
      return 1;
   }
   if (argc == 3) {
      // Through a volatile pointer: the call cannot be folded or hoisted.
      Formatter volatile f = strcmp(argv[1], "glibc") == 0 ? kGlibc : kOurs;
      for (long i = strtol(argv[2], nullptr, 10); i > 0; i--) {
         benchmark::DoNotOptimize(FormatLine(f, ours, sizeof ours));
      }
      return 0;
   }
   benchmark::RegisterBenchmark("ours", BM_Format, kOurs);
   benchmark::RegisterBenchmark("glibc", BM_Format, kGlibc);
   benchmark::RegisterBenchmark("AppendWrite", BM_Append, false);
   benchmark::RegisterBenchmark("BuildAndAppend", BM_Append, true);
   benchmark::Initialize(&argc, argv);
   benchmark::RunSpecifiedBenchmarks();
   return 0;
}
