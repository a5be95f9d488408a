// Differential test of the library's printf engine against the C runtime's
// C99 formatter, over deterministically generated directives and arguments.
//
// Only the part of printf where both must agree is generated: the engine's
// own extensions (UTF-16 %S/%ls/%C/%lc, %p, %n, unknown conversions, the
// 'L'/q/Z/I/I32/I64 integer modifiers, a '%' at the end of the format) are
// left out, and so are combinations C leaves undefined ('0' or '#' with %s
// and %c, '#' with d/i/u, precision with %c, a negative NaN's sign), because
// there neither side is wrong.
//
// Where a runtime itself breaks C99 (see RuntimeFollowsC99 and the _WIN32
// notes), the case is skipped or steered around, never compared loosely.
//
// Every case is compared several ways: a roomy buffer, cut buffers (C99
// keeps returning the full length; nothing may be written past the size),
// size 0, Text_Snprintf (which must cut back to a whole UTF-8 sequence and
// report -1) and the engine's allocating mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

#include "lib/string/bsd_vsnprintf.h"
#include "lib/string/str.h"

namespace {

// ---------------------------------------------------------------------------
// The two formatters under comparison.

int RuntimeFormat(char *buf, size_t size, const char *fmt, ...) {
   va_list ap;
   va_start(ap, fmt);
#ifdef _WIN32
   // msvcrt's own vsnprintf is not C99 (three-digit exponents, -1 on a cut,
   // no hh/j/z/t); MinGW's replacement is.
   int n = __mingw_vsnprintf(buf, size, fmt, ap);
#else
   int n = vsnprintf(buf, size, fmt, ap);
#endif
   va_end(ap);
   return n;
}

int EngineFormat(char *buf, size_t size, const char *fmt, ...) {
   va_list ap;
   va_start(ap, fmt);
   char *out = buf;
   int n = bsd_vsnprintf(&out, size, fmt, ap);
   va_end(ap);
   return n;
}

int EngineAllocate(char **out, const char *fmt, ...) {
   va_list ap;
   va_start(ap, fmt);
   *out = nullptr;
   int n = bsd_vsnprintf(out, 0, fmt, ap);
   va_end(ap);
   return n;
}

// ---------------------------------------------------------------------------
// Deterministic randomness: the standard distributions differ between
// library implementations, and the Windows and host trees must see the same
// cases.

class Rng {
public:
   explicit Rng(uint64_t seed) : state_(seed) {}

   uint64_t Next() {
      uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
      return z ^ (z >> 31);
   }
   uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
   int Range(int lo, int hi) {  // inclusive
      return lo + static_cast<int>(Below(static_cast<uint32_t>(hi - lo + 1)));
   }
   bool Percent(unsigned pct) { return Below(100) < pct; }
   template <class T, size_t N>
   const T &Pick(const T (&items)[N]) {
      return items[Below(static_cast<uint32_t>(N))];
   }

private:
   uint64_t state_;
};

// ---------------------------------------------------------------------------
// Failure texts: a failing case must say which format and which arguments.

std::string Escape(const char *s, size_t len) {
   std::string out;
   for (size_t i = 0; i < len; i++) {
      unsigned char c = static_cast<unsigned char>(s[i]);
      if (c == '\\' || c == '"') {
         out += '\\';
         out += static_cast<char>(c);
      } else if (c >= 0x20 && c < 0x7F) {
         out += static_cast<char>(c);
      } else {
         char hex[8];
         snprintf(hex, sizeof hex, "\\x%02X", c);
         out += hex;
      }
   }
   return out;
}

std::string Quote(const char *s) {
   return "\"" + Escape(s, strlen(s)) + "\"";
}

std::string Show(const char *s) { return Quote(s); }

std::string Show(double v) {
   char text[96];
   snprintf(text, sizeof text, "%.17g (%a)", v, v);
   return text;
}

template <class T>
typename std::enable_if<std::is_integral<T>::value, std::string>::type
Show(T v) {
   const char *type = std::is_same<T, int>::value                  ? "int"
                      : std::is_same<T, unsigned>::value           ? "unsigned"
                      : std::is_same<T, long>::value               ? "long"
                      : std::is_same<T, unsigned long>::value      ? "unsigned long"
                      : std::is_same<T, long long>::value          ? "long long"
                      : std::is_same<T, unsigned long long>::value ? "unsigned long long"
                                                                   : "integer";
   std::string value = std::is_signed<T>::value
                          ? std::to_string(static_cast<long long>(v))
                          : std::to_string(static_cast<unsigned long long>(v));
   return "(" + std::string(type) + ")" + value;
}

inline void ShowArgs(std::string &) {}

template <class T, class... Rest>
void ShowArgs(std::string &out, T first, Rest... rest) {
   if (!out.empty()) {
      out += ", ";
   }
   out += Show(first);
   ShowArgs(out, rest...);
}

// ---------------------------------------------------------------------------
// UTF-8 helpers for the Text_Snprintf cut rule.

bool IsValidUtf8(const char *s, size_t len) {
   const unsigned char *p = reinterpret_cast<const unsigned char *>(s);
   size_t i = 0;
   while (i < len) {
      unsigned c = p[i];
      size_t extra;
      uint32_t cp;
      if (c < 0x80) {
         i++;
         continue;
      } else if ((c & 0xE0) == 0xC0) {
         extra = 1;
         cp = c & 0x1F;
      } else if ((c & 0xF0) == 0xE0) {
         extra = 2;
         cp = c & 0x0F;
      } else if ((c & 0xF8) == 0xF0) {
         extra = 3;
         cp = c & 0x07;
      } else {
         return false;
      }
      if (i + extra >= len) {
         return false;
      }
      for (size_t k = 1; k <= extra; k++) {
         if ((p[i + k] & 0xC0) != 0x80) {
            return false;
         }
         cp = (cp << 6) | (p[i + k] & 0x3F);
      }
      static const uint32_t kMinForLength[] = {0, 0x80, 0x800, 0x10000};
      if (cp < kMinForLength[extra] || cp > 0x10FFFF ||
          (cp >= 0xD800 && cp <= 0xDFFF)) {
         return false;
      }
      i += extra + 1;
   }
   return true;
}

// Length of the longest prefix of at most `room` bytes of the valid UTF-8
// text `s` that does not split a sequence.
size_t Utf8CutLength(const char *s, size_t len, size_t room) {
   if (room >= len) {
      return len;
   }
   size_t cut = room;
   while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) {
      cut--;
   }
   return cut;
}

