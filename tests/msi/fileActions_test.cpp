// The file and install-location custom actions through the built DLL in
// real installer sessions, on scratch folders of the process folder. Drive
// types, free space, access refusals and the product's recorded source are
// set through the DLL's import slots where Wine cannot make them; message
// boxes are answered by a watcher thread.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <memory>
#include <string>
#include <vector>

#include "tests/msi/msiSession.h"
#include "tests/win/files/fileHolder.h"
#include "tests/win/importSlot.h"

using namespace msitest;
using Strings = std::vector<std::string>;

namespace {

// Presses OK on every message box of this process while it lives, and
// keeps "caption|text" of each (the text: the box's longest static text).
class BoxAnswerer {
public:
   BoxAnswerer() : thread_([this] {
      while (!stop_) {
         EnumWindows(&BoxAnswerer::Found, reinterpret_cast<LPARAM>(this));
         Sleep(20);
      }
   }) {}
   ~BoxAnswerer()
   {
      stop_ = true;
      thread_.join();
   }
   Strings Take()
   {
      std::lock_guard<std::mutex> hold(lock_);
      return std::exchange(boxes_, Strings());
   }

private:
   static std::string Text(HWND window)
   {
      wchar_t text[1024] = {};
      GetWindowTextW(window, text, 1024);
      return Utf8(text);
   }
   static BOOL CALLBACK Found(HWND window, LPARAM self)
   {
      auto *a = reinterpret_cast<BoxAnswerer *>(self);
      wchar_t cls[16] = {};
      DWORD pid = 0;
      GetWindowThreadProcessId(window, &pid);
      GetClassNameW(window, cls, 16);
      if (pid == GetCurrentProcessId() && wcscmp(cls, L"#32770") == 0 && IsWindowVisible(window) &&
          a->answered_.insert(window).second) {
         std::string text;
         for (HWND c = FindWindowExW(window, nullptr, L"Static", nullptr); c != nullptr;
              c = FindWindowExW(window, c, L"Static", nullptr)) {
            text = Text(c).size() > text.size() ? Text(c) : text;
         }
         std::lock_guard<std::mutex> hold(a->lock_);
         a->boxes_.push_back(Text(window) + "|" + text);
         PostMessageW(window, WM_COMMAND, IDOK, 0);
      }
      return TRUE;
   }

   std::mutex lock_;
   Strings boxes_;
   std::set<HWND> answered_;
   std::atomic<bool> stop_{false};
   std::thread thread_;
};

class FileActions : public testing::Test {
protected:
   void SetUp() override
   {
      ASSERT_TRUE(session.Ok()) << session.Failure();
      std::filesystem::remove_all(scratch);
      std::filesystem::create_directories(scratch);
   }
   void TearDown() override
   {
      std::error_code ignored;
      std::filesystem::remove_all(scratch, ignored);
   }

   // The transcript ("LL text") of the export's run, without the session's
   // own lines; or, with `ownOnly`, only the action's own (I0) lines.
   Strings Run(const char *exportName, UINT rc, bool ownOnly = false)
   {
      LogMark mark;
      EXPECT_EQ(rc, dll.Call(exportName, session.Handle()));
      Strings lines;
      for (const std::string &line : mark.Transcript()) {
         if (line.compare(0, 3, "XX ") != 0 && (!ownOnly || line.compare(0, 3, "I0 ") == 0)) {
            lines.push_back(line);
         }
      }
      return lines;
   }
   std::string Path(const std::string &name) const { return Utf8(scratch.wstring()) + "\\" + name; }
   std::wstring WPath(const std::string &name) const { return Wide(Path(name)); }
   static void Write(const std::wstring &path, const std::string &bytes)
   {
      std::ofstream(path.c_str(), std::ios::binary) << bytes;
   }
   std::string Property(const char *name, const char *value)
   {
      return "I1 MsiUtil_GetPropertyString: Getting Property " + std::string(name) + " = " + value;
   }

