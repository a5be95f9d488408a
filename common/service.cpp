// Services and drivers in the registry.
#include "common/service.h"

#include <exception>
#include <string>
#include <utility>

#include "common/loadOrderList.h"
#include "common/log.h"
#include "lib/misc/ownedHandle.h"

namespace {

// --- Load-order group tags ---------------------------------------------------

const wchar_t kGroupOrderListPath[] = L"SYSTEM\\CurrentControlSet\\Control\\GroupOrderList";
const wchar_t kServicesPath[] = L"SYSTEM\\CurrentControlSet\\services\\";
const wchar_t kTagValue[] = L"Tag";

// The log's %u takes an unsigned int; DWORD and LONG are passed through it.
unsigned U(LONG code)
{
   return static_cast<unsigned>(code);
}

bool HaveName(const void *name, const char *function, const char *what)
{
   if (name == nullptr) {
      Inst_LogCA("ERROR: %s: no %s given", function, what);
      return false;
   }
   return true;
}

std::wstring ServiceKeyPath(const wchar_t *serviceName)
{
   return std::wstring(kServicesPath) + serviceName;
}

LONG OpenGroupOrderList(RegKeyHandle &key)
{
   LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kGroupOrderListPath, 0, KEY_ALL_ACCESS, key.Out());
   if (rc != ERROR_SUCCESS) {
      Inst_LogCA("ERROR: Can't open GroupOrderList (%u)", U(rc));
   }
   return rc;
}

LONG OpenServiceKey(const std::wstring &path, RegKeyHandle &key)
{
   LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.Out());
   if (rc != ERROR_SUCCESS) {
      Inst_LogCA("ERROR: Can't open service key %S (%u)", path.c_str(), U(rc));
   }
   return rc;
}

// The 4 bytes of the "Tag" value, whatever its type. A shorter value would
// leave part of the tag unread, so it counts as a failed read.
LONG ReadTag(HKEY service, DWORD &tag)
{
   DWORD value = 0;
   DWORD size = sizeof value;
   LONG rc = RegQueryValueExW(service, kTagValue, nullptr, nullptr,
                              reinterpret_cast<BYTE *>(&value), &size);
   if (rc == ERROR_SUCCESS && size != sizeof value) {
      rc = ERROR_INVALID_DATA;
   }
   if (rc == ERROR_SUCCESS) {
      tag = value;
   }
   return rc;
}

// The list as it stands after an edit: the count word and the tags it
// counts, nothing of the spare words behind them.
LONG WriteGroupOrderList(HKEY key, const wchar_t *groupName, const std::vector<uint32_t> &list)
{
   DWORD bytes = static_cast<DWORD>((static_cast<size_t>(list[0]) + 1) * sizeof(uint32_t));
   LONG rc = RegSetValueExW(key, groupName, 0, REG_BINARY,
                            reinterpret_cast<const BYTE *>(list.data()), bytes);
   if (rc != ERROR_SUCCESS) {
      Inst_LogCA("ERROR: Failed to set GroupOrderList %S (%u)", groupName, U(rc));
   }
   return rc;
}

// ReadGroupOrderList gives every edit the room it needs, so this means the
// list was sized for another edit.
LONG NoRoomForEdit(const wchar_t *groupName)
{
   Inst_LogCA("ERROR: The GroupOrderList %S has no room for the edit", groupName);
   return ERROR_INVALID_DATA;
}

}  // namespace

DWORD ReadGroupOrderList(HKEY groupOrderListKey, const wchar_t *groupName, DWORD extraSlots,
                         std::vector<uint32_t> &list)
{
   // Assigning a new vector frees whatever the caller's held.
   list = std::vector<uint32_t>();
   if (!HaveName(groupName, "ReadGroupOrderList", "group name")) {
      return ERROR_INVALID_PARAMETER;
   }
   DWORD size = 0;
   LONG rc = RegQueryValueExW(groupOrderListKey, groupName, nullptr, nullptr, nullptr, &size);
   if (rc != ERROR_SUCCESS) {
      Inst_LogCA("ERROR: Can't open GroupOrderList %S (%u)", groupName, U(rc));
      return rc;
   }
   if (!LoadOrderList_IsLengthValid(size)) {
      Inst_LogCA("ERROR: The GroupOrderList appears to have a malformed length: %d",
                 static_cast<int>(size));
      return ERROR_INVALID_DATA;
   }

   std::vector<uint32_t> words;
   try {
      words.resize(static_cast<size_t>(size / sizeof(uint32_t)) + extraSlots);
   } catch (const std::exception &) {
      rc = ERROR_NOT_ENOUGH_MEMORY;
   }
   // Windows is little-endian: the stored words land in host order. The
   // read may use the spare words too, so that a list another writer made
   // longer meanwhile shows as a changed length rather than a failed read.
   DWORD readSize = static_cast<DWORD>(words.size() * sizeof(uint32_t));
   if (rc == ERROR_SUCCESS) {
      rc = RegQueryValueExW(groupOrderListKey, groupName, nullptr, nullptr,
                            reinterpret_cast<BYTE *>(words.data()), &readSize);
   }
   if (rc != ERROR_SUCCESS) {
      Inst_LogCA("ERROR: Can't open GroupOrderList %S with len %u (%u)", groupName, U(size),
                 U(rc));
      return rc;
   }
   // Another writer between the two reads.
   if (readSize != size) {
      Inst_LogCA("ERROR: The GroupOrderList length changed during reads: new %d vs old %d",
                 static_cast<int>(readSize), static_cast<int>(size));
      return ERROR_BUSY;
   }
   LoadOrderValidation check =
      LoadOrderList_Validate(reinterpret_cast<const uint8_t *>(words.data()), readSize);
   if (check.result != LoadOrderCheck::Valid) {
      Inst_LogCA("ERROR: The GroupOrderList's first field is malformed, was %d expected %d "
                 "based on length %d",
                 static_cast<int>(check.count), static_cast<int>(check.expected),
                 static_cast<int>(size));
      return ERROR_INVALID_DATA;
   }
   list = std::move(words);
   return ERROR_SUCCESS;
}

