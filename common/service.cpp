// Services and drivers in the registry.
#include "common/service.h"

#include <cstring>
#include <cwchar>
#include <exception>
#include <new>
#include <string>
#include <utility>

#include "common/loadOrderList.h"
#include "common/log.h"
#include "common/osInfo.h"
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

// --- Service control -----------------------------------------------------------

namespace {

constexpr DWORD kPollMs = 500;
constexpr DWORD kWaitLimitMs = 30000;
constexpr int kWaitLimitSeconds = 30;
constexpr DWORD kPresenceCheckMs = 250;
constexpr int kPresenceChecks = 41;
constexpr DWORD kFirstCreateSleepMs = 300;
constexpr unsigned kCreateAttempts = 2, kExtendedCreateAttempts = 10;
constexpr DWORD kLockStatusBytes = 280;

const char *const kStateNames[] = {"INVALID",
                                   "SERVICE_STOPPED",
                                   "SERVICE_START_PENDING",
                                   "SERVICE_STOP_PENDING",
                                   "SERVICE_RUNNING",
                                   "SERVICE_CONTINUE_PENDING",
                                   "SERVICE_PAUSE_PENDING",
                                   "SERVICE_PAUSED"};

const char kInstall[] = "Inst_InstallServiceW";
const char kStart[] = "Inst_StartService";
const char kStop[] = "Inst_StopService";
const char kUninstall[] = "Inst_UninstallService";

void ReportScmOpenFailure(const char *fn, DWORD error)
{
   const char *name = nullptr;
   const char *meaning = nullptr;
   switch (error) {
   case ERROR_ACCESS_DENIED:
      name = "ERROR_ACCESS_DENIED";
      meaning = "you must be an administrator";
      break;
   case ERROR_INVALID_PARAMETER:
      name = "ERROR_INVALID_PARAMETER";
      meaning = "system config appears to be corrupt";
      break;
   case ERROR_DATABASE_DOES_NOT_EXIST:
      name = "ERROR_DATABASE_DOES_NOT_EXIST";
      meaning = "system config appears to be corrupt";
      break;
   default:
      Inst_LogLastError(INST_LOG_ERROR, error, "%s: Service Manager open failed", fn);
      return;
   }
   Inst_Log(INST_LOG_ERROR, "%s: Service Manager open failed: %s", fn, name);
   Inst_Log(INST_LOG_ERROR, "%s: Service Manager open failed: %s", fn, meaning);
}

// The stop names an access-denied failure only by its code, and the stop
// and uninstall take a missing service for a secondary error: to them it
// is as good as stopped or removed.
void ReportServiceOpenFailure(const char *fn, DWORD error)
{
   const bool quietMissing = fn == kStop || fn == kUninstall;
   const char *name = nullptr;
   uint32_t level = INST_LOG_ERROR;
   switch (error) {
   case ERROR_ACCESS_DENIED:
      name = fn == kStop ? nullptr : "ERROR_ACCESS_DENIED";
      break;
   case ERROR_INVALID_HANDLE:
      name = "ERROR_INVALID_HANDLE";
      break;
   case ERROR_INVALID_NAME:
      name = "ERROR_INVALID_NAME";
      break;
   case ERROR_SERVICE_DOES_NOT_EXIST:
      name = "ERROR_SERVICE_DOES_NOT_EXIST";
      level = quietMissing ? INST_LOG_ERROR2 : INST_LOG_ERROR;
      break;
   default:
      break;
   }
   if (name == nullptr) {
      Inst_LogLastError(INST_LOG_ERROR, error, "%s: Service could not be opened", fn);
   } else {
      Inst_Log(level, "%s: Service could not be opened: %s", fn, name);
   }
}

ServiceHandle OpenScm(DWORD access)
{
   return ServiceHandle(OpenSCManagerA(nullptr, SERVICES_ACTIVE_DATABASEA, access));
}

void LogStatus(const char *fn, uint32_t level, const SERVICE_STATUS &status)
{
   Inst_Log(level, "%s: service status: %s cp=0x%08x", fn,
            Inst_ServiceStateName(status.dwCurrentState), static_cast<unsigned>(status.dwCheckPoint));
}

enum class WaitEnd { Settled, QueryFailed, GaveUp };

struct WaitRules {
   DWORD pending;
   uint32_t statusLevel;
   uint32_t giveUpLevel;
   bool afterStopCommand;   // no no-progress lines once the state is STOPPED
};

// Polls while the service stays in the pending state. `status` holds the
// last status read; `error` the code of a failed query.
WaitEnd WaitWhilePending(const char *fn, SC_HANDLE service, SERVICE_STATUS &status,
                         DWORD lastCheckpoint, const WaitRules &rules, DWORD &error)
{
   DWORD hint = status.dwWaitHint;
   DWORD sinceProgress = 0;
   DWORD total = 0;
   while (status.dwCurrentState == rules.pending) {
      Sleep(kPollMs);
      sinceProgress += kPollMs;
      total += kPollMs;
      if (!QueryServiceStatus(service, &status)) {
         error = GetLastError();
         return WaitEnd::QueryFailed;
      }
      LogStatus(fn, rules.statusLevel, status);
      if (status.dwCheckPoint > lastCheckpoint) {
         lastCheckpoint = status.dwCheckPoint;
         Inst_Log(INST_LOG_DETAIL, "%s: Updating sleep hint: %d", fn,
                  static_cast<int>(status.dwWaitHint));
         hint = status.dwWaitHint;
         sinceProgress = 0;
      } else if (sinceProgress > hint &&
                 !(rules.afterStopCommand && status.dwCurrentState == SERVICE_STOPPED)) {
         Inst_Log(INST_LOG_DETAIL, "%s: Slept hint duration without any progress", fn);
         Inst_Log(INST_LOG_DETAIL, "%s: Not giving up yet since haven't slept for %i seconds: %d",
                  fn, kWaitLimitSeconds, static_cast<int>(total));
      }
      if (total >= kWaitLimitMs) {
         Inst_Log(rules.giveUpLevel, "%s: Slept for %i seconds, giving up", fn, kWaitLimitSeconds);
         return WaitEnd::GaveUp;
      }
   }
   return WaitEnd::Settled;
}

struct Outcome {
   uint32_t reachedLevel;
   const char *reached, *notReached;
};

// The rest of a start or stop once the command went out: the status line,
// the wait, and whether the service reached the `wanted` state.
BOOL WaitAfterCommand(const char *fn, SC_HANDLE service, SERVICE_STATUS &status, const WaitRules &rules,
                      DWORD wanted, const Outcome &outcome)
{
   LogStatus(fn, INST_LOG_DETAIL, status);
   DWORD error = 0;
   if (WaitWhilePending(fn, service, status, status.dwCheckPoint, rules, error) == WaitEnd::QueryFailed) {
      Inst_LogLastError(INST_LOG_ERROR, error, "%s: Could not query service status", fn);
   }
   if (status.dwCurrentState == wanted) {
      Inst_Log(outcome.reachedLevel, "%s: %s", fn, outcome.reached);
      return TRUE;
   }
   Inst_Log(INST_LOG_ERROR, "%s: %s: %s", fn, outcome.notReached,
            Inst_ServiceStateName(status.dwCurrentState));
   return FALSE;
}

std::string NarrowName(const wchar_t *wide)
{
   const int bytes = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
   if (bytes <= 0) {
      return std::string();
   }
   std::string narrow(static_cast<size_t>(bytes), '\0');
   WideCharToMultiByte(CP_ACP, 0, wide, -1, &narrow[0], bytes, nullptr, nullptr);
   narrow.resize(static_cast<size_t>(bytes) - 1);
   return narrow;
}

// Deletes a service that could be neither created nor reconfigured, so
// that the next creation call can make it afresh.
void DeleteForRecreate(SC_HANDLE scm, const wchar_t *serviceName)
{
   ServiceHandle service(OpenServiceW(scm, serviceName, DELETE));
   if (!service) {
      Inst_LogLastError(INST_LOG_ERROR, GetLastError(),
                        "Inst_InstallServiceW: Service could not be opened for delete");
      return;
   }
   Inst_Log(INST_LOG_ERROR, "Inst_InstallServiceW: Deleting service and re-attempt create");
   if (DeleteService(service.Get())) {
      Inst_Log(INST_LOG_INFO, "Inst_InstallServiceW: Service deleted");
      return;
   }
   const DWORD error = GetLastError();
   switch (error) {
   case ERROR_ACCESS_DENIED:
      Inst_Log(INST_LOG_ERROR, "Inst_InstallServiceW: Service could not be deleted: ERROR_ACCESS_DENIED");
      break;
   case ERROR_INVALID_HANDLE:
      Inst_Log(INST_LOG_ERROR, "Inst_InstallServiceW: Service could not be deleted: ERROR_INVALID_HANDLE");
      break;
   case ERROR_SERVICE_MARKED_FOR_DELETE:
      Inst_Log(INST_LOG_ERROR,
               "Inst_InstallServiceW: Service could not be deleted: ERROR_SERVICE_MARKED_FOR_DELETE");
      break;
   default:
      Inst_LogLastError(INST_LOG_ERROR, error, "Inst_InstallServiceW: Service could not be deleted");
      break;
   }
}

// The existing service given the new configuration under the database
// lock; null when it could not be opened or changed.
ServiceHandle Reconfigure(SC_HANDLE scm, const wchar_t *serviceName, const wchar_t *displayName,
                          DWORD serviceType, DWORD startType, const wchar_t *binaryPath,
                          const wchar_t *loadOrderGroup, const wchar_t *dependencyList,
                          DWORD errorControl)
{
   ServiceHandle service(OpenServiceW(scm, serviceName, SERVICE_ALL_ACCESS));
   if (!service) {
      Inst_LogLastError(INST_LOG_ERROR, GetLastError(),
                        "Inst_InstallServiceW: couldn't open existing service");
      return service;
   }
   SC_LOCK lock = AcquireServiceDatabaseLock(scm);
   const BOOL changed = ChangeServiceConfigW(service.Get(), serviceType, startType, errorControl,
                                             binaryPath, loadOrderGroup, nullptr, dependencyList,
                                             nullptr, nullptr, displayName);
   const DWORD error = GetLastError();
   ReleaseServiceDatabaseLock(lock);
   if (!changed) {
      Inst_LogLastError(INST_LOG_ERROR, error,
                        "Inst_InstallServiceW: couldn't reconfigure existing service");
      service.Reset();
      return service;
   }
   Inst_Log(INST_LOG_DETAIL, "Inst_InstallServiceW: reconfigured existing service");
   return service;
}

// The description goes through ChangeServiceConfig2W, looked up at run
// time since the oldest systems lack it. Nothing here changes the result.
void StoreDescription(SC_HANDLE service, const wchar_t *description)
{
   if (description == nullptr) {
      Inst_Log(INST_LOG_INFO, "Inst_InstallServiceW: Unspecified Service description not saved");
      return;
   }
   if (Util_GetOSType() < OS_WIN2000) {
      Inst_Log(INST_LOG_INFO, "Inst_InstallServiceW: Service description not saved on NT4");
      return;
   }
   Inst_Log(INST_LOG_DETAIL, "Inst_InstallServiceW: Attempting to store service description");
   LibraryHandle advapi(LoadLibraryW(L"advapi32.dll"));
   if (!advapi) {
      Inst_Log(INST_LOG_ERROR, "Inst_InstallServiceW: Could not load advapi32.dll");
      return;
   }
   Inst_Log(INST_LOG_PROGRESS, "Inst_InstallServiceW: advapi32.dll loaded");
   using ChangeConfig2 = BOOL(WINAPI *)(SC_HANDLE, DWORD, void *);
   auto change = reinterpret_cast<ChangeConfig2>(
      reinterpret_cast<void *>(GetProcAddress(advapi.Get(), "ChangeServiceConfig2W")));
   if (change == nullptr) {
      Inst_LogLastError(INST_LOG_ERROR, GetLastError(),
                        "Inst_InstallServiceW: Could not load config function");
      return;
   }
   Inst_Log(INST_LOG_PROGRESS, "Inst_InstallServiceW: config function loaded");
   std::wstring text(description);
   SERVICE_DESCRIPTIONW info = {&text[0]};
   if (change(service, SERVICE_CONFIG_DESCRIPTION, &info)) {
      Inst_Log(INST_LOG_PROGRESS, "Inst_InstallServiceW: Description config successful");
   } else {
      Inst_LogLastError(INST_LOG_ERROR, GetLastError(),
                        "Inst_InstallServiceW: Description config failed");
   }
}

}  // namespace

