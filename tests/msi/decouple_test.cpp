// OVDecoupleChildInstaller through the built DLL's export table in a real
// installer session, against product registrations the test writes under
// HKEY_CLASSES_ROOT\Installer\Products and removes again.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/msi/msiSession.h"

using namespace msitest;
using namespace std::string_literals;

namespace {

using Strings = std::vector<std::string>;

// Codes no real product uses; the packed key name is written out by hand.
const std::string kChild = "{0DEC0A1B-2C3D-4E5F-8A9B-C0D1E2F3A4B5}";
const std::string kParent = "{0DEC0A1B-0000-4000-8000-00000000CAFE}";
const std::string kChildKey = "Installer\\Products\\B1A0CED0D3C2F5E4A8B90C1D2E3F4A5B";
const std::wstring kChildKeyW = Wide(kChildKey);

bool KeyExists(const std::wstring &path)
{
   HKEY key = nullptr;
   bool exists = RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS;
   return exists && RegCloseKey(key) == ERROR_SUCCESS;
}

// "Clients" as "<type>: string|string|..." ("absent" when missing).
std::string Clients()
{
   wchar_t data[512] = {};
   DWORD type = REG_NONE, size = sizeof data - 2 * sizeof(wchar_t);
   if (RegGetValueW(HKEY_CLASSES_ROOT, kChildKeyW.c_str(), L"Clients", RRF_RT_ANY, &type, data,
                    &size) != ERROR_SUCCESS) {
      return "absent";
   }
   std::string shown = std::to_string(type) + ":";
   for (const wchar_t *s = data; *s != L'\0'; s += wcslen(s) + 1) {
      shown += (s == data ? " " : "|") + Utf8(s);
   }
   return shown;
}

TEST(Decouple, CutsANestedProductLooseAndLeavesOthersAlone)
{
   LoadedDll dll;
   MsiSession session;
   ASSERT_TRUE(session.Ok()) << session.Failure();
   const std::string checking = "I1 MsiUtil_IsMsiNested: Checking Nested-ness of ProductCode: ";
   const std::string decoupled = "I1 MsiUtil_UnnestMsi: Successfully decoupled " + kChild + " from parent installer ";
   // The lines when `code` is found not nested for `reason`.
   auto notNested = [&](const std::string &code, const std::string &reason) {
      return Strings{checking + code, "E1 MsiUtil_IsMsiNested: " + reason,
                     "I1 MsiUtil_UnnestMsi: product code '" + code + "' is not nested.  Nothing to be done."};
   };
   const std::string multi = std::to_string(REG_MULTI_SZ) + ":";
   const std::wstring nested = Wide(kParent) + L"\0\0"s;
   // The first string is cut to the length of a product code.
   const std::wstring longer = Wide(kParent) + L"-more\0second\0\0"s;
   // 37 characters and an e-acute of two bytes, of which only one would fit.
   const std::string shortParent = kParent.substr(0, 37);
   const std::wstring splitChar = Wide(shortParent) + L"\u00e9\0\0"s;
   const std::wstring standalone = L":\0\0"s;
   const std::string unbraced = kChild.substr(1, 36);
   const struct {
      const char *label;
      std::string productCode;
      bool registered;
      const std::wstring *clients;   // the raw REG_MULTI_SZ, null for none
      UINT rc;
      Strings lines;   // after the opening one
      std::string clientsAfter;
      bool sourceList;
   } cases[] = {
      {"nested", kChild, true, &nested, 0, {checking + kChild, decoupled + kParent}, multi + " :", true},
      {"nested, parent text longer than a product code", kChild, true, &longer, 0,
       {checking + kChild, decoupled + kParent}, multi + " :", true},
      {"nested, parent cut before a character that does not fit", kChild, true, &splitChar, 0,
       {checking + kChild, decoupled + shortParent}, multi + " :", true},
      {"standing on its own", kChild, true, &standalone, 0,
       notNested(kChild, "MSI reg info for " + kChild + " indicates it is not nested"), multi + " :", false},
      {"registered without Clients", kChild, true, nullptr, 0,
       notNested(kChild, "Error getting registry key " + kChildKey + " for value Clients"), "absent", false},
      {"not registered", kChild, false, nullptr, 0,
       notNested(kChild, "MSI reg info for " + kChildKey + " does not exist"), "absent", false},
      {"code without braces", unbraced, true, &nested, 0, notNested(unbraced, "Error munging ProductCode"),
       multi + " " + kParent, false},
      {"empty ProductCode", "", true, &nested, ERROR_INSTALL_FAILURE,
       {"E1 MsiUtil_UnnestMsi: Empty product code", "I0 Error unnesting this installer."}, multi + " " + kParent,
       false},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      ASSERT_EQ(0u, session.Set("ProductCode", c.productCode.c_str()));
      RegDeleteTreeW(HKEY_CLASSES_ROOT, kChildKeyW.c_str());   // left over only if a run died
      HKEY key = nullptr;
      if (c.registered) {
         ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, kChildKeyW.c_str(), 0, nullptr, 0,
                                                  KEY_ALL_ACCESS, nullptr, &key, nullptr));
         if (c.clients != nullptr) {
            EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"Clients", 0, REG_MULTI_SZ,
                                                    reinterpret_cast<const BYTE *>(c.clients->data()),
                                                    DWORD(c.clients->size() * sizeof(wchar_t))));
         }
         RegCloseKey(key);
      }
      ASSERT_EQ(c.registered, KeyExists(kChildKeyW));
      LogMark mark;
      EXPECT_EQ(c.rc, dll.Call("OVDecoupleChildInstaller", session.Handle()));
      // The custom action's own lines and those of the two library functions.
      Strings lines;
      for (const LogLine &line : mark.Lines()) {
         EXPECT_EQ(CustomActionTag(), line.tag) << line.text;
         if (line.level == "I0" || line.text.rfind("MsiUtil_IsMsiNested:", 0) == 0 ||
             line.text.rfind("MsiUtil_UnnestMsi:", 0) == 0) {
            lines.push_back(line.level + " " + line.text);
         }
      }
      Strings want{"I0 Unparenting Nested Install"};
      want.insert(want.end(), c.lines.begin(), c.lines.end());
      EXPECT_EQ(want, lines);
      EXPECT_EQ(c.clientsAfter, Clients());
      EXPECT_EQ(c.sourceList, KeyExists(kChildKeyW + L"\\SourceList"));
      RegDeleteTreeW(HKEY_CLASSES_ROOT, kChildKeyW.c_str());
   }
   EXPECT_FALSE(KeyExists(kChildKeyW));
}

}  // namespace
