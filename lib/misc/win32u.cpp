// UTF-8 wrappers of the wide Windows functions: processes, files, services,
// modules and message boxes.
#include "lib/misc/win32u.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "common/log.h"
#include "lib/misc/panic.h"
#include "lib/misc/win32uInt.h"

using win32u::ErrorKeeper;
using win32u::WideArg;

namespace {

// The runtime's own path functions stop at MAX_PATH anyway, but with
// errors that differ between runtime versions; refusing here gives every
// caller the same answer. The \\?\ prefix is the caller's explicit request
// for long paths and is passed on.
bool IsRefusedLongPath(const utf16_t *path)
{
   if (path == nullptr || win32u::WideLength(path) < MAX_PATH) {
      return false;
   }
   return !(path[0] == '\\' && path[1] == '\\' && path[2] == '?' &&
            path[3] == '\\');
}

void RefuseLongPath(ErrorKeeper &keep)
{
   keep.Set(ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE);
}

// A null path (or mode) would reach the runtime's invalid-parameter
// handler, which some runtime versions answer by ending the process.
void RefuseNull(ErrorKeeper &keep)
{
   keep.Set(EINVAL, ERROR_INVALID_PARAMETER);
}

}  // namespace

BOOL Win32U_CreateProcess(const char *applicationName, char *commandLine,
                          LPSECURITY_ATTRIBUTES processAttributes,
                          LPSECURITY_ATTRIBUTES threadAttributes,
                          BOOL inheritHandles, DWORD creationFlags,
                          void *environment, const char *currentDirectory,
                          LPSTARTUPINFOA startupInfo,
                          LPPROCESS_INFORMATION processInformation)
{
   // The environment block is handed on as it is: only a wide one can be
   // given to CreateProcessW, and the caller has to say that it is.
   if (environment == nullptr) {
      creationFlags |= CREATE_UNICODE_ENVIRONMENT;
   } else {
      VERIFY((creationFlags & CREATE_UNICODE_ENVIRONMENT) != 0);
   }

   ErrorKeeper keep;
   if (startupInfo == nullptr || processInformation == nullptr) {
      // CreateProcessW would write through the null pointer.
      keep.Set(errno, ERROR_INVALID_PARAMETER);
      return FALSE;
   }

   // STARTUPINFOA and STARTUPINFOW (and their EX forms) differ only in the
   // type of their text pointers, so the record is copied as bytes and the
   // texts replaced.
   STARTUPINFOEXW wideInfo;
   memset(&wideInfo, 0, sizeof wideInfo);
   DWORD cb = startupInfo->cb;
   VERIFY(cb <= sizeof wideInfo);
   memcpy(&wideInfo, startupInfo, cb);
   STARTUPINFOW &si = wideInfo.StartupInfo;

   WideArg app(applicationName);
   WideArg cmd(commandLine);
   WideArg dir(currentDirectory);
   WideArg desktop(reinterpret_cast<const char *>(si.lpDesktop));
   WideArg title(reinterpret_cast<const char *>(si.lpTitle));
   si.lpDesktop = desktop.get();
   si.lpTitle = title.get();
   // Reserved and required to be null; a narrow text must never be read as
   // a wide one.
   si.lpReserved = nullptr;

   BOOL ok = CreateProcessW(app.get(), cmd.get(), processAttributes,
                            threadAttributes, inheritHandles, creationFlags,
                            environment, dir.get(), &si, processInformation);
   keep.Capture();
   return ok;
}

UINT Win32U_GetDriveType(const char *rootPathName)
{
   ErrorKeeper keep;
   WideArg root(rootPathName);
   UINT type = GetDriveTypeW(root.get());
   keep.Capture();
   return type;
}

BOOL Win32U_GetFileSecurity(const char *fileName,
                            SECURITY_INFORMATION requestedInformation,
                            PSECURITY_DESCRIPTOR securityDescriptor,
                            DWORD length, LPDWORD lengthNeeded)
{
   ErrorKeeper keep;
   WideArg name(fileName);
   BOOL ok = GetFileSecurityW(name.get(), requestedInformation,
                              securityDescriptor, length, lengthNeeded);
   keep.Capture();
   return ok;
}

