// A DLL linked the default way, with the MinGW C++ runtime as DLLs. It only
// exists so the dll_imports_rejects_runtime test can show that the import
// check catches such a dependency.
#include <string>

extern "C" __attribute__((dllexport)) int RuntimeProbe(const char *text)
{
   return static_cast<int>(std::string(text != nullptr ? text : "").size());
}
