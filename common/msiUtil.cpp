// The installer boundary: UTF-8 inside, the installer's UTF-16 outside.
#include "common/msiUtil.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/log.h"
#include "common/registry.h"
#include "lib/misc/codeset.h"
#include "lib/misc/win32uInt.h"

using win32u::ErrorKeeper;
using win32u::Owned;
using win32u::WideArg;

namespace {

// UTF-8 of a wide result; false for text that is not valid UTF-16 (an
// unpaired surrogate), which no UTF-8 string can carry.
bool ToUtf8(const wchar_t *text, size_t length, std::string &out)
{
   char *utf8 = nullptr;
   size_t utf8Length = 0;
   if (!CodeSet_Utf16leToUtf8(reinterpret_cast<const char *>(text),
                              length * sizeof(wchar_t), &utf8, &utf8Length)) {
      return false;
   }
   Owned<char> owned(utf8);
   out.assign(utf8, utf8Length);
   return true;
}

// The one algorithm of the three wrappers that return text. `call` is the
// wide function given a buffer and its in/out character count.
template <typename Call>
UINT GetTextUtf8(const char *who, char *value, DWORD *size, Call call)
{
   if (size == nullptr) {
      return ERROR_INVALID_PARAMETER;
   }
   ErrorKeeper keep;
   const DWORD capacity = value != nullptr ? *size : 0;
   // One character more than the caller's bytes: the UTF-8 of a text never
   // has fewer bytes than the text has UTF-16 units, so this never refuses
   // a text the caller's buffer could take.
   std::vector<wchar_t> wide(static_cast<size_t>(capacity) + 1, L'\0');
   DWORD chars = capacity + 1;
   UINT rc = call(wide.data(), &chars);
   keep.Capture();
   if (rc == ERROR_MORE_DATA) {
      // Up to four bytes for each character the installer counted.
      *size = chars > MAXDWORD / 4 ? MAXDWORD : chars * 4;
      return rc;
   }
   if (rc != ERROR_SUCCESS) {
      return rc;
   }
   wide.back() = L'\0';
   std::string utf8;
   if (!ToUtf8(wide.data(), wcslen(wide.data()), utf8)) {
      Inst_Log(INST_LOG_ERROR, "%s: The installer returned text that is not UTF-16", who);
      keep.Set(errno, ERROR_INVALID_DATA);
      return ERROR_INVALID_DATA;
   }
   *size = static_cast<DWORD>(utf8.size());
   if (utf8.size() > capacity) {
      return ERROR_MORE_DATA;
   }
   if (!utf8.empty()) {
      memcpy(value, utf8.data(), utf8.size());
   }
   if (utf8.size() < capacity) {
      value[utf8.size()] = '\0';
   }
   return ERROR_SUCCESS;
}

const char *Str(const char *s)
{
   return s != nullptr ? s : "";
}

// This library's own module, whose string table holds its messages.
HMODULE OwnModule()
{
   static const char anchor = 0;
   static const HMODULE module = [] {
      HMODULE m = nullptr;
      GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                            GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&anchor), &m);
      return m;
   }();
   return module;
}

// Size in bytes of the string-table block that holds `id`, 0 when the
// module has none.
DWORD StringBlockSize(HMODULE module, UINT id)
{
   if (module == nullptr) {
      module = OwnModule();
   }
   HRSRC block = FindResourceW(module, MAKEINTRESOURCEW(id / 16 + 1),
                               MAKEINTRESOURCEW(6) /* RT_STRING */);
   return block != nullptr ? SizeofResource(module, block) : 0;
}

template <typename S>
void CutAtNul(S &s)
{
   size_t n = 0;
   while (n < s.size() && s[n] != 0) {
      n++;
   }
   s.resize(n);
}

