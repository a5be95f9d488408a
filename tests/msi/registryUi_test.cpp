// The registry-table, registry-security, warning, message-box and tray
// actions through the DLL's exports, in sessions on packages built from SQL
// (components CompOn and CompOff, action states set by the tests). Results
// are read back from the registry, the log (the messages the actions post
// included) and a stand-in notification area (tests/msi/standInTray) in a
// process of its own. Conditions Wine cannot give, and the message box's
// answer, come from stand-ins in the DLL's import table.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "tests/msi/msiSession.h"
#include "tests/win/expectLines.h"
#include "tests/win/importSlot.h"

using namespace msitest;
using namespace std::string_literals;

namespace {

using Strings = std::vector<std::string>;
using Sql = Statement;

// Calls the export and compares its own lines (I0), the library's errors
// (E1) and the messages it posted with `want`, as "LL text"; `want` goes
// between the action's "<action><running>" and "<action> ended" lines
// unless `running` is null.
void ExpectRun(const LoadedDll &dll, const char *action, MSIHANDLE install, UINT rc, Strings want,
               const char *running = " running")
{
   if (running != nullptr) {
      want.insert(want.begin(), "I0 "s + action + running);
      want.push_back("I0 "s + action + " ended");
   }
   LogMark mark;
   EXPECT_EQ(rc, dll.Call(action, install)) << action;
   Strings got = mark.Transcript();
   got.erase(std::remove_if(got.begin(), got.end(), [](const std::string &line) {
      return line.rfind("I0 ", 0) != 0 && line.rfind("E1 ", 0) != 0 && line.find("Message: Posting ") == std::string::npos;
   }), got.end());
   testutil::ExpectTranscript(want, got);
}

// The access list of a key as the registry keeps it, "none" without the key.
std::string Dacl(HKEY root, const std::string &key)
{
   HKEY h = nullptr;
   char sd[1024];
   DWORD size = sizeof sd;
   const bool ok = RegOpenKeyExA(root, key.c_str(), 0, READ_CONTROL, &h) == 0 &&
                   RegGetKeySecurity(h, DACL_SECURITY_INFORMATION, sd, &size) == 0;
   RegCloseKey(h);
   return ok ? std::string(sd, size) : "none";
}

bool KeyExists(HKEY root, const std::string &key) { return Dacl(root, key) != "none"; }

// Creates HKLM\`key` and gives it the access list `sddl`.
bool KeyWithDacl(const std::string &key, const char *sddl)
{
   HKEY h = nullptr;
   PSECURITY_DESCRIPTOR sd = nullptr;
   bool ok = RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr) == 0 &&
             ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &sd, nullptr) &&
             RegSetKeySecurity(h, DACL_SECURITY_INFORMATION, sd) == 0;
   LocalFree(sd);
   RegCloseKey(h);
   return ok;
}

// ---- OVWriteRegistryValues64, OVRemoveRegistryValues64 ----------------------

const std::string kBase = "SOFTWARE\\OvRegTableTest", kHklm = "HKEY_LOCAL_MACHINE\\" + kBase, kLocked = kBase + "\\Locked";
const std::string kProperty = "INSERT INTO `Property` (`Property`, `Value`) VALUES (?, ?)";
const Sql kRegistryTable = {"CREATE TABLE `OVRegistry64` (`Registry` CHAR(72) NOT NULL, `Root` SHORT, `Key` CHAR(255), "
                            "`Name` CHAR(255), `Value` LONGCHAR, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Registry`)"};
// A row's id, Root ("" for null), Key, Name, Value and Component_.
const std::string kRow = "INSERT INTO `OVRegistry64` (`Registry`, `Root`, `Key`, `Name`, `Value`, `Component_`) "
                         "VALUES (?, ?, ?, ?, ?, ?)";

// "type:bytes", or "absent".
std::string Value(const std::string &key, const std::string &name, HKEY root = HKEY_LOCAL_MACHINE)
{
   char data[512];
   DWORD type = REG_NONE, size = sizeof data;
   LONG rc = RegGetValueA(root, key.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type, data, &size);
   return rc != 0 ? "absent" : std::to_string(type) + ":" + std::string(data, size);
}

// A 32-bit process on 64-bit Windows, as the DLL's run-time lookup of
// kernel32!IsWow64Process sees it (this program's own imports are the real
// ones): only there are keys deleted.
BOOL WINAPI Wow64(HANDLE, PBOOL wow64) { return *wow64 = TRUE; }
FARPROC WINAPI Wow64GetProcAddress(HMODULE module, LPCSTR name)
{
   return std::string(name) == "IsWow64Process" ? reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&Wow64))
                                                : GetProcAddress(module, name);
}

