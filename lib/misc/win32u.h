// UTF-8 wrappers of the wide Windows functions the library calls.
//
// Same arguments, same result, same last-error value and errno as the wide
// function; only the text is UTF-8. Invalid UTF-8 from a caller ends the
// process (NOT_IMPLEMENTED): callers pass what they got from Windows.
#pragma once

#ifndef _WIN32
#error "win32u is the Windows boundary layer"
#endif

#include <windows.h>

#include <cstdio>

BOOL Win32U_CreateProcess(const char *applicationName, char *commandLine,
                          LPSECURITY_ATTRIBUTES processAttributes,
                          LPSECURITY_ATTRIBUTES threadAttributes,
                          BOOL inheritHandles, DWORD creationFlags,
                          void *environment, const char *currentDirectory,
                          LPSTARTUPINFOA startupInfo,
                          LPPROCESS_INFORMATION processInformation);
UINT Win32U_GetDriveType(const char *rootPathName);
BOOL Win32U_GetFileSecurity(const char *fileName,
                            SECURITY_INFORMATION requestedInformation,
                            PSECURITY_DESCRIPTOR securityDescriptor,
                            DWORD length, LPDWORD lengthNeeded);
BOOL Win32U_GetDiskFreeSpaceEx(const char *directoryName,
                               PULARGE_INTEGER freeBytesAvailable,
                               PULARGE_INTEGER totalNumberOfBytes,
                               PULARGE_INTEGER totalNumberOfFreeBytes);
HMODULE Win32U_LoadLibraryEx(const char *fileName, HANDLE file, DWORD flags);
BOOL Win32U_SetCurrentDirectory(const char *pathName);
SC_HANDLE Win32U_OpenService(SC_HANDLE scManager, const char *serviceName,
                             DWORD desiredAccess);
int Win32U_MessageBox(HWND owner, const char *text, const char *caption,
                      UINT type);

// Attributes of the path, or -1 (INVALID_FILE_ATTRIBUTES) after logging the
// failure; the last error of GetFileAttributesExW stays set.
int Win32U_GetFileAttributes(const char *path);

// Runtime path functions with the long-path rule: a path of 260 or more
// UTF-16 units without the \\?\ prefix is refused (errno ENAMETOOLONG,
// last error ERROR_FILENAME_EXCED_RANGE) without calling the runtime.
int Win32U_Access(const char *path, int mode);
FILE *Win32U_Fopen(const char *path, const char *mode);
int Win32U_Open(const char *path, int flags, ...);