DWORD RemoveServiceFromLoadOrderByTag(const wchar_t *groupName, DWORD tag)
{
   if (!HaveName(groupName, "RemoveServiceFromLoadOrderByTag", "group name")) {
      return ERROR_INVALID_PARAMETER;
   }
   RegKeyHandle key;
   LONG rc = OpenGroupOrderList(key);
   if (rc != ERROR_SUCCESS) {
      return rc;
   }
   std::vector<uint32_t> list;
   rc = ReadGroupOrderList(key.Get(), groupName, 0, list);
   if (rc != ERROR_SUCCESS) {
      Inst_LogCA("ERROR: Read of load order group failed (%u)", U(rc));
      return rc;
   }
   switch (LoadOrderList_Remove(list.data(), list.size(), tag)) {
   case LoadOrderEdit::Done:
      return WriteGroupOrderList(key.Get(), groupName, list);
   case LoadOrderEdit::NotListed:
      Inst_LogCA("INFO: Tag %u not found in GroupOrderList %S, skipping list update", U(tag),
                 groupName);
      return ERROR_SUCCESS;
   case LoadOrderEdit::NoRoom:
      break;
   }
   return NoRoomForEdit(groupName);
}

DWORD RemoveServiceFromLoadOrder(const wchar_t *groupName, const char *serviceName)
{
   if (!HaveName(groupName, "RemoveServiceFromLoadOrder", "group name") ||
       !HaveName(serviceName, "RemoveServiceFromLoadOrder", "service name")) {
      return ERROR_INVALID_PARAMETER;
   }
   // Service names come from the installer's narrow world, in its code page.
   int units = MultiByteToWideChar(CP_ACP, 0, serviceName, -1, nullptr, 0);
   std::wstring wideName(units > 0 ? static_cast<size_t>(units) : 0, L'\0');
   if (units <= 0 ||
       MultiByteToWideChar(CP_ACP, 0, serviceName, -1, &wideName[0], units) != units) {
      DWORD error = GetLastError();
      Inst_LogCA("ERROR: Can't convert the service name to UTF-16 (%u)", U(error));
      return error != ERROR_SUCCESS ? error : ERROR_INVALID_PARAMETER;
   }
   wideName.resize(static_cast<size_t>(units) - 1);

   const std::wstring path = ServiceKeyPath(wideName.c_str());
   RegKeyHandle service;
   LONG rc = OpenServiceKey(path, service);
   if (rc != ERROR_SUCCESS) {
      return rc;
   }
   DWORD tag = 0;
   rc = ReadTag(service.Get(), tag);
   if (rc != ERROR_SUCCESS) {
      Inst_LogCA("ERROR: Can't open Tag value for service key %S (%u)", path.c_str(), U(rc));
      return rc;
   }
   return RemoveServiceFromLoadOrderByTag(groupName, tag);
}

DWORD InsertServiceInLoadOrder(const wchar_t *groupName, const wchar_t *referenceServiceName,
                               DWORD tag)
{
   if (!HaveName(groupName, "InsertServiceInLoadOrder", "group name") ||
       !HaveName(referenceServiceName, "InsertServiceInLoadOrder", "reference service name")) {
      return ERROR_INVALID_PARAMETER;
   }
   // Taken out first, so that inserting a listed tag moves it.
   LONG rc = RemoveServiceFromLoadOrderByTag(groupName, tag);
   if (rc != ERROR_SUCCESS) {
      Inst_LogCA("ERROR: RemoveServiceFromLoadOrderByTag failed with (%u).", U(rc));
      return rc;
   }

   const std::wstring path = ServiceKeyPath(referenceServiceName);
   RegKeyHandle service;
   rc = OpenServiceKey(path, service);
   if (rc != ERROR_SUCCESS) {
      return rc;
   }
   DWORD referenceTag = 0;
   rc = ReadTag(service.Get(), referenceTag);
   if (rc != ERROR_SUCCESS) {
      Inst_LogCA("ERROR: No Tag value for %S (%u)", path.c_str(), U(rc));
      return rc;
   }

   RegKeyHandle key;
   rc = OpenGroupOrderList(key);
   if (rc != ERROR_SUCCESS) {
      return rc;
   }
   std::vector<uint32_t> list;
   rc = ReadGroupOrderList(key.Get(), groupName, 1, list);
   if (rc != ERROR_SUCCESS) {
      Inst_LogCA("ERROR: Read of load order group failed (%u)", U(rc));
      return rc;
   }
   if (LoadOrderList_Insert(list.data(), list.size(), tag, referenceTag) != LoadOrderEdit::Done) {
      return NoRoomForEdit(groupName);
   }
   return WriteGroupOrderList(key.Get(), groupName, list);
}
