// OVResetRegSecurity in installer sessions against keys the test prepares
// under HKLM\SOFTWARE\Orvane, Inc.: missing keys, keys with an explicit
// access list, and a key owned by SYSTEM that denies everyone, which Wine
// refuses to hand back (the take-over fails with 5). The take-over that
// succeeds, and a failure of the first key, come from a stand-in for
// advapi32!SetNamedSecurityInfoW in the DLL's import table.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/msi/msiSession.h"
#include "tests/msi/tablePackage.h"
#include "tests/win/importSlot.h"

using namespace msitest;

namespace {

using Strings = std::vector<std::string>;

const std::string kMaker = "SOFTWARE\\Orvane, Inc.";
const std::string kProduct = kMaker + "\\OvSecTest";
// With SYSTEM as the owner, read and delete only: this process can no
// longer change the list, but the test can still remove the key.
const char kLockedDacl[] = "D:P(A;;KR;;;WD)(A;;SD;;;WD)";

Strings RunAction(const LoadedDll &dll, MSIHANDLE install, UINT rc)
{
   LogMark mark;
   EXPECT_EQ(rc, dll.Call("OVResetRegSecurity", install));
   Strings lines;
   for (const std::string &line : mark.Transcript()) {
      if (line.rfind("I0 ", 0) == 0 || line.rfind("E1 ", 0) == 0) {
         lines.push_back(line);
      }
   }
   return lines;
}

// The key's access list in SDDL ("none" when it cannot be read).
std::string Dacl(const std::string &key)
{
   PACL dacl = nullptr;
   PSECURITY_DESCRIPTOR sd = nullptr;
   LPSTR text = nullptr;
   std::string shown = "none";
   if (GetNamedSecurityInfoA(("MACHINE\\" + key).c_str(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr,
                             nullptr, &dacl, nullptr, &sd) == ERROR_SUCCESS &&
       ConvertSecurityDescriptorToStringSecurityDescriptorA(sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                            nullptr)) {
      shown = text;
   }
   LocalFree(text);
   LocalFree(sd);
   return shown;
}

bool KeyExists(const std::string &key)
{
   HKEY h = nullptr;
   return RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h) == ERROR_SUCCESS && RegCloseKey(h) == 0;
}

// Creates key with the access list `sddl`; with `system`, SYSTEM is made
// its owner first, so that this process loses the right to change it.
bool PrepareKey(const std::string &key, const char *sddl, bool system)
{
   HKEY h = nullptr;
   if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr) != 0) {
      return false;
   }
   RegCloseKey(h);
   const std::string name = "MACHINE\\" + key;
   PSID systemSid = nullptr;
   bool ok = !system || (ConvertStringSidToSidA("SY", &systemSid) &&
                         SetNamedSecurityInfoA(const_cast<char *>(name.c_str()), SE_REGISTRY_KEY,
                                               OWNER_SECURITY_INFORMATION, systemSid, nullptr, nullptr,
                                               nullptr) == ERROR_SUCCESS);
   LocalFree(systemSid);
   PSECURITY_DESCRIPTOR sd = nullptr;
   BOOL present = FALSE, defaulted = FALSE;
   PACL dacl = nullptr;
   ok = ok && ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &sd, nullptr) &&
        GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted) &&
        SetNamedSecurityInfoA(const_cast<char *>(name.c_str()), SE_REGISTRY_KEY,
                              DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              dacl, nullptr) == ERROR_SUCCESS;
   LocalFree(sd);
   return ok;
}

// The stand-in's forced first results, by security-object name; every
// other call goes to the real function.
std::map<std::wstring, DWORD> gForced;
testutil::ImportSlot *gSlot = nullptr;

DWORD WINAPI ForcedSetNamedSecurityInfo(LPWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner,
                                        PSID group, PACL dacl, PACL sacl)
{
   auto it = gForced.find(name);
   if (it != gForced.end()) {
      const DWORD rc = it->second;
      gForced.erase(it);
      return rc;
   }
   return gSlot->Real<decltype(&SetNamedSecurityInfoW)>()(name, type, info, owner, group, dacl, sacl);
}

enum Product { None, Explicit, Locked };

class RegSecurity : public testing::Test {
protected:
   void SetUp() override
   {
      RegDeleteKeyA(HKEY_LOCAL_MACHINE, kProduct.c_str());
      RegDeleteKeyA(HKEY_LOCAL_MACHINE, (kProduct + "~tmp").c_str());
   }
   void TearDown() override { SetUp(); }
   LoadedDll dll;
};

TEST_F(RegSecurity, Windows9xLeavesNoTrace)
{
   MsiSession session;
   ASSERT_TRUE(session.Ok()) << session.Failure();
   ASSERT_EQ(0u, session.Set("Version9X", "410"));
   LogMark mark;
   EXPECT_EQ(0u, dll.Call("OVResetRegSecurity", session.Handle()));
   EXPECT_EQ(Strings{}, mark.Transcript());
}