// ---------------------------------------------------------------------------
// The comparison itself.

constexpr size_t kGuard = 16;
constexpr char kGuardByte = '\x5A';
constexpr int kMaxReported = 25;

bool GuardIntact(const std::vector<char> &buf, size_t from) {
   for (size_t i = from; i < buf.size(); i++) {
      if (buf[i] != kGuardByte) {
         return false;
      }
   }
   return true;
}

class Differ {
public:
   // The cut points draw from their own stream, so that a case skipped in
   // one tree does not shift the cases after it.
   explicit Differ(uint64_t seed) : rng_(seed), cutRng_(~seed) {}

   Rng &rng() { return rng_; }
   int cases() const { return cases_; }
   int failures() const { return failures_; }
   int failedCases() const { return failedCases_; }
   int skipped() const { return skipped_; }
   void Skip() { skipped_++; }

   template <class... A>
   void Check(const std::string &fmt, A... args) {
      Check(fmt.c_str(), args...);
   }

   template <class... A>
   void Check(const char *fmt, A... args) {
      cases_++;
      const int failuresBefore = failures_;

      int n = RuntimeFormat(nullptr, 0, fmt, args...);
      if (n < 0) {
         Fail(fmt, "the C runtime rejected the case (test bug)", "", args...);
         return;
      }
      const size_t len = static_cast<size_t>(n);
      std::vector<char> ref(len + 1);
      RuntimeFormat(ref.data(), ref.size(), fmt, args...);

      // Roomy buffer, with a guard zone past the size handed over.
      {
         std::vector<char> buf(len + 9 + kGuard, kGuardByte);
         int e = EngineFormat(buf.data(), len + 9, fmt, args...);
         if (e != n || memcmp(buf.data(), ref.data(), len + 1) != 0) {
            Fail(fmt, "roomy buffer", Compare(e, buf.data(), n, ref.data(), len + 8),
                 args...);
         } else if (!GuardIntact(buf, len + 9)) {
            Fail(fmt, "roomy buffer: wrote past the size", "", args...);
         }
      }

      // Cut buffers: one byte, one byte short, and somewhere in between.
      if (len > 0) {
         size_t sizes[3] = {1, len, 1 + cutRng_.Below(static_cast<uint32_t>(len))};
         for (size_t size : sizes) {
            std::vector<char> want(size);
            int r = RuntimeFormat(want.data(), size, fmt, args...);
            std::vector<char> buf(size + kGuard, kGuardByte);
            int e = EngineFormat(buf.data(), size, fmt, args...);
            if (e != r || memcmp(buf.data(), want.data(), size) != 0) {
               Fail(fmt, ("buffer of " + std::to_string(size)).c_str(),
                    Compare(e, buf.data(), r, want.data(), size - 1),
                    args...);
            } else if (!GuardIntact(buf, size)) {
               Fail(fmt,
                    ("buffer of " + std::to_string(size) +
                     ": wrote past the size").c_str(),
                    "", args...);
            }
         }
      }

      // Size 0: nothing may be written, the result is still the length
      // (Text_Snprintf: nothing fits).
      {
         std::vector<char> buf(kGuard, kGuardByte);
         int e = EngineFormat(buf.data(), 0, fmt, args...);
         int t = Text_Snprintf(buf.data(), 0, fmt, args...);
         if (e != n || t != -1 || !GuardIntact(buf, 0)) {
            Fail(fmt, "size 0",
                 "  engine: ret=" + std::to_string(e) + ", Text_Snprintf: ret=" +
                    std::to_string(t) + ", runtime: ret=" + std::to_string(n) +
                    (GuardIntact(buf, 0) ? "" : ", and something was written"),
                 args...);
         }
      }

      // Text_Snprintf: exact fit, then a cut at a random place.
      {
         std::vector<char> buf(len + 1 + kGuard, kGuardByte);
         int t = Text_Snprintf(buf.data(), len + 1, fmt, args...);
         if (t != n || memcmp(buf.data(), ref.data(), len + 1) != 0 ||
             !GuardIntact(buf, len + 1)) {
            Fail(fmt, "Text_Snprintf, exact fit",
                 Compare(t, buf.data(), n, ref.data(), len), args...);
         }
      }
      if (len > 0) {
         size_t size = 1 + cutRng_.Below(static_cast<uint32_t>(len));
         std::vector<char> buf(size + kGuard, kGuardByte);
         int t = Text_Snprintf(buf.data(), size, fmt, args...);
         bool ok = t == -1 && GuardIntact(buf, size);
         if (ok && IsValidUtf8(ref.data(), len)) {
            size_t cut = Utf8CutLength(ref.data(), len, size - 1);
            ok = memcmp(buf.data(), ref.data(), cut) == 0 && buf[cut] == '\0';
         } else if (ok) {
            // Invalid UTF-8 has no single right cut: ask only for a
            // terminated prefix (%c may have put NULs in the text itself).
            ok = false;
            for (size_t cut = 0; cut < size && !ok; cut++) {
               ok = buf[cut] == '\0' && memcmp(buf.data(), ref.data(), cut) == 0;
            }
         }
         if (!ok) {
            std::string have = Escape(buf.data(), size - 1);
            Fail(fmt, ("Text_Snprintf, buffer of " + std::to_string(size)).c_str(),
                 "  Text_Snprintf: ret=" + std::to_string(t) + " text=\"" + have +
                    "\"\n  full text:     \"" + Escape(ref.data(), len) + "\"",
                 args...);
         }
      }

      // Allocating mode.
      {
         char *p = nullptr;
         int e = EngineAllocate(&p, fmt, args...);
         if (p == nullptr || e != n || memcmp(p, ref.data(), len + 1) != 0) {
            Fail(fmt, "allocating mode",
                 p ? Compare(e, p, n, ref.data(), len)
                   : std::string("  null buffer"),
                 args...);
         }
         free(p);
      }

      if (failures_ != failuresBefore) {
         failedCases_++;
      }
   }

private:
   // `room` bounds what is shown of each text: a cut buffer holds fewer
   // bytes than its result says, and %c may have put NULs in either.
   static std::string Compare(int gotRet, const char *got, int wantRet,
                              const char *want, size_t room) {
      auto shown = [room](int ret, const char *s) {
         if (ret < 0) {
            return strnlen(s, room);  // a failed call may still have written
         }
         size_t n = static_cast<size_t>(ret);
         return n < room ? n : room;
      };
      return "  engine : ret=" + std::to_string(gotRet) + " text=\"" +
             Escape(got, shown(gotRet, got)) + "\"\n  runtime: ret=" +
             std::to_string(wantRet) + " text=\"" +
             Escape(want, shown(wantRet, want)) + "\"";
   }

