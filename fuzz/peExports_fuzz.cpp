// libFuzzer harness: the input as the bytes of a DLL stored in a package's
// Binary table, which the package checker reads without trusting any offset
// in it. ASan sees any read past the image; the harness aborts when an
// accepted image gives a name the reader should have refused, or when a
// refused one leaves names behind.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "pkgcheck/peExports.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   const std::string image(reinterpret_cast<const char *>(data), size);
   std::set<std::string> names{"stale"};
   const bool ok = pkgcheck::ReadExportNames(image, names);
   for (const std::string &name : names) {
      bool printable = !name.empty() && name.size() <= 512;
      for (char c : name) {
         printable = printable && c > 0x20 && c < 0x7F;
      }
      if (!ok || !printable) {
         std::fprintf(stderr, "peExports_fuzz: %s name of %zu bytes\n", ok ? "unprintable" : "stale", name.size());
         std::abort();
      }
   }
   return 0;
}
