// The doors in and out of UTF-8.
#include "lib/unicode/unicodeSimpleBase.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "lib/misc/codeset.h"
#include "lib/misc/panic.h"

namespace {

// Bytes before the terminator: a zero byte, or for UTF-16LE a zero unit
// (read bytewise: the buffer need not be aligned).
size_t TerminatedLength(const void *buffer, StringEncoding encoding)
{
   const unsigned char *p = static_cast<const unsigned char *>(buffer);
   if (encoding == STRING_ENCODING_UTF16_LE) {
      size_t n = 0;
      while (p[n] != 0 || p[n + 1] != 0) {
         n += 2;
      }
      return n;
   }
   return strlen(static_cast<const char *>(buffer));
}

size_t LengthOf(const void *buffer, ptrdiff_t length, StringEncoding encoding)
{
   // Any other negative length is a caller's mistake, not a size.
   VERIFY(length >= -1);
   return length == -1 ? TerminatedLength(buffer, encoding)
                       : static_cast<size_t>(length);
}

}  // namespace

char *Unicode_AllocWithLength(const void *buffer, ptrdiff_t length,
                              StringEncoding encoding)
{
   if (buffer == nullptr) {
      return nullptr;
   }
   size_t n = LengthOf(buffer, length, encoding);
   const char *name = Unicode_EncodingName(encoding);
   char *out = nullptr;
   size_t outLen = 0;
   if (!CodeSet_Convert(name, static_cast<const char *>(buffer), n, "UTF-8",
                        CSGTG_NORMAL, &out, &outLen)) {
      char *escaped =
         Unicode_EscapeBuffer(buffer, static_cast<ptrdiff_t>(n), encoding);
      Util_Panic("%s: Couldn't convert invalid buffer [%s] from %s to "
                 "Unicode.\n",
                 "Unicode_AllocWithLength",
                 escaped != nullptr ? escaped : "(couldn't escape bytes)",
                 name);
   }
   return out;
}

void *Unicode_AllocEncoded(const char *str, StringEncoding encoding)
{
   if (str == nullptr) {
      return nullptr;
   }
   size_t n = strlen(str);
   if (!CodeSet_IsValidUtf8(str, n)) {
      NOT_IMPLEMENTED();
   }
   char *out = nullptr;
   size_t outLen = 0;
   // Valid UTF-8 converts to UTF-16 whatever it holds; only a character
   // the current code page lacks can fail here, and that gives null.
   if (!CodeSet_Convert("UTF-8", str, n, Unicode_EncodingName(encoding),
                        CSGTG_NORMAL, &out, &outLen)) {
      return nullptr;
   }
   return out;
}

char *Unicode_EscapeBuffer(const void *buffer, ptrdiff_t length,
                           StringEncoding encoding)
{
   if (buffer == nullptr || length < -1) {
      return nullptr;
   }
   size_t n = length == -1 ? TerminatedLength(buffer, encoding)
                           : static_cast<size_t>(length);
   if (n > (SIZE_MAX - 1) / 4) {
      return nullptr;
   }
   char *out = static_cast<char *>(malloc(n * 4 + 1));
   if (out == nullptr) {
      return nullptr;
   }
   static const char kHex[] = "0123456789ABCDEF";
   const unsigned char *p = static_cast<const unsigned char *>(buffer);
   char *o = out;
   for (size_t i = 0; i < n; i++) {
      *o++ = '\\';
      *o++ = 'x';
      *o++ = kHex[p[i] >> 4];
      *o++ = kHex[p[i] & 0xF];
   }
   *o = '\0';
   return out;
}

bool Unicode_IsBufferValid(const void *buffer, ptrdiff_t length,
                           StringEncoding encoding)
{
   // No string is not an invalid one: Unicode_AllocWithLength maps it to
   // null without complaint.
   if (buffer == nullptr) {
      return true;
   }
   size_t n = LengthOf(buffer, length, encoding);
   const char *bytes = static_cast<const char *>(buffer);
   switch (encoding) {
   case STRING_ENCODING_UTF8:
      return CodeSet_IsValidUtf8(bytes, n);
   case STRING_ENCODING_UTF16_LE:
      return CodeSet_IsValidUtf16le(bytes, n);
   case STRING_ENCODING_DEFAULT:
      break;
   }
   char *out = nullptr;
   size_t outLen = 0;
   bool ok = CodeSet_Convert(Unicode_EncodingName(encoding), bytes, n,
                             "UTF-16LE", CSGTG_NORMAL, &out, &outLen);
   free(out);
   return ok;
}