   template <class... A>
   void Fail(const char *fmt, const char *what, const std::string &detail,
             A... args) {
      failures_++;
      if (failures_ > kMaxReported) {
         return;
      }
      std::string shown;
      ShowArgs(shown, args...);
      ADD_FAILURE() << "format " << Quote(fmt) << " args (" << shown
                    << "): " << what << (detail.empty() ? "" : "\n")
                    << detail;
   }

   Rng rng_;
   Rng cutRng_;
   int skipped_ = 0;
   int cases_ = 0;
   int failures_ = 0;
   int failedCases_ = 0;
};

#define EXPECT_NO_MISMATCH(d)                                             \
   EXPECT_EQ((d).failures(), 0)                                           \
      << (d).failures() << " mismatches in " << (d).failedCases() << " of " \
      << (d).cases() << " cases (" << (d).skipped() << " skipped)"          \
      << ((d).failures() > kMaxReported ? " (first ones shown above)" : "")

// ---------------------------------------------------------------------------
// Directive generation.

constexpr int kNone = INT_MIN;

struct Directive {
   std::string flags;
   int width = kNone;       // literal width
   bool starWidth = false;  // width from an int argument
   int precision = kNone;   // literal precision; 0 also for a bare '.'
   bool bareDot = false;
   bool starPrecision = false;
   std::string length;
   char conversion = 'd';

   std::string Render() const {
      std::string s = "%" + flags;
      if (starWidth) {
         s += '*';
      } else if (width != kNone) {
         s += std::to_string(width);
      }
      if (starPrecision) {
         s += ".*";
      } else if (bareDot) {
         s += '.';
      } else if (precision != kNone) {
         s += '.' + std::to_string(precision);
      }
      return s + length + conversion;
   }
};

// MinGW lets ' ' put a blank before %u, where C99 gives it no effect. The
// flag is dropped after the draw so that both trees see the same cases.
void DropFlagsTheRuntimeMisreads(Directive &d) {
#ifdef _WIN32
   if (d.conversion == 'u') {
      d.flags.erase(std::remove(d.flags.begin(), d.flags.end(), ' '), d.flags.end());
   }
#else
   (void)d;
#endif
}

// Star arguments come before the value, width first.
struct Stars {
   int count = 0;
   int values[2] = {0, 0};
   int width = kNone;      // effective, after a negative star width
   int precision = kNone;  // effective: negative means "none"
};

std::string RandomFlags(Rng &rng, const char *allowed) {
   std::string flags;
   size_t n = strlen(allowed);
   for (size_t i = 0; i < n; i++) {
      if (rng.Percent(22)) {
         flags += allowed[i];
      }
   }
   // C allows the flags in any order and repeated.
   for (size_t i = flags.size(); i > 1; i--) {
      std::swap(flags[i - 1], flags[rng.Below(static_cast<uint32_t>(i))]);
   }
   if (!flags.empty() && rng.Percent(5)) {
      flags += flags[0];
   }
   return flags;
}

void RandomWidth(Rng &rng, Directive &d, Stars &st) {
   uint32_t pick = rng.Below(100);
   if (pick < 35) {
      return;
   } else if (pick < 55) {
      d.width = rng.Range(1, 5);
   } else if (pick < 80) {
      d.width = rng.Range(6, 30);
   } else if (pick < 85) {
      d.width = rng.Range(31, 320);
   } else {
      d.starWidth = true;
      int v = rng.Percent(70) ? rng.Range(-30, 30) : rng.Range(-200, 200);
      st.values[st.count++] = v;
      st.width = v;
   }
}

// maxPrecision bounds literal and star precisions alike.
void RandomPrecision(Rng &rng, Directive &d, Stars &st, int maxPrecision) {
   uint32_t pick = rng.Below(100);
   if (pick < 35) {
      return;
   } else if (pick < 42) {
      d.bareDot = true;
      st.precision = 0;
   } else if (pick < 52) {
      d.precision = 0;
   } else if (pick < 72) {
      d.precision = rng.Range(1, 6 < maxPrecision ? 6 : maxPrecision);
   } else if (pick < 82) {
      d.precision = rng.Range(0, 20 < maxPrecision ? 20 : maxPrecision);
   } else if (pick < 87) {
      d.precision = rng.Range(0, maxPrecision);
   } else {
      d.starPrecision = true;
      int v = rng.Percent(30) ? rng.Range(-20, -1)
                              : rng.Range(0, 25 < maxPrecision ? 25 : maxPrecision);
      st.values[st.count++] = v;
      st.precision = v;
   }
   if (!d.starPrecision && !d.bareDot) {
      st.precision = d.precision;
   }
}