void RemoveTestKeys()
{
   RegDeleteKeyA(HKEY_LOCAL_MACHINE, kLocked.c_str());   // it may deny all but deletion
   RegDeleteTreeA(HKEY_LOCAL_MACHINE, kBase.c_str());
   RegDeleteTreeA(HKEY_CURRENT_USER, kBase.c_str());
}

TEST(RegistryTable, StopsAtABadRowWritesEachEncodingAndRemovesTheValues)
{
   LoadedDll dll;
   // A bad row stops the write; the remove logs it and goes on (and returns 0).
   const std::string k = kBase, ghost = "I0 Failed to retrieve component state: 1607, Ghost";
   // Extra statements, access list of kLocked (made first), the write's result
   // and lines, the remove's lines if they differ.
   const std::tuple<std::vector<Sql>, const char *, UINT, Strings, Strings> bad[] = {
      {{}, nullptr, 0, {"I0 Failed to open database view: 1615"}, {}},
      {{kRegistryTable, {kRow, "r1", "", k, "n", "v", "CompOn"}}, nullptr, 1603, {"I0 Failed to retrieve Root: 0"}, {}},
      {{kRegistryTable, {kRow, "r1", "2", std::string(256, 'k'), "n", "v", "CompOn"}}, nullptr, 1603,
       {"I0 Failed to retrieve Key: 234"}, {}},
      // a Name over 255 bytes once formatted
      {{kRegistryTable, {kProperty, "LONG", std::string(250, 'n')}, {kRow, "r1", "2", k, "ab[LONG]cdef", "v", "CompOn"}},
       nullptr, 1603, {"I0 Failed to retrieve Name: 234"}, {}},
      // a key the remove deletes under WOW64 only (even a missing one, with a warning)
      {{kRegistryTable, {kRow, "r0", "2", k, "-", "", "CompOn"}, {kRow, "r1", "2", k, "n", "v", "Ghost"}}, nullptr, 1603,
       {ghost}, {"I0 Deleting entire key " + kHklm, ghost}},
      {{kRegistryTable, {kRow, "r1", "2", k, "n", "v", std::string(73, 'c')}}, nullptr, 1603,
       {"I0 Failed to retrieve Component_ string: 234"}, {}},
      {{kRegistryTable, {kRow, "r1", "2", k, "first", "1", "CompOn"}, {kRow, "r2", "2", kLocked, "n", "v", "CompOn"}},
       "D:P(D;;KA;;;WD)", 1603,
       {"I0 Creating " + kHklm + " -> first = 1", "I0 Failed to create key: 0, (-2147483646)" + kLocked},
       {"I0 Deleting value " + kHklm + " -> first", "I0 Deleting value " + kHklm + "\\Locked -> n"}},
      {{kRegistryTable, {kRow, "r1", "2", kLocked, "n", "#12", "CompOn"}}, "D:P(A;;KR;;;WD)", 1603,
       {"I0 Creating " + kHklm + "\\Locked -> n = #12",
        "E1 Util_SetKeyValue: Failed to create key " + kLocked + "| winerror code 5", "I0 Failed to set value: 0, #12"},
       {"I0 Deleting value " + kHklm + "\\Locked -> n"}},
   };
   for (const auto &[extra, sddl, rc, write, remove] : bad) {
      RemoveTestKeys();
      ASSERT_TRUE(sddl == nullptr || KeyWithDacl(kLocked, sddl));
      MsiSession package(extra);
      ASSERT_TRUE(package.Ok()) << package.Failure();
      ExpectRun(dll, "OVWriteRegistryValues64", package.Handle(), rc, write);
      package.SetAction("CompOn", INSTALLSTATE_ABSENT);
      ExpectRun(dll, "OVRemoveRegistryValues64", package.Handle(), 0, remove.empty() ? write : remove);
   }

   RemoveTestKeys();
   const std::string c = "I0 Creating " + kHklm, d = "I0 Deleting value " + kHklm, hkcu = "HKEY_CURRENT_USER\\" + k;
   MsiSession package({kRegistryTable, {kProperty, "NUM", "7"}, {kProperty, "HASH", "#5"},
                       {kRow, "a", "2", k, "Dword", "#42", "CompOn"}, {kRow, "b", "4", k, "FromProp", "#[NUM]", "CompOn"},
                       {kRow, "c", "-1", k, "List", "a[~]b", "CompOn"}, {kRow, "d", "2", k, "Hash", "[HASH]", "CompOn"},
                       {kRow, "e", "2", k + "\\KeyOnly", "+", "", "CompOn"}, {kRow, "f", "2", k, "+", "plus", "CompOn"},
                       {kRow, "g", "2", k, "", "dflt", "CompOn"}, {kRow, "h", "2", k + "\\Minus", "-", "x", "CompOn"},
                       {kRow, "i", "1", k, "User", "u", "CompOn"}, {kRow, "j", "2", k, "Skipped", "x", "CompOff"},
                       {kRow, "k", "2", k + "\\Tree", "*", "", "CompOn"},
                       {kRow, "l", "2", k + "\\Empty", "v", "x", "CompOn"}});
   ASSERT_TRUE(package.Ok()) << package.Failure();
   package.SetAction("CompOff", INSTALLSTATE_UNKNOWN);
   ExpectRun(dll, "OVWriteRegistryValues64", package.Handle(), 0,
             {c + " -> Dword = #42", c + " -> FromProp = #7", c + " -> List = a~b", c + " -> Hash = #5",
              c + "\\KeyOnly -> + = ", c + " -> + = plus", c + " ->  = dflt", "I0 Creating " + hkcu + " -> User = u",
              c + "\\Tree -> * = ", c + "\\Empty -> v = x"});
   const auto values = [&] {
      return Strings{Value(k, "Dword"), Value(k, "FromProp"), Value(k, "List"),    Value(k, "Hash"),
                     Value(k, "+"),     Value(k, ""),         Value(k, "Skipped"), Value(k, "User", HKEY_CURRENT_USER)};
   };
   EXPECT_EQ((Strings{"4:*\0\0\0"s, "4:\7\0\0\0"s, "7:a\0b\0\0"s, "1:#5\0"s, "1:plus\0"s, "1:dflt\0"s, "absent", "1:u\0"s}),
             values());
   EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, k + "\\KeyOnly") && !KeyExists(HKEY_LOCAL_MACHINE, k + "\\Minus"));

   // Under WOW64 (only there are keys deleted: see the "-" row of the bad rows
   // for a 64-bit process), "-" and "*" delete the whole key, subkeys
   // included, and an emptied key goes; "+" rows are skipped; the default
   // value's deletion is refused. A missing key does not count as empty.
   ASSERT_EQ(0, RegSetKeyValueA(HKEY_LOCAL_MACHINE, (k + "\\Tree\\A").c_str(), "v", REG_SZ, "1", 2));
   package.SetAction("CompOn", INSTALLSTATE_ABSENT);
   testutil::ImportSlot slot(dll.Module(), "kernel32.dll", "GetProcAddress");
   ASSERT_TRUE(slot.Valid());
   slot.Point(&Wow64GetProcAddress);
   const std::string e = "I0 Deleting entire key " + kHklm, warn = "I0 Warning: Deleting a key that isn't empty: \"";
   ExpectRun(dll, "OVRemoveRegistryValues64", package.Handle(), 0,
             {d + " -> Dword", d + " -> FromProp", d + " -> List", d + " -> Hash", d + " -> ",
              "E1 Util_DeleteValue: Invalid keyValue in DeleteValue", e + "\\Minus", warn + kHklm + "\\Minus\"",
              "I0 Deleting value " + hkcu + " -> User", "I0 Deleting empty key " + hkcu, e + "\\Tree",
              warn + kHklm + "\\Tree\"", warn + "\\A\"", d + "\\Empty -> v", "I0 Deleting empty key " + kHklm + "\\Empty"});
   EXPECT_EQ((Strings{"absent", "absent", "absent", "absent", "1:plus\0"s, "1:dflt\0"s, "absent", "absent"}), values());
   EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, k) || KeyExists(HKEY_LOCAL_MACHINE, k + "\\Tree"));

   RemoveTestKeys();
}