const char *Inst_ServiceStateName(DWORD state)
{
   return state >= 1 && state <= 7 ? kStateNames[state] : kStateNames[0];
}

std::unique_ptr<wchar_t[]> ModifyDependencyString(const wchar_t *dependencies)
{
   if (dependencies == nullptr) {
      return nullptr;
   }
   const size_t length = wcslen(dependencies);
   std::unique_ptr<wchar_t[]> list(new wchar_t[length + 2]);
   wmemcpy(list.get(), dependencies, length);
   list[length] = L'\0';
   list[length + 1] = L'\0';
   Inst_Log(INST_LOG_DETAIL, "ModifyDependencyString: Dependencies wide char %S", list.get());
   for (size_t i = 0; i < length; i++) {
      if (list[i] == L',') {
         list[i] = L'\0';
      }
   }
   return list;
}

SC_LOCK AcquireServiceDatabaseLock(SC_HANDLE scm)
{
   if (scm == nullptr) {
      Inst_Log(INST_LOG_ERROR, "AcquireServiceDatabaseLock: invalid service manager handle");
      return nullptr;
   }
   SC_LOCK lock = LockServiceDatabase(scm);
   if (lock != nullptr) {
      return lock;
   }
   Inst_LogLastError(INST_LOG_ERROR, GetLastError(), "AcquireServiceDatabaseLock: couldn't obtain lock");
   // The status with its owner's name behind it in one buffer.
   alignas(QUERY_SERVICE_LOCK_STATUSA) BYTE buffer[kLockStatusBytes] = {};
   auto *status = reinterpret_cast<QUERY_SERVICE_LOCK_STATUSA *>(buffer);
   DWORD needed = 0;
   if (QueryServiceLockStatusA(scm, status, sizeof buffer, &needed)) {
      Inst_Log(INST_LOG_ERROR, "AcquireServiceDatabaseLock: lock held = %s by %s for %d seconds",
               status->fIsLocked ? "TRUE" : "FALSE",
               status->lpLockOwner != nullptr ? status->lpLockOwner : "<unknown>",
               static_cast<int>(status->dwLockDuration));
   } else {
      Inst_LogLastError(INST_LOG_ERROR, GetLastError(),
                        "AcquireServiceDatabaseLock: couldn't query lock status");
   }
   return nullptr;
}

