// OVWriteRegistryValues64 and OVRemoveRegistryValues64 in installer sessions
// on packages with an OVRegistry64 table, component action states set by
// the test; the registry read back after each run. The DLL is 64-bit, so
// the remove action deletes values but never keys.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/msi/msiSession.h"
#include "tests/msi/tablePackage.h"

using namespace msitest;
using namespace std::string_literals;

namespace {

using Strings = std::vector<std::string>;

const std::string kBase = "SOFTWARE\\OvRegTableTest";
const std::string kHklm = "HKEY_LOCAL_MACHINE\\" + kBase;

const Sql kCreateTable = {
   "CREATE TABLE `OVRegistry64` (`Registry` CHAR(72) NOT NULL, `Root` SHORT, `Key` CHAR(255), "
   "`Name` CHAR(255), `Value` LONGCHAR, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Registry`)", {}};

// A row; root "" leaves the column null.
Sql Row(const std::string &id, const std::string &root, const std::string &key, const std::string &name,
        const std::string &value, const std::string &component = "CompOn")
{
   if (root.empty()) {
      return {"INSERT INTO `OVRegistry64` (`Registry`, `Key`, `Name`, `Value`, `Component_`) VALUES (?, ?, ?, ?, ?)",
              {id, key, name, value, component}};
   }
   return {"INSERT INTO `OVRegistry64` (`Registry`, `Root`, `Key`, `Name`, `Value`, `Component_`) VALUES (?, " +
              root + ", ?, ?, ?, ?)",
           {id, key, name, value, component}};
}

Sql Property(const std::string &name, const std::string &value)
{
   return {"INSERT INTO `Property` (`Property`, `Value`) VALUES (?, ?)", {name, value}};
}

// The action's lines and the errors and warnings of the library beneath it,
// as "LL text".
Strings RunAction(const LoadedDll &dll, const char *action, MSIHANDLE install, UINT rc)
{
   LogMark mark;
   EXPECT_EQ(rc, dll.Call(action, install)) << action;
   Strings lines;
   for (const std::string &line : mark.Transcript()) {
      if (line.rfind("I0 ", 0) == 0 || line.rfind("E1 ", 0) == 0 || line.rfind("W1 ", 0) == 0) {
         lines.push_back(line);
      }
   }
   return lines;
}

// "type:bytes" of a value, "absent" when it cannot be read.
std::string Value(HKEY root, const std::string &key, const std::string &name)
{
   char data[512];
   DWORD type = REG_NONE, size = sizeof data;
   if (RegGetValueA(root, key.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type, data, &size) !=
       ERROR_SUCCESS) {
      return "absent";
   }
   return std::to_string(type) + ":" + std::string(data, size);
}

bool KeyExists(HKEY root, const std::string &key)
{
   HKEY h = nullptr;
   return RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &h) == ERROR_SUCCESS && RegCloseKey(h) == 0;
}

void DeleteTree(HKEY root, const std::string &key)
{
   RegDeleteTreeA(root, key.c_str());
   RegDeleteKeyA(root, key.c_str());
}

class RegistryTable : public testing::Test {
protected:
   void SetUp() override
   {
      // A key that denies everything still goes through its parent.
      RegDeleteKeyA(HKEY_LOCAL_MACHINE, (kBase + "\\Locked").c_str());
      DeleteTree(HKEY_LOCAL_MACHINE, kBase);
      DeleteTree(HKEY_CURRENT_USER, kBase);
      DeleteTree(HKEY_CLASSES_ROOT, "OvRegTableTest");
   }
   void TearDown() override { SetUp(); }
   LoadedDll dll;
};

