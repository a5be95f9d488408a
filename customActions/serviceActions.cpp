// Custom actions that install and remove kernel drivers and services: from
// their CustomActionData, through INF sections, and the failure actions of
// an installed service. All are deferred actions.
#include <windows.h>
#include <setupapi.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "common/msiUtil.h"
#include "common/registry.h"
#include "common/service.h"
#include "common/serviceActionData.h"
#include "customActions/caFrame.h"
#include "lib/misc/codeset.h"

namespace {

constexpr int kInstallFailureMessage = 25030;
constexpr int kUninstallFailureMessage = 25031;
const char kUninstallRebootComponent[] = "KernelDriverUninstall";
const char kInfWorker[] = "InstallOrUninstallByInfSection";

// Standard rights required plus querying and changing the configuration,
// querying the status, enumerating dependents, start and stop: enough to
// set failure actions, including one that restarts the service.
constexpr DWORD kFailureConfigAccess = 0xF003F;

// Service names go to the service library in the active code page.
std::string Narrow(const WideString &wide, UINT codePage)
{
   const int bytes = WideCharToMultiByte(codePage, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
   if (bytes <= 1) {
      return std::string();
   }
   std::string narrow(static_cast<size_t>(bytes), '\0');
   WideCharToMultiByte(codePage, 0, wide.c_str(), -1, &narrow[0], bytes, nullptr, nullptr);
   narrow.resize(static_cast<size_t>(bytes) - 1);
   return narrow;
}

std::wstring WideFromUtf8(const std::string &utf8)
{
   char *out = nullptr;
   size_t size = 0;
   if (!CodeSet_Utf8ToUtf16le(utf8.data(), utf8.size(), &out, &size)) {
      return std::wstring();
   }
   std::unique_ptr<char, decltype(&free)> owned(out, &free);
   return std::wstring(reinterpret_cast<const wchar_t *>(out), size / sizeof(wchar_t));
}

// The tag to place behind the reference: the one the SCM handed back, or,
// when it handed back none (an existing service reconfigured, one created
// again, or no tag asked for), the one its key already holds. A service
// with no tag at all has no place in the group's list.
bool TagToInsert(const WideString &serviceName, DWORD obtained, DWORD &tag)
{
   if (obtained != 0) {
      tag = obtained;
      return true;
   }
   const std::wstring key = L"SYSTEM\\CurrentControlSet\\services\\" + serviceName;
   DWORD value = 0;
   DWORD size = sizeof value;
   if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"Tag", RRF_RT_REG_DWORD, nullptr, &value,
                    &size) != ERROR_SUCCESS || value == 0) {
      return false;
   }
   tag = value;
   return true;
}

UINT InstallKernelDriver(MSIHANDLE install)
{
   Inst_LogCA("--- %s()", "OVInstallKernelDriver");
   const KernelDriverInstallData d =
      ServiceData_ParseKernelDriverInstall(MsiUtil_GetPropertyStringW(install, "CustomActionData"));
   Inst_LogCA("Installing %S", d.serviceName.c_str());
   if (!d.HasRequired()) {
      Inst_LogCA("ERROR: Invalid CustomActionData for OVInstallKernelDriver");
      return ERROR_INSTALL_FAILURE;
   }
   DWORD tag = 0;
   if (!Inst_InstallServiceW(d.serviceName.c_str(), d.displayName.c_str(), d.description.c_str(),
                             d.serviceType, d.startType, d.binaryPath.c_str(),
                             d.loadOrderGroup.c_str(), d.dependencies.c_str(), d.errorControl, TRUE,
                             d.wantTag ? &tag : nullptr, FALSE)) {
      Inst_LogCA("ERROR: Failed to install service: %S", d.serviceName.c_str());
      MsiUtil_PostMessageEx(install, INSTALLMESSAGE(INSTALLMESSAGE_ERROR | MB_ICONWARNING),
                            kInstallFailureMessage, "s", Narrow(d.serviceName, CP_UTF8).c_str());
      return ERROR_INSTALL_FAILURE;
   }
   if (!d.loadAfter.empty()) {
      DWORD placed = 0;
      if (!TagToInsert(d.serviceName, tag, placed)) {
         Inst_LogCA("WARNING: No load order tag for %S, not placed after %S", d.serviceName.c_str(),
                    d.loadAfter.c_str());
      } else if (InsertServiceInLoadOrder(d.loadOrderGroup.c_str(), d.loadAfter.c_str(), placed) !=
                 ERROR_SUCCESS) {
         Inst_LogCA("WARNING: Ignoring failure to insert load order tag");
      }
   }
   if (d.startNow != 0) {
      const std::string name = Narrow(d.serviceName, CP_ACP);
      if (!Inst_StartService(name.c_str())) {
         Inst_LogCA("WARNING: Failed to start service: %s", name.c_str());
         Util_SetReboot(Narrow(d.serviceName, CP_UTF8).c_str());
      }
   }
   return ERROR_SUCCESS;
}

