// Bounded string functions and the process-ending checks behind them.
#include "lib/string/str.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "lib/misc/panic.h"
#include "tests/unit/formatTestUtil.h"

using formattest::kPanicExitCode;

namespace {

TEST(TextSnprintf, TruncationNeverSplitsAUtf8Sequence)
{
   const struct { size_t size; const char *format, *arg; int result; const char *text; } kCases[] = {
      {6, "abcd%s", "\xC3\xA9", -1, "abcd"}, {7, "abcd%s", "\xC3\xA9", 6, "abcd\xC3\xA9"},
      // A character that the cut leaves whole is kept.
      {5, "ab%sz", "\xC3\xA9", -1, "ab\xC3\xA9"},
      // A lead byte is kept only with exactly the bytes it announces: fewer
      // (continuation bytes only) or more both end the text before it.
      {3, "%s", "\x80\x80\x80", -1, ""}, {4, "%s", "\xC3\xA9\x80\x80", -1, ""},
      // A call that fails part-way gets the same cut.
      {6, "abcd%s%1$d %d", "\xC3\xA9", -1, "abcd"}, {6, "abcd%s%2147483647d", "\xC3\xA9", -1, "abcd"}};
   char buf[16];
   for (const auto &c : kCases) {
      SCOPED_TRACE(testing::Message() << c.format << " size " << c.size);
      EXPECT_EQ(c.result, Text_Snprintf(buf, c.size, c.format, c.arg, 1, 2));
      EXPECT_STREQ(c.text, buf);
   }
   // Cuts at random points of random text: format_differential_test.
   EXPECT_EQ(-1, Text_Snprintf(nullptr, 0, "abc"));
}

TEST(TextAsprintf, AllocatesTheWholeText)
{
   size_t len = 0;
   char *s = Text_Asprintf(&len, "%s-%04d", "id", 7);
   EXPECT_EQ("id-0007", std::string(s));
   EXPECT_EQ(7u, len);
   free(s);
   len = 99;
   EXPECT_EQ(nullptr, Text_Asprintf(&len, "%1$d %d", 1, 2));
   EXPECT_EQ(99u, len);
   s = Text_SafeAsprintf(&len, "%S", U16TEXT("ok"));
   EXPECT_EQ("ok", std::string(s));
   EXPECT_EQ(2u, len);
   free(s);
}

TEST(TextBoundedCopies, FitExactlyUpToTheLastByte)
{
   char buf[6];
   EXPECT_STREQ("abcde", Text_Strcpy(buf, "abcde", sizeof buf));
   EXPECT_EQ(buf, Text_Strcpy(buf, "ab", sizeof buf));
   EXPECT_EQ(buf, Text_Strcat(buf, "cde", sizeof buf));
   EXPECT_STREQ("abcde", buf);
   EXPECT_EQ(5, Text_Sprintf(buf, sizeof buf, "%d", 12345));
   EXPECT_STREQ("12345", buf);
   utf16_t wbuf[4];
   EXPECT_EQ(3, Text_Swprintf(wbuf, 4, U16TEXT("%s"), "a\xC3\xA9z"));
   EXPECT_EQ(formattest::U16String(U16TEXT("a\u00e9z")), wbuf);
}

TEST(TextPanicsDeathTest, TooSmallBuffersEndTheProcess)
{
   char buf[6] = "abc";
   utf16_t wbuf[3];
   const std::function<void()> kOverflows[] = {
      [&] { Text_Strcpy(buf, "abcdef", sizeof buf); }, [&] { Text_Strcat(buf, "def", sizeof buf); },
      [&] { Text_Sprintf(buf, sizeof buf, "%d", 123456); },
      [&] { Text_Swprintf(wbuf, 3, U16TEXT("abc")); }};
   for (const auto &overflow : kOverflows) {
      EXPECT_EXIT(overflow(), testing::ExitedWithCode(kPanicExitCode),
                  "lib/string/str:.* Buffer too small");
   }
   EXPECT_EXIT(Text_SafeAsprintf(nullptr, "%1$d %d", 1, 2),
               testing::ExitedWithCode(kPanicExitCode), "VERIFY lib/string/str:");
}

TEST(UtilPanicDeathTest, AssertionFormsNameTheModule)
{
   for (const char *path : {"/src/tree/lib/misc/win32u.cpp", "C:\\src\\lib\\misc\\win32u.cpp"}) {
      EXPECT_STREQ("lib/misc/win32u", Util_PanicModuleName(path));
   }
   EXPECT_STREQ("common/log", Util_PanicModuleName("common/log.cpp"));
   EXPECT_STREQ("lib/string/str", Util_PanicModuleName("/usr/lib/x/lib/string/str.cpp"));
   EXPECT_EXIT(VERIFY(1 + 1 == 3), testing::ExitedWithCode(kPanicExitCode),
               "VERIFY .*tests/unit/str_test:");
}

}  // namespace
