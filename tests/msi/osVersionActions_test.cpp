// OVDetectWin2003R2, OVSetOVSysVer and OVSetRealVersionNT called through the
// built DLL's export table in a real installer session.
//
// Wine's GetSystemMetrics(SM_SERVERR2) is always 0. For the "found" branch
// of the Windows Server 2003 R2 detection the test points the loaded DLL's
// import of GetSystemMetrics at a stand-in that reports an R2 system; the
// custom action's own code runs unchanged.
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <memory>

#include "common/osInfo.h"
#include "tests/msi/msiSession.h"

using namespace msitest;

namespace {

using Strings = std::vector<std::string>;

class OsVersionActions : public testing::Test {
protected:
   static void SetUpTestSuite() { dll_ = new LoadedDll; }
   static void TearDownTestSuite()
   {
      delete dll_;
      dll_ = nullptr;
   }
   void SetUp() override { ASSERT_TRUE(session.Ok()) << session.Failure(); }

   // Runs the export and returns the custom action's own lines (level I0).
   // Every line the call wrote must carry the custom actions' tag.
   Strings Run(const char *exportName)
   {
      LogMark mark;
      EXPECT_EQ(0u, dll_->Call(exportName, session.Handle()));
      Strings own;
      for (const LogLine &line : mark.Lines()) {
         EXPECT_EQ(CustomActionTag(), line.tag) << line.text;
         if (line.level == "I0") {
            own.push_back(line.text);
         }
      }
      return own;
   }

   static LoadedDll *dll_;
   MsiSession session;
};

LoadedDll *OsVersionActions::dll_ = nullptr;

int WINAPI R2SystemMetrics(int index)
{
   return index == 89 ? 1 : GetSystemMetrics(index);   // SM_SERVERR2
}

// Replaces the module's import of user32!GetSystemMetrics while it lives.
class SystemMetricsImport {
public:
   explicit SystemMetricsImport(HMODULE module)
   {
      auto base = reinterpret_cast<BYTE *>(module);
      auto dos = reinterpret_cast<IMAGE_DOS_HEADER *>(base);
      auto nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
      const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
      for (auto imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + dir.VirtualAddress);
           dir.Size != 0 && imp->Name != 0; ++imp) {
         if (_stricmp(reinterpret_cast<const char *>(base + imp->Name), "user32.dll") != 0) {
            continue;
         }
         auto names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + imp->OriginalFirstThunk);
         auto slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + imp->FirstThunk);
         for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
               continue;
            }
            auto byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<const char *>(byName->Name), "GetSystemMetrics") == 0) {
               slot_ = &slots->u1.Function;
            }
         }
      }
      if (slot_ != nullptr) {
         saved_ = *slot_;
         Write(reinterpret_cast<ULONG_PTR>(&R2SystemMetrics));
      }
   }
   ~SystemMetricsImport()
   {
      if (slot_ != nullptr) {
         Write(saved_);
      }
   }
   SystemMetricsImport(const SystemMetricsImport &) = delete;
   SystemMetricsImport &operator=(const SystemMetricsImport &) = delete;
   bool Ok() const { return slot_ != nullptr; }

private:
   void Write(ULONG_PTR value)
   {
      DWORD old = 0;
      VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &old);
      *slot_ = value;
      VirtualProtect(slot_, sizeof *slot_, old, &old);
   }

   ULONG_PTR *slot_ = nullptr;
   ULONG_PTR saved_ = 0;
};

TEST_F(OsVersionActions, DetectWin2003R2LooksOnlyAtThe502Family)
{
   struct Case {
      const char *label;
      const char *versionNT;
      const char *versionNT64;
      Strings lines;
   };
   const Case cases[] = {
      {"VersionNT 601, no VersionNT64", "601", "", {"Win2003 R2 detection"}},
      {"VersionNT 502", "502", "", {"Win2003 R2 detection", "Win2003 R2 not found."}},
      {"VersionNT64 502 alone", "", "502", {"Win2003 R2 detection", "Win2003 R2 not found."}},
   };
   for (const Case &c : cases) {
      SCOPED_TRACE(c.label);
      ASSERT_EQ(0u, session.Set("VersionNT", c.versionNT));
      ASSERT_EQ(0u, session.Set("VersionNT64", c.versionNT64));
      // A stale value shows that the property is written in every case.
      ASSERT_EQ(0u, session.Set("WIN2003R2", "stale"));
      EXPECT_EQ(c.lines, Run("OVDetectWin2003R2"));
      EXPECT_EQ("", session.Get("WIN2003R2"));
   }

   SystemMetricsImport r2(dll_->Module());
   ASSERT_TRUE(r2.Ok()) << "the DLL does not import GetSystemMetrics";
   for (const Case &c : cases) {
      SCOPED_TRACE(std::string("R2 system, ") + c.label);
      ASSERT_EQ(0u, session.Set("VersionNT", c.versionNT));
      ASSERT_EQ(0u, session.Set("VersionNT64", c.versionNT64));
      const bool family = c.lines.size() > 1;
      Strings lines{"Win2003 R2 detection"};
      if (family) {
         lines.push_back("Win2003 R2 found.");
      }
      EXPECT_EQ(lines, Run("OVDetectWin2003R2"));
      EXPECT_EQ(family ? "1" : "", session.Get("WIN2003R2"));
   }
}

