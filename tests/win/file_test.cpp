// The file utilities on real files in scratch folders of the test prefix's
// drive C:. Owners, reparse points, refused access checks and drive states
// that Wine cannot produce are reached through this program's import slots.
#include "common/file.h"

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/win/files/fileHolder.h"
#include "tests/win/importSlot.h"
#include "tests/win/win32uTestUtil.h"

using namespace win32utest;
using Strings = std::vector<std::string>;

namespace {

std::string Win(DWORD code)
{
   return "| winerror code " + Str(code) + " (" + Utf8(Inst_WinErrorText(code)) + ")";
}

std::string Posix(int code)
{
   return "| posix code " + Str(code) + " (" + Utf8(Inst_ErrnoText(code)) + ")";
}

void Write(const std::wstring &path, const std::string &bytes)
{
   std::ofstream(path.c_str(), std::ios::binary) << bytes;
}

void MakeTree(const std::wstring &top, const std::vector<std::wstring> &entries)
{
   CreateDirectoryW(top.c_str(), nullptr);
   for (const std::wstring &e : entries) {
      e.back() == L'\\' ? (void)CreateDirectoryW((top + L"\\" + e).c_str(), nullptr)
                        : Write(top + L"\\" + e, "x");
   }
}

std::wstring RegString(HKEY root, const wchar_t *key, const wchar_t *value)
{
   std::vector<wchar_t> buf(65536);
   DWORD size = DWORD(buf.size() * sizeof(wchar_t));
   if (RegGetValueW(root, key, value, RRF_RT_REG_SZ | RRF_RT_REG_MULTI_SZ, nullptr, buf.data(), &size) != 0) {
      return L"";
   }
   std::wstring s(buf.data(), size / sizeof(wchar_t));
   if (!s.empty() && s.back() == L'\0') {
      s.pop_back();   // the terminator
   }
   std::replace(s.begin(), s.end(), L'\0', L'|');
   return s;
}

const wchar_t kRebootKey[] = L"SOFTWARE\\Orvane, Inc.\\NeedReboot";
const wchar_t kPending[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

}  // namespace

TEST(FileUtil, ExistenceAndContents)
{
   ScratchDir dir;
   const std::wstring file = dir.WidePath("f.txt"), missing = dir.WidePath("none");
   Write(file, "a\r\nb\xFF\r\n");
   const std::string longPath = dir.utf8() + "\\" + std::string(260, 'x');
   LogCapture log;
   EXPECT_TRUE(Util_FileExists(dir.Utf8Path("f.txt")));
   EXPECT_FALSE(Util_FileExists(Utf8(missing)));
   EXPECT_FALSE(Util_FileExists(longPath));
   EXPECT_FALSE(Util_FileExists("C:\\bad\xC3"));
   EXPECT_TRUE(Util_FileExistsW(dir.wide()));
   EXPECT_FALSE(Util_FileExistsW(missing));
   EXPECT_EQ("a\nb\xFF\n", Util_GetFileContents(dir.Utf8Path("f.txt")));
   EXPECT_EQ("", Util_GetFileContents(Utf8(missing)));
   EXPECT_TRUE(Util_PathExists(dir.utf8().c_str()));
   EXPECT_FALSE(Util_PathExists(Utf8(missing).c_str()));
   EXPECT_FALSE(Util_PathExists(nullptr));
   EXPECT_FALSE(Util_PathExists("C:\\bad\xC3"));
   EXPECT_EQ((Strings{"I2 Util_FileExists: Found \"" + dir.Utf8Path("f.txt") + "\"",
                      "I2 Util_FileExists: Did not find file/directory: \"" + Utf8(missing) + "\"" + Posix(ENOENT),
                      "I2 Util_FileExists: Did not find file/directory: \"" + longPath + "\"" + Posix(ENAMETOOLONG),
                      "I2 Util_FileExists: Did not find file/directory: \"C:\\bad\xC3\"" + Posix(EILSEQ),
                      "I2 Util_FileExistsW: Found \"" + dir.utf8() + "\"",
                      "I2 Util_FileExistsW: Did not find file/directory: \"" + Utf8(missing) + "\"" + Posix(ENOENT),
                      "E1 Util_GetFileContents: Failed to open file for reading: " + Utf8(missing) + Posix(ENOENT)}),
             log.Take());
}

TEST(FileUtil, DeleteFileWithRetriesAndRestartFallback)
{
   ScratchDir dir;
   // The file is held open by another process, or is that process's own
   // program, which cannot be deleted but can be renamed.
   const std::wstring p = dir.WidePath("a.exe"), aside = p + L".tmp", held = dir.WidePath("held");
   const std::string u = Utf8(p), ua = Utf8(aside);
   const std::wstring savedList = RegString(HKEY_LOCAL_MACHINE, kRebootKey, L"Components");
   const std::string tried = "I2 Util_DeleteFileW: Deleting " + u, found = "I2 Util_FileExistsW: Found \"" + u + "\"";
   const std::string inUse = "W1 Util_DeleteFileW: Failed to delete " + u + ": 32" + Win(32);
   const std::string running = "W1 Util_DeleteFileW: Failed to delete " + u + ": 5" + Win(5);
   const std::string scheduledItself = "I1 Util_DeleteFileW: File scheduled for removal at next reboot \"" + u + "\"";
   const std::string requested = "W1 Util_SetRebootW: Reboot requested by 'del@boot:" + u + "'";
   enum Setup { Missing, ReadOnly, InUse, Running, RunningAsideTaken };
   const struct {
      const char *label;
      Setup setup;
      uint32_t retries;
      BOOL delay;
      bool result, stays, asideMade;
      Strings lines;
   } cases[] = {
      {"missing", Missing, 0, TRUE, false, false, false,
       {tried, "I2 Util_FileExistsW: Did not find file/directory: \"" + u + "\"" + Posix(ENOENT),
        "I2 Util_DeleteFileW: Already removed: " + u}},
      {"read-only", ReadOnly, 3, FALSE, true, false, false, {tried, found, "I1 Util_DeleteFileW: Deleted file " + u}},
      {"in use", InUse, 0, FALSE, false, true, false, {tried, found, inUse}},
      {"in use, one retry", InUse, 1, FALSE, false, true, false, {tried, found, inUse, inUse}},
      {"in use, no rename either", InUse, 0, TRUE, true, true, false, {tried, found, inUse, found, scheduledItself, requested}},
      {"running, put aside", Running, 0, TRUE, true, false, true,
       {tried, found, running, found,
        "I1 Util_DeleteFileW: \"" + u + "\" renamed to \"" + ua + "\" and scheduled for removal at next reboot", requested}},
      {"running, .tmp taken", RunningAsideTaken, 0, TRUE, true, true, false,
       {tried, found, running, found, scheduledItself, requested}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      RegDeleteKeyW(HKEY_LOCAL_MACHINE, kRebootKey);
      Write(held, "held");
      c.setup >= Running ? (void)CopyFileW(fileholder::HolderExe().c_str(), p.c_str(), FALSE)
                         : c.setup != Missing ? Write(p, "file") : void();
      if (c.setup == ReadOnly) {
         SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_READONLY);
      }
      if (c.setup == RunningAsideTaken) {
         Write(aside, "older");
      }
      {
         std::unique_ptr<fileholder::Holder> holder(c.setup == InUse ? new fileholder::Holder(fileholder::HolderExe(), p)
                                        : c.setup >= Running ? new fileholder::Holder(p, held) : nullptr);
         const std::wstring scheduled = L"\\??\\" + (c.setup == Running ? aside : p) + L"||";
         const size_t before = CountOf(Utf8(RegString(HKEY_LOCAL_MACHINE, kPending, L"PendingFileRenameOperations")),
                                       Utf8(scheduled));
         LogCapture log;
         const DWORD start = GetTickCount();
         EXPECT_EQ(c.result, Util_DeleteFileW(p, c.retries, c.delay));
         EXPECT_GE(GetTickCount() - start, 1000 * c.retries * (c.setup >= InUse));
         EXPECT_EQ(c.lines, log.Take());
         EXPECT_EQ(c.stays, Exists(p));
         EXPECT_EQ(c.asideMade, Exists(aside) && ReadWholeFile(aside) != "older");
         const std::string pending = Utf8(RegString(HKEY_LOCAL_MACHINE, kPending, L"PendingFileRenameOperations"));
         EXPECT_EQ(before + (c.delay && c.setup >= InUse), CountOf(pending, Utf8(scheduled)));
         EXPECT_EQ(c.delay && c.setup >= InUse ? L"del@boot:" + p : L"",
                   RegString(HKEY_LOCAL_MACHINE, kRebootKey, L"Components"));
      }
      for (const std::wstring &f : {p, aside, held}) {
         SetFileAttributesW(f.c_str(), FILE_ATTRIBUTE_NORMAL);
         DeleteFileW(f.c_str());
      }
   }
   if (!savedList.empty()) {
      RegSetKeyValueW(HKEY_LOCAL_MACHINE, kRebootKey, L"Components", REG_SZ, savedList.c_str(),
                      DWORD((savedList.size() + 1) * sizeof(wchar_t)));
   }
}

namespace {

// Stand-ins: the folder whose file index is kJunction reads as a reparse
// point; the owner comes from kOwnerSddl, or the call fails with kFail.
DWORD gJunctionLow = 0xFFFFFFFF, gFailInfo = 0, gFailSecurity = 0;
const wchar_t *gOwnerSddl = nullptr;
testutil::ImportSlot *gInfoSlot = nullptr, *gSecuritySlot = nullptr;

BOOL WINAPI InfoStandIn(HANDLE h, LPBY_HANDLE_FILE_INFORMATION info)
{
   if (gFailInfo != 0) {
      SetLastError(gFailInfo);
      return FALSE;
   }
   BOOL ok = gInfoSlot->Real<decltype(&GetFileInformationByHandle)>()(h, info);
   if (ok && info->nFileIndexLow == gJunctionLow) {
      info->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
   }
   return ok;
}

DWORD WINAPI SecurityStandIn(HANDLE h, SE_OBJECT_TYPE type, SECURITY_INFORMATION si, PSID *owner,
                             PSID *group, PACL *dacl, PACL *sacl, PSECURITY_DESCRIPTOR *sd)
{
   if (gFailSecurity != 0) {
      return gFailSecurity;
   }
   if (gOwnerSddl != nullptr) {
      return ConvertStringSecurityDescriptorToSecurityDescriptorW(gOwnerSddl, SDDL_REVISION_1, sd, nullptr)
                ? ERROR_SUCCESS
                : GetLastError();
   }
   return gSecuritySlot->Real<decltype(&GetSecurityInfo)>()(h, type, si, owner, group, dacl, sacl, sd);
}

DWORD FileIndexLow(const std::wstring &path)
{
   HANDLE h = CreateFileW(path.c_str(), READ_CONTROL, 3, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
   BY_HANDLE_FILE_INFORMATION info = {};
   GetFileInformationByHandle(h, &info);
   CloseHandle(h);
   return info.nFileIndexLow;
}

}  // namespace

TEST(FileUtil, SafeDeleteDirectory)
{
   ScratchDir dir;
   testutil::ImportSlot info(GetModuleHandleW(nullptr), "kernel32.dll", "GetFileInformationByHandle");
   testutil::ImportSlot security(GetModuleHandleW(nullptr), "advapi32.dll", "GetSecurityInfo");
   ASSERT_TRUE(info.Valid() && security.Valid());
   gInfoSlot = &info;
   gSecuritySlot = &security;
   info.Point(&InfoStandIn);
   security.Point(&SecurityStandIn);
   const std::wstring top = dir.wide() + L"\\top";
   const std::string t = Utf8(top), j = t + "\\j";
   auto opened = [](const std::string &p) { return "I1 Util_SafeDeleteDirectoryW: Opened file object of path '" + p + "'"; };
   auto deleting = [](const std::string &p) { return "I2 Util_SafeDeleteDirectoryW: Deleting [" + p + "]"; };
   const std::string check = "E1 Util_SafeDeleteDirectoryW: Failed to perform security check before deleting path '";
   const struct {
      const char *label;
      std::vector<std::wstring> tree;   // under top; "x\" a folder
      uint32_t flags;
      bool junction;                    // top\j reads as a reparse point
      const wchar_t *ownerSddl;         // null: the file's own owner
      DWORD failInfo, failSecurity;
      bool result;
      std::vector<std::wstring> left;   // what remains under top ("" top itself)
      Strings lines;
   } cases[] = {
      {"whole tree", {L"a\\", L"a\\f", L"a\\b\\", L"g"}, 3, false, nullptr, 0, 0, true, {}, {}},
      {"no descent into a folder", {L"s\\"}, 2, false, nullptr, 0, 0, false, {L"", L"s"},
       {opened(t), deleting(t)}},
      {"folders only", {L"s\\"}, 1, false, nullptr, 0, 0, true, {}, {}},
      {"files left alone", {L"f"}, 1, false, nullptr, 0, 0, false, {L"", L"f"},
       {opened(t), deleting(t), "E1 Util_SafeDeleteDirectoryW: Failed to remove directory" + Win(ERROR_DIR_NOT_EMPTY)}},
      {"junction of an ordinary user", {L"j\\", L"j\\keep"}, 3, true, nullptr, 0, 0, false, {L"", L"j", L"j\\keep"},
       {opened(t), deleting(t), opened(j), "E1 CheckReparsePointOwnedByNonAdmin: This is a reparse point with a non-admin owner.",
        "E1 Util_SafeDeleteDirectoryW: Skip deleting contents of reparse point owned by non-admin"}},
      {"junction of the administrators", {L"j\\", L"j\\f"}, 3, true, L"O:BAG:BAD:(A;;FA;;;BA)", 0, 0, true, {}, {}},
      {"junction of the system", {L"j\\", L"j\\f"}, 3, true, L"O:SYG:SYD:", 0, 0, true, {}, {}},
      {"owner lookup refused", {L"j\\", L"j\\f"}, 3, true, nullptr, 0, ERROR_ACCESS_DENIED, false, {L"", L"j", L"j\\f"},
       {opened(t), deleting(t), opened(j), "E1 CheckReparsePointOwnedByNonAdmin: Couldn't get security descriptor info (5)",
        check + j + "'"}},
      {"attributes unreadable", {L"f"}, 3, false, nullptr, ERROR_INVALID_HANDLE, 0, false, {L"", L"f"},
       {opened(t), "E1 CheckReparsePointOwnedByNonAdmin: Unable to get file attributes (6)", check + t + "'"}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      MakeTree(top, c.tree);
      gJunctionLow = c.junction ? FileIndexLow(top + L"\\j") : 0xFFFFFFFF;
      gOwnerSddl = c.ownerSddl;
      gFailInfo = c.failInfo;
      gFailSecurity = c.failSecurity;
      LogCapture log;
      EXPECT_EQ(c.result, Util_SafeDeleteDirectoryW(top.c_str(), c.flags));
      gFailInfo = 0;
      Strings lines;
      for (const std::string &line : log.Take()) {   // the walk of a whole tree is not the point
         if (!c.lines.empty()) {
            lines.push_back(line);
         }
      }
      EXPECT_EQ(c.lines, lines);
      for (const std::wstring &entry : c.tree) {
         const std::wstring name = entry.back() == L'\\' ? entry.substr(0, entry.size() - 1) : entry;
         const bool left = std::find(c.left.begin(), c.left.end(), name) != c.left.end();
         EXPECT_EQ(left, Exists(top + L"\\" + name)) << Utf8(name);
      }
      EXPECT_EQ(!c.left.empty(), Exists(top));
      gJunctionLow = 0xFFFFFFFF;   // the clean-up must see plain folders
      std::error_code ignored;
      std::filesystem::remove_all(top, ignored);
   }
   LogCapture log;
   EXPECT_TRUE(Util_SafeDeleteDirectoryW(top.c_str(), 3));
   EXPECT_FALSE(Util_SafeDeleteDirectoryW(L"", 3));
   EXPECT_FALSE(Util_SafeDeleteDirectoryW(nullptr, 3));
   EXPECT_FALSE(Util_SafeDeleteDirectoryW((dir.wide() + L"\\a<b").c_str(), 3));
   const std::string invalid = "E1 Util_SafeDeleteDirectoryW: Invalid empty path specified for deletion";
   EXPECT_EQ((Strings{"I1 Util_SafeDeleteDirectoryW: Path '" + t + "' does not exist", invalid, invalid,
                      "E1 Util_SafeDeleteDirectoryW: Failed to open path '" + dir.utf8() + "\\a<b' (123)"}),
             log.Take());
}

namespace {

DWORD gAccessFail = 0;
BOOL gAccessStatus = TRUE;
BOOL WINAPI AccessStandIn(PSECURITY_DESCRIPTOR, HANDLE, DWORD, PGENERIC_MAPPING, PPRIVILEGE_SET, LPDWORD,
                          LPDWORD granted, LPBOOL status)
{
   *granted = 0;
   *status = gAccessStatus;
   SetLastError(gAccessFail);
   return gAccessFail == 0;
}

UINT gDriveType = DRIVE_FIXED;
DWORD gSpaceFail = 0;
ULONGLONG gFree = 0;
UINT WINAPI DriveTypeStandIn(LPCWSTR) { return gDriveType; }
BOOL WINAPI SpaceStandIn(LPCWSTR, PULARGE_INTEGER available, PULARGE_INTEGER total, PULARGE_INTEGER free)
{
   available->QuadPart = gFree;
   total->QuadPart = free->QuadPart = gFree + 1;
   SetLastError(gSpaceFail);
   return gSpaceFail == 0;
}

}  // namespace

TEST(FileUtil, WritableDirectory)
{
   ScratchDir dir;
   Write(dir.WidePath("f"), "x");
   testutil::ImportSlot access(GetModuleHandleW(nullptr), "advapi32.dll", "AccessCheck");
   ASSERT_TRUE(access.Valid());
   LogCapture log;
   EXPECT_TRUE(Util_IsWritableDir(dir.utf8()));
   EXPECT_FALSE(Util_IsWritableDir(dir.Utf8Path("f")));
   access.Point(&AccessStandIn);
   gAccessStatus = FALSE;
   EXPECT_FALSE(Util_IsWritableDir(dir.utf8()));
   gAccessFail = ERROR_INVALID_SECURITY_DESCR;
   EXPECT_FALSE(Util_IsWritableDir(dir.utf8()));
   gAccessFail = 0;
   gAccessStatus = TRUE;
   EXPECT_TRUE(Util_IsWritableDir(dir.utf8()));
   EXPECT_EQ((Strings{"E1 Util_IsWritableDir: Unable to check access rights" + Win(ERROR_INVALID_SECURITY_DESCR)}),
             log.Take());
}

TEST(FileUtil, FreeDriveSpace)
{
   ULARGE_INTEGER real = {};
   ASSERT_TRUE(GetDiskFreeSpaceExW(L"C:\\", &real, nullptr, nullptr));
   {
      LogCapture log;
      EXPECT_NE(0u, Util_GetFreeDriveSpace('C', DRIVE_FIXED));
      EXPECT_EQ(0u, Util_GetFreeDriveSpace('C', DRIVE_REMOVABLE));
      EXPECT_EQ(0u, Util_GetFreeDriveSpace('1', DRIVE_FIXED));
      EXPECT_EQ(0u, Util_GetFreeDriveSpace('Q', DRIVE_NO_ROOT_DIR));
      EXPECT_EQ((Strings{"E1 Util_GetFreeDriveSpace: Drive 1:\\ is not a valid character.",
                         "E1 Util_GetFreeDriveSpace: GetDiskFreeSpaceEx() failed" + Win(ERROR_PATH_NOT_FOUND)}),
                log.Take());
   }
   testutil::ImportSlot type(GetModuleHandleW(nullptr), "kernel32.dll", "GetDriveTypeW");
   testutil::ImportSlot space(GetModuleHandleW(nullptr), "kernel32.dll", "GetDiskFreeSpaceExW");
   ASSERT_TRUE(type.Valid() && space.Valid());
   type.Point(&DriveTypeStandIn);
   space.Point(&SpaceStandIn);
   gFree = 123456789012345ull;
   LogCapture log;
   EXPECT_EQ(gFree, Util_GetFreeDriveSpace('R', DRIVE_FIXED));
   gDriveType = DRIVE_REMOVABLE;
   gSpaceFail = ERROR_NOT_READY;
   EXPECT_EQ(0u, Util_GetFreeDriveSpace('R', DRIVE_REMOVABLE));   // no medium: silent
   gDriveType = DRIVE_FIXED;
   EXPECT_EQ(0u, Util_GetFreeDriveSpace('R', DRIVE_FIXED));
   gSpaceFail = 0;
   EXPECT_EQ((Strings{"E1 Util_GetFreeDriveSpace: GetDiskFreeSpaceEx() failed" + Win(ERROR_NOT_READY)}), log.Take());
}
