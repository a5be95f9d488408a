// A process that holds a file open without delete sharing, for the tests
// of deleting files in use: file_holder (tests/win/files/fileHolder.cpp),
// started from its host path or from a copy.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

namespace fileholder {

inline std::wstring HolderExe()
{
   std::wstring exe = L"\\\\?\\unix" + std::filesystem::u8path(OV_FILE_HOLDER_EXE).wstring();
   std::replace(exe.begin(), exe.end(), L'/', L'\\');
   return exe;
}

// Another process (`exe`, a copy of file_holder) holding `path` open
// without delete sharing.
class Holder {
public:
   Holder(const std::wstring &exe, const std::wstring &path)
   {
      std::wstring command = L"\"" + exe + L"\" \"" + path + L"\"";
      STARTUPINFOW si = {};
      si.cb = sizeof si;
      EXPECT_TRUE(CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_));
      for (int i = 0; i < 600 && pi_.hProcess != nullptr && !Held(path); i++) {
         Sleep(50);
      }
      EXPECT_TRUE(Held(path));
   }
   ~Holder()
   {
      if (pi_.hProcess != nullptr) {
         TerminateProcess(pi_.hProcess, 0);
         WaitForSingleObject(pi_.hProcess, 5000);
         CloseHandle(pi_.hThread);
         CloseHandle(pi_.hProcess);
      }
   }

private:
   static bool Held(const std::wstring &path)
   {
      HANDLE h = CreateFileW(path.c_str(), DELETE, 7, nullptr, OPEN_EXISTING, 0, nullptr);
      const DWORD err = GetLastError();
      if (h != INVALID_HANDLE_VALUE) {
         CloseHandle(h);
      }
      return h == INVALID_HANDLE_VALUE && err == ERROR_SHARING_VIOLATION;
   }
   PROCESS_INFORMATION pi_ = {};
};

}  // namespace fileholder
