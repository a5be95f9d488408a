// Pieces shared by the UTF-8 wrappers of the wide Windows API (win32u.cpp,
// windowsu.cpp, win32uRegistry.cpp); not part of the library's interface.
#pragma once

#ifndef _WIN32
#error "win32uInt is the Windows boundary layer"
#endif

#include <windows.h>

#include <cerrno>
#include <cstdlib>

#include "lib/misc/panic.h"
#include "lib/unicode/unicodeSimpleBase.h"
#include "lib/unicode/unicodeSimpleTypes.h"

namespace win32u {

// malloc that ends the process instead of failing: every caller here would
// otherwise have to invent a failure the wide function does not have.
inline void *SafeMalloc(size_t size)
{
   void *p = malloc(size == 0 ? 1 : size);
   if (p == nullptr) {
      Util_Panic("Unrecoverable memory allocation failure\n");
   }
   return p;
}

// Owner of a malloc'd buffer. It only frees; keeping the wide function's
// last error and errno across the free is the job of ErrorKeeper.
template <typename T>
class Owned {
public:
   Owned() = default;
   explicit Owned(T *p) : p_(p) {}
   ~Owned() { free(p_); }
   Owned(const Owned &) = delete;
   Owned &operator=(const Owned &) = delete;

   T *get() const { return p_; }
   void reset(T *p)
   {
      free(p_);
      p_ = p;
   }
   // Hands the buffer to the caller, who frees it.
   T *release()
   {
      T *p = p_;
      p_ = nullptr;
      return p;
   }

private:
   T *p_ = nullptr;
};

// UTF-16 copy of a UTF-8 argument; null stays null, invalid UTF-8 ends the
// process inside Unicode_AllocEncoded.
class WideArg : public Owned<utf16_t> {
public:
   explicit WideArg(const char *utf8)
      : Owned<utf16_t>(static_cast<utf16_t *>(
           Unicode_AllocEncoded(utf8, STRING_ENCODING_UTF16_LE)))
   {
   }
};

// Keeps the wide function's last error and errno through the frees and
// conversions that follow it. Declared before the temporaries so that it is
// destroyed after them; Capture() is called right after the wide call, and
// every return path then restores what was captured.
class ErrorKeeper {
public:
   ErrorKeeper() = default;
   ErrorKeeper(const ErrorKeeper &) = delete;
   ErrorKeeper &operator=(const ErrorKeeper &) = delete;
   ~ErrorKeeper()
   {
      if (captured_) {
         errno = errno_;
         SetLastError(lastError_);
      }
   }

   void Capture()
   {
      lastError_ = GetLastError();
      errno_ = errno;
      captured_ = true;
   }
   // For results the wrapper decides itself (the long-path rule).
   void Set(int err, DWORD lastError)
   {
      errno_ = err;
      lastError_ = lastError;
      captured_ = true;
      errno = err;
      SetLastError(lastError);
   }
   DWORD LastError() const { return lastError_; }

private:
   DWORD lastError_ = 0;
   int errno_ = 0;
   bool captured_ = false;
};

// Length in UTF-16 units of a terminated wide string.
inline size_t WideLength(const utf16_t *s)
{
   size_t n = 0;
   while (s[n] != 0) {
      n++;
   }
   return n;
}

// The directory functions' common part (windowsu.cpp). `query` behaves
// like GetSystemDirectoryW and GetTempPathW: the length of the text in the
// buffer, or for a buffer that is too small the size it needs, or 0. The
// text can change between two calls (another thread sets TMP), so the call
// is repeated, with the buffer enlarged, until the text fits; the result is
// that of Win32U_GetSystemDirectory and Win32U_GetTempPath.
typedef DWORD (*DirectoryQuery)(utf16_t *buffer, DWORD capacity,
                                void *context);
DWORD CopyDirectory(DirectoryQuery query, void *context, char *buffer,
                    DWORD size);

}  // namespace win32u
