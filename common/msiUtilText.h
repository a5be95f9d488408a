// String helpers every custom action shares, free of Windows so that the
// splitting of CustomActionData is tested natively as well.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "lib/unicode/unicodeSimpleTypes.h"

using WideString = std::basic_string<utf16_t>;

// Returns the token of source that starts at pos and ends before the next
// occurrence of the whole delimiter, and moves pos one character past the
// start of that occurrence (one, whatever the delimiter's length). With no
// further occurrence the token is the rest of source and pos becomes its
// length. Nothing is trimmed: adjacent delimiters give an empty token, and
// so does a call at the end of source. An empty delimiter gives an empty
// token and advances pos by one. Callers loop while pos < source.size().
std::string Util_NextToken(std::string source, std::string delimiter, uint32_t &pos);
WideString Util_NextTokenW(WideString source, WideString delimiter, uint32_t &pos);

// The decimal number at the start of `text` as the C runtime reads one:
// leading white space, an optional sign, then digits up to the first other
// character (none gives 0). A number beyond [min, max] gives the nearer
// limit. Serves narrow and wide text alike.
template <typename Str>
int64_t Util_ReadDecimal(const Str &text, int64_t min, int64_t max)
{
   size_t at = 0;
   while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) {
      at++;
   }
   bool negative = false;
   if (at < text.size() && (text[at] == '-' || text[at] == '+')) {
      negative = text[at] == '-';
      at++;
   }
   // The magnitude stops at the limit of its sign, computed without overflow.
   const uint64_t limit = negative ? uint64_t(0) - static_cast<uint64_t>(min) : static_cast<uint64_t>(max);
   uint64_t magnitude = 0;
   for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; at++) {
      const uint64_t digit = static_cast<uint64_t>(text[at] - '0');
      magnitude = magnitude > (limit - digit) / 10 ? limit : magnitude * 10 + digit;
   }
   if (!negative) {
      return static_cast<int64_t>(magnitude);
   }
   return magnitude == 0 ? 0 : -static_cast<int64_t>(magnitude - 1) - 1;
}

// The 38-character braced product code, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}",
// in the 32-character packed form the installer names its registration keys
// with: the first three groups reversed, the last two as pairs of swapped
// characters, braces and hyphens left out. Letters keep their case. False,
// and nothing packed, for any other input: a null pointer, a text of another
// length, a brace or hyphen out of place, or a character other than a hex
// digit between them (such a character, a backslash above all, would make
// the key name point somewhere else). `packedSize` is the capacity of
// `packed` in bytes and must be at least MSI_PACKED_CODE_SIZE; on failure
// `packed` holds the empty string when it has room for one.
constexpr size_t MSI_PRODUCT_CODE_LENGTH = 38;
constexpr size_t MSI_PACKED_CODE_SIZE = 33;   // 32 characters and the NUL
bool MsiUtil_PackProductCode(const char *productCode, char *packed, size_t packedSize);
