// Registry-table value encodings (see registryValue.h).
#include "common/registryValue.h"

#include <cstddef>
#include <cstdint>

#include "common/msiUtilText.h"

std::string RegistryValue_ReplaceTildeMarks(const std::string &raw)
{
   static const std::string mark = "[~]";
   std::string out;
   out.reserve(raw.size());
   size_t pos = 0;
   for (size_t at; (at = raw.find(mark, pos)) != std::string::npos; pos = at + mark.size()) {
      out.append(raw, pos, at - pos);
      out += '~';
   }
   out.append(raw, pos, std::string::npos);
   return out;
}

bool RegistryValue_IsDword(const std::string &raw)
{
   return !raw.empty() && raw[0] == '#';
}

int32_t RegistryValue_ParseDword(const std::string &formatted)
{
   std::string text;
   for (char c : formatted) {
      if (c != '#') {
         text += c;
      }
   }
   return static_cast<int32_t>(Util_ReadDecimal(text, INT32_MIN, INT32_MAX));
}

RegistryValueData RegistryValue_Encode(const std::string &raw, const std::string &formatted)
{
   if (RegistryValue_IsDword(raw)) {
      const uint32_t v = static_cast<uint32_t>(RegistryValue_ParseDword(formatted));
      std::string bytes;
      for (int shift = 0; shift < 32; shift += 8) {
         bytes += static_cast<char>((v >> shift) & 0xFF);
      }
      return {REGISTRY_VALUE_DWORD, bytes};
   }
   std::string bytes = formatted;
   bytes += '\0';
   if (formatted.find('~') == std::string::npos) {
      return {REGISTRY_VALUE_SZ, bytes};
   }
   for (char &c : bytes) {
      if (c == '~') {
         c = '\0';
      }
   }
   bytes += '\0';
   return {REGISTRY_VALUE_MULTI_SZ, bytes};
}
