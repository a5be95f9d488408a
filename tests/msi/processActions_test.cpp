// The process, registration, stop-services, application-search, service and
// driver actions through the built DLL in real installer sessions, against
// Wine's SCM and copies of ov_sleeper, the COM server DLLs, the project's
// driver and test service, and the recording Rstrtmgr.dll. The DLL's import
// slots stand in for what Wine cannot produce or drops: the Windows
// version, refused calls, the tag the SCM would assign, a lock held
// elsewhere, the dependents it reports, the failure actions handed to it,
// and the messages posted.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/msiUtil.h"
#include "tests/msi/msiSession.h"
#include "tests/service/serviceTestUtil.h"
#include "tests/win/expectLines.h"
#include "tests/win/importSlot.h"

using namespace msitest;
using namespace servicetest;
using testutil::ExpectTranscript;

namespace {

const std::wstring kDrivers = L"C:\\windows\\system32\\drivers\\", kServices = L"SYSTEM\\CurrentControlSet\\services\\";
const std::wstring kGroupList = L"SYSTEM\\CurrentControlSet\\Control\\GroupOrderList";
const std::wstring kReboot = L"SOFTWARE\\Orvane, Inc.\\NeedReboot";
const char kLoaded[] = "I1 Util_LoadLibrary: Loaded library Kernel32.dll(*", kFreed[] = "I1 Util_FreeLibrary: Freeing library: *";

// GetVersionExA as the Windows of gVersion reports it (major, minor, build,
// service pack).
DWORD gVersion[4];
BOOL WINAPI PretendVersion(OSVERSIONINFOA *info)
{
   OSVERSIONINFOEXA ex = {info->dwOSVersionInfoSize, gVersion[0], gVersion[1], gVersion[2], VER_PLATFORM_WIN32_NT, {},
                          WORD(gVersion[3]), 0, 0, VER_NT_WORKSTATION, 0};
   memcpy(info, &ex, info->dwOSVersionInfoSize);
   return TRUE;
}

// `lines` between an action's own first and last lines.
Lines Framed(const char *first, Lines lines, const char *last = nullptr)
{
   lines.insert(lines.begin(), std::string("I0 ") + first);
   last != nullptr ? lines.push_back(std::string("I0 ") + last) : void();
   return lines;
}

// Wine lets every process read every other.
DWORD gRefusedPid = 0;
HANDLE WINAPI RefusingOpenProcess(DWORD access, BOOL inherit, DWORD pid)
{
   return pid == gRefusedPid ? (SetLastError(ERROR_ACCESS_DENIED), nullptr) : OpenProcess(access, inherit, pid);
}

// A registry value as its bytes, two to a character, without the last NUL
// of a string; empty when missing.
std::wstring Value(const std::wstring &key, const std::wstring &name, HKEY root = HKEY_LOCAL_MACHINE)
{
   std::wstring data(256, L'\0');
   DWORD type = 0, bytes = 512;
   if (RegGetValueW(root, key.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type, &data[0],
                    &bytes) != ERROR_SUCCESS) {
      return L"";
   }
   data.resize(bytes / 2 - (type == REG_SZ || type == REG_MULTI_SZ ? 1 : 0));
   return data;
}
std::wstring Words(std::initializer_list<DWORD> words)
{
   return std::wstring(reinterpret_cast<const wchar_t *>(words.begin()), words.size() * 2);
}

// What the last action handed on: the message it posted, or the failure
// actions it gave the SCM.
std::string gEffect;
int WINAPI RecordMessage(MSIHANDLE, INSTALLMESSAGE type, MSIHANDLE record)
{
   char name[256] = "";
   DWORD size = sizeof name;
   MsiRecordGetStringA(record, 2, name, &size);
   gEffect = std::to_string(type) + " " + std::to_string(MsiRecordGetInteger(record, 1)) + " " + name;
   return 0;
}

// Every refused call gives 0 (FALSE or null) with gRefusal as last error.
DWORD gRefusal = ERROR_ACCESS_DENIED;
INT_PTR WINAPI Refused(...)
{
   SetLastError(gRefusal);
   return 0;
}

BOOL WINAPI RecordFailureActions(SC_HANDLE, DWORD level, SERVICE_FAILURE_ACTIONSW *f)
{
   gEffect = std::to_string(level) + " " + std::to_string(f->dwResetPeriod) + " " + Utf8(f->lpRebootMsg ? f->lpRebootMsg : L"-") +
             " " + Utf8(f->lpCommand ? f->lpCommand : L"-");
   for (DWORD i = 0; i < f->cActions; i++) {
      gEffect += " " + std::to_string(f->lpsaActions[i].Type) + ":" + std::to_string(f->lpsaActions[i].Delay);
   }
   return gRefusal == 0 || BOOL(Refused());
}

SC_HANDLE WINAPI TagAssigning(SC_HANDLE scm, LPCWSTR name, LPCWSTR display, DWORD access, DWORD type, DWORD start,
                              DWORD error, LPCWSTR path, LPCWSTR group, DWORD *tag, LPCWSTR deps, LPCWSTR user,
                              LPCWSTR password)
{
   if (tag != nullptr) {
      *tag = 0x41;   // Wine writes a non-zero input as the "Tag" value
   }
   return CreateServiceW(scm, name, display, access, type, start, error, path, group, tag, deps, user, password);
}

BOOL WINAPI LockHeld(SC_HANDLE, QUERY_SERVICE_LOCK_STATUSA *status, DWORD size, DWORD *)
{
   *status = {TRUE, strcpy(reinterpret_cast<char *>(status + 1), "OtherInstaller"), 12};
   return size >= 280;
}

std::string gDependent;
BOOL WINAPI OneDependent(SC_HANDLE, DWORD, ENUM_SERVICE_STATUSA *buffer, DWORD size, DWORD *needed, DWORD *count)
{
   *needed = sizeof *buffer + 64;
   *count = 1;
   return size < *needed ? (SetLastError(ERROR_MORE_DATA), FALSE)
                         : (buffer->lpServiceName = strcpy(reinterpret_cast<char *>(buffer + 1), gDependent.c_str()), TRUE);
}

class Actions : public testing::Test {
protected:
   void SetUp() override
   {
      ASSERT_TRUE(session.Ok()) << session.Failure();
      ASSERT_TRUE(messages.Valid() && version.Valid());
      messages.Point(&RecordMessage);
   }
   // The export's transcript, its result checked. The session's own lines
   // and those of the property and reboot-list helpers are left out: the
   // properties and the list are checked themselves.
   Lines Run(const char *exportName, const std::string &data = "", UINT rc = 0)
   {
      gEffect.clear();
      RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kReboot.c_str(), L"Components");
      EXPECT_EQ(0u, session.Set("CustomActionData", data.c_str()));
      LogMark mark;
      EXPECT_EQ(rc, dll.Call(exportName, session.Handle())) << data;
      Lines lines;
      for (const std::string &line : mark.Transcript()) {
         const std::string text = line.substr(3);
         if (line.rfind("XX ", 0) != 0 && text.rfind("MsiUtil_", 0) != 0 && text.rfind("Util_SetReboot", 0) != 0 &&
             text.rfind("Util_GetKeyValue", 0) != 0) {
            lines.push_back(line);
         }
      }
      return lines;
   }
   // The lines that hold `part`; the action's own ones by default.
   static Lines With(const Lines &lines, const std::string &part = "I0 ")
   {
      Lines with;
      for (const std::string &line : lines) {
         line.find(part) != std::string::npos ? with.push_back(line) : void();
      }
      return with;
   }
   testutil::ImportSlot Slot(const char *function) { return {dll.Module(), "advapi32.dll", function}; }

