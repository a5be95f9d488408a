// Child program of tests/win/log_test.cpp. The log keeps its state (mask,
// session count, open file) for the whole process, so every case runs in a
// fresh one. Its temporary folder is "tmp" in its current folder; it carries
// out the operations on its command line in order:
//
//   S NAME TAG FILE FALLBACK   Inst_SetupLogging ("-" passes null)
//   A TAG                      Inst_SetupCALogging
//   X                          Inst_EndLogging
//   L LEVEL TEXT | C TEXT      Inst_Log(LEVEL, "%s", TEXT) | Inst_LogCA
//   W|E|N|R LEVEL CODE TEXT    Inst_LogWinError, Inst_LogLastError,
//                              Inst_LogErrno, Inst_LogLastErrno
//   V none|nokey|sz|N          LogLevel missing, its key missing, REG_SZ
//                              "2047", or REG_DWORD N
//   H 0|1                      host-log key removed / created
//   M PATH | D PATH            create / remove a folder
//   O PATH 0|1                 whether the file is held open (a rename of
//                              it is refused while it is)
//   P LEVEL                    every log call keeps errno and last error
//   Y                          Util_GetOSType, Util_GetSystemVersionString
//
// Exit code 0 when every operation did what it should, else 1 and a note.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/log.h"
#include "common/osInfo.h"
#include "tests/win/simulatedHost.h"

