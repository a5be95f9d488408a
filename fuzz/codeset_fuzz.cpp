// libFuzzer harness: the built-in UTF-8 / UTF-16LE converters against ICU.
//
// The input bytes are taken both as UTF-8 and as UTF-16LE and converted to
// the other form through both converters in all three modes. Any
// difference between the converters in success or output aborts, as does
// a result without its four zero bytes, a mode-0 result that does not
// convert back to the input, a mode-1/2 result that is not itself valid,
// or a validity check that disagrees with mode 0. The input lives in a
// heap block of its exact size, so ASan sees any read past it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "lib/misc/codeset.h"
#include "lib/misc/codesetInternal.h"

namespace {

typedef bool (*ConvertFn)(const char *codeIn, const char *bufIn,
                          size_t sizeIn, const char *codeOut, int mode,
                          char **bufOut, size_t *sizeOut);

struct Result {
   bool ok = false;
   std::string bytes;
};

[[noreturn]] void Fail(const char *what, const char *from, int mode)
{
   fprintf(stderr, "codeset_fuzz: %s (%s input, mode %d)\n", what, from,
           mode);
   abort();
}

Result Convert(ConvertFn f, const char *from, const char *in, size_t n,
               const char *to, int mode)
{
   Result r;
   char *out = nullptr;
   size_t size = 0;
   r.ok = f(from, in, n, to, mode, &out, &size);
   if (!r.ok) {
      if (out != nullptr) {
         Fail("failure left a buffer", from, mode);
      }
      return r;
   }
   if (memcmp(out + size, "\0\0\0\0", 4) != 0) {
      Fail("result without its four zero bytes", from, mode);
   }
   r.bytes.assign(out, size);
   free(out);
   return r;
}

bool IsValid(const char *code, const std::string &s)
{
   return code[4] == '8' ? CodeSet_IsValidUtf8(s.data(), s.size())
                         : CodeSet_IsValidUtf16le(s.data(), s.size());
}

void Check(const char *from, const char *to, const char *in, size_t n)
{
   bool valid = IsValid(from, std::string(in, n));
   for (int mode = 0; mode < 3; mode++) {
      Result icu = Convert(CodeSetIcuConvert, from, in, n, to, mode);
      Result builtin = Convert(CodeSetBuiltinConvert, from, in, n, to, mode);
      if (icu.ok != builtin.ok) {
         Fail("the converters disagree on success", from, mode);
      }
      if (icu.bytes != builtin.bytes) {
         Fail("the converters disagree on the text", from, mode);
      }
      if (mode == 0 && builtin.ok != valid) {
         Fail("validity check disagrees with mode 0", from, mode);
      }
      if (mode != 0 && !builtin.ok) {
         Fail("modes 1 and 2 never fail on UTF text", from, mode);
      }
      if (!builtin.ok) {
         continue;
      }
      // The output is valid in its encoding, and converts back: to the
      // input itself when the input was valid.
      if (!IsValid(to, builtin.bytes)) {
         Fail("output is not valid", from, mode);
      }
      for (ConvertFn f : {CodeSetIcuConvert, CodeSetBuiltinConvert}) {
         Result back = Convert(f, to, builtin.bytes.data(),
                               builtin.bytes.size(), from, 0);
         if (!back.ok) {
            Fail("output does not convert back", from, mode);
         }
         if (valid && back.bytes != std::string(in, n)) {
            Fail("round trip is not the identity", from, mode);
         }
      }
   }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   // An exact-size copy: libFuzzer's own buffer may have slack after it.
   char *in = static_cast<char *>(malloc(size == 0 ? 1 : size));
   if (in == nullptr) {
      return 0;
   }
   if (size != 0) {
      memcpy(in, data, size);
   }
   Check("UTF-8", "UTF-16LE", in, size);
   Check("UTF-16LE", "UTF-8", in, size);
   free(in);
   return 0;
}
