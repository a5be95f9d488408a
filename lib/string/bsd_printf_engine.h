// The formatting engine shared by bsd_vsnprintf (UTF-8 output) and
// bsd_vsnwprintf (UTF-16 output). Private to lib/string.
//
// One template serves both widths: the directive grammar, argument fetching
// and number rendering are identical; only string conversions differ, and
// those are selected by the output character type.
#pragma once

#include <cfloat>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <type_traits>

#include "lib/unicode/unicodeSimpleTypes.h"

namespace bsdprintf {

// Largest text the engine reports; longer output is an error.
constexpr size_t kMaxResult = 0x7FFFFFFF;
// The runtime's digit conversions write into a buffer of this size; digits
// beyond it are rendered as zeros.
constexpr int kDigitBufSize = 349;
// Positional arguments: the highest number the engine accepts.
constexpr int kMaxArgPosition = 1024;

enum Flags : unsigned {
   F_MINUS = 1u << 0,
   F_PLUS = 1u << 1,
   F_SPACE = 1u << 2,
   F_ALT = 1u << 3,
   F_ZERO = 1u << 4,
   F_GROUP = 1u << 5,
};

enum Length : uint8_t {
   LM_NONE,
   LM_HH,
   LM_H,
   LM_L,
   LM_LL,   // ll, L, q, I64
   LM_J,
   LM_T,
   LM_Z,    // z, Z, I
   LM_I32,
};

// How an argument sits in the va_list; also the slot type of the
// positional table.
enum ArgClass : uint8_t {
   A_NONE,
   A_INT,
   A_LONG,
   A_INT64,
   A_INTMAX,
   A_PTRDIFF,
   A_SIZE,
   A_DOUBLE,
   A_LDOUBLE,
   A_PTR,
};

union ArgValue {
   int64_t i;
   double d;
   long double ld;
   void *p;
};

struct Directive {
   unsigned flags = 0;
   int width = 0;          // valid when hasWidth
   int precision = -1;     // -1: none
   int pos = 0;            // 1-based argument number, 0: sequential
   int widthPos = 0;       // for '*n$'
   int precPos = 0;
   bool hasWidth = false;
   bool widthStar = false;
   bool precStar = false;
   bool bad = false;       // a number out of range
   Length length = LM_NONE;
   unsigned conv = 0;      // conversion character (a UTF-16 unit in the wide engine)
};

inline bool IsDigit(unsigned c) { return c - '0' < 10u; }

// Reads decimal digits; returns INT_MAX + 1 on overflow (reported as bad).
template <typename C>
inline long long ReadNumber(const C *&f)
{
   long long n = 0;
   while (IsDigit(static_cast<unsigned>(*f))) {
      if (n <= INT_MAX) {
         n = n * 10 + (static_cast<unsigned>(*f) - '0');
      }
      f++;
   }
   return n > INT_MAX ? static_cast<long long>(INT_MAX) + 1 : n;
}

// A width or precision in digits; above INT_MAX the directive is bad.
template <typename C>
inline int ReadBoundedNumber(const C *&f, Directive &d)
{
   long long n = ReadNumber(f);
   if (n > INT_MAX) {
      d.bad = true;
      return INT_MAX;
   }
   return static_cast<int>(n);
}

// After '*': the argument number of "*n$", or 0 (the next argument).
template <typename C>
inline int ReadStarPosition(const C *&f, Directive &d)
{
   if (!IsDigit(static_cast<unsigned>(*f))) {
      return 0;
   }
   const C *save = f;
   long long n = ReadNumber(f);
   if (*f != '$' || n == 0) {
      f = save;
      return 0;
   }
   f++;
   if (n > kMaxArgPosition) {
      d.bad = true;
   }
   return static_cast<int>(n);
}

// Parses one directive; f points just past the '%'. Returns the position
// after the conversion character, or null when the format ends inside the
// directive (which ends the output).
template <typename C>
const C *ParseDirective(const C *f, Directive &d)
{
   // A leading number is an argument position when '$' follows, else the
   // width (flags cannot follow a width).
   if (static_cast<unsigned>(*f) - '1' < 9u) {
      const C *save = f;
      long long n = ReadNumber(f);
      if (*f == '$') {
         if (n > kMaxArgPosition) {
            d.bad = true;
         }
         d.pos = static_cast<int>(n);
         f++;
      } else {
         f = save;
      }
   }
   for (;; f++) {
      switch (*f) {
      case '-': d.flags |= F_MINUS; continue;
      case '+': d.flags |= F_PLUS; continue;
      case ' ': d.flags |= F_SPACE; continue;
      case '#': d.flags |= F_ALT; continue;
      case '0': d.flags |= F_ZERO; continue;
      case '\'': d.flags |= F_GROUP; continue;
      default: break;
      }
      break;
   }
   if (*f == '*') {
      f++;
      d.hasWidth = true;
      d.widthStar = true;
      d.widthPos = ReadStarPosition(f, d);
   } else if (IsDigit(static_cast<unsigned>(*f))) {
      d.hasWidth = true;
      d.width = ReadBoundedNumber(f, d);
   }
   if (*f == '.') {
      f++;
      if (*f == '*') {
         f++;
         d.precStar = true;
         d.precPos = ReadStarPosition(f, d);
      } else {
         d.precision = ReadBoundedNumber(f, d);
      }
   }
   switch (*f) {
   case 'h':
      f++;
      if (*f == 'h') {
         f++;
         d.length = LM_HH;
      } else {
         d.length = LM_H;
      }
      break;
   case 'l':
      f++;
      if (*f == 'l') {
         f++;
         d.length = LM_LL;
      } else {
         d.length = LM_L;
      }
      break;
   case 'L':
   case 'q':
      f++;
      d.length = LM_LL;
      break;
   case 'j': f++; d.length = LM_J; break;
   case 't': f++; d.length = LM_T; break;
   case 'z':
   case 'Z': f++; d.length = LM_Z; break;
   case 'I':
      f++;
      if (f[0] == '6' && f[1] == '4') {
         f += 2;
         d.length = LM_LL;
      } else if (f[0] == '3' && f[1] == '2') {
         f += 2;
         d.length = LM_I32;
      } else {
         d.length = LM_Z;
      }
      break;
   default:
      break;
   }
   if (*f == 0) {
      return nullptr;
   }
   d.conv = static_cast<unsigned>(*f);
   switch (d.conv) {
   case 'D': case 'O': case 'U':
      // The long modifier is implied, not imposed: %I64U stays 64-bit.
      if (d.length == LM_NONE) {
         d.length = LM_L;
      }
      break;
   default:
      break;
   }
   return f + 1;
}

// The va_list class of the value a directive consumes (A_NONE: none).
// Table lookups rather than switches: this runs for every directive.
enum ConvKind : uint8_t { K_NONE, K_INT, K_CHAR, K_PTR, K_FLOAT };

struct ConvKinds {
   ConvKind kind[128] = {};
   constexpr ConvKinds()
   {
      for (char c : {'d', 'i', 'o', 'u', 'x', 'X', 'D', 'O', 'U'}) {
         kind[static_cast<unsigned char>(c)] = K_INT;
      }
      kind[unsigned('c')] = kind[unsigned('C')] = K_CHAR;
      kind[unsigned('s')] = kind[unsigned('S')] = kind[unsigned('p')] = kind[unsigned('n')] = K_PTR;
      for (char c : {'e', 'E', 'f', 'F', 'g', 'G'}) {
         kind[static_cast<unsigned char>(c)] = K_FLOAT;
      }
   }
};

inline ArgClass ValueClass(const Directive &d)
{
   static constexpr ConvKinds kKinds;
   static constexpr ArgClass kIntClass[] = {
      A_INT,      // LM_NONE
      A_INT,      // LM_HH
      A_INT,      // LM_H
      A_LONG,     // LM_L
      A_INT64,    // LM_LL
      A_INTMAX,   // LM_J
      A_PTRDIFF,  // LM_T
      A_SIZE,     // LM_Z
      A_INT,      // LM_I32
   };
   ConvKind k = d.conv < 128 ? kKinds.kind[d.conv] : K_NONE;
   switch (k) {
   case K_INT: return kIntClass[d.length];
   case K_CHAR: return A_INT;
   case K_PTR: return A_PTR;
   case K_FLOAT: return d.length == LM_LL ? A_LDOUBLE : A_DOUBLE;
   default: return A_NONE;
   }
}

// Arguments, either straight from the va_list or, once the format turns
// out to number its arguments, from a table filled by a first pass.
struct Args {
   va_list ap;
   ArgValue *table = nullptr;
   int tableSize = 0;
   bool sequentialUsed = false;

