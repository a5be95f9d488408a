// Bounded string functions over the library's printf engine.
//
// The plain functions report a cut or failure as -1 / null; the Safe
// variants and the buffer-checking ones (Text_Sprintf, Text_Strcpy,
// Text_Strcat, Text_Swprintf) end the process instead, because there a
// too-small buffer is a programming error, not an input condition.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "lib/unicode/unicodeSimpleTypes.h"

// Count of bytes written, or -1 when the text did not fit; the buffer then
// holds the longest prefix of at most size - 1 bytes that ends on a whole
// UTF-8 sequence, always terminated (nothing is written when size is 0).
int Text_Vsnprintf(char *buf, size_t size, const char *format, va_list ap);
int Text_Snprintf(char *buf, size_t size, const char *format, ...);

// Count of bytes written; a text that does not fit ends the process.
int Text_Sprintf(char *buf, size_t size, const char *format, ...);

char *Text_Strcpy(char *dest, const char *src, size_t size);
char *Text_Strcat(char *dest, const char *src, size_t size);

// Newly allocated text (free() it), or null; *length gets the byte count
// when length is non-null.
char *Text_Vasprintf(size_t *length, const char *format, va_list ap);
char *Text_Asprintf(size_t *length, const char *format, ...);
char *Text_SafeVasprintf(size_t *length, const char *format, va_list ap);
char *Text_SafeAsprintf(size_t *length, const char *format, ...);

// Count of UTF-16 units written; a text that does not fit ends the process.
int Text_Swprintf(utf16_t *buf, size_t size, const utf16_t *format, ...);