   LoadedDll dll;
   MsiSession session;
   testutil::ImportSlot messages{dll.Module(), "msi.dll", "MsiProcessMessage"};
   testutil::ImportSlot version{dll.Module(), "kernel32.dll", "GetVersionExA"};
};

TEST_F(Actions, AppTerminateEndsTheFirstProgramThatHoldsTheWholeValue)
{
   Sleeper first(ProcessFolder() + L"ovapp-a.exe"), second(ProcessFolder() + L"ovapp-b.exe");
   const std::string a = std::to_string(first.pi.dwProcessId);
   const struct { const char *property, *data; bool firstEnds; Lines lines; } cases[] = {
      {"ovapp-a.exe;ovapp-b.exe", "VAPP-", false,
       {kLoaded, kFreed, "I1 Util_AppTerminate: ovapp-a.exe;ovapp-b.exe *NOT* found in memory."}},
      {"", "", false, {"I0 Failed to get OV_AppTerminate or CustomActionData property."}},
      {"", "VAPP-", true,
       {kLoaded, "I1 Util_IsInMemory: Process found ovapp-a.exe with ID " + a, kFreed,
        "I1 Util_AppTerminate: VAPP- with pid " + a + " found in memory!", "I1 Util_AppTerminate: Process terminated: VAPP-"}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(std::string(c.property) + "|" + c.data);
      EXPECT_EQ(0u, session.Set("OV_AppTerminate", c.property));
      ExpectTranscript(Framed("OVAppTerminate running", c.lines, "OVAppTerminate ended"), Run("OVAppTerminate", c.data));
      EXPECT_EQ(c.firstEnds, first.EndsWithin(c.firstEnds ? 5000 : 0));
      EXPECT_FALSE(second.EndsWithin(0)) << "only the first match ends";
   }
}

TEST_F(Actions, DetectRunningVMReadsTheMachinePathOnEachCommandLine)
{
   const std::wstring at = ProcessFolder();
   Sleeper a(at + L"orvane-ovx.exe", L" \"C:\\VMs\\Alpha\\Alpha.ovx\""), b(at + L"Orvane-OVX-b.exe", L" C:\\VMs\\Beta\\Beta.ovx"),
      other(at + L"vm-orvane-ovx.exe", L" C:\\VMs\\Gamma\\Gamma.ovx");   // not a prefix match: never read
   testutil::ImportSlot open(dll.Module(), "kernel32.dll", "OpenProcess");
   ASSERT_TRUE(open.Valid());
   open.Point(&RefusingOpenProcess);
   const std::string refused = "I0 OpenProcess of procId failed with error 0x5";
   const struct { const char *ovx; bool refuseFirst; const char *running; Lines lines; } cases[] = {
      {"", false, "", {"I0 OVX property did not exist"}},
      {"c:\\vms\\BETA\\beta.OVX", false, "1", {}},
      {"C:\\VMs\\Alpha", true, "", {refused}},
      {"Beta.ovx", true, "1", {refused}},
      {"C:\\VMs\\Gamma", false, "", {}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.ovx);
      gRefusedPid = c.refuseFirst ? a.pi.dwProcessId : 0;
      EXPECT_EQ(0u, session.Set("OVX", c.ovx) | session.Set("VM_RUNNING", "stale"));
      ExpectTranscript(Framed("Detect Running VM", c.lines), Run("OVDetectRunningVM"));
      EXPECT_EQ(c.running, session.Get("VM_RUNNING"));
   }
}

TEST_F(Actions, RegistrationCallsTheDllInItsFolderAndFallsBackToRegsvr32)
{
   const std::wstring folder = ProcessFolder() + L"com servers";
   for (const char *dll : {OV_COM_PLAIN_DLL, OV_COM_WITH_DEP_DLL, OV_COM_DEP_DLL, OV_COM_NO_UNREGISTER_DLL}) {
      CopyIn(dll, folder + L"\\" + std::filesystem::path(dll).filename().wstring());
   }
   std::ofstream((folder + L"\\bad.dll").c_str()) << "not a library";
   const std::string dir = Utf8(folder), testCwd = Utf8(std::filesystem::current_path().wstring());
   const std::string reg = "I0 File to be registered ", unreg = "I0 File to be unregistered ", regsvr32 = "C:\\windows\\system32\\regsvr32.exe";
   const std::string done = "I1 Util_RegServer: Successfully registered dll: \"";
   auto found = [](const std::string &path) { return "I2 Util_FileExists: Found \"" + path + "\""; };
   // regsvr32 checks the file again, then Util_Launch checks regsvr32.exe.
   auto viaRegsvr32 = [&](Lines lines, const std::string &path, const char *switches) {
      lines.insert(lines.end(), {found(path), found(regsvr32),
                                 "I1 Util_Launch: Attempting to launch \"\"" + regsvr32 + "\" \"" + path + "\" " + switches + "\""});
      return lines;
   };
   RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Orvane Test\\ComServers");
   const std::string bad = dir + "\\bad.dll", plain = dir + "\\ov_com_plain.dll", withDep = dir + "\\ov_com_with_dep.dll",
                     noUnreg = dir + "\\ov_com_no_unregister.dll";
   const struct { const char *action; std::string data; bool nt4, failing; const char *dll, *registered; Lines lines; } cases[] = {
      {"OVRegSvr", dir + ";bad.dll", false, false, "bad.dll", "",
       viaRegsvr32({reg + bad, found(bad), "E1 Util_RegServer: Failed to load dll \"" + bad + "\"| winerror code 193"}, bad, "/s")},
      // The dependency beside it is found in the folder made current.
      {"OVRegSvr", dir + ";ov_com_plain.dll;" + dir + ";ov_com_with_dep.dll;" + dir, false, false, "ov_com_with_dep.dll",
       dir.c_str(), {reg + plain, found(plain), done + plain + "\"", reg + withDep, found(withDep), done + withDep + "\""}},
      {"OVUnregSvr", dir + ";ov_com_plain.dll", false, false, "ov_com_plain.dll", "",
       {unreg + plain, found(plain), "I1 Util_RegServer: Successfully unregistered dll: \"" + plain + "\""}},
      {"OVUnregSvr", dir + ";ov_com_no_unregister.dll", false, false, "ov_com_no_unregister.dll", "",
       viaRegsvr32({unreg + noUnreg, found(noUnreg),
                    "E1 Util_RegServer: Failed to find DllUnregisterServer export in \"ov_com_no_unregister.dll\""},
                   noUnreg, "/u /s")},
      // NT 4: regsvr32 registers it, in this program's current directory.
      {"OVRegSvr", dir + ";ov_com_no_unregister.dll", true, false, "ov_com_no_unregister.dll", testCwd.c_str(),
       viaRegsvr32({reg + noUnreg, found(noUnreg)}, noUnreg, "/s")},
      {"OVRegSvr", dir + ";ov_com_plain.dll", false, true, "ov_com_plain.dll", "",
       viaRegsvr32({reg + plain, found(plain), "E1 Util_RegServer: Direct call to DllRegisterServer failed: 2147500037"},
                   plain, "/s")},
      {"OVRegSvr", dir + ";none.dll;;ov_com_plain.dll", false, false, "ov_com_plain.dll", "",
       {reg + dir + "\\none.dll", "I2 Util_FileExists: Did not find file/directory: \"" + dir + "\\none.dll\"| posix code 2",
        "E1 Util_RegServer: Can't register non-existent dll: \"" + dir + "\\none.dll\""}},
      {"OVUnregSvr", "", false, false, "ov_com_plain.dll", "", {"I0 ERROR: The CustomActionData property has no data."}},
   };
   gVersion[0] = 4, gVersion[1] = 0, gVersion[2] = 1381, gVersion[3] = 6;
   for (const auto &c : cases) {
      SCOPED_TRACE(c.data);
      c.nt4 ? version.Point(&PretendVersion) : version.Restore();
      SetEnvironmentVariableW(L"OV_COM_FAIL", c.failing ? L"1" : nullptr);
      ExpectTranscript(c.lines, Run(c.action, c.data));
      // The current directory DllRegisterServer saw; "" when not registered.
      EXPECT_EQ(Wide(c.registered), Value(L"Software\\Orvane Test\\ComServers", Wide(c.dll), HKEY_CURRENT_USER));
   }
   SetEnvironmentVariableW(L"OV_COM_FAIL", nullptr);
   EXPECT_EQ(testCwd, Utf8(std::filesystem::current_path().wstring())) << "the current directory is put back";
   RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Orvane Test\\ComServers");
}

TEST_F(Actions, StopRunningServicesHandsTheListToTheRestartManager)
{
   // Beside this program, where the library's load by name finds it before
   // Wine's own stubs.
   wchar_t exe[MAX_PATH] = {};
   GetModuleFileNameW(nullptr, exe, MAX_PATH);
   const std::wstring standIn = std::filesystem::path(exe).parent_path().wstring() + L"\\Rstrtmgr.dll";
   ASSERT_TRUE(CopyFileW(BuiltFile(OV_RESTART_MANAGER_DLL).c_str(), standIn.c_str(), FALSE));
   const std::string start = "RmStartSession flags 0 key ''|", end = "RmEndSession session 7|", down = "RmShutdown session 7 flags 0|";
   const std::string reg = "RmRegisterResources session 7 files 0 applications 0 services 'a'|";
   const std::string loaded = "I1 Util_LoadLibrary: Loaded library Rstrtmgr.dll(*", failed = "| winerror code 1235";
   const std::string ok = "I1 Util_StopFilesInUse: Util_StopFilesInUse returning success", fail = ok.substr(0, ok.size() - 7) + "failure";
   const struct { const char *value, *failing; bool vista; Lines lines; std::string calls; } cases[] = {
      {"2;a;b", "", false, {}, ""},
      {"2;Alpha;Beta", "", true, {loaded, kFreed, ok}, start + reg.substr(0, reg.size() - 4) + "'Alpha' 'Beta'|" + down + end},
      {"2;", "", true, {"I1 Util_StopFilesInUse: Number of services to stop is zero", fail}, ""},
      {"Alpha", "", true, {"I0 Number of services not provided"}, ""},
      {"0;a", "", true, {"I0 Number of services is zero"}, ""},
      {"-2;a", "", true, {"I0 Memory allocation failed"}, ""},
      {"1;a", "RmStartSession", true, {loaded, "E1 Util_StopFilesInUse: RmStartSession failed" + failed, kFreed, fail}, start},
      {"1;a", "RmRegisterResources", true,
       {loaded, "E1 Util_StopFilesInUse: RmRegisterResources failed" + failed, kFreed, fail}, start + reg + end},
      {"1;a", "RmShutdown", true, {loaded, "E1 Util_StopFilesInUse: RmShutdown failed" + failed, kFreed, fail}, start + reg + down + end},
      {"1;a", "RmEndSession", true, {loaded, "E1 Util_StopFilesInUse: RmEndSession failed" + failed, kFreed, ok}, start + reg + down + end},
   };
   gVersion[0] = 6, gVersion[1] = 0, gVersion[2] = 6002, gVersion[3] = 2;
   for (const auto &c : cases) {
      SCOPED_TRACE(std::string(c.value) + " " + c.failing);
      c.vista ? version.Point(&PretendVersion) : version.Restore();
      SetEnvironmentVariableW(L"OV_RM_FAIL", Wide(c.failing).c_str());
      SetEnvironmentVariableW(L"OV_RM_CALLS", nullptr);
      EXPECT_EQ(0u, session.Set("StopRunningServices", c.value));
      Lines lines = c.lines;
      c.vista ? void(lines.insert(lines.begin(), std::string("I0 StopRunningService property ") + c.value)) : void();
      ExpectTranscript(Framed("Stopping services.", lines), Run("OVStopRunningServices"));
      wchar_t calls[1024] = {};
      GetEnvironmentVariableW(L"OV_RM_CALLS", calls, 1024);
      EXPECT_EQ(c.calls, Utf8(calls));
   }
   SetEnvironmentVariableW(L"OV_RM_FAIL", nullptr);
   EXPECT_TRUE(DeleteFileW(standIn.c_str())) << "the library is freed after each call";
}

// The SCM's answers to the status queries in turn: states 1, 2, ... 8 (not
// a state), so that one service shows every state.
DWORD gQueries = 0;
BOOL WINAPI StatesInTurn(SC_HANDLE, SERVICE_STATUS *status)
{
   *status = {SERVICE_WIN32_OWN_PROCESS, ++gQueries, 0, 0, 0, 0, 0};
   return TRUE;
}

// A row of the OVAppSearch table, the lines it must leave and the value its
// property must have after the action (MSI_NULL_INTEGER: a null field).
struct Row {
   std::string property, file;
   int attributes;
   Lines lines;
   std::string after = "stale";
};

// The session's OVAppSearch table made anew with `rows`, in literal SQL (a
// null field is left out).
UINT FillSearchTable(MSIHANDLE install, const std::vector<Row> &rows)
{
   MsiHandle db(MsiGetActiveDatabase(install));
   UINT rc = 0;
   for (std::string sql : {"DROP TABLE `OVAppSearch`", "CREATE TABLE `OVAppSearch` (`Property` CHAR(255) NOT NULL, "
                                                       "`FileName` CHAR(0), `Attributes` LONG PRIMARY KEY `Property`)"}) {
      MsiHandle view;
      rc = MsiDatabaseOpenViewW(db.Get(), Wide(sql).c_str(), view.Out()) | MsiViewExecute(view.Get(), 0);
   }
   for (const Row &row : rows) {
      const bool null = row.attributes == static_cast<int>(MSI_NULL_INTEGER);
      const std::string sql = "INSERT INTO `OVAppSearch` (`Property`, `FileName`" + std::string(null ? ")" : ", `Attributes`)") +
                              " VALUES ('" + row.property + "', '" + row.file + (null ? "')" : "', " + std::to_string(row.attributes) + ")");
      MsiHandle view;
      rc |= MsiDatabaseOpenViewW(db.Get(), Wide(sql).c_str(), view.Out()) | MsiViewExecute(view.Get(), 0);
   }
   return rc;
}

TEST_F(Actions, AppSearchSetsThePropertiesOfTheRowsThatHold)
{
   ServiceGuard service{Name("Search")};
   const std::string s = service.name, path = "C:\\ov\\search.exe -x";
   SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
   CloseServiceHandle(CreateServiceA(scm, s.c_str(), nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                     SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, path.c_str(), 0, 0, 0, 0, 0));
   CloseServiceHandle(scm);
   Sleeper notepad(ProcessFolder() + L"notepad.exe");
   const std::string none = "I0 Service none could not be opened.";
   // A row of code 3: the line of the state its status query answers, and
   // the property set to `value` when that state counts as running.
   auto state = [&](const char *property, const char *line, const char *value) {
      Row row{property, s, 3, {"I0 Service " + s + " was found.", "I0 Service " + s + line}, value ? value : "stale"};
      value ? row.lines.push_back("I0 " + std::string(value) + " service is running and " + property + " set") : void();
      return row;
   };
   const std::vector<Row> every = {
      {"P1", "notepad", 1, {kLoaded, "I1 Util_IsInMemory: Process found notepad.exe with ID " + std::to_string(notepad.pi.dwProcessId),
                            kFreed, "I0 notepad found in memory and P1 set"}, "notepad"},
      {"P2", "none", 1, {kLoaded, kFreed}},
      {"P3", s, 2, {"I0 Service " + s + " was found by name.", "I0 Service " + s + " found with exe path \"" + path + "\".",
                    "I0 " + path + " service exists and P3 set"}, path},
      {"P4", "none", 2, {none}},
      state("P5", " is stopped.", nullptr),
      state("P6", " is pending start. (assume running)", "SERVICE_START_PENDING"),
      state("P7", " is pending stopped.", nullptr),
      state("P8", " is running.", "SERVICE_RUNNING"),
      state("P9", " is pending continue. (assume running)", "SERVICE_CONTINUE_PENDING"),
      state("PA", " is pending pause. (assume running)", "SERVICE_PAUSE_PENDING"),
      state("PB", " is paused. (assume running)", "SERVICE_PAUSED"),
      state("PC", " is in unknown state. (assume running)", "SERVICE_UNKNOWN_STATE"),
      {"PD", "none", 3, {none}},
      {"PE", "x", 0, {"I0 Unrecognized attribute: 0"}, ""},
      {"PF", "x", 4, {"I0 Unrecognized attribute: 4"}, ""},
   };
   const std::string nine = "I0 Services not available on 9X", noManager = "I0 Opening Service Manager failed: %";
   testutil::ImportSlot manager = Slot("OpenSCManagerW"), query = Slot("QueryServiceStatus");
   ASSERT_TRUE(manager.Valid() && query.Valid());
   query.Point(&StatesInTurn);
   const struct { std::vector<Row> rows; const char *v9x; Lines lines; bool refuseManager = false; } cases[] = {
      {{}, "", {"I0 Failed to open database view: *"}},   // no table yet: the installer's code for that
      {{}, "", {}},
      {every, "", {}},
      {{{"P1", s, 2, {nine}, ""}, {"P2", s, 3, {nine}, ""}}, "1", {}},
      {{{"P1", s, 2, {noManager}}, {"P2", s, 3, {noManager}}}, "", {}, true},
      {{{"P1", "x", static_cast<int>(MSI_NULL_INTEGER), {"I0 Failed to retrieve attributes"}}, {"P2", "x", 0, {}}}, "", {}},
      {{{std::string(128, 'P'), "x", 0, {"I0 Failed to retrieve property string: 234"}}}, "", {}},
      {{{"P1", std::string(260, 'f'), 0, {"I0 Failed to retrieve filename string: 234"}}}, "", {}},
   };
   for (const auto &c : cases) {
      Lines lines = c.lines;
      for (const Row &row : c.rows) {
         session.Set(row.property.c_str(), "stale");
         lines.insert(lines.end(), row.lines.begin(), row.lines.end());
      }
      SCOPED_TRACE(lines.empty() ? "empty table" : lines.back());
      ASSERT_TRUE(&c == cases || FillSearchTable(session.Handle(), c.rows) == ERROR_SUCCESS);
      c.refuseManager ? manager.Point(&Refused) : manager.Restore();
      gQueries = 0;
      EXPECT_EQ(0u, session.Set("Version9X", c.v9x));
      ExpectTranscript(Framed("OVAppSearch running", lines, "OVAppSearch ended"), Run("OVAppSearch"));
      for (const Row &row : c.rows) {
         EXPECT_EQ(row.after, session.Get(row.property.c_str())) << row.property;
      }
   }
}

}  // namespace

