// The CustomActionData of the service and driver custom actions.
#include "common/serviceActionData.h"

#include <limits>

namespace {

const utf16_t kSemicolon[] = {';', 0};

bool IsSpace(uint32_t c)
{
   return c == ' ' || (c >= '\t' && c <= '\r');
}

// The digits at `at` as a magnitude, saturated at `limit`.
template <typename Str>
uint64_t ReadDigits(const Str &field, size_t at, uint64_t limit)
{
   uint64_t value = 0;
   for (; at < field.size() && field[at] >= '0' && field[at] <= '9'; at++) {
      value = value * 10 + static_cast<uint64_t>(field[at] - '0');
      if (value > limit) {
         value = limit;
      }
   }
   return value;
}

template <typename Str>
size_t SkipSpace(const Str &field)
{
   size_t at = 0;
   while (at < field.size() && IsSpace(static_cast<uint32_t>(field[at]))) {
      at++;
   }
   return at;
}

template <typename Str>
int32_t ReadSignedOf(const Str &field)
{
   return static_cast<int32_t>(Util_ReadDecimal(field, std::numeric_limits<int32_t>::min(),
                                                std::numeric_limits<int32_t>::max()));
}

WideString Wide(const char *ascii)
{
   WideString s;
   for (; *ascii != '\0'; ascii++) {
      s.push_back(static_cast<utf16_t>(*ascii));
   }
   return s;
}

// The fields in order, each call the next one (empty once the data ends).
class WideFields {
public:
   explicit WideFields(const WideString &data) : data_(data) {}
   WideString Next()
   {
      if (pos_ >= data_.size()) {
         return WideString();
      }
      return Util_NextTokenW(data_, kSemicolon, pos_);
   }

private:
   const WideString &data_;
   uint32_t pos_ = 0;
};

class NarrowFields {
public:
   explicit NarrowFields(const std::string &data) : data_(data) {}
   std::string Next() { return pos_ >= data_.size() ? std::string() : Util_NextToken(data_, ";", pos_); }

private:
   const std::string &data_;
   uint32_t pos_ = 0;
};

struct Method {
   const char *word;
   uint32_t type;
};
// SC_ACTION_NONE, SC_ACTION_RESTART, SC_ACTION_REBOOT, SC_ACTION_RUN_COMMAND.
const Method kMethods[] = {{"none", 0}, {"restart", 1}, {"reboot", 2}, {"runCommand", 3}};
constexpr uint32_t kReboot = 2, kRunCommand = 3;

}  // namespace

uint32_t ServiceData_ReadUnsigned(const WideString &field)
{
   return static_cast<uint32_t>(
      ReadDigits(field, SkipSpace(field), std::numeric_limits<uint32_t>::max()));
}

int32_t ServiceData_ReadSigned(const WideString &field)
{
   return ReadSignedOf(field);
}

int32_t ServiceData_ReadSigned(const std::string &field)
{
   return ReadSignedOf(field);
}

bool KernelDriverInstallData::HasRequired() const
{
   return !serviceName.empty() && !displayName.empty() && !binaryPath.empty();
}

KernelDriverInstallData ServiceData_ParseKernelDriverInstall(const WideString &data)
{
   WideFields f(data);
   KernelDriverInstallData d;
   d.serviceName = f.Next();
   d.displayName = f.Next();
   d.description = f.Next();
   d.binaryPath = f.Next();
   d.startType = ServiceData_ReadUnsigned(f.Next());
   d.errorControl = ServiceData_ReadUnsigned(f.Next());
   d.startNow = ServiceData_ReadUnsigned(f.Next());
   d.loadOrderGroup = f.Next();
   d.dependencies = f.Next();
   const WideString type = f.Next();
   d.serviceType = type.empty() ? 1 : ServiceData_ReadUnsigned(type);
   d.wantTag = !f.Next().empty();
   d.loadAfter = f.Next();
   return d;
}

KernelDriverUninstallData ServiceData_ParseKernelDriverUninstall(const std::string &data)
{
   NarrowFields f(data);
   KernelDriverUninstallData d;
   d.serviceName = f.Next();
   d.ignored = ServiceData_ReadSigned(f.Next());
   d.removeTag = ServiceData_ReadSigned(f.Next()) == 1;
   d.loadOrderGroup = f.Next();
   return d;
}

WideString InfSectionData::CommandLine() const
{
   const utf16_t blank[] = {' ', 0};
   return section + blank + rebootMode + blank + infPath;
}

InfSectionData ServiceData_ParseInfSection(const std::string &narrowData, const WideString &wideData)
{
   InfSectionData d;
   d.serviceName = NarrowFields(narrowData).Next();
   WideFields f(wideData);
   f.Next();
   d.section = f.Next();
   d.rebootMode = f.Next();
   d.infPath = f.Next();
   return d;
}

FailureConfigData ServiceData_ParseFailureConfig(const WideString &data)
{
   WideFields f(data);
   FailureConfigData d;
   d.serviceName = f.Next();
   WideString methods[3];
   for (WideString &m : methods) {
      m = f.Next();
   }
   d.command = f.Next();
   d.rebootMessage = f.Next();
   const int32_t resetDays = ServiceData_ReadSigned(f.Next());
   const int32_t delaySeconds = ServiceData_ReadSigned(f.Next());

   if (d.serviceName.empty()) {
      d.check = FailureConfigCheck::NoServiceName;
      return d;
   }
   d.resetInfinite = resetDays < 0;
   d.resetPeriodSeconds =
      d.resetInfinite ? 0xFFFFFFFFu : static_cast<uint32_t>(resetDays) * 86400u;
   if (delaySeconds < 0) {
      d.check = FailureConfigCheck::NegativeDelay;
      return d;
   }
   d.delayMs = static_cast<uint32_t>(delaySeconds) * 1000u;
   for (const WideString &m : methods) {
      if (m.empty()) {
         break;
      }
      const Method *known = nullptr;
      for (const Method &k : kMethods) {
         if (m == Wide(k.word)) {
            known = &k;
         }
      }
      if (known == nullptr) {
         d.check = FailureConfigCheck::UnknownMethod;
         d.unknownMethod = m;
         d.actionCount = 0;
         return d;
      }
      d.actionTypes[d.actionCount++] = known->type;
      d.usesRebootMessage |= known->type == kReboot;
      d.usesCommand |= known->type == kRunCommand;
   }
   d.check = d.actionCount == 0 ? FailureConfigCheck::NoActions : FailureConfigCheck::Valid;
   return d;
}
