// A Win32 service of its own process for the service tests and the demo,
// run by the real Service Control Manager. Its image path chooses what it
// does:
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
// Any other mode word runs as normal. The stuck modes end by themselves, so no test has to kill the
// process. The handler reports
// STOP_PENDING before it returns: the SCM hands that status back from
// ControlService, where a handler that only signalled the worker would
// leave RUNNING for the caller to see.
#include <windows.h>

#include <string>

namespace {

std::wstring gMode;
DWORD gMs = 0;
SERVICE_STATUS_HANDLE gHandle = nullptr;
volatile DWORD gState = 0;
HANDLE gStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);

void Report(DWORD state, DWORD checkPoint = 0)
{
   const DWORD accepts = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
   SERVICE_STATUS status = {SERVICE_WIN32_OWN_PROCESS, state, accepts, NO_ERROR, 0, checkPoint, checkPoint ? 1000u : 0};
   gState = state;
   SetServiceStatus(gHandle, &status);
}

// A pending phase of `ms` whose checkpoint advances every 500 ms, or stays 1.
void Pending(DWORD state, DWORD ms, bool advance)
{
   for (DWORD t = 0, cp = 1; t < ms; t += 500, cp += advance ? 1 : 0) {
      Report(state, cp);
      Sleep(500);
   }
}

DWORD WINAPI Handler(DWORD control, DWORD, void *, void *)
{
   if ((control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) && gState != SERVICE_STOP_PENDING) {
      Report(SERVICE_STOP_PENDING, 1);
      SetEvent(gStop);
   }
   return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, wchar_t **)
{
   gHandle = RegisterServiceCtrlHandlerExW(L"", Handler, nullptr);
   Report(SERVICE_START_PENDING, 1);
   Pending(SERVICE_START_PENDING, gMode == L"slow" || gMode == L"stuckstart" ? gMs : 0, gMode == L"slow");
   if (gMode == L"stuckstart") {
      return Report(SERVICE_STOPPED);
   }
   Report(SERVICE_RUNNING);
   WaitForSingleObject(gStop, INFINITE);
   Pending(SERVICE_STOP_PENDING, gMode == L"slow" || gMode == L"stuckstop" ? gMs : 0, gMode == L"slow");
   Report(SERVICE_STOPPED);
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
   gMode = argc > 1 ? argv[1] : L"normal";
   gMs = 1000 * (argc > 2 ? wcstoul(argv[2], nullptr, 10) : gMode == L"slow" ? 2 : 40);
   wchar_t name[] = L"";
   SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
   return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