   int64_t Integer(int pos, ArgClass cls)
   {
      if (table != nullptr) {
         return table[pos - 1].i;
      }
      if (cls == A_INT) {
         return va_arg(ap, int);
      }
      switch (cls) {
      case A_LONG: return va_arg(ap, long);
      case A_INT64: return va_arg(ap, long long);
      case A_INTMAX: return static_cast<int64_t>(va_arg(ap, intmax_t));
      case A_PTRDIFF: return va_arg(ap, ptrdiff_t);
      case A_SIZE: return static_cast<int64_t>(va_arg(ap, size_t));
      default: return va_arg(ap, int);
      }
   }

   void *Pointer(int pos)
   {
      return table != nullptr ? table[pos - 1].p : va_arg(ap, void *);
   }

   double Double(int pos, ArgClass cls)
   {
      if (table != nullptr) {
         return cls == A_LDOUBLE ? static_cast<double>(table[pos - 1].ld)
                                 : table[pos - 1].d;
      }
      return cls == A_LDOUBLE ? static_cast<double>(va_arg(ap, long double))
                              : va_arg(ap, double);
   }
};

// Output of the engine: a caller buffer (cut silently at size - 1), an
// allocated buffer that grows, or nothing at all (count only).
template <typename C>
class Sink {
public:
   Sink(C **out, size_t size) : out_(out)
   {
      if (out == nullptr) {
         return;
      }
      if (*out == nullptr && size == 0) {
         alloc_ = true;
      } else if (*out != nullptr && size > 0) {
         base_ = p_ = *out;
         end_ = base_ + size - 1;
      }
   }

   void Put(const C *s, size_t n)
   {
      if (n == 0) {
         return;
      }
      if (n <= static_cast<size_t>(end_ - p_)) {
         memcpy(p_, s, n * sizeof(C));
         p_ += n;
      } else {
         PutSlow(s, n);
      }
   }

   void PutChar(C c)
   {
      if (p_ < end_) {
         *p_++ = c;
      } else {
         PutSlow(&c, 1);
      }
   }

   // ASCII text built by the engine (digits, signs, exponents).
   void PutAscii(const char *s, size_t n)
   {
      if constexpr (sizeof(C) == 1) {
         Put(reinterpret_cast<const C *>(s), n);
      } else {
         if (n <= static_cast<size_t>(end_ - p_)) {
            for (size_t i = 0; i < n; i++) {
               p_[i] = static_cast<C>(static_cast<unsigned char>(s[i]));
            }
            p_ += n;
         } else {
            for (size_t i = 0; i < n; i++) {
               PutChar(static_cast<C>(static_cast<unsigned char>(s[i])));
            }
         }
      }
   }

   void Pad(C c, size_t n)
   {
      if (n <= static_cast<size_t>(end_ - p_)) {
         for (size_t i = 0; i < n; i++) {
            p_[i] = c;
         }
         p_ += n;
         return;
      }
      if (alloc_ && !failed_ && Grow(Count() + n + 1)) {
         Pad(c, n);
         return;
      }
      size_t room = static_cast<size_t>(end_ - p_);
      for (size_t i = 0; i < room; i++) {
         p_[i] = c;
      }
      p_ += room;
      dropped_ += n - room;
   }

