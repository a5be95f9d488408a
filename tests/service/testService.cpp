// A Win32 service of its own process for the tests of the service
// functions, run by the real Service Control Manager. What it does is
// chosen by the arguments of its image path:
//
//   ov_test_service.exe [mode [seconds]]
//
//   normal      (the default) starts and stops at once
//   slow        takes `seconds` (default 2) to start and as long to stop,
//               reporting a new checkpoint every 500 ms with a 1000 ms hint
//   stuckstart  stays START_PENDING (checkpoint 1) for `seconds` (default
//               40), then gives up and stops
//   stuckstop   runs; after a stop control stays STOP_PENDING (checkpoint
//               1) for `seconds` (default 40), then stops
//
// Every mode accepts pause and continue once it runs (PAUSED and back to
// RUNNING). The stuck modes end by themselves, so no test has to kill the
// process. The control handler reports STOP_PENDING before it returns: the
// SCM hands that status back from ControlService, and a handler that only
// signalled the worker would leave RUNNING there for the caller to see.
#include <windows.h>

#include <cwchar>

namespace {

enum class Mode { Normal, Slow, StuckStart, StuckStop };

constexpr DWORD kStepMs = 500;
constexpr DWORD kHintMs = 1000;

Mode gMode = Mode::Normal;
DWORD gSeconds = 0;
SERVICE_STATUS_HANDLE gStatusHandle = nullptr;
SERVICE_STATUS gStatus = {};
HANDLE gStopEvent = nullptr;
CRITICAL_SECTION gLock;

void Report(DWORD state, DWORD checkPoint, DWORD waitHint)
{
   EnterCriticalSection(&gLock);
   gStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
   gStatus.dwCurrentState = state;
   gStatus.dwCheckPoint = checkPoint;
   gStatus.dwWaitHint = waitHint;
   gStatus.dwWin32ExitCode = NO_ERROR;
   const bool settled = state == SERVICE_RUNNING || state == SERVICE_PAUSED;
   gStatus.dwControlsAccepted =
      settled ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN : 0;
   SetServiceStatus(gStatusHandle, &gStatus);
   LeaveCriticalSection(&gLock);
}

DWORD CurrentState()
{
   EnterCriticalSection(&gLock);
   const DWORD state = gStatus.dwCurrentState;
   LeaveCriticalSection(&gLock);
   return state;
}

// A pending phase of `seconds` that advances its checkpoint every step.
void Progress(DWORD state, DWORD seconds)
{
   const DWORD steps = seconds * 1000 / kStepMs;
   for (DWORD cp = 1; cp <= steps; cp++) {
      Report(state, cp, kHintMs);
      Sleep(kStepMs);
   }
}

DWORD WINAPI Handler(DWORD control, DWORD, void *, void *)
{
   switch (control) {
   case SERVICE_CONTROL_STOP:
   case SERVICE_CONTROL_SHUTDOWN:
      if (CurrentState() != SERVICE_STOP_PENDING) {
         Report(SERVICE_STOP_PENDING, 1, kHintMs);
         SetEvent(gStopEvent);
      }
      return NO_ERROR;
   case SERVICE_CONTROL_PAUSE:
      if (CurrentState() == SERVICE_RUNNING) {
         Report(SERVICE_PAUSED, 0, 0);
      }
      return NO_ERROR;
   case SERVICE_CONTROL_CONTINUE:
      if (CurrentState() == SERVICE_PAUSED) {
         Report(SERVICE_RUNNING, 0, 0);
      }
      return NO_ERROR;
   case SERVICE_CONTROL_INTERROGATE:
      Report(CurrentState(), gStatus.dwCheckPoint, gStatus.dwWaitHint);
      return NO_ERROR;
   default:
      return ERROR_CALL_NOT_IMPLEMENTED;
   }
}

void WINAPI ServiceMain(DWORD, wchar_t **)
{
   gStatusHandle = RegisterServiceCtrlHandlerExW(L"", Handler, nullptr);
   if (gStatusHandle == nullptr) {
      return;
   }
   switch (gMode) {
   case Mode::Slow:
      Progress(SERVICE_START_PENDING, gSeconds);
      break;
   case Mode::StuckStart:
      Report(SERVICE_START_PENDING, 1, kHintMs);
      Sleep(gSeconds * 1000);
      Report(SERVICE_STOPPED, 0, 0);
      return;
   default:
      Report(SERVICE_START_PENDING, 1, kHintMs);
      break;
   }
   Report(SERVICE_RUNNING, 0, 0);
   WaitForSingleObject(gStopEvent, INFINITE);
   if (gMode == Mode::Slow) {
      Progress(SERVICE_STOP_PENDING, gSeconds);
   } else if (gMode == Mode::StuckStop) {
      Sleep(gSeconds * 1000);
   }
   Report(SERVICE_STOPPED, 0, 0);
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
   struct Known {
      const wchar_t *name;
      Mode mode;
      DWORD seconds;
   };
   static const Known kModes[] = {{L"normal", Mode::Normal, 0},
                                  {L"slow", Mode::Slow, 2},
                                  {L"stuckstart", Mode::StuckStart, 40},
                                  {L"stuckstop", Mode::StuckStop, 40}};
   if (argc > 1) {
      const Known *found = nullptr;
      for (const Known &k : kModes) {
         if (wcscmp(argv[1], k.name) == 0) {
            found = &k;
         }
      }
      if (found == nullptr) {
         return 2;
      }
      gMode = found->mode;
      gSeconds = argc > 2 ? static_cast<DWORD>(wcstoul(argv[2], nullptr, 10)) : found->seconds;
   }
   InitializeCriticalSection(&gLock);
   gStopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
   wchar_t name[] = L"";
   SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
   const BOOL ok = StartServiceCtrlDispatcherW(table);
   CloseHandle(gStopEvent);
   DeleteCriticalSection(&gLock);
   return ok ? 0 : 1;
}
