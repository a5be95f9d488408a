// libFuzzer harness: the input, as UTF-8 and as UTF-16LE, converted to the
// other form by the built-in converter and ICU's in all three modes, and by
// the ICU path of the strict functions (at an even and an odd address).
// Aborts on any disagreement, a result without its four zero bytes, a
// success that does not follow validity and mode, or a result that does
// not convert back. Exact-size inputs let ASan see any overread.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "lib/misc/codeset.h"
#include "lib/misc/codesetInternal.h"

namespace {

struct Result {
   bool ok = false;
   std::string bytes;
};

[[noreturn]] void Fail(const char *what, const char *from, int mode)
{
   fprintf(stderr, "codeset_fuzz: %s (%s input, mode %d)\n", what, from, mode);
   abort();
}

// Way 0: the built-in converter; 1: ICU's converters; 2: the ICU path of
// the strict functions (mode 0 only).
Result Convert(int way, const char *from, const char *in, size_t n,
               const char *to, int mode)
{
   Result r;
   char *out = nullptr;
   size_t size = 0;
   if (way < 2) {
      r.ok = (way == 1 ? CodeSetIcuConvert : CodeSetBuiltinConvert)(
         from, in, n, to, mode, &out, &size);
   } else {
      r.ok = (from[4] == '8' ? CodeSetIcuUtf8ToUtf16le
                             : CodeSetIcuUtf16leToUtf8)(in, n, &out, &size);
   }
   if (r.ok ? memcmp(out + size, "\0\0\0\0", 4) != 0 : out != nullptr) {
      Fail("result without its four zero bytes, or failure with a buffer",
           from, mode);
   }
   if (r.ok) {
      r.bytes.assign(out, size);
   }
   free(out);
   return r;
}

bool IsValid(const char *code, const std::string &s)
{
   return code[4] == '8' ? CodeSet_IsValidUtf8(s.data(), s.size())
                         : CodeSet_IsValidUtf16le(s.data(), s.size());
}

void Check(const char *from, const char *to, const char *in,
           const char *unaligned, size_t n)
{
   bool valid = IsValid(from, std::string(in, n));
   for (int mode = 0; mode < 3; mode++) {
      Result builtin = Convert(0, from, in, n, to, mode);
      // In mode 0 the ICU path too, at an even and at an odd address.
      for (int way = 1; way <= (mode == 0 ? 3 : 1); way++) {
         Result r = Convert(way < 3 ? way : 2, from, way < 3 ? in : unaligned,
                            n, to, mode);
         if (r.ok != builtin.ok || r.bytes != builtin.bytes) {
            Fail("ICU and the built-in converter disagree", from, mode);
         }
      }
      if (builtin.ok != (valid || mode != 0)) {
         Fail("success does not follow validity and mode", from, mode);
      }
      if (!builtin.ok) {
         continue;
      }
      Result back = Convert(0, to, builtin.bytes.data(),
                            builtin.bytes.size(), from, 0);
      // A valid output converts back; to the input when that was valid.
      if (!back.ok || (valid && back.bytes != std::string(in, n))) {
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
   if (in != nullptr && odd != nullptr && size != 0) {
      memcpy(in, data, size);
      memcpy(odd + 1, data, size);
   }
   if (in != nullptr && odd != nullptr) {
      Check("UTF-8", "UTF-16LE", in, odd + 1, size);
      Check("UTF-16LE", "UTF-8", in, odd + 1, size);
   }
   free(in);
   free(odd);
   return 0;
}
