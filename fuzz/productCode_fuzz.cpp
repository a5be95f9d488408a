// libFuzzer harness: the input as a product code. Input and output sit in
// buffers of exactly their size, so ASan sees any read past the terminator
// or write past the 33 bytes. Aborts when packing fails to refuse a buffer
// too small, or when an accepted code does not unpack to the text it came
// from (braces and hyphens in place, hex digits elsewhere).
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/msiUtilText.h"

namespace {

[[noreturn]] void Fail(const char *what, const std::string &code)
{
   fprintf(stderr, "productCode_fuzz: %s: \"%s\"\n", what, code.c_str());
   abort();
}

// The reverse of the packing, written out group by group.
std::string Unpack(const char *p)
{
   std::string s = "{";
   for (int i = 7; i >= 0; i--) s += p[i];
   s += '-';
   for (int i = 11; i >= 8; i--) s += p[i];
   s += '-';
   for (int i = 15; i >= 12; i--) s += p[i];
   s += '-';
   for (int i = 16; i < 20; i += 2) s += std::string{p[i + 1], p[i]};
   s += '-';
   for (int i = 20; i < 32; i += 2) s += std::string{p[i + 1], p[i]};
   return s + "}";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   char *code = static_cast<char *>(malloc(size + 1));
   char *packed = static_cast<char *>(malloc(MSI_PACKED_CODE_SIZE));
   if (code == nullptr || packed == nullptr) {
      free(code);
      free(packed);
      return 0;
   }
   memcpy(code, data, size);
   code[size] = '\0';
   const std::string text(code);   // up to the first NUL, as the function sees it

   if (MsiUtil_PackProductCode(code, packed, MSI_PACKED_CODE_SIZE - 1)) {
      Fail("packed into 32 bytes", text);
   }
   if (MsiUtil_PackProductCode(code, packed, MSI_PACKED_CODE_SIZE)) {
      if (strlen(packed) != MSI_PACKED_CODE_SIZE - 1) {
         Fail("packed code is not 32 characters", text);
      }
      for (size_t i = 0; i < MSI_PACKED_CODE_SIZE - 1; i++) {
         if (!isxdigit(static_cast<unsigned char>(packed[i]))) {
            Fail("accepted a character that is no hex digit", text);
         }
      }
      if (Unpack(packed) != text) {
         Fail("accepted code does not round-trip", text);
      }
   } else if (packed[0] != '\0') {
      Fail("refused code left output behind", text);
   }
   free(code);
   free(packed);
   return 0;
}
