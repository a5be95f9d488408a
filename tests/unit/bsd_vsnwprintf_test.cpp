// The wide engine: same directives, UTF-16 output, %s converted from UTF-8.
#include "lib/string/bsd_vsnprintf.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "tests/unit/formatTestUtil.h"

using formattest::U16String;
using formattest::WFmt;

namespace {

int WCall(utf16_t **out, size_t size, const utf16_t *format, ...)
{
   va_list ap;
   va_start(ap, format);
   int r = bsd_vsnwprintf(out, size, format, ap);
   va_end(ap);
   return r;
}

TEST(BsdVsnwprintf, NumbersAndCharacters)
{
   EXPECT_EQ("[  -42|0x1f|1099511627776|2.50|y|%]",
             WFmt(U16TEXT("[%5d|%#x|%I64u|%.2f|%y|%%]"), -42, 31,
                  static_cast<unsigned long long>(1) << 40, 2.5));
   EXPECT_EQ("b a", WFmt(U16TEXT("%2$S %1$S"), U16TEXT("a"), U16TEXT("b")));
   EXPECT_EQ("A|\xE2\x82\xAC|  Z", WFmt(U16TEXT("%c|%C|%3lc"), 'A', 0x20AC, 'Z'));
   EXPECT_EQ("abc", WFmt(U16TEXT("abc%")));
}

TEST(BsdVsnwprintf, Utf8StringArgumentsAreConverted)
{
   // Two-, three- and four-byte sequences; the last becomes a pair.
   utf16_t *out = nullptr;
   ASSERT_EQ(5, WCall(&out, 0, U16TEXT("%s"), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"));
   const utf16_t expect[] = {'a', 0xE9, 0x20AC, 0xD83D, 0xDE00, 0};
   EXPECT_EQ(0, memcmp(expect, out, sizeof expect));
   free(out);
   // Width counts UTF-16 units.
   EXPECT_EQ("  \xC3\xA9\xE2\x82\xAC|", WFmt(U16TEXT("%4s|"), "\xC3\xA9\xE2\x82\xAC"));
   EXPECT_EQ("(null)|(null)", WFmt(U16TEXT("%s|%S"), static_cast<const char *>(nullptr),
                                   static_cast<const utf16_t *>(nullptr)));
   // A precision limits the UTF-8 bytes read; a character it cuts is dropped.
   EXPECT_EQ("a", WFmt(U16TEXT("%.2s"), "a\xC3\xA9z"));
   EXPECT_EQ("a\xC3\xA9", WFmt(U16TEXT("%.3s"), "a\xC3\xA9z"));
   // Invalid UTF-8 fails the whole call.
   EXPECT_EQ("<error>", WFmt(U16TEXT("ok %s"), "\xC3("));
   EXPECT_EQ("<error>", WFmt(U16TEXT("%s"), "\xC0\xAF"));          // overlong '/'
   EXPECT_EQ("<error>", WFmt(U16TEXT("%s"), "\xED\xA0\x80"));      // a surrogate
   EXPECT_EQ("<error>", WFmt(U16TEXT("%s"), "\xF4\x90\x80\x80"));  // above U+10FFFF
   EXPECT_EQ("<error>", WFmt(U16TEXT("%s"), "ab\xE2\x82"));        // cut by the end
}

TEST(BsdVsnwprintf, Utf16StringArgumentsPassAsTheyAre)
{
   const utf16_t lone[] = {'a', 0xD800, 'b', 0};
   utf16_t buf[8];
   utf16_t *p = buf;
   ASSERT_EQ(3, WCall(&p, 8, U16TEXT("%S"), lone));
   EXPECT_EQ(0, memcmp(lone, buf, sizeof lone));
   EXPECT_EQ(" ab", WFmt(U16TEXT("%3.2S"), U16TEXT("abc")));
}

TEST(BsdVsnwprintf, OutputTargets)
{
   utf16_t buf[6];
   for (utf16_t &c : buf) {
      c = '#';
   }
   utf16_t *p = buf;
   EXPECT_EQ(9, WCall(&p, 4, U16TEXT("%s-%d"), "abcd", 1234));
   const utf16_t expect[] = {'a', 'b', 'c', 0, '#', '#'};
   EXPECT_EQ(0, memcmp(expect, buf, sizeof expect));

   utf16_t *out = nullptr;
   ASSERT_EQ(3000, WCall(&out, 0, U16TEXT("%3000s"), "x"));
   EXPECT_EQ('x', out[2999]);
   EXPECT_EQ(0, out[3000]);
   free(out);
}

}  // namespace
