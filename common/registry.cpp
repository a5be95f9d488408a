// Registry keys and values by root key plus path, and the reboot-request
// list. Narrow names go through the Win32U_ registry wrappers; the W
// functions call the wide API directly.
#include "common/registry.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>

#include "common/log.h"
#include "common/osInfo.h"
#include "lib/misc/codeset.h"
#include "lib/misc/ownedHandle.h"
#include "lib/misc/win32uRegistry.h"

namespace {

const char kRebootParentKey[] = "SOFTWARE\\Orvane, Inc.";
const char kRebootKey[] = "SOFTWARE\\Orvane, Inc.\\NeedReboot";
const char kRebootValue[] = "Components";
const wchar_t kRebootParentKeyW[] = L"SOFTWARE\\Orvane, Inc.";
const wchar_t kRebootKeyW[] = L"SOFTWARE\\Orvane, Inc.\\NeedReboot";
const wchar_t kRebootValueW[] = L"Components";

// Room for a subkey name while the recursive delete walks a tree.
const DWORD kSubkeyNameSize = 512;

// The 64-bit view needs a flag only where the process would otherwise see
// the 32-bit one; a native 64-bit process already has the 64-bit view.
REGSAM ViewMask(REGSAM mask, BOOL use64View)
{
   return use64View && Util_IsWow64() ? (mask | KEY_WOW64_64KEY) : mask;
}

bool IsEmptyText(const char *text)
{
   return text == nullptr || text[0] == '\0';
}

// The wrappers end the process on text that is not UTF-8; here such a name
// is one more registry failure, reported like any other.
bool IsUtf8(const char *text)
{
   return text == nullptr || CodeSet_IsValidUtf8(text, strlen(text));
}

// The bytes of string data the wrapper converts: up to the first zero for
// the single-string types, up to the empty string that ends the list (or
// the end of the data) for REG_MULTI_SZ.
size_t ConvertedLength(DWORD type, const char *data, size_t size)
{
   if (type != REG_MULTI_SZ) {
      const void *nul = memchr(data, 0, size);
      return nul != nullptr ? static_cast<size_t>(static_cast<const char *>(nul) - data) : size;
   }
   size_t pos = 0;
   while (pos < size && data[pos] != '\0') {
      const void *nul = memchr(data + pos, 0, size - pos);
      if (nul == nullptr) {
         return size;
      }
      pos = static_cast<size_t>(static_cast<const char *>(nul) - data) + 1;
   }
   return pos;
}

bool IsUtf8Data(DWORD type, const void *data, DWORD size)
{
   if (data == nullptr || (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ)) {
      return true;
   }
   const char *text = static_cast<const char *>(data);
   return CodeSet_IsValidUtf8(text, ConvertedLength(type, text, size));
}

LONG OpenKey(HKEY root, const char *keyName, REGSAM mask, RegKeyHandle &key)
{
   if (!IsUtf8(keyName)) {
      return ERROR_NO_UNICODE_TRANSLATION;
   }
   return Win32U_RegOpenKeyEx(root, keyName, 0, mask, key.Out());
}

LONG CreateKey(HKEY root, const char *keyName, DWORD options, REGSAM mask, RegKeyHandle &key)
{
   if (!IsUtf8(keyName)) {
      return ERROR_NO_UNICODE_TRANSLATION;
   }
   return Win32U_RegCreateKeyEx(root, keyName, 0, "", options, mask, nullptr, key.Out(),
                                nullptr);
}

LONG QueryValue(HKEY key, const char *valueName, DWORD *type, BYTE *data, DWORD *size)
{
   if (!IsUtf8(valueName)) {
      return ERROR_NO_UNICODE_TRANSLATION;
   }
   return Win32U_RegQueryValueEx(key, valueName, nullptr, type, data, size);
}

// A zero-filled block freed on every path; null when allocation fails.
struct FreeDeleter {
   void operator()(void *p) const { free(p); }
};
using ZeroedBytes = std::unique_ptr<char, FreeDeleter>;

ZeroedBytes AllocZeroed(size_t size)
{
   return ZeroedBytes(static_cast<char *>(calloc(size, 1)));
}

// The strings of REG_MULTI_SZ data of `units` UTF-16 units, up to the first
// empty one. Data stored without its terminators has none to stop at, so
// the walk also stops at the end of what was read.
void SplitMultiString(const wchar_t *text, size_t units, std::vector<std::wstring> &out)
{
   size_t pos = 0;
   while (pos < units && text[pos] != L'\0') {
      size_t length = wcsnlen(text + pos, units - pos);
      out.emplace_back(text + pos, length);
      pos += length + 1;
   }
}

}  // namespace

