// The registry-table, registry-security, warning, message-box and tray
// actions through the DLL's exports, in sessions on packages built from SQL
// (components CompOn and CompOff, action states set by the tests). Results
// are read back from the registry, the installer's messages (an external UI
// handler), a thread that answers message boxes, and a stand-in
// notification area (tests/msi/standInTray). Conditions Wine cannot give
// come from stand-ins in the DLL's import table.
#include <windows.h>
#include <aclapi.h>
#include <commctrl.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/msi/msiSession.h"
#include "tests/win/importSlot.h"

using namespace msitest;
using namespace std::string_literals;

namespace {

using Strings = std::vector<std::string>;
using Sql = Statement;

// The session of these tests, its failures reported where they arise.
class Package : public MsiSession {
public:
   explicit Package(const std::vector<Sql> &extra) : MsiSession(extra) { EXPECT_TRUE(Ok()) << Failure(); }
   void Set(const char *name, const std::string &value) const
   {
      EXPECT_EQ(0u, MsiSession::Set(name, value.c_str())) << name;
   }
   void SetAction(const char *component, INSTALLSTATE state) const
   {
      EXPECT_EQ(0u, MsiSession::SetAction(component, state)) << component;
   }
};

// The installer's error and warning messages while it lives, as "<kind> <text>".
Strings gMessages;
class MessageRecorder {
public:
   MessageRecorder()
   {
      gMessages.clear();
      previous_ = MsiSetExternalUIW(
         [](LPVOID, UINT type, LPCWSTR text) -> INT {
            gMessages.push_back(((type & 0xFF000000u) == INSTALLMESSAGE_ERROR ? "error " : "warning ") + Utf8(text));
            return IDOK;
         },
         INSTALLLOGMODE_ERROR | INSTALLLOGMODE_WARNING, nullptr);
   }
   ~MessageRecorder() { MsiSetExternalUIW(previous_, 0, nullptr); }

private:
   INSTALLUI_HANDLERW previous_;
};

// Calls the export; its lines (I0), the library's errors (E1) and the
// warnings it posted, as "LL text".
Strings Call(const LoadedDll &dll, const char *action, MSIHANDLE install, UINT rc = 0)
{
   LogMark mark;
   EXPECT_EQ(rc, dll.Call(action, install)) << action;
   Strings lines;
   for (const std::string &line : mark.Transcript()) {
      if (line.rfind("I0 ", 0) == 0 || line.rfind("E1 ", 0) == 0 || line.rfind("I1 MsiUtil_PostWarning", 0) == 0) {
         lines.push_back(line);
      }
   }
   return lines;
}

Strings Framed(const std::string &open, Strings lines, const std::string &close)
{
   lines.insert(lines.begin(), open);
   if (!close.empty()) {
      lines.push_back(close);
   }
   return lines;
}

// ---- OVWriteRegistryValues64, OVRemoveRegistryValues64 ----------------------

const std::string kBase = "SOFTWARE\\OvRegTableTest", kHklm = "HKEY_LOCAL_MACHINE\\" + kBase;
const Sql kRegistryTable = {"CREATE TABLE `OVRegistry64` (`Registry` CHAR(72) NOT NULL, `Root` SHORT, `Key` CHAR(255), "
                            "`Name` CHAR(255), `Value` LONGCHAR, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Registry`)"};

// A row; root "" leaves the column null.
Sql Row(const std::string &id, const std::string &root, const std::string &key, const std::string &name,
        const std::string &value, const std::string &component = "CompOn")
{
   return {"INSERT INTO `OVRegistry64` (`Registry`, " + (root.empty() ? ""s : "`Root`, ") +
              "`Key`, `Name`, `Value`, `Component_`) VALUES (?, " + (root.empty() ? ""s : root + ", ") + "?, ?, ?, ?)",
           id, key, name, value, component};
}

Sql Property(const std::string &name, const std::string &value)
{
   return {"INSERT INTO `Property` (`Property`, `Value`) VALUES (?, ?)", name, value};
}

// "type:bytes", or "absent".
std::string Value(HKEY root, const std::string &key, const std::string &name)
{
   char data[512];
   DWORD type = REG_NONE, size = sizeof data;
   LONG rc = RegGetValueA(root, key.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type, data, &size);
   return rc != 0 ? "absent" : std::to_string(type) + ":" + std::string(data, size);
}

bool KeyExists(HKEY root, const std::string &key)
{
   HKEY h = nullptr;
   return RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &h) == 0 && RegCloseKey(h) == 0;
}

class RegistryTable : public testing::Test {
protected:
   void SetUp() override
   {
      RegDeleteKeyA(HKEY_LOCAL_MACHINE, (kBase + "\\Locked").c_str());   // denies all but deletion
      RegDeleteTreeA(HKEY_LOCAL_MACHINE, kBase.c_str());
      RegDeleteTreeA(HKEY_CURRENT_USER, kBase.c_str());
   }
   void TearDown() override { SetUp(); }
   LoadedDll dll;
};

