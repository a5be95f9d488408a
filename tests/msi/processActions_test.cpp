// The process, registration, stop-services and application-search actions
// through the built DLL in real installer sessions, against copies of
// ov_sleeper, the COM server DLLs, the test service and the recording
// Rstrtmgr.dll (tests/process). Each scenario's expected result is the
// transcript of the lines it must leave.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "common/msiUtil.h"
#include "tests/msi/msiSession.h"
#include "tests/process/sleeperProcess.h"
#include "tests/win/expectLines.h"
#include "tests/win/importSlot.h"

using namespace msitest;
using Strings = std::vector<std::string>;

namespace {

std::string Num(unsigned long long n) { return std::to_string(n); }
std::string Got(const std::string &assignment) { return "I1 MsiUtil_GetPropertyString: Getting Property " + assignment; }
std::string SetTo(const std::string &name, const std::string &value)
{
   return "I1 MsiUtil_SetProperty: Setting property " + name + " = " + value;
}

const char kLoaded[] = "I1 Util_LoadLibrary: Loaded library Kernel32.dll(*", kFreed[] = "I1 Util_FreeLibrary: Freeing library: *";

// GetVersionExA as the Windows of gVersion reports it (major, minor, build,
// service pack), for the DLL's import slot.
DWORD gVersion[4];
BOOL WINAPI PretendVersion(OSVERSIONINFOA *info)
{
   const DWORD size = info->dwOSVersionInfoSize;
   memset(info, 0, size);
   *info = {size, gVersion[0], gVersion[1], gVersion[2], VER_PLATFORM_WIN32_NT, {}};
   if (size == sizeof(OSVERSIONINFOEXA)) {
      reinterpret_cast<OSVERSIONINFOEXA *>(info)->wServicePackMajor = WORD(gVersion[3]);
      reinterpret_cast<OSVERSIONINFOEXA *>(info)->wProductType = VER_NT_WORKSTATION;
   }
   return TRUE;
}

class ProcessActions : public testing::Test {
protected:
   void SetUp() override { ASSERT_TRUE(session.Ok()) << session.Failure(); }

   // Checks the export's transcript (the session's begin and end lines left
   // out) against `lines` between the action's own first and last lines.
   void Run(const char *exportName, Strings lines, const char *first = nullptr, const char *last = nullptr)
   {
      if (first != nullptr) {
         lines.insert(lines.begin(), std::string("I0 ") + first);
      }
      if (last != nullptr) {
         lines.push_back(std::string("I0 ") + last);
      }
      LogMark mark;
      EXPECT_EQ(0u, dll.Call(exportName, session.Handle()));
      Strings got;
      for (const LogLine &line : mark.Lines()) {
         EXPECT_EQ(CustomActionTag(), line.tag) << line.text;
         line.level != "XX" ? got.push_back(line.level + " " + line.text) : void();
      }
      testutil::ExpectTranscript(lines, got);
   }

   std::unique_ptr<processtest::Sleeper> Start(const std::string &exeName, const std::string &tail = "")
   {
      auto p = std::make_unique<processtest::Sleeper>(Wide(OV_SLEEPER_EXE), ProcessFolder() + Wide(exeName), Wide(tail));
      EXPECT_TRUE(p->Started()) << exeName;
      return p;
   }

