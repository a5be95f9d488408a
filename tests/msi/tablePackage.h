// An installer session on a package built from SQL for one test: the
// msiSession package's Property and Error rows, one feature with the
// components the test names, and whatever custom tables the test adds;
// opened with no user interface and costed, so that component states work.
#pragma once

#include <windows.h>
#include <msi.h>

#include <string>
#include <vector>

namespace msitest {

// One statement and its string parameters ('?' markers, in order).
struct Sql {
   std::string text;
   std::vector<std::string> params;
};

class TablePackage {
public:
   // `components` get a registry key path each (no files); `extra` runs
   // after the standard tables are made.
   TablePackage(const std::vector<std::string> &components, const std::vector<Sql> &extra);
   ~TablePackage();
   TablePackage(const TablePackage &) = delete;
   TablePackage &operator=(const TablePackage &) = delete;

   bool Ok() const { return failure_.empty(); }
   const std::string &Failure() const { return failure_; }
   MSIHANDLE Handle() const { return handle_; }
   // The component's action state; false when the installer refused.
   bool SetAction(const std::string &component, INSTALLSTATE state) const;

private:
   std::wstring file_;
   std::string failure_;
   INSTALLUILEVEL previousUi_;
   MSIHANDLE handle_ = 0;
};

// The installer's error and warning messages of this process while it
// lives, as "<kind> <text>" (kind "error" or "warning"), through an external
// user-interface handler that answers OK.
class MessageRecorder {
public:
   MessageRecorder();
   ~MessageRecorder();
   MessageRecorder(const MessageRecorder &) = delete;
   MessageRecorder &operator=(const MessageRecorder &) = delete;
   const std::vector<std::string> &Messages() const;

private:
   INSTALLUI_HANDLERW previous_;
};

}  // namespace msitest