template <class T>
void CheckWithStars(Differ &differ, const std::string &fmt, const Stars &st,
                    T value) {
   switch (st.count) {
   case 0:
      differ.Check(fmt, value);
      break;
   case 1:
      differ.Check(fmt, st.values[0], value);
      break;
   default:
      differ.Check(fmt, st.values[0], st.values[1], value);
      break;
   }
}

// Literal text around a directive, sometimes with a multi-byte character so
// that the UTF-8 cut has something to step back over.
std::string Surround(Rng &rng, const std::string &directive) {
   static const char *const kBefore[] = {"", "", "", "<", "x=", "\xC3\xA9:", "100%% "};
   static const char *const kAfter[] = {"", "", "", ">", " end", "\xE2\x82\xAC", "%%"};
   return std::string(rng.Pick(kBefore)) + directive + rng.Pick(kAfter);
}

// ---------------------------------------------------------------------------
// Integer values.

template <class T>
T IntegerValue(Rng &rng) {
   typedef typename std::make_unsigned<T>::type U;
   const bool isSigned = std::is_signed<T>::value;
   switch (rng.Below(5)) {
   case 0: {
      const T edges[] = {
         T(0),
         T(1),
         static_cast<T>(-1),
         std::numeric_limits<T>::min(),
         std::numeric_limits<T>::max(),
         static_cast<T>(std::numeric_limits<T>::min() + 1),
         static_cast<T>(std::numeric_limits<T>::max() - 1),
         T(7),
         T(8),
         T(10),
         T(16),
      };
      return rng.Pick(edges);
   }
   case 1: {  // powers of ten and their neighbours
      U p = 1;
      int k = rng.Range(0, std::numeric_limits<U>::digits10);
      for (int i = 0; i < k; i++) {
         p = static_cast<U>(p * 10u);
      }
      p = static_cast<U>(p + static_cast<U>(rng.Range(-1, 1)));
      T v = static_cast<T>(p);
      return isSigned && rng.Percent(40) ? static_cast<T>(U(0) - U(v)) : v;
   }
   case 2: {  // values around the narrow types used by hh and h
      const long long edges[] = {127, 128, -128, -129, 255, 256, -1, 32767,
                                 32768, -32768, -32769, 65535, 65536, 0x12345};
      return static_cast<T>(rng.Pick(edges));
   }
   default: {
      U u = static_cast<U>(rng.Next() >> rng.Below(64));
      T v = static_cast<T>(u);
      return isSigned && rng.Percent(40) ? static_cast<T>(U(0) - u) : v;
   }
   }
}

template <class T>
void CheckInteger(Differ &differ, const Directive &d, const Stars &st) {
   Rng &rng = differ.rng();
   T value = IntegerValue<T>(rng);
#ifdef _WIN32
   // MinGW prints nothing for %#.0o of zero; C99 (and the engine) print "0".
   unsigned long long narrowed = static_cast<unsigned long long>(value);
   if (d.length == "hh") {
      narrowed = static_cast<unsigned char>(value);
   } else if (d.length == "h") {
      narrowed = static_cast<unsigned short>(value);
   }
   if (d.conversion == 'o' && d.flags.find('#') != std::string::npos &&
       st.precision == 0 && narrowed == 0) {
      value = 1;
   }
#endif
   CheckWithStars(differ, Surround(rng, d.Render()), st, value);
}

typedef std::make_signed<size_t>::type SignedSize;
typedef std::make_unsigned<ptrdiff_t>::type UnsignedPtrdiff;

void RandomIntegerCase(Differ &differ) {
   Rng &rng = differ.rng();
   static const char kConversions[] = {'d', 'i', 'u', 'o', 'x', 'X'};
   static const char *const kLengths[] = {"", "", "hh", "h", "l", "ll", "z", "j", "t"};
   Directive d;
   Stars st;
   d.conversion = rng.Pick(kConversions);
   d.length = rng.Pick(kLengths);
   const bool isSigned = d.conversion == 'd' || d.conversion == 'i';
   // '#' means nothing C defines for d, i and u; the apostrophe is only
   // defined for the decimal ones.
   d.flags = RandomFlags(rng, isSigned || d.conversion == 'u' ? "-+ 0'" : "-+ #0");
   DropFlagsTheRuntimeMisreads(d);
   RandomWidth(rng, d, st);
   RandomPrecision(rng, d, st, rng.Percent(90) ? 40 : 300);

   const std::string &len = d.length;
   if (len.empty() || len == "hh" || len == "h") {
      // hh and h take the promoted int and narrow it themselves.
      if (isSigned || !len.empty()) {
         CheckInteger<int>(differ, d, st);
      } else {
         CheckInteger<unsigned>(differ, d, st);
      }
   } else if (len == "l") {
      isSigned ? CheckInteger<long>(differ, d, st)
               : CheckInteger<unsigned long>(differ, d, st);
   } else if (len == "ll") {
      isSigned ? CheckInteger<long long>(differ, d, st)
               : CheckInteger<unsigned long long>(differ, d, st);
   } else if (len == "z") {
      isSigned ? CheckInteger<SignedSize>(differ, d, st)
               : CheckInteger<size_t>(differ, d, st);
   } else if (len == "j") {
      isSigned ? CheckInteger<intmax_t>(differ, d, st)
               : CheckInteger<uintmax_t>(differ, d, st);
   } else {
      isSigned ? CheckInteger<ptrdiff_t>(differ, d, st)
               : CheckInteger<UnsignedPtrdiff>(differ, d, st);
   }
}