   LoadedDll dll;
   MsiSession session;
   testutil::ImportSlot version{dll.Module(), "kernel32.dll", "GetVersionExA"};
};

TEST_F(ProcessActions, AppTerminateEndsTheFirstMatchOfTheWholeValue)
{
   auto first = Start("ovapp-a.exe"), second = Start("ovapp-b.exe");
   const std::string a = Num(first->Pid()), none = Got("OV_AppTerminate = ");
   const struct { const char *property, *data; bool firstEnds; Strings lines; } cases[] = {
      {"ovapp-a.exe;ovapp-b.exe", "ovapp", false,
       {Got("OV_AppTerminate = ovapp-a.exe;ovapp-b.exe"), kLoaded, kFreed,
        "I1 Util_AppTerminate: ovapp-a.exe;ovapp-b.exe *NOT* found in memory."}},
      {"", "", false, {none, Got("CustomActionData = "), "I0 Failed to get OV_AppTerminate or CustomActionData property."}},
      {"", "OVAPP", true,
       {none, Got("CustomActionData = OVAPP"), kLoaded, "I1 Util_IsInMemory: Process found ovapp-a.exe with ID " + a, kFreed,
        "I1 Util_AppTerminate: OVAPP with pid " + a + " found in memory!", "I1 Util_AppTerminate: Process terminated: OVAPP"}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(std::string(c.property) + "|" + c.data);
      EXPECT_EQ(0u, session.Set("OV_AppTerminate", c.property) | session.Set("CustomActionData", c.data));
      Run("OVAppTerminate", c.lines, "OVAppTerminate running", "OVAppTerminate ended");
      EXPECT_EQ(c.firstEnds, first->EndsWithin(c.firstEnds ? 5000 : 0));
      EXPECT_TRUE(second->Running()) << "only the first match ends";
   }
}

// Wine lets every process read every other: the refusal is made here.
DWORD gRefusedPid = 0;
HANDLE WINAPI RefusingOpenProcess(DWORD access, BOOL inherit, DWORD pid)
{
   return pid == gRefusedPid ? (SetLastError(ERROR_ACCESS_DENIED), nullptr) : OpenProcess(access, inherit, pid);
}

TEST_F(ProcessActions, DetectRunningVMReadsTheMachinePathOnEachCommandLine)
{
   auto a = Start("orvane-ovx.exe", " \"C:\\VMs\\Alpha\\Alpha.ovx\""), b = Start("Orvane-OVX-b.exe", " C:\\VMs\\Beta\\Beta.ovx");
   auto other = Start("vm-orvane-ovx.exe", " C:\\VMs\\Gamma\\Gamma.ovx");   // not a prefix match: never read
   testutil::ImportSlot open(dll.Module(), "kernel32.dll", "OpenProcess");
   ASSERT_TRUE(open.Valid());
   open.Point(&RefusingOpenProcess);
   const std::string refused = "I0 OpenProcess of procId failed with error 0x5";
   const struct { const char *ovx; bool refuseFirst; const char *running; Strings lines; } cases[] = {
      {"", false, "", {Got("OVX = "), "I0 OVX property did not exist"}},
      {"c:\\vms\\BETA\\beta.OVX", false, "1", {Got("OVX = c:\\vms\\BETA\\beta.OVX")}},
      {"C:\\VMs\\Alpha", false, "1", {Got("OVX = C:\\VMs\\Alpha")}},
      {"C:\\VMs\\Alpha", true, "", {Got("OVX = C:\\VMs\\Alpha"), refused}},
      {"Beta.ovx", true, "1", {Got("OVX = Beta.ovx"), refused}},
      {"C:\\VMs\\Gamma", false, "", {Got("OVX = C:\\VMs\\Gamma")}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.ovx);
      gRefusedPid = c.refuseFirst ? a->Pid() : 0;
      EXPECT_EQ(0u, session.Set("OVX", c.ovx) | session.Set("VM_RUNNING", "stale"));
      Strings lines = c.lines;
      lines.push_back(SetTo("VM_RUNNING", c.running));
      Run("OVDetectRunningVM", lines, "Detect Running VM");
      EXPECT_EQ(c.running, session.Get("VM_RUNNING"));
   }
}

// The current directory the DLL's DllRegisterServer saw, "-" when the DLL
// is not registered.
std::string Registered(const char *dllName)
{
   wchar_t data[MAX_PATH] = {};
   DWORD size = sizeof data;
   return RegGetValueW(HKEY_CURRENT_USER, L"Software\\Orvane Test\\ComServers", Wide(dllName).c_str(), RRF_RT_REG_SZ,
                       nullptr, data, &size) == ERROR_SUCCESS ? Utf8(data) : "-";
}

TEST_F(ProcessActions, RegistrationCallsTheDllInItsFolderAndFallsBackToRegsvr32)
{
   // The servers with their dependency, and the dependent server alone.
   const std::wstring folder = ProcessFolder() + L"com servers", alone = ProcessFolder() + L"nodep";
   CreateDirectoryW(folder.c_str(), nullptr);
   CreateDirectoryW(alone.c_str(), nullptr);
   for (const char *dll : {OV_COM_PLAIN_DLL, OV_COM_WITH_DEP_DLL, OV_COM_DEP_DLL, OV_COM_NO_UNREGISTER_DLL}) {
      const std::wstring from = processtest::BuiltFile(Wide(dll)), name = from.substr(from.find_last_of(L'\\'));
      ASSERT_TRUE(CopyFileW(from.c_str(), (folder + name).c_str(), FALSE));
      if (dll == std::string(OV_COM_WITH_DEP_DLL)) {
         ASSERT_TRUE(CopyFileW(from.c_str(), (alone + name).c_str(), FALSE));
      }
   }
   const std::string dir = Utf8(folder), nodep = Utf8(alone), testCwd = Utf8(std::filesystem::current_path().wstring());
   const std::string regsvr32 = "I1 Util_Launch: Attempting to launch \"\"C:\\windows\\system32\\regsvr32.exe\" \"";
   const std::string reg = "I0 File to be registered ", unreg = "I0 File to be unregistered ";
   const std::string done = "I1 Util_RegServer: Successfully registered dll: \"";
   auto found = [](const std::string &path) { return "I2 Util_FileExists: Found \"" + path + "\""; };
   // regsvr32 checks the file again, then Util_Launch checks regsvr32.exe.
   auto viaRegsvr32 = [&](const std::string &path, const char *switches) {
      return Strings{found(path), found("C:\\windows\\system32\\regsvr32.exe"),
                     regsvr32 + path + "\" " + switches + "\""};
   };
   auto join = [](Strings a, const Strings &b) { return a.insert(a.end(), b.begin(), b.end()), a; };
   RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Orvane Test\\ComServers");
   ASSERT_TRUE(version.Valid());
   const std::string withDep = nodep + "\\ov_com_with_dep.dll", plain = dir + "\\ov_com_plain.dll",
                     noUnreg = dir + "\\ov_com_no_unregister.dll";
   const struct { const char *action; std::string data; bool nt4, failing; const char *dll, *registered; Strings lines; } cases[] = {
      {"OVRegSvr", nodep + ";ov_com_with_dep.dll", false, false, "ov_com_with_dep.dll", "-",
       join({reg + withDep, found(withDep), "E1 Util_RegServer: Failed to load dll \"" + withDep + "\"| winerror code 126*"},
            viaRegsvr32(withDep, "/s"))},
      {"OVRegSvr", dir + ";ov_com_plain.dll;" + dir + ";ov_com_with_dep.dll;" + dir, false, false, "ov_com_with_dep.dll",
       dir.c_str(),
       {reg + plain, found(plain), done + plain + "\"", reg + dir + "\\ov_com_with_dep.dll",
        found(dir + "\\ov_com_with_dep.dll"), done + dir + "\\ov_com_with_dep.dll\""}},
      {"OVUnregSvr", dir + ";ov_com_plain.dll", false, false, "ov_com_plain.dll", "-",
       {unreg + plain, found(plain), "I1 Util_RegServer: Successfully unregistered dll: \"" + plain + "\""}},
      {"OVUnregSvr", dir + ";ov_com_no_unregister.dll", false, false, "ov_com_no_unregister.dll", "-",
       join({unreg + noUnreg, found(noUnreg),
             "E1 Util_RegServer: Failed to find DllUnregisterServer export in \"ov_com_no_unregister.dll\""},
            viaRegsvr32(noUnreg, "/u /s"))},
      // NT 4: regsvr32 registers it, in this program's current directory.
      {"OVRegSvr", dir + ";ov_com_no_unregister.dll", true, false, "ov_com_no_unregister.dll", testCwd.c_str(),
       join({reg + noUnreg, found(noUnreg)}, viaRegsvr32(noUnreg, "/s"))},
      {"OVRegSvr", dir + ";ov_com_plain.dll", false, true, "ov_com_plain.dll", "-",
       join({reg + plain, found(plain), "E1 Util_RegServer: Direct call to DllRegisterServer failed: 2147500037"},
            viaRegsvr32(plain, "/s"))},
      {"OVRegSvr", dir + ";none.dll;;ov_com_plain.dll", false, false, "ov_com_plain.dll", "-",
       {reg + dir + "\\none.dll", "I2 Util_FileExists: Did not find file/directory: \"" + dir + "\\none.dll\"| posix code 2*",
        "E1 Util_RegServer: Can't register non-existent dll: \"" + dir + "\\none.dll\""}},
      {"OVUnregSvr", "", false, false, "ov_com_plain.dll", "-", {"I0 ERROR: The CustomActionData property has no data."}},
   };
   gVersion[0] = 4, gVersion[1] = 0, gVersion[2] = 1381, gVersion[3] = 6;
   for (const auto &c : cases) {
      SCOPED_TRACE(c.data);
      c.nt4 ? version.Point(&PretendVersion) : version.Restore();
      SetEnvironmentVariableW(L"OV_COM_FAIL", c.failing ? L"1" : nullptr);
      EXPECT_EQ(0u, session.Set("CustomActionData", c.data.c_str()));
      Strings lines = c.lines;
      lines.insert(lines.begin(), Got("CustomActionData = " + c.data));
      Run(c.action, lines);
      EXPECT_EQ(c.registered, Registered(c.dll));
   }
   SetEnvironmentVariableW(L"OV_COM_FAIL", nullptr);
   EXPECT_EQ(testCwd, Utf8(std::filesystem::current_path().wstring())) << "the current directory is put back";
   RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Orvane Test\\ComServers");
}

// The stand-in's record: one line per call (wide text, ASCII here).
Strings ReadRecord(const std::wstring &file)
{
   std::ifstream in(file.c_str(), std::ios::binary);
   Strings lines(1);
   for (char c, high; in.get(c) && in.get(high);) {
      if (c == '\n') {
         lines.emplace_back();
      } else {
         lines.back().push_back(c);
      }
   }
   lines.pop_back();
   return lines;
}

TEST_F(ProcessActions, StopRunningServicesHandsTheListToTheRestartManager)
{
   // Beside this program, where the library's load by name finds it before
   // Wine's own stubs.
   wchar_t exe[MAX_PATH] = {};
   GetModuleFileNameW(nullptr, exe, MAX_PATH);
   const std::wstring standIn = std::filesystem::path(exe).parent_path().wstring() + L"\\Rstrtmgr.dll";
   const std::wstring record = ProcessFolder() + L"rm-record.txt";
   ASSERT_TRUE(CopyFileW(processtest::BuiltFile(Wide(OV_RESTART_MANAGER_DLL)).c_str(), standIn.c_str(), FALSE));
   SetEnvironmentVariableW(L"OV_RM_RECORD", record.c_str());
   ASSERT_TRUE(version.Valid());
   const std::string start = "RmStartSession flags 0 key ''", end = "RmEndSession session 7", down = "RmShutdown session 7 flags 0";
   const std::string reg = "RmRegisterResources session 7 files 0 applications 0 services";
   const std::string loaded = "I1 Util_LoadLibrary: Loaded library Rstrtmgr.dll(*", failed = "| winerror code 1235*";
   const std::string ok = "I1 Util_StopFilesInUse: Util_StopFilesInUse returning success", fail = ok.substr(0, ok.size() - 7) + "failure";
   const struct { const char *value, *failing; bool vista; Strings lines, calls; } cases[] = {
      {"2;a;b", "", false, {}, {}},
      {"2;Alpha;Beta", "", true, {loaded, kFreed, ok}, {start, reg + " 'Alpha' 'Beta'", down, end}},
      {"3;a;b", "", true, {loaded, kFreed, ok}, {start, reg + " 'a' 'b'", down, end}},
      {"2;a;b;c", "", true, {loaded, kFreed, ok}, {start, reg + " 'a' 'b'", down, end}},
      {"1;a;", "", true, {loaded, kFreed, ok}, {start, reg + " 'a'", down, end}},
      {"2;", "", true, {"I1 Util_StopFilesInUse: Number of services to stop is zero", fail}, {}},
      {"Alpha", "", true, {"I0 Number of services not provided"}, {}},
      {"0;a", "", true, {"I0 Number of services is zero"}, {}},
      {"-2;a", "", true, {"I0 Memory allocation failed"}, {}},
      {"1;a", "RmStartSession", true, {loaded, "E1 Util_StopFilesInUse: RmStartSession failed" + failed, kFreed, fail}, {start}},
      {"1;a", "RmRegisterResources", true,
       {loaded, "E1 Util_StopFilesInUse: RmRegisterResources failed" + failed, kFreed, fail}, {start, reg + " 'a'", end}},
      {"1;a", "RmShutdown", true,
       {loaded, "E1 Util_StopFilesInUse: RmShutdown failed" + failed, kFreed, fail}, {start, reg + " 'a'", down, end}},
      {"1;a", "RmEndSession", true,
       {loaded, "E1 Util_StopFilesInUse: RmEndSession failed" + failed, kFreed, ok}, {start, reg + " 'a'", down, end}},
   };
   gVersion[0] = 6, gVersion[1] = 0, gVersion[2] = 6002, gVersion[3] = 2;
   for (const auto &c : cases) {
      SCOPED_TRACE(std::string(c.value) + " " + c.failing);
      c.vista ? version.Point(&PretendVersion) : version.Restore();
      SetEnvironmentVariableW(L"OV_RM_FAIL", Wide(c.failing).c_str());
      DeleteFileW(record.c_str());
      EXPECT_EQ(0u, session.Set("StopRunningServices", c.value));
      Strings lines = c.lines;
      if (c.vista) {
         lines.insert(lines.begin(), std::string("I0 StopRunningService property ") + c.value);
      }
      Run("OVStopRunningServices", lines, "Stopping services.");
      EXPECT_EQ(c.calls, ReadRecord(record));
   }
   SetEnvironmentVariableW(L"OV_RM_RECORD", nullptr);
   SetEnvironmentVariableW(L"OV_RM_FAIL", nullptr);
   EXPECT_TRUE(DeleteFileW(standIn.c_str())) << "the library is freed after each call";
}

// A copy of the test service under `name`, brought to `state` (started and,
// once running, sent `control`), stopped and deleted at the end.
struct SearchService {
   SearchService(const std::string &n, const char *mode, DWORD state = SERVICE_STOPPED, DWORD control = 0) : name(n)
   {
      const std::wstring exe = ProcessFolder() + L"ov_test_service.exe";
      CopyFileW(processtest::BuiltFile(Wide(OV_TEST_SERVICE_EXE)).c_str(), exe.c_str(), FALSE);
      path = "\"" + Utf8(exe) + "\" " + mode;
      service = CreateServiceW(manager, Wide(name).c_str(), nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                               SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, Wide(path).c_str(), 0, 0, 0, 0, 0);
      if (state != SERVICE_STOPPED && StartServiceW(service, 0, nullptr) && control != 0 && Await(SERVICE_RUNNING)) {
         ControlService(service, control, &status);
      }
      EXPECT_TRUE(Await(state)) << name << " in state " << State();
   }
   ~SearchService()
   {
      ControlService(service, SERVICE_CONTROL_STOP, &status);
      Await(SERVICE_STOPPED);
      DeleteService(service);
      CloseServiceHandle(service);
      CloseServiceHandle(manager);
   }
   DWORD State() { return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0; }
   bool Await(DWORD state)
   {
      for (int i = 0; i < 100 && State() != state; i++) {
         Sleep(100);
      }
      return status.dwCurrentState == state;
   }

   const std::string name;
   std::string path;
   SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), service = nullptr;
   SERVICE_STATUS status = {};
};

SC_HANDLE WINAPI RefusingOpenSCManager(LPCWSTR, LPCWSTR, DWORD)
{
   SetLastError(ERROR_ACCESS_DENIED);
   return nullptr;
}

// The session's OVAppSearch table made anew with `rows` (property, file
// name, attributes; MSI_NULL_INTEGER: a null field).
UINT FillSearchTable(MSIHANDLE install, const std::vector<std::tuple<std::string, std::string, int>> &rows)
{
   MsiHandle db(MsiGetActiveDatabase(install)), view;
   if (MsiDatabaseOpenViewW(db.Get(), L"DROP TABLE `OVAppSearch`", view.Out()) == ERROR_SUCCESS) {
      MsiViewExecute(view.Get(), 0);
   }
   UINT rc = MsiDatabaseOpenViewW(db.Get(), L"CREATE TABLE `OVAppSearch` (`Property` CHAR(255) NOT NULL, `FileName` CHAR(0), "
                                            L"`Attributes` LONG PRIMARY KEY `Property`)", view.Out());
   rc = rc != ERROR_SUCCESS ? rc : MsiViewExecute(view.Get(), 0);
   rc = rc != ERROR_SUCCESS ? rc : MsiDatabaseOpenViewW(db.Get(), L"INSERT INTO `OVAppSearch` (`Property`, `FileName`, "
                                                                  L"`Attributes`) VALUES (?, ?, ?)", view.Out());
   for (const auto &[property, fileName, attributes] : rows) {
      MsiHandle record(MsiCreateRecord(3));
      MsiRecordSetStringW(record.Get(), 1, Wide(property).c_str());
      MsiRecordSetStringW(record.Get(), 2, Wide(fileName).c_str());
      MsiRecordSetInteger(record.Get(), 3, attributes);
      rc = rc != ERROR_SUCCESS ? rc : MsiViewExecute(view.Get(), record.Get());
   }
   return rc;
}

TEST_F(ProcessActions, AppSearchSetsThePropertiesOfTheRowsThatHold)
{
   const std::string tag = Num(GetCurrentProcessId());
   // The stuck modes hold their pending state 12 s: long enough for a slow
   // run of the cases below, short enough for the clean-up to see them end.
   SearchService stopped("ovs-stopped-" + tag, "normal"), running("ovs-running-" + tag, "normal", SERVICE_RUNNING),
      paused("ovs-paused-" + tag, "normal", SERVICE_PAUSED, SERVICE_CONTROL_PAUSE),
      starting("ovs-starting-" + tag, "stuckstart 12", SERVICE_START_PENDING),
      stopping("ovs-stopping-" + tag, "stuckstop 12", SERVICE_STOP_PENDING, SERVICE_CONTROL_STOP);
   auto notepad = Start("notepad.exe");
   UINT missingTable = 0;   // the installer's answer to a query of a missing table
   {
      MsiHandle db(MsiGetActiveDatabase(session.Handle())), view;
      missingTable = MsiDatabaseOpenViewW(db.Get(), L"SELECT * FROM OVAppSearch ", view.Out());
   }
   // Every kind of row in turn; each service row reads Version9X first.
   const std::string v9x = Got("Version9X = "), noService = "I0 Service no-such-service could not be opened.";
   Strings every = {kLoaded, "I1 Util_IsInMemory: Process found notepad.exe with ID " + Num(notepad->Pid()), kFreed,
                    SetTo("P01", "notepad"), "I0 notepad found in memory and P01 set", kLoaded, kFreed, v9x,
                    "I0 Service " + stopped.name + " was found by name.",
                    "I0 Service " + stopped.name + " found with exe path \"" + stopped.path + "\".", SetTo("P03", stopped.path),
                    "I0 " + stopped.path + " service exists and P03 set", v9x, noService};
   const struct { SearchService &s; const char *line, *name, *property; } states[] = {
      {stopped, " is stopped.", nullptr, "P05"}, {running, " is running.", "SERVICE_RUNNING", "P06"},
      {paused, " is paused. (assume running)", "SERVICE_PAUSED", "P07"},
      {starting, " is pending start. (assume running)", "SERVICE_START_PENDING", "P08"},
      {stopping, " is pending stopped.", nullptr, "P09"}};
   for (const auto &st : states) {
      for (const std::string &line : {v9x, "I0 Service " + st.s.name + " was found.", "I0 Service " + st.s.name + st.line}) {
         every.push_back(line);
      }
      if (st.name != nullptr) {
         every.push_back(SetTo(st.property, st.name));
         every.push_back("I0 " + std::string(st.name) + " service is running and " + st.property + " set");
      }
   }
   for (const std::string &line : {v9x, noService, SetTo("P11", ""), std::string("I0 Unrecognized attribute: 0"),
                                   SetTo("P12", ""), std::string("I0 Unrecognized attribute: 4")}) {
      every.push_back(line);
   }
   const int null = static_cast<int>(MSI_NULL_INTEGER);
   const std::string noManager = "I0 Opening Service Manager failed: %";
   testutil::ImportSlot manager(dll.Module(), "advapi32.dll", "OpenSCManagerW");
   ASSERT_TRUE(manager.Valid());
   const struct { bool table; std::vector<std::tuple<std::string, std::string, int>> rows; const char *v9x; Strings lines; Strings after; bool refuseManager = false; } cases[] = {
      {false, {}, "", {"I0 Failed to open database view: " + Num(missingTable)}, {}},
      {true, {}, "", {}, {}},
      {true, {{"P01", "notepad", 1}, {"P02", "no-such-program", 1}, {"P03", stopped.name, 2}, {"P04", "no-such-service", 2},
              {"P05", stopped.name, 3}, {"P06", running.name, 3}, {"P07", paused.name, 3}, {"P08", starting.name, 3},
              {"P09", stopping.name, 3}, {"P10", "no-such-service", 3}, {"P11", "x", 0}, {"P12", "x", 4}},
       "", every,
       {"notepad", "stale", stopped.path, "stale", "stale", "SERVICE_RUNNING", "SERVICE_PAUSED", "SERVICE_START_PENDING",
        "stale", "stale", "", ""}},
      {true, {{"P01", stopped.name, 2}, {"P02", running.name, 3}}, "1",
       {Got("Version9X = 1"), SetTo("P01", ""), "I0 Services not available on 9X", Got("Version9X = 1"), SetTo("P02", ""),
        "I0 Services not available on 9X"}, {"", ""}},
      {true, {{"P01", stopped.name, 2}, {"P02", running.name, 3}}, "", {v9x, noManager, v9x, noManager}, {"stale", "stale"}, true},
      {true, {{"P01", "x", null}, {"P02", "x", 0}}, "", {"I0 Failed to retrieve attributes"}, {"stale", "stale"}},
      {true, {{std::string(128, 'P'), "x", 0}}, "", {"I0 Failed to retrieve property string: 234"}, {}},
      {true, {{"P01", std::string(260, 'f'), 0}}, "", {"I0 Failed to retrieve filename string: 234"}, {"stale"}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.lines.empty() ? "empty table" : c.lines.back());
      ASSERT_TRUE(!c.table || FillSearchTable(session.Handle(), c.rows) == ERROR_SUCCESS);
      c.refuseManager ? manager.Point(&RefusingOpenSCManager) : manager.Restore();
      EXPECT_EQ(0u, session.Set("Version9X", c.v9x));
      for (int i = 1; i <= 12; i++) {
         session.Set(("P" + std::string(i < 10 ? "0" : "") + Num(i)).c_str(), "stale");
      }
      Run("OVAppSearch", c.lines, "OVAppSearch running", "OVAppSearch ended");
      for (size_t i = 0; i < c.after.size(); i++) {
         EXPECT_EQ(c.after[i], session.Get(std::get<0>(c.rows[i]).c_str())) << std::get<0>(c.rows[i]);
      }
   }
}

}  // namespace
