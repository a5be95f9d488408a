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

#include "lib/misc/codeset.h"
#include "lib/misc/codesetInternal.h"

namespace {

[[noreturn]] void Fail(const char *what, const char *from, int mode)
{
   fprintf(stderr, "codeset_fuzz: %s (%s input, mode %d)\n", what, from, mode);
   abort();
}

// Way 0: the built-in converter; 1: ICU's converters; 2: the ICU path of the strict functions
// (mode 0 only). The output, or "ok" false.
std::string Convert(int way, const char *from, const char *in, size_t n, const char *to,
                    int mode, bool &ok)
{
   char *out = nullptr;
   size_t size = 0;
   const bool from8 = from[4] == '8';
   ok = way == 2 ? (from8 ? CodeSetIcuUtf8ToUtf16le : CodeSetIcuUtf16leToUtf8)(in, n, &out, &size)
                 : (way == 1 ? CodeSetIcuConvert : CodeSetBuiltinConvert)(from, in, n, to, mode,
                                                                           &out, &size);
   if (ok ? memcmp(out + size, "\0\0\0\0", 4) != 0 : out != nullptr) {
      Fail("result without its four zero bytes, or failure with a buffer", from, mode);
   }
   std::string r = ok ? std::string(out, size) : "";
   free(out);
   return r;
}

void Check(const char *from, const char *to, const char *in, const char *unaligned, size_t n)
{
   const bool valid = from[4] == '8' ? CodeSet_IsValidUtf8(in, n) : CodeSet_IsValidUtf16le(in, n);
   for (int mode = 0; mode < 3; mode++) {
      bool ok, otherOk;
      const std::string builtin = Convert(0, from, in, n, to, mode, ok);
      // In mode 0 the ICU path too, at an even and at an odd address.
      for (int way = 1; way <= (mode == 0 ? 3 : 1); way++) {
         const std::string r =
            Convert(way < 3 ? way : 2, from, way < 3 ? in : unaligned, n, to, mode, otherOk);
         if (otherOk != ok || r != builtin) {
            Fail("ICU and the built-in converter disagree", from, mode);
         }
      }
      if (ok != (valid || mode != 0)) {
         Fail("success does not follow validity and mode", from, mode);
      }
      // A valid output converts back; to the input when that was valid.
      const std::string back = ok ? Convert(0, to, builtin.data(), builtin.size(), from, 0, otherOk)
                                  : "";
      if (ok && (!otherOk || (valid && back != std::string(in, n)))) {
         Fail("output is invalid or does not convert back", from, mode);
      }
   }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   // libFuzzer's own buffer may have slack after it.
   char *in = static_cast<char *>(malloc(size == 0 ? 1 : size));
   char *odd = static_cast<char *>(malloc(size + 1));
   if (in != nullptr && odd != nullptr) {
      std::copy(data, data + size, in);   // data may be null for size 0
      std::copy(data, data + size, odd + 1);
      Check("UTF-8", "UTF-16LE", in, odd + 1, size);
      Check("UTF-16LE", "UTF-8", in, odd + 1, size);
   }
   free(in);
   free(odd);
   return 0;
}
