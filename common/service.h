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
#include <vector>

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
