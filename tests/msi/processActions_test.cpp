// The process, registration, stop-services and application-search custom
// actions through the built DLL in real installer sessions, against real
// processes (copies of ov_sleeper), COM server DLLs, the test service, and
// the recording Rstrtmgr.dll beside this program. Each scenario's expected
// result is the transcript of the lines it must leave.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "common/msiUtil.h"
#include "tests/msi/msiSession.h"
#include "tests/process/sleeperProcess.h"
#include "tests/win/importSlot.h"

using namespace msitest;

namespace {

using Strings = std::vector<std::string>;

std::string Num(unsigned long long n)
{
   return std::to_string(n);
}

std::string Get(const std::string &name)
{
   return "I1 MsiUtil_GetPropertyString: Getting Property " + name;
}

std::string SetLine(const std::string &name, const std::string &value)
{
   return "I1 MsiUtil_SetProperty: Setting property " + name + " = " + value;
}

// Lines ending in '*' match any line that begins with the text before it
// (library handles, error texts).
void ExpectLines(const Strings &want, Strings got)
{
   for (size_t i = 0; i < want.size() && i < got.size(); i++) {
      const std::string &w = want[i];
      if (!w.empty() && w.back() == '*' && got[i].compare(0, w.size() - 1, w, 0, w.size() - 1) == 0) {
         got[i] = w;
      }
   }
   EXPECT_EQ(want, got);
}

class ProcessActions : public testing::Test {
protected:
   void SetUp() override { ASSERT_TRUE(session.Ok()) << session.Failure(); }

   // The export's transcript, the session's own begin and end lines left out.
   Strings Run(const char *exportName)
   {
      LogMark mark;
      EXPECT_EQ(0u, dll.Call(exportName, session.Handle()));
      Strings lines;
      for (const LogLine &line : mark.Lines()) {
         EXPECT_EQ(CustomActionTag(), line.tag) << line.text;
         if (line.level != "XX") {
            lines.push_back(line.level + " " + line.text);
         }
      }
      return lines;
   }

   // A sleeper in the process folder.
   std::unique_ptr<processtest::Sleeper> Start(const std::string &exeName, const std::string &tail = "")
   {
      auto p = std::make_unique<processtest::Sleeper>(Wide(OV_SLEEPER_EXE), ProcessFolder() + Wide(exeName),
                                                      Wide(tail));
      EXPECT_TRUE(p->Started()) << exeName;
      return p;
   }

