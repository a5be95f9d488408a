// libFuzzer harness: the input, as UTF-8 and as UTF-16LE, converted to the other form by the
// built-in converter and ICU's in all three modes, and by the ICU path of the strict functions
// (at an even and an odd address). Aborts on any disagreement, a result without its four zero
// bytes, a success that does not follow validity and mode, or a result that does not convert
// back. Exact-size inputs let ASan see any overread.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "lib/misc/codeset.h"
#include "lib/misc/codesetInternal.h"

namespace {

[[noreturn]] void Fail(const char *what, bool from8, int mode)
{
   fprintf(stderr, "codeset_fuzz: %s (%s input, mode %d)\n", what, from8 ? "UTF-8" : "UTF-16LE", mode);
   abort();
}

// Way 0: the built-in converter; 1: ICU's converters; 2: the ICU path of the strict functions
// (mode 0 only). Whether it succeeded, and the output.
std::pair<bool, std::string> Convert(int way, bool from8, const char *in, size_t n, int mode)
{
   char *out = nullptr;
   size_t size = 0;
   const char *from = from8 ? "UTF-8" : "UTF-16LE", *to = from8 ? "UTF-16LE" : "UTF-8";
   const bool ok = way == 2 ? (from8 ? CodeSetIcuUtf8ToUtf16le : CodeSetIcuUtf16leToUtf8)(
                                 in, n, &out, &size)
                            : (way == 1 ? CodeSetIcuConvert : CodeSetBuiltinConvert)(
                                 from, in, n, to, mode, &out, &size);
   if (ok ? memcmp(out + size, "\0\0\0\0", 4) != 0 : out != nullptr) {
      Fail("result without its four zero bytes, or failure with a buffer", from8, mode);
   }
   std::pair<bool, std::string> r(ok, ok ? std::string(out, size) : "");
   free(out);
   return r;
}

void Check(bool from8, const char *in, const char *odd, size_t n)
{
   const bool valid = from8 ? CodeSet_IsValidUtf8(in, n) : CodeSet_IsValidUtf16le(in, n);
   for (int mode = 0; mode < 3; mode++) {
      const auto builtin = Convert(0, from8, in, n, mode);
      // In mode 0 the ICU path too, at an even and at an odd address.
      if (Convert(1, from8, in, n, mode) != builtin ||
          (mode == 0 && (Convert(2, from8, in, n, 0) != builtin ||
                         Convert(2, from8, odd, n, 0) != builtin))) {
         Fail("ICU and the built-in converter disagree", from8, mode);
      }
      if (builtin.first != (valid || mode != 0)) {
         Fail("success does not follow validity and mode", from8, mode);
      }
      // A valid output converts back; to the input when that was valid.
      const auto back = Convert(0, !from8, builtin.second.data(), builtin.second.size(), 0);
      if (builtin.first && (!back.first || (valid && back.second != std::string(in, n)))) {
         Fail("output is invalid or does not convert back", from8, mode);
      }
   }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   // libFuzzer's own buffer may have slack after it; data may be null for size 0.
   char *in = static_cast<char *>(malloc(size == 0 ? 1 : size));
   char *odd = static_cast<char *>(malloc(size + 1));
   if (in != nullptr && odd != nullptr) {
      std::copy(data, data + size, in);
      std::copy(data, data + size, odd + 1);
      Check(true, in, odd + 1, size);
      Check(false, in, odd + 1, size);
   }
   free(in);
   free(odd);
   return 0;
}
