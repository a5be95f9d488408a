// The narrow engine, one test per directive family. What C99 printf also
// does is compared with the runtime in format_differential_test; here are
// the engine's own rules and the edges that test does not reach.
#include "lib/string/bsd_vsnprintf.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <clocale>
#include <cstdint>
#include <cstring>
#include <string>

#include "tests/unit/formatTestUtil.h"

using formattest::Call;
using formattest::Fmt;

namespace {

#define EXPECT_FMT(expected, ...) EXPECT_EQ(expected, Fmt(__VA_ARGS__)) << #__VA_ARGS__

TEST(BsdVsnprintf, LengthModifiers)
{
   const uint64_t big = static_cast<uint64_t>(1) << 40;
   EXPECT_FMT("1099511627776 1099511627776 -5 -5 -5", "%I64u %I64U %Ld %qd %I64d", big, big, -5LL, -5LL, -5LL);
   EXPECT_FMT("-1 4294967295", "%I32d %I32u", -1, -1);
   EXPECT_FMT("18446744073709551615 18446744073709551615", "%Zu %Iu", SIZE_MAX, SIZE_MAX);
   // D, O, U read a long unless a modifier says otherwise.
   EXPECT_FMT("-7 17 9", "%D %O %U", -7L, 15L, 9L);
}

TEST(BsdVsnprintf, GroupingFollowsTheLocale)
{
   const std::string saved = setlocale(LC_ALL, nullptr);
   auto use = [](auto... names) { return ((setlocale(LC_ALL, names) != nullptr) || ...); };
   EXPECT_TRUE(use("en_US.UTF-8", "English_United States.1252", "English")) << "no English locale";
   // Only decimal is grouped.
   EXPECT_FMT("-1,234,567 999 1,000|  1,234|1,234,567.89|0x12345", "%'d %'d %'u|%'7d|%'.2f|%'#x",
              -1234567, 999, 1000u, 1234, 1234567.891, 0x12345);
   EXPECT_TRUE(use("de_DE.UTF-8", "German_Germany.1252", "German")) << "no German locale";
   EXPECT_FMT("1.234.567,89 2,5e+00", "%'.2f %.1e", 1234567.891, 2.5);
   setlocale(LC_ALL, saved.c_str());
}

TEST(BsdVsnprintf, Strings)
{
   EXPECT_FMT("  (null)|(null)", "%8s|%S", static_cast<const char *>(nullptr),
              static_cast<const utf16_t *>(nullptr));
   // UTF-16 to UTF-8; precision limits bytes and never cuts a character.
   const utf16_t mixed[] = {'w', 0xE9, 0x20AC, 0xD83D, 0xDE00, 0};
   EXPECT_FMT("w\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80|w|w\xC3\xA9|w\xC3\xA9\xE2\x82\xAC",
              "%ls|%.2S|%.4S|%.9S", mixed, mixed, mixed, mixed);
   // With a precision nothing past what it admits is read (no terminator
   // needed): the pair would need 4 more bytes.
   utf16_t *open = new utf16_t[3]{'a', 'b', 0xD83D};
   EXPECT_FMT("ab", "%.5S", open);
   delete[] open;
   // Width counts the UTF-8 bytes; a lone surrogate ends its argument only.
   const utf16_t lone[] = {'a', 0xD800, 'b', 0}, trailing[] = {'a', 0xDC00, 0};
   EXPECT_FMT("  w\xC3\xA9|a|a|z", "%5S|%S|%S|%s", U16TEXT("w\u00e9"), lone, trailing, "z");
   // %C and %lc: one unit, converted.
   EXPECT_FMT("\xE2\x82\xAC|  \xC3\xA9|x", "%C|%4lc|%C", 0x20AC, 0xE9, 'x');
}

TEST(BsdVsnprintf, UnknownConversionsAndTheEnd)
{
   // An unknown conversion prints its character and takes no argument.
   EXPECT_FMT("   y|5", "%4y|%d", 5);
   // A '%' at the very end (or a directive cut by the end) ends the output.
   EXPECT_FMT("abc", "abc%");
   EXPECT_FMT("abc", "abc%-08.3l");
   EXPECT_EQ(3, Call<char>(nullptr, 0, "abc%"));
}

TEST(BsdVsnprintf, PositionalArguments)
{
   // Mixed types are fetched in argument order, whatever the format order.
   EXPECT_FMT("2.50 -1099511627776 x x", "%3$.2f %2$lld %1$s %1$s", "x",
              -(static_cast<long long>(1) << 40), 2.5);
   EXPECT_FMT("[   42|42   |3.14]", "[%2$*1$d|%2$-*1$d|%3$.*4$f]", 5, 42, 3.14159, 2);
   // A directive that takes no argument may sit among numbered ones.
   EXPECT_FMT("% 7|b a", "%% %1$d|%3$s %2$s", 7, "a", "b");
   // A format numbers all its arguments or none.
   for (const char *f : {"%1$d %d", "%d %1$d", "%1$*d"}) {
      EXPECT_EQ(-1, Call<char>(nullptr, 0, f, 1, 2)) << f;
   }
}

TEST(BsdVsnprintf, CountStoredByN)
{
   // Each modifier stores the count in exactly its own bytes.
   const struct { const char *format; size_t bytes; } kCases[] = {
      {"a%hhn", 1}, {"ab%hn", 2}, {"abc%n", 4}, {"abcd%ln", sizeof(long)}, {"a%lln", 8},
      {"ab%jn", 8}, {"abc%tn", 8}, {"abcd%zn", 8}, {"abcde%Zn", 8}, {"a%I64n", 8}, {"ab%I32n", 4}};
   for (const auto &c : kCases) {
      SCOPED_TRACE(c.format);
      alignas(8) unsigned char got[24], want[24];
      memset(got, 0xAA, sizeof got);
      memset(want, 0xAA, sizeof want);
      const uint64_t count = strchr(c.format, '%') - c.format;
      memcpy(want + 8, &count, c.bytes);   // little-endian
      EXPECT_EQ(std::string(c.format, count), Fmt(c.format, static_cast<void *>(got + 8)));
      EXPECT_EQ(0, memcmp(want, got, sizeof got));
   }
   // The count is of the whole text, also past a cut.
   char buf[4], *p = buf;
   int n = -1;
   EXPECT_EQ(8, Call(&p, sizeof buf, "abcdefg%nh", &n));
   EXPECT_EQ(7, n);
   EXPECT_STREQ("abc", buf);
}

TEST(BsdVsnprintf, FloatingPoint)
{
   EXPECT_FMT("1.5", "%Lg", static_cast<long double>(1.5));
   // Digits past the runtime's 349-byte digit buffer are zeros: "2." then
   // 347 more of the runtime's digits, then zeros to the exponent.
   char exact[600];
   formattest::Runtime(exact, sizeof exact, "%.400e", DBL_MIN);
   EXPECT_EQ(std::string(exact).replace(349, 402 - 349, 402 - 349, '0'), Fmt("%.400e", DBL_MIN));
   EXPECT_EQ("0.5" + std::string(399, '0'), Fmt("%.400f", 0.5));
   // All 309 integer digits of the binary value, as the runtime prints them.
   formattest::Runtime(exact, sizeof exact, "%.0f", 1e308);
   EXPECT_EQ(309u, strlen(exact));
   EXPECT_EQ(exact, Fmt("%.0f", 1e308));
}

TEST(BsdVsnprintf, PointersAndOutputTargets)
{
   int x = 0;
   EXPECT_EQ(Fmt("0x%llx|0x0", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&x))),
             Fmt("%p|%p", static_cast<void *>(&x), static_cast<void *>(nullptr)));
   // A size of 0 leaves the buffer and its pointer alone.
   char small[8] = "#", *p = small;
   EXPECT_EQ(3, Call(&p, 0, "abc"));
   EXPECT_EQ('#', small[0]);
   EXPECT_EQ(small, p);
   // Allocating mode: exact text, any length.
   EXPECT_EQ(std::string(4999, '0') + "7", Fmt("%05000d", 7));
   // Results above 0x7FFFFFFF fail, counted, in a buffer and allocating
   // (refused before anything that large is allocated).
   EXPECT_EQ(0x7FFFFFFF, Call<char>(nullptr, 0, "%2147483646d%c", 1, 'x'));
   for (const char *f : {"%2147483647d%c", "%2147483648d", "%.2147483648d", "%1025$d", "%*d"}) {
      EXPECT_EQ(-1, Call<char>(nullptr, 0, f, f[1] == '*' ? INT_MIN : 1, 'x')) << f;
   }
   EXPECT_EQ(-1, Call(&p, sizeof small, "%2147483647d%c", 1, 'x'));
   EXPECT_STREQ("       ", small);
   char *out = nullptr;
   EXPECT_EQ(-1, Call(&out, 0, "xy%2147483647c", 'z'));
   EXPECT_EQ(nullptr, out);
   EXPECT_EQ(-1, Call<char>(nullptr, 0, nullptr));
}

}  // namespace
