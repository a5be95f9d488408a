// libFuzzer harness: random bytes as the text the action families take
// apart, as bytes and (two bytes a unit) as UTF-16 for the wide forms. Each
// result is compared with a model of what the headers promise, built from
// other parts: the C runtime's strtoll for every number, a plain split at
// the separator for every list.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "common/fileText.h"
#include "common/processText.h"
#include "common/registryValue.h"
#include "common/serviceActionData.h"

#define CHECK(ok) ((ok) ? (void)0 : (fprintf(stderr, "actionText_fuzz: %s\n", #ok), abort()))

namespace {

const std::string kBlanks = " \t\n\v\f\r";

// Wide text for the C runtime: a unit past ASCII is neither blank, sign nor digit.
std::string Narrow(const WideString &wide)
{
   std::string s;
   for (utf16_t c : wide) {
      s += c < 0x80 ? static_cast<char>(c) : 'x';
   }
   return s;
}

int64_t Signed(const std::string &s, int64_t min = INT32_MIN, int64_t max = INT32_MAX)
{
   return std::clamp<int64_t>(std::strtoll(s.c_str(), nullptr, 10), min, max);
}

uint32_t Unsigned(const std::string &s)
{
   const size_t at = s.find_first_not_of(kBlanks);
   return at != std::string::npos && (s[at] == '-' || s[at] == '+') ? 0 : Signed(s, 0, UINT32_MAX);
}

// Every field between separators; fields past the end are empty.
template <typename Str>
std::vector<Str> Split(const Str &s, char separator, size_t atLeast = 0)
{
   std::vector<Str> fields(1);
   for (auto c : s) {
      if (c == separator) {
         fields.emplace_back();
      } else {
         fields.back() += c;
      }
   }
   fields.resize(std::max(fields.size(), atLeast));
   return fields;
}

// The (first, second) pairs of fields, up to the first pair with an empty one.
template <typename Str>
std::vector<std::pair<Str, Str>> PairsOf(const std::vector<Str> &fields)
{
   std::vector<std::pair<Str, Str>> pairs;
   for (size_t i = 0; i + 1 < fields.size() && !fields[i].empty() && !fields[i + 1].empty(); i += 2) {
      pairs.emplace_back(fields[i], fields[i + 1]);
   }
   return pairs;
}

std::string Trim(const std::string &s)
{
   const size_t first = s.find_first_not_of(kBlanks);
   return first == std::string::npos ? "" : s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

void FileText(const std::string &bytes, const WideString &wide, bool allowNetwork, bool remote)
{
   std::vector<std::pair<std::string, std::string>> assignments, parsed;
   for (const std::string &rawLine : Split(bytes, '\n')) {
      const std::string line = Trim(rawLine), name = Trim(line.substr(0, line.find('=')));
      if (!line.empty() && line[0] != ';' && !name.empty()) {
         const size_t eq = line.find('=');
         assignments.emplace_back(name, eq == std::string::npos ? "" : Trim(line.substr(eq + 1)));
      }
   }
   for (const PropertyAssignment &a : Util_ParsePropertyFile(bytes)) {
      parsed.emplace_back(a.name, a.value);
   }
   CHECK(parsed == assignments);

   const auto pairs = PairsOf(Split(wide, ';'));
   const std::vector<DeleteEntry> entries = Util_ParseDeleteList(wide);
   size_t i = 0;
   for (const DeleteEntry &e : entries) {
      const std::string type = Narrow(e.type);
      CHECK(i < pairs.size() && e.type == pairs[i].first && e.path == pairs[i].second);
      CHECK(e.kind == (type == "file"     ? DeleteKind::File
                       : type == "folder" ? DeleteKind::Folder
                                          : DeleteKind::Unknown));
      CHECK(++i == entries.size() || e.kind != DeleteKind::Unknown);
   }
   CHECK(i == pairs.size() || (i > 0 && entries.back().kind == DeleteKind::Unknown));

   std::string digits = bytes;
   digits.erase(std::remove(digits.begin(), digits.end(), ','), digits.end());
   CHECK(Util_ParseRequiredSpace(bytes) == std::strtoll(digits.c_str(), nullptr, 10));

   const int result = Util_CheckInstallDirText(bytes, allowNetwork, [&](const std::string &) { return remote; });
   CHECK(result == (bytes.empty()                                               ? INSTALLDIR_EMPTY
                    : !allowNetwork && (remote || bytes.rfind("\\\\", 0) == 0) ? INSTALLDIR_REMOTE
                    : bytes.find(';') != std::string::npos                      ? INSTALLDIR_SEMICOLON
                    : bytes.size() > INSTALLDIR_MAX_LENGTH                      ? INSTALLDIR_TOO_LONG
                                                                                : INSTALLDIR_VALID));
}

void ProcessText(const std::string &bytes, const WideString &wide)
{
   const std::string unquoted = ProcessText_Unquote(bytes);
   const size_t at = bytes.find(unquoted);
   CHECK(at != std::string::npos && (unquoted.empty() || (unquoted.front() != '"' && unquoted.back() != '"')));
   CHECK((bytes.substr(0, at) + bytes.substr(at + unquoted.size())).find_first_not_of('"') == std::string::npos);

   CHECK(ProcessText_ServerList(bytes) == PairsOf(Split(bytes, ';')));

   const ServiceList list = ProcessText_ServiceList(wide);
   std::vector<WideString> names = Split(wide, ';');
   const int64_t count = Signed(Narrow(names[0]));
   CHECK(list.check == (names.size() == 1 ? ServiceListCheck::NoSeparator
                        : count == 0       ? ServiceListCheck::ZeroCount
                        : count < 0        ? ServiceListCheck::BadCount
                                           : ServiceListCheck::Ok));
   names.erase(names.begin());
   if (!names.empty() && names.back().empty()) {
      names.pop_back();
   }
   names.resize(list.check == ServiceListCheck::Ok ? std::min<size_t>(names.size(), count) : 0);
   CHECK(list.names == names);
}

void RegistryValue(const std::string &bytes)
{
   const size_t nul = bytes.find('\0');
   const std::string source = bytes.substr(0, nul), raw = RegistryValue_ReplaceTildeMarks(source);
   const std::string formatted = nul == std::string::npos ? raw : bytes.substr(nul + 1);
   static const std::regex mark("\\[~\\]");
   CHECK(raw == std::regex_replace(source, mark, "~"));

   std::string digits = formatted;
   digits.erase(std::remove(digits.begin(), digits.end(), '#'), digits.end());
   const RegistryValueData d = RegistryValue_Encode(raw, formatted);
   if (!raw.empty() && raw[0] == '#') {
      const uint32_t v = static_cast<uint32_t>(Signed(digits));
      CHECK(d.type == REGISTRY_VALUE_DWORD &&
            d.bytes == std::string({char(v), char(v >> 8), char(v >> 16), char(v >> 24)}));
      return;
   }
   std::string strings = formatted + '\0';
   const bool list = formatted.find('~') != std::string::npos;
   std::replace(strings.begin(), strings.end(), '~', '\0');
   CHECK(d.type == (list ? REGISTRY_VALUE_MULTI_SZ : REGISTRY_VALUE_SZ));
   CHECK(d.bytes == (list ? strings + '\0' : strings));
}

void ServiceActionData(const std::string &bytes, const WideString &wide)
{
   const std::vector<WideString> w = Split(wide, ';', 12);
   const KernelDriverInstallData k = ServiceData_ParseKernelDriverInstall(wide);
   CHECK(k.serviceName == w[0] && k.displayName == w[1] && k.description == w[2] && k.binaryPath == w[3]);
   CHECK(k.startType == Unsigned(Narrow(w[4])) && k.errorControl == Unsigned(Narrow(w[5])) &&
         k.startNow == Unsigned(Narrow(w[6])));
   CHECK(k.loadOrderGroup == w[7] && k.dependencies == w[8] && k.loadAfter == w[11]);
   CHECK(k.serviceType == (w[9].empty() ? 1 : Unsigned(Narrow(w[9]))) && k.wantTag == !w[10].empty());
   CHECK(k.HasRequired() == (!w[0].empty() && !w[1].empty() && !w[3].empty()));

   const std::vector<std::string> n = Split(bytes, ';', 4);
   const KernelDriverUninstallData u = ServiceData_ParseKernelDriverUninstall(bytes);
   CHECK(u.serviceName == n[0] && u.removeTag == (Signed(n[2]) == 1) && u.loadOrderGroup == n[3]);
   const InfSectionData inf = ServiceData_ParseInfSection(bytes, wide);
   CHECK(inf.serviceName == n[0] && inf.section == w[1] && inf.rebootMode == w[2] && inf.infPath == w[3]);

   const FailureConfigData f = ServiceData_ParseFailureConfig(wide);
   CHECK(f.serviceName == w[0] && f.command == w[4] && f.rebootMessage == w[5]);
   const int64_t resetDays = Signed(Narrow(w[6])), delay = Signed(Narrow(w[7]));
   if (w[0].empty() || delay < 0) {
      CHECK(f.check == (w[0].empty() ? FailureConfigCheck::NoServiceName : FailureConfigCheck::NegativeDelay));
      return;
   }
   CHECK(f.resetInfinite == (resetDays < 0) && f.delayMs == uint32_t(delay) * 1000u);
   CHECK(f.resetPeriodSeconds == (resetDays < 0 ? 0xFFFFFFFFu : uint32_t(resetDays) * 86400u));
   const std::string methods[] = {"none", "restart", "reboot", "runCommand"};
   uint32_t count = 0;
   for (; count < 3 && !w[1 + count].empty(); count++) {
      const uint32_t type = std::find(methods, methods + 4, Narrow(w[1 + count])) - methods;
      if (type == 4) {
         CHECK(f.check == FailureConfigCheck::UnknownMethod && f.unknownMethod == w[1 + count] && f.actionCount == 0);
         return;
      }
      CHECK(f.actionTypes[count] == type);
   }
   CHECK(f.actionCount == count && f.check == (count == 0 ? FailureConfigCheck::NoActions : FailureConfigCheck::Valid));
   CHECK(f.usesRebootMessage == (std::find(f.actionTypes, f.actionTypes + count, 2u) != f.actionTypes + count));
   CHECK(f.usesCommand == (std::find(f.actionTypes, f.actionTypes + count, 3u) != f.actionTypes + count));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   const std::string bytes(reinterpret_cast<const char *>(data), size);
   WideString wide;
   for (size_t i = 0; i + 1 < size; i += 2) {
      wide.push_back(static_cast<utf16_t>(data[i] | data[i + 1] << 8));
   }
   FileText(bytes, wide, size > 0 && (data[0] & 1) != 0, size > 1 && (data[1] & 1) != 0);
   ProcessText(bytes, wide);
   RegistryValue(bytes);
   ServiceActionData(bytes, wide);
   return 0;
}