const char *Util_RootKeyName(HKEY root)
{
   if (root == HKEY_CLASSES_ROOT) {
      return "HKEY_CLASSES_ROOT";
   }
   if (root == HKEY_CURRENT_USER) {
      return "HKEY_CURRENT_USER";
   }
   if (root == HKEY_LOCAL_MACHINE) {
      return "HKEY_LOCAL_MACHINE";
   }
   if (root == HKEY_USERS) {
      return "HKEY_USERS";
   }
   if (root == HKEY_CURRENT_CONFIG) {
      return "HKEY_CURRENT_CONFIG";
   }
   return "";
}

BOOL Util_CreateKey(HKEY root, const char *keyName, DWORD options, BOOL use64View)
{
   if (IsEmptyText(keyName)) {
      Inst_Log(INST_LOG_ERROR, "Util_CreateKey: Invalid keyName in Util_CreateKey");
      return FALSE;
   }
   RegKeyHandle key;
   return CreateKey(root, keyName, options, ViewMask(KEY_ALL_ACCESS, use64View), key) ==
          ERROR_SUCCESS;
}

BOOL Util_DoesKeyExist(HKEY root, const char *keyName, BOOL use64View)
{
   if (IsEmptyText(keyName)) {
      Inst_Log(INST_LOG_ERROR, "Util_DoesKeyExist: Invalid keyName");
      return FALSE;
   }
   RegKeyHandle key;
   return OpenKey(root, keyName, ViewMask(KEY_READ, use64View), key) == ERROR_SUCCESS;
}

BOOL Util_IsKeyEmpty(HKEY root, const char *keyName, BOOL use64View)
{
   if (IsEmptyText(keyName)) {
      Inst_Log(INST_LOG_ERROR, "Util_IsKeyEmpty: Invalid keyName");
      return FALSE;
   }
   RegKeyHandle key;
   if (OpenKey(root, keyName, ViewMask(KEY_ALL_ACCESS, use64View), key) != ERROR_SUCCESS) {
      Inst_Log(INST_LOG_INFO, "Util_IsKeyEmpty: Failed to open key %s", keyName);
      return FALSE;
   }
   // A name too long for the buffer is still a subkey: only "no more
   // items" means there is none.
   char name[kSubkeyNameSize];
   DWORD nameSize = sizeof name;
   if (Win32U_RegEnumKeyEx(key.Get(), 0, name, &nameSize, nullptr, nullptr, nullptr,
                           nullptr) != ERROR_NO_MORE_ITEMS) {
      return FALSE;
   }
   nameSize = sizeof name;
   return Win32U_RegEnumValue(key.Get(), 0, name, &nameSize, nullptr, nullptr, nullptr,
                              nullptr) == ERROR_NO_MORE_ITEMS;
}

BOOL Util_DeleteKey(HKEY root, const char *keyName)
{
   if (!Util_IsKeyEmpty(root, keyName, FALSE)) {
      Inst_Log(INST_LOG_WARNING, "Util_DeleteKey: Deleting a key that isn't empty: \"%s\\%s\"",
               Util_RootKeyName(root), keyName);
   }
   if (IsEmptyText(keyName)) {
      Inst_Log(INST_LOG_ERROR, "Util_DeleteKey: Invalid keyName in DeleteKey");
      return FALSE;
   }
   RegKeyHandle key;
   if (OpenKey(root, keyName, DELETE | KEY_ENUMERATE_SUB_KEYS, key) != ERROR_SUCCESS) {
      return TRUE;
   }

   // A deleted subkey's successor moves into its index; one that survives
   // is stepped over. A survivor the existence test cannot open (no read
   // access) would come back at the same index for ever, so the name seen
   // there last time also counts as a survivor.
   std::string previous;
   for (DWORD i = 0;;) {
      char name[kSubkeyNameSize];
      DWORD nameSize = sizeof name;
      LONG rc = Win32U_RegEnumKeyEx(key.Get(), i, name, &nameSize, nullptr, nullptr, nullptr,
                                    nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) {
         break;
      }
      if (rc != ERROR_SUCCESS) {
         return TRUE;
      }
      if (!previous.empty() && previous == name) {
         previous.clear();
         i++;
         continue;
      }
      Util_DeleteKey(key.Get(), name);
      if (Util_DoesKeyExist(key.Get(), name, FALSE)) {
         previous.clear();
         i++;
      } else {
         previous = name;
      }
   }

   if (Win32U_RegDeleteKey(root, keyName) != ERROR_SUCCESS) {
      Inst_LogLastError(INST_LOG_ERROR, GetLastError(), "Util_DeleteKey: Failed to delete key %s",
                        keyName);
   }
   return TRUE;
}

