// A stand-in for the shell's notification area, for the tray-icon cleanup
// tests and the demo: Wine's own taskbar has no toolbar to walk. It
// registers the taskbar's window chain "Shell_TrayWnd" > "TrayNotifyWnd" >
// "SysPager" > one real comctl32 toolbar per argument, whose buttons carry in
// their data a pointer to a record {owner window, icon id} in this process,
// as the shell's do. Each argument lists a toolbar's buttons: 'L' an icon
// whose owner window lives, 'D' one whose owner is already destroyed; "-" is
// a toolbar without buttons. Button i of toolbar t has the icon id
// 100 * (t + 1) + i.
//
// Wine's Shell_NotifyIconW sends WM_COPYDATA to the newest "Shell_TrayWnd"
// (dwData the NIM_ code, the data starting with the owner as 32 bits and the
// icon id); a deletion removes the matching button and answers TRUE, any
// other request FALSE. Once every window is made, the taskbar window's title
// becomes "ready " and "ready" goes to the standard output; each deletion
// adds "<id> " to the title (read by the tests) and writes "deleted icon
// <id>" (read by scripts). It runs until it is ended, or, when the first
// argument is "--until-stdin-closes", until the end of its standard input.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

struct IconRecord {
   HWND owner;
   UINT id;
};

static std::vector<HWND> gToolbars;
static std::wstring gTitle = L"ready ";   // the taskbar window's

static LRESULT CALLBACK TrayProc(HWND w, UINT msg, WPARAM wp, LPARAM lp)
{
   const auto *copy = reinterpret_cast<const COPYDATASTRUCT *>(lp);
   if (msg != WM_COPYDATA || copy->dwData != NIM_DELETE || copy->cbData < 8) {
      return msg == WM_COPYDATA ? FALSE : DefWindowProcW(w, msg, wp, lp);
   }
   const auto *request = static_cast<const DWORD *>(copy->lpData);   // the owner's low 32 bits, the icon id
   for (HWND toolbar : gToolbars) {
      TBBUTTON button = {};
      for (int i = 0; SendMessageW(toolbar, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&button)); i++) {
         const auto *record = reinterpret_cast<const IconRecord *>(button.dwData);
         if (static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(record->owner)) == request[0] && record->id == request[1]) {
            SendMessageW(toolbar, TB_DELETEBUTTON, i, 0);
            SetWindowTextW(w, (gTitle += std::to_wstring(record->id) + L" ").c_str());
            printf("deleted icon %u\n", record->id);
            return TRUE;
         }
      }
   }
   return FALSE;
}

int wmain(int argc, wchar_t **argv)
{
   setvbuf(stdout, nullptr, _IONBF, 0);   // scripts read each line as it comes
   InitCommonControls();
   WNDCLASSW wc = {};   // no instance: this program's module
   wc.lpfnWndProc = TrayProc;   // only the taskbar window is sent WM_COPYDATA
   for (const wchar_t *name : {L"Shell_TrayWnd", L"TrayNotifyWnd", L"SysPager", L"OvIconOwner"}) {
      wc.lpszClassName = name;
      RegisterClassW(&wc);
   }
   const auto make = [](const wchar_t *cls, HWND parent) {
      return CreateWindowExW(0, cls, L"", parent != nullptr ? WS_CHILD : WS_POPUP, 0, 0, 10, 10, parent, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
   };
   HWND tray = make(L"Shell_TrayWnd", nullptr), pager = make(L"SysPager", make(L"TrayNotifyWnd", tray));
   const int first = argc > 1 && std::wstring(argv[1]) == L"--until-stdin-closes" ? 2 : 1;
   if (first == 2) {   // until the end of the standard input
      CloseHandle(CreateThread(nullptr, 0, [](void *) -> DWORD {
         char byte;
         DWORD read = 0;
         while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &read, nullptr) && read != 0) {
         }
         ExitProcess(0);
      }, nullptr, 0, nullptr));
   }
   // Owners die only once every window exists, so that no later window of
   // this program takes over a dead owner's handle.
   std::vector<HWND> dead;
   for (int t = first; t < argc; t++) {
      HWND toolbar = make(TOOLBARCLASSNAMEW, pager);
      SendMessageW(toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
      gToolbars.push_back(toolbar);
      for (int i = 0; argv[t][0] != L'-' && argv[t][i] != L'\0'; i++) {
         auto *record = new IconRecord{make(L"OvIconOwner", nullptr), static_cast<UINT>(100 * (t - first + 1) + i)};
         if (argv[t][i] == L'D') {
            dead.push_back(record->owner);
         }
         TBBUTTON button = {I_IMAGENONE, 0, TBSTATE_ENABLED, BTNS_BUTTON, {}, reinterpret_cast<DWORD_PTR>(record), -1};
         SendMessageW(toolbar, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&button));
      }
   }
   for (HWND owner : dead) {
      DestroyWindow(owner);
   }
   SetWindowTextW(tray, gTitle.c_str());
   printf("ready\n");
   MSG msg;
   while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      DispatchMessageW(&msg);
   }
   return 0;
}
