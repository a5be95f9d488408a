// libFuzzer harness: random bytes as a registry-table Value field, split at
// the first NUL into the raw and the formatted text (no NUL: both the same).
// Aborts when the encoding breaks the promises of common/registryValue.h:
// the type follows the raw field's '#' and the formatted text's '~', a DWORD
// has 4 bytes, string data is the text with '~' as terminators plus the
// closing zeros, and the mark replacement leaves no "[~]" it could see.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/registryValue.h"

namespace {

void Check(bool ok, const char *what)
{
   if (!ok) {
      fprintf(stderr, "registryValue_fuzz: %s\n", what);
      abort();
   }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   const std::string input(reinterpret_cast<const char *>(data), size);
   const size_t nul = input.find('\0');
   const std::string raw = RegistryValue_ReplaceTildeMarks(input.substr(0, nul));
   const std::string formatted = nul == std::string::npos ? raw : input.substr(nul + 1);

   // Each replacement shortens the text by two.
   const std::string source = input.substr(0, nul);
   size_t marks = 0;
   for (size_t at = 0; (at = source.find("[~]", at)) != std::string::npos; at += 3) {
      marks++;
   }
   Check(raw.size() + 2 * marks == source.size(), "replacement length");

   const RegistryValueData d = RegistryValue_Encode(raw, formatted);
   if (!raw.empty() && raw[0] == '#') {
      Check(d.type == REGISTRY_VALUE_DWORD && d.bytes.size() == 4, "DWORD shape");
      uint32_t v = 0;
      for (int i = 3; i >= 0; i--) {
         v = v << 8 | static_cast<uint8_t>(d.bytes[i]);
      }
      Check(static_cast<int32_t>(v) == RegistryValue_ParseDword(formatted), "DWORD bytes");
      return 0;
   }
   std::string expected = formatted + '\0';
   const bool list = formatted.find('~') != std::string::npos;
   Check(d.type == (list ? REGISTRY_VALUE_MULTI_SZ : REGISTRY_VALUE_SZ), "string type");
   if (list) {
      for (char &c : expected) {
         c = c == '~' ? '\0' : c;
      }
      expected += '\0';
   }
   Check(d.bytes == expected, "string bytes");
   return 0;
}
