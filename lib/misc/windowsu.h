// UTF-8 wrappers of the wide Windows functions that return text: system
// folders and message texts.
#pragma once

#ifndef _WIN32
#error "windowsu is the Windows boundary layer"
#endif

#include <windows.h>

// With a buffer and a non-zero size: copy the UTF-8 path into it and return
// its length (a path that does not fit ends the process, VERIFY). Without
// one: return the size needed, terminator included. 0 when the wide call
// fails.
UINT Win32U_GetSystemDirectory(char *buffer, UINT size);
DWORD Win32U_GetTempPath(DWORD size, char *buffer);

// FormatMessageW into a 32768-character buffer, returned as a new UTF-8
// string (free() it), or null when FormatMessageW fails. Only flags without
// FORMAT_MESSAGE_ALLOCATE_BUFFER / FORMAT_MESSAGE_FROM_STRING, no argument
// list, and the languages 0, 1024 and 1033 are accepted; anything else ends
// the process (VERIFY).
char *Win32U_FormatMessage(DWORD flags, const void *source, DWORD messageId,
                           DWORD languageId);
