// The narrow engine against the C runtime on generated cases (formatDiffer.h
// says what is generated and how it is compared); then the engines' own
// rules and the edges that comparison does not reach; the wide engine; the
// bounded string functions and the process-ending checks behind them.
#include "lib/string/bsd_vsnprintf.h"

#include <gtest/gtest.h>

#include <climits>
#include <clocale>

#include "lib/misc/panic.h"
#include "tests/unit/formatDiffer.h"

using namespace formattest;

namespace {

#define EXPECT_FMT(expected, ...) EXPECT_EQ(expected, Fmt(__VA_ARGS__)) << #__VA_ARGS__

// The standard distributions differ between library implementations (the
// output of mt19937_64 does not), and the Windows and host trees must see
// the same cases. Both formatters follow LC_NUMERIC; the comparison is
// meant for "C".
TEST(FormatDifferential, RandomDirectivesAndEdges)
{
   setlocale(LC_ALL, "C");
   std::mt19937_64 draws(0x1D15EA5E);
   Differ df{[&draws](int) { return draws(); }, [](const std::string &what) { ADD_FAILURE() << what; },
             std::mt19937_64(2)};
   for (int i = 0; i < 30000 && !HasFailure(); i++) {
      (i < 10000 ? RandomInteger : i < 20000 ? RandomFloat : RandomStringAndChar)(df);
   }
   // The guard is for rare runtime faults only.
   EXPECT_LT(df.skipped, 500);
   // Every power of ten with its binary neighbours, for rounding over the
   // whole exponent range, and every float edge, through fixed directives.
   for (int k = -323; k <= 308; k++) {
      const double ten = PowerOfTen(k), edge = kDoubleEdges[size_t(k + 323) % std::size(kDoubleEdges)];
      for (double v : {ten, std::nextafter(ten, 0.0), std::nextafter(ten, HUGE_VAL), edge}) {
         for (const char *fmt : {"%.17e", "%#.0e", "%+12.4E", "%.16g", "%.3G", "%-+12g", "%.3f", "%#.0f", "%'.2f"}) {
            Comparable(fmt, v) && !HasFailure() ? df.Check(fmt, v) : void();
         }
      }
   }
}

TEST(BsdVsnprintf, LengthModifiersAndConversions)
{
   // D, O, U read a long unless a modifier says otherwise. An unknown
   // conversion prints its character and takes no argument.
   EXPECT_FMT("1099511627776 1099511627776 -5 -5|   y|-1 4294967295|18446744073709551615 18446744073709551615|-7 17 9",
              "%I64u %I64U %Ld %qd|%4y|%I32d %I32u|%Zu %Iu|%D %O %U", 1ULL << 40, 1ULL << 40, -5LL, -5LL, -1, -1,
              SIZE_MAX, SIZE_MAX, -7L, 15L, 9L);
   // A '%' at the very end ends the output.
   EXPECT_EQ(3, Call<char>(nullptr, 0, "abc%"));
   // What glibc gets wrong: %#g keeps its zeros when rounding carries into e style.
   EXPECT_FMT("0.500000|1.00|1.e+02|1.00e+03|1.5", "%#g|%#.3G|%#.0g|%#.3g|%Lg", 0.5, 1.0, 100.0, 999.9, 1.5L);
}

TEST(BsdVsnprintf, GroupingFollowsTheLocale)
{
   const std::string saved = setlocale(LC_ALL, nullptr);
   auto use = [](auto... names) { return ((setlocale(LC_ALL, names) != nullptr) || ...); };
   EXPECT_TRUE(use("en_US.UTF-8", "English_United States.1252", "English")) << "no English locale";
   // Only decimal is grouped.
   EXPECT_FMT("-1,234,567 999 1,000|  1,234|1,234,567.89|0x12345", "%'d %'d %'u|%'7d|%'.2f|%'#x", -1234567, 999,
              1000u, 1234, 1234567.891, 0x12345);
   EXPECT_TRUE(use("de_DE.UTF-8", "German_Germany.1252", "German")) << "no German locale";
   EXPECT_FMT("1.234.567,89 2,5e+00", "%'.2f %.1e", 1234567.891, 2.5);
   setlocale(LC_ALL, saved.c_str());
}

TEST(BsdVsnprintf, Utf16ArgumentsPositionsAndCountStoredByN)
{
   // Precision limits bytes and never cuts a character; width counts the
   // UTF-8 bytes; a lone surrogate ends its argument only.
   const utf16_t mixed[] = {'w', 0xE9, 0x20AC, 0xD83D, 0xDE00, 0}, lone[] = {'a', 0xD800, 'b', 0};
   const utf16_t trail[] = {'a', 0xDC00, 0};
   EXPECT_FMT("w\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80|w|w\xC3\xA9\xE2\x82\xAC|  w\xC3\xA9|a|a|  (null)|(null)|"
              "\xE2\x82\xAC|  \xC3\xA9",
              "%ls|%.2S|%.9S|%5.3S|%S|%S|%8s|%S|%C|%4lc", mixed, mixed, mixed, mixed, lone, trail,
              static_cast<const char *>(nullptr), static_cast<const utf16_t *>(nullptr), 0x20AC, 0xE9);
   // With a precision nothing past what it admits is read (no terminator
   // needed): the pair would need 4 more bytes.
   utf16_t *open = new utf16_t[3]{'a', 'b', 0xD83D};
   EXPECT_FMT("ab", "%.5S", open);
   delete[] open;
   // Mixed types are fetched in argument order, whatever the format order;
   // a directive that takes no argument may sit among numbered ones.
   EXPECT_FMT("% 2.50 -1099511627776 x x", "%% %3$.2f %2$lld %1$s %1$s", "x", -(1LL << 40), 2.5);
   EXPECT_FMT("[   42|42   |3.14]|b a", "[%2$*1$d|%2$-*1$d|%3$.*4$f]|%6$s %5$s", 5, 42, 3.14159, 2, "a", "b");
   EXPECT_EQ(-1, Call<char>(nullptr, 0, "%d %1$d", 1, 2)) << "a format numbers all its arguments or none";
   // Each modifier stores the count in exactly its own bytes.
   const struct { const char *format; size_t bytes; } kCases[] = {
      {"a%hhn", 1}, {"ab%hn", 2}, {"abc%n", 4}, {"abcd%ln", sizeof(long)}, {"a%lln", 8}, {"ab%I32n", 4}};
   for (const auto &c : kCases) {
      const uint64_t fill = 0xAAAAAAAAAAAAAAAAull, mask = c.bytes == 8 ? ~0ull : (1ull << 8 * c.bytes) - 1;
      uint64_t got = fill;   // little-endian; ASan sees a store past it
      const std::string text = Fmt(c.format, static_cast<void *>(&got));
      EXPECT_EQ((fill & ~mask) | text.size(), got) << c.format << " gave " << text;
   }
}

TEST(BsdVsnprintf, LongDigitsPointersAndLimits)
{
   // Digits past the runtime's 349-byte digit buffer are zeros: "2." then
   // 347 more of the runtime's digits, then zeros to the exponent.
   char exact[600];
   Runtime(exact, sizeof exact, "%.400e", DBL_MIN);
   EXPECT_EQ(std::string(exact).replace(349, 402 - 349, 402 - 349, '0'), Fmt("%.400e", DBL_MIN));
   // All 309 integer digits of the binary value, as the runtime prints them.
   EXPECT_EQ(309, Runtime(exact, sizeof exact, "%.0f", 1e308));
   EXPECT_EQ(exact, Fmt("%.0f", 1e308));
   // A size of 0 leaves the buffer and its pointer alone.
   char small[8] = "#", *p = small;
   EXPECT_TRUE(Call(&p, 0, "abc") == 3 && small[0] == '#' && p == small);
   // Results above 0x7FFFFFFF fail, counted, in a buffer and allocating
   // (refused before anything that large is allocated).
   EXPECT_EQ(0x7FFFFFFF, Call<char>(nullptr, 0, "%2147483646d%c", 1, 'x'));
   for (const char *f : {"%2147483647d%c", "%2147483648d", "%.2147483648d", "%1025$d", "%*d"}) {
      EXPECT_EQ(-1, Call<char>(nullptr, 0, f, f[1] == '*' ? INT_MIN : 1, 'x')) << f;
   }
   EXPECT_TRUE(Call(&p, sizeof small, "%2147483647d%c", 1, 'x') == -1 && std::string(small) == "       ");
   char *out = nullptr;
   EXPECT_TRUE(Call(&out, 0, "xy%2147483647c", 'z') == -1 && out == nullptr);
   EXPECT_EQ(-1, Call<char>(nullptr, 0, nullptr));
}

TEST(BsdVsnwprintf, Utf16OutputAndUtf8Arguments)
{
   // %s converts: width counts UTF-16 units; a precision limits the UTF-8
   // bytes read, and a character it cuts is dropped. %S passes as it is.
   const utf16_t lone[] = {'a', 0xD800, 'b', 0};
   EXPECT_EQ(U16TEXT("[  -42|0x1f|2.50|y|%|A|\u20ac|  Z]a\u00e9\u20ac\U0001F600| \u00e9\U0001F600|a|a\u00e9|(null)|")
                U16TEXT(" ab|") + U16String(lone),
             Fmt(U16TEXT("[%5d|%#x|%.2f|%y|%%|%c|%C|%3lc]%s|%4s|%.2s|%.3s|%s|%3.2S|%S%"), -42, 31, 2.5, 'A', 0x20AC,
                 'Z', "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xF0\x9F\x98\x80", "a\xC3\xA9z", "a\xC3\xA9z",
                 static_cast<const char *>(nullptr), U16TEXT("abc"), lone));
   // Invalid UTF-8 fails the whole call.
   EXPECT_EQ(-1, Call<utf16_t>(nullptr, 0, U16TEXT("ok %s|%s"), "ok", "ab\xE2\x82"));
   utf16_t buf[6] = {'#', '#', '#', '#', '#', '#'}, *p = buf;
   EXPECT_TRUE(Call(&p, 4, U16TEXT("%s-%d"), "abcd", 1234) == 9 &&
               U16String(buf, 6) == U16String(U16TEXT("abc\0##"), 6));
   EXPECT_EQ(U16String(2999, ' ') + U16TEXT("x"), Fmt(U16TEXT("%3000s"), "x"));
}

TEST(TextSnprintf, TruncationNeverSplitsAUtf8Sequence)
{
   // A lead byte is kept only with exactly the bytes it announces: fewer
   // (continuation bytes only) or more both end the text before it. A call
   // that fails part-way gets the same cut.
   const struct { size_t size; const char *format; int result; const char *text; } kCases[] = {
      {5, "abcd%s", -1, "abcd"}, {6, "abcd%s", -1, "abcd"}, {7, "abcd%s", 6, "abcd\xC3\xA9"},
      {3, "\x80\x80\x80", -1, ""}, {4, "%s\x80\x80", -1, ""}, {6, "abcd%s%1$d %d", -1, "abcd"},
      {6, "abcd%s%2147483647d", -1, "abcd"}};
   char buf[16];
   for (const auto &c : kCases) {
      EXPECT_EQ(c.result, Text_Snprintf(buf, c.size, c.format, "\xC3\xA9", 1, 2)) << c.format << " size " << c.size;
      EXPECT_STREQ(c.text, buf) << c.format << " size " << c.size;
   }
   EXPECT_EQ(-1, Text_Snprintf(nullptr, 0, "abc"));
}

// The bounded functions fit exactly up to the last byte; one more ends the
// process.
TEST(TextBoundedDeathTest, FitExactlyOneMoreEndsTheProcess)
{
   size_t len = 99;
   EXPECT_TRUE(Text_Asprintf(&len, "%1$d %d", 1, 2) == nullptr && len == 99);
   char *s = Text_SafeAsprintf(&len, "%s-%04d%S", "id", 7, U16TEXT("\u00e9"));
   EXPECT_TRUE(std::string(s) == "id-0007\xC3\xA9" && len == 9) << s << " " << len;
   free(s);
   char buf[6];
   utf16_t wbuf[4];
   EXPECT_TRUE(Text_Sprintf(buf, sizeof buf, "%d", 12345) == 5 && std::string(buf) == "12345");
   EXPECT_TRUE(Text_Swprintf(wbuf, 4, U16TEXT("%s"), "a\xC3\xA9z") == 3 && U16String(wbuf) == U16TEXT("a\u00e9z"));
   EXPECT_STREQ("abcde", Text_Strcpy(buf, "abcde", sizeof buf));
   Text_Strcpy(buf, "ab", sizeof buf);
   EXPECT_STREQ("abcde", Text_Strcat(buf, "cde", sizeof buf));
   const auto panic = testing::ExitedWithCode(kPanicExitCode);
   EXPECT_EXIT(Text_Strcat(buf, "f", sizeof buf), panic, "lib/string/str:.* Buffer too small");
   EXPECT_EXIT(Text_Strcpy(buf, "abcdef", sizeof buf), panic, "lib/string/str:.* Buffer too small");
   EXPECT_EXIT(Text_Sprintf(buf, sizeof buf, "%d", 123456), panic, "lib/string/str:.* Buffer too small");
   EXPECT_EXIT(Text_Swprintf(wbuf, 4, U16TEXT("abcd")), panic, "lib/string/str:.* Buffer too small");
   EXPECT_EXIT(Text_SafeAsprintf(nullptr, "%1$d %d", 1, 2), panic, "VERIFY lib/string/str:");
   // The module is named from the last source-tree folder in the path on.
   EXPECT_STREQ("lib/misc/win32u", Util_PanicModuleName("C:\\usr\\lib\\x\\lib\\misc\\win32u.cpp"));
   EXPECT_EXIT(VERIFY(1 + 1 == 3), panic, "VERIFY .*tests/unit/bsd_vsnprintf_test:");
}

}  // namespace
