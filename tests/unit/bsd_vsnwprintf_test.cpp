// The wide engine: the narrow one's directives (shared code), UTF-16
// output, %s converted from UTF-8.
#include "lib/string/bsd_vsnprintf.h"

#include <gtest/gtest.h>

#include "tests/unit/formatTestUtil.h"

using formattest::Call;
using formattest::Fmt;

namespace {

TEST(BsdVsnwprintf, NumbersAndCharacters)
{
   EXPECT_EQ(U16TEXT("[  -42|0x1f|1099511627776|2.50|y|%|A|\u20ac|  Z]abc"),
             Fmt(U16TEXT("[%5d|%#x|%I64u|%.2f|%y|%%|%c|%C|%3lc]abc%"), -42, 31,
                  static_cast<unsigned long long>(1) << 40, 2.5, 'A', 0x20AC, 'Z'));
}

TEST(BsdVsnwprintf, Utf8StringArgumentsAreConverted)
{
   // Two-, three- and four-byte sequences (the last becomes a pair); width
   // counts UTF-16 units; a precision limits the UTF-8 bytes read, and a
   // character it cuts is dropped.
   EXPECT_EQ(U16TEXT("a\u00e9\u20ac\U0001F600| \u00e9\U0001F600|a|a\u00e9|(null)|(null)"),
             Fmt(U16TEXT("%s|%4s|%.2s|%.3s|%s|%S"), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
                  "\xC3\xA9\xF0\x9F\x98\x80", "a\xC3\xA9z", "a\xC3\xA9z",
                  static_cast<const char *>(nullptr), static_cast<const utf16_t *>(nullptr)));
   // Invalid UTF-8 fails the whole call: cut, overlong '/', a surrogate,
   // above U+10FFFF, cut by the end.
   for (const char *bad : {"\xC3(", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "ab\xE2\x82"}) {
      EXPECT_EQ(-1, Call<utf16_t>(nullptr, 0, U16TEXT("ok %s"), bad)) << bad;
   }
}

TEST(BsdVsnwprintf, Utf16StringArgumentsPassAsTheyAre)
{
   const utf16_t lone[] = {'a', 0xD800, 'b', 0};
   EXPECT_EQ(lone, Fmt(U16TEXT("%S"), lone));
   EXPECT_EQ(U16TEXT(" ab"), Fmt(U16TEXT("%3.2S"), U16TEXT("abc")));
}

TEST(BsdVsnwprintf, OutputTargets)
{
   utf16_t buf[6] = {'#', '#', '#', '#', '#', '#'}, *p = buf;
   EXPECT_EQ(9, Call(&p, 4, U16TEXT("%s-%d"), "abcd", 1234));
   EXPECT_EQ(formattest::U16String(U16TEXT("abc\0##"), 6), formattest::U16String(buf, 6));
   EXPECT_EQ(formattest::U16String(2999, ' ') + U16TEXT("x"), Fmt(U16TEXT("%3000s"), "x"));
}

}  // namespace