   size_t Count() const
   {
      return static_cast<size_t>(p_ - base_) + dropped_;
   }

   void Fail() { failed_ = true; }

   // Terminates the text and reports the result.
   int Finish()
   {
      size_t count = Count();
      bool ok = !failed_ && count <= kMaxResult;
      if (alloc_) {
         if (ok && base_ == nullptr) {
            ok = Grow(1);
         }
         if (!ok || dropped_ != 0) {
            free(base_);
            *out_ = nullptr;
            return -1;
         }
         *p_ = 0;
         *out_ = base_;
         return static_cast<int>(count);
      }
      if (base_ != nullptr) {
         *p_ = 0;
      }
      return ok ? static_cast<int>(count) : -1;
   }

private:
   void PutSlow(const C *s, size_t n)
   {
      if (alloc_ && !failed_ && Grow(Count() + n + 1)) {
         memcpy(p_, s, n * sizeof(C));
         p_ += n;
         return;
      }
      size_t room = static_cast<size_t>(end_ - p_);
      if (room != 0) {
         memcpy(p_, s, room * sizeof(C));
         p_ += room;
      }
      dropped_ += n - room;
   }

   // Enlarges the allocation to the smallest multiple of its capacity
   // that holds `need` characters.
   bool Grow(size_t need)
   {
      if (dropped_ != 0 || need > kMaxResult + 1) {
         failed_ = true;
         return false;
      }
      size_t cap = base_ == nullptr ? kInitialCapacity
                                    : static_cast<size_t>(end_ - base_) + 1;
      if (need > cap) {
         cap *= (need + cap - 1) / cap;
      }
      size_t used = static_cast<size_t>(p_ - base_);
      C *grown = static_cast<C *>(realloc(base_, cap * sizeof(C)));
      if (grown == nullptr) {
         failed_ = true;
         return false;
      }
      base_ = grown;
      p_ = grown + used;
      end_ = grown + cap - 1;
      return true;
   }

   static constexpr size_t kInitialCapacity = 128;

   C **out_;
   C *base_ = nullptr;
   C *p_ = nullptr;
   C *end_ = nullptr;
   size_t dropped_ = 0;
   bool alloc_ = false;
   bool failed_ = false;
};

// ---------------------------------------------------------------------------
// UTF helpers

// Bytes of the UTF-8 encoding of a code point.
inline int Utf8Length(uint32_t cp)
{
   return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
}

inline int EncodeUtf8(uint32_t cp, char *out)
{
   if (cp < 0x80) {
      out[0] = static_cast<char>(cp);
      return 1;
   }
   if (cp < 0x800) {
      out[0] = static_cast<char>(0xC0 | (cp >> 6));
      out[1] = static_cast<char>(0x80 | (cp & 0x3F));
      return 2;
   }
   if (cp < 0x10000) {
      out[0] = static_cast<char>(0xE0 | (cp >> 12));
      out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out[2] = static_cast<char>(0x80 | (cp & 0x3F));
      return 3;
   }
   out[0] = static_cast<char>(0xF0 | (cp >> 18));
   out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
   out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
   out[3] = static_cast<char>(0x80 | (cp & 0x3F));
   return 4;
}

// Next code point of UTF-16 text. Returns the units consumed, or 0 at the
// terminator or at a lone surrogate (where a conversion ends).
inline int DecodeUtf16(const utf16_t *s, uint32_t &cp)
{
   uint32_t u = static_cast<uint16_t>(s[0]);
   if (u == 0) {
      return 0;
   }
   if (u < 0xD800 || u > 0xDFFF) {
      cp = u;
      return 1;
   }
   uint32_t v = static_cast<uint16_t>(s[1]);
   if (u <= 0xDBFF && v >= 0xDC00 && v <= 0xDFFF) {
      cp = 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00);
      return 2;
   }
   return 0;
}

// Next code point of UTF-8 text within n bytes. Returns the bytes
// consumed, 0 when the sequence is cut by the end of the range, or -1 when
// the bytes are not UTF-8 (overlong forms, surrogates and values above
// U+10FFFF included).
inline int DecodeUtf8(const unsigned char *s, size_t n, uint32_t &cp)
{
   unsigned b = s[0];
   if (b < 0x80) {
      cp = b;
      return 1;
   }
   int len;
   uint32_t min;
   if (b >= 0xC2 && b <= 0xDF) {
      len = 2;
      cp = b & 0x1F;
      min = 0x80;
   } else if (b >= 0xE0 && b <= 0xEF) {
      len = 3;
      cp = b & 0x0F;
      min = 0x800;
   } else if (b >= 0xF0 && b <= 0xF4) {
      len = 4;
      cp = b & 0x07;
      min = 0x10000;
   } else {
      return -1;
   }
   for (int i = 1; i < len; i++) {
      if (static_cast<size_t>(i) >= n) {
         return 0;
      }
      if ((s[i] & 0xC0) != 0x80) {
         return -1;
      }
      cp = (cp << 6) | (s[i] & 0x3F);
   }
   if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      return -1;
   }
   return len;
}

// ---------------------------------------------------------------------------
// Locale data, fetched only by directives that need it.

struct LocaleText {
   char decimalPoint[8] = ".";
   char thousandsSep[8] = "";
   char grouping[16] = "";
};

inline void CopyLocaleString(char *dst, size_t size, const char *src)
{
   size_t n = src != nullptr ? strlen(src) : 0;
   if (n >= size) {
      n = 0;   // absurdly long locale text: behave as the C locale
   }
   if (n != 0) {
      memcpy(dst, src, n);
   }
   dst[n] = 0;
}

inline LocaleText CurrentLocaleText()
{
   LocaleText t;
   const struct lconv *lc = localeconv();
   if (lc != nullptr) {
      CopyLocaleString(t.decimalPoint, sizeof t.decimalPoint,
                       lc->decimal_point);
      if (t.decimalPoint[0] == 0) {
         t.decimalPoint[0] = '.';
         t.decimalPoint[1] = 0;
      }
      CopyLocaleString(t.thousandsSep, sizeof t.thousandsSep,
                       lc->thousands_sep);
      CopyLocaleString(t.grouping, sizeof t.grouping, lc->grouping);
   }
   return t;
}