TEST_F(Actions, KernelDriverPlacedAfterItsReferenceReconfiguredAndRemoved)
{
   ServiceGuard drv{Name("Drv")};
   const std::string n = drv.name, group = Name("Group"), ref = Name("Ref"), ref2 = Name("RefTwo");
   for (auto [name, tag] : {std::pair<std::string, DWORD>{ref, 0x40}, {ref2, 0x42}}) {
      RegSetKeyValueW(HKEY_LOCAL_MACHINE, (kServices + Wide(name)).c_str(), L"Tag", REG_DWORD, &tag, 4);
   }
   const DWORD list[] = {2, 0x40, 0x42};
   RegSetKeyValueW(HKEY_LOCAL_MACHINE, kGroupList.c_str(), Wide(group).c_str(), REG_BINARY, list, sizeof list);
   const std::string data = n + ";" + n + ";Does nothing;" + Utf8(CopyIn(OV_TEST_DRIVER_SYS, kDrivers + Wide(n) + L".sys"));
   testutil::ImportSlot create = Slot("CreateServiceW"), lock = Slot("LockServiceDatabase"),
                        held = Slot("QueryServiceLockStatusA"), enumerate = Slot("EnumDependentServicesA");
   ASSERT_TRUE(create.Valid() && lock.Valid() && held.Valid() && enumerate.Valid());
   create.Point(&TagAssigning);
   const std::string gone = "E2 Inst_StopService: Service could not be opened: ERROR_SERVICE_DOES_NOT_EXIST",
                     stop = "I1 Inst_StopService: Attempting to stop service: '" + n + "' [stop dependents = 1]",
                     top = "I0 --- OVInstallKernelDriver()", pre = "I1 Inst_InstallServiceW: Stopping any pre-existing instances of service";
   ExpectTranscript({top, "I0 Installing " + n, pre, stop, gone, gone, "I1 Inst_InstallServiceW: installing service: " + n,
                     "I2 ModifyDependencyString: Dependencies wide char ", "I1 Inst_InstallServiceW: Service created: " + n,
                     "I2 Inst_InstallServiceW: Attempting to store service description",
                     "I0 INFO: Tag 65 not found in GroupOrderList " + group + ", skipping list update",
                     "I1 Inst_StartService: Attempting to start service: " + n,
                     "I2 Inst_StartService: service status: SERVICE_RUNNING cp=0x00000000",
                     "I2 Inst_StartService: Service is running"},
                    Run("OVInstallKernelDriver", data + ";3;1;1;" + group + ";;;1;" + ref, 0));
   EXPECT_EQ(DWORD(SERVICE_RUNNING), State(n));
   EXPECT_EQ(Words({3, 0x40, 0x41, 0x42}), Value(kGroupList, Wide(group)));
   const std::wstring key = kServices + Wide(n);
   EXPECT_EQ(Words({SERVICE_KERNEL_DRIVER, 3}) + L"Does nothing",
             Value(key, L"Type") + Value(key, L"Start") + Value(key, L"Description"));

   // Reconfigured in place while another installer holds the lock: the
   // running driver is stopped first, though its dependents cannot be
   // listed; no tag from the SCM, so the one in its key moves.
   lock.Point(&Refused);
   held.Point(&LockHeld);
   enumerate.Point(&Refused);
   ExpectTranscript({top, "I0 Installing " + n, pre, stop, "I2 Inst_StopService: service status: SERVICE_RUNNING cp=0x00000000",
                     "I1 Inst_StopService: Stopping dependents, if any",
                     "E1 Inst_StopService: Enumeration failed for unexpected reason| winerror code 5",
                     "I2 Inst_StopService: service status: SERVICE_STOPPED cp=0x00000000",
                     "I1 Inst_InstallServiceW: installing service: " + n,
                     "I2 ModifyDependencyString: Dependencies wide char Alpha,Beta",
                     "E1 Inst_InstallServiceW: Service '" + n + "' already exists| winerror code 1073",
                     "E1 AcquireServiceDatabaseLock: couldn't obtain lock| winerror code 5",
                     "E1 AcquireServiceDatabaseLock: lock held = TRUE by OtherInstaller for 12 seconds",
                     "I2 Inst_InstallServiceW: reconfigured existing service",
                     "I2 Inst_InstallServiceW: Attempting to store service description"},
                    Run("OVInstallKernelDriver", data + ";2;0;0;" + group + ";Alpha,Beta;;;" + ref2, 0));
   EXPECT_EQ(Words({3, 0x40, 0x42, 0x41}), Value(kGroupList, Wide(group)));
   EXPECT_EQ(DWORD(SERVICE_STOPPED), State(n));
   EXPECT_EQ(Words({2}) + L"Alpha" + L'\0' + L"Beta" + L'\0', Value(key, L"Start") + Value(key, L"DependOnService"));

   EXPECT_EQ((Lines{"I0 OVUninstallKernelDriver running", "I0 CustomActionData = " + n + ";0;1;" + group,
                    "I0 OVUninstallKernelDriver Done"}),
             With(Run("OVUninstallKernelDriver", n + ";0;1;" + group, 0)));
   EXPECT_EQ(Words({2, 0x40, 0x42}) + L"-", Value(kGroupList, Wide(group)) + L"-" + Value(kReboot, L"Components"));
   EXPECT_EQ(0u, State(n));
   RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kGroupList.c_str(), Wide(group).c_str());
   for (const std::string &name : {ref, ref2}) {
      RegDeleteKeyW(HKEY_LOCAL_MACHINE, (kServices + Wide(name)).c_str());
   }
}