void ReleaseServiceDatabaseLock(SC_LOCK lock)
{
   if (lock != nullptr && !UnlockServiceDatabase(lock)) {
      Inst_LogLastError(INST_LOG_ERROR, GetLastError(), "ReleaseServiceDatabaseLock: unlock failed");
   }
}

BOOL Inst_InstallServiceW(const wchar_t *serviceName, const wchar_t *displayName,
                          const wchar_t *description, DWORD serviceType, DWORD startType,
                          const wchar_t *binaryPath, const wchar_t *loadOrderGroup,
                          const wchar_t *dependencies, DWORD errorControl, BOOL stopExisting,
                          DWORD *tagId, BOOL extendedRetry)
{
   if (serviceName == nullptr || displayName == nullptr || binaryPath == nullptr ||
       dependencies == nullptr) {
      Inst_Log(INST_LOG_ERROR, "Inst_InstallServiceW: bad parameters: %p %p %p %p", serviceName,
               displayName, binaryPath, dependencies);
      return FALSE;
   }
   if (stopExisting) {
      Inst_Log(INST_LOG_INFO, "Inst_InstallServiceW: Stopping any pre-existing instances of service");
      Inst_StopService(NarrowName(serviceName).c_str(), TRUE);
   } else {
      Inst_Log(INST_LOG_INFO,
               "Inst_InstallServiceW: Not stopping any pre-existing instances of service by request");
   }

   Inst_Log(INST_LOG_INFO, "Inst_InstallServiceW: installing service: %S", serviceName);
   ServiceHandle scm = OpenScm(SC_MANAGER_ALL_ACCESS);
   if (scm) {
      Inst_Log(INST_LOG_PROGRESS, "Inst_InstallServiceW: service manager opened");
   } else {
      Inst_LogLastError(INST_LOG_ERROR, GetLastError(),
                        "Inst_InstallServiceW: service manager open failed, will attempt to open "
                        "with minimum permissions");
      scm = OpenScm(SC_MANAGER_CREATE_SERVICE);
      if (!scm) {
         ReportScmOpenFailure(kInstall, GetLastError());
         return FALSE;
      }
   }
   Inst_Log(INST_LOG_PROGRESS, "Inst_InstallServiceW: service manager successfully opened");

   const std::unique_ptr<wchar_t[]> dependencyList = ModifyDependencyString(dependencies);
   const unsigned limit = extendedRetry ? kExtendedCreateAttempts : kCreateAttempts;
   auto create = [&](DWORD *tag) {
      return ServiceHandle(CreateServiceW(scm.Get(), serviceName, displayName, SERVICE_ALL_ACCESS,
                                          serviceType, startType, errorControl, binaryPath,
                                          loadOrderGroup, tag, dependencyList.get(), nullptr,
                                          nullptr));
   };
   auto logMarked = [&](unsigned attempt, DWORD error) {
      Inst_LogLastError(INST_LOG_ERROR, error,
                        "Inst_InstallServiceW: Service '%S' could not be created since marked "
                        "for deletion (attempt #%u)",
                        serviceName, attempt);
   };

   ServiceHandle service;
   unsigned attempt = 0;
   DWORD sleepMs = kFirstCreateSleepMs;
   while (!service) {
      attempt++;
      service = create(tagId);
      if (service) {
         Inst_Log(INST_LOG_INFO, "Inst_InstallServiceW: Service created: %S", serviceName);
         break;
      }
      DWORD error = GetLastError();
      bool recreate = true;
      if (error == ERROR_SERVICE_EXISTS) {
         Inst_LogLastError(INST_LOG_ERROR, error, "Inst_InstallServiceW: Service '%S' already exists",
                           serviceName);
         service = Reconfigure(scm.Get(), serviceName, displayName, serviceType, startType,
                               binaryPath, loadOrderGroup, dependencyList.get(), errorControl);
         if (service) {
            break;
         }
      } else if (error == ERROR_SERVICE_MARKED_FOR_DELETE) {
         logMarked(attempt, error);
         Sleep(sleepMs);
         sleepMs *= 2;
         recreate = false;
      } else {
         Inst_LogLastError(INST_LOG_ERROR, error, "Inst_InstallServiceW: Service '%S' could not be created",
                           serviceName);
      }
      if (recreate) {
         DeleteForRecreate(scm.Get(), serviceName);
      }

      // The second call of the cycle asks for no tag: the SCM assigns one
      // only to a service it creates from nothing.
      attempt++;
      service = create(nullptr);
      if (service) {
         Inst_Log(INST_LOG_INFO, "Inst_InstallServiceW: Service created: %S", serviceName);
         break;
      }
      error = GetLastError();
      if (error != ERROR_SERVICE_MARKED_FOR_DELETE) {
         Inst_LogLastError(INST_LOG_ERROR, error,
                           "Inst_InstallServiceW: Service '%S' could not be created (attempt #%u)",
                           serviceName, attempt);
         return FALSE;
      }
      logMarked(attempt, error);
      if (attempt >= limit) {
         return FALSE;
      }
      Sleep(sleepMs);
      sleepMs *= 2;
   }
   StoreDescription(service.Get(), description);
   service.Reset();
   scm.Reset();
   Inst_Log(INST_LOG_PROGRESS, "Inst_InstallServiceW: returning success");
   return TRUE;
}

