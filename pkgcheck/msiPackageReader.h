// Reads what the checker needs out of a package, through the installer's
// own database functions (msi.dll).
#pragma once

#include <string>

#include "pkgcheck/package.h"

namespace pkgcheck {

// False, with the reason, when the package cannot be opened or a table it
// has cannot be read.
bool ReadPackage(const std::wstring &path, Package &out, std::string &error);

}  // namespace pkgcheck