TEST_F(RegistryTable, WritesEveryEncodingAndRemovesTheValues)
{
   const std::string k = kBase;
   Package package({kRegistryTable, Property("NUM", "7"), Property("SHORTP", "C:\\PROGRA~1\\"),
                    Row("r01", "2", k, "Dword", "#42"), Row("r02", "4", k, "FromProp", "#[NUM]"),
                    Row("r03", "-1", k, "Hex", "#x1F"), Row("r04", "2", k, "Hashes", "##5"),
                    Row("r05", "2", k, "List", "a[~]b"), Row("r06", "2", k, "Short", "[SHORTP]"),
                    Row("r07", "2", k + "\\KeyOnly", "+", ""), Row("r08", "2", k, "+", "plus"),
                    Row("r09", "2", k, "", "dflt"), Row("r10", "2", k + "\\Minus", "-", "x"),
                    Row("r11", "1", k, "User", "u"), Row("r12", "2", k, "Skipped", "no", "CompOff")});
   ASSERT_TRUE(package.Ok());
   package.SetAction("CompOff", INSTALLSTATE_UNKNOWN);
   const std::string c = "I0 Creating " + kHklm;
   EXPECT_EQ(Framed("I0 OVWriteRegistryValues64 running",
                    {c + " -> Dword = #42", c + " -> FromProp = #7", c + " -> Hex = #x1F", c + " -> Hashes = ##5",
                     c + " -> List = a~b", c + " -> Short = C:\\PROGRA~1\\", c + "\\KeyOnly -> + = ", c + " -> + = plus",
                     c + " ->  = dflt", "I0 Creating HKEY_CURRENT_USER\\" + k + " -> User = u"},
                    "I0 OVWriteRegistryValues64 ended"),
             Call(dll, "OVWriteRegistryValues64", package.Handle()));
   const HKEY lm = HKEY_LOCAL_MACHINE;
   const struct { HKEY root; std::string name, value; } values[] = {
      {lm, "Dword", "4:*\0\0\0"s}, {lm, "FromProp", "4:\7\0\0\0"s}, {lm, "Hex", "4:\0\0\0\0"s},
      {lm, "Hashes", "4:\5\0\0\0"s}, {lm, "List", "7:a\0b\0\0"s}, {lm, "Short", "7:C:\\PROGRA\0" "1\\\0\0"s},
      {lm, "+", "1:plus\0"s}, {lm, "", "1:dflt\0"s}, {HKEY_CURRENT_USER, "User", "1:u\0"s}, {lm, "Skipped", "absent"},
   };
   for (const auto &v : values) {
      EXPECT_EQ(v.value, Value(v.root, k, v.name)) << v.name;
   }
   EXPECT_TRUE(KeyExists(lm, k + "\\KeyOnly"));
   EXPECT_FALSE(KeyExists(lm, k + "\\Minus"));

   // "+" rows are skipped, "-" names the whole key, which a 64-bit DLL
   // leaves; the default value's deletion is refused.
   package.SetAction("CompOn", INSTALLSTATE_ABSENT);
   const std::string d = "I0 Deleting value " + kHklm;
   EXPECT_EQ(Framed("I0 OVRemoveRegistryValues64 running",
                    {d + " -> Dword", d + " -> FromProp", d + " -> Hex", d + " -> Hashes", d + " -> List",
                     d + " -> Short", d + " -> ", "E1 Util_DeleteValue: Invalid keyValue in DeleteValue",
                     "I0 Deleting entire key " + kHklm + "\\Minus", "I0 Deleting value HKEY_CURRENT_USER\\" + k + " -> User",
                     "I0 Deleting empty key HKEY_CURRENT_USER\\" + k},
                    "I0 OVRemoveRegistryValues64 ended"),
             Call(dll, "OVRemoveRegistryValues64", package.Handle()));
   for (const auto &v : values) {
      EXPECT_EQ(v.name.empty() || v.name == "+" ? v.value : "absent", Value(v.root, k, v.name)) << v.name;
   }
   EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, k));
}

// A key whose access list is `sddl`.
bool LockedKey(const std::string &key, const char *sddl)
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

