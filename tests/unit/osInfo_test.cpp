// The mapping from Windows version data to OSType and to the release text,
// row by row of the published tables, with the lines it asks to be logged.
#include "common/osInfoMap.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const uint32_t kDc = OSINFO_SUITE_DATACENTER, kEnt = OSINFO_SUITE_ENTERPRISE;
const uint32_t kCompute = OSINFO_SUITE_COMPUTE_SERVER, kStorage = OSINFO_SUITE_STORAGE_SERVER;
const std::string kTail = "SPMAJ=0:SPMIN=0:BUILD=1234:";

// NT data; product type 1 is client, architecture 9 x64, 0 x86, 6 Itanium.
OsVersionData Nt(unsigned maj, unsigned min, unsigned type = 1, unsigned arch = 9, unsigned suite = 0, bool r2 = false)
{
   return {true, 2, maj, min, 1234, 0, 0, suite, type, arch, false, 0, r2};
}

// Another platform, or an unreadable version; and 6.0 client x86 with the GetProductInfo product type.
OsVersionData Platform(uint32_t id, uint32_t major, uint32_t minor, bool read = true)
{
   return {read, id, major, minor, 1234, 0, 0, 0, 1, 9};
}
OsVersionData Product(uint32_t type) { return {true, 2, 6, 0, 1234, 0, 0, 0, 1, 0, true, type}; }

struct Row {
   std::string label;
   OsVersionData data;
   std::string text;       // the version string, or the OSType's number
   std::string log = {};   // the one level-2 line expected, or empty for none
};

// Each row through the version-string mapping, or the OSType mapping (whose
// result is compared as its number).
void Expect(const std::vector<Row> &rows, bool osType = false)
{
   for (const Row &row : rows) {
      SCOPED_TRACE(row.label);
      const OsTypeMapping t = OsInfo_MapType(row.data);
      const OsVersionStringMapping v = OsInfo_MapVersionString(row.data);
      EXPECT_EQ(row.text, osType ? std::to_string(t.type) : v.text);
      const std::vector<OsInfoLogLine> &log = osType ? t.log : v.log;
      ASSERT_EQ(log.size(), row.log.empty() ? 0u : 1u);
      EXPECT_TRUE(row.log.empty() || (log[0].level == 0x02u && log[0].text == row.log)) << log[0].text;
   }
}

TEST(OsInfoMap, OsType)
{
   const std::string nt = "Util_GetOSType: NT OS Type is unknown: Major: ";
   Expect({
      {"9x 4.0", Platform(1, 4, 0), "1"}, {"9x 4.10", Platform(1, 4, 10), "2"}, {"9x 4.90", Platform(1, 4, 90), "3"},
      {"9x 4.20: silent", Platform(1, 4, 20), "10"}, {"9x 5.0: silent", Platform(1, 5, 0), "10"},
      {"platform 3", Platform(3, 6, 1), "10"}, {"unreadable", Platform(2, 6, 1, false), "10"},
      {"NT 3.51", Nt(3, 51), "4"}, {"NT 4.0", Nt(4, 0), "4"}, {"5.0", Nt(5, 0, 3), "5"}, {"5.1", Nt(5, 1), "6"},
      {"5.2 server", Nt(5, 2, 3), "7"}, {"5.2 client", Nt(5, 2, 1), "7"}, {"5.3", Nt(5, 3), "7"},
      {"6.0 client", Nt(6, 0, 1), "8"}, {"6.0 server", Nt(6, 0, 3), "8"}, {"6.1 client", Nt(6, 1, 1), "9"},
      {"6.1 server", Nt(6, 1, 2), "8"}, {"6.1 type 0 (plain structure)", Nt(6, 1, 0), "8"},
      {"6.2 client", Nt(6, 2, 1), "9"}, {"6.3 client", Nt(6, 3, 1), "9"},
      {"6.2 server", Nt(6, 2, 3), "10", nt + "6 Minor: 2"}, {"7.0", Nt(7, 0), "10", nt + "7 Minor: 0"},
      {"10.0", Nt(10, 0), "10", nt + "10 Minor: 0"},
   }, true);
}

