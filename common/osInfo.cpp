// Reading the version data from the running Windows. Exports that older
// systems lack are looked up at run time so that the DLL still loads there.
#include "common/osInfo.h"

#include "common/log.h"

namespace {

static_assert(sizeof(OSVERSIONINFOEXA) == 156, "OSVERSIONINFOEXA layout");
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA layout");

using GetNativeSystemInfoFn = void(WINAPI *)(LPSYSTEM_INFO);
using GetProductInfoFn = BOOL(WINAPI *)(DWORD, DWORD, DWORD, DWORD, PDWORD);
using IsWow64ProcessFn = BOOL(WINAPI *)(HANDLE, PBOOL);

// GetModuleHandleA takes no reference (kernel32 is always loaded), so there
// is nothing to release afterwards.
template <typename F>
F Lookup(const char *module, const char *name)
{
   HMODULE m = GetModuleHandleA(module);
   FARPROC p = m != nullptr ? GetProcAddress(m, name) : nullptr;
   // Through void (*)(void), the one function pointer type every other
   // converts from without a warning.
   return p != nullptr ? reinterpret_cast<F>(reinterpret_cast<void (*)(void)>(p)) : nullptr;
}

void WriteLog(const std::vector<OsInfoLogLine> &lines)
{
   for (const OsInfoLogLine &line : lines) {
      Inst_Log(line.level, "%s", line.text.c_str());
   }
}

} // namespace

OsVersionData OsInfo_ReadVersionData(bool retryPlain)
{
   OsVersionData d;
   OSVERSIONINFOEXA info;
   ZeroMemory(&info, sizeof info);
   info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
   LPOSVERSIONINFOA plain = reinterpret_cast<LPOSVERSIONINFOA>(&info);
   d.versionRead = GetVersionExA(plain) != FALSE;
   if (!d.versionRead && retryPlain) {
      // The extended fields stay zero: product type 0 is not a client.
      info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
      d.versionRead = GetVersionExA(plain) != FALSE;
   }
   if (!d.versionRead) {
      return d;
   }
   d.platformId = info.dwPlatformId;
   d.major = info.dwMajorVersion;
   d.minor = info.dwMinorVersion;
   d.build = info.dwBuildNumber;
   d.spMajor = info.wServicePackMajor;
   d.spMinor = info.wServicePackMinor;
   d.suiteMask = info.wSuiteMask;
   d.productType = info.wProductType;

   SYSTEM_INFO sys;
   ZeroMemory(&sys, sizeof sys);
   if (auto native = Lookup<GetNativeSystemInfoFn>("kernel32.dll", "GetNativeSystemInfo")) {
      native(&sys);
   } else {
      GetSystemInfo(&sys);
   }
   d.processorArchitecture = sys.wProcessorArchitecture;

   if (auto productInfo = Lookup<GetProductInfoFn>("kernel32.dll", "GetProductInfo")) {
      DWORD type = 0;   // what a failed call leaves maps to no edition
      productInfo(6, 0, 0, 0, &type);
      d.hasProductInfo = true;
      d.productInfoType = type;
   }
   d.serverR2 = GetSystemMetrics(SM_SERVERR2) != 0;
   return d;
}

OSType Util_GetOSType(void)
{
   OsTypeMapping m = OsInfo_MapType(OsInfo_ReadVersionData(true));
   WriteLog(m.log);
   return m.type;
}

std::string Util_GetSystemVersionString(void)
{
   OsVersionStringMapping m = OsInfo_MapVersionString(OsInfo_ReadVersionData(false));
   WriteLog(m.log);
   return m.text;
}

BOOL Util_IsWow64(void)
{
   auto isWow64 = Lookup<IsWow64ProcessFn>("kernel32", "IsWow64Process");
   BOOL wow64 = FALSE;
   if (isWow64 == nullptr || !isWow64(GetCurrentProcess(), &wow64)) {
      return FALSE;
   }
   return wow64;
}
