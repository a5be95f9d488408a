// Conversion between named encodings.
//
// ICU does the work while it can: linked in the native build, loaded at run
// time on Windows (icu.dll, else icuuc.dll, shipped with Windows 10 and
// later). When it is missing or does not know the current code page, the
// built-in converters take over for the rest of the process.
#pragma once

#include <cstddef>

// Modes of CodeSet_Convert for invalid or unmappable input.
enum CodeSetMode {
   CSGTG_NORMAL = 0,       // stop: the conversion fails
   CSGTG_TRANSLIT = 1,     // substitute the converter's substitution character
   CSGTG_IGNORE = 2,       // skip the offending sequence
};

// Each returns true on success with a new malloc'd buffer in *bufOut that
// ends in four zero bytes not counted in *sizeOut; on failure *bufOut is
// left null.
//
// The two UTF functions are strict (invalid input fails, as in mode 0) and
// take ICU's direct UTF functions where ICU is in use: the library's every
// wide call passes through them.
bool CodeSet_Utf8ToUtf16le(const char *bufIn, size_t sizeIn, char **bufOut,
                           size_t *sizeOut);
bool CodeSet_Utf16leToUtf8(const char *bufIn, size_t sizeIn, char **bufOut,
                           size_t *sizeOut);
bool CodeSet_Convert(const char *codeIn, const char *bufIn, size_t sizeIn,
                     const char *codeOut, int mode, char **bufOut,
                     size_t *sizeOut);

// Whether the bytes are valid UTF-8 / UTF-16LE by the rules both
// converters apply: no overlong forms, no surrogates in UTF-8, nothing past
// U+10FFFF, no truncated sequence, no unpaired surrogate in UTF-16.
bool CodeSet_IsValidUtf8(const char *bufIn, size_t sizeIn);
bool CodeSet_IsValidUtf16le(const char *bufIn, size_t sizeIn);

// "windows-" and the ANSI code page number, formatted once. Outside
// Windows there is no ANSI code page: "UTF-8".
const char *CodeSet_CurrentName(void);

// The process-wide converter switch: once set, the built-in converters
// are used for the rest of the process.
void CodeSet_DontUseIcu(void);
bool CodeSet_IsUsingIcu(void);
