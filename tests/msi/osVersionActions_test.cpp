// OVDetectWin2003R2, OVSetOVSysVer and OVSetRealVersionNT through the built
// DLL's export table in a real installer session.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "common/osInfo.h"
#include "tests/msi/msiSession.h"

using namespace msitest;

namespace {

using Strings = std::vector<std::string>;

class OsVersionActions : public testing::Test {
protected:
   void SetUp() override { ASSERT_TRUE(session.Ok()) << session.Failure(); }

   // The custom action's own lines (level I0); all its lines carry its tag.
   Strings Run(const char *exportName)
   {
      LogMark mark;
      EXPECT_EQ(0u, dll.Call(exportName, session.Handle()));
      Strings own;
      for (const LogLine &line : mark.Lines()) {
         EXPECT_EQ(CustomActionTag(), line.tag) << line.text;
         if (line.level == "I0") {
            own.push_back(line.text);
         }
      }
      return own;
   }

   LoadedDll dll;
   MsiSession session;
};

// Wine's GetSystemMetrics(SM_SERVERR2) is always 0: for the "found" branch
// the DLL's import slot of user32!GetSystemMetrics is pointed at this.
int WINAPI R2SystemMetrics(int index)
{
   return index == SM_SERVERR2 ? 1 : GetSystemMetrics(index);
}

ULONG_PTR *SystemMetricsSlot(HMODULE module)
{
   auto base = reinterpret_cast<BYTE *>(module);
   auto nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + reinterpret_cast<IMAGE_DOS_HEADER *>(base)->e_lfanew);
   const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
   for (auto imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + dir.VirtualAddress);
        dir.Size != 0 && imp->Name != 0; ++imp) {
      if (_stricmp(reinterpret_cast<const char *>(base + imp->Name), "user32.dll") != 0) {
         continue;
      }
      auto names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + imp->OriginalFirstThunk);
      auto slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + imp->FirstThunk);
      for (; names->u1.AddressOfData != 0; ++names, ++slots) {
         auto byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
         if (!IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) &&
             strcmp(reinterpret_cast<const char *>(byName->Name), "GetSystemMetrics") == 0) {
            return &slots->u1.Function;
         }
      }
   }
   return nullptr;
}

void WriteSlot(ULONG_PTR *slot, ULONG_PTR value)
{
   DWORD old = 0;
   VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
   *slot = value;
   VirtualProtect(slot, sizeof *slot, old, &old);
}

