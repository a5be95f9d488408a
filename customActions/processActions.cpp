// Custom actions on running programs and COM servers: terminating a
// program before its files are replaced, telling whether the virtual
// machine of this guest is running, and (un)registering COM server DLLs.
#include <list>
#include <string>

#include "common/msiUtil.h"
#include "common/process.h"
#include "common/processText.h"
#include "customActions/caFrame.h"

namespace {

UINT AppTerminate(MSIHANDLE install)
{
   Inst_LogCA("OVAppTerminate running");
   // Immediate actions name the program in the property, deferred ones in
   // their CustomActionData.
   ResString name = MsiUtil_GetPropertyString(install, "OV_AppTerminate");
   if (name.empty()) {
      name = MsiUtil_GetPropertyString(install, "CustomActionData");
   }
   if (name.empty()) {
      Inst_LogCA("Failed to get OV_AppTerminate or CustomActionData property.");
   } else {
      Util_AppTerminate(name.c_str());
   }
   Inst_LogCA("OVAppTerminate ended");
   return ERROR_SUCCESS;
}

// Whether one of the "orvane-ovx" processes was started for the machine
// the property names (its path is on the command line).
bool IsMachineRunning(const ResString &machine)
{
   std::list<DWORD> pids;
   if (!Util_GetProcessIdList("orvane-ovx", pids)) {
      Inst_LogCA("Could not retrieve the ProcessIds");
      return false;
   }
   std::string wanted = machine;
   Util_StrToLower(&wanted[0]);
   for (DWORD pid : pids) {
      std::string commandLine;
      if (!Util_GetProcessCommandLine(pid, commandLine)) {
         continue;
      }
      Util_StrToLower(&commandLine[0]);
      if (commandLine.find(wanted) != std::string::npos) {
         return true;
      }
   }
   return false;
}

UINT DetectRunningVM(MSIHANDLE install)
{
   Inst_LogCA("Detect Running VM");
   const ResString machine = MsiUtil_GetPropertyString(install, "OVX");
   bool running = false;
   if (machine.empty()) {
      Inst_LogCA("%s property did not exist", "OVX");
   } else {
      running = IsMachineRunning(machine);
   }
   MsiUtil_SetProperty(install, "VM_RUNNING", running ? "1" : "");
   return ERROR_SUCCESS;
}

} // namespace

// Walks the folder;file pairs of CustomActionData; a DLL that fails is
// logged and the walk goes on.
UINT RegisterServerList(MSIHANDLE install, int doRegister)
{
   const ResString data = MsiUtil_GetPropertyString(install, "CustomActionData");
   if (data.empty()) {
      Inst_LogCA("ERROR: The CustomActionData property has no data.");
      return ERROR_SUCCESS;
   }
   for (const auto &[folder, file] : ProcessText_ServerList(data)) {
      Inst_LogCA("File to be %s %s\\%s", doRegister ? "registered" : "unregistered", folder.c_str(),
                 file.c_str());
      Util_RegServer(folder.c_str(), file.c_str(), doRegister == 0);
   }
   return ERROR_SUCCESS;
}

OV_CUSTOM_ACTION OVAppTerminate(MSIHANDLE install)
{
   return CaFrame("OVAppTerminate", ERROR_SUCCESS, [&] { return AppTerminate(install); });
}

OV_CUSTOM_ACTION OVDetectRunningVM(MSIHANDLE install)
{
   return CaFrame("OVDetectRunningVM", ERROR_SUCCESS, [&] { return DetectRunningVM(install); });
}

OV_CUSTOM_ACTION OVRegSvr(MSIHANDLE install)
{
   return CaFrame("OVRegSvr", ERROR_SUCCESS, [&] { return RegisterServerList(install, 1); });
}

OV_CUSTOM_ACTION OVUnregSvr(MSIHANDLE install)
{
   return CaFrame("OVUnregSvr", ERROR_SUCCESS, [&] { return RegisterServerList(install, 0); });
}