// The runtime's formatter in its legacy mode (-1 when the text does not
// fit), through the capacities 2048, 6144, 12288, 20480, 30720 and 43008:
// each the previous plus 2048 plus 2048 for every failed attempt.
template <typename C, typename Format>
std::basic_string<C> GrowingSprintf(const C *format, va_list args, Format vsnprintfFn)
{
   constexpr size_t kFirst = 2048;
   constexpr int kAttempts = 6;
   C first[kFirst + 1];
   std::vector<C> heap;
   C *buffer = first;
   size_t capacity = kFirst;
   for (int attempt = 1;; attempt++) {
      va_list copy;
      va_copy(copy, args);
      int n = vsnprintfFn(buffer, capacity, format, copy);
      va_end(copy);
      // The C runtime's formatter gives -1 when the text does not fit; one
      // that reports the full length instead is treated the same way.
      if (n >= 0 && static_cast<size_t>(n) <= capacity) {
         return std::basic_string<C>(buffer, static_cast<size_t>(n));
      }
      if (attempt == kAttempts) {
         return std::basic_string<C>(buffer, capacity);
      }
      capacity += kFirst + kFirst * static_cast<size_t>(attempt);
      heap.assign(capacity + 1, C(0));
      buffer = heap.data();
   }
}

} // namespace

ResString::ResString(const char *textOrId)
{
   if (reinterpret_cast<uintptr_t>(textOrId) < 0x10000) {
      Util_LoadResString(*this, static_cast<UINT>(reinterpret_cast<uintptr_t>(textOrId)),
                         nullptr);
   } else {
      assign(textOrId);
   }
}

UINT Win32U_MsiGetProperty(MSIHANDLE install, const char *name, char *value, DWORD *size)
{
   WideArg wideName(name);
   return GetTextUtf8("Win32U_MsiGetProperty", value, size, [&](wchar_t *buf, DWORD *chars) {
      return MsiGetPropertyW(install, wideName.get(), buf, chars);
   });
}

UINT Win32U_MsiFormatRecord(MSIHANDLE install, MSIHANDLE record, char *result, DWORD *size)
{
   return GetTextUtf8("Win32U_MsiFormatRecord", result, size, [&](wchar_t *buf, DWORD *chars) {
      return MsiFormatRecordW(install, record, buf, chars);
   });
}

UINT Win32U_MsiRecordGetString(MSIHANDLE record, UINT field, char *value, DWORD *size)
{
   return GetTextUtf8("Win32U_MsiRecordGetString", value, size, [&](wchar_t *buf, DWORD *chars) {
      return MsiRecordGetStringW(record, field, buf, chars);
   });
}

UINT Win32U_MsiRecordSetString(MSIHANDLE record, UINT field, const char *value)
{
   ErrorKeeper keep;
   WideArg wideValue(value);
   UINT rc = MsiRecordSetStringW(record, field, wideValue.get());
   keep.Capture();
   return rc;
}

namespace {

// An installer call that takes two strings, made with their UTF-16 forms;
// the caller sees the last error the installer left.
UINT CallWithTwoStrings(UINT(WINAPI *call)(MSIHANDLE, LPCWSTR, LPCWSTR), MSIHANDLE install,
                        const char *first, const char *second)
{
   ErrorKeeper keep;
   WideArg wideFirst(first);
   WideArg wideSecond(second);
   UINT rc = call(install, wideFirst.get(), wideSecond.get());
   keep.Capture();
   return rc;
}

} // namespace

UINT Win32U_MsiSetProperty(MSIHANDLE install, const char *name, const char *value)
{
   return CallWithTwoStrings(MsiSetPropertyW, install, name, value);
}

UINT MsiUtil_SetTargetPath(MSIHANDLE install, const char *folder, const char *path)
{
   return CallWithTwoStrings(MsiSetTargetPathW, install, folder, path);
}

