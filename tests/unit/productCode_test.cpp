#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/msiUtilText.h"

namespace {

const char kExample[] = "{12345678-ABCD-EF01-2345-6789ABCDEF01}";
const char kBeyond = '#';   // what the tests put after the room they give

} // namespace

TEST(PackProductCode, ReordersTheGroupsAndKeepsCase)
{
   struct Case {
      const char *label, *code, *packed;
   } cases[] = {
      {"the installer's example", kExample, "87654321DCBA10FE32547698BADCFE10"},
      {"lower case stays lower", "{12345678-abcd-ef01-2345-6789abcdef01}",
       "87654321dcba10fe32547698badcfe10"},
      {"mixed case, every pair distinct", "{0A1b2C3d-4E5f-6A7b-8C9d-0E1F2a3B4c5D}",
       "d3C2b1A0f5E4b7A6C8d9E0F1a2B3c4D5"},
   };
   for (const Case &c : cases) {
      SCOPED_TRACE(c.label);
      char out[MSI_PACKED_CODE_SIZE + 1];
      memset(out, kBeyond, sizeof out);
      ASSERT_TRUE(MsiUtil_PackProductCode(c.code, out, MSI_PACKED_CODE_SIZE));
      EXPECT_EQ(std::string(c.packed), out);
      EXPECT_EQ(kBeyond, out[MSI_PACKED_CODE_SIZE]);
   }
}

TEST(PackProductCode, RejectsAnythingButTheBracedForm)
{
   const std::string example = kExample;
   struct Case {
      const char *label;
      std::string code;
   } cases[] = {
      {"empty", ""},
      {"closing brace missing (37)", example.substr(0, 37)},
      {"one character more (39)", example + "0"},
      {"no braces (36)", example.substr(1, 36)},
      {"parentheses for braces", "(" + example.substr(1, 36) + ")"},
      {"hyphen one place early", "{1234567-8ABCD-EF01-2345-6789ABCDEF01}"},
      {"hyphen for a digit", "{12345678-ABCD-EF01-2345-6789ABCDEF0-}"},
      {"G is no hex digit", "{12345678-ABCD-EF01-2345-6789ABCDEFG1}"},
      {"backslash in a group", "{12345678-AB\\D-EF01-2345-6789ABCDEF01}"},
      {"NUL inside", example.substr(0, 20) + '\0' + example.substr(21)},
   };
   for (const Case &c : cases) {
      SCOPED_TRACE(c.label);
      char out[MSI_PACKED_CODE_SIZE];
      memset(out, kBeyond, sizeof out);
      EXPECT_FALSE(MsiUtil_PackProductCode(c.code.c_str(), out, sizeof out));
      EXPECT_EQ('\0', out[0]);
   }
   char out[MSI_PACKED_CODE_SIZE];
   EXPECT_FALSE(MsiUtil_PackProductCode(nullptr, out, sizeof out));
   EXPECT_FALSE(MsiUtil_PackProductCode(kExample, nullptr, sizeof out));
}

TEST(PackProductCode, NeedsRoomForTheTerminator)
{
   char out[MSI_PACKED_CODE_SIZE];
   memset(out, kBeyond, sizeof out);
   EXPECT_FALSE(MsiUtil_PackProductCode(kExample, out, MSI_PACKED_CODE_SIZE - 1));
   EXPECT_EQ('\0', out[0]);
   EXPECT_EQ(std::string(MSI_PACKED_CODE_SIZE - 1, kBeyond), std::string(out + 1, sizeof out - 1));
   // No room at all: nothing is written.
   out[0] = kBeyond;
   EXPECT_FALSE(MsiUtil_PackProductCode(kExample, out, 0));
   EXPECT_EQ(kBeyond, out[0]);
}