TEST_F(RegistryTable, BadRowsStopTheWriteAndAreLoggedByTheRemove)
{
   const std::string k = kBase, locked = kBase + "\\Locked";
   const std::string root = std::to_string(static_cast<int>(reinterpret_cast<intptr_t>(HKEY_LOCAL_MACHINE)));
   const struct {
      const char *label;
      std::vector<Sql> extra;
      const char *sddl;   // for `locked`, made first
      UINT rc;
      Strings write, remove;
   } cases[] = {
      {"no table", {}, nullptr, 0, {"I0 Failed to open database view: 1615"}, {"I0 Failed to open database view: 1615"}},
      {"null Root", {kRegistryTable, Row("r1", "", k, "n", "v")}, nullptr, 1603, {"I0 Failed to retrieve Root: 0"},
       {"I0 Failed to retrieve Root: 0"}},
      {"Key of 256 bytes", {kRegistryTable, Row("r1", "2", std::string(256, 'k'), "n", "v")}, nullptr, 1603,
       {"I0 Failed to retrieve Key: 234"}, {"I0 Failed to retrieve Key: 234"}},
      {"Name over 255 bytes once formatted", {kRegistryTable, Property("LONG", std::string(250, 'n')),
        Row("r1", "2", k, "ab[LONG]cdef", "v")}, nullptr, 1603, {"I0 Failed to retrieve Name: 234"},
       {"I0 Failed to retrieve Name: 234"}},
      {"unknown component", {kRegistryTable, Row("r1", "2", k, "n", "v", "Ghost")}, nullptr, 1603,
       {"I0 Failed to retrieve component state: 1607, Ghost"}, {"I0 Failed to retrieve component state: 1607, Ghost"}},
      {"Component_ of 73 characters", {kRegistryTable, Row("r1", "2", k, "n", "v", std::string(73, 'c'))}, nullptr,
       1603, {"I0 Failed to retrieve Component_ string: 234"}, {"I0 Failed to retrieve Component_ string: 234"}},
      {"key that cannot be opened", {kRegistryTable, Row("r1", "2", k, "first", "1"), Row("r2", "2", locked, "n", "v")},
       "D:P(D;;KA;;;WD)", 1603,
       {"I0 Creating " + kHklm + " -> first = 1", "I0 Failed to create key: 0, (" + root + ")" + locked},
       {"I0 Deleting value " + kHklm + " -> first", "I0 Deleting value " + kHklm + "\\Locked -> n"}},
      {"value that cannot be written", {kRegistryTable, Row("r1", "2", locked, "n", "#12")}, "D:P(A;;KR;;;WD)", 1603,
       {"I0 Creating " + kHklm + "\\Locked -> n = #12",
        "E1 Util_SetKeyValue: Failed to create key " + locked + "| winerror code 5",
        "I0 Failed to set value: 0, #12"},
       {"I0 Deleting value " + kHklm + "\\Locked -> n"}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      SetUp();
      ASSERT_TRUE(c.sddl == nullptr || LockedKey(locked, c.sddl));
      Package package(c.extra);
      ASSERT_TRUE(package.Ok());
      EXPECT_EQ(Framed("I0 OVWriteRegistryValues64 running", c.write, "I0 OVWriteRegistryValues64 ended"),
                Call(dll, "OVWriteRegistryValues64", package.Handle(), c.rc));
      package.SetAction("CompOn", INSTALLSTATE_ABSENT);
      EXPECT_EQ(Framed("I0 OVRemoveRegistryValues64 running", c.remove, "I0 OVRemoveRegistryValues64 ended"),
                Call(dll, "OVRemoveRegistryValues64", package.Handle()));
   }
}

// A 32-bit process on 64-bit Windows, as the DLL's run-time lookup of
// kernel32!IsWow64Process sees it: only there are keys deleted.
testutil::ImportSlot *gProcSlot = nullptr;
BOOL WINAPI Wow64(HANDLE, PBOOL wow64) { return *wow64 = TRUE; }
FARPROC WINAPI Wow64GetProcAddress(HMODULE module, LPCSTR name)
{
   return std::string(name) == "IsWow64Process" ? reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&Wow64))
                                                : gProcSlot->Real<decltype(&GetProcAddress)>()(module, name);
}