ResString MsiUtil_GetPropertyString(MSIHANDLE install, const char *name)
{
   ResString value;
   char none[1] = "";
   DWORD size = 0;
   UINT rc = Win32U_MsiGetProperty(install, name, none, &size);
   if (rc == ERROR_MORE_DATA) {
      value.assign(static_cast<size_t>(size) + 1, '\0');
      size++;
      rc = Win32U_MsiGetProperty(install, name, &value[0], &size);
      CutAtNul(value);
      if (rc != ERROR_SUCCESS) {
         Inst_LogWinError(INST_LOG_ERROR, rc, "MsiUtil_GetPropertyString: Failed to get property %s",
                          Str(name));
         return value;
      }
   } else if (rc != ERROR_SUCCESS) {
      Inst_LogWinError(INST_LOG_ERROR, rc,
                       "MsiUtil_GetPropertyString: MsiGetProperty failed for property %s",
                       Str(name));
      return ResString();
   }
   Inst_Log(INST_LOG_INFO, "MsiUtil_GetPropertyString: Getting Property %s = %s", Str(name),
            value.c_str());
   return value;
}

WideString MsiUtil_GetPropertyStringW(MSIHANDLE install, const char *name)
{
   WideArg wideName(name);
   WideString value;
   wchar_t none[1] = L"";
   DWORD chars = 0;
   UINT rc = MsiGetPropertyW(install, wideName.get(), none, &chars);
   if (rc == ERROR_MORE_DATA) {
      value.assign(static_cast<size_t>(chars) + 1, L'\0');
      chars++;
      rc = MsiGetPropertyW(install, wideName.get(), &value[0], &chars);
      CutAtNul(value);
      if (rc != ERROR_SUCCESS) {
         Inst_LogWinError(INST_LOG_ERROR, rc,
                          "MsiUtil_GetPropertyStringW: Failed to get property %s", Str(name));
         return value;
      }
   } else if (rc != ERROR_SUCCESS) {
      Inst_LogWinError(INST_LOG_INFO, rc,
                       "MsiUtil_GetPropertyStringW: MsiGetProperty failed for property %s",
                       Str(name));
      return WideString();
   }
   if (value.size() < 4096) {
      // %S converts the UTF-16 value to UTF-8 for the line.
      Inst_Log(INST_LOG_INFO, "MsiUtil_GetPropertyStringW: Getting Property %s = %S", Str(name),
               value.c_str());
   } else {
      Inst_Log(INST_LOG_INFO, "MsiUtil_GetPropertyStringW: Getting Property %s = [...]",
               Str(name));
   }
   return value;
}

int MsiUtil_GetPropertyInt(MSIHANDLE install, const char *name)
{
   ResString value = MsiUtil_GetPropertyString(install, name);
   return value.empty() ? 0 : atoi(value.c_str());
}

bool MsiUtil_SetProperty(MSIHANDLE install, const char *name, const char *value)
{
   Inst_Log(INST_LOG_INFO, "MsiUtil_SetProperty: Setting property %s = %s", Str(name), Str(value));
   UINT rc = Win32U_MsiSetProperty(install, name, value);
   if (rc != ERROR_SUCCESS) {
      Inst_LogWinError(INST_LOG_ERROR, rc, "MsiUtil_SetProperty: Failed to set property");
      return false;
   }
   return true;
}

ResString MsiUtil_FormatString(MSIHANDLE install, const char *text)
{
   Inst_Log(INST_LOG_INFO, "MsiUtil_FormatString: FormatString received: %s", Str(text));
   if (text == nullptr || strchr(text, '[') == nullptr) {
      return ResString(std::string(Str(text)));
   }
   MsiHandle record(MsiCreateRecord(1));
   if (!record) {
      Inst_Log(INST_LOG_ERROR,
               "MsiUtil_FormatString: Failed to create record for formatted string");
      return ResString(std::string(text));
   }
   Win32U_MsiRecordSetString(record.Get(), 0, "[1]");
   Win32U_MsiRecordSetString(record.Get(), 1, text);
   // Room for 2047 bytes; a longer expansion copies nothing and the zeroed
   // buffer reads as the empty string.
   char formatted[2048] = {};
   DWORD size = sizeof formatted - 1;
   Win32U_MsiFormatRecord(install, record.Get(), formatted, &size);
   Inst_Log(INST_LOG_INFO, "MsiUtil_FormatString: Formatted string: %s", formatted);
   return ResString(std::string(formatted));
}

