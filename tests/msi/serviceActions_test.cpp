// The service and driver custom actions in real installer sessions, against
// Wine's SCM with the project's kernel driver and test service. The DLL's
// import slots show what Wine drops or cannot produce: the tag the SCM
// would assign, the failure actions handed to it, a refused deletion, and
// the installer messages posted.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/msi/msiSession.h"
#include "tests/service/serviceTestUtil.h"
#include "tests/win/importSlot.h"

using namespace msitest;
using namespace servicetest;

namespace {

const std::wstring kDrivers = L"C:\\windows\\system32\\drivers\\";
const std::wstring kServices = L"SYSTEM\\CurrentControlSet\\services\\";
const wchar_t kGroupList[] = L"SYSTEM\\CurrentControlSet\\Control\\GroupOrderList";
const wchar_t kReboot[] = L"SOFTWARE\\Orvane, Inc.\\NeedReboot";

std::vector<DWORD> GetWords(const wchar_t *key, const std::wstring &value)
{
   std::vector<DWORD> words(16);
   DWORD bytes = DWORD(words.size() * 4);
   if (RegGetValueW(HKEY_LOCAL_MACHINE, key, value.c_str(), RRF_RT_ANY, nullptr, words.data(), &bytes) != 0) {
      bytes = 0;
   }
   words.resize(bytes / 4);
   return words;
}

std::string RebootList()
{
   char text[512] = "";
   DWORD bytes = sizeof text;
   RegGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orvane, Inc.\\NeedReboot", "Components", RRF_RT_REG_SZ, nullptr,
                text, &bytes);
   return text;
}

struct Posted {
   int type = 0, number = 0;
   std::string name;
} gPosted;
int WINAPI RecordMessage(MSIHANDLE, INSTALLMESSAGE type, MSIHANDLE record)
{
   char name[256] = "";
   DWORD size = sizeof name;
   MsiRecordGetStringA(record, 2, name, &size);
   gPosted = {type, MsiRecordGetInteger(record, 1), name};
   return 0;
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

BOOL WINAPI RefusedDelete(SC_HANDLE)
{
   SetLastError(ERROR_ACCESS_DENIED);
   return FALSE;
}

struct Recorded {
   bool called = false;
   DWORD reset = 0, count = 0;
   std::wstring message = L"<null>", command = L"<null>";
   std::vector<std::pair<int, DWORD>> actions;
} gRecorded;
DWORD gConfigError = 0;
BOOL WINAPI RecordFailureActions(SC_HANDLE service, DWORD level, void *info)
{
   auto *f = static_cast<SERVICE_FAILURE_ACTIONSW *>(info);
   gRecorded = {true, f->dwResetPeriod, f->cActions, f->lpRebootMsg ? f->lpRebootMsg : L"<null>",
                f->lpCommand ? f->lpCommand : L"<null>", {}};
   for (DWORD i = 0; i < f->cActions; i++) {
      gRecorded.actions.push_back({f->lpsaActions[i].Type, f->lpsaActions[i].Delay});
   }
   if (gConfigError != 0) {
      SetLastError(gConfigError);
      return FALSE;
   }
   return ChangeServiceConfig2W(service, level, info);
}

class ServiceActions : public testing::Test {
protected:
   void SetUp() override
   {
      ASSERT_TRUE(session.Ok()) << session.Failure();
      ASSERT_TRUE(messages.Valid());
      messages.Point(&RecordMessage);
      gPosted = {};
      RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kReboot, L"Components");
   }
   // The export's own lines (I0), as "I0 text"; the result checked.
   Lines Run(const char *exportName, const std::string &data, UINT rc)
   {
      EXPECT_EQ(0u, session.Set("CustomActionData", data.c_str()));
      LogMark mark;
      EXPECT_EQ(rc, dll.Call(exportName, session.Handle())) << data;
      Lines own;
      for (const std::string &line : mark.Transcript()) {
         line.compare(0, 3, "I0 ") == 0 && (own.push_back(line), true);
      }
      return own;
   }

   LoadedDll dll;
   MsiSession session;
   testutil::ImportSlot messages{dll.Module(), "msi.dll", "MsiProcessMessage"};
};

}  // namespace

