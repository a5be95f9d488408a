// libFuzzer harness: random bytes as a launch executable, as registration
// CustomActionData and (as UTF-16 units) as a stop-services list. Aborts
// when a result breaks the promises of common/processText.h: unquoted text
// with a quote at an end, a command line not built from its parts, a pair
// with an empty field or not found in order in the data, more names than
// the count or than the separators allow.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/processText.h"

namespace {

void Check(bool ok, const char *what)
{
   if (!ok) {
      fprintf(stderr, "processText_fuzz: %s\n", what);
      abort();
   }
}

void CheckLaunch(const std::string &executable)
{
   const std::string unquoted = ProcessText_Unquote(executable);
   Check(unquoted.empty() || (unquoted.front() != '"' && unquoted.back() != '"'), "quote left");
   Check(executable.find(unquoted) != std::string::npos, "unquoted text not in the input");
   const std::string line = ProcessText_CommandLine(unquoted, "args");
   Check(unquoted.empty() ? line == "args" : line == "\"" + unquoted + "\" args", "command line");
}

void CheckServers(const std::string &data)
{
   size_t at = 0;
   for (const auto &[folder, file] : ProcessText_ServerList(data)) {
      Check(!folder.empty() && !file.empty(), "empty field in a pair");
      Check(folder.find(';') == std::string::npos && file.find(';') == std::string::npos,
            "separator inside a field");
      Check(data.compare(at, folder.size() + 1 + file.size(), folder + ";" + file) == 0,
            "pair not where the walk stands");
      at += folder.size() + 1 + file.size() + 1;
   }
}

void CheckServices(const WideString &value)
{
   const ServiceList list = ProcessText_ServiceList(value);
   const size_t separators = std::count(value.begin(), value.end(), u';');
   if (list.check != ServiceListCheck::Ok) {
      Check(list.names.empty(), "names after a refused list");
      Check((list.check == ServiceListCheck::NoSeparator) == (separators == 0), "separator check");
      return;
   }
   Check(list.names.size() <= separators, "more names than separators allow");
   size_t at = value.find(u';') + 1;
   for (const WideString &name : list.names) {
      Check(name.find(u';') == WideString::npos, "separator inside a name");
      Check(value.compare(at, name.size(), name) == 0, "name not where the walk stands");
      at += name.size() + 1;
   }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   const std::string bytes(reinterpret_cast<const char *>(data), size);
   CheckLaunch(bytes);
   CheckServers(bytes);
   WideString units;
   for (size_t i = 0; i + 1 < size; i += 2) {
      units.push_back(static_cast<utf16_t>(data[i] | data[i + 1] << 8));
   }
   CheckServices(units);
   return 0;
}
