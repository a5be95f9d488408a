// The engine against the C runtime's C99 formatter on generated directives,
// for format_differential_test (fixed seeds) and fuzz/format_fuzz. Only
// what both must print alike is generated: no engine extensions, nothing C
// leaves undefined ('0' or '#' with %s and %c, '#' with d/i/u, precision
// with %c, a negative NaN's sign). Where a runtime breaks C99 (Comparable,
// the _WIN32 notes) the case is skipped or steered around.
//
// A Differ draws the cases from its source of bits (a seeded generator, or
// a fuzzer's input) and reports each difference to its `fail`.
#pragma once

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "lib/string/str.h"
#include "tests/unit/formatTestUtil.h"

namespace formattest {

// Whether every lead byte has just the continuation bytes it announces
// (%c, and %s with a precision, can break that).
inline bool WellFormedUtf8(const char *s, size_t len)
{
   unsigned owed = 0;
   for (const char *end = s + len; s < end; s++) {
      unsigned c = static_cast<unsigned char>(*s);
      if ((c & 0xC0) == 0x80 ? owed-- == 0 : owed != 0 || c >= 0xF8) {
         return false;
      }
      owed = c < 0xC0 ? owed : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
   }
   return owed == 0;
}

inline std::string Escape(const char *s, size_t len)
{
   std::string out = " \"";
   for (char hex[8]; len-- > 0; out += hex, s++) {
      const bool plain = *s >= 0x20 && *s < 0x7F && *s != '\\' && *s != '"';
      snprintf(hex, sizeof hex, plain ? "%c" : "\\x%02X", static_cast<unsigned char>(*s));
   }
   return out + "\"";
}
template <class T>
T Shown(T v) { return v; }
inline std::string Shown(const char *s) { return Escape(s, strlen(s)); }

// `fmt` in buffers of several sizes (roomy, 1, exact, a cut drawn from
// `cut`, 0), each with a guard zone after it that must stay as it was:
// the engine as C99 says (full length; bytes past the terminator are
// open), Text_Snprintf (-1, the text cut after its last whole UTF-8
// sequence; of other text a terminated prefix), and the allocating mode.
template <class Fail, class... A>
void Compare(const Fail &fail, uint64_t cut, const char *fmt, A... args)
{
   auto report = [&](const std::string &how, int gotN, const std::vector<char> &got, int wantN,
                     const std::vector<char> &want) {
      std::ostringstream line;
      line.precision(17);
      line << "format" << Escape(fmt, strlen(fmt)) << " args:";
      ((line << ' ' << Shown(args)), ...);
      fail(line.str() + "\n  " + how + "\n  got  " + std::to_string(gotN) +
           Escape(got.data(), got.size()) + "\n  want " + std::to_string(wantN) +
           Escape(want.data(), want.size()));
   };
   const int n = Runtime(nullptr, 0, fmt, args...);
   const size_t len = size_t(std::max(n, 0));
   std::vector<char> ref(len + 1);
   Runtime(ref.data(), len + 1, fmt, args...);
   const bool wellFormed = WellFormedUtf8(ref.data(), len);
   for (size_t size : {len + 9, size_t(1), len, 1 + cut % std::max<size_t>(len, 1), size_t(0)}) {
      std::vector<char> want(size + 16, 0x5A), buf(want), text(want);
      char *out = buf.data();
      const int r = Runtime(want.data(), size, fmt, args...);
      const int e = Call(&out, size, fmt, args...);
      const int t = Text_Snprintf(text.data(), size, fmt, args...);
      const std::string where = ", buffer of " + std::to_string(size);
      std::copy(buf.begin() + std::min(size, len + 1), buf.begin() + size,
                want.begin() + std::min(size, len + 1));
      if (n < 0 || e != r || buf != want) {
         report("engine" + where, e, buf, r, want);
      }
      size_t keep = std::min(size - (size > 0), len);
      while (keep < len && wellFormed && (ref[keep] & 0xC0) == 0x80) {
         keep--;
      }
      keep = keep < len && !wellFormed ? strnlen(text.data(), keep) : keep;
      std::vector<char> cutRef(text);
      std::copy(ref.begin(), ref.begin() + std::ptrdiff_t(keep), cutRef.begin());
      cutRef[keep] = '\0';
      std::fill(cutRef.begin() + std::ptrdiff_t(size), cutRef.end(), 0x5A);
      if (t != (size > len ? n : -1) || text != cutRef) {
         report("Text_Snprintf" + where, t, text, size > len ? n : -1, cutRef);
      }
   }
   char *p = nullptr;
   const int e = Call(&p, 0, fmt, args...);
   const std::vector<char> got(p, p + (p != nullptr && e >= 0 ? e + 1 : 0));
   if (e != n || got != ref) {
      report("allocating mode", e, got, n, ref);
   }
   free(p);
}

const char *const kStrings[] = {
   "", "a", "hello", "100% sure", "tab\tand\nnewline", "h\xC3\xA9llo", "\xE6\x97\xA5\xE8\xAA\x9E",
   "emoji \xF0\x9F\x98\x80 end", "\xC3\xA9\xE2\x82\xAC\xF0\x90\x8D\x88", "C:\\Temp\\setup.log",
   ("0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567"
    "8901234567890123456789012345678901234567890123456789012345678901234567890123456789"),
};

struct Differ {
   Differ(std::function<uint64_t(int)> n, std::function<void(const std::string &)> f, uint64_t cut)
      : next(n), fail(f), cuts(cut) {}
   std::function<uint64_t(int)> next;   // a value of up to that many bytes
   std::function<void(const std::string &)> fail;
   // Cut sizes come from a stream of their own, so that a case skipped in
   // one tree does not shift the cases after it.
   std::mt19937_64 cuts;
   int skipped = 0;
   std::string text;