// ---- OVResetRegSecurity -------------------------------------------------------

// The results of the DLL's next calls of advapi32!SetNamedSecurityInfoW, in
// order; 0 lets the call through to the real function.
std::vector<DWORD> gForced;
DWORD WINAPI ForcedSetNamedSecurityInfo(LPWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner,
                                        PSID group, PACL dacl, PACL sacl)
{
   const DWORD forced = gForced.empty() ? 0 : gForced.front();
   gForced.erase(gForced.begin(), gForced.begin() + (gForced.empty() ? 0 : 1));
   return forced != 0 ? forced : SetNamedSecurityInfoW(name, type, info, owner, group, dacl, sacl);
}

TEST(RegSecurity, ResetsBothKeysOrFailsByWindowsVersion)
{
   LoadedDll dll;
   testutil::ImportSlot slot(dll.Module(), "advapi32.dll", "SetNamedSecurityInfoW");
   ASSERT_TRUE(slot.Valid());
   slot.Point(&ForcedSetNamedSecurityInfo);
   const std::string maker = "SOFTWARE\\Orvane, Inc.", product = maker + "\\OvSec", longKey = std::string(250, 'n');
   const std::string exec = "I0 --- CA exec: OVResetRegSecurity", reset = "I0 Reseting security for HKLM\\" + maker;
   const std::string failed = "I0 ERROR: Failed to set default ACL on HKLM\\" + maker, resetProduct = reset + "\\OvSec";
   const std::string refused = "I0 SetNamedSecurityInfo failed, lasterror ", failedProduct = failed + "\\OvSec";
   const std::string posted = "I1 MsiUtil_PostErrorMessage: Posting error message 26000";
   // Version9X, VersionNT, PRODUCT_REG_NAME (empty: the maker's key is removed
   // first), gForced, the lines, ERROR_RESET_REG_SECURITY_KEY afterwards (if
   // set, the result is 1603), whether the product key has a new key's access
   // list afterwards.
   const std::tuple<const char *, const char *, std::string, std::vector<DWORD>, Strings, std::string, bool> cases[] = {
      {"410", "601", "OvSec", {}, {}, "", false},
      {"", "601", "", {}, {exec, reset, "I0 " + maker + " not present", reset + "\\Orvane Tools",
                           "I0 " + maker + "\\Orvane Tools not present"}, "", false},
      // an object name past 271 characters
      {"", "601", longKey, {}, {exec, reset, reset + "\\" + longKey, "I0 " + maker + "\\" + longKey + ": key path too long",
                                failed + "\\" + longKey}, "", false},
      {"", "601", "OvSec", {}, {exec, reset, resetProduct}, "", true},
      {"", "501", "OvSec", {0, 5, 5}, {exec, reset, resetProduct, refused + "5", failedProduct, posted}, product, false},
      {"", "601", "OvSec", {0, 5, 5}, {exec, reset, resetProduct, refused + "5", failedProduct}, "", false},
      // refused, then owned
      {"", "601", "OvSec", {0, 5}, {exec, reset, resetProduct, "I0 SetNamedSecurityInfo returned 0"}, "", true},
      // the maker's key fails: the product's is not tried
      {"", "500", "OvSec", {1}, {exec, reset, refused + "1", failed, posted}, maker, false},
   };
   for (const auto &[version9x, versionNT, productKey, forced, lines, failedKey, resets] : cases) {
      SCOPED_TRACE(lines.empty() ? "Version9X" : lines.back());
      // The product key made anew, with a new key's access list, then an explicit one.
      RegDeleteKeyA(HKEY_LOCAL_MACHINE, product.c_str());
      ASSERT_EQ(0, RegSetKeyValueA(HKEY_LOCAL_MACHINE, product.c_str(), "v", REG_SZ, "", 1));
      const std::string fresh = Dacl(HKEY_LOCAL_MACHINE, product);
      ASSERT_TRUE(KeyWithDacl(product, "D:P(A;;KA;;;WD)"));
      if (productKey.empty()) {
         RegDeleteTreeA(HKEY_LOCAL_MACHINE, maker.c_str());
      }
      MsiSession package;
      ASSERT_TRUE(package.Ok()) << package.Failure();
      package.Set("Version9X", version9x);
      package.Set("VersionNT", versionNT);
      package.Set("PRODUCT_REG_NAME", productKey.c_str());
      gForced = forced;
      ExpectRun(dll, "OVResetRegSecurity", package.Handle(), failedKey.empty() ? 0 : 1603, lines, nullptr);
      EXPECT_EQ(failedKey, package.Get("ERROR_RESET_REG_SECURITY_KEY"));
      EXPECT_EQ(resets, fresh == Dacl(HKEY_LOCAL_MACHINE, product));
      EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, product + "~tmp") || KeyExists(HKEY_LOCAL_MACHINE, maker + "~tmp"));
   }
   RegDeleteKeyA(HKEY_LOCAL_MACHINE, product.c_str());
}

