// libFuzzer harness: the input as the bytes of a DLL stored in a package's
// Binary table, which the package checker reads without trusting any offset
// in it. ASan sees any read past the image; the harness aborts when an
// accepted image gives a name the reader should have refused, when a refused
// one leaves names behind, or when a byte after an accepted image changes
// what it gives (a name the image does not end itself).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "pkgcheck/peExports.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   const std::string image(reinterpret_cast<const char *>(data), size);
   std::set<std::string> names{"stale"}, longer;
   const bool ok = pkgcheck::ReadExportNames(image, names);
   bool bad = ok && !(pkgcheck::ReadExportNames(image + 'A', longer) && longer == names);
   for (const std::string &name : names) {
      bad = bad || !ok || name.empty() || name.size() > 512 ||
            std::any_of(name.begin(), name.end(), [](unsigned char c) { return c < 0x21 || c > 0x7E; });
   }
   if (bad) {
      std::abort();
   }
   return 0;
}
