// Registry keys and values by root key plus path, and the reboot-request
// list kept in the registry.
//
// Every function opens what it needs, does one job and closes its handles;
// failure is a FALSE result after one log line, never an exception. Narrow
// names and string data are UTF-8 (converted by the Win32U_ registry
// wrappers); the W forms take UTF-16 and call the wide functions directly.
// The last argument, use64View, asks for the 64-bit view: it adds
// KEY_WOW64_64KEY only in a 32-bit process on 64-bit Windows.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

BOOL Util_CreateKey(HKEY root, const char *keyName, DWORD options, BOOL use64View);
// Recursive: deletes keyName and every subkey it can; a subkey that cannot
// be deleted is logged and skipped.
BOOL Util_DeleteKey(HKEY root, const char *keyName);
BOOL Util_DeleteValue(HKEY root, const char *keyName, const char *valueName,
                      BOOL use64View);
BOOL Util_DoesKeyExist(HKEY root, const char *keyName, BOOL use64View);
BOOL Util_IsKeyEmpty(HKEY root, const char *keyName, BOOL use64View);

// String-typed values arrive as UTF-8; other types as their raw bytes up to
// the first zero byte.
BOOL Util_GetKeyValueString(HKEY root, const char *keyName, const char *valueName,
                            std::string &outText, BOOL use64View);
// `size`: in, the buffer's capacity in bytes; out, the bytes stored, or on
// ERROR_MORE_DATA the size needed.
BOOL Util_GetKeyValueString(HKEY root, const char *keyName, const char *valueName,
                            char *buffer, DWORD *size, BOOL use64View);

// REG_SZ, REG_EXPAND_SZ (not expanded) or REG_MULTI_SZ values only.
BOOL Util_GetKeyValueStringW(HKEY root, const std::wstring &subKey,
                             const std::wstring &valueName,
                             std::vector<std::wstring> &outList, BOOL use64View);
// outText is set only when the value holds exactly one string.
BOOL Util_GetKeyValueStringW(HKEY root, const std::wstring &subKey,
                             const std::wstring &valueName, std::wstring &outText,
                             BOOL use64View);

// Creates the key when needed (options as for Util_CreateKey). dataSize is
// in bytes; for string types the UTF-8 length including the zero.
BOOL Util_SetKeyValue(HKEY root, const char *keyName, const char *valueName,
                      DWORD type, const void *data, DWORD dataSize, DWORD options,
                      BOOL use64View);
BOOL Util_SetKeyValueW(HKEY root, const wchar_t *subKey, const wchar_t *valueName,
                       DWORD type, const void *data, DWORD dataSize, DWORD options,
                       BOOL use64View);

// "HKEY_LOCAL_MACHINE" and its kind; "" for any other handle. Never null.
const char *Util_RootKeyName(HKEY root);

// Appends a component that needs a restart to the volatile list
// HKLM\SOFTWARE\Orvane, Inc.\NeedReboot "Components" ("a;b;c").
BOOL Util_SetReboot(const char *component);
// The wide form does not add a name the list already holds.
BOOL Util_SetRebootW(const std::wstring &component);
