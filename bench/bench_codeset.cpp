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

// 0: a 100-byte ASCII path, as handed to the wide Windows API; 1: 4 KiB of
// mixed text (ASCII, Latin-1, CJK, Hangul, emoji) cut on a character.
std::string MakeUtf8(int which)
{
   std::string s = "C:\\Program Files\\Guest Tools\\Drivers\\setup.inf";
   const char *pieces[] = {
      "Install log for J\xC3\xBCrgen M\xC3\xBCller, Fran\xC3\xA7ois: ",
      "\xE6\x96\x87\xE6\xA1\xA3\xE5\xA4\xB9 \xED\x95\x9C\xEA\xB5\xAD ",
      "done \xF0\x9F\x98\x80 \xF0\x9F\x9A\x80 ",
      "C:\\Users\\Public\\report.txt; "};
   for (size_t i = 0; which == 1 && s.size() + 64 < 4096; i++) {
      s += pieces[i % 4];
   }
   s.resize(which == 0 ? 100 : 4096, 'x');
   return s;
}

std::string MakeUtf16(const std::string &utf8)
{
   char *out = nullptr;
   size_t size = 0;
   bool ok = CodeSetBuiltinConvert("UTF-8", utf8.data(), utf8.size(),
                                   "UTF-16LE", 0, &out, &size);
   std::string s = ok ? std::string(out, size) : std::string();
   free(out);
   return s;
}

// The input of one direction, made once (UTF-16 by the built-in converter).
const std::string &Input(int which, bool toUtf16)
{
   static const std::string utf8[2] = {MakeUtf8(0), MakeUtf8(1)};
   static const std::string utf16[2] = {MakeUtf16(utf8[0]), MakeUtf16(utf8[1])};
   return toUtf16 ? utf8[which] : utf16[which];
}

enum Way { kBuiltin, kIcuPath, kIcuConvert, kIcuDirect };

// One conversion the way given, its result freed.
bool ConvertOnce(Way way, bool toUtf16, const std::string &in)
{
   char *out = nullptr;
   size_t size = 0;
   bool ok = false;
   const char *from = toUtf16 ? "UTF-8" : "UTF-16LE";
   const char *to = toUtf16 ? "UTF-16LE" : "UTF-8";
   int32_t n = static_cast<int32_t>(in.size());
   UErrorCode err = U_ZERO_ERROR;
   int32_t len = 0;
   switch (way) {
   case kBuiltin:
      ok = CodeSetBuiltinConvert(from, in.data(), in.size(), to, 0, &out,
                                 &size);
      break;
   case kIcuPath:
      ok = toUtf16 ? CodeSetIcuUtf8ToUtf16le(in.data(), in.size(), &out, &size)
                   : CodeSetIcuUtf16leToUtf8(in.data(), in.size(), &out, &size);
      break;
   case kIcuConvert:
      ok = CodeSetIcuConvert(from, in.data(), in.size(), to, 0, &out, &size);
      break;
   case kIcuDirect:
      // Sized as the ICU path sizes its output (a unit a byte, 3 bytes a
      // unit), plus room for the terminator.
      if (toUtf16) {
         out = static_cast<char *>(malloc(2 * static_cast<size_t>(n) + 4));
         u_strFromUTF8(reinterpret_cast<UChar *>(out), n, &len, in.data(), n,
                       &err);
      } else {
         out = static_cast<char *>(malloc(3 * static_cast<size_t>(n / 2) + 4));
         u_strToUTF8(out, 3 * (n / 2), &len,
                     reinterpret_cast<const UChar *>(in.data()), n / 2, &err);
      }
      ok = U_SUCCESS(err);
      break;
   }
   benchmark::DoNotOptimize(out);
   free(out);
   return ok;
}

void BM_Codeset(benchmark::State &state, Way way, bool toUtf16)
{
   const std::string &in = Input(static_cast<int>(state.range(0)), toUtf16);
   if (!ConvertOnce(way, toUtf16, in)) {
      state.SkipWithError("conversion failed");
      return;
   }
   for (auto _ : state) {
      benchmark::DoNotOptimize(ConvertOnce(way, toUtf16, in));
   }
   state.SetBytesProcessed(state.iterations() *
                           static_cast<int64_t>(in.size()));
}

#define OV_BENCH(way, dir, toUtf16) \
   BENCHMARK_CAPTURE(BM_Codeset, dir##_##way, k##way, toUtf16) \
      ->ArgName("mixed")->Arg(0)->Arg(1)

OV_BENCH(Builtin, ToUtf16, true);
OV_BENCH(IcuPath, ToUtf16, true);
OV_BENCH(IcuConvert, ToUtf16, true);
OV_BENCH(IcuDirect, ToUtf16, true);
OV_BENCH(Builtin, ToUtf8, false);
OV_BENCH(IcuPath, ToUtf8, false);
OV_BENCH(IcuConvert, ToUtf8, false);
OV_BENCH(IcuDirect, ToUtf8, false);

}  // namespace

BENCHMARK_MAIN();
