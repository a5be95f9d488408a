// Finding, terminating and launching programs, COM self-registration, and
// the Restart Manager shutdown of the programs behind services.
#include "common/process.h"

#include <tlhelp32.h>

#include <cctype>
#include <cstring>
#include <cstdlib>
#include <cwchar>
#include <vector>

#include "common/file.h"
#include "common/log.h"
#include "common/msiUtil.h"
#include "common/osInfo.h"
#include "common/processText.h"
#include "lib/misc/codeset.h"
#include "lib/misc/ownedHandle.h"
#include "lib/misc/win32u.h"
#include "lib/misc/windowsu.h"

namespace {

using CreateSnapshotFn = HANDLE(WINAPI *)(DWORD, DWORD);
using Process32Fn = BOOL(WINAPI *)(HANDLE, PROCESSENTRY32W *);
using Module32Fn = BOOL(WINAPI *)(HANDLE, MODULEENTRY32W *);

// The Tool Help functions, found in kernel32 at run time.
struct ToolHelp {
   CreateSnapshotFn createSnapshot = nullptr;
   Process32Fn first = nullptr;
   Process32Fn next = nullptr;
   Module32Fn firstModule = nullptr;
};

template <typename Fn>
Fn Lookup(HMODULE module, const char *name)
{
   return reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

// Fills `tools`; a missing function is logged as "<who>: GetProcAddresss for
// <name> failed" (the spelling is the one support engineers search for).
bool FindToolHelp(HMODULE kernel32, const char *who, bool needModules, ToolHelp &tools)
{
   struct Entry {
      const char *name;
      const char *logName;
      FARPROC *slot;
   };
   FARPROC found[4] = {};
   const Entry entries[] = {
      {"CreateToolhelp32Snapshot", "CreateToolhelp32Snapshot", &found[0]},
      {"Process32FirstW", "Process32First", &found[1]},
      {"Process32NextW", "Process32Next", &found[2]},
      {"Module32FirstW", "Module32First", &found[3]},
   };
   for (const Entry &e : entries) {
      if (e.slot == &found[3] && !needModules) {
         break;
      }
      *e.slot = GetProcAddress(kernel32, e.name);
      if (*e.slot == nullptr) {
         Inst_LogLastError(INST_LOG_ERROR, GetLastError(), "%s: GetProcAddresss for %s failed", who,
                           e.logName);
         return false;
      }
   }
   tools.createSnapshot = reinterpret_cast<CreateSnapshotFn>(reinterpret_cast<void *>(found[0]));
   tools.first = reinterpret_cast<Process32Fn>(reinterpret_cast<void *>(found[1]));
   tools.next = reinterpret_cast<Process32Fn>(reinterpret_cast<void *>(found[2]));
   tools.firstModule = reinterpret_cast<Module32Fn>(reinterpret_cast<void *>(found[3]));
   return true;
}

// UTF-8 of a wide text up to its terminator; empty for text that is not
// valid UTF-16.
std::string Utf8Of(const wchar_t *text)
{
   char *utf8 = nullptr;
   size_t length = 0;
   if (!CodeSet_Utf16leToUtf8(reinterpret_cast<const char *>(text), wcslen(text) * sizeof *text,
                              &utf8, &length)) {
      return std::string();
   }
   std::string out(utf8, length);
   free(utf8);
   return out;
}

// UTF-16 of a UTF-8 text; empty for text that is not valid UTF-8.
std::wstring WideOf(const char *text)
{
   char *wide = nullptr;
   size_t length = 0;
   if (!CodeSet_Utf8ToUtf16le(text, strlen(text), &wide, &length)) {
      return std::wstring();
   }
   std::wstring out(reinterpret_cast<const wchar_t *>(wide), length / sizeof(wchar_t));
   free(wide);
   return out;
}

// Text in the ANSI code page, as the system's own narrow functions give it.
std::string AnsiOf(const wchar_t *text)
{
   const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
   if (size <= 0) {
      return std::string();
   }
   std::vector<char> buffer(size);
   WideCharToMultiByte(CP_ACP, 0, text, -1, buffer.data(), size, nullptr, nullptr);
   return std::string(buffer.data());
}

std::string Lowered(std::string text)
{
   Util_StrToLower(&text[0]);
   return text;
}

} // namespace

HMODULE Util_LoadLibrary(const char *name, int alteredSearchPath)
{
   HMODULE module =
      Win32U_LoadLibraryEx(name, nullptr, alteredSearchPath != 0 ? LOAD_WITH_ALTERED_SEARCH_PATH : 0);
   if (module == nullptr) {
      Inst_LogLastError(INST_LOG_ERROR, GetLastError(), "Util_LoadLibrary: Failed to load library %s",
                        name);
      return nullptr;
   }
   Inst_Log(INST_LOG_INFO, "Util_LoadLibrary: Loaded library %s(%u)", name,
            static_cast<unsigned>(reinterpret_cast<uintptr_t>(module)));
   return module;
}

bool Util_FreeLibrary(HMODULE module)
{
   if (module == nullptr) {
      Inst_Log(INST_LOG_WARNING, "Util_FreeLibrary: Cannot free NULL library");
      return false;
   }
   Inst_Log(INST_LOG_INFO, "Util_FreeLibrary: Freeing library: %d",
            static_cast<int>(reinterpret_cast<intptr_t>(module)));
   if (!FreeLibrary(module)) {
      Inst_LogLastError(INST_LOG_WARNING, GetLastError(), "Util_FreeLibrary: Failed to free module");
      return false;
   }
   return true;
}

namespace {

// A library loaded with Util_LoadLibrary, freed with Util_FreeLibrary (and
// its log line) on every path.
struct LoggedLibraryTraits {
   using Handle = HMODULE;
   static HMODULE None() { return nullptr; }
   static void Close(HMODULE h) { Util_FreeLibrary(h); }
};
using LoggedLibrary = OwnedHandle<LoggedLibraryTraits>;

} // namespace

bool Util_IsInMemory(const char *name, DWORD *pidOut)
{
   if (pidOut != nullptr) {
      *pidOut = 0;
   }
   LoggedLibrary kernel32(Util_LoadLibrary("Kernel32.dll", 0));
   if (!kernel32) {
      return false;
   }
   // Windows 2000 gives the full path as the executable name; its first
   // module's name is the bare one.
   const bool win2000 = Util_GetOSType() == OS_WIN2000;
   ToolHelp tools;
   if (!FindToolHelp(kernel32.Get(), "Util_IsInMemory", win2000, tools)) {
      return false;
   }
   FileHandle snapshot(tools.createSnapshot(TH32CS_SNAPPROCESS, 0));
   if (!snapshot) {
      Inst_Log(INST_LOG_ERROR, "Util_IsInMemory: Process list unavailable");
      return false;
   }
   PROCESSENTRY32W entry = {};
   entry.dwSize = sizeof entry;
   if (!tools.first(snapshot.Get(), &entry)) {
      Inst_Log(INST_LOG_ERROR, "Util_IsInMemory: Process list unavailable - can't find first process");
      return false;
   }
   const std::string wanted = Lowered(name);
   do {
      std::string candidate;
      if (win2000) {
         FileHandle modules(tools.createSnapshot(TH32CS_SNAPMODULE, entry.th32ProcessID));
         MODULEENTRY32W module = {};
         module.dwSize = sizeof module;
         if (!modules || !tools.firstModule(modules.Get(), &module)) {
            continue;
         }
         candidate = AnsiOf(module.szModule);
      } else {
         candidate = Utf8Of(entry.szExeFile);
         const size_t slash = candidate.rfind('\\');
         if (slash != std::string::npos) {
            candidate.erase(0, slash + 1);
         }
      }
      if (Lowered(candidate).find(wanted) != std::string::npos) {
         Inst_Log(INST_LOG_INFO, "Util_IsInMemory: Process found %s with ID %d", candidate.c_str(),
                  static_cast<int>(entry.th32ProcessID));
         if (pidOut != nullptr) {
            *pidOut = entry.th32ProcessID;
         }
         return true;
      }
   } while (tools.next(snapshot.Get(), &entry));
   return false;
}

bool Util_AppTerminate(const char *name)
{
   DWORD pid = 0;
   if (!Util_IsInMemory(name, &pid)) {
      Inst_Log(INST_LOG_INFO, "Util_AppTerminate: %s *NOT* found in memory.", name);
      return false;
   }
   if (pid == 0) {
      Inst_Log(INST_LOG_ERROR, "Util_AppTerminate: %d is not a valid process ID.", 0);
      return false;
   }
   Inst_Log(INST_LOG_INFO, "Util_AppTerminate: %s with pid %d found in memory!", name,
            static_cast<int>(pid));
   KernelHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, pid));
   if (!process) {
      return false;
   }
   if (!TerminateProcess(process.Get(), 0)) {
      Inst_LogLastError(INST_LOG_WARNING, GetLastError(), "Util_AppTerminate: Process *NOT* terminated: %s",
                        name);
      return false;
   }
   Inst_Log(INST_LOG_INFO, "Util_AppTerminate: Process terminated: %s", name);
   return true;
}

