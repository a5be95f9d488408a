// libFuzzer harness: the input as a product code. Input and output sit in
// buffers of exactly their size, so ASan sees any read past the terminator
// or write past the 33 bytes. Aborts when packing fails to refuse a buffer
// too small, or when an accepted code does not unpack to the text it came
// from (braces and hyphens in place, hex digits elsewhere).
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "common/msiUtilText.h"

namespace {

void Check(bool ok, const char *what, const std::string &code)
{
   if (!ok) {
      fprintf(stderr, "productCode_fuzz: %s: \"%s\"\n", what, code.c_str());
      abort();
   }
}

// The reverse of the packing: the first three groups reversed, the last two
// as pairs of swapped characters.
std::string Unpack(std::string p)
{
   std::reverse(p.begin(), p.begin() + 8);
   std::reverse(p.begin() + 8, p.begin() + 12);
   std::reverse(p.begin() + 12, p.begin() + 16);
   for (size_t i = 16; i + 1 < p.size(); i += 2) {
      std::swap(p[i], p[i + 1]);
   }
   return "{" + p.substr(0, 8) + "-" + p.substr(8, 4) + "-" + p.substr(12, 4) + "-" +
          p.substr(16, 4) + "-" + p.substr(20) + "}";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   std::unique_ptr<char[]> code(new char[size + 1]), packed(new char[MSI_PACKED_CODE_SIZE]);
   memcpy(code.get(), data, size);
   code[size] = '\0';
   const std::string text(code.get());   // up to the first NUL, as the function sees it

   Check(!MsiUtil_PackProductCode(code.get(), packed.get(), MSI_PACKED_CODE_SIZE - 1),
         "packed into 32 bytes", text);
   if (!MsiUtil_PackProductCode(code.get(), packed.get(), MSI_PACKED_CODE_SIZE)) {
      Check(packed[0] == '\0', "refused code left output behind", text);
      return 0;
   }
   Check(strlen(packed.get()) == MSI_PACKED_CODE_SIZE - 1, "packed code is not 32 characters", text);
   for (size_t i = 0; i < MSI_PACKED_CODE_SIZE - 1; i++) {
      Check(isxdigit(static_cast<unsigned char>(packed[i])) != 0, "accepted a non-hex digit", text);
   }
   Check(Unpack(packed.get()) == text, "accepted code does not round-trip", text);
   return 0;
}