// ---- OVDisplayWarnings, OVMessageBox ------------------------------------------

// What the DLL's last MessageBoxW call was given, "caption|text|style", and
// the button its user presses.
std::string gShown;
int gPress = 0;
int WINAPI PressedMessageBox(HWND, LPCWSTR text, LPCWSTR caption, UINT style)
{
   gShown = Utf8(caption) + "|" + Utf8(text) + "|" + std::to_string(style);
   return gPress;
}

TEST(MessageActions, WarningsOfTrueConditionsAndTheMessageBoxAnswer)
{
   LoadedDll dll;
   const Sql table = {"CREATE TABLE `OVDisplayWarnings` (`Condition` CHAR(255), `Message` SHORT PRIMARY KEY `Condition`)"};
   const std::string row = "INSERT INTO `OVDisplayWarnings` (`Condition`, `Message`) VALUES (?, ?)";   // "": null
   const std::string posting = "I1 MsiUtil_PostWarningMessage: Posting warning message ";
   const std::string notTrue = "\" is not TRUE, do not show message.", long127 = "P=\"" + std::string(123, 'x') + "\"";
   const std::pair<std::vector<Sql>, Strings> warnings[] = {   // the table, the lines
      // Rows come in the order of their key strings in the package, the empty one first.
      {{table, {row, "1", "25003"}, {row, "NOPE=1", "25001"}, {row, "", "25001"}, {row, "(((", "25001"},
        {row, "NOT NOPE", "25001"}, {row, long127, "25001"}},
       {"I0 Condition \"" + notTrue, posting + "25003", "I0 Condition \"NOPE=1" + notTrue, "I0 Condition \"(((" + notTrue,
        posting + "25001", "I0 Condition \"" + long127 + notTrue}},
      {{table, {row, long127 + "xxx", "25001"}}, {"I0 Failed to retrieve condition string: 234"}},
      {{table, {row, "1", ""}}, {"I0 Failed to retrieve message number."}},
      {{}, {"I0 Failed to open database view: 1615"}},
   };
   for (const auto &[rows, lines] : warnings) {
      MsiSession package(rows);
      ASSERT_TRUE(package.Ok()) << package.Failure();
      ExpectRun(dll, "OVDisplayWarnings", package.Handle(), 0, lines);
   }

   testutil::ImportSlot slot(dll.Module(), "user32.dll", "MessageBoxW");
   ASSERT_TRUE(slot.Valid());
   slot.Point(&PressedMessageBox);
   MsiSession package({Sql{"INSERT INTO `Error` (`Error`, `Message`) VALUES (25004, '')"}});
   ASSERT_TRUE(package.Ok()) << package.Failure();
   // The owner window is looked up by the stored title first; there is none.
   RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvane, Inc.", L"Wnd");
   const std::string plain = "Orvane Tools Test|Plain error message.|";
   // UILevel, MSGBOX_DATA, the button pressed, the lines (the first from the
   // owner window's lookup), what MessageBoxW was given and MSGBOX_RTN afterwards.
   const std::tuple<const char *, const char *, int, Strings, std::string> boxes[] = {
      {"5", "25001;36", IDNO, {"E1 Util_GetKeyValueString: Cannot *"}, plain + "36 -> 7"},
      {"5", "25001", IDOK, {"E1 Util_GetKeyValueString: Cannot *"}, plain + "48 -> 1"},
      {"5", "25002;1", IDCANCEL, {"E1 Util_GetKeyValueString: Cannot *"}, "Orvane Tools Test|Number [2], text [3].|1 -> 2"},
      {"3", "25001;4", IDYES, {"E1 Util_GetKeyValueString: Cannot *"}, plain + "4 -> 6"},
      {"5", "25001;0", 0, {"E1 Util_GetKeyValueString: Cannot *"}, plain + "48 -> 0"},   // the box could not be shown
      {"2", "25001;36", IDOK, {"I0 Silent install so exiting."}, "none -> stale"},
      {"5", "", IDOK, {"I0 Message box parameter property not set."}, "none -> stale"},
      {"5", "abc;4", IDOK, {"I0 Error number property not set."}, "none -> stale"},
      {"5", "29999", IDOK, {"I0 Failed to fetch the records : 259"}, "none -> stale"},
      {"5", "25004", IDOK, {"I0 Failed to retrieve error string : 0, size : 0"}, "none -> stale"},
   };
   for (const auto &[uiLevel, data, press, lines, shown] : boxes) {
      SCOPED_TRACE(std::string("UILevel ") + uiLevel + ", MSGBOX_DATA " + data);
      package.Set("UILevel", uiLevel);
      package.Set("MSGBOX_DATA", data);
      package.Set("MSGBOX_RTN", "stale");
      gShown = "none";
      gPress = press;
      ExpectRun(dll, "OVMessageBox", package.Handle(), 0, lines, " running.");
      EXPECT_EQ(shown, gShown + " -> " + package.Get("MSGBOX_RTN"));
   }
}