TEST_F(RegSecurity, ResetsBothKeysOrFailsByWindowsVersion)
{
   // A new key's access list is what the reset must leave.
   ASSERT_TRUE(PrepareKey(kMaker, "D:(A;;KA;;;BA)", false));
   HKEY fresh = nullptr;
   ASSERT_EQ(0, RegCreateKeyExA(HKEY_LOCAL_MACHINE, (kProduct + "Fresh").c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                KEY_ALL_ACCESS, nullptr, &fresh, nullptr));
   const std::string defaultDacl = Dacl(kProduct + "Fresh");
   RegDeleteKeyA(fresh, "");
   RegCloseKey(fresh);
   ASSERT_NE("none", defaultDacl);

   const std::string reseting = "I0 Reseting security for HKLM\\";
   const std::string failed = "I0 ERROR: Failed to set default ACL on HKLM\\";
   const Strings both = {reseting + kMaker, reseting + kProduct};
   const std::wstring makerName = L"MACHINE\\" + Wide(kMaker), productName = L"MACHINE\\" + Wide(kProduct);
   const std::string longName(250, 'n'), longKey = kMaker + "\\" + longName;
   const struct {
      const char *label, *versionNT;
      std::string productReg;
      Product product;
      std::map<std::wstring, DWORD> forced;
      UINT rc;
      Strings lines;   // after the opening line
      bool posted;     // error 26000 and ERROR_RESET_REG_SECURITY_KEY
   } cases[] = {
      {"neither key", "601", "", None, {}, 0,
       {reseting + kMaker, "I0 " + kMaker + " not present", reseting + kMaker + "\\Orvane Tools",
        "I0 " + kMaker + "\\Orvane Tools not present"}, false},
      {"object name past 271 characters", "601", longName, None, {}, 0,
       {reseting + kMaker, reseting + longKey, "I0 " + longKey + ": key path too long", failed + longKey}, false},
      {"product key missing, default name", "601", "", None, {}, 0,
       {reseting + kMaker, reseting + kMaker + "\\Orvane Tools", "I0 " + kMaker + "\\Orvane Tools not present"},
       false},
      {"explicit access lists", "601", "OvSecTest", Explicit, {}, 0, both, false},
      {"locked product key, VersionNT 501", "501", "OvSecTest", Locked, {}, 1603,
       {reseting + kMaker, reseting + kProduct, "I0 SetNamedSecurityInfo failed, lasterror 5", failed + kProduct},
       true},
      {"locked product key, VersionNT 601", "601", "OvSecTest", Locked, {}, 0,
       {reseting + kMaker, reseting + kProduct, "I0 SetNamedSecurityInfo failed, lasterror 5", failed + kProduct},
       false},
      {"refused, then owned", "601", "OvSecTest", Explicit, {{productName, ERROR_ACCESS_DENIED}}, 0,
       {reseting + kMaker, reseting + kProduct, "I0 SetNamedSecurityInfo returned 0"}, false},
      {"the maker key fails: the product key is not tried", "500", "OvSecTest", Explicit,
       {{makerName, ERROR_INVALID_FUNCTION}}, 1603,
       {reseting + kMaker, "I0 SetNamedSecurityInfo failed, lasterror 1", failed + kMaker}, true},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      SetUp();
      if (std::string(c.label) == "neither key") {
         RegDeleteTreeA(HKEY_LOCAL_MACHINE, kMaker.c_str());
         ASSERT_FALSE(KeyExists(kMaker));
      } else {
         ASSERT_TRUE(PrepareKey(kMaker, "D:(A;;KA;;;BA)", false));
      }
      if (c.product != None) {
         ASSERT_TRUE(PrepareKey(kProduct, c.product == Locked ? kLockedDacl : "D:P(A;;KA;;;WD)", c.product == Locked));
      }
      const std::string before = Dacl(kProduct);
      TablePackage package({}, {{"INSERT INTO `Error` (`Error`, `Message`) VALUES (26000, ?)",
                                 {"No default access for [ERROR_RESET_REG_SECURITY_KEY]."}}});
      ASSERT_TRUE(package.Ok()) << package.Failure();
      ASSERT_EQ(0u, MsiSetPropertyW(package.Handle(), L"VersionNT", Wide(c.versionNT).c_str()));
      ASSERT_EQ(0u, MsiSetPropertyW(package.Handle(), L"PRODUCT_REG_NAME", Wide(c.productReg).c_str()));
      testutil::ImportSlot slot(dll.Module(), "advapi32.dll", "SetNamedSecurityInfoW");
      ASSERT_TRUE(slot.Valid());
      gSlot = &slot;
      gForced = c.forced;
      slot.Point(&ForcedSetNamedSecurityInfo);
      MessageRecorder recorder;
      Strings lines = {"I0 --- CA exec: OVResetRegSecurity"};
      lines.insert(lines.end(), c.lines.begin(), c.lines.end());
      EXPECT_EQ(lines, RunAction(dll, package.Handle(), c.rc));
      slot.Restore();
      EXPECT_TRUE(gForced.empty()) << "a forced result was not used";
      const std::string key = c.forced.count(makerName) != 0 ? kMaker : kProduct;
      EXPECT_EQ(c.posted ? Strings{"error No default access for " + key + "."} : Strings{}, recorder.Messages());
      char property[128] = {};
      DWORD size = sizeof property;
      MsiGetPropertyA(package.Handle(), "ERROR_RESET_REG_SECURITY_KEY", property, &size);
      EXPECT_EQ(c.posted ? key : "", property);
      // Reset: the new key's list; refused: unchanged. No throw-away key stays.
      if (c.product == Explicit && c.forced.count(makerName) == 0) {
         EXPECT_EQ(defaultDacl, Dacl(kProduct));
      } else if (c.product != None) {
         EXPECT_EQ(before, Dacl(kProduct));
      }
      EXPECT_FALSE(KeyExists(kProduct + "~tmp"));
      EXPECT_FALSE(KeyExists(kMaker + "~tmp"));
   }
}

}  // namespace