   LoadedDll dll;
   MsiSession session;
};

TEST_F(ProcessActions, AppTerminateEndsTheFirstMatchOfTheWholeValue)
{
   auto first = Start("ovapp-a.exe"), second = Start("ovapp-b.exe");
   const std::string a = Num(first->Pid());
   const struct {
      const char *label, *property, *customActionData;
      bool firstEnds;
      Strings lines;
   } cases[] = {
      {"two names are one text", "ovapp-a.exe;ovapp-b.exe", "ovapp", false,
       {Get("OV_AppTerminate = ovapp-a.exe;ovapp-b.exe"), "I1 Util_LoadLibrary: Loaded library Kernel32.dll(*",
        "I1 Util_FreeLibrary: Freeing library: *",
        "I1 Util_AppTerminate: ovapp-a.exe;ovapp-b.exe *NOT* found in memory."}},
      {"both empty", "", "", false,
       {"I1 MsiUtil_GetPropertyString: Getting Property OV_AppTerminate = ",
        "I1 MsiUtil_GetPropertyString: Getting Property CustomActionData = ",
        "I0 Failed to get OV_AppTerminate or CustomActionData property."}},
      {"deferred: the first of two", "", "OVAPP", true,
       {"I1 MsiUtil_GetPropertyString: Getting Property OV_AppTerminate = ", Get("CustomActionData = OVAPP"),
        "I1 Util_LoadLibrary: Loaded library Kernel32.dll(*", "I1 Util_IsInMemory: Process found ovapp-a.exe with ID " + a,
        "I1 Util_FreeLibrary: Freeing library: *", "I1 Util_AppTerminate: OVAPP with pid " + a + " found in memory!",
        "I1 Util_AppTerminate: Process terminated: OVAPP"}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      EXPECT_EQ(0u, session.Set("OV_AppTerminate", c.property));
      EXPECT_EQ(0u, session.Set("CustomActionData", c.customActionData));
      Strings want = {"I0 OVAppTerminate running"};
      want.insert(want.end(), c.lines.begin(), c.lines.end());
      want.push_back("I0 OVAppTerminate ended");
      ExpectLines(want, Run("OVAppTerminate"));
      EXPECT_EQ(c.firstEnds, first->EndsWithin(c.firstEnds ? 5000 : 0));
      EXPECT_TRUE(second->Running());
   }
}

// Wine lets every process read every other; a refused open is made here for
// the first virtual machine process only.
DWORD gRefusedPid = 0;
HANDLE WINAPI RefusingOpenProcess(DWORD access, BOOL inherit, DWORD pid)
{
   if (pid == gRefusedPid) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
   }
   return OpenProcess(access, inherit, pid);
}

TEST_F(ProcessActions, DetectRunningVMReadsTheMachinePathOnEachCommandLine)
{
   const std::string machineA = " \"C:\\VMs\\Alpha\\Alpha.ovx\"", machineB = " \"C:\\VMs\\Beta b\\Beta.ovx\"";
   auto a = Start("orvane-ovx.exe", machineA);
   auto b = Start("Orvane-OVX-b.exe", machineB);
   auto other = Start("vm-orvane-ovx.exe", " \"C:\\VMs\\Gamma\\Gamma.ovx\"");   // no prefix: never read
   testutil::ImportSlot open(dll.Module(), "kernel32.dll", "OpenProcess");
   ASSERT_TRUE(open.Valid());
   const struct {
      const char *label, *ovx;
      bool refuseFirst;
      const char *running;
      Strings lines;
   } cases[] = {
      {"no OVX", "", false, "", {"I1 MsiUtil_GetPropertyString: Getting Property OVX = ", "I0 OVX property did not exist"}},
      {"second machine, other case", "c:\\vms\\BETA B\\beta.OVX", false, "1", {Get("OVX = c:\\vms\\BETA B\\beta.OVX")}},
      {"first machine", "C:\\VMs\\Alpha", false, "1", {Get("OVX = C:\\VMs\\Alpha")}},
      {"first unreadable", "C:\\VMs\\Alpha", true, "",
       {Get("OVX = C:\\VMs\\Alpha"), "I0 OpenProcess of procId failed with error 0x5"}},
      {"first unreadable, second matches", "Beta.ovx", true, "1",
       {Get("OVX = Beta.ovx"), "I0 OpenProcess of procId failed with error 0x5"}},
      {"no such machine", "C:\\VMs\\Gamma", false, "", {Get("OVX = C:\\VMs\\Gamma")}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      gRefusedPid = c.refuseFirst ? a->Pid() : 0;
      open.Point(&RefusingOpenProcess);
      EXPECT_EQ(0u, session.Set("OVX", c.ovx));
      EXPECT_EQ(0u, session.Set("VM_RUNNING", "stale"));
      Strings want = {"I0 Detect Running VM"};
      want.insert(want.end(), c.lines.begin(), c.lines.end());
      want.push_back(SetLine("VM_RUNNING", c.running));
      ExpectLines(want, Run("OVDetectRunningVM"));
      EXPECT_EQ(c.running, session.Get("VM_RUNNING"));
   }
}

// --- COM registration ---------------------------------------------------------

const wchar_t kComKey[] = L"Software\\Orvane Test\\ComServers";

// The current directory the DLL's registration export saw, or "-" when the
// DLL is not registered.
std::string Registered(const char *dllName)
{
   wchar_t data[MAX_PATH] = {};
   DWORD size = sizeof data;
   return RegGetValueW(HKEY_CURRENT_USER, kComKey, Wide(dllName).c_str(), RRF_RT_REG_SZ, nullptr, data, &size) ==
                ERROR_SUCCESS
             ? Utf8(data)
             : "-";
}

// GetVersionExA as NT 4 (SP 6) reports it, for the branch that never calls
// the DLL itself.
BOOL WINAPI Nt4Version(OSVERSIONINFOA *info)
{
   if (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXA) && info->dwOSVersionInfoSize != sizeof *info) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
   }
   const DWORD size = info->dwOSVersionInfoSize;
   memset(info, 0, size);
   info->dwOSVersionInfoSize = size;
   info->dwMajorVersion = 4;
   info->dwBuildNumber = 1381;
   info->dwPlatformId = VER_PLATFORM_WIN32_NT;
   if (size == sizeof(OSVERSIONINFOEXA)) {
      auto ex = reinterpret_cast<OSVERSIONINFOEXA *>(info);
      ex->wServicePackMajor = 6;
      ex->wProductType = VER_NT_WORKSTATION;
   }
   return TRUE;
}

