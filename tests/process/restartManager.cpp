// A stand-in Rstrtmgr.dll for the stop-services tests (Wine's Restart
// Manager answers success and stops nothing). Every call appends its name,
// its arguments and "|" to the variable OV_RM_CALLS of the environment it
// shares with the test; the call named by OV_RM_FAIL fails with error 1235
// (ERROR_REQUEST_ABORTED) as its result and last error.
#include <windows.h>

#include <string>

namespace {

std::wstring Env(const wchar_t *name)
{
   wchar_t value[1024] = {};
   const DWORD n = GetEnvironmentVariableW(name, value, 1024);
   return n < 1024 ? std::wstring(value, n) : std::wstring();
}

DWORD Record(const wchar_t *call, const std::wstring &rest)
{
   SetEnvironmentVariableW(L"OV_RM_CALLS", (Env(L"OV_RM_CALLS") + call + rest + L"|").c_str());
   const DWORD rc = Env(L"OV_RM_FAIL") == call ? 1235 : ERROR_SUCCESS;
   SetLastError(rc);
   return rc;
}

}  // namespace

extern "C" {

__declspec(dllexport) DWORD WINAPI RmStartSession(DWORD *session, DWORD flags, wchar_t *key)
{
   const DWORD rc = Record(L"RmStartSession", L" flags " + std::to_wstring(flags) + L" key '" + key + L"'");
   *session = rc == ERROR_SUCCESS ? 7 : *session;
   return rc;
}

__declspec(dllexport) DWORD WINAPI RmRegisterResources(DWORD session, UINT files, const wchar_t **, UINT apps, void *,
                                                       UINT services, const wchar_t **names)
{
   std::wstring line = L" session " + std::to_wstring(session) + L" files " + std::to_wstring(files) +
                       L" applications " + std::to_wstring(apps) + L" services";
   for (UINT i = 0; i < services; i++) {
      line += L" '" + std::wstring(names[i]) + L"'";
   }
   return Record(L"RmRegisterResources", line);
}

__declspec(dllexport) DWORD WINAPI RmShutdown(DWORD session, ULONG flags, void *callback)
{
   return Record(L"RmShutdown", L" session " + std::to_wstring(session) + L" flags " + std::to_wstring(flags) +
                                   (callback != nullptr ? L" with callback" : L""));
}

__declspec(dllexport) DWORD WINAPI RmEndSession(DWORD session)
{
   return Record(L"RmEndSession", L" session " + std::to_wstring(session));
}

}  // extern "C"
