// Helpers shared by the formatting, codeset and Unicode tests; and the
// engine against the C runtime's C99 formatter on generated directives,
// for bsd_vsnprintf_test (fixed seeds) and fuzz/format_fuzz. Only
// what both must print alike is generated: no engine extensions, nothing C
// leaves undefined ('0' or '#' with %s and %c, '#' with d/i/u, precision
// with %c, a negative NaN's sign). Where a runtime breaks C99 (Comparable,
// the _WIN32 notes) the case is skipped or steered around.
#pragma once

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "lib/misc/codeset.h"
#include "lib/string/bsd_vsnprintf.h"
#include "lib/string/str.h"

namespace formattest {

typedef std::basic_string<utf16_t> U16String;

inline int VCall(char **o, size_t n, const char *f, va_list ap) { return bsd_vsnprintf(o, n, f, ap); }
inline int VCall(utf16_t **o, size_t n, const utf16_t *f, va_list ap) { return bsd_vsnwprintf(o, n, f, ap); }

// The engine into `out` (null: only count; *out null and size 0: allocate).
template <class C>
int Call(C **out, size_t size, const C *format, ...)
{
   va_list ap;
   va_start(ap, format);
   int n = VCall(out, size, format, ap);
   va_end(ap);
   return n;
}

// The engine in allocating mode; "<error>" when it reports -1.
template <class C, class... A>
std::basic_string<C> Fmt(const C *format, A... args)
{
   C *out = nullptr;
   const int n = Call(&out, 0, format, args...);
   const char error[] = "<error>";
   std::basic_string<C> s = n < 0 ? std::basic_string<C>(error, error + 7) : std::basic_string<C>(out, size_t(n));
   free(out);
   return s;
}

// The C runtime's formatter. msvcrt's own vsnprintf is not C99 (three-digit
// exponents, -1 on a cut, no hh/j/z/t); MinGW's replacement is.
#ifdef _WIN32
const auto Runtime = __mingw_snprintf;
#else
const auto Runtime = snprintf;
#endif

// The compiler's UTF-16 of a literal as bytes (little-endian on every
// target): an oracle independent of the code under test.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "UTF-16LE in memory");
inline std::string Le(const std::u16string &s)
{
   return std::string(reinterpret_cast<const char *>(s.data()), 2 * s.size());
}

// Exit code of a process ended by Util_Panic, as a death test sees it.
#ifdef _WIN32
constexpr int kPanicExitCode = -1;
#else
constexpr int kPanicExitCode = 255;
#endif

// `fmt` through Text_Snprintf in buffers of several sizes (roomy, 1,
// exact, a cut drawn from `cut`, 0), each with a guard zone after it that
// must stay as it was: the runtime's count, or -1 on a cut, the text then
// ending after its last whole UTF-8 sequence (of other text, a terminated
// prefix); then the engine's allocating mode.
template <class... A>
void Compare(const std::function<void(const std::string &)> &fail, uint64_t cut, const char *fmt, A... args)
{
   const int n = Runtime(nullptr, 0, fmt, args...);
   std::string ref(size_t(std::max(n, 0)) + 1, '\0');
   Runtime(&ref[0], ref.size(), fmt, args...);
   const size_t len = ref.size() - 1;
   const bool valid = CodeSet_IsValidUtf8(ref.data(), len);
   auto expect = [&](const std::string &how, int gotN, const std::string &got, int wantN, const std::string &want) {
      if (n < 0 || gotN != wantN || got != want) {
         fail("format \"" + std::string(fmt) + "\", " + how + "\n  got  " + std::to_string(gotN) + " \"" + got +
              "\"\n  want " + std::to_string(wantN) + " \"" + want + "\"");
      }
   };
   for (size_t size : {len + 9, size_t(1), len, 1 + cut % std::max<size_t>(len, 1), size_t(0)}) {
      std::string text(size + 16, 'Z');
      const int t = Text_Snprintf(&text[0], size, fmt, args...);
      size_t keep = std::min(size - (size > 0), len);
      while (keep < len && valid && (ref[keep] & 0xC0) == 0x80) {
         keep--;
      }
      keep = keep < len && !valid ? strnlen(text.data(), keep) : keep;
      std::string want = text;   // bytes past the terminator are open
      want.replace(0, keep + 1, ref.substr(0, keep) + '\0');
      want.replace(size, 16, 16, 'Z');
      expect("Text_Snprintf in a buffer of " + std::to_string(size), t, text, size > len ? n : -1, want);
   }
   char *p = nullptr;
   const int e = Call(&p, 0, fmt, args...);
   expect("allocating mode", e, p != nullptr && e >= 0 ? std::string(p, size_t(e) + 1) : "", n, ref);
   free(p);
}

const char *const kStrings[] = {"", "a", "100% sure", "tab\tand\nnewline", "h\xC3\xA9llo", "\xE6\x97\xA5\xE8\xAA\x9E",
                                "emoji \xF0\x9F\x98\x80 end", "\xC3\xA9\xE2\x82\xAC\xF0\x90\x8D\x88"};

struct Differ {
   std::function<uint64_t(int)> next;   // a value of up to that many bytes
   std::function<void(const std::string &)> fail;
   // Cut sizes come from a stream of their own, so that a case skipped in
   // one tree does not shift the cases after it.
   std::mt19937_64 cuts;
   int skipped = 0;