// Inserts the thousands separator into a run of digits as the locale's
// grouping string says (group sizes from the right; the last one repeats,
// CHAR_MAX stops grouping). `out` must hold 8 * n bytes.
inline size_t GroupDigits(const char *digits, size_t n, const LocaleText &loc,
                          char *out)
{
   size_t sepLen = strlen(loc.thousandsSep);
   const char *g = loc.grouping;
   if (sepLen == 0 || g[0] <= 0 || g[0] == CHAR_MAX) {
      memcpy(out, digits, n);
      return n;
   }
   // Written backwards from the end of `out`, then moved to its start.
   char *end = out + 8 * n;
   char *p = end;
   size_t inGroup = 0;
   size_t size = static_cast<size_t>(*g);
   bool grouping = true;
   for (size_t i = n; i-- > 0;) {
      if (grouping && inGroup == size) {
         p -= sepLen;
         memcpy(p, loc.thousandsSep, sepLen);
         inGroup = 0;
         if (g[1] != 0) {
            g++;
            if (*g <= 0 || *g == CHAR_MAX) {
               grouping = false;
            } else {
               size = static_cast<size_t>(*g);
            }
         }
      }
      *--p = digits[i];
      inGroup++;
   }
   size_t len = static_cast<size_t>(end - p);
   memmove(out, p, len);
   return len;
}

// ---------------------------------------------------------------------------
// Numbers

static const char kDigitPairs[] =
   "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
   "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
   "8081828384858687888990919293949596979899";

// Writes the digits of v backwards ending at `end`; returns the start.
inline char *UnsignedToText(uint64_t v, unsigned base, bool upper, char *end)
{
   char *p = end;
   if (base == 10) {
      while (v >= 100) {
         unsigned r = static_cast<unsigned>(v % 100);
         v /= 100;
         p -= 2;
         memcpy(p, kDigitPairs + 2 * r, 2);
      }
      if (v >= 10) {
         p -= 2;
         memcpy(p, kDigitPairs + 2 * v, 2);
      } else {
         *--p = static_cast<char>('0' + v);
      }
   } else if (base == 16) {
      const char *hex = upper ? "0123456789ABCDEF" : "0123456789abcdef";
      do {
         *--p = hex[v & 15];
         v >>= 4;
      } while (v != 0);
   } else {
      do {
         *--p = static_cast<char>('0' + (v & 7));
         v >>= 3;
      } while (v != 0);
   }
   return p;
}

// Digits of a finite value as the runtime converts it: either `ndigits`
// significant digits (exponent form) or `ndigits` digits after the point
// (fixed form). The result holds no leading and no trailing zeros (a zero
// value gives "0"); `exp10` is the decimal exponent of its first digit.
struct FloatDigits {
   char digits[kDigitBufSize];
   int length = 0;
   int exp10 = 0;
};

inline int RuntimeFormat(char *buf, size_t size, const char *fmt, int prec,
                         double v)
{
#ifdef _WIN32
   // The MinGW formatter rounds exactly like C99; the system one does not.
   return __mingw_snprintf(buf, size, fmt, prec, v);
#else
   return snprintf(buf, size, fmt, prec, v);
#endif
}

inline void ConvertDigits(double v, int ndigits, bool fixed, FloatDigits &out)
{
   // Room for 309 integer digits, the point, the fraction and the exponent.
   char text[kDigitBufSize + 400];
   v = fabs(v);
   if (fixed) {
      // Keep integer plus fraction digits within the digit buffer.
      int intDigits = v >= 1.0 ? static_cast<int>(log10(v)) + 2 : 1;
      int maxFrac = kDigitBufSize - 1 - intDigits;
      if (ndigits > maxFrac) {
         ndigits = maxFrac < 0 ? 0 : maxFrac;
      }
      RuntimeFormat(text, sizeof text, "%.*f", ndigits, v);
   } else {
      if (ndigits > kDigitBufSize - 1) {
         ndigits = kDigitBufSize - 1;
      }
      if (ndigits < 1) {
         ndigits = 1;
      }
      RuntimeFormat(text, sizeof text, "%.*e", ndigits - 1, v);
   }

   // Collect digits; note where the integer part ends. The point may be any
   // locale text, so anything that is not a digit before 'e' is skipped.
   int n = 0;
   int intCount = -1;
   const char *p = text;
   for (; *p != 0 && *p != 'e' && *p != 'E'; p++) {
      if (IsDigit(static_cast<unsigned char>(*p))) {
         if (n < kDigitBufSize - 1) {
            out.digits[n++] = *p;
         }
      } else if (intCount < 0) {
         intCount = n;
      }
   }
   if (intCount < 0) {
      intCount = n;
   }
   int exp10 = intCount - 1;
   if (*p == 'e' || *p == 'E') {
      exp10 = atoi(p + 1) + intCount - 1;
   }
   int lead = 0;
   while (lead < n && out.digits[lead] == '0') {
      lead++;
   }
   if (lead == n) {
      out.digits[0] = '0';
      out.length = 1;
      out.exp10 = 0;
      return;
   }
   int end = n;
   while (end > lead && out.digits[end - 1] == '0') {
      end--;
   }
   memmove(out.digits, out.digits + lead, static_cast<size_t>(end - lead));
   out.length = end - lead;
   out.exp10 = exp10 - lead;
}

}  // namespace bsdprintf

// ---------------------------------------------------------------------------
// The engine proper.

