// A COM server DLL for the registration tests. DllRegisterServer writes the
// value named after the DLL's file name under HKCU\Software\Orvane
// Test\ComServers, with the current directory of the call as its data;
// DllUnregisterServer deletes it. With OV_COM_FAIL=1 in the environment
// both fail. Built three ways: plain, importing a DLL that must sit beside
// it (OV_COM_WITH_DEP), and without DllUnregisterServer
// (OV_COM_NO_UNREGISTER).
#include <windows.h>

#include <string>

namespace {

const wchar_t kKey[] = L"Software\\Orvane Test\\ComServers";
std::wstring OwnName()
{
   HMODULE self = nullptr;
   wchar_t path[MAX_PATH] = {};
   GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, kKey, &self);
   GetModuleFileNameW(self, path, MAX_PATH);
   return wcsrchr(path, L'\\') + 1;
}

bool Failing()
{
   wchar_t value[8] = {};
   return GetEnvironmentVariableW(L"OV_COM_FAIL", value, 8) == 1 && value[0] == L'1';
}

}  // namespace

#ifdef OV_COM_WITH_DEP
extern "C" __declspec(dllimport) int OvComDepAnswer();
#endif

extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer()
{
#ifdef OV_COM_WITH_DEP
   OvComDepAnswer();
#endif
   wchar_t cwd[MAX_PATH] = {};
   const DWORD n = GetCurrentDirectoryW(MAX_PATH, cwd);
   return !Failing() && RegSetKeyValueW(HKEY_CURRENT_USER, kKey, OwnName().c_str(), REG_SZ, cwd, (n + 1) * 2) == 0
             ? S_OK
             : E_FAIL;
}

#ifndef OV_COM_NO_UNREGISTER
extern "C" __declspec(dllexport) HRESULT __stdcall DllUnregisterServer()
{
   return !Failing() && RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, OwnName().c_str()) == 0 ? S_OK : E_FAIL;
}
#endif