bool Util_GetProcessIdList(const char *name, std::list<DWORD> &pidList)
{
   HMODULE kernel32 = GetModuleHandleW(L"Kernel32.dll");
   if (kernel32 == nullptr) {
      Inst_LogLastError(INST_LOG_ERROR, GetLastError(),
                        "Util_GetProcessIdList: GetModuleHandle for Kernel32 failed");
      return false;
   }
   ToolHelp tools;
   if (!FindToolHelp(kernel32, "Util_GetProcessIdList", true, tools)) {
      return false;
   }
   FileHandle snapshot(tools.createSnapshot(TH32CS_SNAPPROCESS, 0));
   PROCESSENTRY32W entry = {};
   entry.dwSize = sizeof entry;
   if (!snapshot || !tools.first(snapshot.Get(), &entry)) {
      return false;
   }
   const std::wstring wanted = WideOf(name);
   auto begins = [&](const wchar_t *moduleName) {
      return _wcsnicmp(moduleName, wanted.c_str(), wanted.size()) == 0;
   };
   do {
      FileHandle modules(tools.createSnapshot(TH32CS_SNAPMODULE, entry.th32ProcessID));
      if (modules) {
         MODULEENTRY32W module = {};
         module.dwSize = sizeof module;
         if (tools.firstModule(modules.Get(), &module) && begins(module.szModule)) {
            pidList.push_back(entry.th32ProcessID);
         }
      } else if (begins(entry.szExeFile)) {
         pidList.push_back(entry.th32ProcessID);
      }
   } while (tools.next(snapshot.Get(), &entry));
   return true;
}

