// UTF-8 <-> UTF-16LE: the built-in converters and the ICU path of
// CodeSet_Convert, against ICU's own direct functions (u_strFromUTF8,
// u_strToUTF8) in the same run.
//
// Ours returns a new buffer each time, so ICU's functions are measured
// twice: into a buffer kept across iterations (their best case), and
// with a malloc/free of the result as ours does.
#include <benchmark/benchmark.h>

#include <unicode/ustring.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lib/misc/codeset.h"
#include "lib/misc/codesetInternal.h"

namespace {

// A typical path handed to the wide Windows API: 100 ASCII bytes.
std::string AsciiPath()
{
   std::string s =
      "C:\\Program Files\\Common Files\\Guest Tools\\Drivers\\video\\"
      "x64\\wddm\\display_driver_setup.inf";
   s.resize(100, 'x');
   return s;
}

// 4 KiB of mixed text: ASCII, Latin-1, CJK and emoji, cut on a character
// boundary.
std::string MixedText()
{
   const char *pieces[] = {
      "Install log for J\xC3\xBCrgen M\xC3\xBCller, Fran\xC3\xA7ois, ",
      "Se\xC3\xB1or Pe\xC3\xB1" "a: ",
      "\xE6\x96\x87\xE6\xA1\xA3\xE5\xA4\xB9 \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E "
      "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4 ",
      "done \xF0\x9F\x98\x80 \xF0\x9F\x9A\x80 ",
      "C:\\Users\\Public\\Documents\\report.txt; ",
   };
   std::string s;
   for (size_t i = 0; s.size() < 4096; i++) {
      std::string next = s + pieces[i % (sizeof pieces / sizeof pieces[0])];
      if (next.size() > 4096) {
         break;
      }
      s = next;
   }
   s.resize(4096, '.');
   return s;
}

const std::string &Input(int which)
{
   static const std::string ascii = AsciiPath();
   static const std::string mixed = MixedText();
   return which == 0 ? ascii : mixed;
}

// The UTF-16LE form of an input, made once by ICU.
const std::string &Input16(int which)
{
   static std::string cache[2];
   std::string &s = cache[which];
   if (s.empty()) {
      const std::string &in = Input(which);
      std::vector<UChar> w(in.size() + 1);
      int32_t len = 0;
      UErrorCode err = U_ZERO_ERROR;
      u_strFromUTF8(w.data(), static_cast<int32_t>(w.size()), &len, in.data(),
                    static_cast<int32_t>(in.size()), &err);
      s.assign(reinterpret_cast<const char *>(w.data()),
               static_cast<size_t>(len) * 2);
   }
   return s;
}

typedef bool (*ConvertFn)(const char *codeIn, const char *bufIn,
                          size_t sizeIn, const char *codeOut, int mode,
                          char **bufOut, size_t *sizeOut);

void BM_ToUtf16(benchmark::State &state, ConvertFn f)
{
   const std::string &in = Input(static_cast<int>(state.range(0)));
   for (auto _ : state) {
      char *out = nullptr;
      size_t size = 0;
      bool ok = f("UTF-8", in.data(), in.size(), "UTF-16LE", 0, &out, &size);
      benchmark::DoNotOptimize(ok);
      benchmark::DoNotOptimize(out);
      free(out);
   }
   state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(in.size()));
}

void BM_ToUtf8(benchmark::State &state, ConvertFn f)
{
   const std::string &in = Input16(static_cast<int>(state.range(0)));
   for (auto _ : state) {
      char *out = nullptr;
      size_t size = 0;
      bool ok = f("UTF-16LE", in.data(), in.size(), "UTF-8", 0, &out, &size);
      benchmark::DoNotOptimize(ok);
      benchmark::DoNotOptimize(out);
      free(out);
   }
   state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(in.size()));
}

void BM_ToUtf16_Public(benchmark::State &state)
{
   const std::string &in = Input(static_cast<int>(state.range(0)));
   for (auto _ : state) {
      char *out = nullptr;
      size_t size = 0;
      bool ok = CodeSet_Utf8ToUtf16le(in.data(), in.size(), &out, &size);
      benchmark::DoNotOptimize(ok);
      free(out);
   }
   state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(in.size()));
}

void BM_ToUtf16_IcuDirect(benchmark::State &state, bool allocate)
{
   const std::string &in = Input(static_cast<int>(state.range(0)));
   int32_t capacity = static_cast<int32_t>(in.size()) + 2;
   std::vector<UChar> kept(static_cast<size_t>(capacity));
   for (auto _ : state) {
      UChar *out = allocate ? static_cast<UChar *>(malloc(
                                 static_cast<size_t>(capacity) * sizeof(UChar)))
                            : kept.data();
      int32_t len = 0;
      UErrorCode err = U_ZERO_ERROR;
      u_strFromUTF8(out, capacity, &len, in.data(),
                    static_cast<int32_t>(in.size()), &err);
      benchmark::DoNotOptimize(len);
      benchmark::DoNotOptimize(out);
      if (allocate) {
         free(out);
      }
   }
   state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(in.size()));
}

void BM_ToUtf8_IcuDirect(benchmark::State &state, bool allocate)
{
   const std::string &in = Input16(static_cast<int>(state.range(0)));
   const UChar *src = reinterpret_cast<const UChar *>(in.data());
   int32_t units = static_cast<int32_t>(in.size() / 2);
   int32_t capacity = units * 3 + 4;
   std::vector<char> kept(static_cast<size_t>(capacity));
   for (auto _ : state) {
      char *out = allocate ? static_cast<char *>(malloc(static_cast<size_t>(capacity)))
                           : kept.data();
      int32_t len = 0;
      UErrorCode err = U_ZERO_ERROR;
      u_strToUTF8(out, capacity, &len, src, units, &err);
      benchmark::DoNotOptimize(len);
      benchmark::DoNotOptimize(out);
      if (allocate) {
         free(out);
      }
   }
   state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(in.size()));
}

// Argument 0: the 100-byte ASCII path; 1: 4 KiB of mixed text.
void Inputs(benchmark::internal::Benchmark *b)
{
   b->ArgName("mixed")->Arg(0)->Arg(1);
}

BENCHMARK_CAPTURE(BM_ToUtf16, Builtin, CodeSetBuiltinConvert)->Apply(Inputs);
BENCHMARK_CAPTURE(BM_ToUtf16, IcuPath, CodeSetIcuConvert)->Apply(Inputs);
BENCHMARK(BM_ToUtf16_Public)->Apply(Inputs);
BENCHMARK_CAPTURE(BM_ToUtf16_IcuDirect, kept_buffer, false)->Apply(Inputs);
BENCHMARK_CAPTURE(BM_ToUtf16_IcuDirect, malloc_free, true)->Apply(Inputs);

BENCHMARK_CAPTURE(BM_ToUtf8, Builtin, CodeSetBuiltinConvert)->Apply(Inputs);
BENCHMARK_CAPTURE(BM_ToUtf8, IcuPath, CodeSetIcuConvert)->Apply(Inputs);
BENCHMARK_CAPTURE(BM_ToUtf8_IcuDirect, kept_buffer, false)->Apply(Inputs);
BENCHMARK_CAPTURE(BM_ToUtf8_IcuDirect, malloc_free, true)->Apply(Inputs);

}  // namespace

BENCHMARK_MAIN();