BOOL Win32U_GetDiskFreeSpaceEx(const char *directoryName,
                               PULARGE_INTEGER freeBytesAvailable,
                               PULARGE_INTEGER totalNumberOfBytes,
                               PULARGE_INTEGER totalNumberOfFreeBytes)
{
   ErrorKeeper keep;
   WideArg dir(directoryName);
   BOOL ok = GetDiskFreeSpaceExW(dir.get(), freeBytesAvailable,
                                 totalNumberOfBytes, totalNumberOfFreeBytes);
   keep.Capture();
   return ok;
}

HMODULE Win32U_LoadLibraryEx(const char *fileName, HANDLE file, DWORD flags)
{
   ErrorKeeper keep;
   WideArg name(fileName);
   HMODULE module = LoadLibraryExW(name.get(), file, flags);
   keep.Capture();
   return module;
}

BOOL Win32U_SetCurrentDirectory(const char *pathName)
{
   ErrorKeeper keep;
   WideArg path(pathName);
   BOOL ok = SetCurrentDirectoryW(path.get());
   keep.Capture();
   return ok;
}

SC_HANDLE Win32U_OpenService(SC_HANDLE scManager, const char *serviceName,
                             DWORD desiredAccess)
{
   ErrorKeeper keep;
   WideArg name(serviceName);
   SC_HANDLE service = OpenServiceW(scManager, name.get(), desiredAccess);
   keep.Capture();
   return service;
}

int Win32U_MessageBox(HWND owner, const char *text, const char *caption,
                      UINT type)
{
   ErrorKeeper keep;
   WideArg wideText(text);
   WideArg wideCaption(caption);
   int result = MessageBoxW(owner, wideText.get(), wideCaption.get(), type);
   keep.Capture();
   return result;
}

int Win32U_GetFileAttributes(const char *path)
{
   ErrorKeeper keep;
   WideArg widePath(path);
   WIN32_FILE_ATTRIBUTE_DATA data;
   BOOL ok = GetFileAttributesExW(widePath.get(), GetFileExInfoStandard, &data);
   keep.Capture();
   if (!ok) {
      Inst_Log(INST_LOG_ERROR,
               "%s: GetFileAttributesExW(\"%s\", ...) failed, error: %u\n",
               "Win32U_GetFileAttributes", path,
               static_cast<unsigned>(keep.LastError()));
      return -1;
   }
   return static_cast<int>(data.dwFileAttributes);
}

int Win32U_Access(const char *path, int mode)
{
   ErrorKeeper keep;
   WideArg widePath(path);
   if (widePath.get() == nullptr) {
      RefuseNull(keep);
      return -1;
   }
   if (IsRefusedLongPath(widePath.get())) {
      RefuseLongPath(keep);
      return -1;
   }
   int result = _waccess(widePath.get(), mode);
   keep.Capture();
   return result;
}

FILE *Win32U_Fopen(const char *path, const char *mode)
{
   ErrorKeeper keep;
   WideArg widePath(path);
   WideArg wideMode(mode);
   if (widePath.get() == nullptr || wideMode.get() == nullptr) {
      RefuseNull(keep);
      return nullptr;
   }
   if (IsRefusedLongPath(widePath.get())) {
      RefuseLongPath(keep);
      return nullptr;
   }
   FILE *file = _wfopen(widePath.get(), wideMode.get());
   keep.Capture();
   return file;
}

int Win32U_Open(const char *path, int flags, ...)
{
   // The permission argument exists only when the file may be created; a
   // caller without O_CREAT passes nothing there.
   bool hasMode = (flags & _O_CREAT) != 0;
   int mode = 0;
   if (hasMode) {
      va_list ap;
      va_start(ap, flags);
      mode = va_arg(ap, int);
      va_end(ap);
   }

   ErrorKeeper keep;
   WideArg widePath(path);
   if (widePath.get() == nullptr) {
      RefuseNull(keep);
      return -1;
   }
   if (IsRefusedLongPath(widePath.get())) {
      RefuseLongPath(keep);
      return -1;
   }
   int fd = hasMode ? _wopen(widePath.get(), flags, mode)
                    : _wopen(widePath.get(), flags);
   keep.Capture();
   return fd;
}