TEST(OsInfoMap, VersionString)
{
   // Data: read, platform, major, minor, build, SP major, SP minor, suite, type, arch, GetProductInfo.
   const std::string unknown = "Util_GetSystemVersionString: Unknown OS: ";
   const std::string s2003 = ":WIN2003:WINDOWS SERVER 2003:", w2k = ":WIN2000:WINDOWS 2000 ";
   const std::string r2 = ":WIN2003:WINDOWS SERVER 2003 R2:";
   Expect({
      {"7 Ultimate x64 SP1", {true, 2, 6, 1, 7601, 1, 0, 0, 1, 9, true, 1},
       ":WIN7:WINDOWS 7:ULTIMATE EDITION:BIT=64:SPMAJ=1:SPMIN=0:BUILD=7601:"},
      {"XP Professional SP3", {true, 2, 5, 1, 2600, 3, 0, 0, 1, 0},
       ":XP:WINDOWS XP PROFESSIONAL:SPMAJ=3:SPMIN=0:BUILD=2600:"},
      {"6.0 client", Nt(6, 0, 1), ":VISTA:WINDOWS VISTA:BIT=64:" + kTail},
      {"6.0 server 2", Nt(6, 0, 2), ":WIN2008:WINDOWS SERVER 2008:BIT=64:" + kTail},
      {"6.1 client", Nt(6, 1, 1), ":WIN7:WINDOWS 7:BIT=64:" + kTail},
      {"6.1 server", Nt(6, 1, 3), ":WIN2008:WINDOWS SERVER 2008 R2:BIT=64:" + kTail},
      {"x86, no GetProductInfo", Nt(6, 0, 1, 0), ":VISTA:WINDOWS VISTA:BIT=32:" + kTail},
      {"Itanium: no word size", Nt(6, 0, 1, 6), ":VISTA:WINDOWS VISTA:" + kTail},
      {"ARM64 (12): no word size", Nt(6, 1, 1, 12), ":WIN7:WINDOWS 7:" + kTail},
      {"service pack 2.1", {true, 2, 6, 0, 1234, 2, 1, 0, 1, 0},
       ":VISTA:WINDOWS VISTA:BIT=32:SPMAJ=2:SPMIN=1:BUILD=1234:"},
      {"6.2 client", Nt(6, 2, 1), ":BIT=64:" + kTail, unknown + "6.2 Type: 1"},
      {"6.2 server", Nt(6, 2, 3), ":BIT=64:" + kTail, unknown + "6.2 Type: 3"},
      {"10.0 Enterprise x64", {true, 2, 10, 0, 1234, 0, 0, 0, 1, 9, true, 4}, ":ENTERPRISE EDITION:BIT=64:" + kTail,
       unknown + "10.0 Type: 1"},
      // The 2003 release token, in the order of its tests.
      {"R2 first", Nt(5, 2, 3, 0, kStorage, true), r2 + "STANDARD EDITION:" + kTail},
      {"storage: mask exactly 0x2000", Nt(5, 2, 3, 0, kStorage),
       ":WIN2003:WINDOWS STORAGE SERVER 2003:STANDARD EDITION:" + kTail},
      {"0x2000 with other bits", Nt(5, 2, 3, 0, kStorage | kEnt), s2003 + "ENTERPRISE EDITION:" + kTail},
      {"client x64", Nt(5, 2, 1, 9), ":XP:WINDOWS XP PROFESSIONAL X64 EDITION:" + kTail},
      {"client x86: no edition", Nt(5, 2, 1, 0, kDc), s2003 + kTail},
      {"R2 client x64", Nt(5, 2, 1, 9, 0, true), r2 + kTail},
      // The 2003 edition by architecture.
      {"IA64 dc", Nt(5, 2, 3, 6, kDc | kEnt), s2003 + "DATACENTER EDITION FOR ITANIUM-BASED SYSTEMS:" + kTail},
      {"IA64 ent", Nt(5, 2, 3, 6, kEnt), s2003 + "ENTERPRISE EDITION FOR ITANIUM-BASED SYSTEMS:" + kTail},
      {"IA64 other", Nt(5, 2, 3, 6, kCompute), s2003 + kTail},
      {"x64 dc", Nt(5, 2, 3, 9, kDc | kEnt), s2003 + "DATACENTER X64 EDITION:" + kTail},
      {"x64 ent", Nt(5, 2, 3, 9, kEnt), s2003 + "ENTERPRISE X64 EDITION:" + kTail},
      {"x64 other", Nt(5, 2, 3, 9, kCompute), s2003 + "STANDARD X64 EDITION:" + kTail},
      {"x86 compute first", Nt(5, 2, 3, 0, kCompute | kDc), s2003 + "COMPUTE CLUSTER EDITION:" + kTail},
      {"x86 dc", Nt(5, 2, 3, 0, kDc | kEnt), s2003 + "DATACENTER EDITION:" + kTail},
      {"x86 ent", Nt(5, 2, 2, 0, kEnt), s2003 + "ENTERPRISE EDITION:" + kTail},
      {"x86 other", Nt(5, 2, 3, 0), s2003 + "STANDARD EDITION:" + kTail},
      {"architecture 5 as x86", Nt(5, 2, 3, 5, kEnt), s2003 + "ENTERPRISE EDITION:" + kTail},
      // XP, 2000, and later 5.x.
      {"XP home", Nt(5, 1, 1, 0, 0x300), ":XP:WINDOWS XP HOME EDITION:" + kTail},
      {"XP professional", Nt(5, 1, 1, 0, 0x100), ":XP:WINDOWS XP PROFESSIONAL:" + kTail},
      {"2000 client", Nt(5, 0, 1, 0, kDc), w2k + "PROFESSIONAL:" + kTail},
      {"2000 dc", Nt(5, 0, 3, 0, kDc | kEnt), w2k + "DATACENTER SERVER:" + kTail},
      {"2000 ent", Nt(5, 0, 3, 0, kEnt), w2k + "ADVANCED SERVER:" + kTail},
      {"2000 server", Nt(5, 0, 2, 0), w2k + "SERVER:" + kTail},
      {"5.3: no release token", Nt(5, 3, 3, 9), ":" + kTail},
      // Empty.
      {"NT 4.0", Nt(4, 0), ""}, {"NT 3.51", Nt(3, 51), ""}, {"95", Platform(1, 4, 0), ""},
      {"98", Platform(1, 4, 10), ""}, {"Me", Platform(1, 4, 90), ""}, {"9x 5.0", Platform(1, 5, 0), ""},
      {"platform 0", Platform(0, 6, 1), ""}, {"unreadable", Platform(2, 6, 1, false), ""},
   });
}

