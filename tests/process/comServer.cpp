// A COM server DLL for the registration tests. DllRegisterServer writes the
// value named after the DLL's file name under the key
// HKCU\Software\Orvane Test\ComServers, with the current directory of the
// call as its data;
// DllUnregisterServer deletes it. With OV_COM_FAIL=1 in the environment
// both fail. Built three ways: plain, importing a DLL that must sit beside
// it (OV_COM_WITH_DEP), and without DllUnregisterServer
// (OV_COM_NO_UNREGISTER).
#include <windows.h>

#include <string>

namespace {

const wchar_t kKey[] = L"Software\\Orvane Test\\ComServers";
HMODULE gSelf = nullptr;

std::wstring OwnName()
{
   wchar_t path[MAX_PATH] = {};
   GetModuleFileNameW(gSelf, path, MAX_PATH);
   const std::wstring full = path;
   return full.substr(full.find_last_of(L'\\') + 1);
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

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, void *)
{
   if (reason == DLL_PROCESS_ATTACH) {
      gSelf = self;
   }
   return TRUE;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer()
{
#ifdef OV_COM_WITH_DEP
   if (OvComDepAnswer() != 42) {
      return E_UNEXPECTED;
   }
#endif
   if (Failing()) {
      return E_FAIL;
   }
   wchar_t cwd[MAX_PATH] = {};
   const DWORD n = GetCurrentDirectoryW(MAX_PATH, cwd);
   return RegSetKeyValueW(HKEY_CURRENT_USER, kKey, OwnName().c_str(), REG_SZ, cwd,
                          (n + 1) * sizeof(wchar_t)) == ERROR_SUCCESS
             ? S_OK
             : E_FAIL;
}

#ifndef OV_COM_NO_UNREGISTER
extern "C" __declspec(dllexport) HRESULT __stdcall DllUnregisterServer()
{
   if (Failing()) {
      return E_FAIL;
   }
   return RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, OwnName().c_str()) == ERROR_SUCCESS ? S_OK
                                                                                          : E_FAIL;
}
#endif
