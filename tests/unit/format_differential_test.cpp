// The engine against the C runtime on deterministically generated cases
// (formatDiffer.h says what is generated and how it is compared).
#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <random>

#include "tests/unit/formatDiffer.h"

namespace {

using namespace formattest;

// The standard distributions differ between library implementations (the
// output of mt19937_64 does not), and the Windows and host trees must see
// the same cases; for the same reason no two draws are arguments of one call.
struct Rng {
   std::mt19937_64 next;
   int Range(int lo, int hi) { return lo + int(next() % uint64_t(hi - lo + 1)); }
   bool Percent(int pct) { return Range(0, 99) < pct; }
   uint64_t Bits() { return next(); }
   template <class T, size_t N>
   const T &Pick(const T (&items)[N]) { return items[next() % N]; }
};

struct Differ {
   // Both formatters follow LC_NUMERIC; the comparison is meant for "C".
   explicit Differ(uint64_t seed) : rng{std::mt19937_64(seed)}, cuts(~seed) {
      setlocale(LC_ALL, "C");
   }
   // The cut sizes draw from their own stream, so that a case skipped in
   // one tree does not shift the cases after it.
   Rng rng;
   std::mt19937_64 cuts;
   int failures = 0, skipped = 0;

   const char *String() { return rng.Pick(kStrings); }
   template <class... A>
   void Check(const std::string &format, A... args) {
      auto fail = [this](const std::string &what) {
         if (++failures <= 20) {
            ADD_FAILURE() << what;
         }
      };
      Compare(fail, cuts(), format.c_str(), args...);
   }
};

TEST(FormatDifferential, RandomDirectives) {
   uint64_t seed = 0x1D15EA5E;
   for (auto draw : {RandomInteger<Differ>, RandomFloat<Differ>, RandomStringAndChar<Differ>}) {
      Differ df(seed++);
      for (int i = 0; i < 10000; i++) {
         draw(df);
      }
      // The guards are for rare runtime faults only.
      EXPECT_LT(df.skipped, 500) << "seed " << seed - 1;
   }
}

// Every float edge and every power of ten with its binary neighbours (for
// rounding over the whole exponent range) through fixed directives.
TEST(FormatDifferential, FloatEdges) {
   std::vector<double> values(std::begin(kDoubleEdges), std::end(kDoubleEdges));
   for (int k = -323; k <= 308; k++) {
      const double ten = PowerOfTen(k);
      values.insert(values.end(), {ten, std::nextafter(ten, 0.0), std::nextafter(ten, HUGE_VAL)});
   }
   Differ df(2);
   for (double v : values) {
      for (const char *fmt : {"%.17e", "%#.0e", "%+12.4E", "%.16g", "%#.3G", "%-+12g", "%#.0g",
                              "%.3f", "%#.0f", "%- 12.3F", "%012.3f", "%'.2f"}) {
         Comparable(fmt, v) ? df.Check(fmt, v) : void(df.skipped++);
      }
   }
}

TEST(FormatDifferential, MultipleDirectives) {
   Differ df(3);
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
