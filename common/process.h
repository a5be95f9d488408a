// Running programs: finding them by executable name, terminating one,
// reading another's command line, launching and waiting, COM
// self-registration, and shutting down the programs behind services.
//
// The Tool Help functions, NtQueryInformationProcess and the Restart
// Manager are looked up by name at run time, never linked: older Windows
// lack them. Every function logs its own steps and failures.
#pragma once

#ifndef _WIN32
#error "process is the Windows layer; common/processText.h is the portable part"
#endif

#include <windows.h>

#include <cstdint>
#include <list>
#include <string>

// LoadLibraryExW of the UTF-8 name, with LOAD_WITH_ALTERED_SEARCH_PATH when
// alteredSearchPath is non-zero; null after logging the failure.
HMODULE Util_LoadLibrary(const char *name, int alteredSearchPath);
// False for a null module or a failing FreeLibrary.
bool Util_FreeLibrary(HMODULE module);

// Whether a running process's executable name contains `name` (both
// lower-cased): a search for "note" finds notepad.exe and keynote.exe. The
// first match's id goes to *pidOut (0 when nothing matched) unless pidOut
// is null.
bool Util_IsInMemory(const char *name, DWORD *pidOut);
// Terminates the first process Util_IsInMemory finds, without waiting for
// it to end.
bool Util_AppTerminate(const char *name);
// Appends the ids of all processes whose module name begins with `name`
// (case-insensitive): "note" finds notepad.exe, not keynote.exe. True when
// the whole process list was walked.
bool Util_GetProcessIdList(const char *name, std::list<DWORD> &pidList);
// Another process's command line, in the ANSI code page.
bool Util_GetProcessCommandLine(DWORD processId, std::string &commandLine);
// Each byte through the C locale's tolower.
void Util_StrToLower(char *text);

// What the full form of Util_Launch reports.
enum : uint32_t {
   UTIL_LAUNCH_NOT_STARTED = 0,
   UTIL_LAUNCH_ENDED = 1,      // started; the wait ended (or failed)
   UTIL_LAUNCH_TIMED_OUT = 2,  // started; still running when the wait ran out
};

// Starts `executable` (quotes around it are taken off and put back once)
// with `arguments`, or the command line `arguments` alone when executable
// is empty, and waits waitMs (INFINITE: without limit). hidden non-zero:
// no window. exitCode, when not null, gets the exit code after
// UTIL_LAUNCH_ENDED. processInfo, when not null, gets the process and
// thread handles for the caller to close; otherwise they are closed here.
uint32_t Util_Launch(std::string executable, std::string arguments, DWORD waitMs, int hidden,
                     DWORD *exitCode, PROCESS_INFORMATION *processInfo);
// The short form: wait non-zero waits without limit, zero not at all. True
// when the program was started.
bool Util_Launch(std::string executable, std::string arguments, int wait, int hidden,
                 DWORD *exitCode);

// Calls the DLL's DllRegisterServer (DllUnregisterServer when unregister is
// set) with the current directory switched to `folder`, so that the DLL's
// own dependencies beside it are found; falls back to regsvr32.exe when the
// direct call is impossible or fails, and on NT 4 and older goes there at
// once.
bool Util_RegServer(const char *folder, const char *fileName, bool unregister);
// regsvr32.exe /s (/u /s) on the full path; true when it ran, whatever its
// exit code.
bool Util_RegSvr32(const char *path, bool unregister);

// Registers the services with a Restart Manager session and has it shut
// down what they run. Vista generation only; TRUE only when the shutdown
// succeeded.
BOOL Util_StopFilesInUse(uint32_t count, const wchar_t **serviceNames);
