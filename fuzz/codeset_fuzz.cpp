// libFuzzer harness: the input, as UTF-8 and as UTF-16LE, converted to the other form by the
// built-in converter and ICU's in all three modes, and by the ICU path of the strict functions
// (at an even and an odd address). Aborts on any disagreement, a result without its four zero
// bytes, a success that does not follow validity and mode, or a result that does not convert
// back. Exact-size inputs let ASan see any overread.
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "lib/misc/codeset.h"
#include "lib/misc/codesetInternal.h"

namespace {

void Check(bool ok, const char *what, bool from8, int mode)
{
   if (!ok) {
      fprintf(stderr, "codeset_fuzz: %s (%s input, mode %d)\n", what, from8 ? "UTF-8" : "UTF-16LE", mode);
      abort();
   }
}

// Way 0: the built-in converter; 1: ICU's converters; 2: the ICU path of the strict functions
// (mode 0 only). Whether it succeeded, and the output.
std::pair<bool, std::string> Convert(int way, bool from8, const char *in, size_t n, int mode)
{
   char *out = nullptr;
   size_t size = 0;
   const char *from = from8 ? "UTF-8" : "UTF-16LE", *to = from8 ? "UTF-16LE" : "UTF-8";
   const bool ok = way == 2   ? (from8 ? CodeSetIcuUtf8ToUtf16le : CodeSetIcuUtf16leToUtf8)(in, n, &out, &size)
                   : way == 1 ? CodeSetIcuConvert(from, in, n, to, mode, &out, &size)
                              : CodeSetBuiltinConvert(from, in, n, to, mode, &out, &size);
   Check(ok ? memcmp(out + size, "\0\0\0\0", 4) == 0 : out == nullptr, "no four zero bytes, or a failure with a buffer",
         from8, mode);
   std::pair<bool, std::string> r(ok, ok ? std::string(out, size) : "");
   free(out);
   return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   // libFuzzer's own buffer may have slack after it.
   const std::vector<char> exact(data, data + size);
   std::vector<char> shifted(size + 1);
   std::copy(data, data + size, shifted.begin() + 1);
   const char *in = exact.data(), *odd = shifted.data() + 1;
   for (bool from8 : {true, false}) {
      const bool valid = from8 ? CodeSet_IsValidUtf8(in, size) : CodeSet_IsValidUtf16le(in, size);
      for (int mode = 0; mode < 3; mode++) {
         const auto builtin = Convert(0, from8, in, size, mode);
         Check(Convert(1, from8, in, size, mode) == builtin, "ICU and the built-in converter disagree", from8, mode);
         Check(mode != 0 || (Convert(2, from8, in, size, 0) == builtin && Convert(2, from8, odd, size, 0) == builtin),
               "the strict ICU path disagrees", from8, mode);
         Check(builtin.first == (valid || mode != 0), "success does not follow validity and mode", from8, mode);
         // A valid output converts back; to the input when that was valid.
         const auto back = Convert(0, !from8, builtin.second.data(), builtin.second.size(), 0);
         Check(!builtin.first || (back.first && (!valid || back.second == std::string(in, size))),
               "output is invalid or does not convert back", from8, mode);
      }
   }
   return 0;
}
