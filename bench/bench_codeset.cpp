// UTF-8 <-> UTF-16LE, four ways in the same run: the built-in converter,
// the ICU path of CodeSet_Utf8ToUtf16le / CodeSet_Utf16leToUtf8, ICU's
// converters as CodeSet_Convert uses them, and ICU's own u_strFromUTF8 /
// u_strToUTF8. The goal: the ICU path within 1.2x of ICU direct. Ours
// returns a new buffer, so ICU direct mallocs and frees its result too.
#include <benchmark/benchmark.h>

#include <unicode/ustring.h>

#include <cstdlib>
#include <string>

#include "lib/misc/codeset.h"
#include "lib/misc/codesetInternal.h"

namespace {

enum Way { kBuiltin, kIcuPath, kIcuConvert, kIcuDirect };

// One conversion the way given, into `result` when asked; the output freed.
bool ConvertOnce(Way way, bool toUtf16, const std::string &in, std::string *result = nullptr)
{
   char *out = nullptr;
   size_t size = 0;
   const char *from = toUtf16 ? "UTF-8" : "UTF-16LE", *to = toUtf16 ? "UTF-16LE" : "UTF-8";
   const int32_t n = static_cast<int32_t>(in.size()), units = toUtf16 ? n : n / 2;
   UErrorCode err = U_ZERO_ERROR;
   int32_t len = 0;
   bool ok = way == kBuiltin   ? CodeSetBuiltinConvert(from, in.data(), in.size(), to, 0, &out, &size)
             : way == kIcuConvert ? CodeSetIcuConvert(from, in.data(), in.size(), to, 0, &out, &size)
             : way == kIcuPath ? (toUtf16 ? CodeSetIcuUtf8ToUtf16le : CodeSetIcuUtf16leToUtf8)(
                                    in.data(), in.size(), &out, &size)
                               : false;
   if (way == kIcuDirect) {
      // Sized as the ICU path sizes its output (a unit a byte, 3 bytes a
      // unit), plus room for the terminator.
      out = static_cast<char *>(malloc((toUtf16 ? 2 : 3) * static_cast<size_t>(units) + 4));
      toUtf16 ? void(u_strFromUTF8(reinterpret_cast<UChar *>(out), n, &len, in.data(), n, &err))
              : void(u_strToUTF8(out, 3 * units, &len, reinterpret_cast<const UChar *>(in.data()),
                                 units, &err));
      ok = U_SUCCESS(err);
   }
   benchmark::DoNotOptimize(out);
   if (ok && result != nullptr) {
      result->assign(out, size);
   }
   free(out);
   return ok;
}

// The input of one direction, made once: 0, a 100-byte ASCII path, as
// handed to the wide Windows API; 1, 4 KiB of mixed text (ASCII, Latin-1,
// CJK, Hangul, emoji) cut on a character; their UTF-16 by the built-in converter.
const std::string &Input(int which, bool toUtf16)
{
   static std::string utf8[2], utf16[2];
   if (utf8[0].empty()) {
      const char *pieces[] = {"Install log for J\xC3\xBCrgen M\xC3\xBCller, Fran\xC3\xA7ois: ",
                              "\xE6\x96\x87\xE6\xA1\xA3\xE5\xA4\xB9 \xED\x95\x9C\xEA\xB5\xAD ",
                              "done \xF0\x9F\x98\x80 \xF0\x9F\x9A\x80 ", "C:\\Users\\Public\\report.txt; "};
      for (int w = 0; w < 2; w++) {
         utf8[w] = "C:\\Program Files\\Guest Tools\\Drivers\\setup.inf";
         for (size_t i = 0; w == 1 && utf8[w].size() + 64 < 4096; i++) {
            utf8[w] += pieces[i % 4];
         }
         utf8[w].resize(w == 0 ? 100 : 4096, 'x');
         ConvertOnce(kBuiltin, true, utf8[w], &utf16[w]);
      }
   }
   return toUtf16 ? utf8[which] : utf16[which];
}

void BM_Codeset(benchmark::State &state, Way way, bool toUtf16)
{
   const std::string &in = Input(static_cast<int>(state.range(0)), toUtf16);
   if (in.empty() || !ConvertOnce(way, toUtf16, in)) {
      state.SkipWithError("conversion failed");
      return;
   }
   for (auto _ : state) {
      benchmark::DoNotOptimize(ConvertOnce(way, toUtf16, in));
   }
   state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(in.size()));
}

#define OV_BENCH(way)                                                                           \
   BENCHMARK_CAPTURE(BM_Codeset, ToUtf16_##way, k##way, true)->ArgName("mixed")->Arg(0)->Arg(1); \
   BENCHMARK_CAPTURE(BM_Codeset, ToUtf8_##way, k##way, false)->ArgName("mixed")->Arg(0)->Arg(1)

OV_BENCH(Builtin);
OV_BENCH(IcuPath);
OV_BENCH(IcuConvert);
OV_BENCH(IcuDirect);

}  // namespace

BENCHMARK_MAIN();
