#include "common/file.h"

#include <aclapi.h>
#include <io.h>
#include <sddl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "common/log.h"
#include "common/registry.h"
#include "lib/misc/ownedHandle.h"
#include "lib/misc/win32u.h"

namespace {

struct FindHandleTraits {
   using Handle = HANDLE;
   static HANDLE None() { return INVALID_HANDLE_VALUE; }
   static void Close(HANDLE h) { FindClose(h); }
};
using FindHandle = OwnedHandle<FindHandleTraits>;

struct MallocTraits {
   using Handle = void *;
   static void *None() { return nullptr; }
   static void Close(void *p) { free(p); }
};
using MallocMemory = OwnedHandle<MallocTraits>;

// `listedAsReparse`: the parent's directory listing flagged the entry as a
// reparse point. Wine lists a Unix symbolic link so but follows it when
// opening, so the handle alone would never show it; the owner is checked
// whenever either says so.
DWORD CheckOwner(HANDLE handle, bool listedAsReparse, BOOL &nonAdminOwned)
{
   nonAdminOwned = FALSE;
   BY_HANDLE_FILE_INFORMATION info;
   if (!GetFileInformationByHandle(handle, &info)) {
      const DWORD err = GetLastError();
      Inst_Log(INST_LOG_ERROR, "CheckReparsePointOwnedByNonAdmin: Unable to get file attributes (%u)",
               static_cast<unsigned>(err));
      return err;
   }
   if (!listedAsReparse && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
      return ERROR_SUCCESS;
   }
   const SECURITY_INFORMATION parts =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
   LocalMemory descriptor;
   const DWORD rc = GetSecurityInfo(handle, SE_FILE_OBJECT, parts, nullptr, nullptr, nullptr,
                                    nullptr, descriptor.Out());
   if (rc != ERROR_SUCCESS) {
      Inst_Log(INST_LOG_ERROR,
               "CheckReparsePointOwnedByNonAdmin: Couldn't get security descriptor info (%u)",
               static_cast<unsigned>(rc));
      return rc;
   }
   wchar_t *sddl = nullptr;
   if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.Get(), SDDL_REVISION_1,
                                                             parts, &sddl, nullptr)) {
      const DWORD err = GetLastError();
      Inst_Log(INST_LOG_ERROR, "CheckReparsePointOwnedByNonAdmin: Couldn't get SDDL string (%u)",
               static_cast<unsigned>(err));
      return err;
   }
   LocalMemory text(sddl);
   if (wcsncmp(sddl, L"O:SY", 4) != 0 && wcsncmp(sddl, L"O:BA", 4) != 0) {
      Inst_Log(INST_LOG_ERROR,
               "CheckReparsePointOwnedByNonAdmin: This is a reparse point with a non-admin owner.");
      nonAdminOwned = TRUE;
   }
   return ERROR_SUCCESS;
}