BOOL Util_DeleteValue(HKEY root, const char *keyName, const char *valueName, BOOL use64View)
{
   if (IsEmptyText(keyName)) {
      Inst_Log(INST_LOG_ERROR, "Util_DeleteValue: Invalid keyName in DeleteValue");
      return FALSE;
   }
   if (IsEmptyText(valueName)) {
      Inst_Log(INST_LOG_ERROR, "Util_DeleteValue: Invalid keyValue in DeleteValue");
      return FALSE;
   }
   RegKeyHandle key;
   if (OpenKey(root, keyName, ViewMask(KEY_ALL_ACCESS, use64View), key) != ERROR_SUCCESS) {
      return FALSE;
   }
   LONG rc = IsUtf8(valueName) ? Win32U_RegDeleteValue(key.Get(), valueName)
                               : ERROR_NO_UNICODE_TRANSLATION;
   if (rc != ERROR_SUCCESS) {
      Inst_LogLastError(INST_LOG_ERROR, GetLastError(),
                        "Util_DeleteValue: Failed to delete value %s\\%s", keyName, valueName);
      return FALSE;
   }
   return TRUE;
}

BOOL Util_GetKeyValueString(HKEY root, const char *keyName, const char *valueName,
                            std::string &outText, BOOL use64View)
{
   outText.clear();
   const REGSAM mask = ViewMask(KEY_READ, use64View);
   DWORD size = 0;
   {
      RegKeyHandle key;
      if (OpenKey(root, keyName, mask, key) == ERROR_SUCCESS) {
         DWORD type = REG_NONE;
         LONG rc = QueryValue(key.Get(), valueName, &type, nullptr, &size);
         if (rc != ERROR_SUCCESS) {
            Inst_LogWinError(INST_LOG_INFO, static_cast<DWORD>(rc),
                             "Util_GetKeyValueString: Error reading registry value: %s", keyName);
            size = 0;
         }
      }
   }
   if (size == 0) {
      return FALSE;
   }

   // Two zero bytes past the largest answer: the text always ends inside.
   const size_t capacity = static_cast<size_t>(size) + 2;
   ZeroedBytes buffer = AllocZeroed(capacity);
   if (!buffer) {
      Inst_Log(INST_LOG_ERROR,
               "Util_GetKeyValueString: Failure allocating memory to read components requiring "
               "reboot");
      return FALSE;
   }
   // The rest (open, read, the detail line) is the buffer form's.
   DWORD inOut = capacity > MAXDWORD ? MAXDWORD : static_cast<DWORD>(capacity);
   if (!Util_GetKeyValueString(root, keyName, valueName, buffer.get(), &inOut, use64View)) {
      return FALSE;
   }
   outText.assign(buffer.get(), strnlen(buffer.get(), capacity));
   return TRUE;
}

BOOL Util_GetKeyValueString(HKEY root, const char *keyName, const char *valueName,
                            char *buffer, DWORD *size, BOOL use64View)
{
   RegKeyHandle key;
   LONG rc = OpenKey(root, keyName, ViewMask(KEY_READ, use64View), key);
   if (rc != ERROR_SUCCESS) {
      Inst_Log(INST_LOG_ERROR, "Util_GetKeyValueString: Cannot open the registry %s\\%s: %ld",
               Util_RootKeyName(root), keyName, static_cast<long>(rc));
      return FALSE;
   }
   // Without a count there is no capacity to trust, whatever the buffer.
   rc = size == nullptr ? ERROR_INVALID_PARAMETER
                        : QueryValue(key.Get(), valueName, nullptr,
                                     reinterpret_cast<BYTE *>(buffer), size);
   if (rc != ERROR_SUCCESS) {
      Inst_LogWinError(INST_LOG_ERROR, static_cast<DWORD>(rc),
                       "Util_GetKeyValueString: Cannot query key value %s\\%s\\%s",
                       Util_RootKeyName(root), keyName, valueName);
      return FALSE;
   }
   key.Reset();
   // Raw data need not end in a zero within the count it filled.
   std::string text = buffer != nullptr ? std::string(buffer, strnlen(buffer, *size)) : "";
   Inst_Log(INST_LOG_DETAIL, "Util_GetKeyValueString: (%s\\%s\\%s) = \"%s\"",
            Util_RootKeyName(root), keyName, valueName, text.c_str());
   return TRUE;
}

