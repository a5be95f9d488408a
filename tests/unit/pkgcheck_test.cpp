// The package checker's rules on packages made up in memory: a package that
// calls the library as it asks gives no finding; each one broken in one way
// gives exactly the finding for it.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "pkgcheck/contract.h"
#include "pkgcheck/package.h"

using namespace pkgcheck;

namespace {

constexpr int kDll = 1, kDeferred = 0x400, kRollback = 0x100, kNoImpersonate = 0x800, kSetter = 51;
constexpr int kMachine = kDll | kDeferred | kNoImpersonate;

CustomActionRow &Action(Package &p, const std::string &name)
{
   return *std::find_if(p.customActions.begin(), p.customActions.end(),
                        [&name](const CustomActionRow &ca) { return ca.action == name; });
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
      // A rollback action: it needs no rollback of its own, but its data in pairs.
      {"SetUnreg", kSetter, "Unreg", "[INSTALLDIR];a.dll;[INSTALLDIR]x;b.dll"},
      {"Unreg", kMachine | kRollback, "OvLib", "OVUnregSvr"},
   };
   p.sequences["InstallUISequence"] = {{"AskUser", 200}};
   p.sequences["InstallExecuteSequence"] = {{"Search", 100},         {"Warnings", 110},   {"SetUndoDriver", 1000},
                                            {"SetInstallDriver", 1001}, {"UndoDriver", 1500}, {"InstallDriver", 1501},
                                            {"SetUnreg", 1002},         {"Unreg", 1600}};
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
      std::function<void(Package &)> breakIt;
      std::string finding;
   } cases[] = {
      {[](Package &) {}, ""},
      {[](Package &p) { p.customActions.push_back({"Typo", kDll, "OvLib", "OVInstalKernelDriver"}); },
       "error   unknown-export  " + ca + "Typo]: calls 'OVInstalKernelDriver', which the DLL in Binary 'OvLib' does not export"},
      // An unreadable DLL: checked against the library's own names.
      {[](Package &p) {
          p.exports.clear();
          Action(p, "AskUser").target = "OVNoSuch";
       }, "error   unknown-export  " + ca + "AskUser]: calls 'OVNoSuch', which ovinstutil.dll does not export"},
      // A DLL named on the command line stands for the Binary entries.
      {[](Package &p) {
          p.dllName = "old.dll";
          p.dllExports = p.exports["OvLib"];
          p.dllExports.erase("OVMessageBox");
       }, "error   unknown-export  " + ca + "AskUser]: calls 'OVMessageBox', which old.dll does not export"},
      {[](Package &p) { Action(p, "Search").type |= kDeferred; },
       "error   needs-immediate " + ca + "Search]: OVAppSearch reads properties, tables or component states that a "
       "deferred action cannot see: schedule it without the in-script flag (0x400)"},
      {[](Package &p) { Action(p, "InstallDriver").type = kDll; },
       "error   needs-deferred  " + ca + "InstallDriver]: OVInstallKernelDriver changes the machine and reads "
       "CustomActionData: schedule it deferred (0x400)"},
      {[](Package &p) { Action(p, "InstallDriver").type = kDll | kDeferred; },
       "error   impersonated    " + ca + "InstallDriver]: OVInstallKernelDriver changes the machine: run it without "
       "impersonation (0x800)"},
      {[](Package &p) { Action(p, "SetInstallDriver").source = "Other"; },
       "error   no-data-setter  " + ca + "InstallDriver]: no action sets the property 'InstallDriver', so its "
       "CustomActionData is empty"},
      {[](Package &p) { p.sequences["InstallExecuteSequence"][3].sequence = 1700; },
       "error   no-data-setter  " + ca + "InstallDriver]: 'SetInstallDriver', which sets its CustomActionData, is not "
       "sequenced before it in InstallExecuteSequence"},
      {[](Package &p) { Action(p, "SetInstallDriver").target += ";x"; },
       "error   field-count     " + ca + "InstallDriver]: 'SetInstallDriver' gives it 13 fields; OVInstallKernelDriver "
       "reads 4 to 12"},
      {[](Package &p) { Action(p, "SetUnreg").target += ";c:\\"; },
       "error   field-count     " + ca + "Unreg]: 'SetUnreg' gives it 5 fields; OVUnregSvr reads them in pairs"},
      {[](Package &p) { p.tables.erase("OVAppSearch"); },
       "error   missing-table   " + ca + "Search]: OVAppSearch reads the table OVAppSearch, which the package lacks"},
      {[](Package &p) { p.tables["OVAppSearch"][2].type = "s72"; },
       "error   table-columns   " + ca + "Search]: the table OVAppSearch has the column types 'sss'; OVAppSearch "
       "reads 'ssi' (s text, i integer) from its first columns"},
      {[](Package &p) { p.errors.erase(25030); },
       "error   missing-error   " + ca + "InstallDriver]: OVInstallKernelDriver posts message 25030, which the Error "
       "table lacks"},
      {[](Package &p) { p.warningMessages.push_back(25999); },
       "error   missing-error   " + ca + "Warnings]: OVDisplayWarnings shows, by a row of OVDisplayWarnings, message "
       "25999, which the Error table lacks"},
      {[](Package &p) { p.properties["MSGBOX_DATA"] = "26999"; },
       "error   missing-error   " + ca + "AskUser]: OVMessageBox shows, by MSGBOX_DATA '26999', message 26999, which "
       "the Error table lacks"},
      {[](Package &p) { p.sequences["InstallExecuteSequence"][4].sequence = 1700; },
       "warning no-rollback     " + ca + "InstallDriver]: no rollback action calling OVUninstallKernelDriver is "
       "sequenced before it in InstallExecuteSequence: a failed installation leaves its change behind"},
   };
   for (const auto &c : cases) {
      Package p = Good();
      c.breakIt(p);
      std::string got;
      for (const Finding &f : Check(p)) {
         got += (got.empty() ? "" : "\n") + Format(f);
      }
      EXPECT_EQ(c.finding, got);
   }
}

}  // namespace
