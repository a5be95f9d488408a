// The library's printf engine.
//
// Differences from C printf that callers rely on:
//  - narrow engine: %s is UTF-8, %S / %ls is UTF-16 converted to UTF-8,
//    %C / %lc is one UTF-16 unit converted to UTF-8;
//  - wide engine: %s is UTF-8 converted to UTF-16 (invalid UTF-8 fails the
//    call), %S / %ls is UTF-16 as it is;
//  - extra length modifiers q, L (64-bit integers), Z, I (size), I32, I64;
//  - D, O, U are d, o, u with the long modifier;
//  - an unknown conversion character is printed as if by %c; a '%' that
//    ends the format ends the output;
//  - a null string prints "(null)".
//
// Output target: with *outbuf non-null the text goes into that buffer of
// bufSize characters, cut to bufSize - 1 characters plus a terminator (no
// cut-point care: that is Text_Vsnprintf's job). With *outbuf null and
// bufSize 0 the engine allocates the buffer (malloc) and stores it in
// *outbuf; the caller frees it.
//
// Result: the number of characters of the whole text without the
// terminator (which may exceed bufSize - 1), or -1 on a malformed use
// (mixed positional and sequential arguments), an allocation failure, an
// invalid UTF-8 %s in the wide engine, or a text longer than 0x7FFFFFFF.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "lib/unicode/unicodeSimpleTypes.h"

int bsd_vsnprintf(char **outbuf, size_t bufSize, const char *format,
                  va_list ap);
int bsd_vsnwprintf(utf16_t **outbuf, size_t bufSize, const utf16_t *format,
                   va_list ap);