namespace bsdprintf {

// The next '%' or the terminator. Literal runs between directives are
// mostly a few characters, so those are scanned inline; a long run goes to
// the runtime's vectorised search.
template <typename C>
inline const C *FindPercent(const C *f)
{
   for (int i = 0; i < 16; i++, f++) {
      if (*f == '%' || *f == 0) {
         return f;
      }
   }
   if constexpr (sizeof(C) == 1) {
      const char *pct = strchr(f, '%');
      return pct != nullptr ? pct : f + strlen(f);
   } else {
      while (*f != 0 && *f != '%') {
         f++;
      }
      return f;
   }
}

template <typename C>
class Engine {
public:
   Engine(C **outbuf, size_t size, va_list ap) : sink_(outbuf, size)
   {
      va_copy(args_.ap, ap);
   }

   ~Engine()
   {
      va_end(args_.ap);
      free(args_.table);
   }

   Engine(const Engine &) = delete;
   Engine &operator=(const Engine &) = delete;

   int Run(const C *fmt)
   {
      if (fmt == nullptr) {
         sink_.Fail();
         return sink_.Finish();
      }
      const C *f = fmt;
      for (;;) {
         const C *lit = f;
         f = FindPercent(f);
         if (f != lit) {
            sink_.Put(lit, static_cast<size_t>(f - lit));
         }
         if (*f == 0) {
            break;
         }
         Directive d;
         const C *next;
         switch (f[1]) {
         case 's': case 'd': case 'c': case 'u':
            // A bare conversion, the most common directive in log lines.
            d.conv = static_cast<unsigned>(f[1]);
            next = f + 2;
            break;
         default:
            next = ParseDirective(f + 1, d);
            if (next == nullptr) {
               return sink_.Finish();   // a '%' that ends the format ends the output
            }
            break;
         }
         if (d.bad || !Convert(d, fmt)) {
            sink_.Fail();
            break;
         }
         f = next;
      }
      return sink_.Finish();
   }

private:
   // Fills the positional table from the va_list, in argument order.
   bool BuildTable(const C *fmt)
   {
      ArgClass classes[kMaxArgPosition + 1] = {};
      int highest = 0;
      auto note = [&](int pos, ArgClass cls) {
         if (pos == 0) {
            return false;   // this directive takes its argument in order
         }
         if (classes[pos] == A_NONE) {
            classes[pos] = cls;
         }
         if (pos > highest) {
            highest = pos;
         }
         return true;
      };
      for (const C *f = fmt; *f != 0;) {
         if (*f != '%') {
            f++;
            continue;
         }
         Directive d;
         const C *next = ParseDirective(f + 1, d);
         if (next == nullptr) {
            break;
         }
         if (d.bad) {
            return false;
         }
         if ((d.widthStar && !note(d.widthPos, A_INT)) ||
             (d.precStar && !note(d.precPos, A_INT))) {
            return false;
         }
         ArgClass cls = ValueClass(d);
         if (cls != A_NONE && !note(d.pos, cls)) {
            return false;
         }
         f = next;
      }
      args_.table = static_cast<ArgValue *>(
         calloc(static_cast<size_t>(highest) + 1, sizeof(ArgValue)));
      if (args_.table == nullptr) {
         return false;
      }
      args_.tableSize = highest;
      for (int i = 1; i <= highest; i++) {
         ArgValue &v = args_.table[i - 1];
         switch (classes[i]) {
         case A_LONG: v.i = va_arg(args_.ap, long); break;
         case A_INT64: v.i = va_arg(args_.ap, long long); break;
         case A_INTMAX: v.i = static_cast<int64_t>(va_arg(args_.ap, intmax_t)); break;
         case A_PTRDIFF: v.i = va_arg(args_.ap, ptrdiff_t); break;
         case A_SIZE: v.i = static_cast<int64_t>(va_arg(args_.ap, size_t)); break;
         case A_DOUBLE: v.d = va_arg(args_.ap, double); break;
         case A_LDOUBLE: v.ld = va_arg(args_.ap, long double); break;
         case A_PTR: v.p = va_arg(args_.ap, void *); break;
         default:
            // An unused position: assume an int was passed for it.
            v.i = va_arg(args_.ap, int);
            break;
         }
      }
      return true;
   }

   // Decides the argument mode at the first directive that takes one.
   bool PrepareArgs(int pos, const C *fmt)
   {
      if (pos == 0) {
         if (args_.table != nullptr) {
            return false;
         }
         args_.sequentialUsed = true;
         return true;
      }
      if (args_.table == nullptr) {
         if (args_.sequentialUsed || !BuildTable(fmt)) {
            return false;
         }
      }
      return pos <= args_.tableSize;
   }

