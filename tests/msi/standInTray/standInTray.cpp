// A stand-in for the shell's notification area, for the tray-icon cleanup
// tests: Wine's own taskbar has no toolbar to walk. It registers the
// taskbar's window chain "Shell_TrayWnd" > "TrayNotifyWnd" > "SysPager" >
// one real comctl32 toolbar per argument, whose buttons carry in their data
// a pointer to a record {owner window, icon id} in this process, as the
// shell's do. Each argument lists a toolbar's buttons: 'L' an icon whose
// owner window lives, 'D' one whose owner is already destroyed; "-" is a
// toolbar without buttons. Button i of toolbar t has the command id
// 100 * (t + 1) + i and the icon id of the same value.
//
// Wine's Shell_NotifyIconW sends WM_COPYDATA to the newest "Shell_TrayWnd"
// (dwData the NIM_ code, the data starting with the owner as 32 bits and the
// icon id); a deletion removes the matching button and answers TRUE, any
// other request FALSE. WM_CLOSE to the taskbar window ends the program, and
// so does the end of its standard input when the first argument is
// "--until-stdin-closes" (for scripts, which read "ready" and one line
// "deleted icon <id>" per deletion from its standard output).
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

struct IconRecord {
   HWND owner;
   UINT id;
};

std::vector<HWND> gToolbars;

LRESULT CALLBACK TrayProc(HWND w, UINT msg, WPARAM wp, LPARAM lp)
{
   if (msg == WM_COPYDATA) {
      const auto *copy = reinterpret_cast<const COPYDATASTRUCT *>(lp);
      if (copy->dwData != NIM_DELETE || copy->cbData < 8) {
         return FALSE;
      }
      DWORD owner = 0;
      UINT id = 0;
      memcpy(&owner, copy->lpData, 4);
      memcpy(&id, static_cast<const char *>(copy->lpData) + 4, 4);
      for (HWND toolbar : gToolbars) {
         const int count = static_cast<int>(SendMessageW(toolbar, TB_BUTTONCOUNT, 0, 0));
         for (int i = 0; i < count; i++) {
            TBBUTTON button = {};
            SendMessageW(toolbar, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&button));
            const auto *record = reinterpret_cast<const IconRecord *>(button.dwData);
            if (static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(record->owner)) == owner && record->id == id) {
               SendMessageW(toolbar, TB_DELETEBUTTON, i, 0);
               printf("deleted icon %u\n", id);
               fflush(stdout);
               return TRUE;
            }
         }
      }
      return FALSE;
   }
   if (msg == WM_CLOSE) {
      PostQuitMessage(0);
      return 0;
   }
   return DefWindowProcW(w, msg, wp, lp);
}

DWORD WINAPI CloseWhenInputEnds(void *tray)
{
   char byte;
   DWORD read = 0;
   while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &read, nullptr) && read != 0) {
   }
   PostMessageW(static_cast<HWND>(tray), WM_CLOSE, 0, 0);
   return 0;
}

HWND Make(const wchar_t *cls, HWND parent)
{
   return CreateWindowExW(0, cls, L"", parent != nullptr ? WS_CHILD : WS_POPUP, 0, 0, 10, 10, parent, nullptr,
                          GetModuleHandleW(nullptr), nullptr);
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
   INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_BAR_CLASSES};
   InitCommonControlsEx(&icc);
   WNDCLASSW wc = {};
   wc.hInstance = GetModuleHandleW(nullptr);
   wc.lpfnWndProc = TrayProc;
   wc.lpszClassName = L"Shell_TrayWnd";
   RegisterClassW(&wc);
   wc.lpfnWndProc = DefWindowProcW;
   for (const wchar_t *name : {L"TrayNotifyWnd", L"SysPager", L"OvIconOwner"}) {
      wc.lpszClassName = name;
      RegisterClassW(&wc);
   }
   HWND tray = Make(L"Shell_TrayWnd", nullptr);
   HWND pager = Make(L"SysPager", Make(L"TrayNotifyWnd", tray));
   int first = 1;
   if (argc > 1 && wcscmp(argv[1], L"--until-stdin-closes") == 0) {
      first = 2;
      CloseHandle(CreateThread(nullptr, 0, CloseWhenInputEnds, tray, 0, nullptr));
   }
   // Owners die only once every window exists, so that no later window of
   // this program takes over a dead owner's handle.
   std::vector<HWND> dead;
   for (int t = first; t < argc; t++) {
      HWND toolbar = Make(TOOLBARCLASSNAMEW, pager);
      SendMessageW(toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
      gToolbars.push_back(toolbar);
      for (int i = 0; argv[t][0] != L'-' && argv[t][i] != L'\0'; i++) {
         auto *record = new IconRecord{Make(L"OvIconOwner", nullptr), static_cast<UINT>(100 * (t - first + 1) + i)};
         if (argv[t][i] == L'D') {
            dead.push_back(record->owner);
         }
         TBBUTTON button = {};
         button.idCommand = static_cast<int>(record->id);
         button.fsState = TBSTATE_ENABLED;
         button.dwData = reinterpret_cast<DWORD_PTR>(record);
         button.iString = -1;
         SendMessageW(toolbar, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&button));
      }
   }
   for (HWND owner : dead) {
      DestroyWindow(owner);
   }
   // Ready: for a test, by the event it made; for a script, by a line.
   if (HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"OvStandInTrayReady")) {
      SetEvent(ready);
      CloseHandle(ready);
   }
   printf("ready\n");
   fflush(stdout);
   MSG msg;
   while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      DispatchMessageW(&msg);
   }
   return 0;
}
