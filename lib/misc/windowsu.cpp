// UTF-8 wrappers of the wide Windows functions that return text.
#include "lib/misc/windowsu.h"

#include <cstring>

#include "lib/misc/panic.h"
#include "lib/misc/win32uInt.h"

using win32u::ErrorKeeper;
using win32u::Owned;

namespace win32u {

DWORD CopyDirectory(DirectoryQuery query, void *context, char *buffer,
                    DWORD size)
{
   ErrorKeeper keep;
   DWORD capacity = MAX_PATH;
   Owned<utf16_t> wide(
      static_cast<utf16_t *>(SafeMalloc(capacity * sizeof(utf16_t))));
   DWORD length = query(wide.get(), capacity, context);
   while (length >= capacity) {
      // A report equal to the buffer size would not enlarge it; one more
      // unit keeps the loop moving whatever the function reports.
      capacity = length > capacity ? length : capacity + 1;
      wide.reset(static_cast<utf16_t *>(
         SafeMalloc(static_cast<size_t>(capacity) * sizeof(utf16_t))));
      length = query(wide.get(), capacity, context);
   }
   keep.Capture();
   if (length == 0) {
      return 0;
   }

   Owned<char> utf8(Unicode_AllocWithLength(
      wide.get(), static_cast<ptrdiff_t>(length) * sizeof(utf16_t),
      STRING_ENCODING_UTF16_LE));
   size_t utf8Length = strlen(utf8.get());
   if (buffer != nullptr && size != 0) {
      VERIFY(utf8Length < size);
      memcpy(buffer, utf8.get(), utf8Length + 1);
      return static_cast<DWORD>(utf8Length);
   }
   return static_cast<DWORD>(utf8Length + 1);
}

}  // namespace win32u

UINT Win32U_GetSystemDirectory(char *buffer, UINT size)
{
   return win32u::CopyDirectory(
      [](utf16_t *wide, DWORD capacity, void *) -> DWORD {
         return GetSystemDirectoryW(wide, capacity);
      },
      nullptr, buffer, size);
}

DWORD Win32U_GetTempPath(DWORD size, char *buffer)
{
   return win32u::CopyDirectory(
      [](utf16_t *wide, DWORD capacity, void *) -> DWORD {
         return GetTempPathW(capacity, wide);
      },
      nullptr, buffer, size);
}

char *Win32U_FormatMessage(DWORD flags, const void *source, DWORD messageId,
                           DWORD languageId)
{
   // The wrapper has no argument list to pass and no way to hand back a
   // buffer FormatMessageW allocated; asking for either is a caller's error.
   VERIFY((flags & (FORMAT_MESSAGE_ALLOCATE_BUFFER |
                    FORMAT_MESSAGE_FROM_STRING)) == 0);
   VERIFY(languageId == 0 || languageId == 1024 || languageId == 1033);

   const DWORD kCapacity = 32768;
   ErrorKeeper keep;
   Owned<utf16_t> wide(
      static_cast<utf16_t *>(win32u::SafeMalloc(kCapacity * sizeof(utf16_t))));
   DWORD length = FormatMessageW(flags, source, messageId, languageId,
                                 wide.get(), kCapacity, nullptr);
   keep.Capture();
   if (length == 0) {
      return nullptr;
   }
   return Unicode_AllocWithLength(
      wide.get(), static_cast<ptrdiff_t>(length) * sizeof(utf16_t),
      STRING_ENCODING_UTF16_LE);
}