TEST_F(RegistryTable, UnderWow64TheRemoveDeletesKeysAndSubkeys)
{
   const std::string k = kBase;
   for (const char *sub : {"\\Tree\\A\\B", "\\Tree\\C"}) {
      ASSERT_EQ(0, RegSetKeyValueA(HKEY_LOCAL_MACHINE, (k + sub).c_str(), "x", REG_SZ, "1", 2));
   }
   Package package({kRegistryTable, Row("r1", "2", k + "\\Tree", "*", ""), Row("r2", "2", k + "\\Empty", "v", "x"),
                    Row("r3", "2", k, "", "")});
   ASSERT_TRUE(package.Ok());
   Call(dll, "OVWriteRegistryValues64", package.Handle());
   package.SetAction("CompOn", INSTALLSTATE_ABSENT);
   testutil::ImportSlot slot(dll.Module(), "kernel32.dll", "GetProcAddress");
   ASSERT_TRUE(slot.Valid());
   gProcSlot = &slot;
   slot.Point(&Wow64GetProcAddress);
   const std::string warn = "I0 Warning: Deleting a key that isn't empty: \"";
   EXPECT_EQ(Framed("I0 OVRemoveRegistryValues64 running",
                    {"I0 Deleting entire key " + kHklm + "\\Tree", warn + kHklm + "\\Tree\"", warn + "\\A\"",
                     warn + "\\B\"", warn + "\\C\"", "I0 Deleting value " + kHklm + "\\Empty -> v",
                     "I0 Deleting empty key " + kHklm + "\\Empty", "I0 Deleting value " + kHklm + " -> ",
                     "E1 Util_DeleteValue: Invalid keyValue in DeleteValue", "I0 Deleting empty key " + kHklm},
                    "I0 OVRemoveRegistryValues64 ended"),
             Call(dll, "OVRemoveRegistryValues64", package.Handle()));
   EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, k));
}

// ---- OVResetRegSecurity -------------------------------------------------------

const std::string kMaker = "SOFTWARE\\Orvane, Inc.", kProduct = kMaker + "\\OvSecTest";

std::string Dacl(const std::string &key)
{
   PSECURITY_DESCRIPTOR sd = nullptr;
   LPSTR text = nullptr;
   std::string shown = "none";
   if (GetNamedSecurityInfoA(("MACHINE\\" + key).c_str(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                             nullptr, nullptr, &sd) == 0 &&
       ConvertSecurityDescriptorToStringSecurityDescriptorA(sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                            nullptr)) {
      shown = text;
   }
   LocalFree(text);
   LocalFree(sd);
   return shown;
}

// Creates `key` with the access list `sddl`, after making SYSTEM its owner
// when `system` (Wine then refuses this process any change of the list).
bool PrepareKey(const std::string &key, const char *sddl, bool system)
{
   const std::string name = "MACHINE\\" + key;
   HKEY h = nullptr;
   PSID sy = nullptr;
   PSECURITY_DESCRIPTOR sd = nullptr;
   BOOL present = FALSE, defaulted = FALSE;
   PACL dacl = nullptr;
   bool ok = RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr) == 0 &&
             RegCloseKey(h) == 0 &&
             (!system || (ConvertStringSidToSidA("SY", &sy) &&
                          SetNamedSecurityInfoA(&std::string(name)[0], SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, sy,
                                                nullptr, nullptr, nullptr) == 0)) &&
             ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &sd, nullptr) &&
             GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted) &&
             SetNamedSecurityInfoA(&std::string(name)[0], SE_REGISTRY_KEY,
                                   DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                   dacl, nullptr) == 0;
   LocalFree(sy);
   LocalFree(sd);
   return ok;
}

// Forced first results of advapi32!SetNamedSecurityInfoW by object name.
std::map<std::wstring, DWORD> gForced;
testutil::ImportSlot *gSecuritySlot = nullptr;
DWORD WINAPI ForcedSetNamedSecurityInfo(LPWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner,
                                        PSID group, PACL dacl, PACL sacl)
{
   const auto it = gForced.find(name);
   const DWORD forced = it != gForced.end() ? it->second : 0;
   if (it != gForced.end()) {
      gForced.erase(it);
      return forced;
   }
   return gSecuritySlot->Real<decltype(&SetNamedSecurityInfoW)>()(name, type, info, owner, group, dacl, sacl);
}

