// The custom action that gives the maker's registry key and the product's
// key back the access list they would inherit from their parent, taking
// ownership for the Administrators group when it is refused access.
#include <windows.h>
#include <aclapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/msiUtil.h"
#include "customActions/caFrame.h"
#include "customActions/wideText.h"
#include "lib/misc/ownedHandle.h"
#include "lib/misc/win32uRegistry.h"

namespace {

const char kMakerKey[] = "SOFTWARE\\Orvane, Inc.";
const char kDefaultProductKey[] = "Orvane Tools";
constexpr int kResetFailedError = 26000;
// The owner form of a key the action creates to learn the default access
// list; REG_OPTION_VOLATILE keeps an interrupted run from leaving it past
// the next restart.
constexpr REGSAM kTemporaryKeyAccess = STANDARD_RIGHTS_REQUIRED;
// The security-object name is formed in this many bytes.
constexpr size_t kObjectNameSize = 272;

struct SidTraits {
   using Handle = PSID;
   static PSID None() { return nullptr; }
   static void Close(PSID sid) { FreeSid(sid); }
};
using SidHandle = OwnedHandle<SidTraits>;

// The throw-away key: deleted through its own handle, then closed.
struct TemporaryKeyTraits {
   using Handle = HKEY;
   static HKEY None() { return nullptr; }
   static void Close(HKEY key)
   {
      RegDeleteKeyA(key, "");
      RegCloseKey(key);
   }
};
using TemporaryKey = OwnedHandle<TemporaryKeyTraits>;

// The prefix the named-security functions know each root key by; null for
// anything but the five predefined keys.
const char *ObjectNamePrefix(HKEY root)
{
   if (root == HKEY_LOCAL_MACHINE) {
      return "MACHINE";
   }
   if (root == HKEY_CURRENT_USER) {
      return "CURRENT_USER";
   }
   if (root == HKEY_CLASSES_ROOT) {
      return "CLASSES_ROOT";
   }
   if (root == HKEY_CURRENT_CONFIG) {
      return "CURRENT_CONFIG";
   }
   return root == HKEY_USERS ? "USERS" : nullptr;
}

// True when the process token's privilege now has the state asked for.
bool EnableTokenPrivilege(const wchar_t *privilegeName, BOOL enable)
{
   LUID luid;
   if (!LookupPrivilegeValueW(nullptr, privilegeName, &luid)) {
      const DWORD error = GetLastError();
      Inst_LogCA("Lookprivilege failed, lasterror %d", static_cast<int>(error));
      return false;
   }
   KernelHandle token;
   if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.Out())) {
      const DWORD error = GetLastError();
      Inst_LogCA("OpenProcessToken failed, lasterror %d", static_cast<int>(error));
      return false;
   }
   TOKEN_PRIVILEGES query = {};
   query.PrivilegeCount = 1;
   query.Privileges[0].Luid = luid;
   query.Privileges[0].Attributes = 0;
   TOKEN_PRIVILEGES previous = {};
   DWORD previousSize = sizeof previous;
   if (!AdjustTokenPrivileges(token.Get(), FALSE, &query, sizeof previous, &previous,
                              &previousSize)) {
      const DWORD error = GetLastError();
      Inst_LogCA("AdjustTokenPrivilege failed, lasterror %d", static_cast<int>(error));
      return false;
   }
   previous.PrivilegeCount = 1;
   previous.Privileges[0].Luid = luid;
   if (enable) {
      previous.Privileges[0].Attributes |= SE_PRIVILEGE_ENABLED;
   } else {
      previous.Privileges[0].Attributes &= ~static_cast<DWORD>(SE_PRIVILEGE_ENABLED);
   }
   AdjustTokenPrivileges(token.Get(), FALSE, &previous, previousSize, nullptr, nullptr);
   const DWORD error = GetLastError();
   if (error != ERROR_SUCCESS) {
      Inst_LogCA("AdjustTokenPrivilege failed, lasterror %d", static_cast<int>(error));
      return false;
   }
   return true;
}

DWORD ApplyDacl(const std::wstring &name, PACL dacl)
{
   return SetNamedSecurityInfoW(const_cast<wchar_t *>(name.c_str()), SE_REGISTRY_KEY,
                                DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, dacl, nullptr);
}

// Ownership for the Administrators group, then the access list once more.
DWORD TakeOwnershipAndApply(const std::wstring &name, PACL dacl)
{
   if (!EnableTokenPrivilege(L"SeTakeOwnershipPrivilege", TRUE)) {
      return ERROR_ACCESS_DENIED;
   }
   SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
   SidHandle administrators;
   if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                 DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, administrators.Out())) {
      const DWORD error = GetLastError();
      Inst_LogCA("SID creation failed, lasterror %d", static_cast<int>(error));
      return error;
   }
   DWORD rc = SetNamedSecurityInfoW(const_cast<wchar_t *>(name.c_str()), SE_REGISTRY_KEY,
                                    OWNER_SECURITY_INFORMATION, administrators.Get(), nullptr,
                                    nullptr, nullptr);
   if (rc != ERROR_SUCCESS) {
      Inst_LogCA("SetNamedSecurityInfo failed, lasterror %d", static_cast<int>(rc));
      return rc;
   }
   if (!EnableTokenPrivilege(L"SeTakeOwnershipPrivilege", FALSE)) {
      return ERROR_ACCESS_DENIED;
   }
   rc = ApplyDacl(name, dacl);
   Inst_LogCA("SetNamedSecurityInfo returned %d", static_cast<int>(rc));
   return rc;
}