namespace {

// Opens the SCM with all access, else with `reducedAccess`; each failure
// is reported. `reducedLine` names the reduced open in the log.
ServiceHandle OpenScmForControl(const char *fn, DWORD reducedAccess, const char *reducedLine)
{
   ServiceHandle scm = OpenScm(SC_MANAGER_ALL_ACCESS);
   if (scm) {
      Inst_Log(INST_LOG_PROGRESS, "%s: Service Manager successfully opened", fn);
      return scm;
   }
   ReportScmOpenFailure(fn, GetLastError());
   scm = OpenScm(reducedAccess);
   if (!scm) {
      ReportScmOpenFailure(fn, GetLastError());
      return scm;
   }
   Inst_Log(INST_LOG_INFO, "%s: %s", fn, reducedLine);
   return scm;
}

}  // namespace

BOOL Inst_StartService(const char *serviceName)
{
   if (serviceName == nullptr) {
      Inst_Log(INST_LOG_ERROR, "Inst_StartService: invalid parameter");
      return FALSE;
   }
   Inst_Log(INST_LOG_INFO, "Inst_StartService: Attempting to start service: %s", serviceName);
   ServiceHandle scm = OpenScmForControl(kStart, GENERIC_READ,
                                         "Service Manager successfully opened with reduced access");
   if (!scm) {
      return FALSE;
   }
   ServiceHandle service(OpenServiceA(scm.Get(), serviceName, SERVICE_ALL_ACCESS));
   if (service) {
      Inst_Log(INST_LOG_PROGRESS, "Inst_StartService: Service successfully opened");
   } else {
      ReportServiceOpenFailure(kStart, GetLastError());
      Inst_Log(INST_LOG_INFO, "Inst_StartService: Attempting to open service using reduced permissions");
      service.Reset(OpenServiceA(scm.Get(), serviceName, SERVICE_START | SERVICE_QUERY_STATUS));
      if (!service) {
         ReportServiceOpenFailure(kStart, GetLastError());
         return FALSE;
      }
      Inst_Log(INST_LOG_INFO, "Inst_StartService: Service successfully opened with reduced access");
   }

   if (!StartServiceA(service.Get(), 0, nullptr)) {
      const DWORD error = GetLastError();
      switch (error) {
      case ERROR_SERVICE_ALREADY_RUNNING:
         Inst_Log(INST_LOG_PROGRESS, "Inst_StartService: Service is already running");
         return TRUE;
      case ERROR_SERVICE_DEPENDENCY_DELETED:
         Inst_Log(INST_LOG_ERROR,
                  "Inst_StartService: Service could not be started: a required service is not present");
         break;
      case ERROR_SERVICE_DISABLED:
         Inst_Log(INST_LOG_ERROR, "Inst_StartService: Service could not be started since it's disabled");
         break;
      default:
         Inst_LogLastError(INST_LOG_ERROR, error, "Inst_StartService: Service could not be started");
         break;
      }
      return FALSE;
   }
   Inst_Log(INST_LOG_PROGRESS, "Inst_StartService: Service has been started");
   SERVICE_STATUS status = {};
   if (!QueryServiceStatus(service.Get(), &status)) {
      Inst_LogLastError(INST_LOG_ERROR, GetLastError(), "Inst_StartService: Could not query service status");
      return FALSE;
   }
   const WaitRules rules = {SERVICE_START_PENDING, INST_LOG_DETAIL, INST_LOG_INFO, false};
   return WaitAfterCommand(kStart, service.Get(), status, rules, SERVICE_RUNNING,
                           {INST_LOG_DETAIL, "Service is running", "Service is not running"});
}