// ---------------------------------------------------------------------------
// Floating values.

double ParseDouble(const char *text) { return strtod(text, nullptr); }

double PowerOfTen(int k) {
   char text[16];
   snprintf(text, sizeof text, "1e%d", k);
   return ParseDouble(text);
}

const double kDoubleEdges[] = {
   0.0, -0.0, 1.0, -1.0, 0.5, 1.5, 2.5, 3.5, -0.5, -2.5, 0.25, 0.125, 0.375,
   0.625, 1.25, 2.675, 1.005, 0.05, 0.15, 0.35, 0.45, 9.5, 99.5, 999.5,
   9.9999, 99.9999, 9.99999999, 0.99999, 0.999999999, 9999999.5, 999999.5,
   0.1, 0.2, 0.3, 1.0 / 3.0, 2.0 / 3.0, 3.141592653589793, 2.718281828459045,
   1e-5, 1e-4, 1e-3, 1e5, 1e6, 1e15, 1e16, 1e17, 1e21, 1e22, 1e23,
   123456789.0, 0.000123456, 4.35, 8.5, 1e100, 1e-100, 9.999999e99,
   DBL_MAX, -DBL_MAX, DBL_MIN, -DBL_MIN, DBL_EPSILON, DBL_TRUE_MIN,
   -DBL_TRUE_MIN, 2.2250738585072009e-308, 4.9406564584124654e-322,
   9007199254740993.0, 18446744073709551616.0,
   std::numeric_limits<double>::infinity(),
   -std::numeric_limits<double>::infinity(),
   std::numeric_limits<double>::quiet_NaN(),
};

double RandomDouble(Rng &rng) {
   double sign = rng.Percent(35) ? -1.0 : 1.0;
   switch (rng.Below(9)) {
   case 0:
   case 1:
      return rng.Pick(kDoubleEdges);
   case 2: {  // any finite bit pattern, subnormals included
      for (;;) {
         uint64_t bits = rng.Next();
         double v;
         memcpy(&v, &bits, sizeof v);
         if (std::isfinite(v)) {
            return v;
         }
      }
   }
   case 3: {  // powers of ten and their binary neighbours
      double v = PowerOfTen(rng.Range(-323, 308));
      switch (rng.Below(3)) {
      case 0:
         v = std::nextafter(v, 0.0);
         break;
      case 1:
         v = std::nextafter(v, HUGE_VAL);
         break;
      }
      return sign * v;
   }
   case 4: {  // runs of nines: rounding carries through every digit
      char text[48];
      int nines = rng.Range(1, 17);
      std::string digits(static_cast<size_t>(nines), '9');
      snprintf(text, sizeof text, "%c.%se%d", '9', digits.c_str(),
               rng.Range(-30, 30));
      return sign * ParseDouble(text);
   }
   case 5: {  // exact binary ties: n + k/2^j
      int j = rng.Range(1, 6);
      double v = static_cast<double>(rng.Range(0, 100000)) +
                 static_cast<double>(2 * rng.Range(0, (1 << (j - 1)) - 1) + 1) /
                    static_cast<double>(1 << j);
      return sign * v;
   }
   case 6: {  // short decimals, the usual kind of value
      char text[48];
      snprintf(text, sizeof text, "%llue%d",
               static_cast<unsigned long long>(rng.Next() % 1000000000ull),
               rng.Range(-12, 12));
      return sign * ParseDouble(text);
   }
   case 7:  // integers up to 2^53
      return sign * static_cast<double>(rng.Next() >> rng.Range(11, 63));
   default:
      return sign * static_cast<double>(rng.Range(0, 2000000)) / 1000.0;
   }
}

// The engine keeps at most about 300 significant digits; compare only where
// the directive asks for no more than that.
bool WithinDigitBudget(char conversion, int precision, double v) {
   if (!std::isfinite(v)) {
      return true;
   }
   int p = precision < 0 ? 6 : precision;
   switch (conversion) {
   case 'e':
   case 'E':
      return p + 1 <= 300;
   case 'g':
   case 'G':
      return p <= 300;
   default: {
      int integerDigits = 0;
      if (v != 0.0 && std::fabs(v) >= 1.0) {
         // One spare digit covers log10's inexactness near powers of ten.
         integerDigits = static_cast<int>(std::floor(std::log10(std::fabs(v)))) + 2;
      }
      return integerDigits + p <= 300;
   }
   }
}

// The runtimes have floating-point faults of their own: MinGW drops the
// field width of some %g results in f style, and glibc drops the zeros that
// %#g must keep when rounding carries into e style (999.9 as "%#.3g" gives
// "1.e+03" instead of "1.00e+03"). Such cases say nothing about the engine.
// They are recognised by the runtime disagreeing with C99's own definition
// of the result (in terms of its %e and %f), and skipped.
bool RuntimeFollowsC99(char conversion, const std::string &flags, int width,
                       int precision, double v) {
   std::string f = "%" + flags;
   if (width > 0) {
      f += std::to_string(width);
   }
   if (precision >= 0) {
      f += "." + std::to_string(precision);
   }
   f += conversion;
   if (RuntimeFormat(nullptr, 0, f.c_str(), v) < width) {
      return false;
   }
   if ((conversion == 'g' || conversion == 'G') &&
       flags.find('#') != std::string::npos && std::isfinite(v)) {
      int p = precision < 0 ? 6 : precision == 0 ? 1 : precision;
      char e[400], want[400], got[400];
      RuntimeFormat(e, sizeof e, "%.*e", p - 1, v);
      const char *exponent = strchr(e, 'e');
      int x = exponent != nullptr ? atoi(exponent + 1) : 0;
      if (x < -4 || x >= p) {
         RuntimeFormat(want, sizeof want, "%#.*e", p - 1, v);
      } else {
         RuntimeFormat(want, sizeof want, "%#.*f", p - 1 - x, v);
      }
      RuntimeFormat(got, sizeof got, "%#.*g", p, v);
      if (strcmp(want, got) != 0) {
         return false;
      }
   }
   return true;
}

