// The engine against the C runtime on deterministically generated cases
// (formatDiffer.h says what is generated and how it is compared).
#include <gtest/gtest.h>

#include <climits>
#include <clocale>

#include "tests/unit/formatDiffer.h"

namespace {

using namespace formattest;

// The standard distributions differ between library implementations (the
// output of mt19937_64 does not), and the Windows and host trees must see
// the same cases. Both formatters follow LC_NUMERIC; the comparison is
// meant for "C".
Differ Seeded(uint64_t seed, int &failures)
{
   setlocale(LC_ALL, "C");
   auto draws = std::make_shared<std::mt19937_64>(seed);
   return Differ{[draws](int) { return (*draws)(); },
                 [&failures](const std::string &what) {
                    if (++failures <= 20) {
                       ADD_FAILURE() << what;
                    }
                 },
                 ~seed};
}

TEST(FormatDifferential, RandomDirectives) {
   uint64_t seed = 0x1D15EA5E;
   int failures = 0;
   for (auto draw : {RandomInteger, RandomFloat, RandomStringAndChar}) {
      Differ df = Seeded(seed++, failures);
      for (int i = 0; i < 10000; i++) {
         draw(df);
      }
      // The guards are for rare runtime faults only.
      EXPECT_LT(df.skipped, 500) << "seed " << seed - 1;
   }
}

// Every float edge and every power of ten with its binary neighbours (for
// rounding over the whole exponent range) through fixed directives; then
// several directives in one format.
TEST(FormatDifferential, FloatEdgesAndMultipleDirectives) {
   std::vector<double> values(std::begin(kDoubleEdges), std::end(kDoubleEdges));
   for (int k = -323; k <= 308; k++) {
      const double ten = PowerOfTen(k);
      values.insert(values.end(), {ten, std::nextafter(ten, 0.0), std::nextafter(ten, HUGE_VAL)});
   }
   int failures = 0;
   Differ df = Seeded(2, failures);
   for (double v : values) {
      for (const char *fmt : {"%.17e", "%#.0e", "%+12.4E", "%.16g", "%#.3G", "%-+12g", "%#.0g",
                              "%.3f", "%#.0f", "%- 12.3F", "%012.3f", "%'.2f"}) {
         Comparable(fmt, v) ? df.Check(fmt, v) : void(df.skipped++);
      }
   }
   df.Check("");
   df.Check("%%|%%%%|%-3d%%[%d|%5s|%-8.3f|%c|%#x]", 7, 42, "ab", 3.14159, 'z', 255u);
   df.Check("%*.*d|%-*.*x|%.*s|%*c|%*.*e", -12, -1, -42, 5, 0, 0xBEEFu, 1, "\xC3\xA9t", -3, 'q', 12,
            3, 12345.678);
   df.Check("%hhd %hd %ld %lld %zu %jd %td %hhu %hu %lu %llu", 300, 70000, -5L, LLONG_MIN,
            size_t(SIZE_MAX), INTMAX_MIN, ptrdiff_t(-77), 511, 131071, ULONG_MAX, ULLONG_MAX);
   df.Check("%s=%g; %s=%G; %s=%e|%#o %#X %#.3e %#.0f %#g %+i % i", "inf", HUGE_VAL, "nan", NAN,
            "min", DBL_TRUE_MIN, 8u, 0xABCu, 1.0, 2.5, 0.5, 0, 0);
   df.Check("%-10s|%10s|%.1s|%c%c%c<%s>%s<%d>|%300d|%-300.200x|%.300e",
            "\xE6\x97\xA5\xE6\x9C\xAC", "\xC3\xA9", "abc", 0xE2, 0x82, 0xAC,
            std::string(1500, 'w').c_str(), "\xF0\x9F\x98\x80", 1, 1, 0xFFu, 1.0 / 7.0);
}

}  // namespace
