// OVCleanupTrayIcons against the stand-in notification area
// (tests/msi/standInTray), started per case with its toolbars; what is left
// on each toolbar is read back by command id. Failures Wine does not give
// (no taskbar at all, a refused process, memory that cannot be read or
// placed) come from stand-ins in the DLL's import table.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "tests/msi/msiSession.h"
#include "tests/win/importSlot.h"

using namespace msitest;

namespace {

using Strings = std::vector<std::string>;

// The stand-in taskbar with one toolbar per element of `toolbars` (see its
// source for the letters), running while this lives.
class StandInTray {
public:
   explicit StandInTray(const std::vector<std::wstring> &toolbars) : toolbars_(toolbars)
   {
      std::wstring host = L"\\\\?\\unix" + Wide(OV_STAND_IN_TRAY_EXE);
      std::replace(host.begin(), host.end(), L'/', L'\\');
      const std::wstring exe = ProcessFolder() + L"stand_in_tray.exe";
      std::wstring command = L"\"" + exe + L"\"";
      for (const std::wstring &t : toolbars) {
         command += L" " + t;
      }
      STARTUPINFOW si = {};
      si.cb = sizeof si;
      if (!CopyFileW(host.c_str(), exe.c_str(), FALSE) ||
          !CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_)) {
         return;
      }
      for (int i = 0; i < 200 && pager_ == nullptr; i++, Sleep(50)) {
         HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
         DWORD pid = 0;
         GetWindowThreadProcessId(tray, &pid);
         if (pid == pi_.dwProcessId) {
            tray_ = tray;
            pager_ = FindWindowExW(FindWindowExW(tray, nullptr, L"TrayNotifyWnd", nullptr), nullptr, L"SysPager",
                                   nullptr);
         }
      }
   }
   ~StandInTray()
   {
      if (tray_ != nullptr) {
         PostMessageW(tray_, WM_CLOSE, 0, 0);
      }
      if (pi_.hProcess != nullptr && WaitForSingleObject(pi_.hProcess, 5000) != WAIT_OBJECT_0) {
         TerminateProcess(pi_.hProcess, 1);
      }
      CloseHandle(pi_.hProcess);
      CloseHandle(pi_.hThread);
   }
   StandInTray(const StandInTray &) = delete;
   StandInTray &operator=(const StandInTray &) = delete;

   bool Ok() const { return pager_ != nullptr; }
   DWORD Pid() const { return pi_.dwProcessId; }
   // Per toolbar, its letters with '.' for each button that is gone.
   Strings Left() const
   {
      Strings left;
      HWND toolbar = GetWindow(pager_, GW_CHILD);
      for (size_t t = 0; t < toolbars_.size(); t++, toolbar = GetWindow(toolbar, GW_HWNDNEXT)) {
         std::string s = Utf8(toolbars_[t]);
         for (size_t i = 0; s != "-" && i < s.size(); i++) {
            if (SendMessageW(toolbar, TB_COMMANDTOINDEX, 100 * (t + 1) + i, 0) == -1) {
               s[i] = '.';
            }
         }
         left.push_back(s);
      }
      return left;
   }

private:
   std::vector<std::wstring> toolbars_;
   PROCESS_INFORMATION pi_ = {};
   HWND tray_ = nullptr, pager_ = nullptr;
};

HWND WINAPI NoTaskbar(LPCSTR, LPCSTR)
{
   SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
   return nullptr;
}

HANDLE WINAPI RefusedProcess(DWORD, BOOL, DWORD)
{
   SetLastError(ERROR_ACCESS_DENIED);
   return nullptr;
}

LPVOID WINAPI NoRemoteMemory(HANDLE, LPVOID, SIZE_T, DWORD, DWORD)
{
   SetLastError(ERROR_NOT_ENOUGH_MEMORY);
   return nullptr;
}

BOOL WINAPI UnreadableMemory(HANDLE, LPCVOID, LPVOID, SIZE_T, SIZE_T *read)
{
   *read = 0;
   SetLastError(ERROR_PARTIAL_COPY);
   return FALSE;
}