TEST_F(ServiceActions, KernelDriverPlacedAfterItsReferenceStartedAndRemoved)
{
   ServiceGuard drv(Name("Drv"));
   const std::string group = Name("Group"), ref = Name("Ref"), ref2 = Name("RefTwo");
   const std::wstring wgroup(group.begin(), group.end());
   for (auto [name, tag] : {std::pair<std::string, DWORD>{ref, 0x40}, {ref2, 0x42}}) {
      RegSetKeyValueW(HKEY_LOCAL_MACHINE, (kServices + std::wstring(name.begin(), name.end())).c_str(), L"Tag",
                      REG_DWORD, &tag, 4);
   }
   const DWORD list[] = {2, 0x40, 0x42};
   RegSetKeyValueW(HKEY_LOCAL_MACHINE, kGroupList, wgroup.c_str(), REG_BINARY, list, sizeof list);
   const std::wstring sys = CopyIn(OV_TEST_DRIVER_SYS, kDrivers + Wide(drv.name()) + L".sys");
   const std::string data = drv.name() + ";" + drv.name() + ";Does nothing;" + Utf8(sys) + ";3;1;1;" + group + ";;;";

   testutil::ImportSlot create(dll.Module(), "advapi32.dll", "CreateServiceW");
   ASSERT_TRUE(create.Valid());
   create.Point(&TagAssigning);
   const Lines installed = {"I0 --- OVInstallKernelDriver()", "I0 Installing " + drv.name()};
   Lines lines = installed;
   lines.push_back("I0 INFO: Tag 65 not found in GroupOrderList " + group + ", skipping list update");
   EXPECT_EQ(lines, Run("OVInstallKernelDriver", data + "1;" + ref, 0));
   EXPECT_EQ(DWORD(SERVICE_RUNNING), State(drv.name()));
   EXPECT_EQ((std::vector<DWORD>{3, 0x40, 0x41, 0x42}), GetWords(kGroupList, wgroup));
   const std::wstring key = kServices + Wide(drv.name());
   EXPECT_EQ((std::vector<DWORD>{SERVICE_KERNEL_DRIVER}), GetWords(key.c_str(), L"Type"));
   EXPECT_EQ((std::vector<DWORD>{3}), GetWords(key.c_str(), L"Start"));

   // Reconfigured in place: no tag from the SCM, the one in its key moves.
   EXPECT_EQ(installed, Run("OVInstallKernelDriver", data + ";" + ref2, 0));
   EXPECT_EQ((std::vector<DWORD>{3, 0x40, 0x42, 0x41}), GetWords(kGroupList, wgroup));
   EXPECT_EQ(DWORD(SERVICE_RUNNING), State(drv.name()));

   EXPECT_EQ((Lines{"I0 OVUninstallKernelDriver running", "I0 CustomActionData = " + drv.name() + ";0;1;" + group,
                    "I0 OVUninstallKernelDriver Done"}),
             Run("OVUninstallKernelDriver", drv.name() + ";0;1;" + group, 0));
   EXPECT_EQ((std::vector<DWORD>{2, 0x40, 0x42}), GetWords(kGroupList, wgroup));
   EXPECT_EQ(0u, State(drv.name()));
   EXPECT_EQ("", RebootList());
   RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kGroupList, wgroup.c_str());
   for (const std::string &name : {ref, ref2}) {
      RegDeleteKeyW(HKEY_LOCAL_MACHINE, (kServices + Wide(name)).c_str());
   }
}