TEST_F(RegistryTable, WritesEveryEncodingAndRemovesTheValues)
{
   const std::string k = kBase;
   TablePackage package({"CompOn", "CompOff"}, {
      kCreateTable, Property("NUM", "7"), Property("SHORTP", "C:\\PROGRA~1\\"), Property("VNAME", "Named"),
      Row("r01", "2", k, "Dword", "#42"),
      Row("r02", "2", k, "FromProp", "#[NUM]"),
      Row("r03", "2", k, "Hex", "#x1F"),
      Row("r04", "2", k, "Hashes", "##5"),
      Row("r05", "2", k, "List1", "a[~]b"),
      Row("r06", "2", k, "List2", "a~b"),
      Row("r07", "2", k, "Short", "[SHORTP]"),
      Row("r08", "2", k + "\\KeyOnly", "+", ""),
      Row("r09", "2", k, "+", "plus"),
      Row("r10", "2", k, "", "dflt"),
      Row("r11", "2", k + "\\Minus", "-", "x"),
      Row("r12", "4", k, "Root4", "x"),
      Row("r13", "-1", k, "RootM1", "y"),
      Row("r14", "1", k, "User", "u"),
      Row("r15", "0", "OvRegTableTest", "Classes", "c"),
      Row("r16", "2", k, "[VNAME]", "[NUM]"),
      Row("r17", "2", k + "\\Star", "*", ""),
      Row("r18", "2", k, "Empty", ""),
      Row("r19", "2", k, "Skipped", "no", "CompOff"),
   });
   ASSERT_TRUE(package.Ok()) << package.Failure();
   ASSERT_TRUE(package.SetAction("CompOff", INSTALLSTATE_UNKNOWN));

   const std::string c = "I0 Creating " + kHklm;
   EXPECT_EQ((Strings{"I0 OVWriteRegistryValues64 running",
                      c + " -> Dword = #42", c + " -> FromProp = #7", c + " -> Hex = #x1F", c + " -> Hashes = ##5",
                      c + " -> List1 = a~b", c + " -> List2 = a~b", c + " -> Short = C:\\PROGRA~1\\",
                      c + "\\KeyOnly -> + = ", c + " -> + = plus", c + " ->  = dflt", c + " -> Root4 = x",
                      c + " -> RootM1 = y", "I0 Creating HKEY_CURRENT_USER\\" + k + " -> User = u",
                      "I0 Creating HKEY_CLASSES_ROOT\\OvRegTableTest -> Classes = c", c + " -> Named = 7",
                      c + "\\Star -> * = ", c + " -> Empty = ", "I0 OVWriteRegistryValues64 ended"}),
             RunAction(dll, "OVWriteRegistryValues64", package.Handle(), 0));

   const HKEY lm = HKEY_LOCAL_MACHINE;
   const std::string dword = "4:", sz = "1:", multi = "7:";
   const struct { HKEY root; std::string key, name, value; } values[] = {
      {lm, k, "Dword", dword + "\x2a\0\0\0"s}, {lm, k, "FromProp", dword + "\x07\0\0\0"s},
      {lm, k, "Hex", dword + "\0\0\0\0"s}, {lm, k, "Hashes", dword + "\x05\0\0\0"s},
      {lm, k, "List1", multi + "a\0b\0\0"s}, {lm, k, "List2", multi + "a\0b\0\0"s},
      {lm, k, "Short", multi + "C:\\PROGRA\0" "1\\\0\0"s}, {lm, k, "+", sz + "plus\0"s}, {lm, k, "", sz + "dflt\0"s},
      {lm, k, "Root4", sz + "x\0"s}, {lm, k, "RootM1", sz + "y\0"s}, {HKEY_CURRENT_USER, k, "User", sz + "u\0"s},
      {HKEY_CLASSES_ROOT, "OvRegTableTest", "Classes", sz + "c\0"s}, {lm, k, "Named", sz + "7\0"s},
      {lm, k, "Empty", sz + "\0"s}, {lm, k, "Skipped", "absent"},
      {lm, k + "\\KeyOnly", "+", "absent"}, {lm, k + "\\Star", "*", "absent"},
   };
   for (const auto &v : values) {
      EXPECT_EQ(v.value, Value(v.root, v.key, v.name)) << v.key << " " << v.name;
   }
   EXPECT_TRUE(KeyExists(lm, k + "\\KeyOnly"));
   EXPECT_TRUE(KeyExists(lm, k + "\\Star"));
   EXPECT_FALSE(KeyExists(lm, k + "\\Minus"));

   // Removal: the "+" row is skipped, "-" and "*" name the whole key, which
   // a 64-bit process leaves; every other row deletes its value.
   ASSERT_TRUE(package.SetAction("CompOn", INSTALLSTATE_ABSENT));
   const std::string d = "I0 Deleting value " + kHklm;
   EXPECT_EQ((Strings{"I0 OVRemoveRegistryValues64 running",
                      d + " -> Dword", d + " -> FromProp", d + " -> Hex", d + " -> Hashes", d + " -> List1",
                      d + " -> List2", d + " -> Short", d + " -> ",
                      "E1 Util_DeleteValue: Invalid keyValue in DeleteValue",
                      "I0 Deleting entire key " + kHklm + "\\Minus", d + " -> Root4", d + " -> RootM1",
                      "I0 Deleting value HKEY_CURRENT_USER\\" + k + " -> User",
                      "I0 Deleting empty key HKEY_CURRENT_USER\\" + k,
                      "I0 Deleting value HKEY_CLASSES_ROOT\\OvRegTableTest -> Classes",
                      "I0 Deleting empty key HKEY_CLASSES_ROOT\\OvRegTableTest", d + " -> Named",
                      "I0 Deleting entire key " + kHklm + "\\Star", d + " -> Empty",
                      "I0 OVRemoveRegistryValues64 ended"}),
             RunAction(dll, "OVRemoveRegistryValues64", package.Handle(), 0));
   for (const auto &v : values) {
      // The "+" row is skipped and the default value's deletion refused.
      EXPECT_EQ(v.name.empty() || v.name == "+" ? v.value : "absent", Value(v.root, v.key, v.name)) << v.key << " " << v.name;
   }
   EXPECT_TRUE(KeyExists(lm, k + "\\Star"));
   EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "OvRegTableTest"));
}

