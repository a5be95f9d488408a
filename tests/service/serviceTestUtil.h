// What the service and driver tests share: the project's test service and
// drivers copied onto drive C (the SCM cannot start programs by their host
// path), services named after the test process and removed afterwards, and
// transcripts compared with '*' standing for the rest of a line.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace servicetest {

using Lines = std::vector<std::string>;

// A copy of a program built in the host tree at `dest` (created folders
// included); the destination path.
inline std::wstring CopyIn(const char *hostPath, const std::wstring &dest)
{
   std::wstring host = L"\\\\?\\unix";
   for (const char *p = hostPath; *p != '\0'; p++) {
      host += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
   }
   CreateDirectoryW(dest.substr(0, dest.rfind(L'\\')).c_str(), nullptr);
   EXPECT_TRUE(CopyFileW(host.c_str(), dest.c_str(), FALSE)) << "copy of " << hostPath;
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

// Removes the named service when the test ends, stopping it first.
class ServiceGuard {
public:
   explicit ServiceGuard(std::string name) : name_(std::move(name)) {}
   ~ServiceGuard()
   {
      SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
      SC_HANDLE service = OpenServiceA(scm, name_.c_str(), SERVICE_ALL_ACCESS);
      SERVICE_STATUS status = {};
      if (service != nullptr) {
         ControlService(service, SERVICE_CONTROL_STOP, &status);
         DeleteService(service);
         CloseServiceHandle(service);
      }
      CloseServiceHandle(scm);
   }
   ServiceGuard(const ServiceGuard &) = delete;
   ServiceGuard &operator=(const ServiceGuard &) = delete;
   const std::string &name() const { return name_; }

private:
   std::string name_;
};

// Lines equal, or equal up to a '*' that ends the expected line.
inline void ExpectTranscript(const Lines &want, Lines got)
{
   for (size_t i = 0; i < want.size() && i < got.size(); i++) {
      const std::string &w = want[i];
      if (!w.empty() && w.back() == '*' && got[i].compare(0, w.size() - 1, w, 0, w.size() - 1) == 0) {
         got[i] = w;
      }
   }
   EXPECT_EQ(want, got);
}

}  // namespace servicetest