namespace {

using NtQueryInformationProcessFn = LONG(WINAPI *)(HANDLE, ULONG, void *, ULONG, ULONG *);

// The documented layouts of what is read from the other process, for the
// word size this library is built with.
struct BasicInformation {
   LONG exitStatus;
   void *peb;
   ULONG_PTR affinityMask;
   LONG basePriority;
   ULONG_PTR uniqueProcessId;
   ULONG_PTR parentProcessId;
};
struct CountedString {
   USHORT length;
   USHORT maximumLength;
   wchar_t *buffer;
};
const size_t kPebProcessParameters = sizeof(void *) == 8 ? 0x20 : 0x10;
const size_t kParametersCommandLine = sizeof(void *) == 8 ? 0x70 : 0x40;

bool ReadRemote(HANDLE process, const void *address, void *buffer, size_t size)
{
   if (!ReadProcessMemory(process, address, buffer, size, nullptr)) {
      Inst_LogCA("ReadProcessMemory failed with error 0x%x", static_cast<unsigned>(GetLastError()));
      return false;
   }
   return true;
}

} // namespace

bool Util_GetProcessCommandLine(DWORD processId, std::string &commandLine)
{
   KernelHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
   if (!process) {
      Inst_LogCA("OpenProcess of procId failed with error 0x%x", static_cast<unsigned>(GetLastError()));
      return false;
   }
   auto query = Lookup<NtQueryInformationProcessFn>(GetModuleHandleW(L"ntdll.dll"),
                                                    "NtQueryInformationProcess");
   if (query == nullptr) {
      Inst_LogCA("GetProcAddress of NtQueryInformationProcess failed");
      return false;
   }
   // The status is not looked at: a failed query leaves the zeroed record,
   // and reading through a null block fails below.
   BasicInformation basic = {};
   query(process.Get(), 0, &basic, sizeof basic, nullptr);
   const char *parameters = nullptr;
   CountedString text = {};
   if (!ReadRemote(process.Get(), static_cast<const char *>(basic.peb) + kPebProcessParameters,
                   &parameters, sizeof parameters) ||
       !ReadRemote(process.Get(), parameters + kParametersCommandLine, &text, sizeof text)) {
      return false;
   }
   std::vector<wchar_t> buffer(text.maximumLength / sizeof(wchar_t) + 1, L'\0');
   if (!ReadRemote(process.Get(), text.buffer, buffer.data(), text.maximumLength)) {
      return false;
   }
   commandLine = AnsiOf(buffer.data());
   return true;
}

