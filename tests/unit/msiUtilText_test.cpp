// Tokens of a delimited text and the packed form of a product code.
#include <gtest/gtest.h>


#include "common/msiUtilText.h"

// The callers' loop, tokens while the position is below the length; then
// calls at and past the end give the empty token and leave the length.
TEST(NextToken, SplitsWithoutTrimmingOrMerging)
{
   const struct { const char *source, *delimiter; std::vector<std::string> tokens; } cases[] = {
      {"a;;b", ";", {"a", "", "b"}}, {"a;b;", ";", {"a", "b"}}, {";a", ";", {"", "a"}}, {"", ";", {}},
      {" a ; b ", ";", {" a ", " b "}}, {"x, y", ", ", {"x", " y"}},   // the advance is one character
      {"ab;", ";;", {"ab;"}}, {"ab", "", {"", ""}}};
   for (const auto &c : cases) {
      const std::string source = c.source;
      std::vector<std::string> tokens;
      for (uint32_t pos = 0; pos < source.size() && tokens.size() <= source.size();) {
         tokens.push_back(Util_NextToken(source, c.delimiter, pos));
      }
      EXPECT_EQ(c.tokens, tokens) << c.source << " by " << c.delimiter;
      for (uint32_t pos : {uint32_t(source.size()), uint32_t(source.size() + 3), ~0u}) {
         EXPECT_TRUE(Util_NextToken(source, c.delimiter, pos).empty() && pos == source.size()) << c.source;
      }
   }
   uint32_t pos = 2;
   EXPECT_EQ(WideString(U16TEXT("\u00e9t\u00e9")), Util_NextTokenW(U16TEXT("a;\u00e9t\u00e9;;x"), U16TEXT(";"), pos));
   EXPECT_EQ(6u, pos);
}

// Only the braced form packs, into room for the NUL; a refused code leaves
// "" in the output when it has room. Malformed codes in general are the
// fuzz harness's (an accepted code must unpack to its input).
TEST(PackProductCode, PacksOnlyTheBracedFormIntoRoomForTheNul)
{
   const char ex[] = "{12345678-ABCD-EF01-2345-6789ABCDEF01}";
   const size_t kRoom = MSI_PACKED_CODE_SIZE;
   const struct { const char *code; size_t room; const char *packed; } cases[] = {
      {"{0A1b2C3d-4E5f-6A7b-8C9d-0E1F2a3B4c5D}", kRoom, "d3C2b1A0f5E4b7A6C8d9E0F1a2B3c4D5"}, {ex, kRoom - 1, nullptr},
      {ex, 0, nullptr}, {nullptr, kRoom, nullptr}, {"{12345678-ABCD-EF01-2345-6789ABCDEF012}", kRoom, nullptr},
      {"{12345678-ABCD-EF01-2345-6789ABCDEFG1}", kRoom, nullptr}};
   for (const auto &c : cases) {
      std::string out(kRoom + 1, '#');
      EXPECT_EQ(c.packed != nullptr, MsiUtil_PackProductCode(c.code, &out[0], c.room)) << c.code << " " << c.room;
      // The packed code with its NUL; "" when refused, unless there is no room.
      const std::string want = c.packed ? std::string(c.packed, kRoom) : std::string(c.room > 0, '\0');
      EXPECT_EQ(want + std::string(out.size() - want.size(), '#'), out) << c.code;
   }
   EXPECT_FALSE(MsiUtil_PackProductCode(ex, nullptr, kRoom));
}
