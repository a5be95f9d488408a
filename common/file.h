// File-system utilities of the custom actions: existence tests, reading a
// whole file, deleting a file even while it is in use (put aside and
// removed at the next restart), deleting a directory tree without following
// links planted by ordinary users, writability and free space. Each
// function logs its own outcome and reports by its result.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "common/fileText.h"
#include "common/msiUtil.h"

// Suffix of a file put aside for removal at the next restart, and the
// prefix of the reboot-request name such a removal records.
#define UTIL_DELETE_ASIDE_SUFFIX L".tmp"
#define UTIL_DELETE_REBOOT_PREFIX L"del@boot:"

// Util_SafeDeleteDirectoryW flags.
constexpr uint32_t UTIL_DELETE_DESCEND = 1;   // descend into subdirectories
constexpr uint32_t UTIL_DELETE_FILES = 2;     // delete the other entries

// True when a file or directory of that name exists.
bool Util_FileExists(std::string path);
bool Util_FileExistsW(std::wstring path);

// The whole file read in text mode (CR LF as LF); empty when it cannot be
// opened.
ResString Util_GetFileContents(std::string path);

// Deletes the file with retries + 1 attempts, 1 s apart. With
// delayUntilReboot, a file that stays is renamed to path + ".tmp" and that
// is removed at the next restart (or, when the rename fails, the file
// itself), and "del@boot:" + path joins the reboot-request list. True when
// the file is gone or put aside; false when it was not there or stays.
bool Util_DeleteFileW(std::wstring path, uint32_t retries, BOOL delayUntilReboot);

// Deletes the directory `path` by `flags`; true when it is gone (or never
// existed). A reparse point owned by anyone but LocalSystem or the
// Administrators is neither entered nor deleted.
bool Util_SafeDeleteDirectoryW(const wchar_t *path, uint32_t flags);

// 0 when the check was made, with nonAdminOwned telling whether `handle`
// is a reparse point whose owner is neither LocalSystem nor the
// Administrators; otherwise the Windows error that stopped the check.
DWORD CheckReparsePointOwnedByNonAdmin(HANDLE handle, BOOL &nonAdminOwned);

// True when the path is not null and its attributes can be read. Logs
// nothing.
bool Util_PathExists(const char *path);

// True when `path` is an existing directory the calling (or impersonated)
// user may write into.
bool Util_IsWritableDir(const std::string &path);

// Bytes free for the caller on drive `letter` when its drive type is
// `driveType`; 0 on every failure.
uint64_t Util_GetFreeDriveSpace(char letter, UINT driveType);

// The checks of an install directory, the first failing one deciding: one
// of the InstallDirCheck results (common/fileText.h). A remote drive or a
// UNC path fails unless allowNetwork; a path that does not exist yet passes
// the writability test.
int Util_ValidateInstallDir(std::string path, BOOL allowNetwork);
