// Helpers shared by the formatting tests.
#pragma once

#include <cstdarg>
#include <cstdlib>
#include <string>

#include "lib/string/bsd_vsnprintf.h"

namespace formattest {

typedef std::basic_string<utf16_t> U16String;

// The engine in allocating mode; "<error>" when it reports -1.
inline std::string Fmt(const char *format, ...)
{
   va_list ap;
   va_start(ap, format);
   char *out = nullptr;
   int n = bsd_vsnprintf(&out, 0, format, ap);
   va_end(ap);
   if (n < 0) {
      return "<error>";
   }
   std::string s(out, static_cast<size_t>(n));
   free(out);
   return s;
}

inline int FmtCount(const char *format, ...)
{
   va_list ap;
   va_start(ap, format);
   int n = bsd_vsnprintf(nullptr, 0, format, ap);
   va_end(ap);
   return n;
}

// UTF-16 to UTF-8 for readable assertions (test data is well formed).
inline std::string Utf8(const U16String &w)
{
   std::string s;
   for (size_t i = 0; i < w.size(); i++) {
      uint32_t c = static_cast<uint16_t>(w[i]);
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < w.size()) {
         c = 0x10000 + ((c - 0xD800) << 10) +
             (static_cast<uint16_t>(w[++i]) - 0xDC00);
      }
      if (c < 0x80) {
         s += static_cast<char>(c);
      } else if (c < 0x800) {
         s += static_cast<char>(0xC0 | (c >> 6));
         s += static_cast<char>(0x80 | (c & 0x3F));
      } else if (c < 0x10000) {
         s += static_cast<char>(0xE0 | (c >> 12));
         s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
         s += static_cast<char>(0x80 | (c & 0x3F));
      } else {
         s += static_cast<char>(0xF0 | (c >> 18));
         s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
         s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
         s += static_cast<char>(0x80 | (c & 0x3F));
      }
   }
   return s;
}

inline std::string WFmt(const utf16_t *format, ...)
{
   va_list ap;
   va_start(ap, format);
   utf16_t *out = nullptr;
   int n = bsd_vsnwprintf(&out, 0, format, ap);
   va_end(ap);
   if (n < 0) {
      return "<error>";
   }
   U16String s(out, static_cast<size_t>(n));
   free(out);
   return Utf8(s);
}

// Whether every lead byte is followed by just the continuation bytes it
// announces; only then is the UTF-8 cut point of a text unambiguous (%c,
// and %s with a precision, can break that).
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

// Exit code of a process ended by Util_Panic, as a death test sees it.
#ifdef _WIN32
constexpr int kPanicExitCode = -1;
#else
constexpr int kPanicExitCode = 255;
#endif

}  // namespace formattest
