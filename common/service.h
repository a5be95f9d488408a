// Services and drivers: what the custom actions need to know and change
// about them in the registry and in the Service Control Manager.
//
// Results are Windows error codes (0 = success); every failure has written
// its log line before it returns. A null name is ERROR_INVALID_PARAMETER.
#pragma once

#ifndef _WIN32
#error "service is the Windows layer; common/loadOrderList.h is the portable part"
#endif

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "lib/misc/ownedHandle.h"

// --- Load-order group tags ---------------------------------------------------
// The drivers of a load-order group start in the order of their tags in the
// group's value under HKLM\SYSTEM\CurrentControlSet\Control\GroupOrderList.
// An edit reads the list, checks it and writes it back only when the edit
// succeeded; a malformed list is never repaired. There is no lock: another
// writer between an edit's read and its write is not detected.

// Reads and checks the group's list from the open GroupOrderList key into
// `list`: the N + 1 words of the list followed by `extraSlots` zero words,
// room for the caller to grow it in place. On failure `list` is empty.
DWORD ReadGroupOrderList(HKEY groupOrderListKey, const wchar_t *groupName, DWORD extraSlots,
                         std::vector<uint32_t> &list);

// Takes the first occurrence of `tag` out of the group's list. A tag that
// is not listed is success, and the list is not written.
DWORD RemoveServiceFromLoadOrderByTag(const wchar_t *groupName, DWORD tag);

// The same for the tag of a service (its "Tag" value); the name is in the
// active code page.
DWORD RemoveServiceFromLoadOrder(const wchar_t *groupName, const char *serviceName);

// Puts `tag` right behind the tag of the reference service, or at the end
// when that tag is not listed. The first entry of `tag` already in the list
// is taken out (and written) first, so that inserting a listed tag moves it.
DWORD InsertServiceInLoadOrder(const wchar_t *groupName, const wchar_t *referenceServiceName,
                               DWORD tag);

// --- Service control -----------------------------------------------------------
// Installing, starting, stopping and removing services through the Service
// Control Manager. Each call opens and closes its own handles; results are
// TRUE or FALSE after the log lines that tell why. A start or stop waits
// for its pending state to end, polling every 500 ms for at most 30
// seconds, whatever the service's own wait hints say. Narrow names are in
// the active code page.

struct ServiceHandleTraits {
   using Handle = SC_HANDLE;
   static SC_HANDLE None() { return nullptr; }
   static void Close(SC_HANDLE h) { CloseServiceHandle(h); }
};
using ServiceHandle = OwnedHandle<ServiceHandleTraits>;

// The name of a SERVICE_STATUS state, "INVALID" outside 1 to 7.
const char *Inst_ServiceStateName(DWORD state);

// Creates the service, or reconfigures it in place when it exists (under
// the database lock), or deletes and creates it again when that fails;
// waits out a service still marked for deletion (2 creation calls, 10 with
// `extendedRetry`). `description` and `loadOrderGroup` may be null;
// `dependencies` names the services depended on, separated by commas.
// `tagId`, when given, receives the tag the SCM assigns on creation.
BOOL Inst_InstallServiceW(const wchar_t *serviceName, const wchar_t *displayName,
                          const wchar_t *description, DWORD serviceType, DWORD startType,
                          const wchar_t *binaryPath, const wchar_t *loadOrderGroup,
                          const wchar_t *dependencies, DWORD errorControl, BOOL stopExisting,
                          DWORD *tagId, BOOL extendedRetry);
// TRUE when the service runs afterwards (or already ran).
BOOL Inst_StartService(const char *serviceName);
// TRUE when the service is stopped afterwards, already was, or does not
// exist. `stopDependents` first stops the active services that depend on it.
BOOL Inst_StopService(const char *serviceName, BOOL stopDependents);
// Stops and deletes the service. Sets *rebootRequired (never clears it)
// when the deletion completes only at the next restart.
BOOL Inst_UninstallService(const char *serviceName, BOOL *rebootRequired);

// The database lock, or null when it cannot be had (callers go on without).
SC_LOCK AcquireServiceDatabaseLock(SC_HANDLE scm);
void ReleaseServiceDatabaseLock(SC_LOCK lock);

// "a,b" as the SCM's list "a\0b\0\0"; null for null.
std::unique_ptr<wchar_t[]> ModifyDependencyString(const wchar_t *dependencies);
