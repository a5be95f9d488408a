#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/msiUtilText.h"

TEST(PackProductCode, PacksOnlyTheBracedFormIntoRoomForTheNul)
{
   const std::string ex = "{12345678-ABCD-EF01-2345-6789ABCDEF01}";
   const size_t kRoom = MSI_PACKED_CODE_SIZE;
   // packed null: refused, leaving "" in out when it has room for it.
   const struct { const char *label; std::string code; size_t room; const char *packed; } cases[] = {
      {"the installer's example", ex, kRoom, "87654321DCBA10FE32547698BADCFE10"},
      {"case kept, every pair distinct", "{0A1b2C3d-4E5f-6A7b-8C9d-0E1F2a3B4c5D}", kRoom,
       "d3C2b1A0f5E4b7A6C8d9E0F1a2B3c4D5"},
      {"no room for the NUL", ex, kRoom - 1, nullptr},
      {"no room at all: nothing written", ex, 0, nullptr},
      {"empty", "", kRoom, nullptr},
      {"closing brace missing (37)", ex.substr(0, 37), kRoom, nullptr},
      {"one character more (39)", ex + "0", kRoom, nullptr},
      {"parentheses for braces", "(" + ex.substr(1, 36) + ")", kRoom, nullptr},
      {"hyphen one place early", "{1234567-8ABCD-EF01-2345-6789ABCDEF01}", kRoom, nullptr},
      {"hyphen for a digit", "{12345678-ABCD-EF01-2345-6789ABCDEF0-}", kRoom, nullptr},
      {"G is no hex digit", "{12345678-ABCD-EF01-2345-6789ABCDEFG1}", kRoom, nullptr},
      {"backslash in a group", "{12345678-AB\\D-EF01-2345-6789ABCDEF01}", kRoom, nullptr},
      {"NUL inside", ex.substr(0, 20) + '\0' + ex.substr(21), kRoom, nullptr},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      char out[MSI_PACKED_CODE_SIZE + 1];
      memset(out, '#', sizeof out);
      EXPECT_EQ(c.packed != nullptr, MsiUtil_PackProductCode(c.code.c_str(), out, c.room));
      std::string want(sizeof out, '#');
      if (c.packed != nullptr) {
         want.replace(0, kRoom, c.packed, kRoom);   // with its NUL
      } else if (c.room > 0) {
         want[0] = '\0';
      }
      EXPECT_EQ(want, std::string(out, sizeof out));
   }
   char out[MSI_PACKED_CODE_SIZE];
   EXPECT_FALSE(MsiUtil_PackProductCode(nullptr, out, sizeof out));
   EXPECT_FALSE(MsiUtil_PackProductCode(ex.c_str(), nullptr, sizeof out));
}