namespace {

// Stops the active services that depend on `service`, each without its own
// dependents; what they do never changes the main stop.
void StopDependents(SC_HANDLE service)
{
   Inst_Log(INST_LOG_INFO, "Inst_StopService: Stopping dependents, if any");
   DWORD needed = 0;
   DWORD count = 0;
   if (EnumDependentServicesA(service, SERVICE_ACTIVE, nullptr, 0, &needed, &count)) {
      Inst_Log(INST_LOG_PROGRESS, "Inst_StopService: No dependents exist");
      return;
   }
   DWORD error = GetLastError();
   if (error != ERROR_MORE_DATA) {
      Inst_LogLastError(INST_LOG_ERROR, error, "Inst_StopService: Enumeration failed for unexpected reason");
      return;
   }
   Inst_Log(INST_LOG_INFO, "Inst_StopService: Dependents exist");
   std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[needed]);
   if (!buffer) {
      Inst_Log(INST_LOG_ERROR, "Inst_StopService: couldn't allocate memory to enumerate dependencies");
      return;
   }
   memset(buffer.get(), 0, needed);
   auto *entries = reinterpret_cast<ENUM_SERVICE_STATUSA *>(buffer.get());
   if (!EnumDependentServicesA(service, SERVICE_ACTIVE, entries, needed, &needed, &count)) {
      Inst_LogLastError(INST_LOG_ERROR, GetLastError(),
                        "Inst_StopService: Enumeration failed for unexpected reason");
      return;
   }
   for (DWORD i = 0; i < count; i++) {
      const char *name = entries[i].lpServiceName != nullptr ? entries[i].lpServiceName : "";
      Inst_Log(INST_LOG_DETAIL, "Inst_StopService: Attempting to stop # %d '%s'", static_cast<int>(i), name);
      Inst_StopService(name, FALSE);
      Inst_Log(INST_LOG_DETAIL, "Inst_StopService: Done stopping # %d '%s'", static_cast<int>(i), name);
   }
}