TEST_F(ServiceActions, KernelDriverFailures)
{
   ServiceGuard taken(Name("Taken")), relative(Name("Relative")), stuck(Name("Stuck")), dup(Name("Dup"));
   const std::string display = Name("Display");
   SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
   CloseServiceHandle(CreateServiceA(scm, taken.name().c_str(), display.c_str(), SERVICE_ALL_ACCESS,
                                     SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, 1, "C:\\x.sys", 0, 0, 0, 0, 0));
   CloseServiceHandle(scm);
   const std::wstring nounload = CopyIn(OV_TEST_DRIVER_NOUNLOAD_SYS, kDrivers + Wide(stuck.name()) + L".sys");
   const std::string invalid = "I0 ERROR: Invalid CustomActionData for OVInstallKernelDriver";
   testutil::ImportSlot del(dll.Module(), "advapi32.dll", "DeleteService");
   ASSERT_TRUE(del.Valid());
   const struct {
      const char *exportName;
      std::string data;
      UINT rc;
      Lines lines;
      int message;
      std::string reboot;
      bool refuseDelete = false;
   } cases[] = {
      {"OVInstallKernelDriver", "", 1603, {"I0 --- OVInstallKernelDriver()", "I0 Installing ", invalid}, 0, ""},
      {"OVInstallKernelDriver", "n;;;C:\\x.sys", 1603, {"I0 --- OVInstallKernelDriver()", "I0 Installing n", invalid},
       0, ""},
      {"OVInstallKernelDriver", dup.name() + ";" + display + ";;C:\\x.sys", 1603,
       {"I0 --- OVInstallKernelDriver()", "I0 Installing " + dup.name(),
        "I0 ERROR: Failed to install service: " + dup.name()},
       0x01000030, ""},
      {"OVInstallKernelDriver", relative.name() + ";" + relative.name() + ";;system32\\drivers\\x.sys;3;1;1", 0,
       {"I0 --- OVInstallKernelDriver()", "I0 Installing " + relative.name(),
        "I0 WARNING: Failed to start service: " + relative.name()},
       0, relative.name()},
      {"OVUninstallKernelDriver", "", 1603,
       {"I0 OVUninstallKernelDriver running", "I0 CustomActionData = ",
        "I0 Invalid CustomActionData for OVUninstallKernelDriver"},
       0, ""},
      {"OVUninstallKernelDriver", taken.name(), 0,
       {"I0 OVUninstallKernelDriver running", "I0 CustomActionData = " + taken.name(),
        "I0 WARNING: Failed to uninstall service", "I0 OVUninstallKernelDriver Done"},
       0x02000030, "KernelDriverUninstall", true},
      {"OVInstallKernelDriver", stuck.name() + ";" + stuck.name() + ";;" + Utf8(nounload) + ";3;1;1", 0,
       {"I0 --- OVInstallKernelDriver()", "I0 Installing " + stuck.name()}, 0, ""},
      {"OVUninstallKernelDriver", stuck.name() + ";0;2;NoGroup", 0,
       {"I0 OVUninstallKernelDriver running", "I0 CustomActionData = " + stuck.name() + ";0;2;NoGroup",
        "I0 OVUninstallKernelDriver Done"},
       0, "KernelDriverUninstall"},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.exportName + (": " + c.data));
      gPosted = {};
      RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kReboot, L"Components");
      c.refuseDelete ? del.Point(&RefusedDelete) : del.Restore();
      EXPECT_EQ(c.lines, Run(c.exportName, c.data, c.rc));
      EXPECT_EQ(c.message, gPosted.type);
      if (c.message != 0) {
         EXPECT_EQ(c.message == 0x01000030 ? 25030 : 25031, gPosted.number);
         EXPECT_EQ(c.data.substr(0, c.data.find(';')), gPosted.name);
      }
      EXPECT_EQ(c.reboot, RebootList());
   }
}

