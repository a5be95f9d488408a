// The registry-table value encodings, with the stored bytes written out.
#include "common/registryValue.h"

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

TEST(RegistryValue, ReplaceTildeMarks)
{
   const struct { const char *raw, *replaced; } cases[] = {
      {"a[~]b", "a~b"}, {"[~][~]", "~~"}, {"[[~]~]", "[~~]"}, {"[[~]]", "[~]"}, {"[~", "[~"}, {"", ""},
   };
   for (const auto &c : cases) {
      EXPECT_EQ(c.replaced, RegistryValue_ReplaceTildeMarks(c.raw)) << c.raw;
   }
}

TEST(RegistryValue, Encode)
{
   const auto dword = [](uint32_t v) { return std::string(reinterpret_cast<const char *>(&v), 4); };
   const struct { const char *label; std::string raw, formatted; uint32_t type; std::string bytes;
   } cases[] = {
      {"#42", "#42", "#42", REGISTRY_VALUE_DWORD, dword(42)},
      {"from a property", "#[P]", "#7", REGISTRY_VALUE_DWORD, dword(7)},
      {"#x1F", "#x1F", "#x1F", REGISTRY_VALUE_DWORD, dword(0)},
      {"#%5", "#%5", "#%5", REGISTRY_VALUE_DWORD, dword(0)},
      {"##5", "##5", "##5", REGISTRY_VALUE_DWORD, dword(5)},
      {"every # dropped", "#1#2", "#1#2", REGISTRY_VALUE_DWORD, dword(12)},
      {"blanks and sign", "#  -17x", "#  -17x", REGISTRY_VALUE_DWORD, dword(uint32_t(-17))},
      {"+ sign", "#+3", "#+3", REGISTRY_VALUE_DWORD, dword(3)},
      {"clamped high", "#99999999999999999999", "#99999999999999999999", REGISTRY_VALUE_DWORD, dword(0x7FFFFFFF)},
      {"clamped low", "#-3000000000", "#-3000000000", REGISTRY_VALUE_DWORD, dword(0x80000000)},
      {"just #", "#", "#", REGISTRY_VALUE_DWORD, dword(0)},
      {"# only after formatting", "[P]", "#5", REGISTRY_VALUE_SZ, "#5\0"s},
      {"list", "a~b", "a~b", REGISTRY_VALUE_MULTI_SZ, "a\0b\0\0"s},
      {"~ from a property", "[D]", "C:\\PROGRA~1\\", REGISTRY_VALUE_MULTI_SZ, "C:\\PROGRA\0" "1\\\0\0"s},
      {"trailing ~", "a~", "a~", REGISTRY_VALUE_MULTI_SZ, "a\0\0\0"s},
      {"text", "text", "text", REGISTRY_VALUE_SZ, "text\0"s},
      {"empty", "", "", REGISTRY_VALUE_SZ, "\0"s},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      const RegistryValueData d = RegistryValue_Encode(c.raw, c.formatted);
      EXPECT_EQ(c.type, d.type);
      EXPECT_EQ(c.bytes, d.bytes);
   }
}

}  // namespace