BOOL StopOpenService(SC_HANDLE service, BOOL stopDependents)
{
   SERVICE_STATUS status = {};
   if (!QueryServiceStatus(service, &status)) {
      Inst_LogLastError(INST_LOG_ERROR, GetLastError(), "Inst_StopService: Could not query service status");
      return FALSE;
   }
   LogStatus(kStop, INST_LOG_DETAIL, status);
   DWORD error = 0;
   if (status.dwCurrentState == SERVICE_STOP_PENDING) {
      // Someone else's stop: wait for it, and take a wait that ends
      // without an answer for a stop.
      const WaitRules rules = {SERVICE_STOP_PENDING, INST_LOG_INFO, INST_LOG_ERROR, false};
      const WaitEnd end = WaitWhilePending(kStop, service, status, 0, rules, error);
      if (end == WaitEnd::QueryFailed) {
         Inst_LogLastError(INST_LOG_ERROR, error,
                           "Inst_StopService: Could not query service status, presume stopped");
      }
      if (end != WaitEnd::Settled) {
         Inst_Log(INST_LOG_PROGRESS, "Inst_StopService: Service already stopped");
         return TRUE;
      }
   }
   if (status.dwCurrentState == SERVICE_STOPPED) {
      Inst_Log(INST_LOG_PROGRESS, "Inst_StopService: Service already stopped");
      return TRUE;
   }
   if (stopDependents) {
      StopDependents(service);
   } else {
      Inst_Log(INST_LOG_DETAIL, "Inst_StopService: Not told to stop dependents");
   }

   if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
      error = GetLastError();
      switch (error) {
      case ERROR_SERVICE_NOT_ACTIVE:
         Inst_Log(INST_LOG_ERROR, "Inst_StopService: Service is already stopped");
         return TRUE;
      case ERROR_BROKEN_PIPE:
         Inst_Log(INST_LOG_ERROR, "Inst_StopService: Broken pipe, service may already have stopped");
         return TRUE;
      case ERROR_DEPENDENT_SERVICES_RUNNING:
         Inst_Log(INST_LOG_ERROR, "Inst_StopService: Service could not be stopped: need to stop dependents");
         return FALSE;
      default:
         Inst_LogLastError(INST_LOG_ERROR, error, "Inst_StopService: Service could not be stopped");
         return FALSE;
      }
   }
   Inst_Log(INST_LOG_PROGRESS, "Inst_StopService: Successfully sent stop command");
   if (!QueryServiceStatus(service, &status)) {
      Inst_LogLastError(INST_LOG_ERROR, GetLastError(), "Inst_StopService: Could not query service status");
      return FALSE;
   }
   const WaitRules rules = {SERVICE_STOP_PENDING, INST_LOG_DETAIL, INST_LOG_ERROR, true};
   return WaitAfterCommand(kStop, service, status, rules, SERVICE_STOPPED,
                           {INST_LOG_PROGRESS, "Service is stopped", "Service is not stopped"});
}

}  // namespace

