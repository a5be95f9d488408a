// The five file and install-location custom actions through the built DLL
// in real installer sessions, on a scratch folder of the process folder.
// Drive types, free space, access refusals, the product's recorded source
// and the message boxes are stand-ins in the DLL's import slots.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "tests/msi/msiSession.h"
#include "tests/win/expectLines.h"
#include "tests/win/importSlot.h"

using namespace msitest;
using Strings = std::vector<std::string>;

namespace {

Strings gBoxes;   // "caption|text|style" of each message box shown
int gAccess = 1;   // AccessCheck: 1 grants, 0 refuses, -1 fails
std::map<wchar_t, std::pair<UINT, ULONGLONG>> gDrives;   // upper-case letter: type (else unknown), free bytes
std::wstring gSource;                                 // the product's recorded source
UINT gFail[2];                                        // the results of asking its length and reading it

void Write(const std::string &path, const std::string &bytes)
{
   std::ofstream(Wide(path).c_str(), std::ios::binary) << bytes;
}

class FileActions : public testing::Test {
protected:
   void SetUp() override
   {
      ASSERT_TRUE(session.Ok()) << session.Failure();
      session.Set("ProductName", "Demo Product");
      ASSERT_TRUE(box.Valid());
      box.Point(+[](HWND, LPCWSTR text, LPCWSTR caption, UINT style) {
         gBoxes.push_back(Utf8(caption) + "|" + Utf8(text) + "|" + std::to_string(style));
         return IDOK;
      });
      std::filesystem::remove_all(scratch);
      std::filesystem::create_directories(scratch);
   }
   // Runs the export and compares its lines with `want`: its own, the
   // warnings and errors, and the installer messages it posts.
   void Run(const char *exportName, UINT rc, const Strings &want)
   {
      LogMark mark;
      gBoxes.clear();
      EXPECT_EQ(rc, dll.Call(exportName, session.Handle()));
      Strings lines;
      for (const std::string &line : mark.Transcript()) {
         // The installer window's lookup of its stored title may find the maker's key missing.
         if ((line.compare(0, 3, "I0 ") == 0 || line[0] == 'W' || line[0] == 'E' ||
              line.find(" MsiUtil_PostErrorMessage:") == 2) && line.find(" Util_GetKeyValueString:") != 2) {
            lines.push_back(line);
         }
      }
      testutil::ExpectTranscript(want, lines);
   }
   std::string Path(const std::string &name) const { return Utf8(scratch.wstring()) + "\\" + name; }

   LoadedDll dll;
   MsiSession session;
   testutil::ImportSlot box{dll.Module(), "user32.dll", "MessageBoxW"};
   std::filesystem::path scratch = std::filesystem::path(ProcessFolder()) / L"files\u00e9";
};

}  // namespace

