// String helpers every custom action shares, free of Windows so that the
// splitting of CustomActionData is tested natively as well.
#pragma once

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
