// UTF-8 wrappers of the wide registry functions.
#pragma once

#ifndef _WIN32
#error "win32uRegistry is the Windows boundary layer"
#endif

#include <windows.h>

#include "lib/unicode/unicodeSimpleTypes.h"

LONG Win32U_RegCreateKeyEx(HKEY key, const char *subKey, DWORD reserved,
                           const char *className, DWORD options,
                           REGSAM samDesired,
                           LPSECURITY_ATTRIBUTES securityAttributes,
                           PHKEY result, LPDWORD disposition);
LONG Win32U_RegDeleteKey(HKEY key, const char *subKey);
LONG Win32U_RegDeleteValue(HKEY key, const char *valueName);
LONG Win32U_RegOpenKeyEx(HKEY key, const char *subKey, DWORD options,
                         REGSAM samDesired, PHKEY result);

// String data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) comes back as UTF-8;
// *dataSize is in and out as for RegQueryValueExW, in UTF-8 bytes.
LONG Win32U_RegQueryValueEx(HKEY key, const char *valueName,
                            LPDWORD reserved, LPDWORD type, LPBYTE data,
                            LPDWORD dataSize);
// String types are converted to UTF-16 before the wide call; others pass.
LONG Win32U_RegSetValueEx(HKEY key, const char *valueName, DWORD reserved,
                          DWORD type, const BYTE *data, DWORD dataSize);
LONG Win32U_RegEnumKeyEx(HKEY key, DWORD index, char *name,
                         LPDWORD nameSize, LPDWORD reserved, char *className,
                         LPDWORD classSize, PFILETIME lastWriteTime);
LONG Win32U_RegEnumValue(HKEY key, DWORD index, char *valueName,
                         LPDWORD valueNameSize, LPDWORD reserved,
                         LPDWORD type, LPBYTE data, LPDWORD dataSize);

// UTF-16 text of `byteLength` bytes into the caller's buffer as UTF-8:
// 0, ERROR_MORE_DATA (the text plus its terminator does not fit) or
// ERROR_INVALID_DATA (not convertible, logged). *size is in: the buffer
// size; out: the UTF-8 length either way.
LONG Win32UCodeSetUtf16leToUtf8(const utf16_t *data, DWORD byteLength,
                                char *buffer, DWORD *size);
