// Child program of tests/win/log_test.cpp. The log keeps its state (mask,
// session count, open file) for the whole process, so every case runs in a
// fresh one. The first argument is its current and temporary folder; then it
// carries out the operations on its command line in order. Upper case: log
// calls, each of which must leave errno and the last error as they were.
//
//   S NAME TAG FILE FALLBACK   Inst_SetupLogging ("-" passes null)
//   A TAG                      Inst_SetupCALogging
//   X                          Inst_EndLogging
//   L LEVEL TEXT | C TEXT      Inst_Log(LEVEL, "%s", TEXT) | Inst_LogCA
//   W|E|N|R LEVEL CODE TEXT    Inst_LogWinError, Inst_LogLastError,
//                              Inst_LogErrno, Inst_LogLastErrno
//   T CODE                     Inst_LogCA of Inst_ErrorCodeText(CODE)
//   v none|nokey|sz|N          LogLevel missing, its key missing, REG_SZ
//                              "2047", or REG_DWORD N
//   h 0|1                      host-log key removed / created
//   t                          the simulated hypervisor comes / goes
//   m PATH | d PATH            create / remove a folder
//   o PATH 0|1                 whether the file is held open (a rename of
//                              it is refused while it is)
//
// Exit code 0 when every operation did what it should, else 1 and a note.
// The requests the hypervisor took are left in host.txt, one a line.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <string>

#include "common/log.h"
#include "tests/win/simulatedHost.h"

namespace {

struct Args {
   std::string s[4];
   const char *p[4];   // s, or null for "-"
   uint32_t n[4];      // s as a number
};

SimulatedHost gHost;   // absent (nothing answers) until t
const HKEY kLm = HKEY_LOCAL_MACHINE;
const char kLevelKey[] = "SOFTWARE\\Wow6432Node\\Orvane, Inc.", kHostKey[] = "SOFTWARE\\Orvane, Inc.\\OvxLog";

void Check(bool ok, const char *what, const std::string &arg)
{
   if (!ok) {
      fprintf(stderr, "logChild: %s %s\n", what, arg.c_str());
      exit(1);
   }
}

const std::map<char, std::pair<int, void (*)(const Args &)>> kOps = {
   {'S', {4, [](const Args &a) { Inst_SetupLogging(a.p[0], a.p[1], a.p[2], a.p[3]); }}},
   {'A', {1, [](const Args &a) { Inst_SetupCALogging(a.p[0]); }}},
   {'X', {0, [](const Args &) { Inst_EndLogging(); }}},
   {'L', {2, [](const Args &a) { Inst_Log(a.n[0], "%s", a.p[1]); }}},
   {'C', {1, [](const Args &a) { Inst_LogCA("%s", a.p[0]); }}},
   {'W', {3, [](const Args &a) { Inst_LogWinError(a.n[0], a.n[1], "%s", a.p[2]); }}},
   {'E', {3, [](const Args &a) { Inst_LogLastError(a.n[0], a.n[1], "%s", a.p[2]); }}},
   {'N', {3, [](const Args &a) { Inst_LogErrno(a.n[0], int(a.n[1]), "%s", a.p[2]); }}},
   {'R', {3, [](const Args &a) { Inst_LogLastErrno(a.n[0], int(a.n[1]), "%s", a.p[2]); }}},
   {'T', {1, [](const Args &a) { Inst_LogCA("%S", Inst_ErrorCodeText(a.n[0]).c_str()); }}},
   {'v', {1, [](const Args &a) {
       const LONG rc = a.s[0] == "nokey" ? RegDeleteKeyExA(kLm, kLevelKey, KEY_WOW64_64KEY, 0)
                       : a.s[0] == "none" ? RegDeleteKeyValueA(kLm, kLevelKey, "LogLevel")
                       : a.s[0] == "sz"   ? RegSetKeyValueA(kLm, kLevelKey, "LogLevel", REG_SZ, "2047", 5)
                                          : RegSetKeyValueA(kLm, kLevelKey, "LogLevel", REG_DWORD, &a.n[0], 4);
       Check(rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND, "cannot set the level", a.s[0]);
    }}},
   {'h', {1, [](const Args &a) {
       const LONG rc = a.n[0] != 0 ? RegSetKeyValueA(kLm, kHostKey, nullptr, REG_SZ, "", 1)
                                   : RegDeleteKeyExA(kLm, kHostKey, KEY_WOW64_64KEY, 0);
       Check(rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND, "cannot change the host key", a.s[0]);
    }}},
   {'t', {0, [](const Args &) { gHost.present = !gHost.present; }}},
   {'m', {1, [](const Args &a) { Check(CreateDirectoryA(a.p[0], nullptr), "cannot create", a.s[0]); }}},
   {'d', {1, [](const Args &a) { Check(RemoveDirectoryA(a.p[0]), "cannot remove", a.s[0]); }}},
   {'o', {2, [](const Args &a) {
       const std::string probe = a.s[0] + ".probe";
       const bool closed = MoveFileA(a.p[0], probe.c_str()) && MoveFileA(probe.c_str(), a.p[0]);
       Check(closed == (a.n[1] == 0), "wrong open state of", a.s[0]);
    }}},
};

std::string Utf8(const wchar_t *w)
{
   std::string s(wcslen(w) * 3 + 1, '\0');
   s.resize(WideCharToMultiByte(CP_UTF8, 0, w, -1, &s[0], int(s.size()), nullptr, nullptr));
   return s.c_str();
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
   Check(argc > 1 && SetCurrentDirectoryW(argv[1]) && SetEnvironmentVariableW(L"TMP", argv[1]) &&
            SetEnvironmentVariableW(L"TEMP", argv[1]),
         "cannot enter the folder", "");
   gHost.present = false;
   for (int i = 2; i < argc;) {
      const std::string name = Utf8(argv[i++]);
      const auto op = kOps.find(name[0]);
      Check(op != kOps.end() && name.size() == 1, "unknown operation", name);
      Args a = {};
      for (int k = 0; k < op->second.first; k++, i++) {
         Check(i < argc, "missing argument for", name);
         a.s[k] = Utf8(argv[i]);
         a.p[k] = a.s[k] == "-" ? nullptr : a.s[k].c_str();
         a.n[k] = static_cast<uint32_t>(wcstoll(argv[i], nullptr, 0));
      }
      errno = ERANGE;
      SetLastError(0x1234);
      op->second.second(a);
      Check(islower(name[0]) || (errno == ERANGE && GetLastError() == 0x1234), "errno or last error changed by", name);
   }
   FILE *out = gHost.requests.empty() ? nullptr : fopen("host.txt", "w");
   for (const std::string &request : gHost.requests) {
      fprintf(out, "%s\n", request.c_str());
   }
   return out != nullptr ? fclose(out) : 0;
}
