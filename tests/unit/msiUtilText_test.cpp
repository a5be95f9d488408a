#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/msiUtilText.h"

using V = std::vector<std::string>;

// The callers' loop, tokens while the position is below the length; then
// one more call at the end, which gives the empty token and stays.
TEST(NextToken, SplitsWithoutTrimmingOrMerging)
{
   const struct {
      const char *label, *source, *delimiter;
      V tokens;
   } cases[] = {
      {"adjacent delimiters", "a;;b", ";", {"a", "", "b"}},
      {"trailing delimiter", "a;b;", ";", {"a", "b"}},
      {"leading delimiter", ";a", ";", {"", "a"}},
      {"blanks kept", " a ; b ", ";", {" a ", " b "}},
      {"no delimiter", "abc", ";", {"abc"}},
      // The advance is one character whatever the delimiter's length.
      {"two-character delimiter", "x, y", ", ", {"x", " y"}},
      {"delimiter longer than the rest", "ab;", ";;", {"ab;"}},
      {"empty delimiter", "ab", "", {"", ""}},
      {"empty source", "", ";", {}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      const std::string source = c.source;
      V tokens;
      uint32_t pos = 0;
      while (pos < source.size()) {
         tokens.push_back(Util_NextToken(source, c.delimiter, pos));
      }
      EXPECT_EQ(c.tokens, tokens);
      EXPECT_EQ(source.size(), pos);
      EXPECT_EQ("", Util_NextToken(source, c.delimiter, pos));
      EXPECT_EQ(source.size(), pos);
   }
}

TEST(NextToken, WideFormMatchesTheNarrowOne)
{
   uint32_t pos = 0;
   const WideString source = U16TEXT("C:\\a;\u00e9t\u00e9;;x");
   for (const WideString &token : {U16TEXT("C:\\a"), U16TEXT("\u00e9t\u00e9"), U16TEXT(""), U16TEXT("x")}) {
      EXPECT_EQ(token, Util_NextTokenW(source, U16TEXT(";"), pos));
   }
   EXPECT_EQ(source.size(), pos);
}
