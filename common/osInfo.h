// Which Windows the library runs on. All three functions only read the
// system and keep no state between calls.
#pragma once

#ifndef _WIN32
#error "osInfo reads the running Windows; common/osInfoMap.h is the portable part"
#endif

#include <windows.h>

#include <string>

#include "common/osInfoMap.h"

OSType Util_GetOSType(void);

// The colon-separated release text (":WIN7:WINDOWS 7:...:BUILD=7601:"), or
// empty when the version cannot be read or the system is older than 2000.
std::string Util_GetSystemVersionString(void);

// Whether this is a 32-bit process on 64-bit Windows.
BOOL Util_IsWow64(void);

// The raw data the two functions above map. retryPlain: after a failed
// GetVersionExA with OSVERSIONINFOEXA, try once more with OSVERSIONINFOA
// (what Util_GetOSType does; the version string does not retry).
OsVersionData OsInfo_ReadVersionData(bool retryPlain);
