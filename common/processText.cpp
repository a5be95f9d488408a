// Command lines, registration lists and stop-services lists as text.
#include "common/processText.h"

#include <climits>

std::string ProcessText_Unquote(const std::string &executable)
{
   const size_t first = executable.find_first_not_of('"');
   if (first == std::string::npos) {
      return std::string();
   }
   const size_t last = executable.find_last_not_of('"');
   return executable.substr(first, last - first + 1);
}

std::string ProcessText_CommandLine(const std::string &unquotedExecutable,
                                    const std::string &arguments)
{
   if (unquotedExecutable.empty()) {
      return arguments;
   }
   return "\"" + unquotedExecutable + "\" " + arguments;
}

std::vector<std::pair<std::string, std::string>>
ProcessText_ServerList(const std::string &customActionData)
{
   std::vector<std::pair<std::string, std::string>> servers;
   uint32_t pos = 0;
   for (;;) {
      std::string folder = Util_NextToken(customActionData, ";", pos);
      std::string file = Util_NextToken(customActionData, ";", pos);
      if (folder.empty() || file.empty()) {
         return servers;
      }
      servers.emplace_back(std::move(folder), std::move(file));
   }
}

namespace {

bool IsBlank(utf16_t c)
{
   return c == ' ' || (c >= '\t' && c <= '\r');
}

// The count before the first ";", read as a signed decimal number that
// stops at the first non-digit; out of range it stays at the int limits.
long long ReadCount(const WideString &text)
{
   size_t i = 0;
   while (i < text.size() && IsBlank(text[i])) {
      i++;
   }
   bool negative = false;
   if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
      negative = text[i] == '-';
      i++;
   }
   long long count = 0;
   for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; i++) {
      if (count <= INT_MAX) {
         count = count * 10 + (text[i] - '0');
      }
   }
   if (count > INT_MAX) {
      count = negative ? -static_cast<long long>(INT_MAX) - 1 : INT_MAX;
   } else if (negative) {
      count = -count;
   }
   return count;
}

} // namespace

ServiceList ProcessText_ServiceList(const WideString &value)
{
   ServiceList list;
   const size_t separator = value.find(';');
   if (separator == WideString::npos) {
      list.check = ServiceListCheck::NoSeparator;
      return list;
   }
   const long long count = ReadCount(value.substr(0, separator));
   if (count == 0) {
      list.check = ServiceListCheck::ZeroCount;
      return list;
   }
   if (count < 0) {
      list.check = ServiceListCheck::BadCount;
      return list;
   }
   list.check = ServiceListCheck::Ok;
   size_t at = separator + 1;
   while (at < value.size()) {
      const size_t next = value.find(';', at);
      if (next == WideString::npos) {
         list.names.push_back(value.substr(at));
         break;
      }
      list.names.push_back(value.substr(at, next - at));
      at = next + 1;
      if (list.names.size() == static_cast<unsigned long long>(count)) {
         break;
      }
   }
   return list;
}
