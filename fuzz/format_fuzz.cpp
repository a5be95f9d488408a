// libFuzzer harness: the library's printf engine against the C runtime.
//
// The input bytes choose an argument signature from a fixed set, then a
// format of 1-6 directives that consumes exactly those arguments (an int
// slot may serve as a '*' width or precision), with literal text between
// the directives, and the argument values. Only the part of printf where
// the engine promises C99 behaviour is generated (no %S/%C/%p/%n, no
// engine-only modifiers, nothing C leaves undefined), so any difference in
// result or text is a fault and aborts.
//
// Beyond the comparison it checks that the engine writes nothing past a
// malloc'd buffer of a fuzzer-chosen size (ASan sees the overrun), that a
// Text_Snprintf that does not fit leaves a terminated prefix cut on a whole
// UTF-8 sequence, and that the allocating mode gives the same text.
#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "lib/string/bsd_vsnprintf.h"
#include "lib/string/str.h"

namespace {

// ---------------------------------------------------------------------------
// Formatters.

int RuntimeFormat(char *buf, size_t size, const char *fmt, ...) {
   va_list ap;
   va_start(ap, fmt);
   int n = vsnprintf(buf, size, fmt, ap);
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
// Reading the input; past its end everything reads as zero, so every input
// makes some case.

class Input {
public:
   Input(const uint8_t *data, size_t size) : p_(data), end_(data + size) {}

   uint8_t Byte() { return p_ < end_ ? *p_++ : 0; }
   uint32_t Below(uint32_t n) { return n == 0 ? 0 : Byte() % n; }
   uint32_t U16() { return Byte() | static_cast<uint32_t>(Byte()) << 8; }
   uint64_t U64() {
      uint64_t v = 0;
      for (int i = 0; i < 8; i++) {
         v |= static_cast<uint64_t>(Byte()) << (8 * i);
      }
      return v;
   }

private:
   const uint8_t *p_;
   const uint8_t *end_;
};

// ---------------------------------------------------------------------------
// Failure reports.

std::string Escape(const char *s, size_t len) {
   std::string out;
   for (size_t i = 0; i < len; i++) {
      unsigned char c = static_cast<unsigned char>(s[i]);
      if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
         out += static_cast<char>(c);
      } else {
         char hex[8];
         snprintf(hex, sizeof hex, "\\x%02X", c);
         out += hex;
      }
   }
   return out;
}

std::string Show(int v) { return "(int)" + std::to_string(v); }
std::string Show(long long v) { return "(long long)" + std::to_string(v); }
std::string Show(const char *s) { return "\"" + Escape(s, strlen(s)) + "\""; }
std::string Show(double v) {
   char text[80];
   snprintf(text, sizeof text, "%.17g (%a)", v, v);
   return text;
}

template <class... A>
[[noreturn]] void Die(const char *fmt, const char *what,
                      const std::string &detail, A... args) {
   std::string shown;
   for (const std::string &s : {std::string(), Show(args)...}) {
      if (!s.empty()) {
         shown += shown.empty() ? s : ", " + s;
      }
   }
   fprintf(stderr,
           "\n*** engine mismatch: %s\n  format: \"%s\"\n  args:   %s\n%s\n",
           what, Escape(fmt, strlen(fmt)).c_str(), shown.c_str(),
           detail.c_str());
   abort();
}

std::string Texts(int gotRet, const char *got, size_t gotLen, int wantRet,
                  const char *want, size_t wantLen) {
   return "  engine : ret=" + std::to_string(gotRet) + " text=\"" +
          Escape(got, gotLen) + "\"\n  runtime: ret=" + std::to_string(wantRet) +
          " text=\"" + Escape(want, wantLen) + "\"";
}

// ---------------------------------------------------------------------------
// UTF-8.

bool IsValidUtf8(const char *s, size_t len) {
   const unsigned char *p = reinterpret_cast<const unsigned char *>(s);
   static const uint32_t kMinForLength[] = {0, 0x80, 0x800, 0x10000};
   for (size_t i = 0; i < len;) {
      unsigned c = p[i];
      size_t extra = c < 0x80              ? 0
                     : (c & 0xE0) == 0xC0 ? 1
                     : (c & 0xF0) == 0xE0 ? 2
                     : (c & 0xF8) == 0xF0 ? 3
                                          : 4;
      if (extra == 4 || i + extra >= len) {
         return false;
      }
      uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
      for (size_t k = 1; k <= extra; k++) {
         if ((p[i + k] & 0xC0) != 0x80) {
            return false;
         }
         cp = (cp << 6) | (p[i + k] & 0x3F);
      }
      if (cp < kMinForLength[extra] || cp > 0x10FFFF ||
          (cp >= 0xD800 && cp <= 0xDFFF)) {
         return false;
      }
      i += extra + 1;
   }
   return true;
}

// ---------------------------------------------------------------------------
// The checks for one format and its arguments.

template <class... A>
void CheckAll(const std::string &format, size_t cutChoice, A... args) {
   const char *fmt = format.c_str();
   const int n = RuntimeFormat(nullptr, 0, fmt, args...);
   if (n < 0) {
      Die(fmt, "the C runtime rejected the case (harness bug)", "", args...);
   }
   const size_t len = static_cast<size_t>(n);
   std::vector<char> ref(len + 1);
   RuntimeFormat(ref.data(), ref.size(), fmt, args...);

   // Exact fit, in a heap block of exactly that size.
   {
      char *buf = static_cast<char *>(malloc(len + 1));
      int e = EngineFormat(buf, len + 1, fmt, args...);
      if (e != n || memcmp(buf, ref.data(), len + 1) != 0) {
         Die(fmt, "exact-fit buffer",
             Texts(e, buf, e >= 0 && static_cast<size_t>(e) <= len ? e : len, n,
                   ref.data(), len),
             args...);
      }
      free(buf);
   }

   // A cut: a heap block of the chosen size (0 included: malloc(0) has no
   // byte ASan lets anyone touch).
   const size_t size = cutChoice % (len + 2);
   {
      std::vector<char> want(size + 1);
      int r = RuntimeFormat(want.data(), size, fmt, args...);
      char *buf = static_cast<char *>(malloc(size));
      int e = EngineFormat(buf, size, fmt, args...);
      if (e != r || (size != 0 && memcmp(buf, want.data(), size) != 0)) {
         size_t shown = size == 0 ? 0 : size - 1;
         Die(fmt, ("buffer of " + std::to_string(size)).c_str(),
             Texts(e, buf, shown, r, want.data(), shown), args...);
      }
      free(buf);
   }

   // Text_Snprintf with the same size.
   {
      char *buf = static_cast<char *>(malloc(size));
      int t = Text_Snprintf(buf, size, fmt, args...);
      std::string problem;
      if (len < size) {
         if (t != n || memcmp(buf, ref.data(), len + 1) != 0) {
            problem = "text fits but was not copied whole";
         }
      } else if (t != -1) {
         problem = "result is not -1 though the text does not fit";
      } else if (size != 0) {
         const size_t room = size - 1;
         if (IsValidUtf8(ref.data(), len)) {
            size_t want = room;
            while (want > 0 && (static_cast<unsigned char>(ref[want]) & 0xC0) == 0x80) {
               want--;
            }
            if (memcmp(buf, ref.data(), want) != 0 || buf[want] != '\0') {
               problem = "not cut after the last whole UTF-8 sequence (at " +
                         std::to_string(want) + ")";
            }
         } else {
            // Invalid UTF-8 has no single right cut (stray bytes may go or
            // stay); still the buffer must hold a terminated prefix that
            // does not split a well-formed sequence of the text.
            size_t cut = room + 1;
            for (size_t k = room + 1; k-- > 0;) {
               if (buf[k] == '\0' && memcmp(buf, ref.data(), k) == 0) {
                  cut = k;
                  break;
               }
            }
            if (cut > room) {
               problem = "no terminated prefix of the text";
            } else {
               size_t lead = cut;
               while (lead > 0 && cut - lead < 3 &&
                      (static_cast<unsigned char>(ref[lead]) & 0xC0) == 0x80) {
                  lead--;
               }
               for (size_t m = 2; m <= 4 && lead < cut; m++) {
                  if (lead + m > cut && lead + m <= len &&
                      IsValidUtf8(ref.data() + lead, m)) {
                     problem = "the cut splits a UTF-8 sequence";
                  }
               }
            }
         }
      }
      if (!problem.empty()) {
         Die(fmt, ("Text_Snprintf, buffer of " + std::to_string(size)).c_str(),
             "  " + problem + "\n  Text_Snprintf: ret=" + std::to_string(t) +
                " buffer=\"" + Escape(buf, size == 0 ? 0 : size - 1) +
                "\"\n  full text: \"" +
                Escape(ref.data(), len) + "\"",
             args...);
      }
      free(buf);
   }

   // Allocating mode.
   {
      char *p = nullptr;
      int e = EngineAllocate(&p, fmt, args...);
      if (p == nullptr || e != n || memcmp(p, ref.data(), len + 1) != 0) {
         Die(fmt, "allocating mode",
             p == nullptr ? std::string("  null buffer, ret=") + std::to_string(e)
                          : Texts(e, p, e >= 0 && static_cast<size_t>(e) <= len ? e : len,
                                  n, ref.data(), len),
             args...);
      }
      free(p);
   }
}

// ---------------------------------------------------------------------------
// Argument slots: int (also the '*' arguments), 64-bit integer, double and
// string.

enum Cls { I, Q, D, S };

template <Cls C> struct SlotType;
template <> struct SlotType<I> { typedef int type; };
template <> struct SlotType<Q> { typedef long long type; };
template <> struct SlotType<D> { typedef double type; };
template <> struct SlotType<S> { typedef const char *type; };

struct Slot {
   int i = 0;
   long long q = 0;
   double d = 0.0;
   const char *s = "";
};

template <Cls C> typename SlotType<C>::type Get(const Slot &slot);
template <> int Get<I>(const Slot &slot) { return slot.i; }
template <> long long Get<Q>(const Slot &slot) { return slot.q; }
template <> double Get<D>(const Slot &slot) { return slot.d; }
template <> const char *Get<S>(const Slot &slot) { return slot.s; }

const char *const kStrings[] = {
   "",
   "a",
   "hello",
   "Hello, world!",
   "h\xC3\xA9llo w\xC3\xB6rld",
   "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE6\x96\x87",
   "\xF0\x9F\x98\x80\xF0\x9F\x98\x81\xF0\x9F\x98\x82",
   "\xC3\xA9\xE2\x82\xAC\xF0\x90\x8D\x88x\xC3\xA9",
   "C:\\Program Files\\Common Files\\setup\xE2\x84\xA2.log",
   "\xE2\x82\xAC",
};

const char *const kLiterals[] = {
   "", " ", ", ", " | ", "=", "%%", "\xC3\xA9", "\xE2\x82\xAC ", "\xF0\x9F\x98\x80",
   "[", "]\n",
};

const double kDoubles[] = {
   0.0, -0.0, 0.5, 1.5, 2.5, -2.5, 0.125, 9.5, 99.5, 9.9999, 0.99999,
   999999.5, 1e-5, 1e-4, 1e15, 1e16, 1e21, 1e22, 1e23, 0.1, 1.0 / 3.0,
   1.005, 2.675, 4.9406564584124654e-324, 2.2250738585072014e-308,
   1.7976931348623157e308, HUGE_VAL, -HUGE_VAL, NAN,
};

const long long kIntegers[] = {
   0, 1, -1, 7, 8, 10, 16, 127, 128, 255, 256, -128, -129, 32767, 32768,
   65535, 65536, 2147483647LL, -2147483647LL - 1, 4294967295LL, 4294967296LL,
   999999999999LL, 9223372036854775807LL, -9223372036854775807LL - 1,
};

int IntValue(Input &in) {
   switch (in.Below(3)) {
   case 0:
      return static_cast<int>(kIntegers[in.Below(sizeof kIntegers / sizeof kIntegers[0])]);
   case 1:
      return static_cast<int>(in.Byte()) - 128;
   default:
      return static_cast<int>(static_cast<uint32_t>(in.U16()) << in.Below(17));
   }
}

long long LongLongValue(Input &in) {
   switch (in.Below(3)) {
   case 0:
      return kIntegers[in.Below(sizeof kIntegers / sizeof kIntegers[0])];
   case 1:
      return static_cast<long long>(in.U64() >> in.Below(64));
   default:
      return static_cast<long long>(in.U64());
   }
}

double DoubleValue(Input &in) {
   if (in.Below(3) == 0) {
      return kDoubles[in.Below(sizeof kDoubles / sizeof kDoubles[0])];
   }
   uint64_t bits = in.U64();
   double v;
   memcpy(&v, &bits, sizeof v);
   if (std::isnan(v)) {
      v = NAN;  // a NaN's sign bit is printed differently by design
   }
   return v;
}

// The engine keeps at most about 300 significant digits.
int MaxPrecision(char conversion, double v) {
   switch (conversion | 0x20) {
   case 'e':
      return 299;
   case 'g':
      return 300;
   default: {
      if (!std::isfinite(v) || std::fabs(v) < 1.0) {
         return 300;
      }
      // One spare digit covers log10's inexactness near powers of ten.
      return 300 - (static_cast<int>(std::floor(std::log10(std::fabs(v)))) + 2);
   }
   }
}

// glibc drops the zeros %#g must keep when rounding carries into e style
// ("%#.3g" of 999.9 gives "1.e+03", C99 says "1.00e+03"); the engine is
// right there. Recognised by glibc disagreeing with its own %#e / %#f.
bool RuntimeAltGIsRight(int precision, double v) {
   if (!std::isfinite(v)) {
      return true;
   }
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
   return strcmp(want, got) == 0;
}

std::string Flags(Input &in, const char *allowed) {
   std::string flags;
   uint8_t bits = in.Byte();
   for (size_t i = 0; allowed[i] != '\0'; i++) {
      if (bits & (1u << i)) {
         flags += allowed[i];
      }
   }
   if (flags.size() > 1 && (bits & 0x80)) {
      std::swap(flags.front(), flags.back());  // any order is allowed
   }
   return flags;
}

int StarValue(Input &in) {
   int v = static_cast<int>(in.Below(128)) - 40;  // negative ones included
   return in.Below(8) == 0 ? v * 4 : v;
}

std::string Literal(Input &in) {
   std::string text;
   switch (in.Below(4)) {
   case 0:
      break;
   case 1:
      text = kLiterals[in.Below(sizeof kLiterals / sizeof kLiterals[0])];
      break;
   default:
      for (uint32_t k = in.Below(6); k > 0; k--) {
         char c = static_cast<char>(in.Byte());
         if (c == '\0' || c == '%') {
            c = '.';
         }
         text += c;
      }
      break;
   }
   return text;
}

// Builds the format for the signature into `fmt` and the values into
// `slots`.
void Generate(Input &in, const Cls *sig, size_t n, Slot *slots,
              std::vector<std::string> &strings, std::string &fmt) {
   size_t k = 0;
   while (k < n) {
      fmt += Literal(in);

      // Up to two int slots before the value slot may be '*' arguments.
      size_t stars = in.Below(3);
      while (stars > 0 && !(k + stars < n && sig[k] == I && sig[k + stars - 1] == I)) {
         stars--;
      }
      const size_t v = k + stars;
      const Cls cls = sig[v];

      char conversion;
      const char *allowed;
      std::string length;
      switch (cls) {
      case I: {
         static const char kConv[] = {'d', 'i', 'u', 'o', 'x', 'X', 'c'};
         conversion = kConv[in.Below(sizeof kConv)];
         static const char *const kLen[] = {"", "", "hh", "h"};
         if (conversion != 'c') {
            length = kLen[in.Below(4)];
         }
         break;
      }
      case Q: {
         static const char kConv[] = {'d', 'i', 'u', 'o', 'x', 'X'};
         conversion = kConv[in.Below(sizeof kConv)];
         static const char *const kLen[] = {"ll", "j", "z", "t", "l"};
         length = kLen[in.Below(sizeof(long) == sizeof(long long) ? 5 : 4)];
         break;
      }
      case D: {
         static const char kConv[] = {'e', 'f', 'g', 'E', 'F', 'G'};
         conversion = kConv[in.Below(sizeof kConv)];
         break;
      }
      default:
         conversion = 's';
         break;
      }
      switch (conversion) {
      case 'd': case 'i': case 'u':
         allowed = "-+ 0'";
         break;
      case 'o': case 'x': case 'X':
         allowed = "-+ #0";
         break;
      case 'e': case 'E':
         allowed = "-+ #0";
         break;
      case 'f': case 'F': case 'g': case 'G':
         allowed = "-+ #0'";
         break;
      default:  // s, c: '0' and '#' are undefined there
         allowed = "-+ ";
         break;
      }
      std::string flags = Flags(in, allowed);

      // Which stars are width and which precision; %c takes no precision.
      bool widthStar = false;
      bool precisionStar = false;
      if (stars == 2) {
         widthStar = precisionStar = true;
      } else if (stars == 1) {
         (in.Byte() & 1) ? widthStar = true : precisionStar = true;
      }
      if (conversion == 'c' && precisionStar) {
         if (widthStar) {
            // Two int slots but only one star: the first becomes a %d.
            fmt += "%d";
            slots[k++].i = IntValue(in);
         }
         widthStar = true;
         precisionStar = false;
      }

      std::string width;
      if (widthStar) {
         slots[k].i = StarValue(in);
         k++;
         width = "*";
      } else if (in.Below(3) != 0) {
         width = std::to_string(1 + in.Below(in.Below(4) == 0 ? 255 : 24));
      }

      // Value first: the precision may depend on it.
      Slot &value = slots[v];
      switch (cls) {
      case I:
         value.i = IntValue(in);
         break;
      case Q:
         value.q = LongLongValue(in);
         break;
      case D:
         value.d = DoubleValue(in);
         if (MaxPrecision(conversion, value.d) < 6) {  // 6: the default
            value.d = std::fmod(value.d, 1e200);
         }
         break;
      case S:
         if (in.Below(3) == 0) {
            // Fuzzer bytes, possibly invalid UTF-8, up to a NUL.
            std::string s;
            for (uint32_t m = in.Below(40); m > 0; m--) {
               char c = static_cast<char>(in.Byte());
               if (c == '\0') {
                  break;
               }
               s += c;
            }
            strings.push_back(s);
            value.s = nullptr;  // resolved once `strings` stops growing
            value.i = static_cast<int>(strings.size() - 1);
         } else {
            value.s = kStrings[in.Below(sizeof kStrings / sizeof kStrings[0])];
         }
         break;
      }

      int maxPrecision = cls == D ? MaxPrecision(conversion, value.d) : 320;
      std::string precision;
      int effectivePrecision = -1;
      if (precisionStar) {
         int p = StarValue(in);
         if (p > maxPrecision) {
            p = maxPrecision;
         }
         slots[k].i = p;
         k++;
         precision = ".*";
         effectivePrecision = p < 0 ? -1 : p;
      } else if (conversion != 'c' && in.Below(2) == 0) {
         uint32_t pick = in.Below(4);
         int p = pick == 0   ? 0
                 : pick == 1 ? static_cast<int>(in.Below(8))
                 : pick == 2 ? static_cast<int>(in.Below(41))
                             : static_cast<int>(in.U16() % 321);
         if (p > maxPrecision) {
            p = maxPrecision;
         }
         precision = (in.Below(8) == 0 && p == 0) ? "." : "." + std::to_string(p);
         effectivePrecision = p;
      }
      if ((conversion == 'g' || conversion == 'G') &&
          flags.find('#') != std::string::npos &&
          !RuntimeAltGIsRight(effectivePrecision, value.d)) {
         flags.erase(flags.find('#'), 1);
      }

      fmt += "%" + flags + width + precision + length + conversion;
      k = v + 1;
   }
   fmt += Literal(in);
}

template <Cls... Cs, size_t... Is>
void CallWithSlots(const std::string &fmt, size_t cut, const Slot *slots,
                   std::index_sequence<Is...>) {
   CheckAll(fmt, cut, Get<Cs>(slots[Is])...);
}

template <Cls... Cs>
void RunSignature(Input &in) {
   static const Cls sig[] = {Cs...};
   constexpr size_t n = sizeof...(Cs);
   Slot slots[n];
   std::vector<std::string> strings;
   std::string fmt;
   Generate(in, sig, n, slots, strings, fmt);
   for (Slot &slot : slots) {
      if (slot.s == nullptr) {
         slot.s = strings[static_cast<size_t>(slot.i)].c_str();
      }
   }
   size_t cut = in.U16();
   CallWithSlots<Cs...>(fmt, cut, slots, std::make_index_sequence<sizeof...(Cs)>());
}

typedef void (*Runner)(Input &);

// The fixed set of argument signatures: every single directive with 0-2
// stars, then mixtures of up to six arguments.
const Runner kRunners[] = {
   RunSignature<I>,          RunSignature<Q>,          RunSignature<D>,
   RunSignature<S>,          RunSignature<I, I>,       RunSignature<I, Q>,
   RunSignature<I, D>,       RunSignature<I, S>,       RunSignature<I, I, I>,
   RunSignature<I, I, Q>,    RunSignature<I, I, D>,    RunSignature<I, I, S>,
   RunSignature<I, D, S>,    RunSignature<S, Q, I, D>, RunSignature<D, S, D, S>,
   RunSignature<I, I, D, S, I, Q>, RunSignature<D, D, I, S, Q, D>,
   RunSignature<Q, S, I, I, D, I>, RunSignature<S, S, S, I, D, Q>,
   RunSignature<I, I, I, I, I, I>, RunSignature<D, I, I, D, I, S>,
   RunSignature<Q, Q, D, S, I, I>, RunSignature<S, I, S, I, S, I>,
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
   Input in(data, size);
   kRunners[in.Below(sizeof kRunners / sizeof kRunners[0])](in);
   return 0;
}
