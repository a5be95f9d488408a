// The converters behind CodeSet_Convert and the two UTF functions,
// reachable one by one.
//
// The public functions pick one of them through the process-wide switch,
// which can only ever be turned off; the tests, fuzzer and benchmark call
// these directly to run the same input through all of them in one process.
#pragma once

#include <cstddef>

// The ICU converter, with CodeSet_Convert's contract. False when ICU is not
// available (see CodeSetIcuAvailable) as well as when the conversion fails.
bool CodeSetIcuConvert(const char *codeIn, const char *bufIn, size_t sizeIn,
                       const char *codeOut, int mode, char **bufOut,
                       size_t *sizeOut);

// The ICU path of CodeSet_Utf8ToUtf16le and CodeSet_Utf16leToUtf8: ICU's
// direct UTF functions, or its converters for text those cannot take
// (functions missing from the system's ICU, unaligned UTF-16, lengths past
// int32_t). Same contract as the public functions; false as well when ICU
// is not available.
bool CodeSetIcuUtf8ToUtf16le(const char *bufIn, size_t sizeIn, char **bufOut,
                             size_t *sizeOut);
bool CodeSetIcuUtf16leToUtf8(const char *bufIn, size_t sizeIn, char **bufOut,
                             size_t *sizeOut);

// The built-in converters: UTF-8 and UTF-16LE natively, every other code
// page through the system's conversion functions (Windows only).
bool CodeSetBuiltinConvert(const char *codeIn, const char *bufIn,
                           size_t sizeIn, const char *codeOut, int mode,
                           char **bufOut, size_t *sizeOut);

// Whether ICU could be loaded (always, natively: it is linked).
bool CodeSetIcuAvailable(void);

// Whether MultiByteToWideChar knows MB_ERR_INVALID_CHARS on this version of
// Windows (major.minor, service pack major); the built-in converter asks
// it once with the version of the running system.
bool CodeSetMbErrInvalidCharsSupported(unsigned major, unsigned minor,
                                       unsigned servicePackMajor);

#ifdef _WIN32
// The code-page-to-UTF-16 step of the built-in converter with the choice of
// MB_ERR_INVALID_CHARS made by the caller, so the round-trip check that
// replaces the flag on old systems can be run on a new one. Same result
// shape as CodeSetBuiltinConvert (UTF-16LE out).
bool CodeSetCodePageToUtf16(unsigned codePage, const char *bufIn,
                            size_t sizeIn, int mode, bool useErrFlag,
                            char **bufOut, size_t *sizeOut);
#endif
