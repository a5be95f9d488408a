// libFuzzer harness: random bytes as the CustomActionData of every service
// action (UTF-16 units for the wide forms, bytes for the narrow ones).
// Aborts when a field holds a ";", when the kernel-driver fields do not
// rejoin to a prefix of the data, when a number disagrees with a plain
// model, or when the failure-action verdict breaks its promises.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/serviceActionData.h"

namespace {

void Check(bool ok, const char *what)
{
   if (!ok) {
      fprintf(stderr, "serviceActionData_fuzz: %s\n", what);
      abort();
   }
}

bool HasSemicolon(const WideString &s)
{
   return s.find(utf16_t(';')) != WideString::npos;
}

// The model: white space, digits, saturation at the limit.
int64_t Model(const WideString &s, bool isSigned)
{
   size_t i = 0;
   while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) {
      i++;
   }
   bool negative = false;
   if (isSigned && i < s.size() && (s[i] == '-' || s[i] == '+')) {
      negative = s[i++] == '-';
   }
   const int64_t limit = isSigned ? (negative ? 2147483648LL : 2147483647LL) : 4294967295LL;
   int64_t v = 0;
   for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; i++) {
      v = v * 10 + (s[i] - '0');
      v = v > limit ? limit : v;
   }
   return negative ? -v : v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   if (size > 4096) {
      return 0;
   }
   WideString wide;
   for (size_t i = 0; i + 1 < size; i += 2) {
      wide.push_back(static_cast<utf16_t>(data[i] | data[i + 1] << 8));
   }
   const std::string narrow(reinterpret_cast<const char *>(data), size);

   Check(ServiceData_ReadUnsigned(wide) == static_cast<uint32_t>(Model(wide, false)), "unsigned reading");
   Check(ServiceData_ReadSigned(wide) == Model(wide, true), "signed reading");

   const KernelDriverInstallData k = ServiceData_ParseKernelDriverInstall(wide);
   const WideString parts[] = {k.serviceName, k.displayName, k.description, k.binaryPath,
                               k.loadOrderGroup, k.dependencies, k.loadAfter};
   for (const WideString &p : parts) {
      Check(!HasSemicolon(p), "a text field holds the separator");
   }
   const WideString head = k.serviceName + utf16_t(';') + k.displayName + utf16_t(';') + k.description +
                           utf16_t(';') + k.binaryPath;
   Check(wide.compare(0, head.size(), head) == 0 || head.size() > wide.size(), "fields do not rejoin");
   Check(k.HasRequired() == (!k.serviceName.empty() && !k.displayName.empty() && !k.binaryPath.empty()),
         "required fields");

   const KernelDriverUninstallData u = ServiceData_ParseKernelDriverUninstall(narrow);
   Check(u.serviceName.find(';') == std::string::npos && narrow.compare(0, u.serviceName.size(), u.serviceName) == 0,
         "uninstall service name");

   const InfSectionData inf = ServiceData_ParseInfSection(narrow, wide);
   Check(inf.CommandLine().size() == inf.section.size() + inf.rebootMode.size() + inf.infPath.size() + 2,
         "command line length");

   const FailureConfigData f = ServiceData_ParseFailureConfig(wide);
   Check(f.actionCount <= 3, "more than three actions");
   Check((f.check == FailureConfigCheck::Valid) == (f.actionCount > 0), "actions without a valid verdict");
   Check(f.check != FailureConfigCheck::UnknownMethod || !f.unknownMethod.empty(), "unknown method empty");
   for (uint32_t i = 0; i < f.actionCount; i++) {
      Check(f.actionTypes[i] <= 3, "action type");
      Check(!f.usesRebootMessage || f.check == FailureConfigCheck::Valid, "reboot message without actions");
   }
   return 0;
}
