// The CustomActionData of the service and driver custom actions, split into
// their fields and read as the actions use them. Free of Windows, so that
// the splitting and the number readings are tested and fuzzed natively.
//
// Fields are separated by ";" with no quoting; a missing trailing field is
// empty. Numbers are decimal: leading white space is skipped, reading stops
// at the first character that is not a digit, and a field without digits
// reads as 0. A value past the type's range reads as its limit.
#pragma once

#include <cstdint>
#include <string>

#include "common/msiUtilText.h"

uint32_t ServiceData_ReadUnsigned(const WideString &field);
// A sign ("+" or "-") may stand right before the digits.
int32_t ServiceData_ReadSigned(const WideString &field);
int32_t ServiceData_ReadSigned(const std::string &field);

// The twelve fields of the kernel-driver install.
struct KernelDriverInstallData {
   WideString serviceName, displayName, description, binaryPath;
   uint32_t startType = 0, errorControl = 0, startNow = 0;
   WideString loadOrderGroup, dependencies;
   uint32_t serviceType = 1;   // an empty field: SERVICE_KERNEL_DRIVER
   bool wantTag = false;
   WideString loadAfter;
   // Service name, display name and binary path are given.
   bool HasRequired() const;
};
KernelDriverInstallData ServiceData_ParseKernelDriverInstall(const WideString &data);

// The four fields of the kernel-driver uninstall.
struct KernelDriverUninstallData {
   std::string serviceName;
   int32_t ignored = 0;
   bool removeTag = false;   // the third field reads as exactly 1
   std::string loadOrderGroup;
};
KernelDriverUninstallData ServiceData_ParseKernelDriverUninstall(const std::string &data);

// The INF-section actions read the same data twice: the service name from
// the narrow form, the rest from the wide form.
struct InfSectionData {
   std::string serviceName;
   WideString section, rebootMode, infPath;
   // "<section> <reboot mode> <INF path>": the path last, unquoted, since
   // the setup API reads the rest of the line as the path.
   WideString CommandLine() const;
};
InfSectionData ServiceData_ParseInfSection(const std::string &narrowData, const WideString &wideData);

// The failure actions of a service, and the verdict on them in the order
// the action checks: name, delay, each method in turn, at least one method.
enum class FailureConfigCheck {
   Valid,
   NoServiceName,
   NegativeDelay,
   UnknownMethod,   // `unknownMethod` holds the word
   NoActions,
};

struct FailureConfigData {
   FailureConfigCheck check = FailureConfigCheck::NoServiceName;
   WideString serviceName, command, rebootMessage, unknownMethod;
   bool resetInfinite = false;   // a negative reset period
   uint32_t resetPeriodSeconds = 0;
   uint32_t delayMs = 0;
   uint32_t actionCount = 0;     // 0 to 3
   uint32_t actionTypes[3] = {0, 0, 0};
   bool usesRebootMessage = false, usesCommand = false;
};
FailureConfigData ServiceData_ParseFailureConfig(const WideString &data);
