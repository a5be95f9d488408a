// OVStopRunningServices: on the Vista generation, the services listed in
// the property StopRunningServices ("count;name1;name2;...") are shut down
// through the Restart Manager before files are replaced.
#include <new>
#include <vector>

#include "common/msiUtil.h"
#include "common/osInfo.h"
#include "common/process.h"
#include "common/processText.h"
#include "customActions/caFrame.h"

namespace {

// The property's value, read with the installer's wide function. False
// after logging when it cannot be read.
bool ReadServiceList(MSIHANDLE install, std::vector<wchar_t> &value)
{
   wchar_t none[1] = L"";
   DWORD chars = 0;
   UINT rc = MsiGetPropertyW(install, L"StopRunningServices", none, &chars);
   if (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
      try {
         value.assign(static_cast<size_t>(chars) + 1, L'\0');
      } catch (const std::bad_alloc &) {
         Inst_LogCA("Memory allocation failure, %d", static_cast<int>(GetLastError()));
         return false;
      }
      chars++;
      rc = MsiGetPropertyW(install, L"StopRunningServices", value.data(), &chars);
   }
   if (rc != ERROR_SUCCESS) {
      Inst_LogCA("Failed to get property");
      return false;
   }
   return true;
}

UINT StopRunningServices(MSIHANDLE install)
{
   Inst_LogCA("Stopping services.");
   if (Util_GetOSType() != OS_VISTA) {
      return ERROR_SUCCESS;
   }
   std::vector<wchar_t> value;
   if (!ReadServiceList(install, value)) {
      return ERROR_SUCCESS;
   }
   Inst_LogCA("StopRunningService property %S", value.data());
   const WideString text(reinterpret_cast<const utf16_t *>(value.data()));
   const ServiceList list = ProcessText_ServiceList(text);
   switch (list.check) {
   case ServiceListCheck::NoSeparator:
      Inst_LogCA("Number of services not provided");
      return ERROR_SUCCESS;
   case ServiceListCheck::ZeroCount:
      Inst_LogCA("Number of services is zero");
      return ERROR_SUCCESS;
   case ServiceListCheck::BadCount:
      Inst_LogCA("Memory allocation failed");
      return ERROR_SUCCESS;
   case ServiceListCheck::Ok:
      break;
   }
   std::vector<const wchar_t *> names;
   for (const WideString &name : list.names) {
      names.push_back(reinterpret_cast<const wchar_t *>(name.c_str()));
   }
   Util_StopFilesInUse(static_cast<uint32_t>(names.size()), names.data());
   return ERROR_SUCCESS;
}

} // namespace

OV_CUSTOM_ACTION OVStopRunningServices(MSIHANDLE install)
{
   return CaFrame("OVStopRunningServices", ERROR_SUCCESS,
                  [&] { return StopRunningServices(install); });
}
