// The custom actions' access to the running installation: properties,
// formatted text, installer messages, and the strings they are carried in.
// All text here is UTF-8; the conversion to the installer's UTF-16 happens
// inside these functions. Each function logs what it does.
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <cstdint>
#include <string>

#include "common/msiUtilText.h"
#include "lib/misc/ownedHandle.h"

// Owner of a database, view or record handle a custom action opened. The
// installation handle the installer passes in is never put in one.
struct MsiHandleTraits {
   using Handle = MSIHANDLE;
   static MSIHANDLE None() { return 0; }
   static void Close(MSIHANDLE h) { MsiCloseHandle(h); }
};
using MsiHandle = OwnedHandle<MsiHandleTraits>;

// The byte string that carries custom-action text (UTF-8). A pointer whose
// value is below 0x10000 is a string-resource id of this library's string
// table, as with the installer SDK's MAKEINTRESOURCE.
class ResString : public std::string {
public:
   ResString() = default;
   ResString(const std::string &s) : std::string(s) {}
   ResString(std::string &&s) : std::string(std::move(s)) {}
   ResString(const char *textOrId);
   ResString(const char *text, size_t length) : std::string(text, length) {}
};

// UTF-8 wrappers of the installer's wide functions. Sizes are in bytes of
// the UTF-8 buffer: in, its capacity; out, the text's length, or on
// ERROR_MORE_DATA the size the caller must provide. Results are the wide
// function's own.
UINT Win32U_MsiGetProperty(MSIHANDLE install, const char *name, char *value, DWORD *size);
UINT Win32U_MsiFormatRecord(MSIHANDLE install, MSIHANDLE record, char *result, DWORD *size);
UINT Win32U_MsiRecordGetString(MSIHANDLE record, UINT field, char *value, DWORD *size);
UINT Win32U_MsiRecordSetString(MSIHANDLE record, UINT field, const char *value);
UINT Win32U_MsiSetProperty(MSIHANDLE install, const char *name, const char *value);
UINT MsiUtil_SetTargetPath(MSIHANDLE install, const char *folder, const char *path);

// Property reads never fail to the caller: a failure reads as empty (or 0)
// and leaves a log line with the installer's code.
ResString MsiUtil_GetPropertyString(MSIHANDLE install, const char *name);
WideString MsiUtil_GetPropertyStringW(MSIHANDLE install, const char *name);
int MsiUtil_GetPropertyInt(MSIHANDLE install, const char *name);
// Setting the empty string removes the property.
bool MsiUtil_SetProperty(MSIHANDLE install, const char *name, const char *value);
// Expands [PROPERTY] references and the like; the text unchanged when it has
// no '[' or no record can be made, empty when the expansion passes 2047 bytes.
ResString MsiUtil_FormatString(MSIHANDLE install, const char *text);

// Posts Error-table message `error` with further fields described by
// `fields`, one letter per argument: 'd' an int, 's' a UTF-8 string (null
// leaves the field empty). Filling stops at the first other letter. Returns
// what MsiProcessMessage returned.
int MsiUtil_PostMessageEx(MSIHANDLE install, INSTALLMESSAGE type, int error,
                          const char *fields, ...);
int MsiUtil_PostErrorMessage(MSIHANDLE install, int error);
int MsiUtil_PostWarningMessage(MSIHANDLE install, UINT flags, int error);

// printf into a new string with the C runtime's formatter (not the log's),
// growing the buffer up to 43008 characters; a longer result is cut there.
ResString Util_Sprintf(const char *format, ...);
WideString Util_SprintfW(const wchar_t *format, ...);

// String `id` of `module`'s string table (null: this library's own), in the
// thread's user-interface language. False when the string is missing or
// empty.
bool Util_LoadResString(ResString &out, UINT id, HMODULE module);
bool Util_LoadResStringW(WideString &out, UINT id, HMODULE module);

// Nested installations. The installer's per-machine registration of a
// product is the key HKEY_CLASSES_ROOT\Installer\Products\<packed code>;
// the first string of its "Clients" list is ":" for a product of its own
// and the parent's product code for one installed from inside another
// package, which then cannot be repaired or removed by itself.

// True when productCode is registered and its "Clients" names a parent.
// The parent's code is then copied into `parent` unless that is null;
// parentSize is the buffer's capacity in bytes, and a longer code is cut
// (never inside a character) to parentSize - 1 bytes and terminated.
bool MsiUtil_IsMsiNested(const char *productCode, char *parent, size_t parentSize);
// Cuts a nested product loose from its parent: "Clients" becomes ":" and
// the product gets a "SourceList" key. True also when there was nothing to
// do (a product of its own or not registered at all); nothing is undone
// after a failure.
bool MsiUtil_UnnestMsi(const char *productCode);

// The window a custom action's message box should belong to, so that it
// comes up in front of the installer's dialogs: the installer's dialog when
// one can be found, else the desktop; null only when there is not even a
// desktop.
HWND Util_GetInstallerWnd();
