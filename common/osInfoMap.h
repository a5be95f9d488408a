// Which Windows the version data describe: the enumeration other utilities
// compare against and the colon-separated release text. Pure functions over
// a plain record, so every Windows generation can be checked on any host;
// common/osInfo.cpp reads the record from the running system.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Callers compare these numerically (at least OS_WIN2000, greater than
// OS_WINNT4), so the values and their order are fixed.
enum OSType : int32_t {
   OS_WIN95 = 1,
   OS_WIN98 = 2,
   OS_WINME = 3,
   OS_WINNT4 = 4,
   OS_WIN2000 = 5,
   OS_WINXP = 6,
   OS_WIN2003 = 7,
   OS_VISTA = 8,
   OS_WIN7 = 9,
   OS_UNKNOWN = 10,
};

// Published Windows constants the mapping reads.
enum : uint32_t {
   OSINFO_PLATFORM_9X = 1,
   OSINFO_PLATFORM_NT = 2,
   OSINFO_PRODUCT_CLIENT = 1,
   OSINFO_SUITE_ENTERPRISE = 0x0002,
   OSINFO_SUITE_DATACENTER = 0x0080,
   OSINFO_SUITE_PERSONAL = 0x0200,
   OSINFO_SUITE_STORAGE_SERVER = 0x2000,
   OSINFO_SUITE_COMPUTE_SERVER = 0x4000,
   OSINFO_ARCH_X86 = 0,
   OSINFO_ARCH_IA64 = 6,
   OSINFO_ARCH_X64 = 9,
};

// What GetVersionExA, GetNativeSystemInfo, GetProductInfo and
// GetSystemMetrics(SM_SERVERR2) reported.
struct OsVersionData {
   bool versionRead = false;          // GetVersionExA succeeded
   uint32_t platformId = 0;
   uint32_t major = 0;
   uint32_t minor = 0;
   uint32_t build = 0;
   uint32_t spMajor = 0;
   uint32_t spMinor = 0;
   uint32_t suiteMask = 0;
   uint32_t productType = 0;          // 0 when only OSVERSIONINFOA was filled
   uint32_t processorArchitecture = 0;
   bool hasProductInfo = false;       // the GetProductInfo export exists
   uint32_t productInfoType = 0;      // what it returned for 6.0 SP 0.0
   bool serverR2 = false;             // SM_SERVERR2 non-zero
};

// A line the caller writes to the library's log (Inst_Log).
struct OsInfoLogLine {
   uint32_t level;
   std::string text;
};

struct OsTypeMapping {
   OSType type;
   std::vector<OsInfoLogLine> log;
};

struct OsVersionStringMapping {
   std::string text;                  // empty: unreadable, or older than 2000
   std::vector<OsInfoLogLine> log;
};

OsTypeMapping OsInfo_MapType(const OsVersionData &data);
OsVersionStringMapping OsInfo_MapVersionString(const OsVersionData &data);
