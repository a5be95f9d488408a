// libFuzzer harness: the library's printf engine against the C runtime.
//
// The input bytes choose an argument signature from a fixed set (up to six
// directives, each for an int, long long, double or string, some with one
// or two '*' arguments before it), then the literal text around the
// directives, their flags, width, precision and conversion, and the
// argument values. Only the part of printf where the engine promises C99
// behaviour is generated (no %S/%C/%p/%n, no engine-only modifiers, nothing
// C leaves undefined), so any difference in result or text is a fault and
// aborts.
//
// Beyond the comparison it checks that the engine writes nothing past a
// malloc'd buffer of exactly the size handed over (ASan sees the overrun),
// that a Text_Snprintf that does not fit leaves a terminated prefix cut on a
// whole UTF-8 sequence, and that the allocating mode gives the same text.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <sstream>
#include <string>
#include <tuple>
#include <type_traits>

#include "lib/string/bsd_vsnprintf.h"
#include "lib/string/str.h"
#include "tests/unit/formatTestUtil.h"

namespace {

// bsd_vsnprintf (which allocates when *out is null and size is 0) with the
// arguments after `fmt`.
int Engine(char **out, size_t size, const char *fmt, ...) {
   va_list ap;
   va_start(ap, fmt);
   int n = bsd_vsnprintf(out, size, fmt, ap);
   va_end(ap);
   return n;
}

// Past its end the input reads as zeros, so that every input makes a case.
struct Input {
   const uint8_t *p, *end;
   uint64_t Bytes(size_t n, uint64_t v = 0) {
      while (n-- > 0) {
         v = v << 8 | (p < end ? *p++ : 0);
      }
      return v;
   }
   uint32_t Below(uint32_t n) { return uint32_t(Bytes(n > 256 ? 2 : 1) % n); }
   template <class T, size_t N>
   const T &Pick(const T (&items)[N]) { return items[Below(N)]; }
};

std::string Escape(const char *s, size_t len) {
   std::string out = " \"";
   for (char hex[8]; len-- > 0; out += hex, s++) {
      const bool plain = *s >= 0x20 && *s < 0x7F && *s != '\\' && *s != '"';
      snprintf(hex, sizeof hex, plain ? "%c" : "\\x%02X", static_cast<unsigned char>(*s));
   }
   return out + "\"";
}

template <class T>
T Shown(T v) { return v; }
std::string Shown(const char *s) { return Escape(s, strlen(s)); }


// Heap blocks of just the size handed over, an exact fit and a cut (0
// included: malloc(0) has no byte anyone may touch), so that ASan sees any
// write past them.
template <class... A>
void CheckAll(const std::string &format, size_t cutChoice, A... args) {
   const char *fmt = format.c_str();
   const int n = snprintf(nullptr, 0, fmt, args...);
   const size_t len = size_t(std::max(n, 0));
   std::string ref(len, '\0');
   snprintf(&ref[0], len + 1, fmt, args...);
   auto die = [&](const std::string &how, int gotN, const char *got, size_t gotLen, int wantN,
                  size_t wantLen) {
      std::ostringstream line;
      line.precision(17);
      line << "\n*** mismatch, " << how << "\n  format" << Escape(fmt, strlen(fmt)) << "\n  args:";
      ((line << ' ' << Shown(args)), ...);
      line << "\n  got  " << gotN << Escape(got, gotLen) << "\n  want " << wantN
           << Escape(ref.data(), wantLen) << '\n';
      fputs(line.str().c_str(), stderr);
      abort();
   };
   for (size_t size : {len + 1, cutChoice % (len + 2)}) {
      const size_t room = size == 0 ? 0 : size - 1;
      char *buf = static_cast<char *>(malloc(size)), *out = buf;
      const int e = Engine(&out, size, fmt, args...);
      if (n < 0 || e != n || (size != 0 && (memcmp(buf, ref.data(), room) || buf[room]))) {
         die("engine, buffer of " + std::to_string(size), e, buf, room, n, room);
      }
      const int t = Text_Snprintf(buf, size, fmt, args...);
      // Valid UTF-8 is cut after its last whole sequence; of other text only
      // a terminated prefix is asked for.
      size_t keep = std::min(room, len);
      while (keep < len && formattest::WellFormedUtf8(ref.data(), len) && (ref[keep] & 0xC0) == 0x80) {
         keep--;
      }
      keep = keep < len && !formattest::WellFormedUtf8(ref.data(), len) ? strnlen(buf, keep) : keep;
      if (t != (size > len ? n : -1) ||
          (size != 0 && (buf[keep] != '\0' || memcmp(buf, ref.data(), keep) != 0))) {
         die("Text_Snprintf, buffer of " + std::to_string(size), t, buf, room, size > len ? n : -1,
             keep);
      }
      free(buf);
   }
   char *p = nullptr;
   const int e = Engine(&p, 0, fmt, args...);
   if (p == nullptr || e != n || memcmp(p, ref.data(), len + 1) != 0) {
      die("allocating mode", e, p ? p : "", p && e >= 0 ? size_t(e) : 0, n, len);
   }
   free(p);
}

const char *const kStrings[] = {
   "", "a", "Hello, world!", "h\xC3\xA9llo w\xC3\xB6rld", "\xE2\x82\xAC", " | ", "%%", "=",
   "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE", "\xF0\x9F\x98\x80\xF0\x9F\x98\x81",
   "\xC3\xA9\xE2\x82\xAC\xF0\x90\x8D\x88x", "C:\\Program Files\\setup\xE2\x84\xA2.log"};
const double kDoubles[] = {
   0.0, -0.0, 0.5, 1.5, 2.5, -2.5, 0.125, 9.5, 99.5, 9.9999, 0.99999, 999999.5, 1e-5, 1e-4, 1e15,
   1e16, 1e21, 1e22, 1e23, 0.1, 1.0 / 3.0, 1.005, 2.675, 4.9406564584124654e-324,
   2.2250738585072014e-308, 1.7976931348623157e308, HUGE_VAL, -HUGE_VAL, NAN};
const long long kIntegers[] = {
   0, 1, -1, 7, 8, 10, 16, 127, 128, 255, 256, -128, -129, 32767, 32768, 65535, 65536, 2147483647LL,
   -2147483647LL - 1, 4294967295LL, 4294967296LL, 999999999999LL, 9223372036854775807LL,
   -9223372036854775807LL - 1};

// Table edges, small values and bit patterns; NaNs are positive (the sign
// of a NaN is printed differently by design); fuzzer strings end at a NUL.
template <class T>
void Value(Input &in, T &v, std::deque<std::string> &) {
   const uint32_t kind = in.Below(3);
   v = kind == 0   ? T(in.Pick(kIntegers))
       : kind == 1 ? T(int(in.Bytes(1)) - 128) : T(in.Bytes(sizeof v) >> in.Below(8 * sizeof v));
}
void Value(Input &in, double &v, std::deque<std::string> &) {
   const uint64_t bits = in.Below(3) == 0 ? 0 : in.Bytes(8);
   memcpy(&v, &bits, sizeof v);
   v = bits == 0 ? in.Pick(kDoubles) : std::isnan(v) ? NAN : v;
}
void Value(Input &in, const char *&v, std::deque<std::string> &strings) {
   std::string s(in.Below(3) == 0 ? in.Below(40) : 0, '\0');
   for (char &c : s) {
      c = char(in.Bytes(1));
   }
   strings.push_back(s.c_str());
   v = strings.back().empty() ? in.Pick(kStrings) : strings.back().c_str();
}

// The engine keeps about 300 significant digits; for %f the integer ones
// count too (one spare digit covers log10's inexactness).
template <class T>
int MaxPrecision(char, T) { return 320; }
int MaxPrecision(char c, double v) {
   const bool big = (c | 0x20) == 'f' && std::isfinite(v) && std::fabs(v) >= 1.0;
   return (c | 0x20) == 'e' ? 299 : big ? 298 - int(std::log10(std::fabs(v))) : 300;
}

// glibc drops the zeros %#g must keep when rounding carries into e style
// ("%#.3g" of 999.9 gives "1.e+03", C99 says "1.00e+03"); the engine is
// right there. Recognised by glibc disagreeing with its own %#e / %#f.
template <class T>
bool AltGIsRight(int, T) { return true; }
bool AltGIsRight(int precision, double v) {
   const int g = precision < 0 ? 6 : std::max(precision, 1);
   char want[400], got[400];
   snprintf(want, sizeof want, "%#.*e", g - 1, v);
   const char *e = strchr(want, 'e');  // none for inf and nan
   const int x = e != nullptr ? atoi(e + 1) : 0;
   x < -4 || x >= g ? 0 : snprintf(want, sizeof want, "%#.*f", g - 1 - x, v);
   snprintf(got, sizeof got, "%#.*g", g, v);
   return strcmp(want, got) == 0;
}

// 0 to 299, then -100 to -1: zeros in the input make the plain cases.
int StarValue(Input &in) { return int(in.Below(400) + 100) % 400 - 100; }

// D<kind, stars>: literal text from the table or the input (no NUL, no
// '%'), then a directive for an int ('i'), long long ('q'), double ('f') or
// string ('s') argument with `stars` '*' arguments before it. Make returns
// those arguments.
template <char Kind, int Stars = 0>
struct D {
   typedef std::conditional_t<Kind == 'i', int, std::conditional_t<Kind == 'q', long long,
                              std::conditional_t<Kind == 'f', double, const char *>>> T;

