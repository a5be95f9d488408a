// The package checker's rules on packages made up in memory: a package that
// calls the library as it asks gives no finding; each one broken in one way
// gives exactly the finding for it.
#include <gtest/gtest.h>

#include <functional>

#include "pkgcheck/contract.h"
#include "pkgcheck/package.h"
#include "pkgcheck/peExports.h"

using namespace pkgcheck;

namespace {

constexpr int kDll = 1, kDeferred = 0x400, kRollback = 0x100, kNoImpersonate = 0x800, kSetter = 51;
constexpr int kMachine = kDll | kDeferred | kNoImpersonate;

CustomActionRow *Action(Package &p, const std::string &name)
{
   for (CustomActionRow &ca : p.customActions) {
      if (ca.action == name) {
         return &ca;
      }
   }
   return nullptr;
}

void Erase(Package &p, const std::string &name)
{
   p.customActions.erase(p.customActions.begin() + (Action(p, name) - p.customActions.data()));
}

Package Good()
{
   Package p;
   for (const ActionContract &c : Contracts()) {
      p.exports["OvLib"].insert(c.name);
   }
   p.customActions = {
      {"Search", kDll, "OvLib", "OVAppSearch"},
      {"Warnings", kDll, "OvLib", "OVDisplayWarnings"},
      {"AskUser", kDll, "OvLib", "OVMessageBox"},
      {"SetUndoDriver", kSetter, "UndoDriver", "ovdrv;0;1;Extended Base"},
      {"SetInstallDriver", kSetter, "InstallDriver",
       "ovdrv;Orvane Driver;[ProductName];[INSTALLDIR]ovdrv.sys;3;1;1;Extended Base;;1;1;"},
      {"UndoDriver", kMachine | kRollback, "OvLib", "OVUninstallKernelDriver"},
      {"InstallDriver", kMachine, "OvLib", "OVInstallKernelDriver"},
      {"SetRegister", kSetter, "Register", "[INSTALLDIR];a.dll;[INSTALLDIR]x;b.dll"},
      {"Register", kMachine, "OvLib", "OVRegSvr"},
      {"UndoRegister", kMachine | kRollback, "OvLib", "OVUnregSvr"},
      {"SetUndoRegister", kSetter, "UndoRegister", "[INSTALLDIR];a.dll"},
   };
   p.sequences["InstallUISequence"] = {{"AskUser", 200}};
   p.sequences["InstallExecuteSequence"] = {{"Search", 100},           {"Warnings", 110},
                                            {"SetUndoDriver", 1000},   {"SetInstallDriver", 1001},
                                            {"UndoDriver", 1500},      {"InstallDriver", 1501},
                                            {"SetUndoRegister", 1002}, {"SetRegister", 1003},
                                            {"UndoRegister", 1600},    {"Register", 1601}};
   p.tables["OVAppSearch"] = {{"Property", "s72"}, {"FileName", "L255"}, {"Attributes", "i2"}};
   p.tables["OVDisplayWarnings"] = {{"Condition", "S255"}, {"Message", "I4"}, {"Note", "S0"}};
   p.errors = {25030, 25031, 25100, 25101};
   p.warningMessages = {25100};
   p.properties["MSGBOX_DATA"] = "25101;36";
   return p;
}

TEST(PackageChecker, EachBrokenRuleGivesItsOneFinding)
{
   const std::string ca = "CustomAction[";
   const struct {
      const char *label;
      std::function<void(Package &)> breakIt;
      std::string finding;
   } cases[] = {
      {"as the library asks", [](Package &) {}, ""},
      {"a name the DLL lacks", [](Package &p) { p.customActions.push_back({"Typo", kDll, "OvLib", "OVInstalKernelDriver"}); },
       "error   unknown-export  " + ca + "Typo]: calls 'OVInstalKernelDriver', which the DLL in Binary 'OvLib' does not export"},
      {"an unreadable DLL: the library's own names", [](Package &p) {
          p.exports.clear();
          p.customActions.push_back({"Typo", kDll, "OvLib", "OVNoSuch"});
       }, "error   unknown-export  " + ca + "Typo]: calls 'OVNoSuch', which ovinstutil.dll does not export"},
      {"a DLL named on the command line", [](Package &p) {
          p.dllName = "old.dll";
          p.dllExports = p.exports["OvLib"];
          p.dllExports.erase("OVMessageBox");
       }, "error   unknown-export  " + ca + "AskUser]: calls 'OVMessageBox', which old.dll does not export"},
      {"a table reader deferred", [](Package &p) { Action(p, "Search")->type |= kDeferred; },
       "error   needs-immediate " + ca + "Search]: OVAppSearch reads properties, tables or component states that a "
       "deferred action cannot see: schedule it without the in-script flag (0x400)"},
      {"a driver installed immediately", [](Package &p) { Action(p, "InstallDriver")->type = kDll; },
       "error   needs-deferred  " + ca + "InstallDriver]: OVInstallKernelDriver changes the machine and reads "
       "CustomActionData: schedule it deferred (0x400)"},
      {"a driver installed impersonated", [](Package &p) { Action(p, "InstallDriver")->type = kDll | kDeferred; },
       "error   impersonated    " + ca + "InstallDriver]: OVInstallKernelDriver changes the machine: run it without "
       "impersonation (0x800)"},
      {"no data setter", [](Package &p) { Erase(p, "SetInstallDriver"); },
       "error   no-data-setter  " + ca + "InstallDriver]: no action sets the property 'InstallDriver', so its "
       "CustomActionData is empty"},
      {"the setter after the action", [](Package &p) { p.sequences["InstallExecuteSequence"][3].sequence = 1700; },
       "error   no-data-setter  " + ca + "InstallDriver]: 'SetInstallDriver', which sets its CustomActionData, is not "
       "sequenced before it in InstallExecuteSequence"},
      {"thirteen fields", [](Package &p) { Action(p, "SetInstallDriver")->target += ";x"; },
       "error   field-count     " + ca + "InstallDriver]: 'SetInstallDriver' gives it 13 fields; OVInstallKernelDriver "
       "reads 4 to 12"},
      {"a folder without its file", [](Package &p) { Action(p, "SetRegister")->target += ";c:\\"; },
       "error   field-count     " + ca + "Register]: 'SetRegister' gives it 5 fields; OVRegSvr reads them in pairs"},
      {"no table", [](Package &p) { p.tables.erase("OVAppSearch"); },
       "error   missing-table   " + ca + "Search]: OVAppSearch reads the table OVAppSearch, which the package lacks"},
      {"a table of other types", [](Package &p) { p.tables["OVAppSearch"][2].type = "s72"; },
       "error   table-columns   " + ca + "Search]: the table OVAppSearch has the column types 'sss'; OVAppSearch "
       "reads 'ssi' (s text, i integer) from its first columns"},
      {"a posted message missing", [](Package &p) { p.errors.erase(25030); },
       "error   missing-error   " + ca + "InstallDriver]: OVInstallKernelDriver posts message 25030, which the Error "
       "table lacks"},
      {"a warning row's message missing", [](Package &p) { p.warningMessages.push_back(25999); },
       "error   missing-error   " + ca + "Warnings]: OVDisplayWarnings shows, by a row of OVDisplayWarnings, message "
       "25999, which the Error table lacks"},
      {"the message box's message missing", [](Package &p) { p.properties["MSGBOX_DATA"] = "26999"; },
       "error   missing-error   " + ca + "AskUser]: OVMessageBox shows, by MSGBOX_DATA '26999', message 26999, which "
       "the Error table lacks"},
      {"no rollback", [](Package &p) { Erase(p, "UndoRegister"); },
       "warning no-rollback     " + ca + "Register]: no rollback action calling OVUnregSvr is sequenced before it in "
       "InstallExecuteSequence: a failed installation leaves its change behind"},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      Package p = Good();
      c.breakIt(p);
      std::string got;
      for (const Finding &f : Check(p)) {
         got += (got.empty() ? "" : "\n") + Format(f);
      }
      EXPECT_EQ(c.finding, got);
   }
}

// A DLL image of two sections with the export names "OVA" and "OVB": the
// smallest the reader accepts. Every cut of it is read without a fault.
TEST(PackageChecker, ExportNamesOfADllImage)
{
   std::string image(0x400, '\0');
   auto put = [&image](size_t at, uint32_t value, int bytes) {
      for (int i = 0; i < bytes; i++) {
         image[at + i] = static_cast<char>(value >> (8 * i));
      }
   };
   put(0, 0x5A4D, 2);
   put(0x3C, 0x40, 4);
   put(0x40, 0x4550, 4);                    // PE signature
   put(0x46, 1, 2);                         // one section
   put(0x54, 240, 2);                       // optional header size (PE32+)
   put(0x58, 0x20B, 2);                     // PE32+
   put(0x58 + 108, 16, 4);                  // data directories
   put(0x58 + 112, 0x1000, 4);              // export directory at 0x1000
   put(0x58 + 116, 0x100, 4);
   const size_t section = 0x58 + 240;
   put(section + 8, 0x200, 4);              // virtual size
   put(section + 12, 0x1000, 4);            // address
   put(section + 16, 0x200, 4);             // raw size
   put(section + 20, 0x200, 4);             // raw offset
   put(0x200 + 24, 2, 4);                   // two names
   put(0x200 + 32, 0x1040, 4);              // name table
   put(0x240, 0x1050, 4);
   put(0x244, 0x1054, 4);
   image.replace(0x250, 8, std::string("OVA\0OVB\0", 8));
   std::set<std::string> names;
   EXPECT_TRUE(ReadExportNames(image, names));
   EXPECT_EQ((std::set<std::string>{"OVA", "OVB"}), names);
   for (size_t cut = 0; cut < 0x258; cut += 3) {
      EXPECT_FALSE(ReadExportNames(image.substr(0, cut), names)) << cut;
      EXPECT_TRUE(names.empty());
   }
}

}  // namespace