BOOL Inst_StopService(const char *serviceName, BOOL stopDependents)
{
   if (serviceName == nullptr) {
      Inst_Log(INST_LOG_ERROR, "Inst_StopService: invalid parameter");
      return FALSE;
   }
   Inst_Log(INST_LOG_INFO, "Inst_StopService: Attempting to stop service: '%s' [stop dependents = %d]",
            serviceName, stopDependents ? 1 : 0);
   ServiceHandle scm = OpenScmForControl(kStop, GENERIC_READ,
                                         "Service Manager successfully opened with reduced permissions");
   if (!scm) {
      Inst_Log(INST_LOG_ERROR, "Inst_StopService: service stop failed");
      return FALSE;
   }
   ServiceHandle service(OpenServiceA(scm.Get(), serviceName, SERVICE_ALL_ACCESS));
   if (service) {
      Inst_Log(INST_LOG_PROGRESS, "Inst_StopService: Service successfully opened");
   } else {
      ReportServiceOpenFailure(kStop, GetLastError());
      service.Reset(OpenServiceA(scm.Get(), serviceName, SERVICE_STOP | SERVICE_QUERY_STATUS));
      if (!service) {
         const DWORD error = GetLastError();
         ReportServiceOpenFailure(kStop, error);
         // A service that does not exist is as stopped as it gets.
         return error == ERROR_SERVICE_DOES_NOT_EXIST;
      }
      Inst_Log(INST_LOG_INFO, "Inst_StopService: Service successfully opened with reduced permissions");
   }
   return StopOpenService(service.Get(), stopDependents);
}