void Util_StrToLower(char *text)
{
   for (; *text != '\0'; text++) {
      *text = static_cast<char>(tolower(static_cast<unsigned char>(*text)));
   }
}

uint32_t Util_Launch(std::string executable, std::string arguments, DWORD waitMs, int hidden,
                     DWORD *exitCode, PROCESS_INFORMATION *processInfo)
{
   std::string commandLine = arguments;
   if (!executable.empty()) {
      executable = ProcessText_Unquote(executable);
      if (!Util_FileExists(executable)) {
         Inst_Log(INST_LOG_ERROR, "Util_Launch: File \"%s\" doesn't exist", executable.c_str());
         return UTIL_LAUNCH_NOT_STARTED;
      }
      commandLine = ProcessText_CommandLine(executable, arguments);
   }
   Inst_Log(INST_LOG_INFO, "Util_Launch: Attempting to launch \"%s\"", commandLine.c_str());

   SECURITY_ATTRIBUTES processAttributes = {sizeof processAttributes, nullptr, TRUE};
   SECURITY_ATTRIBUTES threadAttributes = {sizeof threadAttributes, nullptr, FALSE};
   STARTUPINFOA startup = {};
   startup.cb = sizeof startup;
   DWORD flags = DETACHED_PROCESS;
   if (hidden != 0) {
      flags = CREATE_NO_WINDOW | CREATE_NEW_CONSOLE;
      startup.dwFlags = STARTF_USESHOWWINDOW;
      startup.wShowWindow = SW_HIDE;
   }
   PROCESS_INFORMATION started = {};
   if (!Win32U_CreateProcess(nullptr, &commandLine[0], &processAttributes, &threadAttributes, FALSE,
                             flags, nullptr, nullptr, &startup, &started)) {
      Inst_LogLastError(INST_LOG_ERROR, GetLastError(), "Util_Launch: Create Process failed");
      return UTIL_LAUNCH_NOT_STARTED;
   }
   KernelHandle process(started.hProcess);
   KernelHandle thread(started.hThread);

   uint32_t result = UTIL_LAUNCH_ENDED;
   const DWORD waited = WaitForSingleObject(process.Get(), waitMs);
   if (waited == WAIT_TIMEOUT) {
      Inst_Log(INST_LOG_ERROR, "Util_Launch: No exit code returned from async/timeout process");
      result = UTIL_LAUNCH_TIMED_OUT;
   } else {
      if (waited == WAIT_FAILED) {
         Inst_LogLastError(INST_LOG_ERROR, GetLastError(), "Util_Launch: Wait failed");
      }
      if (exitCode != nullptr && GetExitCodeProcess(process.Get(), exitCode)) {
         Inst_Log(INST_LOG_INFO, "Util_Launch: Child exited with code %u",
                  static_cast<unsigned>(*exitCode));
      }
   }
   if (processInfo != nullptr) {
      *processInfo = started;
      process.Release();
      thread.Release();
   }
   return result;
}

