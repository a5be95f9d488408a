// The text work of the file and install-location custom actions, free of
// Windows so that it is tested and fuzzed natively: the list of the
// delete action's CustomActionData, the lines of a property file beside the
// package, the size a package asks for, and the install-directory checks
// that need no system call.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/msiUtilText.h"

// Whether the bytes are valid UTF-8, the only text the installer's wide
// functions can be given.
bool Util_IsUtf8(const std::string &text);

// Remove the leading, respectively trailing, blanks (space, tab, CR, LF,
// vertical tab, form feed) in place; return the string.
std::string &Util_TrimLeft(std::string &s);
std::string &Util_TrimRight(std::string &s);

// One entry of the delete action's list "type;path;type;path...".
enum class DeleteKind { File, Folder, Unknown };
struct DeleteEntry {
   DeleteKind kind;
   WideString type;
   WideString path;
};

// The pairs of `data` in order. The list ends at the first empty type or
// path; an entry of an unknown type ("File" is one: types are compared
// exactly) is the last one returned, since the action stops there.
std::vector<DeleteEntry> Util_ParseDeleteList(const WideString &data);

// The property file of a package: every ".msi" in the package's path
// replaced by ".txt", left to right (the upper-case form is not replaced).
std::string Util_PropertyFilePath(const std::string &packagePath);

struct PropertyAssignment {
   std::string name;
   std::string value;   // empty: the property is removed
};

// The assignments of a property file's contents (LF-separated lines; CR
// trimmed as a blank): comments (';' first) and empty lines skipped, each
// other line split at its first '=' and both sides trimmed, a line without
// '=' a name with the empty value. Lines with an empty name are left out.
std::vector<PropertyAssignment> Util_ParsePropertyFile(const std::string &contents);

// REQUIRED_SPACE: every ',' removed, then a signed decimal number (leading
// blanks and a sign allowed, digits up to the first other character,
// clamped to the 64-bit range); 0 when there is no number.
int64_t Util_ParseRequiredSpace(std::string text);

// Results of Util_ValidateInstallDir.
enum InstallDirCheck : int {
   INSTALLDIR_VALID = 0,
   INSTALLDIR_EMPTY = 1,
   INSTALLDIR_REMOTE = 3,
   INSTALLDIR_SEMICOLON = 4,
   INSTALLDIR_TOO_LONG = 5,
   INSTALLDIR_NOT_WRITABLE = 6,
};

// Longest install path accepted, in bytes of UTF-8.
constexpr size_t INSTALLDIR_MAX_LENGTH = 259;

// The checks of an install path before its writability, the first failing
// one deciding. `isRemoteDrive` is asked (only when network paths are not
// allowed) whether the two-character root "X:" is a remote drive.
int Util_CheckInstallDirText(const std::string &path, bool allowNetwork,
                             const std::function<bool(const std::string &root)> &isRemoteDrive);
