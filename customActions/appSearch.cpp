// OVAppSearch: the tests the installer's own application search lacks
// (a running program, an installed service, a running service), one per
// row of the package's OVAppSearch table. A row whose test succeeds sets
// its property; a row whose test fails leaves it as it was.
#include <cstring>
#include <string>

#include "common/msiUtil.h"
#include "common/process.h"
#include "common/service.h"
#include "customActions/caFrame.h"
#include "lib/misc/codeset.h"
#include "lib/misc/ownedHandle.h"
#include "lib/misc/win32u.h"

namespace {

enum : int {
   kRunningProgram = 1,
   kServiceInstalled = 2,
   kServiceRunning = 3,
};

const DWORD kPropertySize = 128;
const DWORD kFileNameSize = 260;
const DWORD kConfigSize = 4096;

// The buffer a row's FileName is read into; the service tests put what
// they found in its place, never more than it holds.
struct FileNameBuffer {
   char text[kFileNameSize] = {};
   void Replace(const char *value)
   {
      strncpy(text, value, kFileNameSize - 1);
      text[kFileNameSize - 1] = '\0';
   }
};

// The manager and the service a code-2 or code-3 row tests, opened with
// `access`; the service is closed before the manager.
struct RowService {
   ServiceHandle manager;
   ServiceHandle service;
};

// Opens the row's service after the 9x gate (the service tests mean nothing
// there: the property is emptied). False, after the row's line, when there
// is nothing to test.
bool OpenRowService(MSIHANDLE install, const char *property, const char *name, DWORD access,
                    RowService &row)
{
   if (MsiUtil_GetPropertyInt(install, "Version9X") != 0) {
      MsiUtil_SetProperty(install, property, "");
      Inst_LogCA("Services not available on 9X");
      return false;
   }
   row.manager.Reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
   if (!row.manager) {
      // The line ends in a percent sign of its own.
      Inst_LogCA("Opening Service Manager failed: %%");
      return false;
   }
   // The existence test opens the service by its narrow name, the state
   // test through the UTF-8 wrapper.
   row.service.Reset(access == SERVICE_QUERY_CONFIG
                        ? OpenServiceA(row.manager.Get(), name, access)
                        : Win32U_OpenService(row.manager.Get(), name, access));
   if (!row.service) {
      Inst_LogCA("Service %s could not be opened.", name);
      return false;
   }
   return true;
}

// The executable path of the service's configuration in place of its name,
// when the configuration can be read and the path fits.
void ReadServicePath(SC_HANDLE service, FileNameBuffer &fileName)
{
   auto *config = static_cast<QUERY_SERVICE_CONFIGW *>(LocalAlloc(LPTR, kConfigSize));
   if (config == nullptr) {
      Inst_LogCA("Could not allocate memory for service config.");
      return;
   }
   DWORD needed = 0;
   if (QueryServiceConfigW(service, config, kConfigSize, &needed) &&
       config->lpBinaryPathName != nullptr) {
      char *path = nullptr;
      size_t length = 0;
      const wchar_t *wide = config->lpBinaryPathName;
      if (CodeSet_Utf16leToUtf8(reinterpret_cast<const char *>(wide), wcslen(wide) * sizeof *wide,
                                &path, &length)) {
         Inst_LogCA("Service %s found with exe path \"%s\".", fileName.text, path);
         // A path too long for the buffer keeps the service's name.
         if (length < kFileNameSize) {
            fileName.Replace(path);
         }
         free(path);
      }
   }
   LocalFree(config);
}

void TestServiceInstalled(MSIHANDLE install, const char *property, FileNameBuffer &fileName)
{
   RowService row;
   if (!OpenRowService(install, property, fileName.text, SERVICE_QUERY_CONFIG, row)) {
      return;
   }
   Inst_LogCA("Service %s was found by name.", fileName.text);
   ReadServicePath(row.service.Get(), fileName);
   MsiUtil_SetProperty(install, property, fileName.text);
   Inst_LogCA("%s service exists and %s set", fileName.text, property);
}

struct StateRow {
   DWORD state;
   const char *line;
   const char *name;   // null: not counted as running
};

const StateRow kStates[] = {
   {SERVICE_STOPPED, "Service %s is stopped.", nullptr},
   {SERVICE_START_PENDING, "Service %s is pending start. (assume running)", "SERVICE_START_PENDING"},
   {SERVICE_STOP_PENDING, "Service %s is pending stopped.", nullptr},
   {SERVICE_RUNNING, "Service %s is running.", "SERVICE_RUNNING"},
   {SERVICE_CONTINUE_PENDING, "Service %s is pending continue. (assume running)",
    "SERVICE_CONTINUE_PENDING"},
   {SERVICE_PAUSE_PENDING, "Service %s is pending pause. (assume running)", "SERVICE_PAUSE_PENDING"},
   {SERVICE_PAUSED, "Service %s is paused. (assume running)", "SERVICE_PAUSED"},
};
const StateRow kUnknownState = {0, "Service %s is in unknown state. (assume running)",
                                "SERVICE_UNKNOWN_STATE"};

void TestServiceRunning(MSIHANDLE install, const char *property, FileNameBuffer &fileName)
{
   RowService row;
   if (!OpenRowService(install, property, fileName.text, SERVICE_QUERY_STATUS, row)) {
      return;
   }
   Inst_LogCA("Service %s was found.", fileName.text);
   SERVICE_STATUS status = {};
   if (!QueryServiceStatus(row.service.Get(), &status)) {
      return;
   }
   const StateRow *state = &kUnknownState;
   for (const StateRow &known : kStates) {
      if (known.state == status.dwCurrentState) {
         state = &known;
      }
   }
   Inst_LogCA(state->line, fileName.text);
   if (state->name != nullptr) {
      fileName.Replace(state->name);
      MsiUtil_SetProperty(install, property, fileName.text);
      Inst_LogCA("%s service is running and %s set", fileName.text, property);
   }
}

// One row; false when a field cannot be read, which ends the search.
bool HandleRow(MSIHANDLE install, MSIHANDLE record)
{
   // The wrapper fills its whole capacity without a terminator: one byte
   // of each buffer is kept for it, so that a longer text is an error.
   char property[kPropertySize] = {};
   DWORD size = kPropertySize - 1;
   UINT rc = Win32U_MsiRecordGetString(record, 1, property, &size);
   if (rc != ERROR_SUCCESS) {
      Inst_LogCA("Failed to retrieve property string: %i", static_cast<int>(rc));
      return false;
   }
   FileNameBuffer fileName;
   size = kFileNameSize - 1;
   rc = Win32U_MsiRecordGetString(record, 2, fileName.text, &size);
   if (rc != ERROR_SUCCESS) {
      Inst_LogCA("Failed to retrieve filename string: %i", static_cast<int>(rc));
      return false;
   }
   const int attributes = MsiRecordGetInteger(record, 3);
   if (attributes == static_cast<int>(MSI_NULL_INTEGER)) {
      Inst_LogCA("Failed to retrieve attributes");
      return false;
   }
   switch (attributes) {
   case kRunningProgram:
      if (Util_IsInMemory(fileName.text, nullptr)) {
         MsiUtil_SetProperty(install, property, fileName.text);
         Inst_LogCA("%s found in memory and %s set", fileName.text, property);
      }
      break;
   case kServiceInstalled:
      TestServiceInstalled(install, property, fileName);
      break;
   case kServiceRunning:
      TestServiceRunning(install, property, fileName);
      break;
   default:
      MsiUtil_SetProperty(install, property, "");
      Inst_LogCA("Unrecognized attribute: %d", attributes);
      break;
   }
   return true;
}

void SearchTable(MSIHANDLE install)
{
   MsiHandle database(MsiGetActiveDatabase(install));
   if (!database) {
      Inst_LogCA("Failed to get active database.");
      return;
   }
   MsiHandle view;
   UINT rc = MsiDatabaseOpenViewA(database.Get(), "SELECT * FROM OVAppSearch ", view.Out());
   if (rc != ERROR_SUCCESS) {
      Inst_LogCA("Failed to open database view: %i", static_cast<int>(rc));
      return;
   }
   rc = MsiViewExecute(view.Get(), 0);
   if (rc != ERROR_SUCCESS) {
      Inst_LogCA("Failed to execute view: %i", static_cast<int>(rc));
      return;
   }
   MsiHandle record;
   while (MsiViewFetch(view.Get(), record.Out()) == ERROR_SUCCESS) {
      if (!HandleRow(install, record.Get())) {
         return;
      }
   }
}

UINT AppSearch(MSIHANDLE install)
{
   Inst_LogCA("OVAppSearch running");
   SearchTable(install);
   Inst_LogCA("OVAppSearch ended");
   return ERROR_SUCCESS;
}

} // namespace

OV_CUSTOM_ACTION OVAppSearch(MSIHANDLE install)
{
   return CaFrame("OVAppSearch", ERROR_SUCCESS, [&] { return AppSearch(install); });
}
