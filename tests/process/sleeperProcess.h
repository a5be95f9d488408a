// A copy of ov_sleeper, started by a test under the executable name a case
// needs, ended and waited for when the owner goes.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>

namespace processtest {

// A file of the build tree (a Unix path) as Wine reaches it.
inline std::wstring BuiltFile(const std::wstring &unixPath)
{
   std::wstring host = L"\\\\?\\unix" + unixPath;
   std::replace(host.begin(), host.end(), L'/', L'\\');
   return host;
}

class Sleeper {
public:
   // `path` is where the copy goes; `tail` stands on the command line after
   // the wait and the exit code.
   Sleeper(const std::wstring &sleeperExe, const std::wstring &path, const std::wstring &tail = L"")
   {
      CopyFileW(BuiltFile(sleeperExe).c_str(), path.c_str(), FALSE);
      commandLine_ = L"\"" + path + L"\" 60000 0" + tail;
      std::wstring line = commandLine_;
      STARTUPINFOW si = {};
      si.cb = sizeof si;
      started_ = CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                                nullptr, &si, &pi_) != FALSE;
      if (started_) {
         CloseHandle(pi_.hThread);
      }
   }
   ~Sleeper()
   {
      if (started_) {
         TerminateProcess(pi_.hProcess, 1);
         WaitForSingleObject(pi_.hProcess, 5000);
         CloseHandle(pi_.hProcess);
      }
   }
   Sleeper(const Sleeper &) = delete;
   Sleeper &operator=(const Sleeper &) = delete;

   bool Started() const { return started_; }
   DWORD Pid() const { return pi_.dwProcessId; }
   bool Running() const { return WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT; }
   bool EndsWithin(DWORD ms) const { return WaitForSingleObject(pi_.hProcess, ms) == WAIT_OBJECT_0; }
   const std::wstring &CommandLine() const { return commandLine_; }

private:
   bool started_ = false;
   std::wstring commandLine_;
   PROCESS_INFORMATION pi_ = {};
};

}  // namespace processtest
