// libFuzzer harness: the input as a product code. Input and output sit in
// buffers of exactly their size, so ASan sees any read past the terminator
// or write past the 33 bytes. Aborts when packing fails to refuse a buffer
// too small, or when an accepted code does not unpack to the text it came
// from (braces and hyphens in place, hex digits elsewhere).
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "common/msiUtilText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   std::unique_ptr<char[]> code(new char[size + 1]), packed(new char[MSI_PACKED_CODE_SIZE]);
   memcpy(code.get(), data, size);
   code[size] = '\0';
   const std::string text(code.get());   // up to the first NUL, as the function sees it
   const bool small = MsiUtil_PackProductCode(code.get(), packed.get(), MSI_PACKED_CODE_SIZE - 1);
   const bool ok = MsiUtil_PackProductCode(code.get(), packed.get(), MSI_PACKED_CODE_SIZE);
   // The packing undone: the first three groups reversed, the last two as
   // pairs of swapped characters.
   std::string p = ok ? packed.get() : "";
   const bool hex32 = p.size() == MSI_PACKED_CODE_SIZE - 1 &&
                      std::all_of(p.begin(), p.end(), [](unsigned char c) { return isxdigit(c) != 0; });
   for (size_t i = 16; hex32 && i < p.size(); i += 2) {
      std::swap(p[i], p[i + 1]);
   }
   for (const auto &group : {std::make_pair(0, 8), std::make_pair(8, 12), std::make_pair(12, 16)}) {
      hex32 ? std::reverse(p.begin() + group.first, p.begin() + group.second) : void();
   }
   const std::string unpacked = hex32 ? "{" + p.substr(0, 8) + "-" + p.substr(8, 4) + "-" + p.substr(12, 4) + "-" +
                                           p.substr(16, 4) + "-" + p.substr(20) + "}"
                                      : "";
   if (small || (ok ? unpacked != text : packed[0] != '\0')) {
      fprintf(stderr, "productCode_fuzz: \"%s\" packed into 32 bytes, left output behind or packed to \"%s\"\n",
              text.c_str(), p.c_str());
      abort();
   }
   return 0;
}