   bool Convert(Directive &d, const C *fmt)
   {
      if (d.widthStar) {
         if (!PrepareArgs(d.widthPos, fmt)) {
            return false;
         }
         int w = static_cast<int>(args_.Integer(d.widthPos, A_INT));
         if (w < 0) {
            if (w == INT_MIN) {
               return false;
            }
            d.flags |= F_MINUS;
            w = -w;
         }
         d.width = w;
      }
      if (d.precStar) {
         if (!PrepareArgs(d.precPos, fmt)) {
            return false;
         }
         int p = static_cast<int>(args_.Integer(d.precPos, A_INT));
         d.precision = p < 0 ? -1 : p;
      }
      ArgClass cls = ValueClass(d);
      if (cls != A_NONE && !PrepareArgs(d.pos, fmt)) {
         return false;
      }

      switch (d.conv) {
      case 'd': case 'i': case 'D': {
         int64_t v = args_.Integer(d.pos, cls);
         switch (d.length) {
         case LM_NONE: case LM_I32: v = static_cast<int>(v); break;
         case LM_HH: v = static_cast<signed char>(v); break;
         case LM_H: v = static_cast<short>(v); break;
         case LM_L: v = static_cast<long>(v); break;
         default: break;
         }
         bool neg = v < 0;
         uint64_t mag = neg ? 0 - static_cast<uint64_t>(v)
                            : static_cast<uint64_t>(v);
         FormatInteger(d, mag, 10, neg);
         return true;
      }
      case 'u': case 'o': case 'x': case 'X': case 'U': case 'O': {
         uint64_t v = static_cast<uint64_t>(args_.Integer(d.pos, cls));
         switch (d.length) {
         case LM_NONE: case LM_I32: v = static_cast<unsigned>(v); break;
         case LM_HH: v = static_cast<unsigned char>(v); break;
         case LM_H: v = static_cast<unsigned short>(v); break;
         case LM_L: v = static_cast<unsigned long>(v); break;
         default: break;
         }
         unsigned base = (d.conv == 'o' || d.conv == 'O') ? 8
                         : (d.conv == 'x' || d.conv == 'X') ? 16 : 10;
         d.flags &= ~(F_PLUS | F_SPACE);
         FormatInteger(d, v, base, false);
         return true;
      }
      case 'c':
      case 'C': {
         int v = static_cast<int>(args_.Integer(d.pos, A_INT));
         if (d.conv == 'C' || d.length == LM_L) {
            FormatUnit(d, static_cast<uint16_t>(v));
         } else {
            C ch = static_cast<C>(static_cast<unsigned char>(v));
            FormatText(d, &ch, 1);
         }
         return true;
      }
      case 's':
      case 'S': {
         void *p = args_.Pointer(d.pos);
         if (p == nullptr) {
            static const char kNull[] = "(null)";
            FormatAsciiText(d, kNull, d.precision >= 0 && d.precision < 6
                                         ? static_cast<size_t>(d.precision)
                                         : 6);
            return true;
         }
         bool wideArg = d.conv == 'S' || d.length == LM_L;
         if (wideArg) {
            return FormatUtf16(d, static_cast<const utf16_t *>(p));
         }
         return FormatUtf8(d, static_cast<const char *>(p));
      }
      case 'p': {
         uintptr_t v = reinterpret_cast<uintptr_t>(args_.Pointer(d.pos));
         d.flags &= ~(F_PLUS | F_SPACE | F_GROUP);
         d.flags |= F_ALT;
         FormatInteger(d, v, 16, false, true);
         return true;
      }
      case 'n': {
         void *p = args_.Pointer(d.pos);
         StoreCount(p, d.length);
         return true;
      }
      case 'e': case 'E': case 'f': case 'F': case 'g': case 'G':
         FormatFloat(d, args_.Double(d.pos, cls));
         return true;
      default: {
         // '%%' and any unknown conversion print their own character.
         C ch = static_cast<C>(d.conv);
         FormatText(d, &ch, 1);
         return true;
      }
      }
   }

   void StoreCount(void *p, Length length)
   {
      if (p == nullptr) {
         return;
      }
      size_t n = sink_.Count();
      switch (length) {
      case LM_HH: *static_cast<signed char *>(p) = static_cast<signed char>(n); break;
      case LM_H: *static_cast<short *>(p) = static_cast<short>(n); break;
      case LM_L: *static_cast<long *>(p) = static_cast<long>(n); break;
      case LM_LL: *static_cast<long long *>(p) = static_cast<long long>(n); break;
      case LM_J: *static_cast<intmax_t *>(p) = static_cast<intmax_t>(n); break;
      case LM_T: *static_cast<ptrdiff_t *>(p) = static_cast<ptrdiff_t>(n); break;
      case LM_Z: *static_cast<size_t *>(p) = n; break;
      default: *static_cast<int *>(p) = static_cast<int>(n); break;
      }
   }

   // Pads a field of `len` characters to the directive's width.
   size_t PadBefore(const Directive &d, size_t len)
   {
      size_t pad = d.width > 0 && static_cast<size_t>(d.width) > len
                      ? static_cast<size_t>(d.width) - len
                      : 0;
      if (pad != 0 && !(d.flags & F_MINUS)) {
         sink_.Pad(' ', pad);
         return 0;
      }
      return pad;
   }

   void PadAfter(size_t pad)
   {
      if (pad != 0) {
         sink_.Pad(' ', pad);
      }
   }

   void FormatText(const Directive &d, const C *s, size_t n)
   {
      size_t after = PadBefore(d, n);
      sink_.Put(s, n);
      PadAfter(after);
   }

   void FormatAsciiText(const Directive &d, const char *s, size_t n)
   {
      size_t after = PadBefore(d, n);
      sink_.PutAscii(s, n);
      PadAfter(after);
   }

   // One UTF-16 unit (%C, %lc). A lone surrogate prints nothing.
   void FormatUnit(const Directive &d, uint16_t unit)
   {
      if constexpr (sizeof(C) == 2) {
         C ch = static_cast<C>(unit);
         FormatText(d, &ch, 1);
      } else {
         char buf[4];
         size_t n = (unit >= 0xD800 && unit <= 0xDFFF)
                       ? 0
                       : static_cast<size_t>(EncodeUtf8(unit, buf));
         FormatAsciiText(d, buf, n);
      }
   }

   // %s: UTF-8 text. The narrow engine copies bytes (precision counts
   // bytes); the wide engine converts, and fails on invalid UTF-8.
   bool FormatUtf8(const Directive &d, const char *s)
   {
      size_t n = d.precision >= 0 ? strnlen(s, static_cast<size_t>(d.precision))
                                  : strlen(s);
      if constexpr (sizeof(C) == 1) {
         FormatText(d, reinterpret_cast<const C *>(s), n);
         return true;
      } else {
         const unsigned char *u = reinterpret_cast<const unsigned char *>(s);
         // First pass: validate and count units, dropping a sequence that
         // the precision cut.
         size_t units = 0;
         size_t used = 0;
         while (used < n) {
            uint32_t cp = 0;
            int k = DecodeUtf8(u + used, n - used, cp);
            if (k < 0) {
               return false;
            }
            if (k == 0) {
               if (d.precision >= 0 && static_cast<size_t>(d.precision) == n) {
                  break;   // cut by the precision: drop the partial character
               }
               return false;   // cut by the terminator
            }
            used += static_cast<size_t>(k);
            units += cp >= 0x10000 ? 2 : 1;
         }
         size_t after = PadBefore(d, units);
         for (size_t i = 0; i < used;) {
            uint32_t cp = 0;
            i += static_cast<size_t>(DecodeUtf8(u + i, used - i, cp));
            if (cp >= 0x10000) {
               cp -= 0x10000;
               sink_.PutChar(static_cast<C>(0xD800 + (cp >> 10)));
               sink_.PutChar(static_cast<C>(0xDC00 + (cp & 0x3FF)));
            } else {
               sink_.PutChar(static_cast<C>(cp));
            }
         }
         PadAfter(after);
         return true;
      }
   }