// A key whose access list `sddl` gives; removed by the fixture.
bool LockedKey(const std::string &key, const char *sddl)
{
   HKEY h = nullptr;
   PSECURITY_DESCRIPTOR sd = nullptr;
   bool ok = RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h,
                             nullptr) == ERROR_SUCCESS &&
             ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &sd, nullptr) &&
             RegSetKeySecurity(h, DACL_SECURITY_INFORMATION, sd) == ERROR_SUCCESS;
   LocalFree(sd);
   RegCloseKey(h);
   return ok;
}

TEST_F(RegistryTable, BadRowsStopTheWriteAndAreLoggedByTheRemove)
{
   const std::string k = kBase;
   const std::string longKey(256, 'k');
   const std::string component73(73, 'c');
   const std::string hlm = std::to_string(static_cast<int>(reinterpret_cast<intptr_t>(HKEY_LOCAL_MACHINE)));
   const struct {
      const char *label;
      std::vector<Sql> extra;
      const char *lockedKey, *sddl;   // a key made with this access list first
      UINT writeRc;
      Strings write, remove;   // between the opening and closing lines
   } cases[] = {
      {"no table", {}, nullptr, nullptr, 0, {"I0 Failed to open database view: 1615"},
       {"I0 Failed to open database view: 1615"}},
      {"null Root", {kCreateTable, Row("r1", "", k, "n", "v")}, nullptr, nullptr, 1603,
       {"I0 Failed to retrieve Root: 0"}, {"I0 Failed to retrieve Root: 0"}},
      {"Key of 256 bytes", {kCreateTable, Row("r1", "2", longKey, "n", "v")}, nullptr, nullptr, 1603,
       {"I0 Failed to retrieve Key: 234"}, {"I0 Failed to retrieve Key: 234"}},
      {"Name over 255 bytes once formatted", {kCreateTable, Property("LONG", std::string(250, 'n')),
        Row("r1", "2", k, "ab[LONG]cdef", "v")}, nullptr, nullptr, 1603,
       {"I0 Failed to retrieve Name: 234"}, {"I0 Failed to retrieve Name: 234"}},
      {"unknown component", {kCreateTable, Row("r1", "2", k, "n", "v", "Ghost")}, nullptr, nullptr, 1603,
       {"I0 Failed to retrieve component state: 1607, Ghost"}, {"I0 Failed to retrieve component state: 1607, Ghost"}},
      {"Component_ of 73 characters", {kCreateTable, Row("r1", "2", k, "n", "v", component73)}, nullptr, nullptr,
       1603, {"I0 Failed to retrieve Component_ string: 234"}, {"I0 Failed to retrieve Component_ string: 234"}},
      {"key that cannot be opened", {kCreateTable, Row("r1", "2", k, "first", "1"), Row("r2", "2", k + "\\Locked", "n", "v")},
       "\\Locked", "D:P(D;;KA;;;WD)", 1603,
       {"I0 Creating " + kHklm + " -> first = 1",
        "I0 Failed to create key: 0, (" + hlm + ")" + k + "\\Locked"},
       {"I0 Deleting value " + kHklm + " -> first", "I0 Deleting value " + kHklm + "\\Locked -> n",
}},
      {"value that cannot be written", {kCreateTable, Row("r1", "2", k + "\\Locked", "n", "#12")},
       "\\Locked", "D:P(A;;KR;;;WD)", 1603,
       {"I0 Creating " + kHklm + "\\Locked -> n = #12",
        "E1 Util_SetKeyValue: Failed to create key " + k + "\\Locked| winerror code 5 (Access denied.)",
        "I0 Failed to set value: 0, #12"},
       {"I0 Deleting value " + kHklm + "\\Locked -> n"}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      SetUp();
      if (c.lockedKey != nullptr) {
         ASSERT_TRUE(LockedKey(k + c.lockedKey, c.sddl));
      }
      TablePackage package({"CompOn"}, c.extra);
      ASSERT_TRUE(package.Ok()) << package.Failure();
      Strings write = {"I0 OVWriteRegistryValues64 running"};
      write.insert(write.end(), c.write.begin(), c.write.end());
      write.push_back("I0 OVWriteRegistryValues64 ended");
      EXPECT_EQ(write, RunAction(dll, "OVWriteRegistryValues64", package.Handle(), c.writeRc));
      ASSERT_TRUE(package.SetAction("CompOn", INSTALLSTATE_ABSENT));
      Strings remove = {"I0 OVRemoveRegistryValues64 running"};
      remove.insert(remove.end(), c.remove.begin(), c.remove.end());
      remove.push_back("I0 OVRemoveRegistryValues64 ended");
      EXPECT_EQ(remove, RunAction(dll, "OVRemoveRegistryValues64", package.Handle(), 0));
   }
}

}  // namespace