   LoadedDll dll;
   MsiSession session;
   std::filesystem::path scratch = std::filesystem::path(ProcessFolder()) / L"files\u00e9";
};

bool Exists(const std::wstring &path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

TEST_F(FileActions, DeleteFilesAndFoldersWalksThePairs)
{
   const std::string f1 = Path("f1"), f2 = Path("f2"), d = Path("d");
   const std::string start = "I0 --- OVDeleteFilesAndFolders()";
   const struct {
      const char *label;
      std::string data;
      UINT rc;
      bool f1Gone, f2Gone, dGone;
      Strings lines;   // empty: not compared
      bool f1Held = false;   // by another process
   } cases[] = {
      {"empty", "", 0, false, false, false, {start}},
      {"a file and a folder, trailing ;", "file;" + f1 + ";folder;" + d + ";", 0, true, false, true, {}},
      {"second path empty", "file;" + f1 + ";folder;;file;" + f2, 0, true, false, false, {}},
      {"FOLDER is unknown", "FOLDER;" + d + ";file;" + f1, ERROR_INSTALL_FAILURE, false, false, false,
       {start, "I0 ERROR: Unknown type 'FOLDER'"}},
      {"pairs before an unknown type done", "file;" + f2 + ";File;" + f1 + ";folder;" + d, ERROR_INSTALL_FAILURE,
       false, true, false,
       {start, "I2 Util_DeleteFileW: Deleting " + f2, "I2 Util_FileExistsW: Found \"" + f2 + "\"",
        "I1 Util_DeleteFileW: Deleted file " + f2, "I0 ERROR: Unknown type 'File'"}},
      {"missing entries", "file;" + Path("none") + ";folder;" + Path("nodir"), 0, false, false, false,
       {start, "I2 Util_DeleteFileW: Deleting " + Path("none"),
        "I2 Util_FileExistsW: Did not find file/directory: \"" + Path("none") + "\"| posix code 2",
        "I2 Util_DeleteFileW: Already removed: " + Path("none"),
        "I1 Util_SafeDeleteDirectoryW: Path '" + Path("nodir") + "' does not exist"}},
      {"a file in use is left, the next one deleted", "file;" + f1 + ";file;" + f2, 0, false, true, false,
       {start, "I2 Util_DeleteFileW: Deleting " + f1, "I2 Util_FileExistsW: Found \"" + f1 + "\"",
        "W1 Util_DeleteFileW: Failed to delete " + f1 + ": 32| winerror code 32",
        "I2 Util_DeleteFileW: Deleting " + f2, "I2 Util_FileExistsW: Found \"" + f2 + "\"",
        "I1 Util_DeleteFileW: Deleted file " + f2}, true},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      Write(WPath("f1"), "1");
      Write(WPath("f2"), "2");
      std::filesystem::create_directories(scratch / L"d" / L"sub");
      Write(WPath("d\\sub\\x"), "x");
      ASSERT_EQ(0u, session.Set("CustomActionData", c.data.c_str()));
      std::unique_ptr<fileholder::Holder> holder(c.f1Held ? new fileholder::Holder(fileholder::HolderExe(), WPath("f1")) : nullptr);
      const Strings lines = Run("OVDeleteFilesAndFolders", c.rc);
      holder.reset();
      if (!c.lines.empty()) {
         Strings want = c.lines;
         want.insert(want.begin() + 1, "I1 MsiUtil_GetPropertyStringW: Getting Property CustomActionData = " + c.data);
         EXPECT_EQ(want, lines);
      }
      EXPECT_EQ(c.f1Gone, !Exists(WPath("f1")));
      EXPECT_EQ(c.f2Gone, !Exists(WPath("f2")));
      EXPECT_EQ(c.dGone, !Exists(WPath("d")));
   }
}

TEST_F(FileActions, ReadInPropertiesFromTheTextFileBesideThePackage)
{
   std::filesystem::create_directories(scratch / L"setup.txt.d");
   const std::string package = Path("setup.msi.d\\p.msi"), file = Path("setup.txt.d\\p.txt");
   const std::string reading = "I0 Reading in properties", found = "I2 Util_FileExists: Found \"" + file + "\"";
   auto set = [](const std::string &name, const std::string &value) {
      return "I1 MsiUtil_SetProperty: Setting property " + name + " = " + value;
   };
   const struct {
      const char *label;
      std::string database, contents;   // contents "-": no file
      std::map<std::string, std::string> properties;
      Strings lines;
   } cases[] = {
      {"CR LF, comments, blanks, no final break", package,
       "; preset\r\n   \r\n;INSTALLDIR=X\r\nINSTALLDIR=D:\\Tools\r\n A = b = c \r\nFLAG\r\n=value\r\nLAST=\xC3\xA9",
       {{"INSTALLDIR", "D:\\Tools"}, {"A", "b = c"}, {"FLAG", ""}, {"LAST", "\xC3\xA9"}},
       {reading, Property("OriginalDatabase", package.c_str()), found, set("INSTALLDIR", "D:\\Tools"),
        set("A", "b = c"), set("FLAG", ""), set("LAST", "\xC3\xA9")}},
      {"a line that is not UTF-8", package, "BAD=\xFF\xFE\nGOOD=1\n", {{"BAD", ""}, {"GOOD", "1"}},
       {reading, Property("OriginalDatabase", package.c_str()), found, "I0 Skipping a line that is not UTF-8.",
        set("GOOD", "1")}},
      {"no file", package, "-", {{"FLAG", "preset"}},
       {reading, Property("OriginalDatabase", package.c_str()),
        "I2 Util_FileExists: Did not find file/directory: \"" + file + "\"| posix code 2"}},
      {"no OriginalDatabase", "", "FLAG\n", {{"FLAG", "preset"}},
       {reading, Property("OriginalDatabase", ""), "I0 OriginalDatabase property was empty."}},
      {"upper-case extension", Path("P.MSI"), "FLAG\n", {{"FLAG", "preset"}},
       {reading, Property("OriginalDatabase", Path("P.MSI").c_str()),
        "I0 No property file for a package without the .msi extension."}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      DeleteFileW(Wide(file).c_str());
      if (c.contents != "-") {
         Write(Wide(file), c.contents);
      }
      ASSERT_EQ(0u, session.Set("FLAG", "preset"));
      ASSERT_EQ(0u, session.Set("OriginalDatabase", c.database.c_str()));
      EXPECT_EQ(c.lines, Run("OVReadInProperties", 0));
      for (const auto &[name, value] : c.properties) {
         EXPECT_EQ(value, session.Get(name.c_str())) << name;
      }
   }
}

namespace {

BOOL gAccessStatus = TRUE;
BOOL WINAPI AccessStandIn(PSECURITY_DESCRIPTOR, HANDLE, DWORD, PGENERIC_MAPPING, PPRIVILEGE_SET, LPDWORD,
                          LPDWORD granted, LPBOOL status)
{
   *granted = 0;
   *status = gAccessStatus;
   return TRUE;
}

char gRemoteDrive = 'N';
UINT WINAPI DriveTypeAStandIn(LPCSTR root)
{
   return root != nullptr && toupper(root[0]) == gRemoteDrive ? DRIVE_REMOTE : DRIVE_FIXED;
}

}  // namespace

TEST_F(FileActions, ValidateINSTALLDIR)
{
   testutil::ImportSlot access(dll.Module(), "advapi32.dll", "AccessCheck");
   testutil::ImportSlot driveType(dll.Module(), "kernel32.dll", "GetDriveTypeA");
   ASSERT_TRUE(access.Valid() && driveType.Valid());
   access.Point(&AccessStandIn);
   driveType.Point(&DriveTypeAStandIn);
   BoxAnswerer boxes;
   const std::string m13 = "Setup could not determine the drive letter for this installation path.  Please specify another installation path.";
   const std::string m14 = "The installation path may not contain a ';' character.  Please select an installation directory without this character.";
   const std::string m15 = "You may not install this product on a network drive.";
   const std::string m16 = "The installation path must have less than 255 characters.  This path has 260 characters.";
   const std::string m17 = "The installation directory is not writable. Please select another location or adjust its Access Control List.";
   const std::string p259 = "C:\\" + std::string(256, 'x'), p260 = p259 + "y", dir = Utf8(scratch.wstring());
   const struct {
      const char *label;
      std::string check, installDir, allowNetwork, errCaption;
      bool writable;
      std::string bad;
      Strings lines, box;   // after the opening line; "caption|text"
   } cases[] = {
      {"both empty", "", "", "", "Err", true, "1", {"I0 Failed to get the installation path"}, {"Err|" + m13}},
      {"INSTALLDIR used, caption from ProductName", "", "C:\\Tools\\", "", "", true, "0", {}, {}},
      {"UNC", "\\\\srv\\share\\P", "C:\\", "", "Err", true, "1", {"I0 Can't install on a remote drive"}, {"Err|" + m15}},
      {"UNC allowed", "\\\\srv\\share\\P", "", "1", "Err", true, "0", {}, {}},
      {"remote drive", "n:\\P", "", "0", "Err", true, "1", {"I0 Can't install on a remote drive"}, {"Err|" + m15}},
      {"semicolon", "C:\\a;b", "", "", "", true, "1", {"I0 Install path contains a semi-colon"}, {"Demo Product|" + m14}},
      {"259 bytes", p259, "", "", "Err", true, "0", {}, {}},
      {"260 bytes", p260, "", "", "Err", true, "1", {"I0 Install dir path too long: 260"}, {"Err|" + m16}},
      {"semicolon and too long", p260 + ";", "", "", "Err", true, "1", {"I0 Install path contains a semi-colon"}, {"Err|" + m14}},
      {"existing, not writable", dir, "", "", "Err", false, "1", {"I0 INSTALLDIR path not writable: " + dir}, {"Err|" + m17}},
      {"missing below an unwritable parent", dir + "\\new", "", "", "Err", false, "0", {}, {}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      session.Set("CheckINSTALLDIR", c.check.c_str());
      session.Set("INSTALLDIR", c.installDir.c_str());
      session.Set("AllowNetworkPath", c.allowNetwork.c_str());
      session.Set("ErrCaption", c.errCaption.c_str());
      session.Set("ProductName", "Demo Product");
      session.Set("BadINSTALLDIR", "stale");
      gAccessStatus = c.writable;
      Strings lines{"I0 Validating installation directory"};
      lines.insert(lines.end(), c.lines.begin(), c.lines.end());
      EXPECT_EQ(lines, Run("OVValidateINSTALLDIR", 0, true));
      EXPECT_EQ(c.bad, session.Get("BadINSTALLDIR"));
      EXPECT_EQ(c.box, boxes.Take());
   }
}

namespace {

std::map<char, std::pair<UINT, ULONGLONG>> gDrives;   // upper-case letter: type, free bytes
UINT WINAPI DriveTypeWStandIn(LPCWSTR root)
{
   auto d = gDrives.find(static_cast<char>(towupper(root[0])));
   return d == gDrives.end() ? DRIVE_NO_ROOT_DIR : d->second.first;
}
BOOL WINAPI SpaceStandIn(LPCWSTR root, PULARGE_INTEGER available, PULARGE_INTEGER total, PULARGE_INTEGER free)
{
   auto d = gDrives.find(static_cast<char>(towupper(root[0])));
   available->QuadPart = d->second.second;
   total->QuadPart = free->QuadPart = d->second.second + 7;
   return TRUE;
}

}  // namespace

TEST_F(FileActions, AutoSelectInstallDrive)
{
   testutil::ImportSlot type(dll.Module(), "kernel32.dll", "GetDriveTypeW");
   testutil::ImportSlot space(dll.Module(), "kernel32.dll", "GetDiskFreeSpaceExW");
   ASSERT_TRUE(type.Valid() && space.Valid());
   type.Point(&DriveTypeWStandIn);
   space.Point(&SpaceStandIn);
   const std::string start = "I0 AutoSelect installation drive.";
   const struct {
      const char *label;
      std::string required, installDir;
      ULONGLONG freeC, freeE;   // C: and E: fixed, D: a CD drive with room
      UINT rc;
      std::string target;       // INSTALLDIR afterwards
      Strings lines;
   } cases[] = {
      {"no size", "", "C:\\P\\", 9, 9, 0, "C:\\P\\", {start, "I0 Failed to retrieve size of installation; autoselect drive is turned off."}},
      {"size not a number", "abc", "C:\\P\\", 9, 9, 0, "C:\\P\\", {start, "I0 Failed to retrieve size of installation; autoselect drive is turned off."}},
      {"no INSTALLDIR", "5", "", 9, 9, 0, "", {start, "I0 INSTALLDIR property was empty; autoselection of installation drive is disabled."}},
      {"exactly equal does not do, one byte more does", "1,500,000", "C:\\P\\", 1500000, 1500001, 0, "E:\\P\\",
       {start, "I0 Adding E to fixed drive list.", "I0 Drive C has 1500000", "I0 Drive E has 1500001"}},
      {"current drive kept though another has more", "10", "C:\\P\\", 11, 99, 0, "C:\\P\\",
       {start, "I0 Adding E to fixed drive list.", "I0 Drive C has 11"}},
      {"lower-case letter listed twice", "10", "c:\\P\\", 5, 5, ERROR_DISK_FULL, "c:\\P\\",
       {start, "I0 Adding C to fixed drive list.", "I0 Adding E to fixed drive list.", "I0 Drive c has 5",
        "I0 Drive C has 5", "I0 Drive E has 5", "I0 Not enough disk space to proceed!"}},
      {"a CD drive is never chosen", "10", "D:\\P\\", 5, 50, 0, "E:\\P\\",
       {start, "I0 Adding C to fixed drive list.", "I0 Adding E to fixed drive list.", "I0 Drive D has 0",
        "I0 Drive C has 5", "I0 Drive E has 50"}},
      {"negative size", "-5", "C:\\P\\", 5, 5, ERROR_DISK_FULL, "C:\\P\\",
       {start, "I0 Adding E to fixed drive list.", "I0 Drive C has 5", "I0 Drive E has 5",
        "I0 Not enough disk space to proceed!"}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      gDrives = {{'C', {DRIVE_FIXED, c.freeC}}, {'D', {DRIVE_CDROM, 1000}}, {'E', {DRIVE_FIXED, c.freeE}}};
      session.Set("REQUIRED_SPACE", c.required.c_str());
      session.Set("INSTALLDIR", c.installDir.c_str());
      EXPECT_EQ(c.lines, Run("OVAutoSelectInstallDrive", c.rc, true));
      EXPECT_EQ(c.target, session.Get("INSTALLDIR"));
   }
}

namespace {

// The product's recorded source: `gSource`, or the failure of the first
// (length) or second (value) query.
std::wstring gSource;
UINT gFailLength = 0, gFailValue = 0;
UINT WINAPI ProductInfoStandIn(LPCWSTR, LPCWSTR property, LPWSTR buffer, LPDWORD size)
{
   if (wcscmp(property, L"InstallSource") != 0) {
      return ERROR_UNKNOWN_PROPERTY;
   }
   if (buffer == nullptr) {
      *size = static_cast<DWORD>(gSource.size());
      return gFailLength;
   }
   if (gFailValue != 0) {
      return gFailValue;
   }
   wcsncpy(buffer, gSource.c_str(), *size);
   *size = static_cast<DWORD>(gSource.size());
   return ERROR_SUCCESS;
}

}  // namespace

TEST_F(FileActions, IsRepairSafe)
{
   testutil::ImportSlot info(dll.Module(), "msi.dll", "MsiGetProductInfoW");
   ASSERT_TRUE(info.Valid());
   BoxAnswerer boxes;
   const std::string m18 = "Rather than using the Repair option in Add/Remove Programs, run the original Demo Product installer again to repair this application.";
   const std::string m19 = "Setup failed to get required information to repair this product.";
   const std::string code = "{8E0A5C53-3C2B-4F5B-9D47-61C0F1A2B7E4}";
   const struct {
      const char *label;
      bool standIn;
      std::string productCode, productName, source;
      UINT failLength, failValue, rc;
      Strings lines, box;
   } cases[] = {
      {"source present", true, code, "Demo Product", Utf8(scratch.wstring()) + "\\", 0, 0, 0, {"I0 OK to repair"}, {}},
      {"source gone", true, code, "Demo Product", Utf8(scratch.wstring()) + "\\gone\\", 0, 0, ERROR_INSTALL_USEREXIT,
       {"I0 Installer Source directory doesn't exist"}, {"Demo Product|" + m18}},
      {"empty ProductName", true, code, "", Utf8(scratch.wstring()) + "\\gone\\", 0, 0, ERROR_INSTALL_USEREXIT,
       {"I0 Installer Source directory doesn't exist"},
       {"|Rather than using the Repair option in Add/Remove Programs, run the original  installer again to repair this application."}},
      {"empty ProductCode", true, "", "Demo Product", "", 0, 0, ERROR_INSTALL_USEREXIT, {}, {"Demo Product|" + m19}},
      {"unknown product", false, code, "Demo Product", "", 0, 0, ERROR_INSTALL_USEREXIT,
       {"I0 Failed to get the length for sourcelocation: 1605"}, {"Demo Product|" + m19}},
      {"value query fails", true, code, "Demo Product", "C:\\", 0, ERROR_MORE_DATA, ERROR_INSTALL_USEREXIT,
       {"I0 Failed getting sourcelocation return value 234"}, {"Demo Product|" + m19}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      c.standIn ? info.Point(&ProductInfoStandIn) : info.Restore();
      gSource = Wide(c.source);
      gFailLength = c.failLength;
      gFailValue = c.failValue;
      session.Set("ProductCode", c.productCode.c_str());
      session.Set("ProductName", c.productName.c_str());
      session.Set("AbortInstall", "");
      EXPECT_EQ(c.lines, Run("OVIsRepairSafe", c.rc, true));
      EXPECT_EQ(c.rc != 0 ? "1" : "", session.Get("AbortInstall"));
      EXPECT_EQ(c.box, boxes.Take());
   }
}
