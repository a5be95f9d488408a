// Bounded string functions over the library's printf engine.
#include "lib/string/str.h"

#include <cstdlib>
#include <cstring>

#include "lib/misc/panic.h"
#include "lib/string/bsd_vsnprintf.h"

namespace {

const char kModule[] = "lib/string/str";

// Length of the longest prefix of s[0, len) that ends on a whole UTF-8
// sequence: scan back over continuation bytes to the lead byte and keep
// the sequence only when the lead byte announces exactly what is there.
size_t Utf8CutPoint(const char *s, size_t len)
{
   if (len == 0) {
      return 0;
   }
   size_t lead = len - 1;
   while (lead > 0 && (static_cast<unsigned char>(s[lead]) & 0xC0) == 0x80) {
      lead--;
   }
   unsigned b = static_cast<unsigned char>(s[lead]);
   size_t announced = b < 0x80 ? 1
                      : (b & 0xE0) == 0xC0 ? 2
                      : (b & 0xF0) == 0xE0 ? 3
                      : (b & 0xF8) == 0xF0 ? 4
                      : 0;
   return announced == len - lead ? len : lead;
}

}  // namespace

int Text_Vsnprintf(char *buf, size_t size, const char *format, va_list ap)
{
   char *out = buf;
   // A zero size must not reach the engine as "allocate for me".
   int n = bsd_vsnprintf(size != 0 && buf != nullptr ? &out : nullptr, size,
                         format, ap);
   if (n >= 0 && static_cast<size_t>(n) < size) {
      return n;
   }
   if (size != 0 && buf != nullptr) {
      // A failed call leaves the text it made so far; it gets the same cut.
      size_t len = n >= 0 ? size - 1 : strnlen(buf, size - 1);
      buf[Utf8CutPoint(buf, len)] = '\0';
   }
   return -1;
}

int Text_Snprintf(char *buf, size_t size, const char *format, ...)
{
   va_list ap;
   va_start(ap, format);
   int n = Text_Vsnprintf(buf, size, format, ap);
   va_end(ap);
   return n;
}

int Text_Sprintf(char *buf, size_t size, const char *format, ...)
{
   va_list ap;
   va_start(ap, format);
   int n = Text_Vsnprintf(buf, size, format, ap);
   va_end(ap);
   if (n < 0) {
      Util_Panic("%s:%d Buffer too small\n", kModule, __LINE__);
   }
   return n;
}

char *Text_Strcpy(char *dest, const char *src, size_t size)
{
   size_t len = strlen(src);
   if (len >= size) {
      Util_Panic("%s:%d Buffer too small\n", kModule, __LINE__);
   }
   memcpy(dest, src, len + 1);
   return dest;
}

char *Text_Strcat(char *dest, const char *src, size_t size)
{
   size_t destLen = strnlen(dest, size);
   size_t srcLen = strlen(src);
   if (destLen == size || srcLen >= size - destLen) {
      Util_Panic("%s:%d Buffer too small\n", kModule, __LINE__);
   }
   memcpy(dest + destLen, src, srcLen + 1);
   return dest;
}

char *Text_Vasprintf(size_t *length, const char *format, va_list ap)
{
   char *out = nullptr;
   int n = bsd_vsnprintf(&out, 0, format, ap);
   if (n < 0) {
      return nullptr;
   }
   if (length != nullptr) {
      *length = static_cast<size_t>(n);
   }
   return out;
}

char *Text_Asprintf(size_t *length, const char *format, ...)
{
   va_list ap;
   va_start(ap, format);
   char *s = Text_Vasprintf(length, format, ap);
   va_end(ap);
   return s;
}

char *Text_SafeVasprintf(size_t *length, const char *format, va_list ap)
{
   char *s = Text_Vasprintf(length, format, ap);
   if (s == nullptr) {
      Util_Panic("VERIFY %s:%d\n", kModule, __LINE__);
   }
   return s;
}

char *Text_SafeAsprintf(size_t *length, const char *format, ...)
{
   va_list ap;
   va_start(ap, format);
   char *s = Text_SafeVasprintf(length, format, ap);
   va_end(ap);
   return s;
}

int Text_Swprintf(utf16_t *buf, size_t size, const utf16_t *format, ...)
{
   va_list ap;
   va_start(ap, format);
   utf16_t *out = buf;
   int n = bsd_vsnwprintf(size != 0 && buf != nullptr ? &out : nullptr, size,
                          format, ap);
   va_end(ap);
   if (n < 0 || static_cast<size_t>(n) >= size) {
      Util_Panic("%s:%d Buffer too small\n", kModule, __LINE__);
   }
   return n;
}
