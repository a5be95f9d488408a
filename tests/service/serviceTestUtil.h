// What the process, service and driver tests share: copies of ov_sleeper
// started under the names a case needs, the project's test service and
// drivers copied onto drive C (the SCM cannot start programs by their host
// path), and services named after the test run and removed afterwards.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace servicetest {

using Lines = std::vector<std::string>;

// A file of the build tree (a Unix path) as Wine reaches it.
inline std::wstring BuiltFile(const std::string &unixPath)
{
   std::wstring host = L"\\\\?\\unix" + std::wstring(unixPath.begin(), unixPath.end());
   std::replace(host.begin(), host.end(), L'/', L'\\');
   return host;
}

// A copy of ov_sleeper at `path`, started with `tail` on its command line
// after the wait and the exit code; ended and waited for when it goes.
struct Sleeper {
   explicit Sleeper(const std::wstring &path, const std::wstring &tail = L"")
   {
      std::wstring line = L"\"" + path + L"\" 60000 0" + tail;
      STARTUPINFOW si = {};
      si.cb = sizeof si;
      EXPECT_TRUE(CopyFileW(BuiltFile(OV_SLEEPER_EXE).c_str(), path.c_str(), FALSE) &&
                  CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &si, &pi) &&
                  CloseHandle(pi.hThread))
         << line;
   }
   ~Sleeper()
   {
      TerminateProcess(pi.hProcess, 1);
      WaitForSingleObject(pi.hProcess, 5000);
      CloseHandle(pi.hProcess);
   }
   bool EndsWithin(DWORD ms) const { return WaitForSingleObject(pi.hProcess, ms) == WAIT_OBJECT_0; }

   PROCESS_INFORMATION pi = {};
};

// A copy of a file of the build tree at `dest`, its folder made; the
// destination.
inline std::wstring CopyIn(const char *hostPath, const std::wstring &dest)
{
   CreateDirectoryW(dest.substr(0, dest.rfind(L'\\')).c_str(), nullptr);
   EXPECT_TRUE(CopyFileW(BuiltFile(hostPath).c_str(), dest.c_str(), FALSE)) << hostPath;
   return dest;
}

// Unique per run: a driver left marked for deletion by an earlier run
// keeps its name (and display name) until the prefix restarts.
inline std::string Name(const char *suffix)
{
   static const std::string run = std::to_string(GetCurrentProcessId()) + "x" + std::to_string(GetTickCount() % 100000);
   return "OvTest" + run + suffix;
}

// The state of a service after `control` (0: none) was sent to it, or 0
// when it cannot be opened or the control fails.
inline DWORD State(const std::string &name, DWORD control = 0)
{
   SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
   SC_HANDLE service = OpenServiceA(scm, name.c_str(), SERVICE_ALL_ACCESS);
   SERVICE_STATUS status = {};
   const BOOL ok = control != 0 ? ControlService(service, control, &status) : QueryServiceStatus(service, &status);
   service != nullptr && CloseServiceHandle(service);
   CloseServiceHandle(scm);
   return service != nullptr && ok ? status.dwCurrentState : 0;
}

// Whether the service reaches `state` within `ms`.
inline bool Await(const std::string &name, DWORD state, DWORD ms = 10000)
{
   for (DWORD waited = 0; State(name) != state && waited < ms; waited += 100) {
      Sleep(100);
   }
   return State(name) == state;
}

// Removes the named service when the test ends, stopping it first.
struct ServiceGuard {
   ~ServiceGuard()
   {
      SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
      SC_HANDLE service = OpenServiceA(scm, name.c_str(), SERVICE_ALL_ACCESS);
      SERVICE_STATUS status = {};
      if (service != nullptr) {
         ControlService(service, SERVICE_CONTROL_STOP, &status);
         DeleteService(service);
         CloseServiceHandle(service);
      }
      CloseServiceHandle(scm);
   }
   const std::string name;
};

inline size_t Count(const Lines &lines, const std::string &line)
{
   return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

}  // namespace servicetest