// ---- OVCleanupTrayIcons -------------------------------------------------------

// A failed call of whichever import it stands in for (one calling
// convention on x64: it can ignore their arguments), with this last error.
DWORD gError = 0;
ULONG_PTR WINAPI FailedCall() { return SetLastError(gError), 0; }

TEST(TrayIcons, DeletesTheIconsOfVanishedOwnersUpToAToolbarWithoutButtons)
{
   LoadedDll dll;
   std::wstring host = L"\\\\?\\unix" + Wide(OV_STAND_IN_TRAY_EXE), exe = ProcessFolder() + L"stand_in_tray.exe";
   std::replace(host.begin(), host.end(), L'/', L'\\');
   ASSERT_TRUE(CopyFileW(host.c_str(), exe.c_str(), FALSE));
   // In a process of its own, as the shell's is, until `input` is closed,
   // at the latest with this program. Letters as in its source; button i of
   // toolbar t has the icon identifier 100 * (t + 1) + i.
   std::wstring command = L"\"" + exe + L"\" --until-stdin-closes LDDLD DDDLL - D";
   STARTUPINFOW si = {};
   si.cb = sizeof si;
   si.dwFlags = STARTF_USESTDHANDLES;
   HANDLE input = nullptr;
   PROCESS_INFORMATION pi = {};
   ASSERT_TRUE(CreatePipe(&si.hStdInput, &input, nullptr, 0) &&
               SetHandleInformation(si.hStdInput, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT) &&
               CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi));
   CloseHandle(si.hStdInput);
   HWND tray = nullptr;
   for (int i = 0; i < 200 && (tray = FindWindowW(L"Shell_TrayWnd", L"ready ")) == nullptr; i++, Sleep(50)) {
   }
   ASSERT_NE(nullptr, tray);
   const std::string start = "I0 Cleaning up dangling system tray icons.", stop = "I0 No System Tray Buttons";
   const std::string notFound = " not found OVCleanupTrayIcons, GetLastError - 0x";
   const std::string unread = "I0 Could not get Button info. ReadProcessMemory failed with                    error 0x12b";
   // An import that fails, its last error, the lines.
   const std::tuple<const char *, const char *, DWORD, Strings> failures[] = {
      {"user32.dll", "FindWindowA", ERROR_CANNOT_FIND_WND_CLASS, {start, "I0 Shell Tray Window" + notFound + "57f "}},
      {"user32.dll", "FindWindowExA", ERROR_INVALID_WINDOW_HANDLE, {start, "I0 TrayNotifyWnd" + notFound + "578 "}},
      {"kernel32.dll", "OpenProcess", ERROR_ACCESS_DENIED,
       {start, "I0 Open Process failed for process " + std::to_string(pi.dwProcessId) + " with error 0x5"}},
      {"kernel32.dll", "VirtualAllocEx", ERROR_NOT_ENOUGH_MEMORY, {start, "I0 VirtualAllocEx failed with error 0x8"}},
      {"kernel32.dll", "ReadProcessMemory", ERROR_PARTIAL_COPY, {start, unread, unread, stop}},   // the next toolbar
   };
   for (const auto &[module, function, error, lines] : failures) {
      testutil::ImportSlot slot(dll.Module(), module, function);
      ASSERT_TRUE(slot.Valid()) << function;
      gError = error;
      slot.Point(&FailedCall);
      ExpectRun(dll, "OVCleanupTrayIcons", 0, 0, lines, nullptr);
   }
   ExpectRun(dll, "OVCleanupTrayIcons", 0, 0, {start, stop}, nullptr);
   wchar_t title[256] = {};   // "ready " and the identifier and a blank of each icon deleted
   GetWindowTextW(tray, title, 256);
   EXPECT_EQ(L"ready 101 102 104 200 201 202 ", std::wstring(title));
   CloseHandle(input);
   EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 5000));
   CloseHandle(pi.hProcess);
   CloseHandle(pi.hThread);
}

}  // namespace