BOOL Util_GetKeyValueStringW(HKEY root, const std::wstring &subKey,
                             const std::wstring &valueName,
                             std::vector<std::wstring> &outList, BOOL use64View)
{
   outList.clear();
   RegKeyHandle key;
   if (RegOpenKeyExW(root, subKey.c_str(), 0, ViewMask(KEY_READ, use64View), key.Out()) !=
       ERROR_SUCCESS) {
      return FALSE;
   }
   DWORD type = REG_NONE;
   DWORD size = 0;
   LONG rc = RegQueryValueExW(key.Get(), valueName.c_str(), nullptr, &type, nullptr, &size);
   if (rc != ERROR_SUCCESS) {
      Inst_LogWinError(INST_LOG_INFO, static_cast<DWORD>(rc),
                       "Util_GetKeyValueStringW: Cannot query key value %s\\%S\\%S for size",
                       Util_RootKeyName(root), subKey.c_str(), valueName.c_str());
      return FALSE;
   }
   if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) {
      Inst_Log(INST_LOG_ERROR,
               "Util_GetKeyValueStringW: Util_GetKeyValueString only supports REG_MULTI_SZ, "
               "REG_EXPAND_SZ and REG_SZ (type %d)",
               static_cast<int>(type));
      return FALSE;
   }
   // The second query may use the two spare bytes too (a value that grew
   // meanwhile); every walk below is bounded by the capacity, and text
   // stored without a terminator ends at the zero bytes after it.
   const size_t capacity = static_cast<size_t>(size) + 2;
   ZeroedBytes buffer = AllocZeroed(capacity);
   DWORD filled = static_cast<DWORD>(capacity);
   rc = buffer ? RegQueryValueExW(key.Get(), valueName.c_str(), nullptr, &type,
                                  reinterpret_cast<BYTE *>(buffer.get()), &filled)
               : ERROR_NOT_ENOUGH_MEMORY;
   if (rc != ERROR_SUCCESS) {
      Inst_LogWinError(INST_LOG_ERROR, static_cast<DWORD>(rc),
                       "Util_GetKeyValueStringW: Cannot query key value %s\\%S\\%S",
                       Util_RootKeyName(root), subKey.c_str(), valueName.c_str());
      return FALSE;
   }
   key.Reset();
   const wchar_t *text = reinterpret_cast<const wchar_t *>(buffer.get());
   const size_t units = capacity / sizeof(wchar_t);
   if (type == REG_MULTI_SZ) {
      SplitMultiString(text, units, outList);
   } else {
      outList.emplace_back(text, wcsnlen(text, units));
   }
   return TRUE;
}

BOOL Util_GetKeyValueStringW(HKEY root, const std::wstring &subKey,
                             const std::wstring &valueName, std::wstring &outText,
                             BOOL use64View)
{
   outText.clear();
   std::vector<std::wstring> list;
   BOOL ok = Util_GetKeyValueStringW(root, subKey, valueName, list, use64View);
   if (ok && list.size() == 1) {
      outText = list[0];
   }
   return ok;
}

BOOL Util_SetKeyValue(HKEY root, const char *keyName, const char *valueName, DWORD type,
                      const void *data, DWORD dataSize, DWORD options, BOOL use64View)
{
   RegKeyHandle key;
   LONG rc = CreateKey(root, keyName, options, ViewMask(KEY_WRITE, use64View), key);
   if (rc != ERROR_SUCCESS) {
      Inst_LogWinError(INST_LOG_ERROR, static_cast<DWORD>(rc),
                       "Util_SetKeyValue: Failed to create key %s", keyName);
      return FALSE;
   }
   rc = IsUtf8(valueName) && IsUtf8Data(type, data, dataSize)
           ? Win32U_RegSetValueEx(key.Get(), valueName, 0, type,
                                  static_cast<const BYTE *>(data), dataSize)
           : ERROR_NO_UNICODE_TRANSLATION;
   if (rc != ERROR_SUCCESS) {
      Inst_LogWinError(INST_LOG_ERROR, static_cast<DWORD>(rc),
                       "Util_SetKeyValue: Failed to set value: %s\\%s\\%s", Util_RootKeyName(root),
                       keyName, valueName);
      return FALSE;
   }
   return TRUE;
}

