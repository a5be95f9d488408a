// libFuzzer harness: the library's printf engine against the C runtime, on
// directives drawn by the input through the differential test's generator
// (tests/unit/formatDiffer.h); any difference aborts. Each buffer has a
// guard zone after it and is a heap block of its own, so that ASan sees any
// write past that too.
#include <cstdio>
#include <cstdlib>

#include "tests/unit/formatDiffer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   using namespace formattest;
   // Past its end the input reads as zeros, so that every input makes a
   // case; the cut sizes are seeded from the whole input.
   const uint8_t *p = data, *end = data + size;
   auto next = [&p, end](int n) {
      uint64_t v = 0;
      while (n-- > 0) {
         v = v << 8 | (p < end ? *p++ : 0);
      }
      return v;
   };
   auto fail = [](const std::string &what) {
      fprintf(stderr, "\n*** mismatch: %s\n", what.c_str());
      abort();
   };
   Differ df{next, fail, std::mt19937_64(std::hash<std::string>()(std::string(data, data + size)))};
   static void (*const kFamilies[])(Differ &) = {RandomInteger, RandomFloat, RandomStringAndChar};
   df.Pick(kFamilies)(df);
   return 0;
}