   static auto Make(Input &in, std::string &fmt, std::deque<std::string> &strings) {
      fmt += in.Below(2) == 0 ? "" : in.Pick(kStrings);
      for (uint32_t k = in.Below(4) == 0 ? in.Below(6) : 0; k > 0; k--) {
         const char c = char(in.Bytes(1));
         fmt += c == '\0' || c == '%' ? '.' : c;
      }
      T value;
      Value(in, value, strings);
      const char *conversions = Kind == 'f' ? "efgEFG" : Kind == 's' ? "s"
                                : Kind == 'i' && Stars < 2 ? "diuoxXc" : "diuoxX";
      char c = conversions[in.Below(uint32_t(strlen(conversions)))];
      c = MaxPrecision(c, value) < 6 ? 'e' : c;  // 6: the default precision
      static const char *const kI[] = {"", "", "hh", "h"}, *const kQ[] = {"ll", "j", "z", "t", "l"};
      const std::string length = Kind == 'i' && c != 'c' ? in.Pick(kI)
                                 : Kind == 'q' ? in.Pick(kQ) : "";
      // '#' means nothing C defines for d, i, u, s and c, nor '0' for s and
      // c; the apostrophe groups integer digits, of which %e has one.
      const char *allowed = strchr("sc", c) ? "-+ " : strchr("oxXeE", c) ? "-+ #0"
                            : strchr("diu", c) ? "-+ 0'" : "-+ #0'";
      const uint32_t bits = uint32_t(in.Bytes(1));
      std::string flags;
      for (size_t i = 0; allowed[i] != '\0'; i++) {
         flags += (bits >> i & 1) != 0 ? std::string(1, allowed[i]) : "";
      }
      bits & 0x80 ? std::reverse(flags.begin(), flags.end()) : void();  // any order will do
      // With one star, a bit says width or precision; %c takes no precision.
      const bool starW = Stars == 2 || (Stars == 1 && (c == 'c' || (bits & 0x40) != 0));
      const bool starP = Stars == 2 || (Stars == 1 && !starW);
      int stars[2] = {starW ? StarValue(in) : 0, 0};
      const int w = starW || in.Below(3) == 0 ? 0 : 1 + int(in.Below(in.Below(4) ? 24 : 255));
      // Precision (within what the digits allow): none, '.', 0, up to 7, 40 or 320.
      const uint32_t pick = c == 'c' ? 0 : in.Below(10);
      int p = starP ? StarValue(in) : pick < 5 ? -1 : pick < 7 ? 0 : pick == 7 ? int(in.Below(8))
              : pick == 8 ? int(in.Below(41)) : int(in.Below(321));
      p = stars[starW] = std::min(p, MaxPrecision(c, value));
      const std::string width = starW ? "*" : w > 0 ? std::to_string(w) : "";
      const std::string precision = starP ? ".*" : p < 0 ? "" : pick == 5 ? "."
                                    : "." + std::to_string(p);
      if ((c | 0x20) == 'g' && !AltGIsRight(std::max(p, -1), value)) {
         flags.erase(std::remove(flags.begin(), flags.end(), '#'), flags.end());
      }
      fmt += "%" + flags + width + precision + length + c;
      std::array<int, Stars> starArgs;
      std::copy_n(stars, Stars, starArgs.begin());
      return std::tuple_cat(starArgs, std::make_tuple(value));
   }
};

template <class... Ds>
void Run(Input &in) {
   std::string fmt;
   std::deque<std::string> strings;  // the fuzzer's strings, kept in place
   // A braced list makes its parts in order.
   std::tuple<decltype(Ds::Make(in, fmt, strings))...> parts{Ds::Make(in, fmt, strings)...};
   fmt += in.Pick(kStrings);  // literal text after the last directive
   const auto args = std::apply([](auto... part) { return std::tuple_cat(part...); }, parts);
   std::apply([&](auto... arg) { CheckAll(fmt, size_t(in.Bytes(2)), arg...); }, args);
}

// Every single directive with 0-2 stars, then mixtures of up to six.
void (*const kRunners[])(Input &) = {
   Run<D<'i'>>, Run<D<'q'>>, Run<D<'f'>>, Run<D<'s'>>, Run<D<'i', 1>>, Run<D<'q', 1>>,
   Run<D<'f', 1>>, Run<D<'s', 1>>, Run<D<'i', 2>>, Run<D<'q', 2>>, Run<D<'f', 2>>, Run<D<'s', 2>>,
   Run<D<'i'>, D<'f', 1>, D<'s'>>, Run<D<'s'>, D<'q'>, D<'i'>, D<'f'>>, Run<D<'f', 2>, D<'s', 1>>,
   Run<D<'s'>, D<'s'>, D<'f'>, D<'i'>, D<'f'>, D<'q'>>, Run<D<'q', 1>, D<'i'>, D<'i', 2>, D<'i'>>,
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
   Input in{data, data + size};
   kRunners[in.Below(sizeof kRunners / sizeof kRunners[0])](in);
   return 0;
}
