// Custom actions that write and remove the registry values of the package's
// OVRegistry64 table, a table laid out like the installer's Registry table,
// always in the 64-bit registry view.
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "common/msiUtil.h"
#include "common/osInfo.h"
#include "common/registry.h"
#include "common/registryValue.h"
#include "customActions/caFrame.h"
#include "customActions/wideText.h"
#include "lib/misc/ownedHandle.h"
#include "lib/misc/win32uRegistry.h"

namespace {

// Fields of an OVRegistry64 record.
enum : UINT { kFieldRoot = 2, kFieldKey = 3, kFieldName = 4, kFieldValue = 5, kFieldComponent = 6 };

// Key and name buffers: 255 bytes of UTF-8 and the terminator; a component
// identifier of 72 characters and its terminator.
constexpr DWORD kKeyNameSize = 256;
constexpr DWORD kComponentSize = 73;

// DELETE | KEY_WOW64_64KEY | KEY_ENUMERATE_SUB_KEYS
constexpr REGSAM kDeleteKeyAccess = 0x10108;

HKEY RootFromColumn(int root)
{
   switch (root) {
   case 0:
      return HKEY_CLASSES_ROOT;
   case 1:
      return HKEY_CURRENT_USER;
   case 3:
      return HKEY_USERS;
   default:
      return HKEY_LOCAL_MACHINE;
   }
}

// The root key's handle value as the log shows it.
int RootNumber(HKEY root)
{
   return static_cast<int>(reinterpret_cast<intptr_t>(root));
}

// The first part of a row, common to both actions.
struct Row {
   HKEY root = nullptr;
   char key[kKeyNameSize] = {};
   char name[kKeyNameSize] = {};
};

enum class RowRead { Ready, Skipped, Failed };

// Action states by component: a state does not change while the action
// runs, and each query is a call into the installer's process (Windows and
// Wine run custom actions in a server process of their own), so a table
// with many rows of one component asks once.
using ComponentActions = std::map<std::string, INSTALLSTATE>;

// Reads field into its zeroed buffer of `size` bytes, formats it and stores
// the result back. A formatted text with no room in the buffer reads as a
// field that did not fit: ERROR_MORE_DATA.
UINT ReadFormatted(MSIHANDLE install, MSIHANDLE record, UINT field, char *buffer, DWORD size)
{
   memset(buffer, 0, size);
   DWORD length = size - 1;   // the last byte stays the terminator
   UINT rc = Win32U_MsiRecordGetString(record, field, buffer, &length);
   if (rc != ERROR_SUCCESS) {
      return rc;
   }
   const ResString formatted = MsiUtil_FormatString(install, buffer);
   if (formatted.size() >= size) {
      return ERROR_MORE_DATA;
   }
   memset(buffer, 0, size);
   memcpy(buffer, formatted.data(), formatted.size());
   return ERROR_SUCCESS;
}

// Component state, root, key and name of a row, for the action states that
// select it (`first` or `second`). Every failure is logged here.
RowRead ReadRow(MSIHANDLE install, MSIHANDLE record, INSTALLSTATE first, INSTALLSTATE second,
                ComponentActions &actions, Row &row)
{
   char component[kComponentSize] = {};
   DWORD size = sizeof component - 1;
   UINT rc = Win32U_MsiRecordGetString(record, kFieldComponent, component, &size);
   if (rc != ERROR_SUCCESS) {
      Inst_LogCA("Failed to retrieve Component_ string: %i", rc);
      return RowRead::Failed;
   }
   auto known = actions.find(component);
   if (known == actions.end()) {
      INSTALLSTATE installed = INSTALLSTATE_UNKNOWN;
      INSTALLSTATE state = INSTALLSTATE_UNKNOWN;
      rc = MsiGetComponentStateA(install, component, &installed, &state);
      if (rc != ERROR_SUCCESS) {
         Inst_LogCA("Failed to retrieve component state: %i, %s", rc, component);
         return RowRead::Failed;
      }
      known = actions.emplace(component, state).first;
   }
   const INSTALLSTATE action = known->second;
   if (action != first && action != second) {
      return RowRead::Skipped;
   }
   const int root = MsiRecordGetInteger(record, kFieldRoot);
   if (root == static_cast<int>(MSI_NULL_INTEGER)) {
      Inst_LogCA("Failed to retrieve Root: %i", 0);
      return RowRead::Failed;
   }
   row.root = RootFromColumn(root);
   if ((rc = ReadFormatted(install, record, kFieldKey, row.key, kKeyNameSize)) != ERROR_SUCCESS) {
      Inst_LogCA("Failed to retrieve Key: %i", rc);
      return RowRead::Failed;
   }
   if ((rc = ReadFormatted(install, record, kFieldName, row.name, kKeyNameSize)) != ERROR_SUCCESS) {
      Inst_LogCA("Failed to retrieve Name: %i", rc);
      return RowRead::Failed;
   }
   return RowRead::Ready;
}

bool EnsureKey(const Row &row)
{
   if (Util_DoesKeyExist(row.root, row.key, TRUE) || Util_CreateKey(row.root, row.key, 0, TRUE)) {
      return true;
   }
   Inst_LogCA("Failed to create key: %i, (%d)%s", 0, RootNumber(row.root), row.key);
   return false;
}

// Writes one selected row; false after logging its failure.
bool WriteRow(MSIHANDLE install, MSIHANDLE record, const Row &row)
{
   const char mark = row.name[0];
   if (mark == '-') {
      return true;
   }
   const bool keyRow = mark == '+' || mark == '*' || mark == '\0';
   if (!keyRow && !EnsureKey(row)) {
      return false;
   }
   // An empty field needs no room besides its terminator: the UTF-8 read
   // answers it with success and size 0 rather than ERROR_MORE_DATA.
   char none[1] = {};
   DWORD size = 0;
   UINT rc = Win32U_MsiRecordGetString(record, kFieldValue, none, &size);
   if (rc != ERROR_MORE_DATA && !(rc == ERROR_SUCCESS && size == 0)) {
      Inst_LogCA("Failed to retrieve Value: %i, size : %d", rc, static_cast<int>(size));
      return false;
   }
   std::vector<char> value(static_cast<size_t>(size) + 1, '\0');
   size = static_cast<DWORD>(value.size() - 1);
   if ((rc = Win32U_MsiRecordGetString(record, kFieldValue, value.data(), &size)) !=
       ERROR_SUCCESS) {
      Inst_LogCA("Failed to retrieve Value: %i", rc);
      return false;
   }
   const std::string raw = RegistryValue_ReplaceTildeMarks(value.data());
   const ResString formatted = MsiUtil_FormatString(install, raw.c_str());
   Inst_LogCA("Creating %s\\%s -> %s = %s", Util_RootKeyName(row.root), row.key, row.name,
              formatted.c_str());

   const RegistryValueData data = RegistryValue_Encode(raw, formatted);
   if (data.type == REGISTRY_VALUE_SZ && formatted.empty() && keyRow) {
      return EnsureKey(row);
   }
   if (!Util_SetKeyValue(row.root, row.key, row.name, data.type, data.bytes.data(),
                         static_cast<DWORD>(data.bytes.size()), 0, TRUE)) {
      Inst_LogCA("Failed to set value: %i, %s", 0,
                 data.type == REGISTRY_VALUE_DWORD ? raw.c_str() : formatted.c_str());
      return false;
   }
   return true;
}

// Deletes keyName and its subkeys in the 64-bit view. Only a 32-bit process
// on 64-bit Windows deletes anything: a native process leaves keys alone.
bool DeleteKey64(HKEY root, const char *keyName)
{
   if (!Util_IsWow64()) {
      return false;
   }
   if (!Util_IsKeyEmpty(root, keyName, TRUE)) {
      Inst_LogCA("Warning: Deleting a key that isn't empty: \"%s\\%s\"", Util_RootKeyName(root),
                 keyName != nullptr ? keyName : "");
   }
   if (keyName == nullptr || *keyName == '\0') {
      Inst_LogCA("Invalid keyName in DeleteKey\n");
      return false;
   }
   RegKeyHandle key;
   if (Win32U_RegOpenKeyEx(root, keyName, 0, kDeleteKeyAccess, key.Out()) != ERROR_SUCCESS) {
      return true;
   }
   for (DWORD i = 0;;) {
      char subKey[512] = {};
      DWORD length = sizeof subKey;
      LONG rc = Win32U_RegEnumKeyEx(key.Get(), i, subKey, &length, nullptr, nullptr, nullptr,
                                    nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) {
         break;
      }
      if (rc != ERROR_SUCCESS) {
         return true;
      }
      DeleteKey64(key.Get(), subKey);
      if (Util_DoesKeyExist(key.Get(), subKey, TRUE)) {
         Inst_LogCA("Failed to delete subkey %s", subKey);
         i++;
      }
   }
   // The library's own registry calls have no delete in a chosen view.
   const std::wstring wideName = CaWideText(keyName);
   LONG rc = !wideName.empty() ? RegDeleteKeyExW(root, wideName.c_str(), KEY_WOW64_64KEY, 0)
                               : ERROR_NO_UNICODE_TRANSLATION;
   if (rc != ERROR_SUCCESS) {
      // The registry functions return their code without setting the
      // thread's last error; the log shows the code they returned.
      Inst_LogCA("Failed to delete key %s: %d", keyName, static_cast<int>(rc));
   }
   key.Reset();
   return true;
}

void RemoveRow(const Row &row)
{
   const char mark = row.name[0];
   const char *rootName = Util_RootKeyName(row.root);
   if (mark == '+') {
      return;
   }
   if (mark == '*' || mark == '-') {
      Inst_LogCA("Deleting entire key %s\\%s", rootName, row.key);
      DeleteKey64(row.root, row.key);
      return;
   }
   Inst_LogCA("Deleting value %s\\%s -> %s", rootName, row.key, row.name);
   Util_DeleteValue(row.root, row.key, row.name, TRUE);
   if (Util_IsKeyEmpty(row.root, row.key, TRUE)) {
      Inst_LogCA("Deleting empty key %s\\%s", rootName, row.key);
      DeleteKey64(row.root, row.key);
   }
}

// Walks the table. `onRow` handles a selected row and says whether to go
// on. `failed` is the result of every failure, `noTable` that of a package
// without the table.
template <typename OnRow>
UINT WalkTable(MSIHANDLE install, UINT failed, INSTALLSTATE first, INSTALLSTATE second,
               OnRow onRow)
{
   MsiHandle database(MsiGetActiveDatabase(install));
   if (!database) {
      Inst_LogCA("Failed to get active database.");
      return failed;
   }
   MsiHandle view;
   UINT rc = MsiDatabaseOpenViewA(database.Get(), "SELECT * FROM OVRegistry64 ", view.Out());
   if (rc != ERROR_SUCCESS) {
      Inst_LogCA("Failed to open database view: %i", rc);
      return ERROR_SUCCESS;
   }
   if ((rc = MsiViewExecute(view.Get(), 0)) != ERROR_SUCCESS) {
      Inst_LogCA("Failed to execute view: %i", rc);
      return failed;
   }
   ComponentActions actions;
   MsiHandle record;
   while (MsiViewFetch(view.Get(), record.Out()) == ERROR_SUCCESS) {
      Row row;
      const RowRead read = ReadRow(install, record.Get(), first, second, actions, row);
      if (read == RowRead::Failed) {
         return failed;
      }
      if (read == RowRead::Ready && !onRow(record.Get(), row)) {
         return failed;
      }
   }
   return ERROR_SUCCESS;
}

UINT WriteRegistryValues64(MSIHANDLE install)
{
   Inst_LogCA("OVWriteRegistryValues64 running");
   const UINT rc = WalkTable(install, ERROR_INSTALL_FAILURE, INSTALLSTATE_LOCAL,
                             INSTALLSTATE_DEFAULT, [&](MSIHANDLE record, const Row &row) {
                                return WriteRow(install, record, row);
                             });
   Inst_LogCA("OVWriteRegistryValues64 ended");
   return rc;
}

UINT RemoveRegistryValues64(MSIHANDLE install)
{
   Inst_LogCA("OVRemoveRegistryValues64 running");
   WalkTable(install, ERROR_SUCCESS, INSTALLSTATE_ADVERTISED, INSTALLSTATE_ABSENT,
             [&](MSIHANDLE, const Row &row) {
                RemoveRow(row);
                return true;
             });
   Inst_LogCA("OVRemoveRegistryValues64 ended");
   return ERROR_SUCCESS;
}

} // namespace

OV_CUSTOM_ACTION OVWriteRegistryValues64(MSIHANDLE install)
{
   return CaFrame("OVWriteRegistryValues64", ERROR_INSTALL_FAILURE,
                  [&] { return WriteRegistryValues64(install); });
}

OV_CUSTOM_ACTION OVRemoveRegistryValues64(MSIHANDLE install)
{
   return CaFrame("OVRemoveRegistryValues64", ERROR_SUCCESS,
                  [&] { return RemoveRegistryValues64(install); });
}