TEST(TrayIcons, DeletesTheIconsOfVanishedOwners)
{
   const std::string opening = "I0 Cleaning up dangling system tray icons.";
   const std::string unread = "I0 Could not get Button info. ReadProcessMemory failed with                    error 0x12b";
   const struct {
      const char *label;
      std::vector<std::wstring> toolbars;
      const char *dll, *function;   // a stand-in for this import, or null
      void *standIn;
      Strings lines;   // after the opening line; "<pid>" stands for the stand-in's process id
      Strings left;
   } cases[] = {
      {"live and dead mixed", {L"LDDLD"}, nullptr, nullptr, nullptr, {}, {"L..L."}},
      {"three dead first", {L"DDDLL"}, nullptr, nullptr, nullptr, {}, {"...LL"}},
      {"every toolbar", {L"LL", L"DL", L"D"}, nullptr, nullptr, nullptr, {}, {"LL", ".L", "."}},
      {"a toolbar without buttons ends the walk", {L"-", L"DD"}, nullptr, nullptr, nullptr,
       {"I0 No System Tray Buttons"}, {"-", "DD"}},
      {"no taskbar", {L"D"}, "user32.dll", "FindWindowA", reinterpret_cast<void *>(&NoTaskbar),
       {"I0 Shell Tray Window not found OVCleanupTrayIcons, GetLastError - 0x57f "}, {"D"}},
      {"process refused", {L"D", L"D"}, "kernel32.dll", "OpenProcess", reinterpret_cast<void *>(&RefusedProcess),
       {"I0 Open Process failed for process <pid> with error 0x5"}, {"D", "D"}},
      {"no memory in the shell", {L"D"}, "kernel32.dll", "VirtualAllocEx", reinterpret_cast<void *>(&NoRemoteMemory),
       {"I0 VirtualAllocEx failed with error 0x8"}, {"D"}},
      {"memory unreadable, every toolbar tried", {L"D", L"LD"}, "kernel32.dll", "ReadProcessMemory",
       reinterpret_cast<void *>(&UnreadableMemory), {unread, unread}, {"D", "LD"}},
   };
   MsiSession session;
   ASSERT_TRUE(session.Ok()) << session.Failure();
   LoadedDll dll;
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      StandInTray tray(c.toolbars);
      ASSERT_TRUE(tray.Ok());
      std::unique_ptr<testutil::ImportSlot> slot;
      if (c.function != nullptr) {
         slot = std::make_unique<testutil::ImportSlot>(dll.Module(), c.dll, c.function);
         ASSERT_TRUE(slot->Valid()) << c.function;
         slot->Point(c.standIn);
      }
      LogMark mark;
      EXPECT_EQ(0u, dll.Call("OVCleanupTrayIcons", session.Handle()));
      slot.reset();
      Strings lines = {opening};
      for (std::string line : c.lines) {
         const size_t at = line.find("<pid>");
         lines.push_back(at == std::string::npos ? line : line.replace(at, 5, std::to_string(tray.Pid())));
      }
      EXPECT_EQ(lines, mark.Transcript());
      EXPECT_EQ(c.left, tray.Left());
   }
}

// Wine's own taskbar, under Xvfb, has no notification area inside it.
TEST(TrayIcons, WineTaskbarHasNoNotificationArea)
{
   MsiSession session;
   ASSERT_TRUE(session.Ok()) << session.Failure();
   LoadedDll dll;
   LogMark mark;
   // A window search that finds nothing leaves the last error as it was.
   SetLastError(ERROR_INVALID_WINDOW_HANDLE);
   EXPECT_EQ(0u, dll.Call("OVCleanupTrayIcons", session.Handle()));
   EXPECT_EQ((Strings{"I0 Cleaning up dangling system tray icons.",
                      "I0 TrayNotifyWnd not found OVCleanupTrayIcons, GetLastError - 0x578 "}),
             mark.Transcript());
}

}  // namespace