TEST_F(ServiceActions, FailureActionsAsHandedToTheSCM)
{
   ServiceGuard svc(Name("Failing"));
   SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
   CloseServiceHandle(CreateServiceA(scm, svc.name().c_str(), svc.name().c_str(), SERVICE_ALL_ACCESS,
                                     SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, 1, "C:\\x.exe", 0, 0, 0, 0, 0));
   CloseServiceHandle(scm);
   testutil::ImportSlot change(dll.Module(), "advapi32.dll", "ChangeServiceConfig2W");
   ASSERT_TRUE(change.Valid());
   change.Point(&RecordFailureActions);
   const std::string n = svc.name(), top = "I0 --- OVServiceFailureConfig()";
   using Actions = std::vector<std::pair<int, DWORD>>;
   const struct {
      std::string data;
      DWORD error;
      Lines lines;
      DWORD reset = 0;
      const wchar_t *message = nullptr, *command = nullptr;
      Actions actions = {};
   } cases[] = {
      {n + ";restart;restart;reboot;;Going down;1;60", 0, {top}, 86400, L"Going down", L"<null>",
       {{1, 60000}, {1, 60000}, {2, 60000}}},
      {n + ";restart;;reboot;C:\\cmd.exe;msg;0;5", 0, {top}, 0, L"<null>", L"<null>", {{1, 5000}}},
      {n + ";runCommand;none;;C:\\cmd.exe /x;;-1;0", 0,
       {top, "I0 INFO: ResetPeriodInDays was less than 0 - setting to INFINITE"}, INFINITE, L"<null>",
       L"C:\\cmd.exe /x", {{3, 0}, {0, 0}}},
      {n + ";none;;;;;1;1", 0x2000ABCD, {top, "I0 ERROR: Failed to config service: '" + n + "' [Unknown error code: 0x2000abcd]"},
       86400, L"<null>", L"<null>", {{0, 1000}}},
      {n + ";Restart;;;;;1;1", 0, {top, "I0 ERROR: Unknown failure method: Restart"}},
      {n + ";none;;;;;1;-5", 0, {top, "I0 ERROR: RestartServiceDelayInSeconds is less than 0"}},
      {n + ";;none;;;;1;1", 0, {top, "I0 ERROR: No failure actions specified"}},
      {"", 0, {top, "I0 ERROR: Service name not specified"}},
      {n + "Gone;none", 0, {top, "I0 ERROR: Failed to open service: '" + n + "Gone' [*"}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.data);
      gRecorded = {};
      gConfigError = c.error;
      const bool accepted = c.lines.back().compare(0, 9, "I0 ERROR:") != 0;
      ExpectTranscript(c.lines, Run("OVServiceFailureConfig", c.data, accepted ? 0 : 1603));
      EXPECT_EQ(!c.actions.empty(), gRecorded.called);
      if (gRecorded.called) {
         EXPECT_EQ(c.reset, gRecorded.reset);
         EXPECT_EQ(c.message, gRecorded.message);
         EXPECT_EQ(c.command, gRecorded.command);
         EXPECT_EQ(c.actions, gRecorded.actions);
      }
   }
}

TEST_F(ServiceActions, InfSectionsInstallAndRemoveADriver)
{
   ServiceGuard drv(Name("Inf"));
   const std::string folder = "C:\\ov inf " + Name(""), value = "Software\\" + Name("Inf");
   CreateDirectoryA(folder.c_str(), nullptr);
   const std::string inf = folder + "\\test.inf";
   FILE *f = fopen(inf.c_str(), "w");
   ASSERT_NE(nullptr, f);
   fprintf(f, "[Version]\nSignature=\"$Windows NT$\"\n\n[OvIn]\nAddReg=OvIn.Reg\n\n[OvIn.Services]\n"
              "AddService=%s,0,OvIn.Service\n\n[OvIn.Service]\nDisplayName=\"Ov inf\"\nServiceType=1\n"
              "StartType=3\nErrorControl=1\nServiceBinary=%%12%%\\%s.sys\n\n[OvIn.Reg]\n"
              "HKLM,\"%s\",\"Installed\",0x00010001,1\n\n[OvOut]\nDelReg=OvOut.Reg\n\n[OvOut.Services]\n"
              "DelService=%s,0x200\n\n[OvOut.Reg]\nHKLM,\"%s\"\n",
           drv.name().c_str(), drv.name().c_str(), value.c_str(), drv.name().c_str(), value.c_str());
   fclose(f);
   auto lines = [&](const char *action) {
      return Lines{"I0 " + std::string(action) + ": INFO: Enter",
                   "I0 InstallOrUninstallByInfSection: INFO: --- (" + drv.name() + ")",
                   "I0 InstallOrUninstallByInfSection: INFO: Done", "I0 " + std::string(action) + ": INFO: Done"};
   };
   EXPECT_EQ(lines("OVInstallInfKernelDriver"),
             Run("OVInstallInfKernelDriver", drv.name() + ";OvIn;132;" + inf, 0));
   EXPECT_EQ(DWORD(SERVICE_STOPPED), State(drv.name()));
   EXPECT_EQ((std::vector<DWORD>{1}), GetWords(Wide(value).c_str(), L"Installed"));
   EXPECT_EQ("", RebootList()) << "a service that did not exist counts as stopped";

   EXPECT_EQ(lines("OVUninstallInfKernelDriver"),
             Run("OVUninstallInfKernelDriver", drv.name() + ";OvOut;132;" + inf, 0));
   EXPECT_EQ(0u, State(drv.name()));
   EXPECT_EQ((std::vector<DWORD>{}), GetWords(Wide(value).c_str(), L"Installed"));
   DeleteFileA(inf.c_str());
   RemoveDirectoryA(folder.c_str());
}
