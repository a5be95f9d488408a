// Custom actions that show the package's own Error-table messages: the
// warnings of a table of conditions, and one message box whose answer the
// package reads back from a property.
#include <cstdlib>
#include <string>
#include <vector>

#include "common/msiUtil.h"
#include "customActions/caFrame.h"
#include "customActions/wideText.h"
#include "lib/misc/win32u.h"

namespace {

// The condition buffer: longer conditions stop the walk.
constexpr DWORD kConditionSize = 128;
// An OK button and the exclamation icon.
constexpr UINT kDefaultStyle = MB_OK | MB_ICONEXCLAMATION;

// The opened and executed view of `query`; null after its failure was logged.
MsiHandle OpenView(MSIHANDLE database, const char *query)
{
   MsiHandle view;
   UINT rc = MsiDatabaseOpenViewA(database, query, view.Out());
   if (rc != ERROR_SUCCESS) {
      Inst_LogCA("Failed to open database view: %i", rc);
      return MsiHandle();
   }
   if ((rc = MsiViewExecute(view.Get(), 0)) != ERROR_SUCCESS) {
      Inst_LogCA("Failed to execute view: %i", rc);
      return MsiHandle();
   }
   return view;
}

void PostTableWarnings(MSIHANDLE install)
{
   MsiHandle database(MsiGetActiveDatabase(install));
   if (!database) {
      Inst_LogCA("Failed to get active database.");
      return;
   }
   MsiHandle view = OpenView(database.Get(), "SELECT * FROM OVDisplayWarnings ");
   if (!view) {
      return;
   }
   MsiHandle record;
   while (MsiViewFetch(view.Get(), record.Out()) == ERROR_SUCCESS) {
      char condition[kConditionSize] = {};
      DWORD size = kConditionSize - 1;   // the last byte stays the terminator
      UINT rc = Win32U_MsiRecordGetString(record.Get(), 1, condition, &size);
      if (rc != ERROR_SUCCESS) {
         Inst_LogCA("Failed to retrieve condition string: %i", rc);
         return;
      }
      if (MsiEvaluateConditionW(install, CaWideText(condition).c_str()) != MSICONDITION_TRUE) {
         Inst_LogCA("Condition \"%s\" is not TRUE, do not show message.", condition);
         continue;
      }
      const int error = MsiRecordGetInteger(record.Get(), 2);
      if (error == static_cast<int>(MSI_NULL_INTEGER)) {
         Inst_LogCA("Failed to retrieve message number.");
         return;
      }
      // The installer shows the warning or logs it; its answer is not used.
      MsiUtil_PostWarningMessage(install, 0, error);
   }
}

UINT DisplayWarnings(MSIHANDLE install)
{
   Inst_LogCA("OVDisplayWarnings running");
   PostTableWarnings(install);
   Inst_LogCA("OVDisplayWarnings ended");
   return ERROR_SUCCESS;
}

// The text of Error-table message `error` as the table holds it; false
// after its failure was logged.
bool ReadErrorText(MSIHANDLE install, int error, std::string &text)
{
   const ResString query = Util_Sprintf("SELECT Message FROM Error WHERE Error=%d ", error);
   MsiHandle database(MsiGetActiveDatabase(install));
   if (!database) {
      Inst_LogCA("Failed to get active database.");
      return false;
   }
   MsiHandle view = OpenView(database.Get(), query.c_str());
   if (!view) {
      return false;
   }
   MsiHandle record;
   UINT rc = MsiViewFetch(view.Get(), record.Out());
   if (rc != ERROR_SUCCESS) {
      Inst_LogCA("Failed to fetch the records : %i", rc);
      return false;
   }
   char none[1] = {};
   DWORD size = 0;
   rc = Win32U_MsiRecordGetString(record.Get(), 1, none, &size);
   if (rc != ERROR_MORE_DATA) {
      Inst_LogCA("Failed to retrieve error string : %i, size : %d", rc, static_cast<int>(size));
      return false;
   }
   std::vector<char> buffer(static_cast<size_t>(size) + 1, '\0');
   size = static_cast<DWORD>(buffer.size() - 1);
   if ((rc = Win32U_MsiRecordGetString(record.Get(), 1, buffer.data(), &size)) != ERROR_SUCCESS) {
      Inst_LogCA("Failed to retrieve condition string: %i", rc);
      return false;
   }
   text = buffer.data();
   return true;
}

void ShowMessageBox(MSIHANDLE install)
{
   if (MsiUtil_GetPropertyInt(install, "UILevel") < 3) {
      Inst_LogCA("Silent install so exiting.");
      return;
   }
   const ResString data = MsiUtil_GetPropertyString(install, "MSGBOX_DATA");
   if (data.empty()) {
      Inst_LogCA("Message box parameter property not set.");
      return;
   }
   uint32_t pos = 0;
   const int error = atoi(Util_NextToken(data, ";", pos).c_str());
   UINT style = static_cast<UINT>(atoi(Util_NextToken(data, ";", pos).c_str()));
   if (error == 0) {
      Inst_LogCA("Error number property not set.");
      return;
   }
   if (style == 0) {
      style = kDefaultStyle;
   }
   std::string text;
   if (!ReadErrorText(install, error, text)) {
      return;
   }
   const ResString caption = MsiUtil_GetPropertyString(install, "ProductName");
   // Blocks until the user answers; 0 when the box could not be shown.
   const int answer = Win32U_MessageBox(Util_GetInstallerWnd(), text.c_str(), caption.c_str(),
                                        style);
   MsiUtil_SetProperty(install, "MSGBOX_RTN", std::to_string(answer).c_str());
}

UINT MessageBoxAction(MSIHANDLE install)
{
   Inst_LogCA("OVMessageBox running.");
   ShowMessageBox(install);
   Inst_LogCA("OVMessageBox ended");
   return ERROR_SUCCESS;
}

} // namespace

OV_CUSTOM_ACTION OVDisplayWarnings(MSIHANDLE install)
{
   return CaFrame("OVDisplayWarnings", ERROR_SUCCESS, [&] { return DisplayWarnings(install); });
}

OV_CUSTOM_ACTION OVMessageBox(MSIHANDLE install)
{
   return CaFrame("OVMessageBox", ERROR_SUCCESS, [&] { return MessageBoxAction(install); });
}