TEST(RegSecurity, ResetsBothKeysOrFailsByWindowsVersion)
{
   LoadedDll dll;
   // What the reset must leave: a new key's list.
   HKEY h = nullptr;
   ASSERT_EQ(0, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\OvSecFresh", 0, nullptr, REG_OPTION_VOLATILE,
                                KEY_ALL_ACCESS, nullptr, &h, nullptr));
   const std::string fresh = Dacl("SOFTWARE\\OvSecFresh");
   RegDeleteKeyA(h, "");
   RegCloseKey(h);
   const std::string reset = "I0 Reseting security for HKLM\\", failed = "I0 ERROR: Failed to set default ACL on HKLM\\";
   const std::string longKey = kMaker + "\\" + std::string(250, 'n');
   const std::wstring makerName = L"MACHINE\\" + Wide(kMaker), productName = L"MACHINE\\" + Wide(kProduct);
   enum Product { None, Explicit, Locked };
   const struct {
      const char *label, *version9x, *versionNT;
      std::string productReg;
      Product product;
      std::map<std::wstring, DWORD> forced;
      UINT rc;
      Strings lines;
      std::string failedKey;   // posted as error 26000 and ERROR_RESET_REG_SECURITY_KEY
   } cases[] = {
      {"Version9X: no line at all", "410", "601", "OvSecTest", Locked, {}, 0, {}, ""},
      {"neither key", "", "601", "", None, {}, 0,
       {reset + kMaker, "I0 " + kMaker + " not present", reset + kMaker + "\\Orvane Tools",
        "I0 " + kMaker + "\\Orvane Tools not present"}, ""},
      {"object name past 271 characters", "", "601", longKey.substr(kMaker.size() + 1), None, {}, 0,
       {reset + kMaker, reset + longKey, "I0 " + longKey + ": key path too long", failed + longKey}, ""},
      {"explicit access lists", "", "601", "OvSecTest", Explicit, {}, 0, {reset + kMaker, reset + kProduct}, ""},
      {"locked, VersionNT 501", "", "501", "OvSecTest", Locked, {}, 1603,
       {reset + kMaker, reset + kProduct, "I0 SetNamedSecurityInfo failed, lasterror 5", failed + kProduct}, kProduct},
      {"locked, VersionNT 601", "", "601", "OvSecTest", Locked, {}, 0,
       {reset + kMaker, reset + kProduct, "I0 SetNamedSecurityInfo failed, lasterror 5", failed + kProduct}, ""},
      {"refused, then owned", "", "601", "OvSecTest", Explicit, {{productName, ERROR_ACCESS_DENIED}}, 0,
       {reset + kMaker, reset + kProduct, "I0 SetNamedSecurityInfo returned 0"}, ""},
      {"the maker's key fails first", "", "500", "OvSecTest", Explicit, {{makerName, ERROR_INVALID_FUNCTION}}, 1603,
       {reset + kMaker, "I0 SetNamedSecurityInfo failed, lasterror 1", failed + kMaker}, kMaker},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      RegDeleteKeyA(HKEY_LOCAL_MACHINE, kProduct.c_str());
      if (c.lines.size() > 1 && c.lines[1].find("not present") != std::string::npos) {
         RegDeleteTreeA(HKEY_LOCAL_MACHINE, kMaker.c_str());
      } else {
         ASSERT_TRUE(PrepareKey(kMaker, "D:(A;;KA;;;BA)", false));
      }
      // Locked: read and delete only, so that the test can still remove it.
      ASSERT_TRUE(c.product == None ||
                  PrepareKey(kProduct, c.product == Locked ? "D:P(A;;KR;;;WD)(A;;SD;;;WD)" : "D:P(A;;KA;;;WD)",
                             c.product == Locked));
      const std::string before = Dacl(kProduct);
      Package package({Sql{"INSERT INTO `Error` (`Error`, `Message`) VALUES (26000, ?)",
                           "No default access for [ERROR_RESET_REG_SECURITY_KEY]."}});
      ASSERT_TRUE(package.Ok());
      package.Set("Version9X", c.version9x);
      package.Set("VersionNT", c.versionNT);
      package.Set("PRODUCT_REG_NAME", c.productReg);
      testutil::ImportSlot slot(dll.Module(), "advapi32.dll", "SetNamedSecurityInfoW");
      ASSERT_TRUE(slot.Valid());
      gSecuritySlot = &slot;
      gForced = c.forced;
      slot.Point(&ForcedSetNamedSecurityInfo);
      MessageRecorder recorder;
      LogMark mark;
      EXPECT_EQ(c.rc, dll.Call("OVResetRegSecurity", package.Handle()));
      Strings all = mark.Transcript(), own;
      std::copy_if(all.begin(), all.end(), std::back_inserter(own), [](auto &l) { return l.rfind("I0 ", 0) == 0; });
      EXPECT_EQ(c.lines.empty() ? Strings{} : Framed("I0 --- CA exec: OVResetRegSecurity", c.lines, ""),
                c.lines.empty() ? all : own);
      EXPECT_TRUE(gForced.empty()) << "a forced result was not used";
      EXPECT_EQ(c.failedKey.empty() ? Strings{} : Strings{"error No default access for " + c.failedKey + "."}, gMessages);
      EXPECT_EQ(c.failedKey, package.Get("ERROR_RESET_REG_SECURITY_KEY"));
      const bool resetDone = c.product == Explicit && c.forced.count(makerName) == 0;
      EXPECT_EQ(resetDone ? fresh : before, Dacl(kProduct));
      EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kProduct + "~tmp") || KeyExists(HKEY_LOCAL_MACHINE, kMaker + "~tmp"));
   }
   RegDeleteKeyA(HKEY_LOCAL_MACHINE, kProduct.c_str());
}

// ---- OVDisplayWarnings, OVMessageBox ------------------------------------------

Sql Warning(const std::string &condition, const std::string &message)
{
   return {"INSERT INTO `OVDisplayWarnings` (`Condition`" + (message.empty() ? ""s : ", `Message`") + ") VALUES (?" +
              (message.empty() ? ""s : ", " + message) + ")",
           condition};
}

