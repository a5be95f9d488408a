// Character types shared by the Windows DLL and the native core build.
//
// UTF-16 text is `wchar_t` on Windows, where every wide API takes it, and
// `char16_t` elsewhere, so the same sources compile natively for the
// sanitizer, fuzzing and benchmark trees.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
typedef wchar_t utf16_t;
#define U16TEXT(s) L##s
#else
typedef char16_t utf16_t;
#define U16TEXT(s) u##s
#endif

static_assert(sizeof(utf16_t) == 2, "utf16_t must be a 16-bit code unit");

// Encodings the library converts between. Only these three are used: text
// inside the library is UTF-8, the wide Windows API takes UTF-16LE, and
// the ANSI API and files from older tools use the system's code page.
enum StringEncoding {
   STRING_ENCODING_UTF8,
   STRING_ENCODING_UTF16_LE,
   STRING_ENCODING_DEFAULT,   // the current code page, "windows-<ACP>"
};

// The name the converters know the encoding by ("UTF-8", "UTF-16LE",
// CodeSet_CurrentName()).
const char *Unicode_EncodingName(StringEncoding encoding);