bool RuntimeFollowsC99(const Directive &d, const Stars &st, double v) {
   int width = 0;
   if (d.starWidth) {
      width = st.width < 0 ? -st.width : st.width;
   } else if (d.width != kNone) {
      width = d.width;
   }
   return RuntimeFollowsC99(d.conversion, d.flags, width,
                            st.precision < 0 ? -1 : st.precision, v);
}

void RandomFloatCase(Differ &differ) {
   Rng &rng = differ.rng();
   static const char kConversions[] = {'e', 'f', 'g', 'E', 'F', 'G', 'e', 'f', 'g'};
   Directive d;
   Stars st;
   d.conversion = rng.Pick(kConversions);
   bool grouping = d.conversion != 'e' && d.conversion != 'E';
   d.flags = RandomFlags(rng, grouping ? "-+ #0'" : "-+ #0");
   RandomWidth(rng, d, st);
   RandomPrecision(rng, d, st, rng.Percent(85) ? 40 : 299);
   double v = RandomDouble(rng);
   std::string fmt = Surround(rng, d.Render());
   if (!WithinDigitBudget(d.conversion, st.precision, v)) {
      // Keep the directive, bring the value into range.
      v = std::fmod(v, 1e200);
      if (!WithinDigitBudget(d.conversion, st.precision, v)) {
         differ.Skip();
         return;
      }
   }
   if (!RuntimeFollowsC99(d, st, v)) {
      differ.Skip();
      return;
   }
   CheckWithStars(differ, fmt, st, v);
}

// ---------------------------------------------------------------------------
// Strings and characters.

const char *const kStrings[] = {
   "",
   "a",
   "ab",
   "hello",
   "Hello, world!",
   "100% sure",
   "tab\tand\nnewline",
   "h\xC3\xA9llo",                                  // 2-byte sequence
   "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E",          // three 3-byte ones
   "emoji \xF0\x9F\x98\x80 end",                    // a 4-byte one
   "\xC3\xA9\xE2\x82\xAC\xF0\x90\x8D\x88",          // mixed lengths
   "C:\\Program Files\\Common Files\\setup.log",
   "0123456789012345678901234567890123456789012345678901234567890123456789"
   "0123456789012345678901234567890123456789012345678901234567890123456789"
   "0123456789012345678901234567890123456789",
};

void RandomStringCase(Differ &differ) {
   Rng &rng = differ.rng();
   Directive d;
   Stars st;
   d.conversion = 's';
   d.flags = RandomFlags(rng, "-+ ");
   RandomWidth(rng, d, st);
   RandomPrecision(rng, d, st, 300);
   CheckWithStars(differ, Surround(rng, d.Render()), st, rng.Pick(kStrings));
}

void RandomCharCase(Differ &differ) {
   Rng &rng = differ.rng();
   Directive d;
   Stars st;
   d.conversion = 'c';
   d.flags = RandomFlags(rng, "-+ ");
   RandomWidth(rng, d, st);
   int c;
   switch (rng.Below(4)) {
   case 0:
      c = rng.Range(0, 255);  // raw bytes, NUL and non-ASCII included
      break;
   case 1:
      c = 0x100 + rng.Range(0, 255);  // %c narrows to unsigned char
      break;
   default:
      c = rng.Range(0x20, 0x7E);
      break;
   }
   CheckWithStars(differ, Surround(rng, d.Render()), st, c);
}

// ---------------------------------------------------------------------------
// Several directives in one format: state must not leak from one directive
// into the next.

enum Kind { kInt, kUnsigned, kLongLong, kDouble, kString, kChar };

std::string DirectiveFor(Rng &rng, Kind kind, double value) {
   Directive d;
   switch (kind) {
   case kInt:
      d.conversion = rng.Percent(50) ? 'd' : 'i';
      d.length = rng.Percent(20) ? (rng.Percent(50) ? "h" : "hh") : "";
      d.flags = RandomFlags(rng, "-+ 0'");
      break;
   case kUnsigned: {
      static const char kConversions[] = {'u', 'o', 'x', 'X'};
      d.conversion = rng.Pick(kConversions);
      d.flags = RandomFlags(rng, d.conversion == 'u' ? "-+ 0'" : "-+ #0");
      DropFlagsTheRuntimeMisreads(d);
      break;
   }
   case kLongLong: {
      static const char kConversions[] = {'d', 'i', 'x', 'X'};
      d.conversion = rng.Pick(kConversions);
      d.length = "ll";
      d.flags = RandomFlags(rng, "-+ 0");
      break;
   }
   case kDouble: {
      static const char kConversions[] = {'e', 'f', 'g', 'E', 'F', 'G'};
      d.conversion = rng.Pick(kConversions);
      d.flags = RandomFlags(rng, "-+ #0");
      break;
   }
   case kString:
      d.conversion = 's';
      d.flags = RandomFlags(rng, "-");
      break;
   case kChar:
      d.conversion = 'c';
      d.flags = RandomFlags(rng, "-");
      break;
   }
   if (rng.Percent(50)) {
      d.width = rng.Range(0, 24);
   }
   if (kind != kChar && rng.Percent(45)) {
      d.precision = rng.Range(0, kind == kDouble ? 20 : 12);
   }
   if (kind == kDouble) {
      if (!WithinDigitBudget(d.conversion, d.precision, value)) {
         d.conversion = 'e';
      }
      Stars st;
      st.precision = d.precision == kNone ? -1 : d.precision;
      if (!RuntimeFollowsC99(d, st, value)) {
         d.width = kNone;
         d.flags.erase(std::remove(d.flags.begin(), d.flags.end(), '#'),
                       d.flags.end());
      }
   }
   static const char *const kText[] = {"", " ", ", ", " | ", "=", "\xC3\xA9", "%%"};
   return d.Render() + rng.Pick(kText);
}