// GetProductInfo's types: "nothing" at both ends of each such range.
TEST(OsInfoMap, VersionStringProductEditions)
{
   const std::string core = "CORE:", ent = "ENTERPRISE EDITION:", dc = "DATACENTER EDITION";
   const std::pair<std::vector<uint32_t>, std::string> editions[] = {
      {{1}, "ULTIMATE EDITION:"}, {{2}, "HOME BASIC EDITION:"}, {{3}, "HOME PREMIUM EDITION:"},
      {{4, 10}, ent}, {{6}, "BUSINESS EDITION:"}, {{7}, "STANDARD EDITION:"}, {{8}, dc + ":"},
      {{9}, "SMALL BUSINESS SERVER:"}, {{11}, "STARTER EDITION:"},
      {{12}, dc + " (CORE INSTALLATION):" + core}, {{13}, "STANDARD EDITION (CORE INSTALLATION):" + core},
      {{14}, "ENTERPRISE EDITION (CORE INSTALLATION):" + core},
      {{15}, "ENTERPRISE EDITION FOR ITANIUM-BASED SYSTEMS:"}, {{17}, "WEB SERVER EDITION:"},
      {{18}, "CLUSTER SERVER EDITION:"}, {{25}, "SMALL BUSINESS SERVER PREMIUM EDITION:"},
      {{39, 40, 41, 43, 44, 45, 46, 53, 57, 63}, core},
      {{0, 5, 16, 19, 24, 26, 38, 42, 47, 52, 54, 56, 58, 62, 64, 0xFFFFFFFF}, ""},
   };
   std::vector<Row> rows;
   for (const auto &e : editions) {
      for (uint32_t type : e.first) {
         rows.push_back({"type " + std::to_string(type), Product(type),
                         ":VISTA:WINDOWS VISTA:" + e.second + "BIT=32:" + kTail});
      }
   }
   Expect(rows);
}

} // namespace
