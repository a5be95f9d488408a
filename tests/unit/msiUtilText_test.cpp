// Tokens of a delimited text and the packed form of a product code.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/msiUtilText.h"

using V = std::vector<std::string>;

// The callers' loop, tokens while the position is below the length; then
// calls at and past the end give the empty token and leave the length.
TEST(NextToken, SplitsWithoutTrimmingOrMerging)
{
   const struct { const char *source, *delimiter; V tokens; } cases[] = {
      {"a;;b", ";", {"a", "", "b"}},
      {"a;b;", ";", {"a", "b"}},
      {";a", ";", {"", "a"}},
      {" a ; b ", ";", {" a ", " b "}},
      {"x, y", ", ", {"x", " y"}},   // the advance is one character
      {"ab;", ";;", {"ab;"}},        // delimiter longer than the rest
      {"ab", "", {"", ""}},
      {"", ";", {}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.source + std::string(" by ") + c.delimiter);
      const std::string source = c.source;
      V tokens;
      uint32_t pos = 0;
      while (pos < source.size()) {
         tokens.push_back(Util_NextToken(source, c.delimiter, pos));
      }
      EXPECT_EQ(c.tokens, tokens);
      for (uint32_t start : {uint32_t(source.size()), uint32_t(source.size() + 3), ~0u}) {
         pos = start;
         EXPECT_EQ("", Util_NextToken(source, c.delimiter, pos));
         EXPECT_EQ(source.size(), pos) << "from " << start;
      }
   }
   uint32_t pos = 0;
   const WideString wide = U16TEXT("C:\\a;\u00e9t\u00e9;;x");
   for (const auto *token : {U16TEXT("C:\\a"), U16TEXT("\u00e9t\u00e9"), U16TEXT(""), U16TEXT("x")}) {
      EXPECT_EQ(WideString(token), Util_NextTokenW(wide, U16TEXT(";"), pos));
   }
   pos = 99;
   EXPECT_EQ(WideString(), Util_NextTokenW(wide, U16TEXT(";"), pos));
   EXPECT_EQ(wide.size(), pos);
}

// Only the braced form packs, into room for the NUL; a refused code leaves
// "" in the output when it has room. Malformed codes in general are the
// fuzz harness's (an accepted code must unpack to its input).
TEST(PackProductCode, PacksOnlyTheBracedFormIntoRoomForTheNul)
{
   const std::string ex = "{12345678-ABCD-EF01-2345-6789ABCDEF01}";
   const size_t kRoom = MSI_PACKED_CODE_SIZE;
   const struct { std::string code; size_t room; const char *packed; } cases[] = {
      {ex, kRoom, "87654321DCBA10FE32547698BADCFE10"},
      {"{0A1b2C3d-4E5f-6A7b-8C9d-0E1F2a3B4c5D}", kRoom, "d3C2b1A0f5E4b7A6C8d9E0F1a2B3c4D5"},
      {ex, kRoom - 1, nullptr},
      {ex, 0, nullptr},   // nothing written
      {"", kRoom, nullptr},
      {ex.substr(0, 37), kRoom, nullptr},
      {ex + "0", kRoom, nullptr},
      {"{12345678-ABCD-EF01-2345-6789ABCDEFG1}", kRoom, nullptr},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.code + " into " + std::to_string(c.room));
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