   // %S: UTF-16 text. The wide engine copies units; the narrow engine
   // converts to UTF-8, never emitting part of a character to meet the
   // precision. A lone surrogate ends the text.
   bool FormatUtf16(const Directive &d, const utf16_t *s)
   {
      if constexpr (sizeof(C) == 2) {
         size_t n = 0;
         size_t limit = d.precision >= 0 ? static_cast<size_t>(d.precision)
                                         : SIZE_MAX;
         while (n < limit && s[n] != 0) {
            n++;
         }
         FormatText(d, reinterpret_cast<const C *>(s), n);
         return true;
      } else {
         size_t limit = d.precision >= 0 ? static_cast<size_t>(d.precision)
                                         : SIZE_MAX;
         size_t bytes = 0;
         size_t units = 0;
         for (;;) {
            // Never look past what the precision lets us produce: the
            // argument may be an array without a terminator.
            uint16_t unit = static_cast<uint16_t>(s[units]);
            if (bytes == limit || unit == 0 ||
                (unit >= 0xD800 && unit <= 0xDBFF && limit - bytes < 4)) {
               break;
            }
            uint32_t cp = 0;
            int k = DecodeUtf16(s + units, cp);
            if (k == 0) {
               break;
            }
            size_t len = static_cast<size_t>(Utf8Length(cp));
            if (len > limit - bytes) {
               break;
            }
            bytes += len;
            units += static_cast<size_t>(k);
         }
         size_t after = PadBefore(d, bytes);
         char buf[64];
         size_t fill = 0;
         for (size_t i = 0; i < units;) {
            uint32_t cp = 0;
            i += static_cast<size_t>(DecodeUtf16(s + i, cp));
            fill += static_cast<size_t>(EncodeUtf8(cp, buf + fill));
            if (fill > sizeof buf - 4) {
               sink_.PutAscii(buf, fill);
               fill = 0;
            }
         }
         sink_.PutAscii(buf, fill);
         PadAfter(after);
         return true;
      }
   }

   // Emits [spaces][sign/prefix][zeros][body][spaces] for numbers.
   void EmitNumber(const Directive &d, const char *prefix, size_t prefixLen,
                   size_t zeros, const char *body, size_t bodyLen,
                   bool zeroPad, bool bodyIsLocale = false)
   {
      size_t len = prefixLen + zeros + bodyLen;
      size_t pad = d.width > 0 && static_cast<size_t>(d.width) > len
                      ? static_cast<size_t>(d.width) - len
                      : 0;
      if (pad != 0 && !(d.flags & F_MINUS)) {
         if (zeroPad) {
            zeros += pad;
         } else {
            sink_.Pad(' ', pad);
         }
         pad = 0;
      }
      if (prefixLen != 0) {
         sink_.PutAscii(prefix, prefixLen);
      }
      if (zeros != 0) {
         sink_.Pad('0', zeros);
      }
      PutText(body, bodyLen, bodyIsLocale);
      PadAfter(pad);
   }

   void FormatInteger(const Directive &d, uint64_t v, unsigned base, bool neg,
                      bool pointer = false)
   {
      char buf[32];
      char *end = buf + sizeof buf;
      char *start = end;
      // A zero with precision 0 has no digits.
      if (v != 0 || d.precision != 0) {
         start = UnsignedToText(v, base, d.conv == 'X', end);
      }
      size_t ndig = static_cast<size_t>(end - start);

      char prefix[4];
      size_t prefixLen = 0;
      if (neg) {
         prefix[prefixLen++] = '-';
      } else if (d.flags & F_PLUS) {
         prefix[prefixLen++] = '+';
      } else if (d.flags & F_SPACE) {
         prefix[prefixLen++] = ' ';
      }

      size_t zeros = d.precision > 0 && static_cast<size_t>(d.precision) > ndig
                        ? static_cast<size_t>(d.precision) - ndig
                        : 0;
      if (d.flags & F_ALT) {
         if (base == 8 && zeros == 0 && (ndig == 0 || *start != '0')) {
            zeros = 1;
         } else if (base == 16 && (v != 0 || pointer)) {
            prefix[prefixLen++] = '0';
            prefix[prefixLen++] = d.conv == 'X' ? 'X' : 'x';
         }
      }

      const char *body = start;
      bool grouped = false;
      char groupBuf[8 * sizeof buf];
      if ((d.flags & F_GROUP) && base == 10 && ndig > 1) {
         LocaleText loc = CurrentLocaleText();
         ndig = GroupDigits(start, ndig, loc, groupBuf);
         body = groupBuf;
         grouped = true;
      }
      bool zeroPad = (d.flags & F_ZERO) && !(d.flags & F_MINUS) &&
                     d.precision < 0;
      EmitNumber(d, prefix, prefixLen, zeros, body, ndig, zeroPad, grouped);
   }