BOOL Util_SetKeyValueW(HKEY root, const wchar_t *subKey, const wchar_t *valueName, DWORD type,
                       const void *data, DWORD dataSize, DWORD options, BOOL use64View)
{
   RegKeyHandle key;
   LONG rc = RegCreateKeyExW(root, subKey, 0, const_cast<wchar_t *>(L""), options,
                             ViewMask(KEY_WRITE, use64View), nullptr, key.Out(), nullptr);
   if (rc != ERROR_SUCCESS) {
      Inst_LogWinError(INST_LOG_ERROR, static_cast<DWORD>(rc),
                       "Util_SetKeyValueW: Failed to create key %S", subKey);
      return FALSE;
   }
   rc = RegSetValueExW(key.Get(), valueName, 0, type, static_cast<const BYTE *>(data), dataSize);
   if (rc != ERROR_SUCCESS) {
      Inst_LogWinError(INST_LOG_ERROR, static_cast<DWORD>(rc),
                       "Util_SetKeyValueW: Failed to set value: %s\\%S\\%S", Util_RootKeyName(root),
                       subKey, valueName);
      return FALSE;
   }
   return TRUE;
}

BOOL Util_SetReboot(const char *component)
{
   if (component == nullptr) {
      Inst_Log(INST_LOG_ERROR, "Util_SetReboot: Null parameter detected.");
      return FALSE;
   }
   if (component[0] == '\0') {
      Inst_Log(INST_LOG_ERROR, "Util_SetReboot: Empty string detected");
      return FALSE;
   }
   Inst_Log(INST_LOG_WARNING, "Util_SetReboot: Reboot needed by [%s]", component);
   {
      RegKeyHandle parent;
      if (OpenKey(HKEY_LOCAL_MACHINE, kRebootParentKey, KEY_READ, parent) != ERROR_SUCCESS &&
          !Util_CreateKey(HKEY_LOCAL_MACHINE, kRebootParentKey, 0, FALSE)) {
         return FALSE;
      }
   }
   std::string list;
   Util_GetKeyValueString(HKEY_LOCAL_MACHINE, kRebootKey, kRebootValue, list, FALSE);
   if (!list.empty()) {
      list += ';';
   }
   list += component;
   Inst_Log(INST_LOG_INFO, "Util_SetReboot:   List of components [%s]", list.c_str());
   // The size argument counts the terminator too.
   if (list.size() >= MAXDWORD) {
      Inst_Log(INST_LOG_ERROR, "Util_SetReboot: List of components too long");
      return FALSE;
   }
   if (!Util_SetKeyValue(HKEY_LOCAL_MACHINE, kRebootKey, kRebootValue, REG_SZ, list.c_str(),
                         static_cast<DWORD>(list.size() + 1), REG_OPTION_VOLATILE, FALSE)) {
      return FALSE;
   }
   Inst_Log(INST_LOG_INFO, "Util_SetReboot: Reboot requested by %s", component);
   return TRUE;
}

BOOL Util_SetRebootW(const std::wstring &component)
{
   if (component.empty()) {
      Inst_Log(INST_LOG_ERROR,
               "Util_SetRebootW: Util_SetReboot() null or empty component name string detected");
      return FALSE;
   }
   {
      RegKeyHandle parent;
      if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRebootParentKeyW, 0, KEY_READ, parent.Out()) !=
             ERROR_SUCCESS &&
          !Util_CreateKey(HKEY_LOCAL_MACHINE, kRebootParentKey, 0, FALSE)) {
         return FALSE;
      }
   }
   std::wstring list;
   Util_GetKeyValueStringW(HKEY_LOCAL_MACHINE, kRebootKeyW, kRebootValueW, list, FALSE);
   if (!list.empty()) {
      list += L';';
   }
   // The separator after the probe keeps "ab" from matching "abc", but
   // "b;" still matches inside "ab;": a name that ends another is skipped.
   if (list.find(component + L';') == std::wstring::npos) {
      list += component;
   } else {
      Inst_Log(INST_LOG_INFO,
               "Util_SetRebootW: Skipping reboot request as it is already being registered");
   }
   const size_t bytes = (list.size() + 1) * sizeof(wchar_t);
   if (bytes > MAXDWORD) {
      Inst_Log(INST_LOG_ERROR, "Util_SetRebootW: List of components too long");
      return FALSE;
   }
   if (!Util_SetKeyValueW(HKEY_LOCAL_MACHINE, kRebootKeyW, kRebootValueW, REG_SZ, list.c_str(),
                          static_cast<DWORD>(bytes), REG_OPTION_VOLATILE, FALSE)) {
      return FALSE;
   }
   Inst_Log(INST_LOG_WARNING, "Util_SetRebootW: Reboot requested by '%S'", component.c_str());
   return TRUE;
}