TEST_F(OsVersionActions, SetOVSysVerPublishesTheUpperCasedVersionString)
{
   std::string expected = Util_GetSystemVersionString();
   for (char &c : expected) {
      c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
   }
   ASSERT_EQ(0u, session.Set("OVSYSVER", "stale"));
   EXPECT_EQ((Strings{"Checking System Version", "Done System Version"}), Run("OVSetOVSysVer"));
   EXPECT_EQ(expected, session.Get("OVSYSVER"));
}

// Keeps the two version values of CurrentVersion as they were found and puts
// them back (or removes them) when it goes.
class CurrentVersionValues {
public:
   CurrentVersionValues()
   {
      ok_ = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                          0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key_) == ERROR_SUCCESS;
      for (Saved &s : saved_) {
         DWORD size = sizeof s.data;
         s.present = ok_ && RegQueryValueExW(key_, s.name, nullptr, &s.type, s.data, &size) ==
                               ERROR_SUCCESS;
         s.size = size;
      }
   }
   ~CurrentVersionValues()
   {
      for (const Saved &s : saved_) {
         if (s.present) {
            RegSetValueExW(key_, s.name, 0, s.type, s.data, s.size);
         } else {
            RegDeleteValueW(key_, s.name);
         }
      }
      if (ok_) {
         RegCloseKey(key_);
      }
   }
   CurrentVersionValues(const CurrentVersionValues &) = delete;
   CurrentVersionValues &operator=(const CurrentVersionValues &) = delete;

   bool Ok() const { return ok_; }
   // Absent for a null data pointer.
   void Put(const wchar_t *name, DWORD type, const void *data, DWORD size)
   {
      LONG rc = data != nullptr
                   ? RegSetValueExW(key_, name, 0, type, static_cast<const BYTE *>(data), size)
                   : RegDeleteValueW(key_, name);
      EXPECT_TRUE(rc == ERROR_SUCCESS || (data == nullptr && rc == ERROR_FILE_NOT_FOUND)) << rc;
   }

private:
   struct Saved {
      const wchar_t *name;
      bool present;
      DWORD type, size;
      BYTE data[64];
   };
   HKEY key_ = nullptr;
   bool ok_ = false;
   Saved saved_[2] = {{L"CurrentMajorVersionNumber", false, 0, 0, {}},
                      {L"CurrentMinorVersionNumber", false, 0, 0, {}}};
};

TEST_F(OsVersionActions, SetRealVersionNTTakesTheRegistryVersionFrom10On)
{
   const std::string queryMajor =
      "Couldn't query SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\#CurrentMajorVersionNumber";
   const std::string queryMinor =
      "Couldn't query SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\#CurrentMinorVersionNumber";
   const DWORD n6 = 6, n3 = 3, n10 = 10, n5 = 5, n0 = 0, n9 = 9, n99 = 99, n100 = 100;
   const WORD shortTen = 10;
   const wchar_t text10[] = L"10";
   struct Value {
      DWORD type;
      const void *data;   // null: the value is absent
      DWORD size;
   };
   const Value absent = {REG_NONE, nullptr, 0};
   auto dword = [](const DWORD &v) { return Value{REG_DWORD, &v, 4}; };
   struct Case {
      const char *label;
      Value major, minor;
      const char *versionNT64Before;
      const char *versionNT, *versionNT64;   // afterwards
      Strings reason;                        // between the opening and closing lines
   };
   const Case cases[] = {
      {"10.0", dword(n10), dword(n0), "601", "1000", "1000", {}},
      {"10.0, VersionNT64 empty stays empty", dword(n10), dword(n0), "", "1000", "", {}},
      {"10.5", dword(n10), dword(n5), "601", "1005", "1005", {}},
      {"99.99", dword(n99), dword(n99), "601", "9999", "9999", {}},
      {"6.3", dword(n6), dword(n3), "601", "601", "601", {"Registry Major Version < 10, ignoring"}},
      {"9.0", dword(n9), dword(n0), "601", "601", "601", {"Registry Major Version < 10, ignoring"}},
      {"100.0", dword(n100), dword(n0), "601", "601", "601", {"Registry Major Version > 99, ignoring"}},
      {"10.100", dword(n10), dword(n100), "601", "601", "601", {"Registry Minor Version > 99, ignoring"}},
      {"major as the string \"10\"", {REG_SZ, text10, sizeof text10}, dword(n0), "601", "601", "601",
       {queryMajor}},
      {"major a DWORD of two bytes", {REG_DWORD, &shortTen, 2}, dword(n0), "601", "601", "601",
       {queryMajor}},
      {"both absent", absent, absent, "601", "601", "601", {queryMajor}},
      {"minor absent", dword(n10), absent, "601", "601", "601", {queryMinor}},
   };
   for (const Case &c : cases) {
      SCOPED_TRACE(c.label);
      CurrentVersionValues values;
      ASSERT_TRUE(values.Ok());
      values.Put(L"CurrentMajorVersionNumber", c.major.type, c.major.data, c.major.size);
      values.Put(L"CurrentMinorVersionNumber", c.minor.type, c.minor.data, c.minor.size);
      ASSERT_EQ(0u, session.Set("VersionNT", "601"));
      ASSERT_EQ(0u, session.Set("VersionNT64", c.versionNT64Before));
      Strings lines{"OVSetRealVersionNT running"};
      lines.insert(lines.end(), c.reason.begin(), c.reason.end());
      lines.push_back("OVSetRealVersionNT Done");
      EXPECT_EQ(lines, Run("OVSetRealVersionNT"));
      EXPECT_EQ(c.versionNT, session.Get("VersionNT"));
      EXPECT_EQ(c.versionNT64, session.Get("VersionNT64"));
   }
}

}  // namespace
