// The file utilities on real files in scratch folders of the test prefix's
// drive C:. A file in use is held open, or mapped as a program image, by this
// process. Owners, reparse points, refused access checks and drive states
// that Wine cannot produce are reached through this program's import slots.
#include "common/file.h"

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/win/expectLines.h"
#include "tests/win/importSlot.h"
#include "tests/win/win32uTestUtil.h"

using namespace win32utest;
using Strings = std::vector<std::string>;

namespace {

// The end of a line that carries an error code ("winerror" or "posix"); the
// system's text of the code is not the point.
std::string Code(const char *kind, long long code)
{
   return std::string("| ") + kind + " code " + Str(code) + " (*";
}

void Write(const std::wstring &path, const std::string &bytes)
{
   std::ofstream(path.c_str(), std::ios::binary) << bytes;
}

// How often the operations pending for the restart delete `path`: its
// name followed by an empty destination.
size_t PendingDeletes(const std::wstring &path)
{
   std::wstring all(1 << 20, L'\0');
   DWORD size = DWORD(all.size() * sizeof(wchar_t));
   RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", L"PendingFileRenameOperations",
                RRF_RT_REG_MULTI_SZ, nullptr, &all[0], &size);
   return CountOf(Utf8(all.substr(0, size / sizeof(wchar_t))), Utf8(L"\\??\\" + path + std::wstring(2, L'\0')));
}

}  // namespace

TEST(FileUtil, ExistenceContentsWritabilityAndFreeSpace)
{
   ScratchDir dir;
   const std::string file = dir.Utf8Path("f.txt"), missing = dir.Utf8Path("none");
   const std::string longPath = dir.utf8() + "\\" + std::string(260, 'x');
   Write(dir.WidePath("f.txt"), "a\r\nb\xFF\r\n");
   LogCapture log;
   EXPECT_TRUE(Util_FileExists(file));
   EXPECT_FALSE(Util_FileExists(missing));
   EXPECT_FALSE(Util_FileExists(longPath));
   EXPECT_FALSE(Util_FileExists("C:\\bad\xC3"));
   EXPECT_EQ("a\nb\xFF\n", Util_GetFileContents(file));
   EXPECT_EQ("", Util_GetFileContents(missing));
   EXPECT_FALSE(Util_PathExists(nullptr));
   EXPECT_FALSE(Util_PathExists("C:\\bad\xC3"));
   EXPECT_TRUE(Util_IsWritableDir(dir.utf8()));
   EXPECT_FALSE(Util_IsWritableDir(file));
   EXPECT_FALSE(Util_IsWritableDir(missing));
   EXPECT_NE(0u, Util_GetFreeDriveSpace('C', DRIVE_FIXED));
   EXPECT_EQ(0u, Util_GetFreeDriveSpace('1', DRIVE_FIXED));
   // A drive without its medium, of either type.
   testutil::ImportSlot type(GetModuleHandleW(nullptr), "kernel32.dll", "GetDriveTypeW");
   testutil::ImportSlot space(GetModuleHandleW(nullptr), "kernel32.dll", "GetDiskFreeSpaceExW");
   space.Point(+[](LPCWSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER) -> BOOL {
      SetLastError(ERROR_NOT_READY);
      return FALSE;
   });
   EXPECT_EQ(0u, Util_GetFreeDriveSpace('C', DRIVE_FIXED));
   type.Point(+[](LPCWSTR) -> UINT { return DRIVE_REMOVABLE; });
   EXPECT_EQ(0u, Util_GetFreeDriveSpace('R', DRIVE_REMOVABLE));   // silent
   testutil::ExpectTranscript({"I2 Util_FileExists: Found \"" + file + "\"",
                     "I2 Util_FileExists: Did not find file/directory: \"" + missing + "\"" + Code("posix", ENOENT),
                     "I2 Util_FileExists: Did not find file/directory: \"" + longPath + "\"" + Code("posix", ENAMETOOLONG),
                     "I2 Util_FileExists: Did not find file/directory: \"C:\\bad\xC3\"" + Code("posix", EILSEQ),
                     "E1 Util_GetFileContents: Failed to open file for reading: " + missing + Code("posix", ENOENT),
                     "E1 Win32U_GetFileAttributes: GetFileAttributesExW(\"" + missing + "\"*",
                     "E1 Util_GetFreeDriveSpace: Drive 1:\\ is not a valid character.",
                     "E1 Util_GetFreeDriveSpace: GetDiskFreeSpaceEx() failed" + Code("winerror", ERROR_NOT_READY)},
                    log.Take());
}

