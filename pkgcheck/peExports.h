// The names a Windows DLL exports, read from the file's bytes, so that the
// checker can read the DLL stored in a package's Binary table on any system.
#pragma once

#include <set>
#include <string>

namespace pkgcheck {

// False when the bytes are not a DLL with an export table that can be read
// within them; `names` then holds nothing.
bool ReadExportNames(const std::string &image, std::set<std::string> &names);

}  // namespace pkgcheck