namespace {

// After a deletion: a service that stays present is waiting for its last
// handle or for a stop that never comes, which only a restart finishes.
void CheckGone(SC_HANDLE scm, const char *serviceName, BOOL *rebootRequired)
{
   for (int check = 1; check <= kPresenceChecks; check++) {
      Inst_Log(INST_LOG_DETAIL, "Inst_UninstallService: Checking if reboot required for: %s", serviceName);
      ServiceHandle service(OpenServiceA(scm, serviceName, DELETE));
      if (!service) {
         Inst_Log(INST_LOG_INFO,
                  "Inst_UninstallService: Service no longer present, presuming no need for reboot");
         return;
      }
      Inst_Log(INST_LOG_INFO, "Inst_UninstallService: Service still present, might check again");
      service.Reset();
      Sleep(kPresenceCheckMs);
   }
   Inst_Log(INST_LOG_INFO, "Inst_UninstallService: Service still present, presuming reboot required");
   *rebootRequired = TRUE;
}

BOOL DeleteOpenService(SC_HANDLE scm, const char *serviceName, BOOL *rebootRequired)
{
   ServiceHandle service(OpenServiceA(scm, serviceName, DELETE));
   if (!service) {
      const DWORD error = GetLastError();
      ReportServiceOpenFailure(kUninstall, error);
      return error == ERROR_SERVICE_DOES_NOT_EXIST;
   }
   Inst_Log(INST_LOG_PROGRESS, "Inst_UninstallService: Service successfully opened");
   if (!DeleteService(service.Get())) {
      const DWORD error = GetLastError();
      switch (error) {
      case ERROR_ACCESS_DENIED:
         Inst_Log(INST_LOG_ERROR, "Inst_UninstallService: Service could not be deleted: ERROR_ACCESS_DENIED");
         return FALSE;
      case ERROR_INVALID_HANDLE:
         Inst_Log(INST_LOG_ERROR, "Inst_UninstallService: Service could not be deleted: ERROR_INVALID_HANDLE");
         return FALSE;
      case ERROR_SERVICE_MARKED_FOR_DELETE:
         Inst_Log(INST_LOG_INFO,
                  "Inst_UninstallService: Service already deleted: ERROR_SERVICE_MARKED_FOR_DELETE");
         *rebootRequired = TRUE;
         return TRUE;
      default:
         Inst_LogLastError(INST_LOG_ERROR, error, "Inst_UninstallService: Service could not be deleted");
         return FALSE;
      }
   }
   Inst_Log(INST_LOG_INFO, "Inst_UninstallService: Service was deleted: %s", serviceName);
   service.Reset();
   CheckGone(scm, serviceName, rebootRequired);
   return TRUE;
}

}  // namespace

BOOL Inst_UninstallService(const char *serviceName, BOOL *rebootRequired)
{
   if (serviceName == nullptr || rebootRequired == nullptr) {
      Inst_Log(INST_LOG_ERROR, "Inst_UninstallService: invalid parameter: 0x%08x 0x%08x",
               static_cast<unsigned>(reinterpret_cast<uintptr_t>(serviceName)),
               static_cast<unsigned>(reinterpret_cast<uintptr_t>(rebootRequired)));
      return FALSE;
   }
   Inst_Log(INST_LOG_INFO, "Inst_UninstallService: Attempting to uninstall service: %s", serviceName);
   if (*rebootRequired) {
      Inst_Log(INST_LOG_INFO, "Inst_UninstallService: Caller's parameter already indicates reboot required");
   }
   Inst_Log(INST_LOG_INFO, "Inst_UninstallService: Attempting to stop service to be uninstalled");
   Inst_StopService(serviceName, FALSE);

   ServiceHandle scm = OpenScm(SC_MANAGER_ALL_ACCESS);
   if (!scm) {
      ReportScmOpenFailure(kUninstall, GetLastError());
      Inst_Log(INST_LOG_ERROR, "Inst_UninstallService: service uninstall failed");
      return FALSE;
   }
   Inst_Log(INST_LOG_PROGRESS, "Inst_UninstallService: Service Manager successfully opened");
   const BOOL result = DeleteOpenService(scm.Get(), serviceName, rebootRequired);
   scm.Reset();
   Inst_Log(INST_LOG_PROGRESS, "Inst_UninstallService: returning");
   return result;
}