int MsiUtil_PostMessageEx(MSIHANDLE install, INSTALLMESSAGE type, int error,
                          const char *fields, ...)
{
   const size_t count = fields != nullptr ? strlen(fields) : 0;
   MsiHandle record(MsiCreateRecord(static_cast<UINT>(count + 1)));
   if (!record) {
      Inst_Log(INST_LOG_ERROR, "MsiUtil_PostMessageEx: Failed to create record for message %i",
               error);
      return -1;
   }
   // A null template: the installer takes the error number's text from its
   // Error table.
   MsiRecordSetStringW(record.Get(), 0, nullptr);
   MsiRecordSetInteger(record.Get(), 1, error);

   va_list args;
   va_start(args, fields);
   for (size_t i = 0; i < count; i++) {
      const UINT field = static_cast<UINT>(i + 2);
      if (fields[i] == 'd') {
         MsiRecordSetInteger(record.Get(), field, va_arg(args, int));
      } else if (fields[i] == 's') {
         const char *s = va_arg(args, const char *);
         if (s != nullptr) {
            Win32U_MsiRecordSetString(record.Get(), field, s);
         }
      } else {
         Inst_Log(INST_LOG_INFO, "MsiUtil_PostMessageEx: Invalid input, skipping %s specifiers",
                  fields + i);
         break;
      }
   }
   va_end(args);

   int rc = MsiProcessMessage(install, type, record.Get());
   Inst_Log(INST_LOG_INFO, "MsiUtil_PostMessageEx: MsiProcessMessage returned: %i", rc);
   return rc;
}

int MsiUtil_PostErrorMessage(MSIHANDLE install, int error)
{
   Inst_Log(INST_LOG_INFO, "MsiUtil_PostErrorMessage: Posting error message %i", error);
   // An error with the exclamation icon and an OK button.
   return MsiUtil_PostMessageEx(install, static_cast<INSTALLMESSAGE>(0x01000030), error, nullptr);
}

int MsiUtil_PostWarningMessage(MSIHANDLE install, UINT flags, int error)
{
   Inst_Log(INST_LOG_INFO, "MsiUtil_PostWarningMessage: Posting warning message %i", error);
   return MsiUtil_PostMessageEx(install, static_cast<INSTALLMESSAGE>(flags | 0x02000000u), error,
                                nullptr);
}

ResString Util_Sprintf(const char *format, ...)
{
   va_list args;
   va_start(args, format);
   std::string s = GrowingSprintf<char>(format, args, _vsnprintf);
   va_end(args);
   return ResString(std::move(s));
}

WideString Util_SprintfW(const wchar_t *format, ...)
{
   va_list args;
   va_start(args, format);
   WideString s = GrowingSprintf<wchar_t>(format, args, _vsnwprintf);
   va_end(args);
   return s;
}

bool Util_LoadResString(ResString &out, UINT id, HMODULE module)
{
   if (module == nullptr) {
      module = OwnModule();
   }
   const DWORD blockSize = StringBlockSize(module, id);
   if (blockSize == 0) {
      return false;
   }
   if (out.size() < blockSize) {
      out.resize(blockSize);
   }
   int copied = LoadStringA(module, id, &out[0], static_cast<int>(blockSize));
   CutAtNul(out);
   return copied > 0;
}

bool Util_LoadResStringW(WideString &out, UINT id, HMODULE module)
{
   if (module == nullptr) {
      module = OwnModule();
   }
   const DWORD blockSize = StringBlockSize(module, id);
   if (blockSize == 0) {
      return false;
   }
   const size_t chars = blockSize / sizeof(wchar_t);
   if (out.size() < chars) {
      out.resize(chars);
   }
   int copied = LoadStringW(module, id, &out[0], static_cast<int>(chars));
   CutAtNul(out);
   return copied > 0;
}

