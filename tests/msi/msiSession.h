// A real installer session for the msi tests: a small package opened with
// MsiOpenPackage, the built DLL loaded by its path, and the log lines written
// meanwhile. Fixture faults go to the failure sink (ADD_FAILURE unless set).
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <filesystem>
#include <string>
#include <vector>

namespace msitest {

void SetFailureSink(void (*sink)(const std::string &what));
inline std::wstring Wide(const std::string &utf8) { return std::filesystem::u8path(utf8).wstring(); }
inline std::string Utf8(const std::wstring &wide) { return std::filesystem::path(wide).u8string(); }

// Once per process, before any log line: points TMP and TEMP at a fresh
// folder (so this process's and the DLL's log land there), removes the log
// level value and opens this process's log session. ProcessTearDown ends the
// session and removes the folder.
void ProcessSetUp();
void ProcessTearDown();
const std::wstring &ProcessFolder();   // with a trailing backslash

using Statement = std::vector<std::string>;   // SQL and its '?' parameters

// A package with Property, Directory (INSTALLDIR = TARGETDIR\Orvane), Error
// (25001 plain, 25002 "Number [2], text [3].", 25003 plain warning) and the
// feature Main of components CompOn and CompOff, plus the `extra` statements
// (custom tables, rows), in the process folder, opened with no user
// interface and costed so that directory properties and component states
// resolve.
class MsiSession {
public:
   explicit MsiSession(const std::vector<Statement> &extra = {});
   ~MsiSession();
   MsiSession(const MsiSession &) = delete;
   MsiSession &operator=(const MsiSession &) = delete;

   bool Ok() const { return failure_.empty(); }   // if not, the reason is in Failure()
   const std::string &Failure() const { return failure_; }
   MSIHANDLE Handle() const { return handle_; }
   std::string Get(const char *name) const;
   UINT Set(const char *n, const char *v) const { return MsiSetPropertyW(handle_, Wide(n).c_str(), Wide(v).c_str()); }
   // The component's action state, as MsiSetComponentState.
   UINT SetAction(const char *c, INSTALLSTATE s) const { return MsiSetComponentStateW(handle_, Wide(c).c_str(), s); }

private:
   std::wstring file_;
   std::string failure_;
   INSTALLUILEVEL previousUi_;
   MSIHANDLE handle_ = 0;
};

// The built ovinstutil.dll, copied into the process folder and loaded while
// this lives, so each owner starts with the DLL's log state fresh.
class LoadedDll {
public:
   LoadedDll();
   ~LoadedDll() { FreeLibrary(module_); }
   LoadedDll(const LoadedDll &) = delete;
   LoadedDll &operator=(const LoadedDll &) = delete;

   HMODULE Module() const { return module_; }
   // Calls the named export; a missing one is reported and gives ~0u.
   UINT Call(const char *exportName, MSIHANDLE install) const;

private:
   HMODULE module_ = nullptr;
};

// One line of ovinst.log: "<time>| <tag>| <LL>: <text>" and its CR LF.
struct LogLine {
   std::string tag, level, text;
};

// Lines() are the log lines written after the mark; one that lacks the shape
// or its CR LF is reported to the sink.
class LogMark {
public:
   LogMark();
   std::vector<LogLine> Lines() const;
   // The same lines as "LL text" (level letters, blank, text), with the
   // system's text of an error code left out ("...| winerror code 2"): the
   // form in which tests write the transcript a scenario must leave.
   std::vector<std::string> Transcript() const;

private:
   unsigned long long offset_ = 0;
};

// The tags of this process's lines and of the custom actions' lines.
inline std::string TestTag() { return "inst-build-" + std::to_string(OV_BUILD_NUMBER); }
inline std::string CustomActionTag() { return "setupKit-build-" + std::to_string(OV_BUILD_NUMBER); }

}  // namespace msitest
