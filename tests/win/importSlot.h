// Points one import of a loaded module at a stand-in for as long as the
// owner lives. The product has no seams for conditions Wine cannot produce
// (a refused lock, a dependent service, a full disk): the tests reach them
// by rewriting the loaded DLL's import address table slot of the one
// function involved, and put the real address back afterwards.
#pragma once

#include <windows.h>

namespace testutil {

class ImportSlot {
public:
   // `dll` is the module that exports `function` ("advapi32.dll"). Valid()
   // is false when `module` does not import it.
   ImportSlot(HMODULE module, const char *dll, const char *function)
   {
      HMODULE exporter = GetModuleHandleA(dll);
      FARPROC found = exporter != nullptr ? GetProcAddress(exporter, function) : nullptr;
      const auto real = reinterpret_cast<ULONG_PTR>(reinterpret_cast<void *>(found));
      auto base = reinterpret_cast<BYTE *>(module);
      auto nt = reinterpret_cast<IMAGE_NT_HEADERS *>(
         base + reinterpret_cast<IMAGE_DOS_HEADER *>(base)->e_lfanew);
      const IMAGE_DATA_DIRECTORY &iat = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IAT];
      auto slots = reinterpret_cast<ULONG_PTR *>(base + iat.VirtualAddress);
      for (size_t i = 0; real != 0 && i < iat.Size / sizeof *slots; i++) {
         if (slots[i] == real) {
            slot_ = &slots[i];
            real_ = real;
            break;
         }
      }
   }
   ~ImportSlot() { Restore(); }
   ImportSlot(const ImportSlot &) = delete;
   ImportSlot &operator=(const ImportSlot &) = delete;

   bool Valid() const { return slot_ != nullptr; }
   // The function the module called before: stand-ins forward to it.
   template <typename Fn>
   Fn Real() const
   {
      return reinterpret_cast<Fn>(real_);
   }
   template <typename Fn>
   void Point(Fn standIn)
   {
      Write(reinterpret_cast<ULONG_PTR>(standIn));
   }
   void Restore() { Write(real_); }

private:
   void Write(ULONG_PTR value)
   {
      if (slot_ == nullptr) {
         return;
      }
      DWORD old = 0;
      VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &old);
      *slot_ = value;
      VirtualProtect(slot_, sizeof *slot_, old, &old);
   }

   ULONG_PTR *slot_ = nullptr;
   ULONG_PTR real_ = 0;
};

}  // namespace testutil