// Resets keyPath's access list to the default of a new key beside it, with
// inheritance switched on. A Windows error code, 0 on success.
DWORD ResetKeySecurity(HKEY root, const char *keyPath)
{
   const char *prefix = ObjectNamePrefix(root);
   if (prefix == nullptr || keyPath == nullptr || *keyPath == '\0') {
      return ERROR_INVALID_PARAMETER;
   }
   char objectName[kObjectNameSize];
   const int length = snprintf(objectName, sizeof objectName, "%s\\%s", prefix, keyPath);
   if (length < 0 || static_cast<size_t>(length) >= sizeof objectName) {
      Inst_LogCA("%s: key path too long", keyPath);
      return ERROR_FILENAME_EXCED_RANGE;
   }
   RegKeyHandle key;
   LONG rc = Win32U_RegOpenKeyEx(root, keyPath, 0, MAXIMUM_ALLOWED, key.Out());
   if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND) {
      Inst_LogCA("%s not present", keyPath);
      return ERROR_SUCCESS;
   }
   const std::string temporaryName = std::string(keyPath) + "~tmp";
   TemporaryKey temporary;
   rc = Win32U_RegCreateKeyEx(root, temporaryName.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                              kTemporaryKeyAccess, nullptr, temporary.Out(), nullptr);
   if (rc != ERROR_SUCCESS) {
      Inst_LogCA("%s creation failed, lasterror %d", temporaryName.c_str(), static_cast<int>(rc));
      return static_cast<DWORD>(rc);
   }
   PACL dacl = nullptr;
   LocalMemory descriptor;
   DWORD result = GetSecurityInfo(temporary.Get(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, &dacl, nullptr, descriptor.Out());
   if (result != ERROR_SUCCESS) {
      Inst_LogCA("GetSecurityInfo failed, lasterror %d", static_cast<int>(result));
      return result;
   }
   const std::wstring name = CaWideText(objectName);
   result = ApplyDacl(name, dacl);
   if (result == ERROR_ACCESS_DENIED) {
      return TakeOwnershipAndApply(name, dacl);
   }
   if (result != ERROR_SUCCESS) {
      Inst_LogCA("SetNamedSecurityInfo failed, lasterror %d", static_cast<int>(result));
   }
   return result;
}

bool ResetSucceeded(DWORD rc)
{
   return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND;
}

UINT ResetRegSecurity(MSIHANDLE install)
{
   Inst_LogCA("--- CA exec: OVResetRegSecurity");
   const int versionNT = MsiUtil_GetPropertyInt(install, "VersionNT");
   ResString productName = MsiUtil_GetPropertyString(install, "PRODUCT_REG_NAME");
   if (productName.empty()) {
      productName = kDefaultProductKey;
   }
   const std::string productKey = std::string(kMakerKey) + "\\" + productName;
   std::string failed;
   for (const std::string &keyPath : {std::string(kMakerKey), productKey}) {
      Inst_LogCA("Reseting security for HKLM\\%s", keyPath.c_str());
      if (!ResetSucceeded(ResetKeySecurity(HKEY_LOCAL_MACHINE, keyPath.c_str()))) {
         failed = keyPath;
         break;
      }
   }
   if (failed.empty()) {
      return ERROR_SUCCESS;
   }
   Inst_LogCA("ERROR: Failed to set default ACL on HKLM\\%s", failed.c_str());
   if (versionNT >= 600) {
      return ERROR_SUCCESS;
   }
   MsiUtil_SetProperty(install, "ERROR_RESET_REG_SECURITY_KEY", failed.c_str());
   MsiUtil_PostErrorMessage(install, kResetFailedError);
   return ERROR_INSTALL_FAILURE;
}

// Version9X read without a log line: on Windows 9x the action leaves no
// trace at all.
bool IsWindows9x(MSIHANDLE install)
{
   char value[16] = {};
   DWORD size = sizeof value;
   return Win32U_MsiGetProperty(install, "Version9X", value, &size) == ERROR_SUCCESS &&
          atoi(value) != 0;
}

} // namespace

OV_CUSTOM_ACTION OVResetRegSecurity(MSIHANDLE install)
{
   if (IsWindows9x(install)) {
      return ERROR_SUCCESS;
   }
   return CaFrame("OVResetRegSecurity", ERROR_INSTALL_FAILURE,
                  [&] { return ResetRegSecurity(install); });
}