TEST_F(FileActions, DeleteFilesAndFolders)
{
   const std::string f1 = Path("f1"), f2 = Path("f2"), f3 = Path("f3"), d = Path("d");
   for (const std::string &f : {f1, f2, f3}) {
      Write(f, "x");
   }
   std::filesystem::create_directories(scratch / L"d" / L"sub");
   Write(Path("d\\sub\\x"), "x");
   // A file in use is tried once and not put aside; the pairs after an
   // unknown type are not done.
   const std::string data = "file;" + f1 + ";file;" + f2 + ";folder;" + d + ";File;" + f3 + ";file;" + f3;
   ASSERT_EQ(0u, session.Set("CustomActionData", data.c_str()));
   HANDLE held = CreateFileW(Wide(f1).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
   Run("OVDeleteFilesAndFolders", ERROR_INSTALL_FAILURE,
       {"I0 --- OVDeleteFilesAndFolders()", "W1 Util_DeleteFileW: Failed to delete " + f1 + ": 32| winerror code 32",
        "I0 ERROR: Unknown type 'File'"});
   CloseHandle(held);
   EXPECT_TRUE(std::filesystem::exists(Wide(f1)));
   EXPECT_FALSE(std::filesystem::exists(Wide(f2)));
   EXPECT_FALSE(std::filesystem::exists(Wide(d)));
   EXPECT_TRUE(std::filesystem::exists(Wide(f3)));
}

TEST_F(FileActions, ReadInPropertiesFromTheTextFileBesideThePackage)
{
   std::filesystem::create_directories(scratch / L"setup.txt.d");
   Write(Path("setup.txt.d\\p.txt"), "FLAG\r\nA = b\r\nBAD=\xFF\r\nLAST=\xC3\xA9");
   const std::string r = "I0 Reading in properties";
   const std::map<std::string, std::string> untouched = {{"FLAG", "preset"}};
   const struct {
      std::string database;
      std::map<std::string, std::string> properties;   // afterwards; FLAG and BAD were "preset"
      Strings lines;
   } cases[] = {
      {Path("setup.msi.d\\p.msi"), {{"FLAG", ""}, {"A", "b"}, {"BAD", "preset"}, {"LAST", "\xC3\xA9"}},
       {r, "I0 Skipping a line that is not UTF-8."}},
      {Path("setup.msi.d\\none.msi"), untouched, {r}},
      {"", untouched, {r, "I0 OriginalDatabase property was empty."}},
      {Path("setup.txt.d\\p.MSI"), untouched, {r, "I0 No property file for a package without the .msi extension."}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.database);
      session.Set("FLAG", "preset");
      session.Set("BAD", "preset");
      session.Set("OriginalDatabase", c.database.c_str());
      Run("OVReadInProperties", 0, c.lines);
      for (const auto &[name, value] : c.properties) {
         EXPECT_EQ(value, session.Get(name.c_str())) << name;
      }
   }
}

TEST_F(FileActions, ValidateINSTALLDIR)
{
   testutil::ImportSlot access(dll.Module(), "advapi32.dll", "AccessCheck");
   testutil::ImportSlot driveType(dll.Module(), "kernel32.dll", "GetDriveTypeA");
   access.Point(+[](PSECURITY_DESCRIPTOR, HANDLE, DWORD, PGENERIC_MAPPING, PPRIVILEGE_SET, LPDWORD, LPDWORD,
                    LPBOOL status) -> BOOL {
      *status = gAccess > 0;
      SetLastError(ERROR_INVALID_SECURITY_DESCR);
      return gAccess >= 0;
   });
   driveType.Point(+[](LPCSTR root) -> UINT { return root[0] == 'n' ? DRIVE_REMOTE : DRIVE_FIXED; });
   // Message boxes: "caption|text|style", 48 an exclamation mark with an OK button.
   const std::string m13 = "Err|Setup could not determine the drive letter for this installation path.  Please specify another installation path.|48";
   const std::string m14 = "Demo Product|The installation path may not contain a ';' character.  Please select an installation directory without this character.|48";
   const std::string m15 = "Err|You may not install this product on a network drive.|48";
   const std::string m16 = "Err|The installation path must have less than 255 characters.  This path has 260 characters.|48";
   const std::string m17 = "Err|The installation directory is not writable. Please select another location or adjust its Access Control List.|48";
   const std::string p260 = "C:\\" + std::string(257, 'x'), dir = Utf8(scratch.wstring());
   const std::string v = "I0 Validating installation directory", notWritable = "I0 INSTALLDIR path not writable: " + dir;
   const struct {
      std::string check, installDir, allowNetwork, errCaption;
      int access;
      std::string bad;
      Strings lines, box;
   } cases[] = {
      {"", "", "", "Err", 1, "1", {v, "I0 Failed to get the installation path"}, {m13}},
      {"", "C:\\Tools\\", "", "Err", 1, "0", {v}, {}},
      {"n:\\P", "C:\\", "0", "Err", 1, "1", {v, "I0 Can't install on a remote drive"}, {m15}},
      {"n:\\P", "", "1", "Err", 1, "0", {v}, {}},
      {"C:\\a;b", "", "", "", 1, "1", {v, "I0 Install path contains a semi-colon"}, {m14}},
      {p260, "", "", "Err", 1, "1", {v, "I0 Install dir path too long: 260"}, {m16}},
      {dir, "", "", "Err", 0, "1", {v, notWritable}, {m17}},
      {dir, "", "", "Err", -1, "1",
       {v, "E1 Util_IsWritableDir: Unable to check access rights| winerror code 1338", notWritable}, {m17}},
      // A path that does not exist yet is not asked about.
      {dir + "\\new", "", "", "Err", 0, "0", {v}, {}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.check + "|" + c.installDir);
      session.Set("CheckINSTALLDIR", c.check.c_str());
      session.Set("INSTALLDIR", c.installDir.c_str());
      session.Set("AllowNetworkPath", c.allowNetwork.c_str());
      session.Set("ErrCaption", c.errCaption.c_str());
      session.Set("BadINSTALLDIR", "stale");
      gAccess = c.access;
      Run("OVValidateINSTALLDIR", 0, c.lines);
      EXPECT_EQ(c.bad, session.Get("BadINSTALLDIR"));
      EXPECT_EQ(c.box, gBoxes);
   }
}

TEST_F(FileActions, AutoSelectInstallDrive)
{
   testutil::ImportSlot type(dll.Module(), "kernel32.dll", "GetDriveTypeW");
   testutil::ImportSlot space(dll.Module(), "kernel32.dll", "GetDiskFreeSpaceExW");
   type.Point(+[](LPCWSTR root) { return gDrives[towupper(*root)].first; });
   space.Point(+[](LPCWSTR root, PULARGE_INTEGER available, PULARGE_INTEGER total, PULARGE_INTEGER free) -> BOOL {
      available->QuadPart = gDrives[towupper(*root)].second;
      total->QuadPart = free->QuadPart = available->QuadPart + 7;
      return TRUE;
   });
   const std::string start = "I0 AutoSelect installation drive.", readOnly = Path("ro");
   Write(readOnly, "x");
   SetFileAttributesW(Wide(readOnly).c_str(), FILE_ATTRIBUTE_READONLY);
   const struct {
      std::string required, installDir;
      ULONGLONG freeC, freeE;   // C: and E: fixed, D: a CD drive with room
      UINT rc;
      std::string target;       // INSTALLDIR afterwards
      Strings lines;
   } cases[] = {
      {"", "C:\\P\\", 9, 9, 0, "C:\\P\\", {start, "I0 Failed to retrieve size of installation; autoselect drive is turned off."}},
      {"5", "", 9, 9, 0, "", {start, "I0 INSTALLDIR property was empty; autoselection of installation drive is disabled."}},
      // A CD drive is never chosen; free space equal to the size does not do.
      {"1,500,000", "D:\\P\\", 1500000, 1500001, 0, "E:\\P\\",
       {start, "I0 Adding C to fixed drive list.", "I0 Adding E to fixed drive list.", "I0 Drive D has 0",
        "I0 Drive C has 1500000", "I0 Drive E has 1500001"}},
      // A negative size compares as a huge one; a lower-case letter is listed twice.
      {"-5", "c:\\P\\", 5, 5, ERROR_DISK_FULL, "c:\\P\\",
       {start, "I0 Adding C to fixed drive list.", "I0 Adding E to fixed drive list.", "I0 Drive c has 5",
        "I0 Drive C has 5", "I0 Drive E has 5", "I0 Not enough disk space to proceed!",
        "I1 MsiUtil_PostErrorMessage: Posting error message 26002"}},
      // The walk stops at the first drive with room; the installer refuses a read-only target.
      {"10", readOnly, 11, 99, 0, readOnly,
       {start, "I0 Adding E to fixed drive list.", "I0 Drive C has 11", "I0 MsiSetTargetPath failed 1627"}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.required + "|" + c.installDir);
      gDrives = {{L'C', {DRIVE_FIXED, c.freeC}}, {L'D', {DRIVE_CDROM, 1000}}, {L'E', {DRIVE_FIXED, c.freeE}}};
      session.Set("REQUIRED_SPACE", c.required.c_str());
      session.Set("INSTALLDIR", c.installDir.c_str());
      Run("OVAutoSelectInstallDrive", c.rc, c.lines);
      EXPECT_EQ(c.target, session.Get("INSTALLDIR"));
   }
   SetFileAttributesW(Wide(readOnly).c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(FileActions, IsRepairSafe)
{
   testutil::ImportSlot info(dll.Module(), "msi.dll", "MsiGetProductInfoW");
   info.Point(+[](LPCWSTR, LPCWSTR property, LPWSTR buffer, LPDWORD size) -> UINT {
      const UINT fail = gFail[buffer != nullptr];
      buffer != nullptr && fail == 0 && wcsncpy(buffer, gSource.c_str(), *size);
      *size = static_cast<DWORD>(gSource.size());
      return fail != 0 ? fail : wcscmp(property, L"InstallSource") == 0 ? ERROR_SUCCESS : ERROR_UNKNOWN_PROPERTY;
   });
   const std::string m18 = "Rather than using the Repair option in Add/Remove Programs, run the original Demo Product installer again to repair this application.";
   const std::string m19 = "Demo Product|Setup failed to get required information to repair this product.|0";
   const std::string code = "{8E0A5C53-3C2B-4F5B-9D47-61C0F1A2B7E4}", dir = Utf8(scratch.wstring());
   const struct {
      std::string productCode, source;
      UINT failLength, failValue, rc;
      Strings lines, box;
   } cases[] = {
      {code, dir + "\\", 0, 0, 0, {"I0 OK to repair"}, {}},
      {code, dir + "\\gone\\", 0, 0, ERROR_INSTALL_USEREXIT, {"I0 Installer Source directory doesn't exist"},
       {"Demo Product|" + m18 + "|0"}},
      {"", "", 0, 0, ERROR_INSTALL_USEREXIT, {}, {m19}},
      {code, "", ERROR_UNKNOWN_PRODUCT, 0, ERROR_INSTALL_USEREXIT,
       {"I0 Failed to get the length for sourcelocation: 1605"}, {m19}},
      {code, "C:\\", 0, ERROR_MORE_DATA, ERROR_INSTALL_USEREXIT, {"I0 Failed getting sourcelocation return value 234"}, {m19}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.source);
      gSource = Wide(c.source);
      gFail[0] = c.failLength;
      gFail[1] = c.failValue;
      session.Set("ProductCode", c.productCode.c_str());
      session.Set("AbortInstall", "");
      Run("OVIsRepairSafe", c.rc, c.lines);
      EXPECT_EQ(c.rc != 0 ? "1" : "", session.Get("AbortInstall"));
      EXPECT_EQ(c.box, gBoxes);
   }
}
