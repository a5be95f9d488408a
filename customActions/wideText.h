// The UTF-16 form of a custom action's UTF-8 text, for the few wide calls
// that have no UTF-8 wrapper in the library.
#pragma once

#include <windows.h>

#include <cwchar>
#include <string>

// Empty for text that is not UTF-8 (the wide call then sees no name).
inline std::wstring CaWideText(const char *utf8)
{
   const int chars = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
   std::wstring wide(chars > 0 ? static_cast<size_t>(chars) : 1, L'\0');
   if (chars > 0) {
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, &wide[0], chars);
   }
   wide.resize(wcslen(wide.c_str()));
   return wide;
}