TEST_F(OsVersionActions, DetectWin2003R2LooksOnlyAtThe502Family)
{
   const struct {
      const char *versionNT, *versionNT64;
      bool family;
   } cases[] = {{"601", "", false}, {"502", "", true}, {"", "502", true}};
   ULONG_PTR *slot = SystemMetricsSlot(dll.Module());
   ASSERT_NE(nullptr, slot) << "the DLL does not import GetSystemMetrics";
   const ULONG_PTR real = *slot;
   for (bool r2 : {false, true}) {
      WriteSlot(slot, r2 ? reinterpret_cast<ULONG_PTR>(&R2SystemMetrics) : real);
      for (const auto &c : cases) {
         SCOPED_TRACE(std::string(r2 ? "R2 system, " : "") + "VersionNT '" + c.versionNT +
                      "', VersionNT64 '" + c.versionNT64 + "'");
         EXPECT_EQ(0u, session.Set("VersionNT", c.versionNT));
         EXPECT_EQ(0u, session.Set("VersionNT64", c.versionNT64));
         // A stale value shows that the property is written in every case.
         EXPECT_EQ(0u, session.Set("WIN2003R2", "stale"));
         Strings lines{"Win2003 R2 detection"};
         if (c.family) {
            lines.push_back(r2 ? "Win2003 R2 found." : "Win2003 R2 not found.");
         }
         EXPECT_EQ(lines, Run("OVDetectWin2003R2"));
         EXPECT_EQ(c.family && r2 ? "1" : "", session.Get("WIN2003R2"));
      }
   }
   WriteSlot(slot, real);
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

const wchar_t kCurrentVersion[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

// A value under kCurrentVersion written, or removed for null data.
void PutValue(const wchar_t *name, DWORD type, const void *data, DWORD size)
{
   LONG rc = data != nullptr ? RegSetKeyValueW(HKEY_LOCAL_MACHINE, kCurrentVersion, name, type, data, size)
                             : RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kCurrentVersion, name);
   EXPECT_TRUE(rc == ERROR_SUCCESS || (data == nullptr && rc == ERROR_FILE_NOT_FOUND)) << rc;
}

TEST_F(OsVersionActions, SetRealVersionNTTakesTheRegistryVersionFrom10On)
{
   // The values as found, put back at the end.
   struct Value {
      const wchar_t *name;
      DWORD type, size;
      BYTE data[64];
      bool present;
   } saved[] = {{L"CurrentMajorVersionNumber", 0, 64, {}, false}, {L"CurrentMinorVersionNumber", 0, 64, {}, false}};
   for (Value &v : saved) {
      v.present = RegGetValueW(HKEY_LOCAL_MACHINE, kCurrentVersion, v.name, RRF_RT_ANY | RRF_NOEXPAND,
                               &v.type, v.data, &v.size) == ERROR_SUCCESS;
   }
   const std::string query = "Couldn't query SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\#Current";
   const std::string below10 = "Registry Major Version < 10, ignoring";
   const DWORD n[] = {0, 3, 5, 6, 9, 10, 99, 100};
   const WORD shortTen = 10;
   const wchar_t text10[] = L"10";
   struct Data {
      DWORD type;
      const void *data;   // null: the value is absent
      DWORD size;
   };
   const Data absent = {REG_NONE, nullptr, 0};
   auto dword = [&](DWORD v) { return Data{REG_DWORD, std::find(n, n + 8, v), 4}; };
   const struct {
      const char *label;
      Data major, minor;
      const char *versionNT64Before, *versionNT, *versionNT64;   // VersionNT is 601 before
      Strings reason;   // between the opening and closing lines
   } cases[] = {
      {"10.0", dword(10), dword(0), "601", "1000", "1000", {}},
      {"10.0, VersionNT64 empty stays empty", dword(10), dword(0), "", "1000", "", {}},
      {"10.5", dword(10), dword(5), "601", "1005", "1005", {}},
      {"99.99", dword(99), dword(99), "601", "9999", "9999", {}},
      {"6.3", dword(6), dword(3), "601", "601", "601", {below10}},
      {"9.0", dword(9), dword(0), "601", "601", "601", {below10}},
      {"100.0", dword(100), dword(0), "601", "601", "601", {"Registry Major Version > 99, ignoring"}},
      {"10.100", dword(10), dword(100), "601", "601", "601", {"Registry Minor Version > 99, ignoring"}},
      {"major as the string \"10\"", {REG_SZ, text10, sizeof text10}, dword(0), "601", "601", "601",
       {query + "MajorVersionNumber"}},
      {"major a DWORD of two bytes", {REG_DWORD, &shortTen, 2}, dword(0), "601", "601", "601",
       {query + "MajorVersionNumber"}},
      {"both absent", absent, absent, "601", "601", "601", {query + "MajorVersionNumber"}},
      {"minor absent", dword(10), absent, "601", "601", "601", {query + "MinorVersionNumber"}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      PutValue(saved[0].name, c.major.type, c.major.data, c.major.size);
      PutValue(saved[1].name, c.minor.type, c.minor.data, c.minor.size);
      EXPECT_EQ(0u, session.Set("VersionNT", "601"));
      EXPECT_EQ(0u, session.Set("VersionNT64", c.versionNT64Before));
      Strings lines{"OVSetRealVersionNT running"};
      lines.insert(lines.end(), c.reason.begin(), c.reason.end());
      lines.push_back("OVSetRealVersionNT Done");
      EXPECT_EQ(lines, Run("OVSetRealVersionNT"));
      EXPECT_EQ(c.versionNT, session.Get("VersionNT"));
      EXPECT_EQ(c.versionNT64, session.Get("VersionNT64"));
   }
   for (const Value &v : saved) {
      PutValue(v.name, v.type, v.present ? v.data : nullptr, v.size);
   }
}

}  // namespace
