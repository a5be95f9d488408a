// The narrow engine, one test per directive family.
#include "lib/string/bsd_vsnprintf.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "tests/unit/formatTestUtil.h"

using formattest::Fmt;
using formattest::FmtCount;

namespace {

// Switches the process locale for one test; the first name that the
// runtime knows wins. A test that needs a locale fails when none is known.
class ScopedLocale {
public:
   explicit ScopedLocale(std::initializer_list<const char *> names)
   {
      const char *old = setlocale(LC_ALL, nullptr);
      saved_ = old != nullptr ? old : "C";
      for (const char *name : names) {
         if (setlocale(LC_ALL, name) != nullptr) {
            active_ = name;
            break;
         }
      }
   }
   ~ScopedLocale() { setlocale(LC_ALL, saved_.c_str()); }
   bool ok() const { return !active_.empty(); }

private:
   std::string saved_;
   std::string active_;
};

// The engine into a caller-chosen target.
int Call(char **out, size_t size, const char *format, ...)
{
   va_list ap;
   va_start(ap, format);
   int r = bsd_vsnprintf(out, size, format, ap);
   va_end(ap);
   return r;
}

#define EXPECT_FMT(expected, ...) EXPECT_EQ(expected, Fmt(__VA_ARGS__)) << #__VA_ARGS__

TEST(BsdVsnprintf, IntegerFlagsWidthAndPrecision)
{
   EXPECT_FMT("[   42|42   |00042|+42| 42]", "[%5d|%-5d|%05d|%+d|% d]", 42, 42, 42, 42, 42);
   EXPECT_FMT("[-0042|  -042|-42   ]", "[%05d|%6.3d|%-6d]", -42, -42, -42);
   // '-' beats '0'; a precision turns zero padding off; '+' beats ' '.
   EXPECT_FMT("[7    |  007|+7]", "[%-05d|%05.3d|%+ d]", 7, 7, 7);
   // A zero with precision 0 has no digits, except under '#' for octal.
   EXPECT_FMT("[||   |0|0x1f|0X1F|017|0]", "[%.0d|%.0x|%3.0u|%#.0o|%#x|%#X|%#o|%#x]", 0, 0, 0, 0, 31, 31, 15, 0);
   EXPECT_FMT("[-2147483648|4294967295|2147483647]", "[%d|%u|%i]", INT_MIN, UINT_MAX, INT_MAX);
   // Unsigned conversions take no sign.
   EXPECT_FMT("[ff|17]", "[%+x|% o]", 255u, 15u);
}

TEST(BsdVsnprintf, LengthModifiers)
{
   EXPECT_FMT("1099511627776", "%I64u", static_cast<uint64_t>(1) << 40);
   EXPECT_FMT("-9223372036854775808 18446744073709551615", "%lld %llu", LLONG_MIN, ULLONG_MAX);
   EXPECT_FMT("-5 -5 -5", "%Ld %qd %I64d", -5LL, -5LL, -5LL);
   EXPECT_FMT("44 4464 -1", "%hhd %hu %hd", 300, 70000, 65535);
   EXPECT_FMT("-1 4294967295", "%I32d %I32u", -1, -1);
   EXPECT_FMT("18446744073709551615 18446744073709551615 18446744073709551615",
              "%zu %Zu %Iu", SIZE_MAX, SIZE_MAX, SIZE_MAX);
   EXPECT_FMT("-3 -4", "%jd %td", static_cast<intmax_t>(-3), static_cast<ptrdiff_t>(-4));
   // D, O, U read a long unless a modifier says otherwise.
   EXPECT_FMT("-7 17 9", "%D %O %U", -7L, 15L, 9L);
   EXPECT_FMT("1099511627776", "%I64U", static_cast<uint64_t>(1) << 40);
   // A modifier narrows what was passed as a wider int.
   EXPECT_FMT("ff ffff", "%hhx %hx", -1, -1);
}

TEST(BsdVsnprintf, GroupingFollowsTheLocale)
{
   EXPECT_FMT("1234567", "%'d", 1234567);   // the C locale has no separator
   {
      ScopedLocale loc({"en_US.UTF-8", "English_United States.1252", "English"});
      ASSERT_TRUE(loc.ok()) << "no English locale";
      EXPECT_FMT("1,234,567", "%'d", 1234567);
      EXPECT_FMT("-1,234,567 999 1,000", "%'d %'d %'u", -1234567, 999, 1000u);
      EXPECT_FMT("  1,234", "%'7d", 1234);
      EXPECT_FMT("1,234,567.89", "%'.2f", 1234567.891);
      EXPECT_FMT("1.5", "%.1f", 1.5);
      EXPECT_FMT("0x12345", "%'#x", 0x12345);   // only decimal is grouped
   }
   {
      ScopedLocale loc({"de_DE.UTF-8", "German_Germany.1252", "German"});
      ASSERT_TRUE(loc.ok()) << "no German locale";
      EXPECT_FMT("1.234.567,89", "%'.2f", 1234567.891);
      EXPECT_FMT("2,5e+00", "%.1e", 2.5);
   }
}

TEST(BsdVsnprintf, Utf8Strings)
{
   EXPECT_FMT("[hello|  abc|ab   |]", "[%s|%5.3s|%-5.2s|%s]", "hello", "abcdef", "ab", "");
   EXPECT_FMT("(null) (null)", "%s %S", static_cast<const char *>(nullptr),
              static_cast<const utf16_t *>(nullptr));
   EXPECT_FMT("  (null)", "%8s", static_cast<const char *>(nullptr));
   // Narrow %s counts bytes: width and precision are in bytes.
   EXPECT_FMT(" \xC3\xA9|\xC3", "%3s|%.1s", "\xC3\xA9", "\xC3\xA9");
}

TEST(BsdVsnprintf, Utf16StringsConvertToUtf8)
{
   const utf16_t mixed[] = {'w', 0xE9, 0x20AC, 0xD83D, 0xDE00, 0};
   EXPECT_FMT("w\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "%S", mixed);
   EXPECT_FMT("w\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "%ls", mixed);
   // Precision limits bytes and never cuts a character.
   EXPECT_FMT("w", "%.2S", mixed);
   EXPECT_FMT("w\xC3\xA9", "%.4S", mixed);
   EXPECT_FMT("w\xC3\xA9\xE2\x82\xAC", "%.9S", mixed);
   // With a precision the argument need not be terminated: nothing past
   // what the precision admits is read.
   utf16_t *open = new utf16_t[3]{'a', 'b', 0xD83D};
   EXPECT_FMT("ab", "%.2S", open);
   EXPECT_FMT("ab", "%.5S", open);   // the pair would need 4 more bytes
   delete[] open;
   // Width counts the UTF-8 bytes produced.
   EXPECT_FMT("  w\xC3\xA9|", "%5S|", U16TEXT("w\u00e9"));
   // A lone surrogate ends the conversion of that argument only.
   const utf16_t lone[] = {'a', 0xD800, 'b', 0};
   const utf16_t trailing[] = {'a', 0xDC00, 0};
   EXPECT_FMT("a|a|z", "%S|%S|%s", lone, trailing, "z");
   // %C and %lc: one unit, converted.
   EXPECT_FMT("\xE2\x82\xAC|  \xC3\xA9|x", "%C|%4lc|%C", 0x20AC, 0xE9, 'x');
}

TEST(BsdVsnprintf, CharactersPercentAndUnknownConversions)
{
   EXPECT_FMT("[Z|  Z|Z  ]", "[%c|%3c|%-3c]", 'Z', 'Z', 'Z');
   EXPECT_FMT("100%", "100%%");
   // An unknown conversion prints its character, takes no argument.
   EXPECT_FMT("y", "%y");
   EXPECT_FMT("   y|5", "%4y|%d", 5);
   // A '%' at the very end (or a directive cut by the end) ends the output.
   EXPECT_FMT("abc", "abc%");
   EXPECT_FMT("abc", "abc%-08.3l");
   EXPECT_EQ(3, FmtCount("abc%"));
   // %c of 0 produces a NUL byte, counted.
   EXPECT_EQ(std::string("a\0b", 3), Fmt("a%cb", 0));
}

TEST(BsdVsnprintf, PositionalArguments)
{
   EXPECT_FMT("b a", "%2$s %1$s", "a", "b");
   EXPECT_FMT("b a b", "%2$s %1$s %2$s", "a", "b");
   // Mixed types are fetched in argument order, whatever the format order.
   EXPECT_FMT("2.50 -1099511627776 x", "%3$.2f %2$lld %1$s", "x",
              -(static_cast<long long>(1) << 40), 2.5);
   EXPECT_FMT("[   42|42   ]", "[%2$*1$d|%2$-*1$d]", 5, 42);
   EXPECT_FMT("[3.14]", "[%2$.*1$f]", 2, 3.14159);
   // A format numbers all its arguments or none.
   EXPECT_EQ(-1, FmtCount("%1$d %d", 1, 2));
   EXPECT_EQ(-1, FmtCount("%d %1$d", 1, 2));
   EXPECT_EQ(-1, FmtCount("%1$*d", 1, 2));
   // A directive that takes no argument may sit among numbered ones.
   EXPECT_FMT("% 7", "%% %1$d", 7);
}

TEST(BsdVsnprintf, StarWidthAndPrecision)
{
   EXPECT_FMT("[   42|42   |   ab]", "[%*d|%*d|%*.*s]", 5, 42, -5, 42, 5, 2, "abcd");
   // A negative precision counts as none.
   EXPECT_FMT("[abcd|3.141593]", "[%.*s|%.*f]", -1, "abcd", -3, 3.1415926);
   EXPECT_EQ(-1, FmtCount("%*d", INT_MIN, 1));
}

TEST(BsdVsnprintf, CountStoredByN)
{
   int i = -1;
   signed char hh = -1;
   short h = -1;
   long l = -1;
   long long ll = -1;
   size_t z = 0;
   EXPECT_FMT("abcdef", "ab%ncd%hhn%hne%lnf%lln%zn", &i, &hh, &h, &l, &ll, &z);
   EXPECT_EQ(2, i);
   EXPECT_EQ(4, hh);
   EXPECT_EQ(4, h);
   EXPECT_EQ(5L, l);
   EXPECT_EQ(6LL, ll);
   EXPECT_EQ(6u, z);
   // Each width writes exactly its own bytes.
   struct {
      unsigned char before[8];
      union {
         intmax_t j;
         ptrdiff_t t;
         long long i64;
         size_t z;
         int32_t i32;
         unsigned char bytes[8];
      } v;
      unsigned char after[8];
   } g;
   auto fresh = [&g] { memset(&g, 0xAA, sizeof g); };
   auto guardsIntact = [&g] {
      for (int k = 0; k < 8; k++) {
         if (g.before[k] != 0xAA || g.after[k] != 0xAA) {
            return false;
         }
      }
      return true;
   };
   fresh();
   Fmt("abc%jn", &g.v.j);
   EXPECT_EQ(3, g.v.j);
   EXPECT_TRUE(guardsIntact());
   fresh();
   Fmt("abcd%tn", &g.v.t);
   EXPECT_EQ(4, g.v.t);
   fresh();
   Fmt("ab%I64n", &g.v.i64);
   EXPECT_EQ(2, g.v.i64);
   fresh();
   Fmt("abcde%Zn", &g.v.z);
   EXPECT_EQ(5u, g.v.z);
   fresh();
   Fmt("a%I32n", &g.v.i32);
   EXPECT_EQ(1, g.v.i32);
   EXPECT_EQ(0xAA, g.v.bytes[4]);   // a 32-bit store leaves the rest
   fresh();
   Fmt("abc%hhn", &g.v.bytes[0]);
   EXPECT_EQ(3, g.v.bytes[0]);
   EXPECT_EQ(0xAA, g.v.bytes[1]);
   EXPECT_TRUE(guardsIntact());

   // The count is of the whole text, also past a cut.
   char buf[4];
   char *p = buf;
   int n = -1;
   EXPECT_EQ(8, Call(&p, sizeof buf, "abcdefg%nh", &n));
   EXPECT_EQ(7, n);
   EXPECT_STREQ("abc", buf);
}

TEST(BsdVsnprintf, FloatingPoint)
{
   EXPECT_FMT("3.141593 3.141590e+04 0.0001 1e+06 1E-05", "%f %e %g %g %G", 3.1415926, 31415.9, 0.0001, 1e6, 1e-5);
   // Round half to even on the exact binary value, as the runtime does.
   EXPECT_FMT("2 2 0.1 1.0e+01", "%.0f %.0f %.1f %.1e", 2.5, 1.5, 0.05, 9.96);
   EXPECT_FMT("100000 1e+06 10 0.0001 1.00000 1.e+00 3.", "%g %g %.3g %g %#g %#.0e %#.0f", 100000.0, 999999.5, 9.9999, 0.0001, 1.0, 1.0, 3.0);
   EXPECT_FMT("[  -3.14|2.00  |-000002.50|+1.2e+04]", "[%7.2f|%-6.2f|%010.2f|%+.1e]", -3.14159, 2.0, -2.5, 12345.678);
   EXPECT_FMT("-0.000000 -0 -0.00", "%f %g %.2f", -0.0, -0.0, -0.001);
   EXPECT_FMT("inf -inf INF nan NAN", "%f %e %G %g %F", INFINITY, -INFINITY, INFINITY, NAN, NAN);
   EXPECT_FMT("[  +inf|inf   |  -inf]", "[%+6f|%-6f|%06f]", INFINITY, INFINITY, -INFINITY);
   EXPECT_FMT("1e+300 1.797693e+308 4.940656e-324 2.225074e-308", "%g %e %e %e", 1e300, DBL_MAX, 4.9406564584124654e-324, DBL_MIN);
   EXPECT_FMT("1.5", "%Lg", static_cast<long double>(1.5));
   // Digits past the runtime's 349-byte digit buffer are zeros.
   std::string e400 = Fmt("%.400e", DBL_MIN);
   char exactE[600];
#ifdef _WIN32
   __mingw_snprintf(exactE, sizeof exactE, "%.400e", DBL_MIN);
#else
   snprintf(exactE, sizeof exactE, "%.400e", DBL_MIN);
#endif
   ASSERT_EQ(strlen(exactE), e400.size());
   // "2." then 347 more of the runtime's digits, then zeros to the exponent.
   EXPECT_EQ(std::string(exactE, 349), e400.substr(0, 349));
   EXPECT_EQ(std::string(402 - 349, '0'), e400.substr(349, 402 - 349));
   EXPECT_NE(std::string(exactE), e400);
   std::string wide = Fmt("%.400f", 0.5);
   ASSERT_EQ(402u, wide.size());
   EXPECT_EQ("0.5" + std::string(399, '0'), wide);
   // All 309 integer digits of the binary value, as the runtime prints them.
   char exact[400];
#ifdef _WIN32
   __mingw_snprintf(exact, sizeof exact, "%.0f", 1e308);
#else
   snprintf(exact, sizeof exact, "%.0f", 1e308);
#endif
   std::string big = Fmt("%.0f", 1e308);
   EXPECT_EQ(309u, big.size());
   EXPECT_EQ(exact, big);
}

TEST(BsdVsnprintf, Pointers)
{
   int x = 0;
   char expect[32];
   snprintf(expect, sizeof expect, "0x%llx",
            static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&x)));
   EXPECT_EQ(expect, Fmt("%p", static_cast<void *>(&x)));
   EXPECT_FMT("0x0", "%p", static_cast<void *>(nullptr));
}

TEST(BsdVsnprintf, OutputTargets)
{
   // A caller buffer gets size - 1 characters and a terminator; the result
   // is the length of the whole text.
   char buf[8];
   memset(buf, '#', sizeof buf);
   char *p = buf;
   EXPECT_EQ(11, Call(&p, 5, "%s", "hello world"));
   EXPECT_EQ(0, memcmp(buf, "hell\0###", 8));
   // Size 0 with a buffer writes nothing.
   memset(buf, '#', sizeof buf);
   EXPECT_EQ(3, Call(&p, 0, "abc"));
   EXPECT_EQ('#', buf[0]);
   EXPECT_EQ(buf, p);

   // Allocating mode: exact text, any length.
   char *out = nullptr;
   EXPECT_EQ(0, Call(&out, 0, ""));
   ASSERT_NE(nullptr, out);
   EXPECT_STREQ("", out);
   free(out);
   out = nullptr;
   EXPECT_EQ(5000, Call(&out, 0, "%05000d", 7));
   ASSERT_NE(nullptr, out);
   EXPECT_EQ(std::string(4999, '0') + "7", out);
   free(out);
}

TEST(BsdVsnprintf, ResultsAboveTheLimitFail)
{
   EXPECT_EQ(0x7FFFFFFF, FmtCount("%2147483646d%c", 1, 'x'));
   EXPECT_EQ(-1, FmtCount("%2147483647d%c", 1, 'x'));
   EXPECT_EQ(-1, FmtCount("%2147483648d", 1));
   EXPECT_EQ(-1, FmtCount("%.2147483648d", 1));
   EXPECT_EQ(-1, FmtCount("%1025$d", 1));
   // The same limit holds with a buffer and when allocating.
   char small[8];
   char *p = small;
   EXPECT_EQ(-1, Call(&p, sizeof small, "%2147483647d%c", 1, 'x'));
   EXPECT_STREQ("       ", small);
   char *out = nullptr;
   // (Refused before anything that large is allocated.)
   EXPECT_EQ(-1, Call(&out, 0, "xy%2147483647c", 'z'));
   EXPECT_EQ(nullptr, out);
   EXPECT_EQ(-1, FmtCount(nullptr));
}

}  // namespace
