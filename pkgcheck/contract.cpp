#include "pkgcheck/contract.h"

namespace pkgcheck {

namespace {

constexpr int kAny = 1 << 30;

const std::vector<ActionContract> kContracts = {
   {"OVAppSearch", Phase::Immediate, 0, 0, false, "OVAppSearch", {}, nullptr},
   {"OVAppTerminate", Phase::Either, 0, kAny, false, nullptr, {}, nullptr},
   {"OVAutoSelectInstallDrive", Phase::Immediate, 0, 0, false, nullptr, {26002}, nullptr},
   {"OVCleanupTrayIcons", Phase::Either, 0, 0, false, nullptr, {}, nullptr},
   {"OVDecoupleChildInstaller", Phase::Either, 0, 0, false, nullptr, {}, nullptr},
   {"OVDeleteFilesAndFolders", Phase::Deferred, 2, kAny, true, nullptr, {}, nullptr},
   {"OVDetectRunningVM", Phase::Immediate, 0, 0, false, nullptr, {}, nullptr},
   {"OVDetectWin2003R2", Phase::Immediate, 0, 0, false, nullptr, {}, nullptr},
   {"OVDisplayWarnings", Phase::Immediate, 0, 0, false, "OVDisplayWarnings", {}, nullptr},
   {"OVInstallInfKernelDriver", Phase::Deferred, 4, 4, false, nullptr, {}, "OVUninstallInfKernelDriver"},
   {"OVInstallKernelDriver", Phase::Deferred, 4, 12, false, nullptr, {25030}, "OVUninstallKernelDriver"},
   {"OVIsRepairSafe", Phase::Immediate, 0, 0, false, nullptr, {}, nullptr},
   {"OVMessageBox", Phase::Immediate, 0, 0, false, nullptr, {}, nullptr},
   {"OVReadInProperties", Phase::Immediate, 0, 0, false, nullptr, {}, nullptr},
   {"OVRegSvr", Phase::Deferred, 2, kAny, true, nullptr, {}, "OVUnregSvr"},
   {"OVRemoveRegistryValues64", Phase::Immediate, 0, 0, false, "OVRegistry64", {}, nullptr},
   {"OVResetRegSecurity", Phase::Immediate, 0, 0, false, nullptr, {26000}, nullptr},
   {"OVServiceFailureConfig", Phase::Deferred, 1, 8, false, nullptr, {}, nullptr},
   {"OVSetOVSysVer", Phase::Immediate, 0, 0, false, nullptr, {}, nullptr},
   {"OVSetRealVersionNT", Phase::Immediate, 0, 0, false, nullptr, {}, nullptr},
   {"OVStopRunningServices", Phase::Immediate, 0, 0, false, nullptr, {}, nullptr},
   {"OVUninstallInfKernelDriver", Phase::Deferred, 4, 4, false, nullptr, {}, "OVInstallInfKernelDriver"},
   {"OVUninstallKernelDriver", Phase::Deferred, 1, 4, false, nullptr, {25031}, "OVInstallKernelDriver"},
   {"OVUnregSvr", Phase::Deferred, 2, kAny, true, nullptr, {}, "OVRegSvr"},
   {"OVValidateINSTALLDIR", Phase::Immediate, 0, 0, false, nullptr, {}, nullptr},
   {"OVWriteRegistryValues64", Phase::Immediate, 0, 0, false, "OVRegistry64", {}, nullptr},
};

}  // namespace

const std::vector<ActionContract> &Contracts()
{
   return kContracts;
}

const ActionContract *FindContract(const std::string &exportName)
{
   for (const ActionContract &c : kContracts) {
      if (exportName == c.name) {
         return &c;
      }
   }
   return nullptr;
}

const char *TableColumnTypes(const std::string &table)
{
   if (table == "OVAppSearch") {
      return "ssi";      // Property, FileName, Attributes
   }
   if (table == "OVDisplayWarnings") {
      return "si";       // condition, message number
   }
   if (table == "OVRegistry64") {
      return "sissss";   // key, Root, Key, Name, Value, Component_
   }
   return nullptr;
}

}  // namespace pkgcheck