namespace {

const char kProductsKey[] = "Installer\\Products\\";
const char kClientsValue[] = "Clients";
// The size the installer's own "Clients" lists stay well within.
constexpr DWORD kClientsBufferSize = 260;

std::string RegistrationKey(const char *packedCode)
{
   return std::string(kProductsKey) + packedCode;
}

// Copies `length` bytes of UTF-8 text, or as many whole characters of it as
// fit in outSize - 1 bytes, and terminates. outSize must not be 0.
void CopyCut(const char *text, size_t length, char *out, size_t outSize)
{
   size_t n = length < outSize - 1 ? length : outSize - 1;
   if (n < length) {
      // The first byte left out continues a character: leave all of it out.
      while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) {
         n--;
      }
   }
   memcpy(out, text, n);
   out[n] = '\0';
}

} // namespace

bool MsiUtil_IsMsiNested(const char *productCode, char *parent, size_t parentSize)
{
   Inst_Log(INST_LOG_INFO, "MsiUtil_IsMsiNested: Checking Nested-ness of ProductCode: %s",
            Str(productCode));
   if (productCode == nullptr || productCode[0] == '\0') {
      Inst_Log(INST_LOG_ERROR, "MsiUtil_IsMsiNested: Error in ProductCode");
      return false;
   }
   char packed[MSI_PACKED_CODE_SIZE];
   if (!MsiUtil_PackProductCode(productCode, packed, sizeof packed)) {
      Inst_Log(INST_LOG_ERROR, "MsiUtil_IsMsiNested: Error munging ProductCode");
      return false;
   }
   const std::string key = RegistrationKey(packed);
   if (!Util_DoesKeyExist(HKEY_CLASSES_ROOT, key.c_str(), TRUE)) {
      Inst_Log(INST_LOG_ERROR, "MsiUtil_IsMsiNested: MSI reg info for %s does not exist",
               key.c_str());
      return false;
   }
   // One byte more than the read may fill: the first string always ends.
   char clients[kClientsBufferSize + 1] = {};
   DWORD size = kClientsBufferSize;
   if (!Util_GetKeyValueString(HKEY_CLASSES_ROOT, key.c_str(), kClientsValue, clients, &size,
                               TRUE)) {
      Inst_Log(INST_LOG_ERROR, "MsiUtil_IsMsiNested: Error getting registry key %s for value %s",
               key.c_str(), kClientsValue);
      return false;
   }
   if (clients[0] == ':') {
      Inst_Log(INST_LOG_ERROR, "MsiUtil_IsMsiNested: MSI reg info for %s indicates it is not nested",
               productCode);
      return false;
   }
   if (parent != nullptr && parentSize > 0) {
      CopyCut(clients, strlen(clients), parent, parentSize);
   }
   return true;
}

bool MsiUtil_UnnestMsi(const char *productCode)
{
   if (productCode == nullptr || productCode[0] == '\0') {
      Inst_Log(INST_LOG_ERROR, "MsiUtil_UnnestMsi: Empty product code");
      return false;
   }
   std::vector<char> parent(strlen(productCode) + 1, '\0');
   if (!MsiUtil_IsMsiNested(productCode, parent.data(), parent.size())) {
      Inst_Log(INST_LOG_INFO,
               "MsiUtil_UnnestMsi: product code '%s' is not nested.  Nothing to be done.",
               productCode);
      return true;
   }
   char packed[MSI_PACKED_CODE_SIZE];
   if (!MsiUtil_PackProductCode(productCode, packed, sizeof packed)) {
      Inst_Log(INST_LOG_ERROR, "MsiUtil_UnnestMsi: Failed to munge product code '%s'",
               productCode);
      return false;
   }
   const std::string key = RegistrationKey(packed);
   if (!Util_DoesKeyExist(HKEY_CLASSES_ROOT, key.c_str(), TRUE)) {
      Inst_Log(INST_LOG_ERROR, "MsiUtil_UnnestMsi: MSI registry info for '%s' does not exist",
               key.c_str());
      return false;
   }
   // A list whose one string is ":": the product is its own client.
   const char standalone[] = {':', '\0'};
   if (!Util_SetKeyValue(HKEY_CLASSES_ROOT, key.c_str(), kClientsValue, REG_MULTI_SZ, standalone,
                         sizeof standalone, REG_OPTION_NON_VOLATILE, TRUE)) {
      Inst_Log(INST_LOG_ERROR, "MsiUtil_UnnestMsi: Failed to write %s\\%s", key.c_str(),
               kClientsValue);
      return false;
   }
   const std::string sourceList = key + "\\SourceList";
   if (!Util_CreateKey(HKEY_CLASSES_ROOT, sourceList.c_str(), REG_OPTION_NON_VOLATILE, FALSE)) {
      Inst_Log(INST_LOG_ERROR, "MsiUtil_UnnestMsi: Failed to create registry key %s",
               sourceList.c_str());
      return false;
   }
   Inst_Log(INST_LOG_INFO, "MsiUtil_UnnestMsi: Successfully decoupled %s from parent installer %s",
            productCode, parent.data());
   return true;
}