double AsDouble(double v) { return v; }
template <class T>
double AsDouble(T) {
   return 0.0;
}

template <class A, class B, class C, class D>
void RandomMixedCase(Differ &differ, Kind ka, A a, Kind kb, B b, Kind kc, C c,
                     Kind kd, D d) {
   Rng &rng = differ.rng();
   std::string fmt = "[" + DirectiveFor(rng, ka, AsDouble(a)) +
                     DirectiveFor(rng, kb, AsDouble(b)) +
                     DirectiveFor(rng, kc, AsDouble(c)) +
                     DirectiveFor(rng, kd, AsDouble(d)) + "]";
   differ.Check(fmt, a, b, c, d);
}

// ---------------------------------------------------------------------------
// Tests.

// Both formatters follow LC_NUMERIC; the comparison is meant for "C", whatever
// other tests in the same program left behind.
class FormatDifferential : public ::testing::Test {
protected:
   void SetUp() override {
      const char *current = setlocale(LC_ALL, nullptr);
      saved_ = current != nullptr ? current : "C";
      setlocale(LC_ALL, "C");
   }
   void TearDown() override { setlocale(LC_ALL, saved_.c_str()); }

private:
   std::string saved_;
};

TEST_F(FormatDifferential, Integers) {
   Differ differ(0x1D15EA5Eu);
   for (int i = 0; i < 12000; i++) {
      RandomIntegerCase(differ);
   }
   EXPECT_NO_MISMATCH(differ);
}

TEST_F(FormatDifferential, Floats) {
   Differ differ(0xF10A7u);
   for (int i = 0; i < 12000; i++) {
      RandomFloatCase(differ);
   }
   EXPECT_NO_MISMATCH(differ);
}

TEST_F(FormatDifferential, StringsAndCharacters) {
   Differ differ(0x57121165u);
   for (int i = 0; i < 3000; i++) {
      RandomStringCase(differ);
      RandomCharCase(differ);
   }
   EXPECT_NO_MISMATCH(differ);
}

// Every edge value through a fixed grid of directives, so that coverage of
// the classic corner cases does not hang on the random draw.
TEST_F(FormatDifferential, FloatEdgeGrid) {
   Differ differ(1);
   static const char *const kGrid[] = {
      "%e",    "%.0e",   "%#.0e", "%.3e",  "%.17e",  "%+.1E",  "%12.4e",
      "%f",    "%.0f",   "%#.0f", "%.1f",  "%.2f",   "%.3f",   "%.17f",
      "%- 12.3F", "%012.3f", "%+08.0f", "%.40f",
      "%g",    "%.0g",   "%#.0g", "%.1g",  "%.3g",   "%#g",    "%.17g",
      "%G",    "%-+12G", "%012g", "% .6g", "%#.10G", "%'.2f",  "%'g",
      "%10e",  "%-10f",  "%010g", "%+010e", "% 010f",
   };
   for (double v : kDoubleEdges) {
      for (const char *fmt : kGrid) {
         // The grid is flags, width, precision, conversion; nothing else.
         const char *p = fmt + 1;
         std::string flags;
         while (strchr("-+ #0'", *p) != nullptr) {
            flags += *p++;
         }
         int width = atoi(p);
         const char *dot = strchr(p, '.');
         int precision = dot != nullptr ? atoi(dot + 1) : -1;
         char conversion = fmt[strlen(fmt) - 1];
         if (!WithinDigitBudget(conversion, precision, v) ||
             !RuntimeFollowsC99(conversion, flags, width, precision, v)) {
            differ.Skip();
            continue;
         }
         differ.Check(fmt, v);
      }
   }
   for (int k = -323; k <= 308; k++) {
      double v = PowerOfTen(k);
      for (double w : {v, std::nextafter(v, 0.0), std::nextafter(v, HUGE_VAL)}) {
         differ.Check("%.17e", w);
         differ.Check("%.16g", w);
         differ.Check("%g", w);
         if (k < 250) {
            differ.Check("%.3f", w);
         }
      }
   }
   EXPECT_NO_MISMATCH(differ);
}

