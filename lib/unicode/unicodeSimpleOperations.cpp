// Substring and search on UTF-8 strings, counted in code points.
#include "lib/unicode/unicodeSimpleOperations.h"

#include <cstdlib>
#include <cstring>

#include "lib/misc/codeset.h"
#include "lib/misc/panic.h"

namespace {

size_t CheckedLength(const char *str, const char *function)
{
   size_t n = str == nullptr ? 0 : strlen(str);
   if (str == nullptr || !CodeSet_IsValidUtf8(str, n)) {
      Util_Panic("%s: invalid UTF8 string @ %p\n", function, str);
   }
   return n;
}

inline bool StartsCodePoint(char c)
{
   return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
}

ptrdiff_t CountCodePoints(const char *s, size_t n)
{
   ptrdiff_t count = 0;
   for (size_t i = 0; i < n; i++) {
      count += StartsCodePoint(s[i]);
   }
   return count;
}

// Byte bounds of the code points [start, start + length) of valid UTF-8
// text, after clamping the range to the text; *start gets the clamped
// start.
void ByteRange(const char *s, size_t n, ptrdiff_t *start, ptrdiff_t length,
               size_t *begin, size_t *end)
{
   ptrdiff_t count = CountCodePoints(s, n);
   if (*start < 0 || *start > count) {
      *start = count;
   }
   if (length < 0 || length > count - *start) {
      length = count - *start;
   }
   ptrdiff_t index = -1;
   *begin = n;
   *end = n;
   for (size_t i = 0; i < n; i++) {
      if (!StartsCodePoint(s[i])) {
         continue;
      }
      index++;
      if (index == *start) {
         *begin = i;
      }
      if (index == *start + length) {
         *end = i;
         return;
      }
   }
}

}  // namespace

char *Unicode_Substr(const char *str, ptrdiff_t start, ptrdiff_t length)
{
   size_t n = CheckedLength(str, "Unicode_Substr");
   size_t begin;
   size_t end;
   ByteRange(str, n, &start, length, &begin, &end);
   size_t size = end - begin;
   char *out = static_cast<char *>(malloc(size + 1));
   if (out == nullptr) {
      Util_Panic("Unrecoverable memory allocation failure\n");
   }
   memcpy(out, str + begin, size);
   out[size] = '\0';
   return out;
}

ptrdiff_t Unicode_FindSubstrInRange(const char *str, ptrdiff_t strStart,
                                    ptrdiff_t strLength, const char *strToFind,
                                    ptrdiff_t strToFindStart,
                                    ptrdiff_t strToFindLength)
{
   size_t n = CheckedLength(str, "Unicode_FindSubstrInRange");
   size_t m = CheckedLength(strToFind, "Unicode_FindSubstrInRange");
   size_t hBegin;
   size_t hEnd;
   size_t nBegin;
   size_t nEnd;
   ByteRange(str, n, &strStart, strLength, &hBegin, &hEnd);
   ByteRange(strToFind, m, &strToFindStart, strToFindLength, &nBegin, &nEnd);
   size_t needle = nEnd - nBegin;
   if (needle == 0) {
      return strStart;
   }
   // Both are valid UTF-8 and the needle starts with a lead byte, so a byte
   // match can only begin, and therefore only end, on code point bounds.
   const char *first = strToFind + nBegin;
   for (size_t i = hBegin; i + needle <= hEnd; i++) {
      if (str[i] == first[0] && memcmp(str + i, first, needle) == 0) {
         return strStart + CountCodePoints(str + hBegin, i - hBegin);
      }
   }
   return -1;
}