bool Util_Launch(std::string executable, std::string arguments, int wait, int hidden,
                 DWORD *exitCode)
{
   DWORD code = 0;
   const uint32_t result = Util_Launch(std::move(executable), std::move(arguments),
                                       wait != 0 ? INFINITE : 0, hidden,
                                       exitCode != nullptr ? &code : nullptr, nullptr);
   if (result == UTIL_LAUNCH_ENDED && exitCode != nullptr) {
      Inst_Log(INST_LOG_INFO, "Util_Launch: Process returned %d", static_cast<int>(code));
      *exitCode = code;
   }
   return result != UTIL_LAUNCH_NOT_STARTED;
}

namespace {

using RegisterFn = HRESULT(STDAPICALLTYPE *)();

// The direct call of the DLL's own (un)registration export, with the
// current directory at the DLL's folder while it is loaded and called.
bool CallRegistrationExport(const char *folder, const char *fileName, bool unregister)
{
   bool switched = false;
   std::string saved;
   if (folder != nullptr && folder[0] != '\0') {
      wchar_t current[MAX_PATH] = {};
      if (GetCurrentDirectoryW(MAX_PATH, current) == 0) {
         Inst_LogLastError(INST_LOG_ERROR, GetLastError(),
                           "Util_RegServer: Failed to save old working directory");
      } else {
         saved = Utf8Of(current);
      }
      if (!Win32U_SetCurrentDirectory(folder)) {
         Inst_LogLastError(INST_LOG_ERROR, GetLastError(),
                           "Util_RegServer: Failed to set new working directory to %s", folder);
      } else {
         switched = true;
      }
   }

   bool done = false;
   if (HMODULE dll = Win32U_LoadLibraryEx(fileName, nullptr, 0)) {
      const char *exportName = unregister ? "DllUnregisterServer" : "DllRegisterServer";
      if (auto call = Lookup<RegisterFn>(dll, exportName)) {
         const HRESULT hr = call();
         if (hr != S_OK) {
            Inst_Log(INST_LOG_ERROR, "Util_RegServer: Direct call to %s failed: %u", exportName,
                     static_cast<unsigned>(hr));
         } else {
            Inst_Log(INST_LOG_INFO, "Util_RegServer: Successfully %s dll: \"%s\\%s\"",
                     unregister ? "unregistered" : "registered", folder, fileName);
            done = true;
         }
      } else {
         Inst_Log(INST_LOG_ERROR, "Util_RegServer: Failed to find %s export in \"%s\"", exportName,
                  fileName);
      }
      FreeLibrary(dll);
   } else {
      Inst_LogLastError(INST_LOG_ERROR, GetLastError(), "Util_RegServer: Failed to load dll \"%s\\%s\"",
                        folder, fileName);
   }

   if (switched && !saved.empty() && !Win32U_SetCurrentDirectory(saved.c_str())) {
      Inst_LogLastError(INST_LOG_ERROR, GetLastError(),
                        "Util_RegServer: Failed to reset working directory to %s", saved.c_str());
   }
   return done;
}

} // namespace

bool Util_RegServer(const char *folder, const char *fileName, bool unregister)
{
   const ResString path = Util_Sprintf("%s\\%s", folder, fileName);
   if (!Util_FileExists(path)) {
      Inst_Log(INST_LOG_ERROR, "Util_RegServer: Can't %s non-existent dll: \"%s\"",
               unregister ? "unregister" : "register", path.c_str());
      return false;
   }
   // NT 4 and the 9x family: regsvr32.exe only.
   if (Util_GetOSType() > OS_WINNT4 && CallRegistrationExport(folder, fileName, unregister)) {
      return true;
   }
   return Util_RegSvr32(path.c_str(), unregister);
}

