// The service library against Wine's real Service Control Manager, with the
// project's test service and kernel driver. What Wine stubs (the database
// lock, dependent enumeration) is reached through this program's own import
// slots, since the library is linked into it.
#include "common/service.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "tests/service/serviceTestUtil.h"
#include "tests/win/importSlot.h"
#include "tests/win/win32uTestUtil.h"

using namespace servicetest;
using win32utest::LogCapture;

namespace {

const std::wstring kServiceExe = L"C:\\ovsvctest\\ov_test_service.exe";

std::wstring W(const std::string &s)
{
   return std::wstring(s.begin(), s.end());
}

// Installs a test service in `mode` ("slow 1", "stuckstart 31", ...).
bool Install(const std::string &name, const std::string &mode, DWORD startType = SERVICE_DEMAND_START)
{
   CopyIn(OV_TEST_SERVICE_EXE, kServiceExe);
   return Inst_InstallServiceW(W(name).c_str(), W(name).c_str(), L"Described", SERVICE_WIN32_OWN_PROCESS,
                               startType, (kServiceExe + L" " + W(mode)).c_str(), nullptr, L"",
                               SERVICE_ERROR_NORMAL, TRUE, nullptr, FALSE);
}

size_t Count(const Lines &lines, const std::string &line)
{
   return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

// The lines from the first one that starts with `start`.
Lines From(const Lines &lines, const std::string &start)
{
   auto at = std::find_if(lines.begin(), lines.end(),
                          [&](const std::string &l) { return l.compare(0, start.size(), start) == 0; });
   return Lines(at, lines.end());
}

std::wstring RegText(const std::string &name, const wchar_t *value, DWORD bytes = 256)
{
   std::wstring text(bytes / 2, L'\0');
   RegGetValueW(HKEY_LOCAL_MACHINE, (L"SYSTEM\\CurrentControlSet\\Services\\" + W(name)).c_str(), value,
                RRF_RT_ANY, nullptr, &text[0], &bytes);
   text.resize(bytes / 2);
   if (!text.empty() && text.back() == L'\0') {
      text.pop_back();
   }
   return text;
}

SC_LOCK WINAPI RefusedLock(SC_HANDLE)
{
   SetLastError(ERROR_SERVICE_DATABASE_LOCKED);
   return nullptr;
}

BOOL WINAPI LockHeld(SC_HANDLE, QUERY_SERVICE_LOCK_STATUSA *status, DWORD size, DWORD *)
{
   char *owner = reinterpret_cast<char *>(status + 1);
   strcpy(owner, "OtherInstaller");
   *status = {TRUE, owner, 12};
   return size >= 280;
}

std::string gDependent;
BOOL WINAPI OneDependent(SC_HANDLE, DWORD, ENUM_SERVICE_STATUSA *buffer, DWORD size, DWORD *needed,
                         DWORD *count)
{
   *needed = sizeof *buffer + 64;
   if (buffer == nullptr || size < *needed) {
      SetLastError(gDependent.empty() ? ERROR_ACCESS_DENIED : ERROR_MORE_DATA);
      return FALSE;
   }
   char *name = reinterpret_cast<char *>(buffer + 1);
   strcpy(name, gDependent.c_str());
   buffer->lpServiceName = name;
   *count = 1;
   return TRUE;
}

}  // namespace

TEST(ServiceControl, InstallStartReconfigureUnderARefusedLockAndUninstall)
{
   ServiceGuard s(Name("Life"));
   const std::string none = "E2 Inst_StopService: Service could not be opened: ERROR_SERVICE_DOES_NOT_EXIST";
   LogCapture log;
   ASSERT_TRUE(Install(s.name(), "slow 3"));
   ExpectTranscript({"I1 Inst_InstallServiceW: Stopping any pre-existing instances of service",
                     "I1 Inst_StopService: Attempting to stop service: '" + s.name() + "' [stop dependents = 1]",
                     none, none, "I1 Inst_InstallServiceW: installing service: " + s.name(),
                     "I2 ModifyDependencyString: Dependencies wide char ",
                     "I1 Inst_InstallServiceW: Service created: " + s.name(),
                     "I2 Inst_InstallServiceW: Attempting to store service description"},
                    log.Take());
   EXPECT_EQ(L"Described", RegText(s.name(), L"Description"));

   LogCapture start;
   EXPECT_TRUE(Inst_StartService(s.name().c_str()));
   const Lines started = start.Take();
   EXPECT_EQ(SERVICE_RUNNING, State(s.name()));
   EXPECT_LE(1u, Count(started, "I2 Inst_StartService: Updating sleep hint: 1000")) << "checkpoints advance";
   EXPECT_EQ("I2 Inst_StartService: Service is running", started.back());

   testutil::ImportSlot lock(GetModuleHandleW(nullptr), "advapi32.dll", "LockServiceDatabase");
   testutil::ImportSlot status(GetModuleHandleW(nullptr), "advapi32.dll", "QueryServiceLockStatusA");
   ASSERT_TRUE(lock.Valid() && status.Valid());
   lock.Point(&RefusedLock);
   status.Point(&LockHeld);
   LogCapture again;
   EXPECT_TRUE(Inst_InstallServiceW(W(s.name()).c_str(), W(s.name() + " renamed").c_str(), nullptr, SERVICE_WIN32_OWN_PROCESS,
                                    SERVICE_DISABLED, (kServiceExe + L" normal").c_str(), L"OvGroup",
                                    L"Alpha,Beta", SERVICE_ERROR_IGNORE, TRUE, nullptr, FALSE));
   ExpectTranscript({"E1 Inst_InstallServiceW: Service '" + s.name() + "' already exists| winerror code 1073 (*",
                     "E1 AcquireServiceDatabaseLock: couldn't obtain lock| winerror code 1055 (*",
                     "E1 AcquireServiceDatabaseLock: lock held = TRUE by OtherInstaller for 12 seconds",
                     "I2 Inst_InstallServiceW: reconfigured existing service",
                     "I1 Inst_InstallServiceW: Unspecified Service description not saved"},
                    From(again.Take(), "E1 Inst_InstallServiceW: Service '"));
   EXPECT_EQ(SERVICE_STOPPED, State(s.name())) << "the running instance was stopped first";
   EXPECT_EQ(W(s.name() + " renamed"), RegText(s.name(), L"DisplayName"));
   EXPECT_EQ(L"OvGroup", RegText(s.name(), L"Group"));
   EXPECT_EQ(std::wstring(L"Alpha\0Beta\0", 11), RegText(s.name(), L"DependOnService"));
   EXPECT_EQ(L"Described", RegText(s.name(), L"Description")) << "a null description changes nothing";

   LogCapture end;
   BOOL reboot = FALSE;
   EXPECT_TRUE(Inst_UninstallService(s.name().c_str(), &reboot));
   EXPECT_FALSE(reboot);
   EXPECT_EQ(0u, State(s.name()));
}

TEST(ServiceControl, StopsDependentsTheSCMReportsFirst)
{
   ServiceGuard main(Name("Main")), dependent(Name("Dependent"));
   ASSERT_TRUE(Install(main.name(), "normal") && Install(dependent.name(), "normal"));
   ASSERT_TRUE(Inst_StartService(main.name().c_str()) && Inst_StartService(dependent.name().c_str()));
   testutil::ImportSlot slot(GetModuleHandleW(nullptr), "advapi32.dll", "EnumDependentServicesA");
   ASSERT_TRUE(slot.Valid());
   slot.Point(&OneDependent);
   for (const std::string &reported : {std::string(), dependent.name()}) {
      SCOPED_TRACE(reported.empty() ? "enumeration refused" : "one dependent");
      gDependent = reported;
      LogCapture log;
      EXPECT_TRUE(Inst_StopService(main.name().c_str(), TRUE));
      const Lines lines = log.Take();
      if (reported.empty()) {
         Lines failed = From(lines, "E1 Inst_StopService: Enum");
         failed.resize(1);
         ExpectTranscript({"E1 Inst_StopService: Enumeration failed for unexpected reason| winerror code 5 (*"},
                          failed);
         EXPECT_EQ(SERVICE_RUNNING, State(dependent.name()));
         EXPECT_EQ(SERVICE_STOPPED, State(main.name()));
         LogCapture quiet;   // every library call after the first capture goes to one
         ASSERT_TRUE(Inst_StartService(main.name().c_str()));
      } else {
         EXPECT_EQ(1u, Count(lines, "I1 Inst_StopService: Dependents exist"));
         EXPECT_EQ(1u, Count(lines, "I2 Inst_StopService: Attempting to stop # 0 '" + reported + "'"));
         EXPECT_EQ(1u, Count(lines, "I2 Inst_StopService: Done stopping # 0 '" + reported + "'"));
         EXPECT_EQ(SERVICE_STOPPED, State(dependent.name()));
         EXPECT_EQ(SERVICE_STOPPED, State(main.name()));
      }
   }
}

TEST(ServiceControl, FailuresAndTheirLines)
{
   ServiceGuard disabled(Name("Disabled")), noBinary(Name("NoBinary"));
   ASSERT_TRUE(Install(disabled.name(), "normal", SERVICE_DISABLED));
   ASSERT_TRUE(Inst_InstallServiceW(W(noBinary.name()).c_str(), W(noBinary.name()).c_str(), nullptr, SERVICE_WIN32_OWN_PROCESS, 3,
                                    L"C:\\ovsvctest\\missing.exe", nullptr, L"", 1, FALSE, nullptr, FALSE));
   const std::string missing = Name("Missing"), open = "E1 Inst_StartService: Service could not be opened: ",
                     reduced = "I1 Inst_StartService: Attempting to open service using reduced permissions",
                     gone = "E2 Inst_StopService: Service could not be opened: ERROR_SERVICE_DOES_NOT_EXIST",
                     start = "I1 Inst_StartService: Attempting to start service: ",
                     stop = "I1 Inst_StopService: Attempting to stop service: '";
   enum Op { Start, Stop, Uninstall, NullArguments };
   const struct { Op op; std::string name; BOOL result; Lines lines; } cases[] = {
      {Start, missing, FALSE,
       {start + missing, open + "ERROR_SERVICE_DOES_NOT_EXIST", reduced, open + "ERROR_SERVICE_DOES_NOT_EXIST"}},
      {Start, "a\\b", FALSE, {start + "a\\b", open + "ERROR_INVALID_NAME", reduced, open + "ERROR_INVALID_NAME"}},
      {Start, disabled.name(), FALSE,
       {start + disabled.name(), "E1 Inst_StartService: Service could not be started since it's disabled"}},
      {Start, noBinary.name(), FALSE,
       {start + noBinary.name(), "E1 Inst_StartService: Service could not be started| winerror code 2 (*"}},
      {Stop, missing, TRUE, {stop + missing + "' [stop dependents = 0]", gone, gone}},
      {Stop, disabled.name(), TRUE,
       {stop + disabled.name() + "' [stop dependents = 0]",
        "I2 Inst_StopService: service status: SERVICE_STOPPED cp=0x00000000"}},
      {Uninstall, missing, TRUE,
       {"I1 Inst_UninstallService: Attempting to uninstall service: " + missing,
        "I1 Inst_UninstallService: Attempting to stop service to be uninstalled",
        stop + missing + "' [stop dependents = 0]", gone, gone,
        "E2 Inst_UninstallService: Service could not be opened: ERROR_SERVICE_DOES_NOT_EXIST"}},
      {NullArguments, "", FALSE,
       {"E1 Inst_StartService: invalid parameter", "E1 Inst_StopService: invalid parameter",
        "E1 Inst_UninstallService: invalid parameter: 0x00000000 0x00000000",
        "E1 Inst_InstallServiceW: bad parameters: *"}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.name);
      LogCapture log;
      BOOL reboot = FALSE, result = FALSE;
      switch (c.op) {
      case Start: result = Inst_StartService(c.name.c_str()); break;
      case Stop: result = Inst_StopService(c.name.c_str(), FALSE); break;
      case Uninstall: result = Inst_UninstallService(c.name.c_str(), &reboot) && !reboot; break;
      case NullArguments:
         result = Inst_StartService(nullptr) || Inst_StopService(nullptr, TRUE) || Inst_UninstallService(nullptr, nullptr) ||
                  Inst_InstallServiceW(L"n", L"d", nullptr, 1, 3, L"p", nullptr, nullptr, 1, FALSE, nullptr, FALSE);
      }
      EXPECT_EQ(c.result, result);
      ExpectTranscript(c.lines, log.Take());
   }
   EXPECT_EQ(nullptr, ModifyDependencyString(nullptr));
   EXPECT_EQ(std::wstring(L"a\0b\0\0\0", 6), std::wstring(ModifyDependencyString(L"a,b,").get(), 6));
}

// A driver without an unload routine keeps running after a stop, so its
// deleted service stays until the next restart.
TEST(ServiceControl, AnUnstoppableDriverNeedsARebootAndBlocksItsReinstall)
{
   ServiceGuard s(Name("Stuck"));
   const std::wstring sys = L"C:\\windows\\system32\\drivers\\" + W(s.name()) + L".sys";
   CopyIn(OV_TEST_DRIVER_NOUNLOAD_SYS, sys);
   auto install = [&] {
      return Inst_InstallServiceW(W(s.name()).c_str(), W(s.name()).c_str(), nullptr, SERVICE_KERNEL_DRIVER,
                                  SERVICE_DEMAND_START, sys.c_str(), nullptr, L"", SERVICE_ERROR_NORMAL,
                                  FALSE, nullptr, FALSE);
   };
   ASSERT_TRUE(install());
   ASSERT_TRUE(Inst_StartService(s.name().c_str()));
   LogCapture log;
   BOOL reboot = FALSE;
   EXPECT_TRUE(Inst_UninstallService(s.name().c_str(), &reboot));
   EXPECT_TRUE(reboot);
   const Lines lines = log.Take();
   EXPECT_EQ(1u, Count(lines, "E1 Inst_StopService: Service is not stopped: SERVICE_RUNNING"));
   EXPECT_EQ(41u, Count(lines, "I1 Inst_UninstallService: Service still present, might check again"));
   EXPECT_EQ("I1 Inst_UninstallService: Service still present, presuming reboot required", lines.back());

   LogCapture again;
   const DWORD before = GetTickCount();
   EXPECT_FALSE(install());
   EXPECT_LE(300u, GetTickCount() - before) << "one sleep between the two creation calls";
   const std::string marked = "E1 Inst_InstallServiceW: Service '" + s.name() +
                              "' could not be created since marked for deletion (attempt #";
   ExpectTranscript({marked + "1)| winerror code 1072 (*", marked + "2)| winerror code 1072 (*"},
                    From(again.Take(), marked));
}

TEST(ServiceControl, GivesUpAfterThirtySecondsAndWaitsForAnotherStop)
{
   ServiceGuard stuck(Name("StuckStart")), slow(Name("StuckStop"));
   ASSERT_TRUE(Install(stuck.name(), "stuckstart 31") && Install(slow.name(), "stuckstop 2"));
   // A stop someone else sent: waited for, its polls logged as information.
   ASSERT_TRUE(Inst_StartService(slow.name().c_str()));
   ASSERT_EQ(DWORD(SERVICE_STOP_PENDING), State(slow.name(), SERVICE_CONTROL_STOP));
   LogCapture stop;
   EXPECT_TRUE(Inst_StopService(slow.name().c_str(), FALSE));
   Lines lines = stop.Take();
   EXPECT_EQ(1u, Count(lines, "I2 Inst_StopService: service status: SERVICE_STOP_PENDING cp=0x00000001"));
   EXPECT_EQ(1u, Count(lines, "I1 Inst_StopService: service status: SERVICE_STOPPED cp=0x00000000"));
   EXPECT_EQ(SERVICE_STOPPED, State(slow.name()));

   LogCapture log;
   EXPECT_FALSE(Inst_StartService(stuck.name().c_str()));
   lines = log.Take();
   EXPECT_EQ(61u, Count(lines, "I2 Inst_StartService: service status: SERVICE_START_PENDING cp=0x00000001"));
   EXPECT_EQ(58u, Count(lines, "I2 Inst_StartService: Slept hint duration without any progress"))
      << "from the third poll on, once 1500 ms passed the hint of 1000";
   EXPECT_EQ(1u, Count(lines, "I2 Inst_StartService: Not giving up yet since haven't slept for 30 seconds: 30000"));
   ExpectTranscript({"I1 Inst_StartService: Slept for 30 seconds, giving up",
                     "E1 Inst_StartService: Service is not running: SERVICE_START_PENDING"},
                    From(lines, "I1 Inst_StartService: Slept for"));
   while (State(stuck.name()) == SERVICE_START_PENDING) {
      Sleep(250);
   }
}
