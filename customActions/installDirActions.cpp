// Custom actions that look after the installation directory: validating
// the user's choice, moving it to a fixed drive with room enough, and
// refusing a repair whose installation source is gone.
#include <cstdlib>
#include <memory>
#include <new>

#include "common/file.h"
#include "common/fileText.h"
#include "common/msiUtil.h"
#include "customActions/caFrame.h"
#include "lib/misc/codeset.h"
#include "lib/misc/win32u.h"
#include "lib/misc/win32uInt.h"

namespace {

// String-table entries of the install-directory and repair messages.
constexpr UINT kMsgNoDriveLetter = 13;
constexpr UINT kMsgSemicolon = 14;
constexpr UINT kMsgNetworkDrive = 15;
constexpr UINT kMsgTooLong = 16;
constexpr UINT kMsgNotWritable = 17;
constexpr UINT kMsgSourceMissing = 18;
constexpr UINT kMsgRepairFailed = 19;

// Error-table message the package defines for a full disk.
constexpr int kErrorDiskFull = 26002;

const wchar_t kInstallSource[] = L"InstallSource";

UINT ValidateInstallDir(MSIHANDLE install)
{
   Inst_LogCA("Validating installation directory");
   WideString caption = MsiUtil_GetPropertyStringW(install, "ErrCaption");
   if (caption.empty()) {
      caption = MsiUtil_GetPropertyStringW(install, "ProductName");
   }
   MsiUtil_SetProperty(install, "BadINSTALLDIR", "1");
   ResString path = MsiUtil_GetPropertyString(install, "CheckINSTALLDIR");
   if (path.empty()) {
      path = MsiUtil_GetPropertyString(install, "INSTALLDIR");
   }
   const bool allowNetwork = MsiUtil_GetPropertyInt(install, "AllowNetworkPath") != 0;
   const int result = Util_ValidateInstallDir(path, allowNetwork);

   UINT message = 0;
   switch (result) {
   case INSTALLDIR_EMPTY:
      Inst_LogCA("Failed to get the installation path");
      message = kMsgNoDriveLetter;
      break;
   case INSTALLDIR_REMOTE:
      Inst_LogCA("Can't install on a remote drive");
      message = kMsgNetworkDrive;
      break;
   case INSTALLDIR_SEMICOLON:
      Inst_LogCA("Install path contains a semi-colon");
      message = kMsgSemicolon;
      break;
   case INSTALLDIR_TOO_LONG:
      Inst_LogCA("Install dir path too long: %u", static_cast<unsigned>(path.size()));
      message = kMsgTooLong;
      break;
   case INSTALLDIR_NOT_WRITABLE:
      Inst_LogCA("INSTALLDIR path not writable: %s", path.c_str());
      message = kMsgNotWritable;
      break;
   default:
      break;
   }
   WideString text;
   if (message != 0 && Util_LoadResStringW(text, message, nullptr) && message == kMsgTooLong) {
      text = Util_SprintfW(text.c_str(), static_cast<int>(path.size()));
   }
   if (result != INSTALLDIR_VALID) {
      // The dialog's conditions see "1" whether or not the text could be
      // shown: a bad directory never reads as a good one.
      if (!text.empty()) {
         MessageBoxW(Util_GetInstallerWnd(), text.c_str(), caption.c_str(),
                     MB_OK | MB_ICONEXCLAMATION);
      }
   } else {
      MsiUtil_SetProperty(install, "BadINSTALLDIR", "0");
   }
   return ERROR_SUCCESS;
}

// The path with its first character (all bytes of it) replaced by the
// drive letter.
std::string OnDrive(const std::string &path, char letter)
{
   size_t length = 1;
   while (length < path.size() && (static_cast<unsigned char>(path[length]) & 0xC0) == 0x80) {
      length++;
   }
   return std::string(1, letter) + path.substr(length);
}

UINT AutoSelectInstallDrive(MSIHANDLE install)
{
   Inst_LogCA("AutoSelect installation drive.");
   const int64_t required = Util_ParseRequiredSpace(MsiUtil_GetPropertyString(install, "REQUIRED_SPACE"));
   if (required == 0) {
      Inst_LogCA("Failed to retrieve size of installation; autoselect drive is turned off.");
      return ERROR_SUCCESS;
   }
   const ResString dir = MsiUtil_GetPropertyString(install, "INSTALLDIR");
   if (dir.empty()) {
      Inst_LogCA("INSTALLDIR property was empty; autoselection of installation drive is disabled.");
      return ERROR_SUCCESS;
   }
   std::string letters(1, dir[0]);
   for (char letter = 'A'; letter <= 'Z'; letter++) {
      const char root[] = {letter, ':', '\\', '\0'};
      if (letter != dir[0] && Win32U_GetDriveType(root) == DRIVE_FIXED) {
         Inst_LogCA("Adding %c to fixed drive list.", letter);
         letters += letter;
      }
   }
   for (char letter : letters) {
      const uint64_t free = Util_GetFreeDriveSpace(letter, DRIVE_FIXED);
      Inst_LogCA("Drive %c has %I64u", letter, free);
      // A negative requirement compares as a huge one, which no drive meets.
      if (free > static_cast<uint64_t>(required)) {
         const UINT rc = MsiUtil_SetTargetPath(install, "INSTALLDIR", OnDrive(dir, letter).c_str());
         if (rc != ERROR_SUCCESS) {
            Inst_LogCA("MsiSetTargetPath failed %d", static_cast<int>(rc));
         }
         return ERROR_SUCCESS;
      }
   }
   Inst_LogCA("Not enough disk space to proceed!");
   MsiUtil_PostErrorMessage(install, kErrorDiskFull);
   return ERROR_DISK_FULL;
}

enum class RepairCheck { Ok, SourceMissing, Failed };

RepairCheck CheckInstallSource(const WideString &productCode)
{
   if (productCode.empty()) {
      return RepairCheck::Failed;
   }
   DWORD size = 0;
   UINT rc = MsiGetProductInfoW(productCode.c_str(), kInstallSource, nullptr, &size);
   if (rc != ERROR_SUCCESS) {
      Inst_LogCA("Failed to get the length for sourcelocation: %d", static_cast<int>(rc));
      return RepairCheck::Failed;
   }
   const DWORD capacity = size + 1;
   std::unique_ptr<wchar_t[]> source(new (std::nothrow) wchar_t[capacity]);
   if (!source) {
      Inst_LogCA("Malloc failed");
      return RepairCheck::Failed;
   }
   DWORD length = capacity;
   rc = MsiGetProductInfoW(productCode.c_str(), kInstallSource, source.get(), &length);
   if (rc != ERROR_SUCCESS) {
      Inst_LogCA("Failed getting sourcelocation return value %d", static_cast<int>(rc));
      return RepairCheck::Failed;
   }
   char *utf8 = nullptr;
   size_t utf8Size = 0;
   // A path that is not Unicode text names nothing that exists.
   const bool converted = CodeSet_Utf16leToUtf8(reinterpret_cast<const char *>(source.get()),
                                                wcsnlen(source.get(), capacity) * sizeof(wchar_t),
                                                &utf8, &utf8Size);
   win32u::Owned<char> owned(utf8);
   if (!converted || !Util_PathExists(utf8)) {
      Inst_LogCA("Installer Source directory doesn't exist");
      return RepairCheck::SourceMissing;
   }
   return RepairCheck::Ok;
}

UINT IsRepairSafe(MSIHANDLE install)
{
   const RepairCheck check = CheckInstallSource(MsiUtil_GetPropertyStringW(install, "ProductCode"));
   if (check == RepairCheck::Ok) {
      Inst_LogCA("OK to repair");
      return ERROR_SUCCESS;
   }
   const WideString product = MsiUtil_GetPropertyStringW(install, "ProductName");
   WideString text;
   if (check == RepairCheck::SourceMissing) {
      if (Util_LoadResStringW(text, kMsgSourceMissing, nullptr)) {
         text = Util_SprintfW(text.c_str(), product.c_str());
      }
   } else {
      Util_LoadResStringW(text, kMsgRepairFailed, nullptr);
   }
   MessageBoxW(Util_GetInstallerWnd(), text.c_str(), product.c_str(), MB_OK);
   MsiUtil_SetProperty(install, "AbortInstall", "1");
   return ERROR_INSTALL_USEREXIT;
}

}  // namespace

OV_CUSTOM_ACTION OVValidateINSTALLDIR(MSIHANDLE install)
{
   return CaFrame("OVValidateINSTALLDIR", ERROR_SUCCESS, [&] { return ValidateInstallDir(install); });
}

OV_CUSTOM_ACTION OVAutoSelectInstallDrive(MSIHANDLE install)
{
   return CaFrame("OVAutoSelectInstallDrive", ERROR_INSTALL_FAILURE,
                  [&] { return AutoSelectInstallDrive(install); });
}

OV_CUSTOM_ACTION OVIsRepairSafe(MSIHANDLE install)
{
   return CaFrame("OVIsRepairSafe", ERROR_INSTALL_USEREXIT, [&] { return IsRepairSafe(install); });
}
