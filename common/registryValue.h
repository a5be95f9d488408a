// The data a registry-table row writes: the row's Value field turned into a
// registry type and the bytes stored. Free of Windows, so that the encoding
// is tested and fuzzed natively.
//
// The encodings, decided on the raw field (before installer formatting) and
// applied to the formatted text:
//  - a raw field whose first character is '#' is a REG_DWORD: every '#' is
//    dropped from the formatted text and the rest read as a signed decimal
//    number (leading white space, an optional sign, the digits up to the
//    first non-digit; 0 without digits; clamped to the 32-bit range);
//  - otherwise a formatted text with a '~' is a REG_MULTI_SZ: each '~' ends
//    a string, and the list ends with the empty string;
//  - otherwise a REG_SZ of the text and its terminating zero.
#pragma once

#include <cstdint>
#include <string>

enum : uint32_t {
   REGISTRY_VALUE_SZ = 1,         // REG_SZ
   REGISTRY_VALUE_DWORD = 4,      // REG_DWORD
   REGISTRY_VALUE_MULTI_SZ = 7,   // REG_MULTI_SZ
};

struct RegistryValueData {
   uint32_t type;
   std::string bytes;   // little-endian for a DWORD; strings UTF-8 with their zeros
};

// "[~]" becomes "~" (the installer would format it as a NUL character),
// scanning from the start and going on after each replacement.
std::string RegistryValue_ReplaceTildeMarks(const std::string &raw);

bool RegistryValue_IsDword(const std::string &raw);
int32_t RegistryValue_ParseDword(const std::string &formatted);

// `raw` is the field after RegistryValue_ReplaceTildeMarks, `formatted` the
// same after installer formatting.
RegistryValueData RegistryValue_Encode(const std::string &raw, const std::string &formatted);