TEST_F(ProcessActions, RegistrationCallsTheDllInItsFolderAndFallsBackToRegsvr32)
{
   const std::wstring folder = ProcessFolder() + L"com servers";
   ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
   for (const char *dll : {OV_COM_PLAIN_DLL, OV_COM_WITH_DEP_DLL, OV_COM_DEP_DLL, OV_COM_NO_UNREGISTER_DLL}) {
      const std::wstring from = processtest::BuiltFile(Wide(dll));
      ASSERT_TRUE(CopyFileW(from.c_str(), (folder + from.substr(from.find_last_of(L'\\'))).c_str(), FALSE));
   }
   // The dependent server alone, without the DLL it imports.
   const std::wstring alone = ProcessFolder() + L"nodep";
   ASSERT_TRUE(CreateDirectoryW(alone.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
   ASSERT_TRUE(CopyFileW((folder + L"\\ov_com_with_dep.dll").c_str(), (alone + L"\\ov_com_with_dep.dll").c_str(),
                         FALSE));
   const std::string dir = Utf8(folder), nodep = Utf8(alone);
   wchar_t cwd[MAX_PATH] = {};
   GetCurrentDirectoryW(MAX_PATH, cwd);
   const std::string testCwd = Utf8(cwd);
   const std::string regsvr32 = "I1 Util_Launch: Attempting to launch \"\"C:\\windows\\system32\\regsvr32.exe\" \"" + dir;
   RegDeleteKeyW(HKEY_CURRENT_USER, kComKey);

   testutil::ImportSlot version(dll.Module(), "kernel32.dll", "GetVersionExA");
   ASSERT_TRUE(version.Valid());
   const struct {
      const char *label, *export_;
      std::string data;
      bool nt4, failing;
      const char *dllName, *registered;   // where its export ran afterwards ("-": unregistered)
      Strings lines;
   } cases[] = {
      {"dependency missing", "OVRegSvr", nodep + ";ov_com_with_dep.dll", false, false, "ov_com_with_dep.dll", "-",
       {"I0 File to be registered " + nodep + "\\ov_com_with_dep.dll",
        "E1 Util_RegServer: Failed to load dll \"" + nodep + "\\ov_com_with_dep.dll\"| winerror code 126*",
        "I1 Util_Launch: Attempting to launch \"\"C:\\windows\\system32\\regsvr32.exe\" \"" + nodep +
           "\\ov_com_with_dep.dll\" /s\""}},
      {"register two, odd token left", "OVRegSvr", dir + ";ov_com_plain.dll;" + dir + ";ov_com_with_dep.dll;" + dir,
       false, false, "ov_com_with_dep.dll", dir.c_str(),
       {"I0 File to be registered " + dir + "\\ov_com_plain.dll",
        "I1 Util_RegServer: Successfully registered dll: \"" + dir + "\\ov_com_plain.dll\"",
        "I0 File to be registered " + dir + "\\ov_com_with_dep.dll",
        "I1 Util_RegServer: Successfully registered dll: \"" + dir + "\\ov_com_with_dep.dll\""}},
      {"unregister", "OVUnregSvr", dir + ";ov_com_plain.dll", false, false, "ov_com_plain.dll", "-",
       {"I0 File to be unregistered " + dir + "\\ov_com_plain.dll",
        "I1 Util_RegServer: Successfully unregistered dll: \"" + dir + "\\ov_com_plain.dll\""}},
      {"no DllUnregisterServer", "OVUnregSvr", dir + ";ov_com_no_unregister.dll", false, false,
       "ov_com_no_unregister.dll", "-",
       {"I0 File to be unregistered " + dir + "\\ov_com_no_unregister.dll",
        "E1 Util_RegServer: Failed to find DllUnregisterServer export in \"ov_com_no_unregister.dll\"",
        regsvr32 + "\\ov_com_no_unregister.dll\" /u /s\""}},
      {"NT 4: regsvr32 only", "OVRegSvr", dir + ";ov_com_no_unregister.dll", true, false,
       "ov_com_no_unregister.dll", testCwd.c_str(),
       {"I0 File to be registered " + dir + "\\ov_com_no_unregister.dll",
        regsvr32 + "\\ov_com_no_unregister.dll\" /s\""}},
      {"failing export", "OVRegSvr", dir + ";ov_com_plain.dll", false, true, "ov_com_plain.dll", "-",
       {"I0 File to be registered " + dir + "\\ov_com_plain.dll",
        "E1 Util_RegServer: Direct call to DllRegisterServer failed: 2147500037",
        regsvr32 + "\\ov_com_plain.dll\" /s\""}},
      {"missing DLL, then an empty folder", "OVRegSvr", dir + ";none.dll;;ov_com_plain.dll", false, false,
       "ov_com_plain.dll", "-",
       {"I0 File to be registered " + dir + "\\none.dll",
        "E1 Util_RegServer: Can't register non-existent dll: \"" + dir + "\\none.dll\""}},
      {"no data", "OVUnregSvr", "", false, false, "ov_com_plain.dll", "-",
       {"I0 ERROR: The CustomActionData property has no data."}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      c.nt4 ? version.Point(&Nt4Version) : version.Restore();
      SetEnvironmentVariableW(L"OV_COM_FAIL", c.failing ? L"1" : nullptr);
      EXPECT_EQ(0u, session.Set("CustomActionData", c.data.c_str()));
      Strings want = {Get("CustomActionData = " + c.data)};
      want.insert(want.end(), c.lines.begin(), c.lines.end());
      ExpectLines(want, Run(c.export_));
      EXPECT_EQ(c.registered, Registered(c.dllName));
   }
   SetEnvironmentVariableW(L"OV_COM_FAIL", nullptr);
   wchar_t after[MAX_PATH] = {};
   GetCurrentDirectoryW(MAX_PATH, after);
   EXPECT_EQ(testCwd, Utf8(after)) << "the current directory is put back";
   RegDeleteKeyW(HKEY_CURRENT_USER, kComKey);
}

// --- Stop-services ----------------------------------------------------------------

BOOL WINAPI VistaVersion(OSVERSIONINFOA *info)
{
   const DWORD size = info->dwOSVersionInfoSize;
   memset(info, 0, size);
   info->dwOSVersionInfoSize = size;
   info->dwMajorVersion = 6;
   info->dwBuildNumber = 6002;
   info->dwPlatformId = VER_PLATFORM_WIN32_NT;
   if (size == sizeof(OSVERSIONINFOEXA)) {
      auto ex = reinterpret_cast<OSVERSIONINFOEXA *>(info);
      ex->wServicePackMajor = 2;
      ex->wProductType = VER_NT_WORKSTATION;
   }
   return TRUE;
}

Strings ReadRecord(const std::wstring &file)
{
   Strings lines;
   std::ifstream in(file.c_str(), std::ios::binary);
   const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
   // The stand-in writes wide text; the names here are ASCII.
   std::string line;
   for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
      const char c = bytes[i];
      if (c == '\n') {
         lines.push_back(line);
         line.clear();
      } else {
         line += c;
      }
   }
   return lines;
}

TEST_F(ProcessActions, StopRunningServicesHandsTheListToTheRestartManager)
{
   const std::wstring record = ProcessFolder() + L"rm-record.txt";
   // The stand-in goes beside this program, where the library's load by
   // name finds it before Wine's own.
   wchar_t self[MAX_PATH] = {};
   GetModuleFileNameW(nullptr, self, MAX_PATH);
   const std::wstring standIn = std::wstring(self).substr(0, std::wstring(self).find_last_of(L'\\')) + L"\\Rstrtmgr.dll";
   ASSERT_TRUE(CopyFileW(processtest::BuiltFile(Wide(OV_RESTART_MANAGER_DLL)).c_str(), standIn.c_str(), FALSE));
   SetEnvironmentVariableW(L"OV_RM_RECORD", record.c_str());
   testutil::ImportSlot version(dll.Module(), "kernel32.dll", "GetVersionExA");
   ASSERT_TRUE(version.Valid());
   const std::string start = "RmStartSession flags 0 key ''", end = "RmEndSession session 7";
   const std::string shutdown = "RmShutdown session 7 flags 0", registered = "RmRegisterResources session 7 files 0 applications 0 services";
   const std::string loaded = "I1 Util_LoadLibrary: Loaded library Rstrtmgr.dll(*", freed = "I1 Util_FreeLibrary: Freeing library: *";
   const std::string success = "I1 Util_StopFilesInUse: Util_StopFilesInUse returning success";
   const std::string failure = "I1 Util_StopFilesInUse: Util_StopFilesInUse returning failure";
   const struct {
      const char *label, *value, *failing;
      bool vista;
      Strings lines, calls;
   } cases[] = {
      {"not Vista", "2;a;b", "", false, {}, {}},
      {"two of two", "2;Alpha;Beta", "", true,
       {"I0 StopRunningService property 2;Alpha;Beta", loaded, freed, success},
       {start, registered + " 'Alpha' 'Beta'", shutdown, end}},
      {"three announced, two given", "3;a;b", "", true,
       {"I0 StopRunningService property 3;a;b", loaded, freed, success}, {start, registered + " 'a' 'b'", shutdown, end}},
      {"two of three", "2;a;b;c", "", true,
       {"I0 StopRunningService property 2;a;b;c", loaded, freed, success}, {start, registered + " 'a' 'b'", shutdown, end}},
      {"trailing separator", "1;a;", "", true,
       {"I0 StopRunningService property 1;a;", loaded, freed, success}, {start, registered + " 'a'", shutdown, end}},
      {"no names", "2;", "", true,
       {"I0 StopRunningService property 2;", "I1 Util_StopFilesInUse: Number of services to stop is zero", failure}, {}},
      {"no count", "Alpha", "", true, {"I0 StopRunningService property Alpha", "I0 Number of services not provided"}, {}},
      {"zero count", "0;a", "", true, {"I0 StopRunningService property 0;a", "I0 Number of services is zero"}, {}},
      {"negative count", "-2;a", "", true, {"I0 StopRunningService property -2;a", "I0 Memory allocation failed"}, {}},
      {"start fails", "1;a", "RmStartSession", true,
       {"I0 StopRunningService property 1;a", loaded, "E1 Util_StopFilesInUse: RmStartSession failed| winerror code 1235*",
        freed, failure},
       {start}},
      {"registration fails, session still ended", "1;a", "RmRegisterResources", true,
       {"I0 StopRunningService property 1;a", loaded,
        "E1 Util_StopFilesInUse: RmRegisterResources failed| winerror code 1235*", freed, failure},
       {start, registered + " 'a'", end}},
      {"shutdown fails", "1;a", "RmShutdown", true,
       {"I0 StopRunningService property 1;a", loaded, "E1 Util_StopFilesInUse: RmShutdown failed| winerror code 1235*",
        freed, failure},
       {start, registered + " 'a'", shutdown, end}},
      {"end fails", "1;a", "RmEndSession", true,
       {"I0 StopRunningService property 1;a", loaded, "E1 Util_StopFilesInUse: RmEndSession failed| winerror code 1235*",
        freed, success},
       {start, registered + " 'a'", shutdown, end}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      c.vista ? version.Point(&VistaVersion) : version.Restore();
      SetEnvironmentVariableW(L"OV_RM_FAIL", Wide(c.failing).c_str());
      DeleteFileW(record.c_str());
      EXPECT_EQ(0u, session.Set("StopRunningServices", c.value));
      Strings want = {"I0 Stopping services."};
      want.insert(want.end(), c.lines.begin(), c.lines.end());
      ExpectLines(want, Run("OVStopRunningServices"));
      EXPECT_EQ(c.calls, ReadRecord(record));
   }
   SetEnvironmentVariableW(L"OV_RM_RECORD", nullptr);
   SetEnvironmentVariableW(L"OV_RM_FAIL", nullptr);
   EXPECT_TRUE(DeleteFileW(standIn.c_str())) << "the library is freed after each call";
}

}  // namespace

// --- Application search ------------------------------------------------------------

// A copy of the test service installed under a name of this process, put in
// the state a row needs, stopped and deleted when the owner goes.
class SearchService {
public:
   SearchService(const std::string &name, const std::string &mode) : name_(name)
   {
      const std::wstring exe = ProcessFolder() + L"ov_test_service.exe";
      CopyFileW(processtest::BuiltFile(Wide(OV_TEST_SERVICE_EXE)).c_str(), exe.c_str(), FALSE);
      path_ = "\"" + Utf8(exe) + "\" " + mode;
      manager_ = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
      service_ = CreateServiceW(manager_, Wide(name).c_str(), Wide(name).c_str(), SERVICE_ALL_ACCESS,
                                SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                Wide(path_).c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
      EXPECT_NE(nullptr, service_) << name << ": " << GetLastError();
   }
   ~SearchService()
   {
      SERVICE_STATUS status = {};
      ControlService(service_, SERVICE_CONTROL_STOP, &status);
      for (int i = 0; i < 100 && QueryServiceStatus(service_, &status) && status.dwCurrentState != SERVICE_STOPPED;
           i++) {
         Sleep(100);
      }
      DeleteService(service_);
      CloseServiceHandle(service_);
      CloseServiceHandle(manager_);
   }
   SearchService(const SearchService &) = delete;
   SearchService &operator=(const SearchService &) = delete;

   // Starts it and sends `control` (0: none); true once `state` is reached.
   bool Reach(DWORD state, DWORD control = 0)
   {
      SERVICE_STATUS status = {};
      if (!StartServiceW(service_, 0, nullptr)) {
         return false;
      }
      for (int i = 0; i < 50; i++) {
         if (QueryServiceStatus(service_, &status) &&
             (status.dwCurrentState == state || status.dwCurrentState == SERVICE_RUNNING)) {
            break;
         }
         Sleep(100);
      }
      if (control != 0) {
         ControlService(service_, control, &status);
      }
      for (int i = 0; i < 50; i++) {
         if (QueryServiceStatus(service_, &status) && status.dwCurrentState == state) {
            return true;
         }
         Sleep(100);
      }
      return false;
   }
   const std::string &Name() const { return name_; }
   const std::string &Path() const { return path_; }

private:
   std::string name_, path_;
   SC_HANDLE manager_ = nullptr, service_ = nullptr;
};

struct SearchRow {
   std::string property, fileName;
   int attributes;   // MSI_NULL_INTEGER: a null field
};

// Replaces the session's OVAppSearch table by one holding `rows`.
UINT FillSearchTable(MSIHANDLE install, const std::vector<SearchRow> &rows)
{
   MsiHandle db(MsiGetActiveDatabase(install)), view;
   if (MsiDatabaseOpenViewW(db.Get(), L"DROP TABLE `OVAppSearch`", view.Out()) == ERROR_SUCCESS) {
      MsiViewExecute(view.Get(), 0);
   }
   UINT rc = MsiDatabaseOpenViewW(db.Get(),
                                  L"CREATE TABLE `OVAppSearch` (`Property` CHAR(255) NOT NULL, "
                                  L"`FileName` CHAR(0), `Attributes` LONG PRIMARY KEY `Property`)",
                                  view.Out());
   if (rc != ERROR_SUCCESS || (rc = MsiViewExecute(view.Get(), 0)) != ERROR_SUCCESS) {
      return rc;
   }
   rc = MsiDatabaseOpenViewW(db.Get(), L"INSERT INTO `OVAppSearch` (`Property`, `FileName`, `Attributes`) VALUES (?, ?, ?)",
                             view.Out());
   for (const SearchRow &row : rows) {
      MsiHandle record(MsiCreateRecord(3));
      MsiRecordSetStringW(record.Get(), 1, Wide(row.property).c_str());
      MsiRecordSetStringW(record.Get(), 2, Wide(row.fileName).c_str());
      MsiRecordSetInteger(record.Get(), 3, row.attributes);
      if (rc == ERROR_SUCCESS) {
         rc = MsiViewExecute(view.Get(), record.Get());
      }
   }
   return rc;
}

TEST_F(ProcessActions, AppSearchSetsThePropertiesOfTheRowsThatHold)
{
   const std::string tag = std::to_string(GetCurrentProcessId());
   SearchService stopped("ovsearch-stopped-" + tag, "normal"), running("ovsearch-running-" + tag, "normal"),
      paused("ovsearch-paused-" + tag, "normal"), starting("ovsearch-starting-" + tag, "stuckstart 4"),
      stopping("ovsearch-stopping-" + tag, "stuckstop 4");
   ASSERT_TRUE(running.Reach(SERVICE_RUNNING));
   ASSERT_TRUE(paused.Reach(SERVICE_PAUSED, SERVICE_CONTROL_PAUSE));
   ASSERT_TRUE(starting.Reach(SERVICE_START_PENDING));
   ASSERT_TRUE(stopping.Reach(SERVICE_STOP_PENDING, SERVICE_CONTROL_STOP));
   auto notepad = Start("notepad.exe");
   const std::string loaded = "I1 Util_LoadLibrary: Loaded library Kernel32.dll(*", freed = "I1 Util_FreeLibrary: Freeing library: *";
   const std::string longName(128, 'P'), longFile(260, 'f');
   // A query of the missing table as the installer answers it.
   UINT missingTable = 0;
   {
      MsiHandle db(MsiGetActiveDatabase(session.Handle())), view;
      missingTable = MsiDatabaseOpenViewW(db.Get(), L"SELECT * FROM OVAppSearch ", view.Out());
   }
   auto state = [](const SearchService &s, const char *line, const char *name, const char *property) {
      Strings lines = {"I0 Service " + s.Name() + " was found.", "I0 Service " + s.Name() + line};
      if (name != nullptr) {
         lines.push_back(SetLine(property, name));
         lines.push_back("I0 " + std::string(name) + " service is running and " + property + " set");
      }
      return lines;
   };
   // Every row of the table below in turn, each reading Version9X first
   // when it tests a service.
   const std::string v9x = "I1 MsiUtil_GetPropertyString: Getting Property Version9X = ";
   auto exists = [&](const SearchService &s, const char *property) {
      return Strings{v9x, "I0 Service " + s.Name() + " was found by name.",
                     "I0 Service " + s.Name() + " found with exe path \"" + s.Path() + "\".",
                     SetLine(property, s.Path()), "I0 " + s.Path() + " service exists and " + property + " set"};
   };
   Strings everyKind = {loaded, "I1 Util_IsInMemory: Process found notepad.exe with ID " + Num(notepad->Pid()), freed,
                        SetLine("P01", "notepad"), "I0 notepad found in memory and P01 set", loaded, freed};
   for (const Strings &more :
        {exists(stopped, "P03"), Strings{v9x, "I0 Service no-such-service could not be opened."}, Strings{v9x},
         state(stopped, " is stopped.", nullptr, "P05"), Strings{v9x},
         state(running, " is running.", "SERVICE_RUNNING", "P06"), Strings{v9x},
         state(paused, " is paused. (assume running)", "SERVICE_PAUSED", "P07"), Strings{v9x},
         state(starting, " is pending start. (assume running)", "SERVICE_START_PENDING", "P08"), Strings{v9x},
         state(stopping, " is pending stopped.", nullptr, "P09"),
         Strings{v9x, "I0 Service no-such-service could not be opened.", SetLine("P11", ""),
                 "I0 Unrecognized attribute: 0", SetLine("P12", ""), "I0 Unrecognized attribute: 4"}}) {
      everyKind.insert(everyKind.end(), more.begin(), more.end());
   }
   const struct {
      const char *label;
      bool makeTable;
      std::vector<SearchRow> rows;
      const char *version9X;
      Strings lines;
      std::vector<std::pair<std::string, std::string>> properties;   // afterwards
   } cases[] = {
      {"no table", false, {}, "", {"I0 Failed to open database view: " + Num(missingTable)}, {}},
      {"empty table", true, {}, "", {}, {}},
      {"every kind of row",
       true,
       {{"P01", "notepad", 1}, {"P02", "no-such-program", 1}, {"P03", stopped.Name(), 2}, {"P04", "no-such-service", 2},
        {"P05", stopped.Name(), 3}, {"P06", running.Name(), 3}, {"P07", paused.Name(), 3}, {"P08", starting.Name(), 3},
        {"P09", stopping.Name(), 3}, {"P10", "no-such-service", 3}, {"P11", "x", 0}, {"P12", "x", 4}},
       "",
       everyKind,
       {{"P01", "notepad"}, {"P02", "stale"}, {"P03", stopped.Path()}, {"P04", "stale"}, {"P05", "stale"},
        {"P06", "SERVICE_RUNNING"}, {"P07", "SERVICE_PAUSED"}, {"P08", "SERVICE_START_PENDING"}, {"P09", "stale"},
        {"P10", "stale"}, {"P11", ""}, {"P12", ""}}},
      {"Windows 9x", true, {{"P01", stopped.Name(), 2}, {"P02", running.Name(), 3}}, "1",
       {Get("Version9X = 1"), SetLine("P01", ""), "I0 Services not available on 9X", Get("Version9X = 1"),
        SetLine("P02", ""), "I0 Services not available on 9X"},
       {{"P01", ""}, {"P02", ""}}},
      {"null attributes end the search", true, {{"P01", "x", static_cast<int>(MSI_NULL_INTEGER)}, {"P02", "x", 0}}, "",
       {"I0 Failed to retrieve attributes"}, {{"P01", "stale"}, {"P02", "stale"}}},
      {"property name too long", true, {{longName, "x", 0}}, "", {"I0 Failed to retrieve property string: 234"}, {}},
      {"file name too long", true, {{"P01", longFile, 0}}, "", {"I0 Failed to retrieve filename string: 234"},
       {{"P01", "stale"}}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      if (c.makeTable) {
         ASSERT_EQ(0u, FillSearchTable(session.Handle(), c.rows));
      }
      EXPECT_EQ(0u, session.Set("Version9X", c.version9X));
      for (const char *p : {"P01", "P02", "P03", "P04", "P05", "P06", "P07", "P08", "P09", "P10", "P11", "P12"}) {
         EXPECT_EQ(0u, session.Set(p, "stale"));
      }
      Strings want = {"I0 OVAppSearch running"};
      want.insert(want.end(), c.lines.begin(), c.lines.end());
      want.push_back("I0 OVAppSearch ended");
      ExpectLines(want, Run("OVAppSearch"));
      for (const auto &[property, value] : c.properties) {
         EXPECT_EQ(value, session.Get(property.c_str())) << property;
      }
   }
}
