// The two converters behind CodeSet_Convert, reachable one by one.
//
// CodeSet_Convert picks one of them through the process-wide switch, which
// can only ever be turned off; the tests, fuzzer and benchmark call these
// directly to run the same input through both in one process. Same
// contract as CodeSet_Convert.
#pragma once

#include <cstddef>

// The ICU converter. False when ICU is not available (see
// CodeSetIcuAvailable) as well as when the conversion fails.
bool CodeSetIcuConvert(const char *codeIn, const char *bufIn, size_t sizeIn,
                       const char *codeOut, int mode, char **bufOut,
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
