// Custom actions that work on files: deleting the files and folders a
// package names, and reading installer properties from a text file beside
// the package.
#include "common/file.h"
#include "common/fileText.h"
#include "common/msiUtil.h"
#include "customActions/caFrame.h"

namespace {

UINT DeleteFilesAndFolders(MSIHANDLE install)
{
   Inst_LogCA("--- %s()", "OVDeleteFilesAndFolders");
   const WideString data = MsiUtil_GetPropertyStringW(install, "CustomActionData");
   for (const DeleteEntry &entry : Util_ParseDeleteList(data)) {
      // What cannot be deleted is logged below; the list goes on.
      switch (entry.kind) {
      case DeleteKind::File:
         Util_DeleteFileW(entry.path, 0, FALSE);
         break;
      case DeleteKind::Folder:
         Util_SafeDeleteDirectoryW(entry.path.c_str(), UTIL_DELETE_DESCEND | UTIL_DELETE_FILES);
         break;
      case DeleteKind::Unknown:
         Inst_LogCA("ERROR: Unknown type '%S'", entry.type.c_str());
         return ERROR_INSTALL_FAILURE;
      }
   }
   return ERROR_SUCCESS;
}

UINT ReadInProperties(MSIHANDLE install)
{
   Inst_LogCA("Reading in properties");
   const ResString package = MsiUtil_GetPropertyString(install, "OriginalDatabase");
   if (package.empty()) {
      Inst_LogCA("OriginalDatabase property was empty.");
      return ERROR_SUCCESS;
   }
   const std::string path = Util_PropertyFilePath(package);
   // Without a lower-case ".msi" the derived name is the package itself,
   // whose bytes are no property file.
   if (path == package) {
      Inst_LogCA("No property file for a package without the .msi extension.");
      return ERROR_SUCCESS;
   }
   if (!Util_FileExists(path)) {
      return ERROR_SUCCESS;
   }
   for (const PropertyAssignment &a : Util_ParsePropertyFile(Util_GetFileContents(path))) {
      // Installer properties are Unicode: bytes of another encoding would
      // be guessed at, so their line is left out.
      if (!Util_IsUtf8(a.name) || !Util_IsUtf8(a.value)) {
         Inst_LogCA("Skipping a line that is not UTF-8.");
         continue;
      }
      MsiUtil_SetProperty(install, a.name.c_str(), a.value.c_str());
   }
   return ERROR_SUCCESS;
}

}  // namespace

OV_CUSTOM_ACTION OVDeleteFilesAndFolders(MSIHANDLE install)
{
   return CaFrame("OVDeleteFilesAndFolders", ERROR_INSTALL_FAILURE,
                  [&] { return DeleteFilesAndFolders(install); });
}

OV_CUSTOM_ACTION OVReadInProperties(MSIHANDLE install)
{
   return CaFrame("OVReadInProperties", ERROR_SUCCESS, [&] { return ReadInProperties(install); });
}