namespace {

const wchar_t kLevelKey[] = L"SOFTWARE\\Wow6432Node\\Orvane, Inc.";
const wchar_t kHostKey[] = L"SOFTWARE\\Orvane, Inc.\\OvxLog";

void Check(bool ok, const wchar_t *what, const std::wstring &arg = L"")
{
   if (!ok) {
      fwprintf(stderr, L"logChild: %ls %ls\n", what, arg.c_str());
      exit(1);
   }
}

std::string Utf8(const wchar_t *w)
{
   int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
   std::string s(n > 0 ? static_cast<size_t>(n) : 1, '\0');
   WideCharToMultiByte(CP_UTF8, 0, w, -1, &s[0], n, nullptr, nullptr);
   s.resize(s.size() - 1);
   return s;
}

uint32_t Number(const wchar_t *arg)
{
   wchar_t *end = nullptr;
   long long v = wcstoll(arg, &end, 0);
   Check(end != arg && *end == L'\0', L"bad number", arg);
   return static_cast<uint32_t>(v);
}

void SetLevel(const std::wstring &kind)
{
   const HKEY hklm = HKEY_LOCAL_MACHINE;
   DWORD v;
   LONG rc = kind == L"nokey" ? RegDeleteKeyExW(hklm, kLevelKey, KEY_WOW64_64KEY, 0)
             : kind == L"none" ? RegDeleteKeyValueW(hklm, kLevelKey, L"LogLevel")
             : kind == L"sz"   ? RegSetKeyValueW(hklm, kLevelKey, L"LogLevel", REG_SZ, L"2047", 10)
                               : (v = Number(kind.c_str()),
                                RegSetKeyValueW(hklm, kLevelKey, L"LogLevel", REG_DWORD, &v, 4));
   Check(rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND, L"cannot set the level", kind);
}

uint32_t gLevel;

// Each call, at a written or a filtered level, also when it creates the file
// or opens a session, leaves both values as they were.
void CheckPreserved()
{
   void (*const calls[])() = {
      [] { Inst_Log(gLevel, "preserve %s", "Inst_Log"); },
      [] { Inst_LogCA("preserve"); },
      [] { Inst_LogWinError(gLevel, ERROR_ACCESS_DENIED, "preserve"); },
      [] { Inst_LogLastError(gLevel, 0, "preserve"); },
      [] { Inst_LogErrno(gLevel, ENOENT, "preserve"); },
      [] { Inst_LogLastErrno(gLevel, ENOENT, "preserve"); },
      [] { Inst_SetupLogging("nested", nullptr, nullptr, nullptr); },
      [] { Inst_EndLogging(); },
      [] { Inst_ErrorCodeText(0xE0001234); },   // no system text
      [] { Inst_ErrnoText(ENOENT); },
   };
   for (size_t i = 0; i < sizeof calls / sizeof calls[0]; i++) {
      errno = ERANGE;
      SetLastError(0x1234);
      calls[i]();
      Check(errno == ERANGE && GetLastError() == 0x1234, L"disturbed by call", std::to_wstring(i));
   }
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
   wchar_t tmp[MAX_PATH];
   DWORD n = GetFullPathNameW(L"tmp", MAX_PATH, tmp, nullptr);
   Check(n > 0 && n < MAX_PATH && SetEnvironmentVariableW(L"TMP", tmp) &&
            SetEnvironmentVariableW(L"TEMP", tmp), L"cannot set the temporary folder");

   // Lines for the host reach this process's simulated hypervisor; it is
   // absent (nothing answers) unless a case switches it on with T.
   SimulatedHost host;
   host.present = false;

   int next = 1;
   auto arg = [&]() -> const wchar_t * {
      Check(next < argc, L"missing argument");
      return argv[next++];
   };
   std::string keep[4];
   auto optional = [&](int slot) -> const char * {   // "-" is the null argument
      const wchar_t *a = arg();
      keep[slot] = Utf8(a);
      return wcscmp(a, L"-") == 0 ? nullptr : keep[slot].c_str();
   };
   while (next < argc) {
      const std::wstring op = arg();
      if (op == L"S") {
         const char *name = optional(0), *tag = optional(1), *file = optional(2);
         Inst_SetupLogging(name, tag, file, optional(3));
      } else if (op == L"A") {
         Inst_SetupCALogging(optional(0));
      } else if (op == L"X") {
         Inst_EndLogging();
      } else if (op == L"L") {
         uint32_t level = Number(arg());
         Inst_Log(level, "%s", Utf8(arg()).c_str());
      } else if (op == L"C") {
         Inst_LogCA("%s", Utf8(arg()).c_str());
      } else if (op == L"W" || op == L"E" || op == L"N" || op == L"R") {
         uint32_t level = Number(arg()), code = Number(arg());
         std::string text = Utf8(arg());
         int posix = static_cast<int>(code);
         op == L"W"   ? Inst_LogWinError(level, code, "%s", text.c_str())
         : op == L"E" ? Inst_LogLastError(level, code, "%s", text.c_str())
         : op == L"N" ? Inst_LogErrno(level, posix, "%s", text.c_str())
                      : Inst_LogLastErrno(level, posix, "%s", text.c_str());
      } else if (op == L"V") {
         SetLevel(arg());
      } else if (op == L"T") {
         host.present = true;
      } else if (op == L"Y") {   // the OS probes log what they cannot name
         Util_GetOSType();
         Util_GetSystemVersionString();
      } else if (op == L"H") {   // RegSetKeyValue creates the key
         LONG rc = Number(arg()) != 0
                      ? RegSetKeyValueW(HKEY_LOCAL_MACHINE, kHostKey, nullptr, REG_SZ, L"", 2)
                      : RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kHostKey, KEY_WOW64_64KEY, 0);
         Check(rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND, L"cannot set the host key");
      } else if (op == L"M" || op == L"D") {
         const wchar_t *path = arg();
         Check((op == L"M" ? CreateDirectoryW(path, nullptr) : RemoveDirectoryW(path)) != 0,
               L"folder operation failed on", path);
      } else if (op == L"O") {
         std::wstring path = arg(), probe = path + L".probe";
         bool open = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES &&
                     !(MoveFileW(path.c_str(), probe.c_str()) &&
                       MoveFileW(probe.c_str(), path.c_str()));
         Check(open == (Number(arg()) != 0), L"wrong open state of", path);
      } else if (op == L"P") {
         gLevel = Number(arg());
         CheckPreserved();
      } else {
         Check(false, L"unknown operation", op);
      }
   }
   return 0;
}