TEST(FileUtil, DeleteFileWithRetriesAndRestartFallback)
{
   ScratchDir dir;
   // A program image cannot be deleted while it is mapped, but it can be
   // renamed; a file held open without delete sharing can be neither.
   wchar_t self[MAX_PATH];
   GetModuleFileNameW(nullptr, self, MAX_PATH);
   const std::wstring p = dir.WidePath("a.exe"), aside = p + L".tmp";
   const std::string u = Utf8(p);
   const std::string tried = "I2 Util_DeleteFileW: Deleting " + u, found = "I2 Util_FileExistsW: Found \"" + u + "\"";
   const std::string held = "W1 Util_DeleteFileW: Failed to delete " + u + ": 32" + Code("winerror", 32);
   const std::string mapped = "W1 Util_DeleteFileW: Failed to delete " + u + ": 5" + Code("winerror", 5);
   const std::string requested = "W1 Util_SetRebootW: Reboot requested by 'del@boot:" + u + "'";
   enum Setup { Missing, ReadOnly, Held, Mapped, MappedAsideTaken };
   const struct {
      Setup setup;
      uint32_t retries;
      BOOL delay;
      bool result;
      Strings lines;
   } cases[] = {
      {Missing, 0, TRUE, false,
       {tried, "I2 Util_FileExistsW: Did not find file/directory: \"" + u + "\"" + Code("posix", ENOENT),
        "I2 Util_DeleteFileW: Already removed: " + u}},
      {ReadOnly, 3, TRUE, true, {tried, found, "I1 Util_DeleteFileW: Deleted file " + u}},
      {Held, 1, FALSE, false, {tried, found, held, held}},
      {MappedAsideTaken, 0, TRUE, true,
       {tried, found, mapped, found, "I1 Util_DeleteFileW: File scheduled for removal at next reboot \"" + u + "\"", requested}},
      {Mapped, 0, TRUE, true,
       {tried, found, mapped, found,
        "I1 Util_DeleteFileW: \"" + u + "\" renamed to \"" + Utf8(aside) + "\" and scheduled for removal at next reboot",
        requested}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.lines.back());
      RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvane, Inc.\\NeedReboot");
      c.setup >= Mapped ? (void)CopyFileW(self, p.c_str(), FALSE) : c.setup != Missing ? Write(p, "file") : void();
      SetFileAttributesW(p.c_str(), c.setup == ReadOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
      c.setup == MappedAsideTaken ? Write(aside, "older") : (void)DeleteFileW(aside.c_str());
      HANDLE file = c.setup == Held ? CreateFileW(p.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)
                                    : INVALID_HANDLE_VALUE;
      HMODULE image = c.setup >= Mapped ? LoadLibraryExW(p.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE) : nullptr;
      const std::wstring scheduled = c.setup == Mapped ? aside : p;
      const size_t before = PendingDeletes(scheduled);
      LogCapture log;
      const DWORD start = GetTickCount();
      EXPECT_EQ(c.result, Util_DeleteFileW(p, c.retries, c.delay));
      EXPECT_GE(GetTickCount() - start, 1000 * c.retries * (c.setup >= Held));
      testutil::ExpectTranscript(c.lines, log.Take());
      EXPECT_EQ(c.setup == Held || c.setup == MappedAsideTaken, Exists(p));
      EXPECT_EQ(c.setup == Mapped, Exists(aside) && ReadWholeFile(aside) != "older");
      EXPECT_EQ(before + (c.setup > Held), PendingDeletes(scheduled));
      CloseHandle(file);
      image != nullptr && FreeLibrary(image);
   }
   // Other tests expect the maker's key without the reboot requests made here.
   RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvane, Inc.\\NeedReboot");
}

namespace {

// Stand-ins: with gOwnerSddl every folder reads as a reparse point of that
// owner; gFailInfo and gFailSecurity make the calls fail.
const wchar_t *gOwnerSddl = nullptr;
DWORD gFailInfo = 0, gFailSecurity = 0;
testutil::ImportSlot *gInfoSlot = nullptr;

BOOL WINAPI InfoStandIn(HANDLE h, LPBY_HANDLE_FILE_INFORMATION info)
{
   SetLastError(gFailInfo);
   BOOL ok = gFailInfo == 0 && gInfoSlot->Real<decltype(&GetFileInformationByHandle)>()(h, info);
   info->dwFileAttributes |= ok && gOwnerSddl != nullptr ? FILE_ATTRIBUTE_REPARSE_POINT : 0;
   return ok;
}

DWORD WINAPI SecurityStandIn(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID *, PSID *, PACL *, PACL *,
                             PSECURITY_DESCRIPTOR *sd)
{
   SetLastError(gFailSecurity);
   return gFailSecurity == 0 && ConvertStringSecurityDescriptorToSecurityDescriptorW(gOwnerSddl, SDDL_REVISION_1, sd, nullptr)
             ? 0
             : GetLastError();
}

}  // namespace

TEST(FileUtil, SafeDeleteDirectory)
{
   ScratchDir dir;
   testutil::ImportSlot info(GetModuleHandleW(nullptr), "kernel32.dll", "GetFileInformationByHandle");
   testutil::ImportSlot security(GetModuleHandleW(nullptr), "advapi32.dll", "GetSecurityInfo");
   gInfoSlot = &info;
   info.Point(&InfoStandIn);
   security.Point(&SecurityStandIn);
   // Each case deletes top\a\f, or leaves all of it.
   const std::wstring top = dir.wide() + L"\\top";
   const std::string t = Utf8(top), a = t + "\\a";
   const std::string opened = "I1 Util_SafeDeleteDirectoryW: Opened file object of path '";
   const std::string deleting = "I2 Util_SafeDeleteDirectoryW: Deleting [";
   const std::string check = "E1 Util_SafeDeleteDirectoryW: Failed to perform security check before deleting path '" + t + "'";
   const Strings walk = {opened + t + "'", deleting + t + "]", opened + a + "'", deleting + a + "]"};
   const struct {
      uint32_t flags;
      const wchar_t *reparseOwner;   // null: no reparse points
      DWORD fail;                    // of the attributes, or with reparse points of the owner
      bool result;
      Strings lines;
   } cases[] = {
      {3, nullptr, 0, true, walk},
      {2, nullptr, 0, false, {walk[0], walk[1]}},
      {1, nullptr, 0, false,
       {walk[0], walk[1], walk[2], walk[3], "E1 Util_SafeDeleteDirectoryW: Failed to remove directory" + Code("winerror", 145)}},
      {3, L"O:BAG:BAD:", 0, true, walk},
      {3, L"O:SYG:SYD:", 0, true, walk},
      {3, L"O:S-1-5-21-1-2-3-1000", 0, false,
       {walk[0], "E1 CheckReparsePointOwnedByNonAdmin: This is a reparse point with a non-admin owner.",
        "E1 Util_SafeDeleteDirectoryW: Skip deleting contents of reparse point owned by non-admin"}},
      {3, L"O:S-1-5-21-1-2-3-1000", ERROR_ACCESS_DENIED, false,
       {walk[0], "E1 CheckReparsePointOwnedByNonAdmin: Couldn't get security descriptor info (5)", check}},
      {3, nullptr, ERROR_INVALID_HANDLE, false,
       {walk[0], "E1 CheckReparsePointOwnedByNonAdmin: Unable to get file attributes (6)", check}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.lines.back());
      std::filesystem::create_directories(top + L"\\a");
      Write(top + L"\\a\\f", "x");
      gOwnerSddl = c.reparseOwner;
      gFailInfo = c.reparseOwner == nullptr ? c.fail : 0;
      gFailSecurity = c.reparseOwner != nullptr ? c.fail : 0;
      LogCapture log;
      EXPECT_EQ(c.result, Util_SafeDeleteDirectoryW(top.c_str(), c.flags));
      gFailInfo = 0;
      gOwnerSddl = nullptr;   // the clean-up below must see plain folders
      testutil::ExpectTranscript(c.lines, log.Take());
      EXPECT_EQ(!c.result, Exists(top + L"\\a\\f"));
      EXPECT_EQ(!c.result, Exists(top));
      std::error_code ignored;
      std::filesystem::remove_all(top, ignored);
   }
   LogCapture log;
   EXPECT_TRUE(Util_SafeDeleteDirectoryW(top.c_str(), 3));
   EXPECT_FALSE(Util_SafeDeleteDirectoryW(L"", 3));
   EXPECT_FALSE(Util_SafeDeleteDirectoryW(nullptr, 3));
   EXPECT_FALSE(Util_SafeDeleteDirectoryW((dir.wide() + L"\\a<b").c_str(), 3));
   const std::string invalid = "E1 Util_SafeDeleteDirectoryW: Invalid empty path specified for deletion";
   testutil::ExpectTranscript({"I1 Util_SafeDeleteDirectoryW: Path '" + t + "' does not exist", invalid, invalid,
                     "E1 Util_SafeDeleteDirectoryW: Failed to open path '" + dir.utf8() + "\\a<b' (123)"},
                    log.Take());
}
