// Substring and search on UTF-8 strings, counted in code points.
//
// Both take NUL-terminated UTF-8; a string that is null or not valid UTF-8
// ends the process with "%s: invalid UTF8 string @ %p\n" (the function's
// name and the string's address), as it can only come from a caller's
// mistake.
#pragma once

#include <cstddef>

// New string of `length` code points of `str` from code point `start`. A
// start past the end (or negative) gives the empty string; a length of -1
// (or any negative length) or one that runs past the end stops at the end.
// free() the result.
char *Unicode_Substr(const char *str, ptrdiff_t start, ptrdiff_t length);

// Code point index in `str` of the first place, within its range
// [strStart, strStart + strLength), where the range
// [strToFindStart, strToFindStart + strToFindLength) of `strToFind` occurs
// wholly, or -1. Ranges are clamped as by Unicode_Substr. An empty range
// to find is found at the (clamped) start of the range searched.
ptrdiff_t Unicode_FindSubstrInRange(const char *str, ptrdiff_t strStart,
                                    ptrdiff_t strLength, const char *strToFind,
                                    ptrdiff_t strToFindStart,
                                    ptrdiff_t strToFindLength);
