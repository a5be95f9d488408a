// A real installer session for the tests of the session layer and the custom
// actions: a small package built from SQL in a scratch folder and opened with
// MsiOpenPackage, capture of the messages posted to it, the built DLL loaded
// by its path, and the lines the log wrote meanwhile.
//
// Nothing here needs GoogleTest; faults of the fixture itself go to the sink
// set with MsiTest_SetFailureSink (the test program's is ADD_FAILURE).
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>
#include <vector>

namespace msitest {

void SetFailureSink(void (*sink)(const std::string &what));

std::wstring Wide(const std::string &utf8);
std::string Utf8(const std::wstring &wide);

// Once per process, before any log line: points TMP and TEMP at a fresh
// folder under the temp folder (so this process's and the DLL's log land
// there), removes the log level value and opens this process's log session.
// ProcessTearDown ends the session and removes the folder.
void ProcessSetUp();
void ProcessTearDown();
// The per-process folder, with a trailing backslash.
const std::wstring &ProcessFolder();

// A folder under ProcessFolder(), removed with its contents when it goes.
class ScratchDir {
public:
   ScratchDir();
   ~ScratchDir();
   ScratchDir(const ScratchDir &) = delete;
   ScratchDir &operator=(const ScratchDir &) = delete;
   const std::wstring &Path() const { return path_; }

private:
   std::wstring path_;
};

// The Error-table rows of every package: number and template.
struct ErrorRow {
   int number;
   const char *text;
};
extern const ErrorRow kErrorRows[];
extern const size_t kErrorRowCount;

// A package with Property, Directory (TARGETDIR = the scratch folder's
// "target", INSTALLDIR = TARGETDIR\Orvane) and Error tables, opened as the
// installation with no user interface, costed so that directory properties
// resolve.
class MsiSession {
public:
   MsiSession();
   ~MsiSession();
   MsiSession(const MsiSession &) = delete;
   MsiSession &operator=(const MsiSession &) = delete;

   // False with the reason in Failure() when the package could not be made.
   bool Ok() const { return handle_ != 0; }
   const std::string &Failure() const { return failure_; }
   MSIHANDLE Handle() const { return handle_; }
   // What INSTALLDIR resolves to, with its trailing backslash.
   std::string InstallDir() const;

   std::string Get(const char *name) const;
   UINT Set(const char *name, const char *value) const;

private:
   bool Build(const std::wstring &file);

   ScratchDir scratch_;
   std::string failure_;
   INSTALLUILEVEL previousUi_;
   MSIHANDLE handle_ = 0;
};

// One field of a posted record as the installer hands it to the handler.
struct RecordField {
   bool isNull;
   int integer;         // MSI_NULL_INTEGER unless the field reads as one
   unsigned dataSize;   // 4 for an integer field, the length for a string
   std::string text;
};

struct PostedMessage {
   UINT type;
   std::vector<RecordField> fields;   // fields[0] is field 0
   std::string formatted;             // the record formatted without a handle
};

// Registers a record handler for error, warning and info messages while it
// lives; it answers every message with Button().
class MessageCapture {
public:
   explicit MessageCapture(int button = IDOK);
   ~MessageCapture();
   MessageCapture(const MessageCapture &) = delete;
   MessageCapture &operator=(const MessageCapture &) = delete;

   void SetButton(int button) { button_ = button; }
   const std::vector<PostedMessage> &Messages() const { return messages_; }
   void Clear() { messages_.clear(); }

private:
   static int WINAPI Handler(void *context, UINT type, MSIHANDLE record);

   int button_;
   std::vector<PostedMessage> messages_;
   INSTALLUI_HANDLER_RECORD previous_ = nullptr;
};

// The built ovinstutil.dll, copied into the process folder and loaded while
// this lives, so each owner starts with the DLL's log state fresh.
class LoadedDll {
public:
   LoadedDll();
   ~LoadedDll();
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
   std::string tag;
   std::string level;
   std::string text;
};

// Marks the end of the log now; Lines() are those written after the mark.
// A line that lacks the shape or its CR LF is reported to the sink.
class LogMark {
public:
   LogMark();
   std::vector<LogLine> Lines() const;
   // The texts of the lines after the mark whose tag is `tag`.
   std::vector<std::string> Texts(const std::string &tag) const;

private:
   unsigned long long offset_;
};

// The tags of this process's lines and of the custom actions' lines.
std::string TestTag();
std::string CustomActionTag();

}  // namespace msitest
