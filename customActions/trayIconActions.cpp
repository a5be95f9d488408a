// The custom action that removes the notification-area icons of programs
// that are gone: their icons would otherwise stay until the mouse passes
// over them.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstring>

#include "common/msiUtil.h"
#include "customActions/caFrame.h"
#include "lib/misc/ownedHandle.h"

namespace {

// A toolbar button as the 64-bit shell lays it out, and the start of the
// shell's own record its data field points at.
constexpr SIZE_T kButtonSize = 32;
constexpr size_t kButtonDataOffset = 16;
struct IconRecord {
   HWND owner;
   UINT id;
};

// The first version of NOTIFYICONDATAW on 64-bit Windows, all a deletion
// needs.
constexpr DWORD kNotifyIconDataV1Size = 168;

// Memory the action placed in the shell's process, released with it.
class RemoteBuffer {
public:
   RemoteBuffer(HANDLE process, SIZE_T size)
      : process_(process),
        address_(VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE))
   {
   }
   ~RemoteBuffer()
   {
      if (address_ != nullptr) {
         VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
      }
   }
   RemoteBuffer(const RemoteBuffer &) = delete;
   RemoteBuffer &operator=(const RemoteBuffer &) = delete;

   void *Address() const { return address_; }

private:
   HANDLE process_;
   void *address_;
};

// Reads `size` bytes at `address` in the shell's process; false when
// nothing was read.
bool ReadRemote(HANDLE process, const void *address, void *out, SIZE_T size)
{
   SIZE_T read = 0;
   return ReadProcessMemory(process, address, out, size, &read) && read > 0;
}

bool DeleteIcon(const IconRecord &icon)
{
   NOTIFYICONDATAW data;
   memset(&data, 0, sizeof data);
   data.cbSize = kNotifyIconDataV1Size;
   data.hWnd = icon.owner;
   data.uID = icon.id;
   return Shell_NotifyIconW(NIM_DELETE, &data) != FALSE;
}

// Deletes the icons of vanished owners from one toolbar; false when reading
// the shell's memory failed.
bool WalkButtons(HWND toolbar, HANDLE process, void *remote, LRESULT count)
{
   for (LRESULT index = 0; index < count;) {
      unsigned char button[kButtonSize] = {};
      SendMessageW(toolbar, TB_GETBUTTON, static_cast<WPARAM>(index),
                   reinterpret_cast<LPARAM>(remote));
      if (!ReadRemote(process, remote, button, kButtonSize)) {
         return false;
      }
      ULONG_PTR data = 0;
      memcpy(&data, button + kButtonDataOffset, sizeof data);
      IconRecord icon = {};
      if (!ReadRemote(process, reinterpret_cast<const void *>(data), &icon, sizeof icon)) {
         return false;
      }
      if (IsWindow(icon.owner)) {
         index++;
      } else if (DeleteIcon(icon)) {
         // The next button has moved into this index.
         count--;
      } else {
         index++;
      }
   }
   return true;
}

BOOL CALLBACK CleanupToolbar(HWND window, LPARAM)
{
   char className[260] = {};
   if (GetClassNameA(window, className, sizeof className) < 2 ||
       lstrcmpiA(className, "ToolbarWindow32") != 0) {
      return TRUE;
   }
   const LRESULT count = SendMessageW(window, TB_BUTTONCOUNT, 0, 0);
   if (count < 1) {
      Inst_LogCA("No System Tray Buttons");
      return FALSE;
   }
   DWORD processId = 0;
   if (GetWindowThreadProcessId(window, &processId) == 0) {
      Inst_LogCA("Could not get owner proc for window 0x%x",
                 static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(window)));
      return FALSE;
   }
   KernelHandle process(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ, FALSE, processId));
   if (!process) {
      const DWORD error = GetLastError();
      Inst_LogCA("Open Process failed for process %d with error 0x%x", static_cast<int>(processId),
                 static_cast<unsigned>(error));
      return FALSE;
   }
   RemoteBuffer remote(process.Get(), kButtonSize);
   if (remote.Address() == nullptr) {
      const DWORD error = GetLastError();
      Inst_LogCA("VirtualAllocEx failed with error 0x%x", static_cast<unsigned>(error));
      return FALSE;
   }
   if (!WalkButtons(window, process.Get(), remote.Address(), count)) {
      const DWORD error = GetLastError();
      Inst_LogCA("Could not get Button info. ReadProcessMemory failed with                    "
                 "error 0x%x",
                 static_cast<unsigned>(error));
   }
   // The shell may have further toolbars.
   return TRUE;
}

UINT CleanupTrayIcons()
{
   Inst_LogCA("Cleaning up dangling system tray icons.");
   HWND tray = FindWindowA("Shell_TrayWnd", nullptr);
   DWORD error = GetLastError();
   if (!IsWindow(tray)) {
      Inst_LogCA("Shell Tray Window not found %s, GetLastError - 0x%x ", "OVCleanupTrayIcons",
                 static_cast<unsigned>(error));
      return ERROR_SUCCESS;
   }
   HWND notify = FindWindowExA(tray, nullptr, "TrayNotifyWnd", nullptr);
   error = GetLastError();
   if (!IsWindow(notify)) {
      Inst_LogCA("TrayNotifyWnd not found %s, GetLastError - 0x%x ", "OVCleanupTrayIcons",
                 static_cast<unsigned>(error));
      return ERROR_SUCCESS;
   }
   EnumChildWindows(notify, CleanupToolbar, 0);
   return ERROR_SUCCESS;
}

} // namespace

OV_CUSTOM_ACTION OVCleanupTrayIcons(MSIHANDLE)
{
   return CaFrame("OVCleanupTrayIcons", ERROR_SUCCESS, [] { return CleanupTrayIcons(); });
}
