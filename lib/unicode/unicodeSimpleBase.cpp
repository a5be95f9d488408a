// The doors in and out of UTF-8.
#include "lib/unicode/unicodeSimpleBase.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "lib/misc/codeset.h"
#include "lib/misc/panic.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// The wrappers convert their arguments before calling the wide function,
// and some wide functions leave the last error alone on success: so a
// conversion (the first one of the process loads converters, code-page
// conversions call Windows) must not change errno or the last error.
class CallerErrors {
public:
   CallerErrors() : errno_(errno)
   {
#ifdef _WIN32
      lastError_ = GetLastError();
#endif
   }
   ~CallerErrors()
   {
#ifdef _WIN32
      SetLastError(lastError_);
#endif
      errno = errno_;
   }
   CallerErrors(const CallerErrors &) = delete;
   CallerErrors &operator=(const CallerErrors &) = delete;

private:
   int errno_;
#ifdef _WIN32
   DWORD lastError_ = 0;
#endif
};


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

// The UTF-8 / UTF-16LE pairs, which carry the wrappers' every argument,
// through the dedicated functions (ICU's direct ones where ICU is used);
// the rest through CodeSet_Convert. Strict either way.
bool Convert(const char *from, const char *bytes, size_t n, const char *to,
             char **out, size_t *outLen)
{
   if (strcmp(from, "UTF-16LE") == 0 && strcmp(to, "UTF-8") == 0) {
      return CodeSet_Utf16leToUtf8(bytes, n, out, outLen);
   }
   if (strcmp(from, "UTF-8") == 0 && strcmp(to, "UTF-16LE") == 0) {
      return CodeSet_Utf8ToUtf16le(bytes, n, out, outLen);
   }
   return CodeSet_Convert(from, bytes, n, to, CSGTG_NORMAL, out, outLen);
}

}  // namespace

char *Unicode_AllocWithLength(const void *buffer, ptrdiff_t length,
                              StringEncoding encoding)
{
   CallerErrors keep;
   if (buffer == nullptr) {
      return nullptr;
   }
   size_t n = LengthOf(buffer, length, encoding);
   const char *name = Unicode_EncodingName(encoding);
   char *out = nullptr;
   size_t outLen = 0;
   if (!Convert(name, static_cast<const char *>(buffer), n, "UTF-8", &out,
                &outLen)) {
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
   CallerErrors keep;
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
   if (!Convert("UTF-8", str, n, Unicode_EncodingName(encoding), &out,
                &outLen)) {
      return nullptr;
   }
   return out;
}

char *Unicode_EscapeBuffer(const void *buffer, ptrdiff_t length,
                           StringEncoding encoding)
{
   CallerErrors keep;
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