// Each row runs one export; the rows go on from each other's services.
TEST_F(Actions, FailuresInfSectionsAndFailureActions)
{
   ServiceGuard taken{Name("Taken")}, rel{Name("Relative")}, disabled{Name("Disabled")}, stuck{Name("Stuck")},
      inf{Name("Inf")};
   SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
   CloseServiceHandle(CreateServiceA(scm, taken.name.c_str(), taken.name.c_str(), SERVICE_ALL_ACCESS,
                                     SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, 1, "C:\\x.sys", 0, 0, 0, 0, 0));
   CloseServiceHandle(scm);
   const std::string sys = Utf8(CopyIn(OV_TEST_DRIVER_NOUNLOAD_SYS, kDrivers + Wide(stuck.name) + L".sys"));
   const std::string folder = "C:\\ov inf " + Name(""), file = folder + "\\test.inf", t = taken.name, s = stuck.name;
   CreateDirectoryA(folder.c_str(), nullptr);
   std::ofstream(file) << "[Version]\nSignature=\"$Windows NT$\"\n[In]\n[Out]\n[In.Services]\nAddService=" << inf.name
                       << ",0,In.Service\n[In.Service]\nServiceType=1\nStartType=3\nErrorControl=1\nServiceBinary=%12%\\" << s
                       << ".sys\n[Out.Services]\nDelService=" << inf.name << "\n";
   const char *install = "OVInstallKernelDriver", *uninstall = "OVUninstallKernelDriver", *config = "OVServiceFailureConfig";
   const std::string in = "I0 --- OVInstallKernelDriver()", un = "I0 OVUninstallKernelDriver running",
                     data = "I0 CustomActionData = ", done = "I0 OVUninstallKernelDriver Done", top = "I0 --- OVServiceFailureConfig()";
   auto driver = [](const std::string &name, const std::string &path, const char *start) {
      return name + ";" + name + ";;" + path + ";" + start + ";1;1";
   };
   auto section = [&](const std::string &action) {
      const std::string worker = "I0 InstallOrUninstallByInfSection: INFO: ";
      return Lines{"I0 " + action + ": INFO: Enter", worker + "--- (" + inf.name + ")", worker + "Done",
                   "I0 " + action + ": INFO: Done"};
   };
   testutil::ImportSlot del = Slot("DeleteService"), change = Slot("ChangeServiceConfig2W");
   ASSERT_TRUE(del.Valid() && change.Valid());
   change.Point(&RecordFailureActions);
   // `line`: a line of the service library that stands `times` times; `effect`: as gEffect records it.
   const struct { const char *exportName; std::string data; UINT rc; Lines own; std::string line, effect, reboot;
                  size_t times = 1; DWORD refusal = 0; } cases[] = {
      {install, "", 1603, {in, "I0 Installing ", "I0 ERROR: Invalid CustomActionData for OVInstallKernelDriver"}, "", "", ""},
      {install, driver(rel.name, "system32\\drivers\\x.sys", "3"), 0,
       {in, "I0 Installing " + rel.name, "I0 WARNING: Failed to start service: " + rel.name},
       "E1 Inst_StartService: Service could not be started| winerror code 1114", "", rel.name},
      {install, driver(disabled.name, sys, "4"), 0,
       {in, "I0 Installing " + disabled.name, "I0 WARNING: Failed to start service: " + disabled.name},
       "E1 Inst_StartService: Service could not be started since it's disabled", "", disabled.name},
      {uninstall, "", 1603, {un, data, "I0 Invalid CustomActionData for OVUninstallKernelDriver"}, "", "", ""},
      {uninstall, t, 0, {un, data + t, "I0 WARNING: Failed to uninstall service", done},
       "E1 Inst_UninstallService: Service could not be deleted: ERROR_ACCESS_DENIED", "33554480 25031 " + t,
       "KernelDriverUninstall", 1, ERROR_ACCESS_DENIED},
      // A driver without an unload routine stays loaded: its deletion waits
      // for a restart, and so does a new service of its name.
      {install, driver(s, sys, "3"), 0, {in, "I0 Installing " + s}, "I2 Inst_StartService: Service is running", "", ""},
      {uninstall, s, 0, {un, data + s, done}, "I1 Inst_UninstallService: Service still present, might check again", "",
       "KernelDriverUninstall", 41},
      {install, driver(s, sys, "3"), 1603, {in, "I0 Installing " + s, "I0 ERROR: Failed to install service: " + s},
       "E1 Inst_InstallServiceW: Service '" + s + "' could not be created since marked for deletion (attempt #2)| winerror code 1072",
       "16777264 25030 " + s, ""},
      // The sections of an INF file add the service and take it away again.
      {"OVInstallInfKernelDriver", inf.name + ";In;132;" + file, 0, section("OVInstallInfKernelDriver"),
       "E2 Inst_StopService: Service could not be opened: ERROR_SERVICE_DOES_NOT_EXIST", "", "", 2},
      {"OVUninstallInfKernelDriver", inf.name + ";Out;132;" + file, 0, section("OVUninstallInfKernelDriver"),
       "I2 Inst_StopService: service status: SERVICE_STOPPED cp=0x00000000", "", ""},
      {uninstall, inf.name, 0, {un, data + inf.name, done},
       "E2 Inst_UninstallService: Service could not be opened: ERROR_SERVICE_DOES_NOT_EXIST", "", ""},
      {config, t + ";restart;restart;reboot;C:\\cmd.exe;Going down;1;60", 0, {top}, "", "2 86400 Going down - 1:60000 1:60000 2:60000", ""},
      {config, t + ";runCommand;none;;C:\\cmd.exe /x;msg;-1;0", 0,
       {top, "I0 INFO: ResetPeriodInDays was less than 0 - setting to INFINITE"}, "", "2 4294967295 - C:\\cmd.exe /x 3:0 0:0", ""},
      {config, t + ";none;;;;;0;1", 1603, {top, "I0 ERROR: Failed to config service: '" + t + "' [Unknown error code: 0x2000abcd]"},
       "", "2 0 - - 0:1000", "", 1, 0x2000ABCD},
      {config, t + ";Restart;;;;;1;1", 1603, {top, "I0 ERROR: Unknown failure method: Restart"}, "", "", ""},
      {config, t + ";none;;;;;1;-5", 1603, {top, "I0 ERROR: RestartServiceDelayInSeconds is less than 0"}, "", "", ""},
      {config, t + ";;none;;;;1;1", 1603, {top, "I0 ERROR: No failure actions specified"}, "", "", ""},
      {config, "", 1603, {top, "I0 ERROR: Service name not specified"}, "", "", ""},
      {config, t + "Gone;none", 1603, {top, "I0 ERROR: Failed to open service: '" + t + "Gone' [*"}, "", "", ""},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.exportName + (": " + c.data));
      gRefusal = c.refusal;
      c.refusal == ERROR_ACCESS_DENIED ? del.Point(&Refused) : del.Restore();
      const Lines lines = Run(c.exportName, c.data, c.rc);
      ExpectTranscript(c.own, With(lines));
      EXPECT_EQ(c.line.empty() ? 0 : c.times, Count(lines, c.line)) << c.line;
      EXPECT_EQ(c.effect, gEffect);
      EXPECT_EQ(Wide(c.reboot), Value(kReboot, L"Components"));
   }
   gRefusal = ERROR_ACCESS_DENIED;
   DeleteFileA(file.c_str());
   RemoveDirectoryA(folder.c_str());
}