UINT UninstallKernelDriver(MSIHANDLE install)
{
   Inst_LogCA("OVUninstallKernelDriver running");
   const ResString data = MsiUtil_GetPropertyString(install, "CustomActionData");
   Inst_LogCA("CustomActionData = %s", data.c_str());
   const KernelDriverUninstallData d = ServiceData_ParseKernelDriverUninstall(data);
   if (d.serviceName.empty()) {
      Inst_LogCA("Invalid CustomActionData for OVUninstallKernelDriver");
      return ERROR_INSTALL_FAILURE;
   }
   // The tag is read from the service's key, so it goes before the service.
   if (d.removeTag &&
       RemoveServiceFromLoadOrder(WideFromUtf8(d.loadOrderGroup).c_str(), d.serviceName.c_str()) !=
          ERROR_SUCCESS) {
      Inst_LogCA("WARNING: Ignoring failure to reload load order tag");
   }
   BOOL rebootRequired = FALSE;
   if (!Inst_UninstallService(d.serviceName.c_str(), &rebootRequired)) {
      Inst_LogCA("WARNING: Failed to uninstall service");
      MsiUtil_PostMessageEx(install, INSTALLMESSAGE(INSTALLMESSAGE_WARNING | MB_ICONWARNING),
                            kUninstallFailureMessage, "s", d.serviceName.c_str());
      rebootRequired = TRUE;
   }
   if (rebootRequired) {
      Util_SetReboot(kUninstallRebootComponent);
   }
   Inst_LogCA("OVUninstallKernelDriver Done");
   return ERROR_SUCCESS;
}

// Whether the section installs or removes is the section's business; the
// service is stopped first so that its files can be replaced or removed.
void InstallOrUninstallByInfSection(MSIHANDLE install)
{
   const InfSectionData d =
      ServiceData_ParseInfSection(MsiUtil_GetPropertyString(install, "CustomActionData"),
                                  MsiUtil_GetPropertyStringW(install, "CustomActionData"));
   Inst_LogCA("%s: INFO: --- (%s)", kInfWorker, d.serviceName.c_str());
   if (!Inst_StopService(d.serviceName.c_str(), TRUE)) {
      Inst_LogCA("%s: WARNING: - Failed to stop %s service", kInfWorker, d.serviceName.c_str());
      Util_SetReboot(d.serviceName.c_str());
   }
   // The setup API reports nothing back, and its last error cannot be
   // trusted either: the outcome is the section's registry and services.
   WideString commandLine = d.CommandLine();
   InstallHinfSectionW(nullptr, nullptr, commandLine.c_str(), 0);
   Inst_LogCA("%s: INFO: Done", kInfWorker);
}

UINT RunInfSection(const char *action, MSIHANDLE install)
{
   Inst_LogCA("%s: INFO: Enter", action);
   InstallOrUninstallByInfSection(install);
   Inst_LogCA("%s: INFO: Done", action);
   return ERROR_SUCCESS;
}