   void FormatFloat(const Directive &d, double v)
   {
      bool upper = d.conv == 'E' || d.conv == 'F' || d.conv == 'G';
      char prefix[2];
      size_t prefixLen = 0;
      if (std::signbit(v) && !std::isnan(v)) {
         prefix[prefixLen++] = '-';
      } else if (d.flags & F_PLUS) {
         prefix[prefixLen++] = '+';
      } else if (d.flags & F_SPACE) {
         prefix[prefixLen++] = ' ';
      }
      if (!std::isfinite(v)) {
         const char *text = std::isnan(v) ? (upper ? "NAN" : "nan")
                                          : (upper ? "INF" : "inf");
         EmitNumber(d, prefix, prefixLen, 0, text, 3, false);
         return;
      }

      int prec = d.precision < 0 ? 6 : d.precision;
      bool alt = (d.flags & F_ALT) != 0;
      bool expForm;
      int fracDigits;
      FloatDigits fd;
      unsigned c = d.conv | 0x20;
      if (c == 'e') {
         ConvertDigits(v, prec + 1 > kDigitBufSize ? kDigitBufSize : prec + 1,
                       false, fd);
         expForm = true;
         fracDigits = prec;
      } else if (c == 'f') {
         ConvertDigits(v, prec, true, fd);
         expForm = false;
         fracDigits = prec;
      } else {
         int p = prec == 0 ? 1 : prec;
         ConvertDigits(v, p > kDigitBufSize ? kDigitBufSize : p, false, fd);
         int x = fd.exp10;
         if (p > x && x >= -4) {
            expForm = false;
            fracDigits = p - 1 - x;
         } else {
            expForm = true;
            fracDigits = p - 1;
         }
         if (!alt) {
            // %g drops trailing zeros, which the digits never have.
            int avail = expForm ? fd.length - 1 : fd.length - 1 - x;
            if (avail < 0) {
               avail = 0;
            }
            if (fracDigits > avail) {
               fracDigits = avail;
            }
         }
      }

      LocaleText loc = CurrentLocaleText();
      size_t pointLen = (fracDigits > 0 || alt) ? strlen(loc.decimalPoint) : 0;

      // The field is: integer part, point, fraction, exponent. The fraction
      // is leading zeros (small fixed values), digits from the buffer, and
      // trailing zeros up to the precision.
      char intPart[kDigitBufSize + 8];
      size_t intLen = 0;
      const char *frac;
      size_t fracFromDigits;
      size_t fracLead = 0;
      char exponent[8];
      size_t expLen = 0;
      if (expForm) {
         intPart[intLen++] = fd.digits[0];
         frac = fd.digits + 1;
         fracFromDigits = static_cast<size_t>(fd.length - 1);
         int e = fd.digits[0] == '0' ? 0 : fd.exp10;
         exponent[expLen++] = upper ? 'E' : 'e';
         exponent[expLen++] = e < 0 ? '-' : '+';
         unsigned ue = static_cast<unsigned>(e < 0 ? -e : e);
         if (ue < 10) {
            exponent[expLen++] = '0';
         }
         char tmp[8];
         char *s = UnsignedToText(ue, 10, false, tmp + sizeof tmp);
         size_t n = static_cast<size_t>(tmp + sizeof tmp - s);
         memcpy(exponent + expLen, s, n);
         expLen += n;
      } else if (fd.exp10 < 0) {
         intPart[intLen++] = '0';
         frac = fd.digits;
         fracFromDigits = static_cast<size_t>(fd.length);
         fracLead = static_cast<size_t>(-fd.exp10 - 1);
      } else {
         int x = fd.exp10;
         for (int i = 0; i <= x; i++) {
            intPart[intLen++] = i < fd.length ? fd.digits[i] : '0';
         }
         frac = fd.digits + (x + 1 < fd.length ? x + 1 : fd.length);
         fracFromDigits = x + 1 < fd.length
                             ? static_cast<size_t>(fd.length - x - 1)
                             : 0;
      }
      size_t fracTotal = static_cast<size_t>(fracDigits);
      if (fracLead > fracTotal) {
         fracLead = fracTotal;
      }
      if (fracFromDigits > fracTotal - fracLead) {
         fracFromDigits = fracTotal - fracLead;
      }
      size_t fracTrail = fracTotal - fracLead - fracFromDigits;

      const char *intText = intPart;
      bool intIsLocale = false;
      char grouped[8 * sizeof intPart];
      if ((d.flags & F_GROUP) && !expForm && intLen > 1) {
         intLen = GroupDigits(intPart, intLen, loc, grouped);
         intText = grouped;
         intIsLocale = true;
      }

      size_t len = prefixLen + intLen + pointLen + fracTotal + expLen;
      size_t pad = d.width > 0 && static_cast<size_t>(d.width) > len
                      ? static_cast<size_t>(d.width) - len
                      : 0;
      if (pad != 0 && !(d.flags & F_MINUS) && !(d.flags & F_ZERO)) {
         sink_.Pad(' ', pad);
         pad = 0;
      }
      if (prefixLen != 0) {
         sink_.PutAscii(prefix, prefixLen);
      }
      if (pad != 0 && !(d.flags & F_MINUS)) {
         sink_.Pad('0', pad);
         pad = 0;
      }
      PutText(intText, intLen, intIsLocale);
      if (pointLen != 0) {
         PutText(loc.decimalPoint, pointLen, true);
      }
      if (fracLead != 0) {
         sink_.Pad('0', fracLead);
      }
      sink_.PutAscii(frac, fracFromDigits);
      if (fracTrail != 0) {
         sink_.Pad('0', fracTrail);
      }
      sink_.PutAscii(exponent, expLen);
      PadAfter(pad);
   }

   // Engine-built text, possibly holding locale text (separators, decimal
   // point) in the locale's multibyte encoding: the narrow engine copies
   // it; the wide engine decodes it as UTF-8, else byte by byte.
   void PutText(const char *s, size_t n, bool hasLocaleText)
   {
      if constexpr (sizeof(C) == 1) {
         sink_.PutAscii(s, n);
      } else {
         if (!hasLocaleText) {
            sink_.PutAscii(s, n);
            return;
         }
         const unsigned char *u = reinterpret_cast<const unsigned char *>(s);
         for (size_t i = 0; i < n;) {
            uint32_t cp = 0;
            int k = DecodeUtf8(u + i, n - i, cp);
            if (k <= 0 || cp >= 0x10000) {
               cp = u[i];
               k = 1;
            }
            sink_.PutChar(static_cast<C>(cp));
            i += static_cast<size_t>(k);
         }
      }
   }

   Sink<C> sink_;
   Args args_;
};

}  // namespace bsdprintf
