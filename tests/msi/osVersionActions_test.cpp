// OVDetectWin2003R2 and OVSetRealVersionNT through the built DLL's export
// table in a real installer session (OVSetOVSysVer: osVersionGenerations).
#include <windows.h>

#include <gtest/gtest.h>


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

// The slot of the module's import address table that holds GetSystemMetrics.
ULONG_PTR *SystemMetricsSlot(HMODULE module)
{
   auto base = reinterpret_cast<BYTE *>(module);
   auto nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + reinterpret_cast<IMAGE_DOS_HEADER *>(base)->e_lfanew);
   const IMAGE_DATA_DIRECTORY &iat = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IAT];
   const auto real = reinterpret_cast<ULONG_PTR>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetSystemMetrics"));
   auto slots = reinterpret_cast<ULONG_PTR *>(base + iat.VirtualAddress);
   for (size_t i = 0; real != 0 && i < iat.Size / sizeof *slots; i++) {
      if (slots[i] == real) {
         return &slots[i];
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

const wchar_t kCurrentVersion[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

using Value = std::pair<DWORD, std::string>;   // type and bytes; REG_NONE: absent

// A value under kCurrentVersion written, or removed.
void Put(const wchar_t *name, const Value &v)
{
   LONG rc = v.first == REG_NONE ? RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kCurrentVersion, name)
                                 : RegSetKeyValueW(HKEY_LOCAL_MACHINE, kCurrentVersion, name, v.first,
                                                   v.second.data(), DWORD(v.second.size()));
   EXPECT_TRUE(rc == ERROR_SUCCESS || (v.first == REG_NONE && rc == ERROR_FILE_NOT_FOUND)) << rc;
}

TEST_F(OsVersionActions, SetRealVersionNTTakesTheRegistryVersionFrom10On)
{
   const wchar_t *names[] = {L"CurrentMajorVersionNumber", L"CurrentMinorVersionNumber"};
   Value saved[2];   // as found, put back at the end
   for (int i : {0, 1}) {
      char data[64];
      DWORD type = REG_NONE, size = sizeof data;
      bool found = RegGetValueW(HKEY_LOCAL_MACHINE, kCurrentVersion, names[i], RRF_RT_ANY | RRF_NOEXPAND, &type,
                                data, &size) == ERROR_SUCCESS;
      saved[i] = found ? Value{type, std::string(data, size)} : Value{REG_NONE, ""};
   }
   const std::string query = "Couldn't query SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\#Current";
   const std::string below10 = "Registry Major Version < 10, ignoring";
   auto dword = [](DWORD v) { return Value{REG_DWORD, std::string(reinterpret_cast<const char *>(&v), 4)}; };
   const Value absent{REG_NONE, ""}, text10{REG_SZ, std::string("1\0" "0\0\0\0", 6)};
   const Value shortTen{REG_DWORD, std::string("\x0a\0", 2)};
   const struct {
      const char *label;
      Value major, minor;
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
      {"major as the string \"10\"", text10, dword(0), "601", "601", "601", {query + "MajorVersionNumber"}},
      {"major a DWORD of two bytes", shortTen, dword(0), "601", "601", "601", {query + "MajorVersionNumber"}},
      {"both absent", absent, absent, "601", "601", "601", {query + "MajorVersionNumber"}},
      {"minor absent", dword(10), absent, "601", "601", "601", {query + "MinorVersionNumber"}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      Put(names[0], c.major);
      Put(names[1], c.minor);
      EXPECT_EQ(0u, session.Set("VersionNT", "601"));
      EXPECT_EQ(0u, session.Set("VersionNT64", c.versionNT64Before));
      Strings lines{"OVSetRealVersionNT running"};
      lines.insert(lines.end(), c.reason.begin(), c.reason.end());
      lines.push_back("OVSetRealVersionNT Done");
      EXPECT_EQ(lines, Run("OVSetRealVersionNT"));
      EXPECT_EQ(c.versionNT, session.Get("VersionNT"));
      EXPECT_EQ(c.versionNT64, session.Get("VersionNT64"));
   }
   for (int i : {0, 1}) {
      Put(names[i], saved[i]);
   }
}

}  // namespace
