// ovpkgcheck: checks an installer package against what the custom actions
// of ovinstutil.dll ask of it, one line per finding, as the installer's
// validation tools report.
//
//   ovpkgcheck PACKAGE.msi [--dll ovinstutil.dll]
//
// Exit code: 0 no errors (warnings allowed), 1 errors found, 2 the package
// or the DLL could not be read, or the command line is wrong.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "pkgcheck/msiPackageReader.h"
#include "pkgcheck/package.h"
#include "pkgcheck/peExports.h"

int wmain(int argc, wchar_t **argv)
{
   std::wstring package, dll;
   for (int i = 1; i < argc; i++) {
      const std::wstring arg = argv[i];
      if (arg == L"--dll" && i + 1 < argc) {
         dll = argv[++i];
      } else if (package.empty() && arg.compare(0, 2, L"--") != 0) {
         package = arg;
      } else {
         package.clear();
         break;
      }
   }
   if (package.empty()) {
      std::fprintf(stderr, "usage: ovpkgcheck PACKAGE.msi [--dll ovinstutil.dll]\n");
      return 2;
   }
   pkgcheck::Package p;
   std::string error;
   if (!pkgcheck::ReadPackage(package, p, error)) {
      std::fprintf(stderr, "ovpkgcheck: %s\n", error.c_str());
      return 2;
   }
   if (!dll.empty()) {
      std::ifstream in(dll.c_str(), std::ios::binary);
      const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      if (!in || !pkgcheck::ReadExportNames(bytes, p.dllExports)) {
         std::fprintf(stderr, "ovpkgcheck: cannot read the exports of the DLL\n");
         return 2;
      }
      const size_t slash = dll.find_last_of(L"\\/");
      const std::wstring base = slash == std::wstring::npos ? dll : dll.substr(slash + 1);
      const int n = WideCharToMultiByte(CP_UTF8, 0, base.c_str(), -1, nullptr, 0, nullptr, nullptr);
      p.dllName.resize(n > 0 ? n : 1);
      WideCharToMultiByte(CP_UTF8, 0, base.c_str(), -1, &p.dllName[0], n, nullptr, nullptr);
      p.dllName.resize(p.dllName.size() - 1);
   }
   int errors = 0, warnings = 0;
   for (const pkgcheck::Finding &f : pkgcheck::Check(p)) {
      std::printf("%s\n", pkgcheck::Format(f).c_str());
      (f.level == pkgcheck::Level::Error ? errors : warnings)++;
   }
   std::printf("%d error%s, %d warning%s\n", errors, errors == 1 ? "" : "s", warnings, warnings == 1 ? "" : "s");
   return errors > 0 ? 1 : 0;
}
