// Bounded string functions and the process-ending checks behind them.
#include "lib/string/str.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "lib/misc/panic.h"
#include "tests/unit/formatTestUtil.h"

using formattest::kPanicExitCode;

namespace {

const char kE[] = "\xC3\xA9";            // é, two bytes
const char kEuro[] = "\xE2\x82\xAC";     // €, three bytes
const char kSmile[] = "\xF0\x9F\x98\x80"; // four bytes

TEST(TextSnprintf, TruncationNeverSplitsAUtf8Sequence)
{
   char buf[16];
   // 'abcdé' is six bytes.
   EXPECT_EQ(-1, Text_Snprintf(buf, 5, "abcd%s", kE));
   EXPECT_STREQ("abcd", buf);
   EXPECT_EQ(-1, Text_Snprintf(buf, 6, "abcd%s", kE));
   EXPECT_STREQ("abcd", buf);
   EXPECT_EQ(6, Text_Snprintf(buf, 7, "abcd%s", kE));
   EXPECT_STREQ("abcd\xC3\xA9", buf);

   // Every cut of a three- and a four-byte character, right after 'a'.
   for (const char *ch : {kEuro, kSmile}) {
      size_t len = strlen(ch);
      for (size_t size = 2; size <= len + 1; size++) {
         SCOPED_TRACE(testing::Message() << len << "-byte char, size " << size);
         EXPECT_EQ(-1, Text_Snprintf(buf, size, "a%s", ch));
         EXPECT_STREQ("a", buf);
      }
      EXPECT_EQ(static_cast<int>(len + 1), Text_Snprintf(buf, len + 2, "a%s", ch));
   }

   // A character that the cut leaves whole is kept.
   EXPECT_EQ(-1, Text_Snprintf(buf, 5, "ab%sz", kE));
   EXPECT_STREQ("ab\xC3\xA9", buf);
   // A lead byte is kept only with exactly the bytes it announces: fewer
   // (a run of continuation bytes only) or more both end the text before it.
   EXPECT_EQ(-1, Text_Snprintf(buf, 3, "%s", "\x80\x80\x80"));
   EXPECT_STREQ("", buf);
   EXPECT_EQ(-1, Text_Snprintf(buf, 4, "%s", "\xC3\xA9\x80\x80"));
   EXPECT_STREQ("", buf);
   // A call that fails part-way gets the same cut.
   EXPECT_EQ(-1, Text_Snprintf(buf, 6, "abcd%s%1$d %d", kE, 1, 2));
   EXPECT_STREQ("abcd", buf);
   EXPECT_EQ(-1, Text_Snprintf(buf, 6, "abcd%s%2147483647d", kE, 1));
   EXPECT_STREQ("abcd", buf);
}

TEST(TextSnprintf, ZeroSizeWritesNothing)
{
   char buf[4] = {'#', '#', '#', '#'};
   EXPECT_EQ(-1, Text_Snprintf(buf, 0, "abc"));
   EXPECT_EQ('#', buf[0]);
   EXPECT_EQ(-1, Text_Snprintf(nullptr, 0, "abc"));
   EXPECT_EQ(0, Text_Snprintf(buf, 1, ""));
   EXPECT_STREQ("", buf);
}

TEST(TextAsprintf, AllocatesTheWholeText)
{
   size_t len = 0;
   char *s = Text_Asprintf(&len, "%s-%04d", "id", 7);
   ASSERT_NE(nullptr, s);
   EXPECT_STREQ("id-0007", s);
   EXPECT_EQ(7u, len);
   free(s);

   std::string big(3000, 'x');
   s = Text_Asprintf(nullptr, "[%s]", big.c_str());
   ASSERT_NE(nullptr, s);
   EXPECT_EQ("[" + big + "]", s);
   free(s);

   len = 99;
   EXPECT_EQ(nullptr, Text_Asprintf(&len, "%1$d %d", 1, 2));
   EXPECT_EQ(99u, len);

   s = Text_SafeAsprintf(&len, "%S", U16TEXT("ok"));
   ASSERT_NE(nullptr, s);
   EXPECT_STREQ("ok", s);
   EXPECT_EQ(2u, len);
   free(s);
}

TEST(TextBoundedCopies, FitExactlyUpToTheLastByte)
{
   char buf[6];
   EXPECT_EQ(buf, Text_Strcpy(buf, "abcde", sizeof buf));
   EXPECT_STREQ("abcde", buf);
   Text_Strcpy(buf, "ab", sizeof buf);
   EXPECT_EQ(buf, Text_Strcat(buf, "cde", sizeof buf));
   EXPECT_STREQ("abcde", buf);
   EXPECT_EQ(5, Text_Sprintf(buf, sizeof buf, "%d", 12345));
   EXPECT_STREQ("12345", buf);

   utf16_t wbuf[4];
   EXPECT_EQ(3, Text_Swprintf(wbuf, 4, U16TEXT("%s"), "a\xC3\xA9z"));
   const utf16_t expect[] = {'a', 0xE9, 'z', 0};
   EXPECT_EQ(0, memcmp(expect, wbuf, sizeof expect));
}

TEST(TextPanicsDeathTest, TooSmallBuffersEndTheProcess)
{
   char buf[6];
   utf16_t wbuf[3];
   EXPECT_EXIT(Text_Strcpy(buf, "abcdef", sizeof buf),
               testing::ExitedWithCode(kPanicExitCode),
               "lib/string/str:.* Buffer too small");
   EXPECT_EXIT((Text_Strcpy(buf, "abc", sizeof buf), Text_Strcat(buf, "def", sizeof buf)),
               testing::ExitedWithCode(kPanicExitCode),
               "lib/string/str:.* Buffer too small");
   EXPECT_EXIT(Text_Sprintf(buf, sizeof buf, "%d", 123456),
               testing::ExitedWithCode(kPanicExitCode),
               "lib/string/str:.* Buffer too small");
   EXPECT_EXIT(Text_Swprintf(wbuf, 3, U16TEXT("abc")),
               testing::ExitedWithCode(kPanicExitCode),
               "lib/string/str:.* Buffer too small");
   EXPECT_EXIT(Text_SafeAsprintf(nullptr, "%1$d %d", 1, 2),
               testing::ExitedWithCode(kPanicExitCode),
               "VERIFY lib/string/str:");
}

TEST(UtilPanicDeathTest, AssertionFormsNameTheModule)
{
   EXPECT_STREQ("lib/misc/win32u", Util_PanicModuleName("/src/tree/lib/misc/win32u.cpp"));
   EXPECT_STREQ("common/log", Util_PanicModuleName("common/log.cpp"));
   EXPECT_STREQ("lib/string/str", Util_PanicModuleName("/usr/lib/x/lib/string/str.cpp"));
   EXPECT_STREQ("lib/misc/win32u", Util_PanicModuleName("C:\\src\\lib\\misc\\win32u.cpp"));
   EXPECT_EXIT(VERIFY(1 + 1 == 3), testing::ExitedWithCode(kPanicExitCode),
               "VERIFY .*tests/unit/str_test:");
   EXPECT_EXIT(Util_Panic("NOT_REACHED %s:%d\n", "lib/misc/codeset", 42),
               testing::ExitedWithCode(kPanicExitCode), "NOT_REACHED lib/misc/codeset:42");
   EXPECT_EXIT(Util_Panic("Unrecoverable memory allocation failure\n"),
               testing::ExitedWithCode(kPanicExitCode),
               "Unrecoverable memory allocation failure");
}

}  // namespace
