// libFuzzer harness: the library's printf engine against the C runtime, on
// directives drawn by the input through the differential test's generator
// (tests/unit/formatDiffer.h); any difference aborts. Each case also runs
// in heap blocks of exactly the size handed over, so that ASan sees any
// write past them (malloc(0) has no byte anyone may touch).
#include <cstdio>
#include <cstdlib>

#include "tests/unit/formatDiffer.h"

namespace {

using namespace formattest;

// Past its end the input reads as zeros, so that every input makes a case.
struct Input {
   const uint8_t *p, *end;
   uint64_t Bytes(int n) {
      uint64_t v = 0;
      while (n-- > 0) {
         v = v << 8 | (p < end ? *p++ : 0);
      }
      return v;
   }
   int Range(int lo, int hi) { return lo + int(Bytes(hi - lo < 256 ? 1 : 2) % uint64_t(hi - lo + 1)); }
   bool Percent(int pct) { return Range(0, 99) < pct; }
   uint64_t Bits() { return Bytes(8); }
   template <class T, size_t N>
   const T &Pick(const T (&items)[N]) { return items[Range(0, int(N) - 1)]; }
};

struct Fuzz {
   Input rng;
   int skipped = 0;
   std::string text;

   // Fuzzer bytes (up to a NUL) a third of the time.
   const char *String() {
      text.assign(rng.Range(0, 2) == 0 ? size_t(rng.Range(0, 40)) : 0, '\0');
      for (char &c : text) {
         c = char(rng.Bytes(1));
      }
      return text[0] != '\0' ? text.c_str() : rng.Pick(kStrings);
   }
   template <class... A>
   void Check(const std::string &format, A... args) {
      const char *fmt = format.c_str();
      const size_t len = size_t(std::max(Runtime(nullptr, 0, fmt, args...), 0));
      const uint64_t cut = rng.Bits();
      for (size_t size : {len + 1, size_t(cut % (len + 2))}) {
         char *buf = static_cast<char *>(malloc(size)), *out = buf;
         Call(&out, size, fmt, args...);
         Text_Snprintf(buf, size, fmt, args...);
         free(buf);
      }
      Compare([](const std::string &what) {
         fprintf(stderr, "\n*** mismatch: %s\n", what.c_str());
         abort();
      }, cut, fmt, args...);
   }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
   Fuzz f{{data, data + size}, 0, ""};
   void (*const kFamilies[])(Fuzz &) = {RandomInteger<Fuzz>, RandomFloat<Fuzz>,
                                         RandomStringAndChar<Fuzz>};
   f.rng.Pick(kFamilies)(f);
   return 0;
}