TEST_F(Actions, StartAndStopWaitsOfTheTestService)
{
   ServiceGuard slow{Name("Slow")}, stopping{Name("StuckStop")}, stuck{Name("StuckStart")};
   const std::string exe = Utf8(CopyIn(OV_TEST_SERVICE_EXE, L"C:\\ovsvctest\\ov_test_service.exe"));
   auto data = [&](const ServiceGuard &s, const char *mode) {
      return s.name + ";" + s.name + ";;" + exe + " " + mode + ";3;1;1;;;16";
   };
   // Each checkpoint that advances takes the service's new hint.
   Lines lines = Run("OVInstallKernelDriver", data(slow, "slow 2"), 0);
   EXPECT_LE(2u, Count(lines, "I2 Inst_StartService: Updating sleep hint: 1000"));
   EXPECT_EQ("I2 Inst_StartService: Service is running", lines.back());
   Run("OVInstallKernelDriver", data(stopping, "stuckstop 2"), 0);
   ASSERT_EQ(DWORD(SERVICE_RUNNING), State(stopping.name));

   // A reinstall stops the running service, and first the dependent the
   // SCM reports.
   testutil::ImportSlot enumerate = Slot("EnumDependentServicesA");
   ASSERT_TRUE(enumerate.Valid());
   enumerate.Point(&OneDependent);
   gDependent = slow.name;
   lines = Run("OVInstallKernelDriver", data(stopping, "stuckstop 2"), 0);
   EXPECT_EQ(1u, Count(lines, "I1 Inst_StopService: Dependents exist"));
   EXPECT_EQ((Lines{"I2 Inst_StopService: Attempting to stop # 0 '" + gDependent + "'",
                    "I1 Inst_StopService: Attempting to stop service: '" + gDependent + "' [stop dependents = 0]",
                    "I2 Inst_StopService: Done stopping # 0 '" + gDependent + "'"}),
             With(lines, "'" + gDependent + "'"));
   EXPECT_EQ(DWORD(SERVICE_STOPPED), State(slow.name));

   // A stop someone else sent is waited for, its polls logged as information.
   ASSERT_EQ(DWORD(SERVICE_STOP_PENDING), State(stopping.name, SERVICE_CONTROL_STOP));
   lines = Run("OVInstallKernelDriver", data(stopping, "stuckstop 2"), 0);
   EXPECT_EQ(1u, Count(lines, "I2 Inst_StopService: service status: SERVICE_STOP_PENDING cp=0x00000001"));
   EXPECT_EQ(1u, Count(lines, "I1 Inst_StopService: service status: SERVICE_STOPPED cp=0x00000000"));

   // A start that makes no progress is given up after 30 seconds.
   lines = Run("OVInstallKernelDriver", data(stuck, "stuckstart 31"), 0);
   EXPECT_EQ(61u, Count(lines, "I2 Inst_StartService: service status: SERVICE_START_PENDING cp=0x00000001"));
   EXPECT_EQ(58u, Count(lines, "I2 Inst_StartService: Slept hint duration without any progress"))
      << "from the third poll on, once 1500 ms passed the hint of 1000";
   EXPECT_EQ(1u, Count(lines, "I2 Inst_StartService: Not giving up yet since haven't slept for 30 seconds: 30000"));
   ExpectTranscript({"I1 Inst_StartService: Slept for 30 seconds, giving up",
                     "E1 Inst_StartService: Service is not running: SERVICE_START_PENDING",
                     "I0 WARNING: Failed to start service: " + stuck.name},
                    Lines(std::find(lines.begin(), lines.end(), "I1 Inst_StartService: Slept for 30 seconds, giving up"), lines.end()));
   EXPECT_EQ(Wide(stuck.name), Value(kReboot, L"Components"));
   Await(stuck.name, SERVICE_STOPPED);
}
