// libFuzzer harness: random bytes as a property file, as the delete
// action's CustomActionData (two bytes per unit), as REQUIRED_SPACE and as
// an install path. Aborts when a result breaks what common/fileText.h
// promises: no empty type or path, an unknown type only last; names never
// empty, blank-edged or a comment; the install checks in their order.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/fileText.h"

namespace {

void Check(bool ok, const char *what)
{
   if (!ok) {
      fprintf(stderr, "fileText_fuzz: %s\n", what);
      abort();
   }
}

bool Blank(char c)
{
   return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   if (size > (1u << 16)) {
      return 0;
   }
   const std::string bytes(reinterpret_cast<const char *>(data), size);

   for (const PropertyAssignment &a : Util_ParsePropertyFile(bytes)) {
      Check(!a.name.empty() && a.name[0] != ';', "empty or comment name");
      Check(!Blank(a.name.front()) && !Blank(a.name.back()), "name not trimmed");
      Check(a.name.find('=') == std::string::npos && a.name.find('\n') == std::string::npos,
            "name holds = or LF");
      Check(a.value.empty() || (!Blank(a.value.front()) && !Blank(a.value.back())), "value not trimmed");
   }

   WideString wide;
   for (size_t i = 0; i + 1 < size; i += 2) {
      wide += static_cast<utf16_t>(data[i] | data[i + 1] << 8);
   }
   const std::vector<DeleteEntry> entries = Util_ParseDeleteList(wide);
   for (size_t i = 0; i < entries.size(); i++) {
      const DeleteEntry &e = entries[i];
      Check(!e.type.empty() && !e.path.empty(), "empty token in an entry");
      Check(e.kind != DeleteKind::Unknown || i + 1 == entries.size(), "entries after an unknown type");
   }

   Util_ParseRequiredSpace(bytes);

   const bool allowNetwork = size > 0 && (data[0] & 1) != 0;
   bool asked = false;
   const int result = Util_CheckInstallDirText(bytes, allowNetwork, [&](const std::string &root) {
      asked = true;
      Check(root.size() == 2 && root[0] == bytes[0] && root[1] == ':', "drive root");
      return size > 1 && (data[1] & 1) != 0;
   });
   Check(!asked || !allowNetwork, "drive type asked while network paths are allowed");
   Check((result == INSTALLDIR_EMPTY) == bytes.empty(), "empty path");
   if (result == INSTALLDIR_VALID) {
      Check(bytes.find(';') == std::string::npos && bytes.size() <= INSTALLDIR_MAX_LENGTH,
            "a path with ; or too long passed");
   }
   if (result == INSTALLDIR_TOO_LONG) {
      Check(bytes.find(';') == std::string::npos, "length reported before the semicolon");
   }
   return 0;
}
