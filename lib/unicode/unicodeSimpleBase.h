// Creating UTF-8 strings from encoded buffers and back.
//
// Every string the library hands around is UTF-8; these are the only doors
// in and out. Invalid input is a programming error of the caller (it came
// from a Windows API that promised valid text), so the process ends.
#pragma once

#include <cstddef>

#include "lib/unicode/unicodeSimpleTypes.h"

// New NUL-terminated UTF-8 copy of `length` bytes (or, with length -1, of
// text up to its terminator: one zero byte, or a zero UTF-16 unit for
// UTF-16LE) in `encoding`. A null buffer gives null. Text that cannot be
// converted ends the process with
// "%s: Couldn't convert invalid buffer [%s] from %s to Unicode.\n".
// free() the result.
char *Unicode_AllocWithLength(const void *buffer, ptrdiff_t length,
                              StringEncoding encoding);

// New buffer holding the UTF-8 string in `encoding`, terminated by a zero
// unit of that encoding (for UTF-16LE: a utf16_t string). A null string
// gives null; invalid UTF-8 ends the process (NOT_IMPLEMENTED). Valid text
// that the current code page cannot hold (STRING_ENCODING_DEFAULT only)
// gives null. free() the result.
void *Unicode_AllocEncoded(const char *str, StringEncoding encoding);

// The bytes as "\xNN" escapes for error messages, or null when even that
// cannot be built. free() the result.
char *Unicode_EscapeBuffer(const void *buffer, ptrdiff_t length,
                           StringEncoding encoding);

// True when the bytes are valid in the encoding (length as for
// Unicode_AllocWithLength). A null buffer is no string, not an invalid one:
// true.
bool Unicode_IsBufferValid(const void *buffer, ptrdiff_t length,
                           StringEncoding encoding);