namespace {

const wchar_t kInstallerDialogClass[] = L"MsiDialogCloseClass";
const wchar_t kProductWindowTitle[] = L"Orvane Tools";
const char kCompanyKey[] = "SOFTWARE\\Orvane, Inc.";
// Longer titles are cut in the log line; the window is returned all the same.
constexpr int kTitleChars = 512;

// Room for any window title a package would store.
constexpr DWORD kStoredTitleBytes = 1024;

// The title the package stored for its installer window, in UTF-16. False
// when there is none (the registry read logs why) or it is not valid text;
// an empty title is a title.
bool StoredWindowTitle(std::wstring &out)
{
   char title[kStoredTitleBytes] = {};
   DWORD size = sizeof title - 1;   // the zero after the longest title
   if (!Util_GetKeyValueString(HKEY_LOCAL_MACHINE, kCompanyKey, "Wnd", title, &size, FALSE)) {
      return false;
   }
   char *wide = nullptr;
   size_t wideSize = 0;
   // A value of another type arrives as raw bytes, which need not be UTF-8.
   if (!CodeSet_Utf8ToUtf16le(title, strlen(title), &wide, &wideSize)) {
      Inst_Log(INST_LOG_WARNING, "Util_GetInstallerWnd: The stored window title is not text");
      return false;
   }
   Owned<char> owned(wide);
   out.assign(reinterpret_cast<const wchar_t *>(wide), wideSize / sizeof(wchar_t));
   return true;
}

// Says which window a message box will be attached to when it was not
// found by its title.
void LogAttachedTitle(HWND wnd)
{
   wchar_t title[kTitleChars] = {};
   // GetWindowTextW does not clear the last error for an empty title.
   SetLastError(ERROR_SUCCESS);
   const int n = GetWindowTextW(wnd, title, kTitleChars);
   const DWORD error = GetLastError();
   if (n == 0 && error != ERROR_SUCCESS) {
      Inst_LogLastError(INST_LOG_WARNING, error, "Util_GetInstallerWnd: Failed to get window text");
      return;
   }
   Inst_Log(INST_LOG_INFO, "Util_GetInstallerWnd: Attaching to window with title \"%S\"", title);
}

} // namespace

HWND Util_GetInstallerWnd()
{
   std::wstring stored;
   HWND wnd = nullptr;
   if (StoredWindowTitle(stored)) {
      wnd = FindWindowW(kInstallerDialogClass, stored.c_str());
   }
   if (wnd == nullptr) {
      wnd = FindWindowW(kInstallerDialogClass, kProductWindowTitle);
   }
   if (wnd == nullptr) {
      wnd = FindWindowW(nullptr, kProductWindowTitle);
   }
   if (wnd != nullptr) {
      return wnd;
   }
   wnd = FindWindowW(kInstallerDialogClass, nullptr);
   if (wnd == nullptr) {
      wnd = GetDesktopWindow();
   }
   if (wnd == nullptr) {
      Inst_Log(INST_LOG_WARNING, "Util_GetInstallerWnd: Failed to find a window handle");
      return nullptr;
   }
   LogAttachedTitle(wnd);
   return wnd;
}