   int Range(int lo, int hi) { return lo + int(next(hi - lo < 256 ? 1 : 2) % uint64_t(hi - lo + 1)); }
   bool Percent(int pct) { return Range(0, 99) < pct; }
   template <class T, size_t N>
   const T &Pick(const T (&items)[N]) { return items[Range(0, int(N) - 1)]; }
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
   // The apostrophe groups integer digits, of which %e has one. glibc drops
   // zeros that %#g must keep when rounding carries into e style.
   const char *allowed = strchr("sc", c) ? "-+ " : strchr("oxXeE", c) ? "-+ #0" : strchr("diugG", c) ? "-+ 0'"
                                                                                                   : "-+ #0'";
   const int top = c == 'c' ? -1 : rng.Percent(85) ? 40 : 299;  // precision
   std::string flags;
   for (const char *f = allowed; *f != '\0'; f++) {
      flags.insert(size_t(rng.Range(0, int(flags.size()))), rng.Percent(22) ? 1 : 0, *f);
   }
   flags += flags.empty() || !rng.Percent(5) ? "" : flags.substr(0, 1);
   const int wPick = rng.Range(0, 99), pPick = top < 0 ? 0 : rng.Range(0, 99);
   const int w = wPick < 35 ? 0 : wPick < 80 ? rng.Range(1, 30) : wPick < 85 ? rng.Range(31, 320) : rng.Range(-40, 40);
   const int p = pPick < 35 ? -1 : pPick < 42 ? 0 : pPick < 87 ? rng.Range(0, std::min(pPick < 60 ? 6 : 40, top))
                                                                : rng.Range(-20, std::min(25, top));
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
   const std::string fmt = df.Pick(kText) + d.text + df.Pick(kText) + "|" + d.bare;
   d.stars.empty()        ? df.Check(fmt, value, value)
   : d.stars.size() == 1 ? df.Check(fmt, d.stars[0], value, value)
                         : df.Check(fmt, d.stars[0], d.stars[1], value, value);
}

// Correctly rounded, unlike pow().
inline double PowerOfTen(int k) { return strtod(("1e" + std::to_string(k)).c_str(), nullptr); }

// Edges of the type and of the narrow types hh and h cut to, powers of ten
// and their neighbours, any bit pattern; negated at times. The unsigned
// conversions read the same bits.
template <class T>
void CheckInt(Differ &rng, const Directive &d)
{
   static const long long kNarrow[] = {0, 1, 8, 127, 128, -129, 255, 256, -1, 32767, 32768, -32769, 65535, 65536};
   const T kEdges[] = {std::numeric_limits<T>::min(), std::numeric_limits<T>::max(),
                       T(std::numeric_limits<T>::min() + 1)};
   const int kind = rng.Range(0, 3), k = rng.Range(0, std::numeric_limits<T>::digits10);
   const T v = kind == 0 ? rng.Pick(kEdges) : kind == 1 ? T(rng.Pick(kNarrow))
               : kind == 2 ? T(T(PowerOfTen(k)) + rng.Range(-1, 1)) : T(rng.next(8) >> rng.Range(0, 63));
   CheckDrawn(rng, d, rng.Percent(30) ? T(0ULL - (unsigned long long)v) : v);
}

// hh and h take the promoted int and narrow it themselves.
inline void RandomInteger(Differ &df)
{
   static const struct { const char *length; void (*check)(Differ &, const Directive &); } kLengths[] = {
      {"", CheckInt<int>}, {"hh", CheckInt<int>}, {"h", CheckInt<int>}, {"l", CheckInt<long>},
      {"ll", CheckInt<long long>}, {"j", CheckInt<intmax_t>}, {"z", CheckInt<ptrdiff_t>}, {"t", CheckInt<ptrdiff_t>}};
   const auto &row = df.Pick(kLengths);
   row.check(df, Draw(df, "diuoxX", row.length));
}

// Ties, values whose rounding carries through every digit, the limits and
// the specials.
const double kDoubleEdges[] = {0.0, -0.0, 0.5, 1.5, 2.5, -2.5, 0.125, 0.375, 2.675, 1.005, 0.15, 0.45, 9.5, 999.5,
                               9.9999, 0.999999999, 9999999.5, 0.1, 1.0 / 3.0, 4.35, 9.999999e99, DBL_MAX, -DBL_MAX,
                               DBL_MIN, DBL_TRUE_MIN, 2.2250738585072009e-308, 9007199254740993.0, HUGE_VAL, NAN};

// Whether `directive` (stars resolved) is compared for `v`: the engine
// keeps about 300 significant digits, and MinGW drops the field width of
// some %g results in f style.
inline bool Comparable(const std::string &directive, double v)
{
   const char *p = directive.c_str() + 1 + strspn(directive.c_str() + 1, "-+ #0'");
   const char *dot = strchr(p, '.');
   const char style = directive.back() | 0x20;
   // One spare digit covers log10's inexactness near powers of ten.
   const bool big = style == 'f' && std::isfinite(v) && std::fabs(v) >= 1.0;
   const int digits =
      (dot != nullptr ? atoi(dot + 1) : 6) + (style == 'e') + (big ? int(std::log10(std::fabs(v))) + 2 : 0);
   return digits <= 300 && Runtime(nullptr, 0, directive.c_str(), v) >= atoi(p);
}

// Edges; any bit pattern, subnormals too; powers of ten and their binary
// neighbours; exact binary ties.
inline void RandomFloat(Differ &df)
{
   const Directive d = Draw(df, "efgEFGefg");
   const double sign = df.Percent(35) ? -1.0 : 1.0, edge = df.Pick(kDoubleEdges), ten = PowerOfTen(df.Range(-323, 308));
   const uint64_t bits = df.next(8);
   const int kind = df.Range(0, 3), step = df.Range(-1, 1);
   double v;
   memcpy(&v, &bits, sizeof v);
   v = kind == 0   ? edge
       : kind == 1 ? (std::isfinite(v) ? v : sign * DBL_MAX)
       : kind == 2 ? sign * (step == 0 ? ten : std::nextafter(ten, step * HUGE_VAL))
                   : sign * (double(bits % 100000) + (2.0 * (bits >> 20 & 31) + 1) / (64 >> bits % 6));
   v = Comparable(d.resolved, v) ? v : std::fmod(v, 1e200);  // keep the directive
   Comparable(d.resolved, v) ? CheckDrawn(df, d, v) : void(df.skipped++);
}

inline void RandomStringAndChar(Differ &df)
{
   const Directive s = Draw(df, "s");
   CheckDrawn(df, s, df.Pick(kStrings));
   const Directive c = Draw(df, "c");
   // Raw bytes (NUL and non-ASCII, breaking UTF-8), ints past a byte (%c
   // narrows), ASCII.
   CheckDrawn(df, c, df.Percent(50) ? df.Range(0, 511) : df.Range(32, 126));
}

}  // namespace formattest