bool DeleteTree(const std::wstring &path, uint32_t flags, bool listedAsReparse)
{
   FileHandle self(CreateFileW(path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
   if (!self) {
      const DWORD err = GetLastError();
      if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) {
         Inst_Log(INST_LOG_INFO, "Util_SafeDeleteDirectoryW: Path '%S' does not exist", path.c_str());
         return true;
      }
      Inst_Log(INST_LOG_ERROR, "Util_SafeDeleteDirectoryW: Failed to open path '%S' (%u)",
               path.c_str(), static_cast<unsigned>(err));
      return false;
   }
   Inst_Log(INST_LOG_INFO, "Util_SafeDeleteDirectoryW: Opened file object of path '%S'", path.c_str());

   BOOL nonAdminOwned = FALSE;
   if (CheckOwner(self.Get(), listedAsReparse, nonAdminOwned) != ERROR_SUCCESS) {
      Inst_Log(INST_LOG_ERROR,
               "Util_SafeDeleteDirectoryW: Failed to perform security check before deleting path '%S'",
               path.c_str());
      return false;
   }
   if (nonAdminOwned) {
      Inst_Log(INST_LOG_ERROR,
               "Util_SafeDeleteDirectoryW: Skip deleting contents of reparse point owned by non-admin");
      return false;
   }

   bool result = true;
   {
      WIN32_FIND_DATAW found;
      FindHandle find(FindFirstFileExW((path + L"\\*").c_str(), FindExInfoStandard, &found,
                                       FindExSearchNameMatch, nullptr, 0));
      if (!find) {
         Inst_LogLastError(INST_LOG_DETAIL, GetLastError(),
                           "Util_SafeDeleteDirectoryW: Failed to find any child files or "
                           "directories for %S",
                           path.c_str());
      } else {
         Inst_Log(INST_LOG_DETAIL, "Util_SafeDeleteDirectoryW: Deleting [%S]", path.c_str());
         std::wstring child = path + L"\\";
         const size_t base = child.size();
         do {
            const wchar_t *name = found.cFileName;
            if (wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0) {
               continue;
            }
            child.replace(base, std::wstring::npos, name);
            const DWORD attributes = found.dwFileAttributes;
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (flags & UTIL_DELETE_DESCEND) != 0) {
               result = DeleteTree(child, flags, (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0);
            } else if ((flags & UTIL_DELETE_FILES) != 0) {
               result = DeleteFileW(child.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
            }
         } while (result && FindNextFileW(find.Get(), &found));
      }
   }
   self.Reset();
   if (result && !RemoveDirectoryW(path.c_str())) {
      Inst_LogLastError(INST_LOG_ERROR, GetLastError(),
                        "Util_SafeDeleteDirectoryW: Failed to remove directory");
      return false;
   }
   return result;
}

}  // namespace

// The UTF-8 wrappers end the process on text that is not UTF-8; a path
// that is not is one that cannot exist.
bool Util_FileExists(std::string path)
{
   const bool found = Util_IsUtf8(path) && Win32U_Access(path.c_str(), 0) == 0;
   if (!Util_IsUtf8(path)) {
      errno = EILSEQ;
   }
   if (found) {
      Inst_Log(INST_LOG_DETAIL, "Util_FileExists: Found \"%s\"", path.c_str());
   } else {
      Inst_LogLastErrno(INST_LOG_DETAIL, errno,
                        "Util_FileExists: Did not find file/directory: \"%s\"", path.c_str());
   }
   return found;
}

bool Util_FileExistsW(std::wstring path)
{
   if (_waccess(path.c_str(), 0) == 0) {
      Inst_Log(INST_LOG_DETAIL, "Util_FileExistsW: Found \"%S\"", path.c_str());
      return true;
   }
   Inst_LogLastErrno(INST_LOG_DETAIL, errno, "Util_FileExistsW: Did not find file/directory: \"%S\"",
                     path.c_str());
   return false;
}

ResString Util_GetFileContents(std::string path)
{
   FILE *file = Util_IsUtf8(path) ? Win32U_Fopen(path.c_str(), "r") : nullptr;
   if (file == nullptr) {
      Inst_LogLastErrno(INST_LOG_ERROR, Util_IsUtf8(path) ? errno : EILSEQ,
                        "Util_GetFileContents: Failed to open file for reading: %s", path.c_str());
      return ResString();
   }
   ResString contents;
   char chunk[4096];
   size_t n;
   while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) {
      contents.append(chunk, n);
   }
   fclose(file);
   return contents;
}

