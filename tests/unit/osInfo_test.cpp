// The mapping from Windows version data to OSType and to the release text,
// row by row of the published tables, with the lines it asks to be logged.
#include "common/osInfoMap.h"

#include <gtest/gtest.h>

namespace {

const uint32_t kDc = OSINFO_SUITE_DATACENTER, kEnt = OSINFO_SUITE_ENTERPRISE;
const uint32_t kCompute = OSINFO_SUITE_COMPUTE_SERVER, kStorage = OSINFO_SUITE_STORAGE_SERVER;

// NT data, service pack 2.1, build 1234; product type 1 is client,
// architecture 9 x64, 0 x86, 6 Itanium; a GetProductInfo type, or none.
OsVersionData Nt(unsigned maj, unsigned min, unsigned type = 1, unsigned arch = 9, unsigned suite = 0, bool r2 = false,
                 int product = -1)
{
   return {true, 2, maj, min, 1234, 2, 1, suite, type, arch, product >= 0, uint32_t(product), r2};
}

// The version data; the OSType; the version string, which ends in the
// service pack and build unless it is empty; the level-2 lines logged, the
// OSType's first.
struct Row { OsVersionData data; int type; std::string text; std::vector<std::string> log = {}; };

TEST(OsInfoMap, TypeAndVersionString)
{
   const std::string type = "Util_GetOSType: NT OS Type is unknown: Major: ";
   const std::string unknown = "Util_GetSystemVersionString: Unknown OS: ", vista = ":VISTA:WINDOWS VISTA:";
   const std::string w2k = ":WIN2000:WINDOWS 2000 ", s2003 = ":WIN2003:WINDOWS SERVER 2003:";
   const std::string itanium = " EDITION FOR ITANIUM-BASED SYSTEMS:";
   std::vector<Row> rows = {
      {{true, 1, 4, 0}, 1, ""}, {{true, 1, 4, 10}, 2, ""}, {{true, 1, 4, 90}, 3, ""}, {{true, 1, 4, 20}, 10, ""},
      {{true, 1, 5, 0}, 10, ""}, {{true, 3, 6, 1}, 10, ""}, {{}, 10, ""}, {Nt(3, 51), 4, ""}, {Nt(4, 0), 4, ""},
      {Nt(6, 1, 1, 9, 0, false, 1), 9, ":WIN7:WINDOWS 7:ULTIMATE EDITION:BIT=64:"},
      {Nt(6, 0, 1, 6), 8, vista}, {Nt(6, 0, 2), 8, ":WIN2008:WINDOWS SERVER 2008:BIT=64:"},
      {Nt(6, 1, 0), 8, ":WIN2008:WINDOWS SERVER 2008 R2:BIT=64:"},
      {Nt(6, 3, 1, 0), 9, ":BIT=32:", {unknown + "6.3 Type: 1"}},
      {Nt(6, 2, 3, 9, 0, false, 4), 10, ":ENTERPRISE EDITION:BIT=64:", {type + "6 Minor: 2", unknown + "6.2 Type: 3"}},
      {Nt(10, 0), 10, ":BIT=64:", {type + "10 Minor: 0", unknown + "10.0 Type: 1"}},
      // The 2003 release token in the order of its tests, then the edition by architecture.
      {Nt(5, 2, 3, 0, kStorage, true), 7, ":WIN2003:WINDOWS SERVER 2003 R2:STANDARD EDITION:"},
      {Nt(5, 2, 3, 0, kStorage), 7, ":WIN2003:WINDOWS STORAGE SERVER 2003:STANDARD EDITION:"},
      {Nt(5, 2, 3, 0, kStorage | kEnt), 7, s2003 + "ENTERPRISE EDITION:"},
      {Nt(5, 2, 1, 9), 7, ":XP:WINDOWS XP PROFESSIONAL X64 EDITION:"}, {Nt(5, 2, 1, 0, kDc), 7, s2003},
      {Nt(5, 2, 3, 6, kDc | kEnt), 7, s2003 + "DATACENTER" + itanium},
      {Nt(5, 2, 3, 6, kEnt), 7, s2003 + "ENTERPRISE" + itanium}, {Nt(5, 2, 3, 6, kCompute), 7, s2003},
      {Nt(5, 2, 3, 9, kDc | kEnt), 7, s2003 + "DATACENTER X64 EDITION:"},
      {Nt(5, 2, 3, 9, kEnt), 7, s2003 + "ENTERPRISE X64 EDITION:"},
      {Nt(5, 2, 3, 9), 7, s2003 + "STANDARD X64 EDITION:"},
      {Nt(5, 2, 3, 0, kCompute | kDc), 7, s2003 + "COMPUTE CLUSTER EDITION:"},
      {Nt(5, 2, 3, 0, kDc | kEnt), 7, s2003 + "DATACENTER EDITION:"},
      {Nt(5, 2, 2, 0, kEnt), 7, s2003 + "ENTERPRISE EDITION:"}, {Nt(5, 2, 3, 0), 7, s2003 + "STANDARD EDITION:"},
      {Nt(5, 3, 3, 9), 7, ":"},
      // XP and 2000.
      {Nt(5, 1, 1, 0, 0x300), 6, ":XP:WINDOWS XP HOME EDITION:"},
      {Nt(5, 1, 1, 0, 0x100), 6, ":XP:WINDOWS XP PROFESSIONAL:"}, {Nt(5, 0, 1, 0, kDc), 5, w2k + "PROFESSIONAL:"},
      {Nt(5, 0, 3, 0, kDc | kEnt), 5, w2k + "DATACENTER SERVER:"}, {Nt(5, 0, 3, 0, kEnt), 5, w2k + "ADVANCED SERVER:"},
      {Nt(5, 0, 2, 0), 5, w2k + "SERVER:"}};
   // Each GetProductInfo type's edition, "CORE:" after those of core
   // installations; nothing at both ends of each range.
   const std::string core = " (CORE INSTALLATION):CORE:";
   const std::pair<std::vector<uint32_t>, std::string> editions[] = {
      {{1}, "ULTIMATE EDITION:"}, {{2}, "HOME BASIC EDITION:"}, {{3}, "HOME PREMIUM EDITION:"},
      {{7}, "STANDARD EDITION:"}, {{4, 10}, "ENTERPRISE EDITION:"}, {{6}, "BUSINESS EDITION:"},
      {{8}, "DATACENTER EDITION:"}, {{9}, "SMALL BUSINESS SERVER:"}, {{11}, "STARTER EDITION:"},
      {{12}, "DATACENTER EDITION" + core}, {{13}, "STANDARD EDITION" + core}, {{14}, "ENTERPRISE EDITION" + core},
      {{15}, "ENTERPRISE" + itanium}, {{17}, "WEB SERVER EDITION:"}, {{18}, "CLUSTER SERVER EDITION:"},
      {{25}, "SMALL BUSINESS SERVER PREMIUM EDITION:"}, {{39, 40, 41, 43, 44, 45, 46, 53, 57, 63}, "CORE:"},
      {{0, 5, 16, 19, 24, 26, 38, 42, 47, 52, 54, 56, 58, 62, 64}, ""}};
   for (const auto &e : editions) {
      for (uint32_t product : e.first) {
         rows.push_back({Nt(6, 0, 1, 0, 0, false, int(product)), 8, vista + e.second + "BIT=32:"});
      }
   }
   for (const Row &row : rows) {
      const OsTypeMapping t = OsInfo_MapType(row.data);
      const OsVersionStringMapping v = OsInfo_MapVersionString(row.data);
      std::vector<std::string> log;
      for (const std::vector<OsInfoLogLine> *lines : {&t.log, &v.log}) {
         for (const OsInfoLogLine &line : *lines) {
            log.push_back(line.level == 0x02u ? line.text : "not at level 2: " + line.text);
         }
      }
      EXPECT_EQ(row.type, t.type) << row.text;
      EXPECT_EQ(row.text.empty() ? "" : row.text + "SPMAJ=2:SPMIN=1:BUILD=1234:", v.text);
      EXPECT_EQ(row.log, log) << row.text;
   }
}

} // namespace
