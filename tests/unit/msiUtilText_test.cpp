#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/msiUtilText.h"

namespace {

struct Split {
   std::vector<std::string> tokens;
   uint32_t end;
};

// The callers' loop: tokens while the position is below the length.
Split SplitAll(const std::string &source, const std::string &delimiter)
{
   Split s;
   uint32_t pos = 0;
   while (pos < source.size()) {
      s.tokens.push_back(Util_NextToken(source, delimiter, pos));
   }
   s.end = pos;
   return s;
}

using V = std::vector<std::string>;

} // namespace

TEST(NextToken, SplitsWithoutTrimmingOrMerging)
{
   struct Case {
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
   };
   for (const Case &c : cases) {
      SCOPED_TRACE(c.label);
      Split s = SplitAll(c.source, c.delimiter);
      EXPECT_EQ(c.tokens, s.tokens);
      EXPECT_EQ(strlen(c.source), s.end);
   }
}

TEST(NextToken, AtTheEndGivesTheEmptyTokenAndStays)
{
   uint32_t pos = 4;
   EXPECT_EQ("", Util_NextToken("a;b;", ";", pos));
   EXPECT_EQ(4u, pos);
   pos = 0;
   EXPECT_EQ("", Util_NextToken("", ";", pos));
   EXPECT_EQ(0u, pos);
}

TEST(NextToken, WideFormMatchesTheNarrowOne)
{
   uint32_t pos = 0;
   const WideString source = U16TEXT("C:\\a;\u00e9t\u00e9;;x");
   EXPECT_EQ(WideString(U16TEXT("C:\\a")), Util_NextTokenW(source, U16TEXT(";"), pos));
   EXPECT_EQ(WideString(U16TEXT("\u00e9t\u00e9")), Util_NextTokenW(source, U16TEXT(";"), pos));
   EXPECT_EQ(WideString(), Util_NextTokenW(source, U16TEXT(";"), pos));
   EXPECT_EQ(WideString(U16TEXT("x")), Util_NextTokenW(source, U16TEXT(";"), pos));
   EXPECT_EQ(source.size(), pos);
}