bool Util_DeleteFileW(std::wstring path, uint32_t retries, BOOL delayUntilReboot)
{
   Inst_Log(INST_LOG_DETAIL, "Util_DeleteFileW: Deleting %S", path.c_str());
   if (!Util_FileExistsW(path)) {
      Inst_Log(INST_LOG_DETAIL, "Util_DeleteFileW: Already removed: %S", path.c_str());
      return false;
   }
   for (uint64_t attempt = 0; attempt <= retries; attempt++) {
      if (attempt > 0) {
         Sleep(1000);
      }
      // A read-only file cannot be deleted.
      if (_wchmod(path.c_str(), _S_IREAD | _S_IWRITE) == 0 && DeleteFileW(path.c_str())) {
         Inst_Log(INST_LOG_INFO, "Util_DeleteFileW: Deleted file %S", path.c_str());
         return true;
      }
      const DWORD err = GetLastError();
      Inst_LogLastError(INST_LOG_WARNING, err, "Util_DeleteFileW: Failed to delete %S: %d",
                        path.c_str(), static_cast<int>(err));
   }
   if (!delayUntilReboot || !Util_FileExistsW(path)) {
      return false;
   }
   const std::wstring aside = path + UTIL_DELETE_ASIDE_SUFFIX;
   if (MoveFileExW(path.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH)) {
      if (!MoveFileExW(aside.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
         Inst_LogLastError(INST_LOG_WARNING, GetLastError(),
                           "Util_DeleteFileW: Failed to schedule file removal on reboot");
         return true;
      }
      Inst_Log(INST_LOG_INFO,
               "Util_DeleteFileW: \"%S\" renamed to \"%S\" and scheduled for removal at next reboot",
               path.c_str(), aside.c_str());
   } else {
      MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
      Inst_Log(INST_LOG_INFO, "Util_DeleteFileW: File scheduled for removal at next reboot \"%S\"",
               path.c_str());
   }
   Util_SetRebootW(UTIL_DELETE_REBOOT_PREFIX + path);
   return true;
}

bool Util_SafeDeleteDirectoryW(const wchar_t *path, uint32_t flags)
{
   if (path == nullptr || *path == L'\0') {
      Inst_Log(INST_LOG_ERROR, "Util_SafeDeleteDirectoryW: Invalid empty path specified for deletion");
      return false;
   }
   return DeleteTree(path, flags, false);
}

DWORD CheckReparsePointOwnedByNonAdmin(HANDLE handle, BOOL &nonAdminOwned)
{
   return CheckOwner(handle, false, nonAdminOwned);
}

bool Util_PathExists(const char *path)
{
   if (path == nullptr) {
      return false;
   }
   const int length = static_cast<int>(strlen(path));
   const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, length, nullptr, 0);
   if (length > 0 && units <= 0) {
      return false;
   }
   std::wstring wide(static_cast<size_t>(units), L'\0');
   MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, length, &wide[0], units);
   return GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Util_IsWritableDir(const std::string &path)
{
   if (!Util_IsUtf8(path)) {
      return false;
   }
   const int attributes = Win32U_GetFileAttributes(path.c_str());
   if (attributes == -1 || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      return false;
   }

   KernelHandle token;
   if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.Out())) {
      const DWORD err = GetLastError();
      if (err == ERROR_CALL_NOT_IMPLEMENTED) {
         return true;   // a system without access control
      }
      if (err != ERROR_NO_TOKEN) {
         Inst_LogLastError(INST_LOG_ERROR, err, "Util_IsWritableDir: Unable to get the thread access token");
         return false;
      }
      // Not impersonating: AccessCheck needs an impersonation token, so
      // take one of the process's own for the moment of the open.
      if (!ImpersonateSelf(SecurityImpersonation)) {
         Inst_LogLastError(INST_LOG_ERROR, GetLastError(), "Util_IsWritableDir: Unable to impersonate self");
         return false;
      }
      const BOOL opened = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.Out());
      if (!opened) {
         Inst_LogLastError(INST_LOG_ERROR, GetLastError(),
                           "Util_IsWritableDir: Unable to get the process access token");
      }
      RevertToSelf();
      if (!opened) {
         return false;
      }
   }

   const SECURITY_INFORMATION parts =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
   MallocMemory descriptor;
   DWORD size = 0;
   DWORD needed = 0;
   while (!Win32U_GetFileSecurity(path.c_str(), parts, descriptor.Get(), size, &needed)) {
      const DWORD err = GetLastError();
      if (err != ERROR_INSUFFICIENT_BUFFER) {
         Inst_LogLastError(INST_LOG_ERROR, err,
                           "Util_IsWritableDir: Unable to get security descriptor for \"%s\"",
                           path.c_str());
         return false;
      }
      void *grown = realloc(descriptor.Get(), needed);
      if (grown == nullptr) {
         Inst_Log(INST_LOG_ERROR, "Util_IsWritableDir: Couldn't realloc with size %u",
                  static_cast<unsigned>(needed));
         return false;
      }
      descriptor.Release();
      descriptor.Reset(grown);
      size = needed;
   }

   PSID owner = nullptr;
   PSID group = nullptr;
   PACL dacl = nullptr;
   BOOL defaulted = FALSE;
   BOOL daclPresent = FALSE;
   GetSecurityDescriptorOwner(descriptor.Get(), &owner, &defaulted);
   GetSecurityDescriptorGroup(descriptor.Get(), &group, &defaulted);
   GetSecurityDescriptorDacl(descriptor.Get(), &daclPresent, &dacl, &defaulted);
   if (owner == nullptr && group == nullptr && (!daclPresent || dacl == nullptr)) {
      return true;
   }

   GENERIC_MAPPING mapping = {0x120089, 0x120116, 0x1200A0, 0x1201BF};
   DWORD access = 0x120116;
   MapGenericMask(&access, &mapping);
   union {
      PRIVILEGE_SET set;
      BYTE bytes[20];
   } privileges;
   DWORD privilegesSize = sizeof privileges.bytes;
   DWORD granted = 0;
   BOOL status = FALSE;
   if (!AccessCheck(descriptor.Get(), token.Get(), access, &mapping, &privileges.set,
                    &privilegesSize, &granted, &status)) {
      Inst_LogLastError(INST_LOG_ERROR, GetLastError(), "Util_IsWritableDir: Unable to check access rights");
      return false;
   }
   return status != FALSE;
}