TEST_F(FormatDifferential, IntegerEdgeGrid) {
   Differ differ(2);
   static const char *const kSigned[] = {
      "%d", "%i", "%+d", "% d", "%-6d", "%06d", "%.0d", "%.5d", "%8.3d",
      "%-+8.3d", "%+.0d", "% 012d", "%'d", "%20.15d",
   };
   static const char *const kUnsigned[] = {
      "%u", "%o", "%x", "%X", "%#o", "%#x", "%#X", "%.0u", "%.0x", "%#.0x",
      "%#.3o", "%#8.3x", "%-#10o", "%#010x", "%010u", "%.20x", "%'u",
   };
   const long long signedValues[] = {
      0, 1, -1, 9, 10, -10, 99, 100, 127, -128, 255, 32767, -32768, INT_MAX,
      INT_MIN, 2147483648LL, 999999999999LL, LLONG_MAX, LLONG_MIN,
   };
   const unsigned long long unsignedValues[] = {
      0, 1, 7, 8, 15, 16, 255, 256, 4095, UINT_MAX, 4294967296ULL,
      01777777777777777777777ULL, ULLONG_MAX, 0x8000000000000000ULL,
   };
   for (const char *fmt : kSigned) {
      for (long long v : signedValues) {
         std::string f(fmt);
         std::string ll = f.substr(0, f.size() - 1) + "ll" + f.back();
         std::string hh = f.substr(0, f.size() - 1) + "hh" + f.back();
         std::string h = f.substr(0, f.size() - 1) + "h" + f.back();
         std::string j = f.substr(0, f.size() - 1) + "j" + f.back();
         differ.Check(ll, v);
         differ.Check(j, static_cast<intmax_t>(v));
         differ.Check(fmt, static_cast<int>(v));
         differ.Check(hh, static_cast<int>(v));
         differ.Check(h, static_cast<int>(v));
      }
   }
   for (const char *fmt : kUnsigned) {
      for (unsigned long long v : unsignedValues) {
         std::string f(fmt);
#ifdef _WIN32
         if (f == "%#.0o" && v == 0) {
            continue;  // MinGW prints nothing here; C99 prints "0"
         }
#endif
         std::string ll = f.substr(0, f.size() - 1) + "ll" + f.back();
         std::string z = f.substr(0, f.size() - 1) + "z" + f.back();
         std::string hh = f.substr(0, f.size() - 1) + "hh" + f.back();
         differ.Check(ll, v);
         differ.Check(z, static_cast<size_t>(v));
         differ.Check(fmt, static_cast<unsigned>(v));
         differ.Check(hh, static_cast<int>(v));
      }
   }
   EXPECT_NO_MISMATCH(differ);
}

TEST_F(FormatDifferential, StarArguments) {
   Differ differ(3);
   for (int w : {-12, -1, 0, 1, 5, 12}) {
      for (int p : {-7, -1, 0, 1, 3, 12}) {
         differ.Check("%*.*d|", w, p, -42);
         differ.Check("%-*.*x|", w, p, 0xBEEFu);
         differ.Check("%0*.*d|", w, p, 42);
         differ.Check("%*.*s|", w, p, "abcdef");
         differ.Check("%*.*f|", w, p, -3.25);
         differ.Check("%0*.*e|", w, p, 12345.678);
         differ.Check("%#*.*g|", w, p, 0.0001);
         differ.Check("%*c|%.*s|", w, 'q', p, "\xC3\xA9t\xC3\xA9");
      }
   }
   EXPECT_NO_MISMATCH(differ);
}

TEST_F(FormatDifferential, MultipleDirectives) {
   Differ differ(4);
   differ.Check("plain text, no directives");
   differ.Check("");
   differ.Check("%%|%%%%|%-3d%%", 7);
   differ.Check("[%d|%5s|%-8.3f|%c|%#x]", 42, "ab", 3.14159, 'z', 255u);
   differ.Check("%lld items, %.2e avg, %s%%", 123456789012LL, 0.000123, "done");
   differ.Check("%*d:%-*.*s:%+.*e", 6, -5, -10, 2, "xyz", 3, 6.02214076e23);
   differ.Check("%hhd %hd %ld %lld %zu %jd %td %hhu %hu %lu %llu", 300, 70000,
                -5L, LLONG_MIN, static_cast<size_t>(SIZE_MAX), INTMAX_MIN,
                static_cast<ptrdiff_t>(-77), 511, 131071, ULONG_MAX, ULLONG_MAX);
   differ.Check("%04d-%02d-%02dT%02d:%02d:%02d.%03d%s| %s| %c%c: "
                "Util_DeleteFileW: Deleting %s (attempt %d)",
                2026, 12, 5, 16, 38, 7, 123, "Z", "setupKit-build-12345", 'I',
                '0', "C:\\Users\\builder\\AppData\\Local\\Temp\\x.msi", 3);
   differ.Check("%s=%g; %s=%G; %s=%e", "inf", HUGE_VAL, "nan",
                std::numeric_limits<double>::quiet_NaN(), "min", DBL_TRUE_MIN);
   differ.Check("%-10s|%10s|%.1s|%c%c%c", "\xE6\x97\xA5\xE6\x9C\xAC", "\xC3\xA9",
                "abc", 0xE2, 0x82, 0xAC);
   differ.Check("%#o %#X %#.3e %#.0f %#g %+i % i", 8u, 0xABCu, 1.0, 2.5, 0.5, 0, 0);
   differ.Check("%.0f %.0f %.0f %.0f %.0f %.1f %.2f %.3f", 0.5, 1.5, 2.5, -3.5,
                4.5, 0.25, 1.005, 2.0005);
   std::string big(1500, 'w');
   differ.Check("<%s>%s<%d>", big.c_str(), "\xF0\x9F\x98\x80", 1);
   differ.Check("%300d|%-300.200x|%.300e", 1, 0xFFu, 1.0 / 7.0);

   for (int i = 0; i < 1500; i++) {
      Rng &rng = differ.rng();
      double x = RandomDouble(rng);
      double y = RandomDouble(rng);
      switch (i % 4) {
      case 0:
         RandomMixedCase(differ, kInt, IntegerValue<int>(rng), kDouble, x,
                         kString, rng.Pick(kStrings), kChar, rng.Range(0x20, 0x7E));
         break;
      case 1:
         RandomMixedCase(differ, kString, rng.Pick(kStrings), kLongLong,
                         IntegerValue<long long>(rng), kDouble, x, kUnsigned,
                         IntegerValue<unsigned>(rng));
         break;
      case 2:
         RandomMixedCase(differ, kDouble, x, kDouble, y, kInt,
                         IntegerValue<int>(rng), kString, rng.Pick(kStrings));
         break;
      default:
         RandomMixedCase(differ, kUnsigned, IntegerValue<unsigned>(rng), kChar,
                         rng.Range(0x20, 0x7E), kLongLong,
                         IntegerValue<long long>(rng), kDouble, x);
         break;
      }
   }
   EXPECT_NO_MISMATCH(differ);
}

}  // namespace