bool Util_RegSvr32(const char *path, bool unregister)
{
   if (!Util_FileExists(path)) {
      Inst_Log(INST_LOG_ERROR, "Util_RegSvr32: Can't register non-existent file: %s", path);
      return false;
   }
   char systemDir[MAX_PATH * 3 + 1];
   if (Win32U_GetSystemDirectory(nullptr, 0) > sizeof systemDir ||
       Win32U_GetSystemDirectory(systemDir, sizeof systemDir) == 0) {
      Inst_LogLastError(INST_LOG_ERROR, GetLastError(), "Util_RegSvr32: Failed to get system directory");
      return false;
   }
   const ResString executable = Util_Sprintf("\"%s\\regsvr32.exe\"", systemDir);
   const ResString arguments = Util_Sprintf(unregister ? "\"%s\" /u /s" : "\"%s\" /s", path);
   return Util_Launch(executable, arguments, 1, 0, nullptr);
}

namespace {

using RmStartSessionFn = DWORD(WINAPI *)(DWORD *, DWORD, wchar_t *);
using RmRegisterResourcesFn = DWORD(WINAPI *)(DWORD, UINT, const wchar_t **, UINT, void *, UINT,
                                              const wchar_t **);
using RmShutdownFn = DWORD(WINAPI *)(DWORD, ULONG, void *);
using RmEndSessionFn = DWORD(WINAPI *)(DWORD);

const DWORD kNoSession = 0xFFFFFFFF;
const size_t kSessionKeyChars = 33;   // CCH_RM_SESSION_KEY and the terminator

template <typename Fn>
Fn LookupRm(HMODULE rm, const char *name)
{
   Fn fn = Lookup<Fn>(rm, name);
   if (fn == nullptr) {
      Inst_Log(INST_LOG_ERROR, "Util_StopFilesInUse: Failed to get %s function pointer", name);
   }
   return fn;
}

BOOL ShutDownServices(HMODULE rm, uint32_t count, const wchar_t **serviceNames)
{
   DWORD session = kNoSession;
   wchar_t key[kSessionKeyChars] = {};
   BOOL result = FALSE;
   auto start = LookupRm<RmStartSessionFn>(rm, "RmStartSession");
   if (start == nullptr) {
      return FALSE;
   }
   if (start(&session, 0, key) != ERROR_SUCCESS) {
      Inst_LogLastError(INST_LOG_ERROR, GetLastError(), "Util_StopFilesInUse: RmStartSession failed");
   } else if (auto registerResources = LookupRm<RmRegisterResourcesFn>(rm, "RmRegisterResources")) {
      if (registerResources(session, 0, nullptr, 0, nullptr, count, serviceNames) != ERROR_SUCCESS) {
         Inst_LogLastError(INST_LOG_ERROR, GetLastError(),
                           "Util_StopFilesInUse: RmRegisterResources failed");
      } else if (auto shutdown = LookupRm<RmShutdownFn>(rm, "RmShutdown")) {
         if (shutdown(session, 0, nullptr) != ERROR_SUCCESS) {
            Inst_LogLastError(INST_LOG_ERROR, GetLastError(), "Util_StopFilesInUse: RmShutdown failed");
         } else {
            result = TRUE;
         }
      }
   }
   if (session != kNoSession) {
      if (auto end = LookupRm<RmEndSessionFn>(rm, "RmEndSession")) {
         if (end(session) != ERROR_SUCCESS) {
            Inst_LogLastError(INST_LOG_ERROR, GetLastError(), "Util_StopFilesInUse: RmEndSession failed");
         }
      }
   }
   return result;
}

} // namespace

BOOL Util_StopFilesInUse(uint32_t count, const wchar_t **serviceNames)
{
   BOOL result = FALSE;
   if (Util_GetOSType() != OS_VISTA) {
      Inst_Log(INST_LOG_ERROR, "Util_StopFilesInUse: guest not long horn");
   } else if (count == 0) {
      Inst_Log(INST_LOG_INFO, "Util_StopFilesInUse: Number of services to stop is zero");
   } else if (HMODULE rm = Util_LoadLibrary("Rstrtmgr.dll", 0)) {
      result = ShutDownServices(rm, count, serviceNames);
      Util_FreeLibrary(rm);
   }
   Inst_Log(INST_LOG_INFO, "Util_StopFilesInUse: Util_StopFilesInUse returning %s",
            result ? "success" : "failure");
   return result;
}
