// One owning type per kind of Windows handle. The kind's traits say which
// value means "no handle" and how a handle is closed, so no caller lists its
// cleanup by hand and every early return releases what was opened.
#pragma once

#ifdef _WIN32

#include <windows.h>

#include <utility>

template <typename Traits>
class OwnedHandle {
public:
   using Handle = typename Traits::Handle;

   OwnedHandle() = default;
   explicit OwnedHandle(Handle h) : h_(h) {}
   ~OwnedHandle() { Close(); }

   OwnedHandle(const OwnedHandle &) = delete;
   OwnedHandle &operator=(const OwnedHandle &) = delete;
   OwnedHandle(OwnedHandle &&other) noexcept : h_(other.Release()) {}
   OwnedHandle &operator=(OwnedHandle &&other) noexcept
   {
      if (this != &other) {
         Reset(other.Release());
      }
      return *this;
   }

   Handle Get() const { return h_; }
   bool IsValid() const { return h_ != Traits::None(); }
   explicit operator bool() const { return IsValid(); }

   // For functions that return a handle through a pointer: whatever was held
   // before is closed first, so a re-used owner never leaks.
   Handle *Out()
   {
      Close();
      return &h_;
   }

   void Reset(Handle h = Traits::None())
   {
      if (h != h_) {
         Close();
         h_ = h;
      }
   }

   Handle Release() { return std::exchange(h_, Traits::None()); }

private:
   void Close()
   {
      if (h_ != Traits::None()) {
         Traits::Close(h_);
         h_ = Traits::None();
      }
   }

   Handle h_ = Traits::None();
};

struct RegKeyTraits {
   using Handle = HKEY;
   static HKEY None() { return nullptr; }
   static void Close(HKEY h) { RegCloseKey(h); }
};
using RegKeyHandle = OwnedHandle<RegKeyTraits>;

// Process, thread, event: handles whose "nothing" is null.
struct KernelHandleTraits {
   using Handle = HANDLE;
   static HANDLE None() { return nullptr; }
   static void Close(HANDLE h) { CloseHandle(h); }
};
using KernelHandle = OwnedHandle<KernelHandleTraits>;

// Files and Tool Help snapshots report failure as INVALID_HANDLE_VALUE.
struct FileHandleTraits {
   using Handle = HANDLE;
   static HANDLE None() { return INVALID_HANDLE_VALUE; }
   static void Close(HANDLE h) { CloseHandle(h); }
};
using FileHandle = OwnedHandle<FileHandleTraits>;

// Memory Windows hands out for the caller to LocalFree: security
// descriptors and their string forms.
struct LocalMemoryTraits {
   using Handle = void *;
   static void *None() { return nullptr; }
   static void Close(void *p) { LocalFree(p); }
};
using LocalMemory = OwnedHandle<LocalMemoryTraits>;

struct LibraryTraits {
   using Handle = HMODULE;
   static HMODULE None() { return nullptr; }
   static void Close(HMODULE h) { FreeLibrary(h); }
};
using LibraryHandle = OwnedHandle<LibraryTraits>;

#endif // _WIN32