TEST(DisplayWarnings, PostsTheWarningsOfTrueConditions)
{
   LoadedDll dll;
   const Sql table = {"CREATE TABLE `OVDisplayWarnings` (`Condition` CHAR(255), `Message` SHORT PRIMARY KEY `Condition`)"};
   const std::string posting = "I1 MsiUtil_PostWarningMessage: Posting warning message ", notTrue = "\" is not TRUE, do not show message.";
   const std::string long130 = "P=\"" + std::string(126, 'x') + "\"";
   const struct {
      const char *label;
      std::vector<Sql> rows;
      Strings lines, warnings;
   } cases[] = {
      // Rows come in the order of their key strings in the package, the empty one first.
      {"true, false, empty and broken conditions",
       {table, Warning("1", "25003"), Warning("NOPE=1", "25001"), Warning("", "25001"), Warning("(((", "25001"),
        Warning("NOT NOPE", "25001")},
       {"I0 Condition \"" + notTrue, posting + "25003", "I0 Condition \"NOPE=1" + notTrue, "I0 Condition \"(((" + notTrue,
        posting + "25001"},
       {"warning Warning 25003.Plain warning message.", "warning Warning 25001.Plain error message."}},
      {"condition of 130 bytes", {table, Warning(long130, "25001")}, {"I0 Failed to retrieve condition string: 234"}, {}},
      {"condition of 127 bytes", {table, Warning(long130.substr(3), "25001")},
       {"I0 Condition \"" + long130.substr(3) + notTrue}, {}},
      {"no message number", {table, Warning("1", "")}, {"I0 Failed to retrieve message number."}, {}},
      {"no table", {}, {"I0 Failed to open database view: 1615"}, {}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      Package package(c.rows);
      ASSERT_TRUE(package.Ok());
      MessageRecorder recorder;
      EXPECT_EQ(Framed("I0 OVDisplayWarnings running", c.lines, "I0 OVDisplayWarnings ended"),
                Call(dll, "OVDisplayWarnings", package.Handle()));
      EXPECT_EQ(c.warnings, gMessages);
   }
}

std::string Text(HWND w)
{
   wchar_t text[512] = {};
   GetWindowTextW(w, text, 512);
   return Utf8(text);
}

// Waits (until `stop`) for this process's message box; returns "caption|text|buttons|icon" and presses `press`.
std::string Answer(int press, const std::atomic<bool> &stop)
{
   HWND box = nullptr;
   for (int i = 0; i < 400 && !stop && box == nullptr; i++, Sleep(box == nullptr ? 50 : 0)) {
      EnumWindows(
         [](HWND w, LPARAM found) -> BOOL {
            DWORD pid = 0;
            wchar_t cls[16] = {};
            GetWindowThreadProcessId(w, &pid);
            GetClassNameW(w, cls, 16);
            const bool mine = pid == GetCurrentProcessId() && std::wstring(cls) == L"#32770" && IsWindowVisible(w);
            *reinterpret_cast<HWND *>(found) = mine ? w : *reinterpret_cast<HWND *>(found);
            return !mine;
         },
         reinterpret_cast<LPARAM>(&box));
   }
   if (box == nullptr) {
      return "no box";
   }
   std::string text, buttons, icon = "none";
   for (HWND c = GetWindow(box, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
      wchar_t cls[16] = {};
      GetClassNameW(c, cls, 16);
      if (!IsWindowVisible(c)) {
         continue;
      } else if (std::wstring(cls) == L"Button") {
         buttons += std::to_string(GetDlgCtrlID(c));
      } else if ((GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
         const LRESULT shown = SendMessageW(c, STM_GETICON, 0, 0);
         icon = shown == 0 ? "none" : shown == LRESULT(LoadIconW(nullptr, MAKEINTRESOURCEW(32515))) ? "exclamation"
                : shown == LRESULT(LoadIconW(nullptr, MAKEINTRESOURCEW(32514))) ? "question" : "other";
      } else if (!Text(c).empty()) {
         text = Text(c);
      }
   }
   const std::string seen = Text(box) + "|" + text + "|" + buttons + "|" + icon;
   PostMessageW(box, WM_COMMAND, MAKEWPARAM(press, BN_CLICKED), LPARAM(GetDlgItem(box, press)));
   return seen;
}

TEST(MessageBoxAction, ShowsTheErrorTableTextAndStoresTheAnswer)
{
   LoadedDll dll;
   Package package({Sql{"INSERT INTO `Error` (`Error`, `Message`) VALUES (25004, '')"}});
   ASSERT_TRUE(package.Ok());
   const std::string caption = "Orvane Tools Test|";
   // The owner window is looked up by the stored title first; there is none.
   HKEY company = nullptr;
   ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvane, Inc.", &company));
   RegDeleteValueW(company, L"Wnd");
   RegCloseKey(company);
   const Strings shown{"E1 Util_GetKeyValueString: Cannot query key value HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane, Inc.\\Wnd| winerror code 2"};
   const struct {
      const char *uiLevel, *data;
      int press;
      std::string box;   // what the answering thread saw
      Strings lines;
      const char *result;   // MSGBOX_RTN afterwards
   } cases[] = {
      {"5", "25001;36", IDNO, caption + "Plain error message.|67|question", shown, "7"},
      {"5", "25001", IDOK, caption + "Plain error message.|1|exclamation", shown, "1"},
      {"5", "25001;0", IDOK, caption + "Plain error message.|1|exclamation", shown, "1"},
      {"5", "25002;1", IDCANCEL, caption + "Number [2], text [3].|12|none", shown, "2"},
      {"3", "25001;4", IDYES, caption + "Plain error message.|67|none", shown, "6"},
      {"2", "25001;36", IDOK, "no box", {"I0 Silent install so exiting."}, "stale"},
      {"5", "", IDOK, "no box", {"I0 Message box parameter property not set."}, "stale"},
      {"5", "abc;4", IDOK, "no box", {"I0 Error number property not set."}, "stale"},
      {"5", "29999", IDOK, "no box", {"I0 Failed to fetch the records : 259"}, "stale"},
      {"5", "25004", IDOK, "no box", {"I0 Failed to retrieve error string : 0, size : 0"}, "stale"},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(std::string("UILevel ") + c.uiLevel + ", MSGBOX_DATA " + c.data);
      package.Set("UILevel", c.uiLevel);
      package.Set("MSGBOX_DATA", c.data);
      package.Set("MSGBOX_RTN", "stale");
      std::atomic<bool> stop{false};
      std::future<std::string> box = std::async(std::launch::async, [&] { return Answer(c.press, stop); });
      EXPECT_EQ(Framed("I0 OVMessageBox running.", c.lines, "I0 OVMessageBox ended"),
                Call(dll, "OVMessageBox", package.Handle()));
      stop = true;
      EXPECT_EQ(c.box, box.get());
      EXPECT_EQ(c.result, package.Get("MSGBOX_RTN"));
   }
}

// ---- OVCleanupTrayIcons -------------------------------------------------------

// The stand-in notification area with one toolbar per element of `toolbars`
// (letters as in its source), running while this lives.
class StandInTray {
public:
   explicit StandInTray(const std::vector<std::wstring> &toolbars) : toolbars_(toolbars)
   {
      std::wstring host = L"\\\\?\\unix" + Wide(OV_STAND_IN_TRAY_EXE), exe = ProcessFolder() + L"stand_in_tray.exe";
      std::replace(host.begin(), host.end(), L'/', L'\\');
      std::wstring command = L"\"" + exe + L"\"";
      for (const std::wstring &t : toolbars) {
         command += L" " + t;
      }
      STARTUPINFOW si = {};   // its output is for scripts only
      si.cb = sizeof si;
      si.dwFlags = STARTF_USESTDHANDLES;
      HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, L"OvStandInTrayReady");   // set once every window is made
      if (CopyFileW(host.c_str(), exe.c_str(), FALSE) &&
          CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_) &&
          WaitForSingleObject(ready, 10000) == WAIT_OBJECT_0) {
         for (int i = 0; i < 200 && pager_ == nullptr; i++, Sleep(50)) {
            HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
            DWORD pid = 0;
            GetWindowThreadProcessId(tray, &pid);
            tray_ = pid == pi_.dwProcessId ? tray : nullptr;
            pager_ = FindWindowExW(FindWindowExW(tray_, nullptr, L"TrayNotifyWnd", nullptr), nullptr, L"SysPager", nullptr);
         }
      }
      CloseHandle(ready);
   }
   ~StandInTray()
   {
      PostMessageW(tray_, WM_CLOSE, 0, 0);
      if (pi_.hProcess != nullptr && WaitForSingleObject(pi_.hProcess, 5000) != WAIT_OBJECT_0) {
         TerminateProcess(pi_.hProcess, 1);
      }
      CloseHandle(pi_.hProcess);
      CloseHandle(pi_.hThread);
   }
   bool Ok() const { return pager_ != nullptr; }
   DWORD Pid() const { return pi_.dwProcessId; }
   // Per toolbar, its letters with '.' for each button that is gone.
   Strings Left() const
   {
      Strings left;
      HWND toolbar = GetWindow(pager_, GW_CHILD);
      for (size_t t = 0; t < toolbars_.size(); t++, toolbar = GetWindow(toolbar, GW_HWNDNEXT)) {
         std::string s = Utf8(toolbars_[t]);
         for (size_t i = 0; s != "-" && i < s.size(); i++) {
            s[i] = SendMessageW(toolbar, TB_COMMANDTOINDEX, 100 * (t + 1) + i, 0) == -1 ? '.' : s[i];
         }
         left.push_back(s);
      }
      return left;
   }

private:
   std::vector<std::wstring> toolbars_;
   PROCESS_INFORMATION pi_ = {};
   HWND tray_ = nullptr, pager_ = nullptr;
};

HWND WINAPI NoTaskbar(LPCSTR, LPCSTR) { return SetLastError(ERROR_CANNOT_FIND_WND_CLASS), nullptr; }
HANDLE WINAPI RefusedProcess(DWORD, BOOL, DWORD) { return SetLastError(ERROR_ACCESS_DENIED), nullptr; }
LPVOID WINAPI NoRemoteMemory(HANDLE, LPVOID, SIZE_T, DWORD, DWORD) { return SetLastError(ERROR_NOT_ENOUGH_MEMORY), nullptr; }
BOOL WINAPI UnreadableMemory(HANDLE, LPCVOID, LPVOID, SIZE_T, SIZE_T *read)
{
   *read = 0;
   return SetLastError(ERROR_PARTIAL_COPY), FALSE;
}

TEST(TrayIcons, DeletesTheIconsOfVanishedOwners)
{
   const std::string unread = "I0 Could not get Button info. ReadProcessMemory failed with                    error 0x12b";
   const struct {
      const char *label;
      std::vector<std::wstring> toolbars;
      const char *dll, *function;   // a stand-in for this import, or null
      void *standIn;
      Strings lines;   // "<pid>": the stand-in's process id
      Strings left;
   } cases[] = {
      {"live and dead mixed", {L"LDDLD"}, nullptr, nullptr, nullptr, {}, {"L..L."}},
      {"three dead first", {L"DDDLL"}, nullptr, nullptr, nullptr, {}, {"...LL"}},
      {"every toolbar", {L"LL", L"DL", L"D"}, nullptr, nullptr, nullptr, {}, {"LL", ".L", "."}},
      {"a toolbar without buttons ends the walk", {L"-", L"DD"}, nullptr, nullptr, nullptr,
       {"I0 No System Tray Buttons"}, {"-", "DD"}},
      {"no taskbar", {L"D"}, "user32.dll", "FindWindowA", reinterpret_cast<void *>(&NoTaskbar),
       {"I0 Shell Tray Window not found OVCleanupTrayIcons, GetLastError - 0x57f "}, {"D"}},
      {"process refused", {L"D", L"D"}, "kernel32.dll", "OpenProcess", reinterpret_cast<void *>(&RefusedProcess),
       {"I0 Open Process failed for process <pid> with error 0x5"}, {"D", "D"}},
      {"no memory in the shell", {L"D"}, "kernel32.dll", "VirtualAllocEx", reinterpret_cast<void *>(&NoRemoteMemory),
       {"I0 VirtualAllocEx failed with error 0x8"}, {"D"}},
      {"memory unreadable, every toolbar tried", {L"D", L"LD"}, "kernel32.dll", "ReadProcessMemory",
       reinterpret_cast<void *>(&UnreadableMemory), {unread, unread}, {"D", "LD"}},
   };
   LoadedDll dll;
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      StandInTray tray(c.toolbars);
      ASSERT_TRUE(tray.Ok());
      std::unique_ptr<testutil::ImportSlot> slot;
      if (c.function != nullptr) {
         slot = std::make_unique<testutil::ImportSlot>(dll.Module(), c.dll, c.function);
         ASSERT_TRUE(slot->Valid()) << c.function;
         slot->Point(c.standIn);
      }
      LogMark mark;
      EXPECT_EQ(0u, dll.Call("OVCleanupTrayIcons", 0));
      slot.reset();
      Strings lines = {"I0 Cleaning up dangling system tray icons."};
      for (std::string line : c.lines) {
         const size_t at = line.find("<pid>");
         lines.push_back(at == std::string::npos ? line : line.replace(at, 5, std::to_string(tray.Pid())));
      }
      EXPECT_EQ(lines, mark.Transcript());
      EXPECT_EQ(c.left, tray.Left());
   }
   // Wine's own taskbar (under Xvfb) has no notification area; a window
   // search that finds nothing leaves the last error as it was.
   LogMark mark;
   SetLastError(ERROR_INVALID_WINDOW_HANDLE);
   EXPECT_EQ(0u, dll.Call("OVCleanupTrayIcons", 0));
   EXPECT_EQ((Strings{"I0 Cleaning up dangling system tray icons.",
                      "I0 TrayNotifyWnd not found OVCleanupTrayIcons, GetLastError - 0x578 "}),
             mark.Transcript());
}

}  // namespace
