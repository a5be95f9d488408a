// Helpers shared by the formatting, codeset and Unicode tests.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "lib/string/bsd_vsnprintf.h"

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
template <class C>
std::basic_string<C> Fmt(const C *format, ...)
{
   va_list ap;
   va_start(ap, format);
   C *out = nullptr;
   int n = VCall(&out, 0, format, ap);
   va_end(ap);
   const char *error = "<error>";
   std::basic_string<C> s = n < 0 ? std::basic_string<C>(error, error + 7)
                                  : std::basic_string<C>(out, size_t(n));
   free(out);
   return s;
}

// The C runtime's formatter. msvcrt's own vsnprintf is not C99 (three-digit
// exponents, -1 on a cut, no hh/j/z/t); MinGW's replacement is.
inline int Runtime(char *buf, size_t size, const char *format, ...)
{
   va_list ap;
   va_start(ap, format);
#ifdef _WIN32
   int n = __mingw_vsnprintf(buf, size, format, ap);
#else
   int n = vsnprintf(buf, size, format, ap);
#endif
   va_end(ap);
   return n;
}

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

}  // namespace formattest
