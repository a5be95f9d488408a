// A stand-in Rstrtmgr.dll for the stop-services tests (Wine's Restart
// Manager answers success and stops nothing). Every call appends one line
// to the file named by OV_RM_RECORD; the call named by OV_RM_FAIL fails
// with error 1235 (ERROR_REQUEST_ABORTED) as its result and last error.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

const DWORD kFailure = 1235;
const DWORD kSession = 7;

std::wstring Env(const wchar_t *name)
{
   wchar_t value[MAX_PATH] = {};
   const DWORD n = GetEnvironmentVariableW(name, value, MAX_PATH);
   return n < MAX_PATH ? std::wstring(value, n) : std::wstring();
}

void Record(const std::wstring &line)
{
   const std::wstring file = Env(L"OV_RM_RECORD");
   if (FILE *out = file.empty() ? nullptr : _wfopen(file.c_str(), L"ab")) {
      fputws((line + L"\n").c_str(), out);
      fclose(out);
   }
}

DWORD Result(const wchar_t *call)
{
   if (Env(L"OV_RM_FAIL") == call) {
      SetLastError(kFailure);
      return kFailure;
   }
   return ERROR_SUCCESS;
}

}  // namespace

extern "C" {

__declspec(dllexport) DWORD WINAPI RmStartSession(DWORD *session, DWORD flags, wchar_t *key)
{
   Record(L"RmStartSession flags " + std::to_wstring(flags) + L" key '" + key + L"'");
   const DWORD rc = Result(L"RmStartSession");
   if (rc == ERROR_SUCCESS) {
      *session = kSession;
      wcscpy(key, L"0123456789abcdef0123456789abcdef");
   }
   return rc;
}

__declspec(dllexport) DWORD WINAPI RmRegisterResources(DWORD session, UINT files, const wchar_t **,
                                                       UINT applications, void *, UINT services,
                                                       const wchar_t **serviceNames)
{
   std::wstring line = L"RmRegisterResources session " + std::to_wstring(session) + L" files " +
                       std::to_wstring(files) + L" applications " + std::to_wstring(applications) +
                       L" services";
   for (UINT i = 0; i < services; i++) {
      line += L" '" + std::wstring(serviceNames[i]) + L"'";
   }
   Record(line);
   return Result(L"RmRegisterResources");
}

__declspec(dllexport) DWORD WINAPI RmShutdown(DWORD session, ULONG flags, void *callback)
{
   Record(L"RmShutdown session " + std::to_wstring(session) + L" flags " + std::to_wstring(flags) +
          (callback != nullptr ? L" with callback" : L""));
   return Result(L"RmShutdown");
}

__declspec(dllexport) DWORD WINAPI RmEndSession(DWORD session)
{
   Record(L"RmEndSession session " + std::to_wstring(session));
   return Result(L"RmEndSession");
}

}  // extern "C"