   uint64_t Bits() { return next(8); }
   int Range(int lo, int hi) { return lo + int(next(hi - lo < 256 ? 1 : 2) % uint64_t(hi - lo + 1)); }
   bool Percent(int pct) { return Range(0, 99) < pct; }
   template <class T, size_t N>
   const T &Pick(const T (&items)[N]) { return items[Range(0, int(N) - 1)]; }
   // A sample string, or a third of the time drawn bytes (up to a NUL).
   const char *String() {
      text.assign(Range(0, 2) == 0 ? size_t(Range(0, 40)) : 0, '\0');
      for (char &c : text) {
         c = char(next(1));
      }
      return text[0] != '\0' ? text.c_str() : Pick(kStrings);
   }
   template <class... A>
   void Check(const std::string &format, A... args) { Compare(fail, cuts(), format.c_str(), args...); }
};

// A directive of one of `conversions`: flags that C defines for it, in any
// order and sometimes repeated; a literal or '*' width and precision (star
// widths < 0 mean '-', star precisions < 0 mean none).
struct Directive {
   std::string text, resolved, bare;  // as drawn; stars written out; plain
   std::vector<int> stars;
};

inline Directive Draw(Differ &rng, const char *conversions, const std::string &length = "")
{
   const char c = conversions[rng.Range(0, int(strlen(conversions)) - 1)];
   // The apostrophe groups integer digits, of which %e has one.
   const char *allowed = strchr("sc", c) ? "-+ " : strchr("oxXeE", c) ? "-+ #0"
                         : strchr("diu", c) ? "-+ 0'" : "-+ #0'";
   const int top = c == 'c' ? -1 : rng.Percent(85) ? 40 : 299;  // precision
   std::string flags;
   for (const char *f = allowed; *f != '\0'; f++) {
      flags.insert(size_t(rng.Range(0, int(flags.size()))), rng.Percent(22) ? 1 : 0, *f);
   }
   flags += flags.empty() || !rng.Percent(5) ? "" : flags.substr(0, 1);
   const int wPick = rng.Range(0, 99), pPick = top < 0 ? 0 : rng.Range(0, 99);
   const int w = wPick < 35 ? 0 : wPick < 55 ? rng.Range(1, 5) : wPick < 80 ? rng.Range(6, 30)
                 : wPick < 85 ? rng.Range(31, 320)
                 : rng.Percent(70) ? rng.Range(-30, 30) : rng.Range(-200, 200);
   const int most = std::min(pPick < 52 ? 0 : pPick < 72 ? 6 : pPick < 82 ? 20 : top, top);
   const int p = pPick < 35 ? -1 : pPick < 87 ? rng.Range(0, most)
                 : rng.Percent(30) ? rng.Range(-20, -1) : std::min(rng.Range(0, 25), top);
#ifdef _WIN32
   // MinGW lets ' ' put a blank before %u, where C99 gives it no effect,
   // and prints nothing for %#.0o of zero (C99: "0"). Dropped after the
   // draw, so that both trees see the same cases.
   const char misread = c == 'u' ? ' ' : c == 'o' && p == 0 ? '#' : '\0';
   flags.erase(std::remove(flags.begin(), flags.end(), misread), flags.end());
#endif
   std::vector<int> stars;
   wPick >= 85 ? stars.push_back(w) : void();
   pPick >= 87 ? stars.push_back(p) : void();
   const std::string width = w == 0 ? "" : std::to_string(std::abs(w)), tail = length + c;
   const std::string precision = p < 0 ? "" : pPick < 42 ? "." : "." + std::to_string(p);
   return {"%" + flags + (wPick >= 85 ? "*" : width) + (pPick >= 87 ? ".*" : precision) + tail,
           "%" + flags + width + (p < 0 ? "" : "." + std::to_string(p)) + tail,
           "%" + length + (strchr("eEfFgG", c) ? 'e' : c), stars};
}

// The directive between literal texts (multi-byte at times, for the UTF-8
// cut to step back over), then bare with the same value: no state may leak
// from one directive into the next.
template <class T>
void CheckDrawn(Differ &df, const Directive &d, T value)
{
   static const char *const kText[] = {"", "", "", "<", "x=", "\xC3\xA9:", "%% ", "\xE2\x82\xAC"};
   std::string fmt = df.Pick(kText) + d.text;
   fmt += df.Pick(kText) + ("|" + d.bare);
   d.stars.empty()        ? df.Check(fmt, value, value)
   : d.stars.size() == 1 ? df.Check(fmt, d.stars[0], value, value)
                         : df.Check(fmt, d.stars[0], d.stars[1], value, value);
}

inline double PowerOfTen(int k)  // correctly rounded, unlike pow()
{
   char text[16];
   snprintf(text, sizeof text, "1e%d", k);
   return strtod(text, nullptr);
}

// Edges of the type and of the narrow types hh and h cut to, powers of ten
// and their neighbours, any bit pattern; negated at times.
template <class T>
T IntegerValue(Differ &rng)
{
   typedef typename std::make_unsigned<T>::type U;
   static const long long kNarrow[] = {0, 1, 7, 8, 10, 16, 127, 128, -128, -129, 255, 256,
                                       -1, 32767, 32768, -32768, -32769, 65535, 65536};
   const T kEdges[] = {0, std::numeric_limits<T>::min(), std::numeric_limits<T>::max(),
                       T(std::numeric_limits<T>::min() + 1), T(std::numeric_limits<T>::max() - 1)};
   const int kind = rng.Range(0, 4), k = rng.Range(0, std::numeric_limits<U>::digits10);
   const int offset = rng.Range(-1, 1), shift = rng.Range(0, 63);
   const U u = kind == 0 ? U(rng.Pick(kEdges)) : kind == 1 ? U(rng.Pick(kNarrow))
               : kind == 2 ? U(U(PowerOfTen(k)) + U(offset)) : U(rng.Bits() >> shift);
   return T(kind > 1 && std::is_signed<T>() && rng.Percent(40) ? U(0) - u : u);
}

template <class T>
void CheckInt(Differ &df, const Directive &d) { CheckDrawn(df, d, IntegerValue<T>(df)); }

inline void RandomInteger(Differ &df)
{
   // hh and h take the promoted int and narrow it themselves.
   typedef void (*Fn)(Differ &, const Directive &);
   static const struct { const char *length; Fn sign, unsign; } kLengths[] = {
      {"", CheckInt<int>, CheckInt<unsigned>}, {"hh", CheckInt<int>, CheckInt<int>},
      {"h", CheckInt<int>, CheckInt<int>}, {"l", CheckInt<long>, CheckInt<unsigned long>},
      {"ll", CheckInt<long long>, CheckInt<unsigned long long>},
      {"j", CheckInt<intmax_t>, CheckInt<uintmax_t>},
      {"z", CheckInt<std::make_signed<size_t>::type>, CheckInt<size_t>},
      {"t", CheckInt<ptrdiff_t>, CheckInt<std::make_unsigned<ptrdiff_t>::type>}};
   const auto &row = df.Pick(kLengths);
   const Directive d = Draw(df, "diuoxX", row.length);
   (strchr("di", d.text.back()) ? row.sign : row.unsign)(df, d);
}

// No powers of ten: FloatEdges takes every one.
const double kDoubleEdges[] = {
   0.0, -0.0, 1.0, -1.0, 0.5, 1.5, 2.5, 3.5, -0.5, -2.5, 0.25, 0.125, 0.375, 0.625, 1.25, 2.675,
   1.005, 0.05, 0.15, 0.35, 0.45, 9.5, 99.5, 999.5, 9.9999, 99.9999, 9.99999999, 0.99999,
   0.999999999, 9999999.5, 999999.5, 0.1, 0.2, 0.3, 1.0 / 3.0, 2.0 / 3.0, 3.141592653589793,
   123456789.0, 0.000123456, 4.35, 8.5, 9.999999e99, DBL_MAX, -DBL_MAX, DBL_MIN, -DBL_MIN,
   DBL_EPSILON, DBL_TRUE_MIN, -DBL_TRUE_MIN, 2.2250738585072009e-308, 4.9406564584124654e-322,
   9007199254740993.0, 18446744073709551616.0, HUGE_VAL, -HUGE_VAL, NAN,
};

// Edges; any bit pattern, subnormals too; powers of ten and their binary
// neighbours; runs of nines (rounding carries through every digit); short
// decimals; exact binary ties.
inline double RandomDouble(Differ &rng)
{
   const double sign = rng.Percent(35) ? -1.0 : 1.0, edge = rng.Pick(kDoubleEdges);
   const uint64_t bits = rng.Bits();
   const int kind = rng.Range(0, 5), step = rng.Range(-1, 1), k = rng.Range(-323, 308);
   const double ten = PowerOfTen(k);
   double v;
   char text[48];
   kind == 3 ? snprintf(text, sizeof text, "9.%.*se%d", int(bits % 17), "9999999999999999", k % 31)
             : snprintf(text, sizeof text, "%de%d", int(bits % 1000000000), k % 13);
   memcpy(&v, &bits, sizeof v);
   return kind == 0   ? edge
          : kind == 1 ? (std::isfinite(v) ? v : sign * DBL_MAX)
          : kind == 2 ? sign * (step == 0 ? ten : std::nextafter(ten, step * HUGE_VAL))
          : kind == 5 ? sign * (double(bits % 100000) + (2.0 * (k & 31) + 1) / (64 >> bits % 6))
                      : sign * strtod(text, nullptr);
}

// Whether `directive` (stars resolved) is compared for `v`. The engine
// keeps about 300 significant digits. MinGW drops the field width of some
// %g results in f style, and glibc drops zeros that %#g must keep when
// rounding carries into e style ("%#.3g" of 999.9 gives "1.e+03", not
// "1.00e+03"): recognised by the runtime disagreeing with C99's own
// definition of the result in terms of its %e and %f.
inline bool Comparable(const std::string &directive, double v)
{
   const char *p = directive.c_str() + 1 + strspn(directive.c_str() + 1, "-+ #0'");
   const char *dot = strchr(p, '.');
   const int precision = dot != nullptr ? atoi(dot + 1) : 6, g = std::max(precision, 1);
   const char style = directive.back() | 0x20;
   // One spare digit covers log10's inexactness near powers of ten.
   const bool big = style == 'f' && std::isfinite(v) && std::fabs(v) >= 1.0;
   const int digits = precision + (style == 'e') + (big ? int(std::log10(std::fabs(v))) + 2 : 0);
   if (digits > 300 || Runtime(nullptr, 0, directive.c_str(), v) < atoi(p)) {
      return false;
   }
   if (style != 'g' || directive.find('#') == std::string::npos || !std::isfinite(v)) {
      return true;
   }
   char want[400], got[400];
   Runtime(want, sizeof want, "%#.*e", g - 1, v);
   const int x = atoi(strchr(want, 'e') + 1);
   x < -4 || x >= g ? 0 : Runtime(want, sizeof want, "%#.*f", g - 1 - x, v);
   Runtime(got, sizeof got, "%#.*g", g, v);
   return strcmp(want, got) == 0;
}

inline void RandomFloat(Differ &df)
{
   const Directive d = Draw(df, "efgEFGefg");
   double v = RandomDouble(df);
   v = Comparable(d.resolved, v) ? v : std::fmod(v, 1e200);  // keep the directive
   Comparable(d.resolved, v) ? CheckDrawn(df, d, v) : void(df.skipped++);
}


inline void RandomStringAndChar(Differ &df)
{
   const Directive s = Draw(df, "s");
   CheckDrawn(df, s, df.String());
   const Directive c = Draw(df, "c");
   // Raw bytes (NUL and non-ASCII), ints past a byte (%c narrows), ASCII.
   CheckDrawn(df, c, df.Percent(50) ? df.Range(0, 511) : df.Range(32, 126));
}

// One case of a family drawn at random.
inline void RandomCase(Differ &df)
{
   static void (*const kFamilies[])(Differ &) = {RandomInteger, RandomFloat, RandomStringAndChar};
   df.Pick(kFamilies)(df);
}

}  // namespace formattest