uint64_t Util_GetFreeDriveSpace(char letter, UINT driveType)
{
   if (!IsCharAlphaA(letter)) {
      Inst_Log(INST_LOG_ERROR, "Util_GetFreeDriveSpace: Drive %c:\\ is not a valid character.", letter);
      return 0;
   }
   // A letter of the code page's upper half is no drive (and no UTF-8).
   const std::string root = std::string(1, letter) + ":\\";
   if (static_cast<unsigned char>(letter) >= 0x80 || Win32U_GetDriveType(root.c_str()) != driveType) {
      return 0;
   }
   ULARGE_INTEGER available, total, free;
   if (!Win32U_GetDiskFreeSpaceEx(root.c_str(), &available, &total, &free)) {
      const DWORD err = GetLastError();
      if (driveType == DRIVE_REMOVABLE && err == ERROR_NOT_READY) {
         return 0;   // no medium
      }
      Inst_LogLastError(INST_LOG_ERROR, err, "Util_GetFreeDriveSpace: GetDiskFreeSpaceEx() failed");
      return 0;
   }
   return available.QuadPart;
}

int Util_ValidateInstallDir(std::string path, BOOL allowNetwork)
{
   // The root is two bytes, the path's first and a colon: the ANSI call
   // takes any byte.
   const int result = Util_CheckInstallDirText(path, allowNetwork != FALSE, [](const std::string &root) {
      return GetDriveTypeA(root.c_str()) == DRIVE_REMOTE;
   });
   if (result == INSTALLDIR_VALID && Util_FileExists(path) && !Util_IsWritableDir(path)) {
      return INSTALLDIR_NOT_WRITABLE;
   }
   return result;
}