UINT ServiceFailureConfig(MSIHANDLE install)
{
   Inst_LogCA("--- %s()", "OVServiceFailureConfig");
   FailureConfigData d =
      ServiceData_ParseFailureConfig(MsiUtil_GetPropertyStringW(install, "CustomActionData"));
   if (d.check == FailureConfigCheck::NoServiceName) {
      Inst_LogCA("ERROR: Service name not specified");
      return ERROR_INSTALL_FAILURE;
   }
   if (d.resetInfinite) {
      Inst_LogCA("INFO: ResetPeriodInDays was less than 0 - setting to INFINITE");
   }
   switch (d.check) {
   case FailureConfigCheck::NegativeDelay:
      Inst_LogCA("ERROR: RestartServiceDelayInSeconds is less than 0");
      return ERROR_INSTALL_FAILURE;
   case FailureConfigCheck::UnknownMethod:
      Inst_LogCA("ERROR: Unknown failure method: %S", d.unknownMethod.c_str());
      return ERROR_INSTALL_FAILURE;
   case FailureConfigCheck::NoActions:
      Inst_LogCA("ERROR: No failure actions specified");
      return ERROR_INSTALL_FAILURE;
   default:
      break;
   }

   ServiceHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
   if (!scm) {
      const DWORD error = GetLastError();
      Inst_LogCA("ERROR: Failed to open SCM [%S]", Inst_ErrorCodeText(error).c_str());
      return ERROR_INSTALL_FAILURE;
   }
   ServiceHandle service(OpenServiceW(scm.Get(), d.serviceName.c_str(), kFailureConfigAccess));
   if (!service) {
      const DWORD error = GetLastError();
      Inst_LogCA("ERROR: Failed to open service: '%S' [%S]", d.serviceName.c_str(),
                 Inst_ErrorCodeText(error).c_str());
      return ERROR_INSTALL_FAILURE;
   }
   SC_ACTION actions[3] = {};
   for (uint32_t i = 0; i < d.actionCount; i++) {
      actions[i].Type = static_cast<SC_ACTION_TYPE>(d.actionTypes[i]);
      actions[i].Delay = d.delayMs;
   }
   // A message or command no action uses stays null, which leaves the
   // service's own unchanged.
   SERVICE_FAILURE_ACTIONSW config = {};
   config.dwResetPeriod = d.resetPeriodSeconds;
   config.lpRebootMsg = d.usesRebootMessage ? &d.rebootMessage[0] : nullptr;
   config.lpCommand = d.usesCommand ? &d.command[0] : nullptr;
   config.cActions = d.actionCount;
   config.lpsaActions = actions;
   if (!ChangeServiceConfig2W(service.Get(), SERVICE_CONFIG_FAILURE_ACTIONS, &config)) {
      const DWORD error = GetLastError();
      Inst_LogCA("ERROR: Failed to config service: '%S' [%S]", d.serviceName.c_str(),
                 Inst_ErrorCodeText(error).c_str());
      return ERROR_INSTALL_FAILURE;
   }
   return ERROR_SUCCESS;
}

}  // namespace

OV_CUSTOM_ACTION OVInstallKernelDriver(MSIHANDLE install)
{
   return CaFrame("OVInstallKernelDriver", ERROR_INSTALL_FAILURE,
                  [&] { return InstallKernelDriver(install); });
}

OV_CUSTOM_ACTION OVUninstallKernelDriver(MSIHANDLE install)
{
   return CaFrame("OVUninstallKernelDriver", ERROR_INSTALL_FAILURE,
                  [&] { return UninstallKernelDriver(install); });
}

OV_CUSTOM_ACTION OVInstallInfKernelDriver(MSIHANDLE install)
{
   return CaFrame("OVInstallInfKernelDriver", ERROR_SUCCESS,
                  [&] { return RunInfSection("OVInstallInfKernelDriver", install); });
}

OV_CUSTOM_ACTION OVUninstallInfKernelDriver(MSIHANDLE install)
{
   return CaFrame("OVUninstallInfKernelDriver", ERROR_SUCCESS,
                  [&] { return RunInfSection("OVUninstallInfKernelDriver", install); });
}

OV_CUSTOM_ACTION OVServiceFailureConfig(MSIHANDLE install)
{
   return CaFrame("OVServiceFailureConfig", ERROR_INSTALL_FAILURE,
                  [&] { return ServiceFailureConfig(install); });
}
