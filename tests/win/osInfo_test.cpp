// The OS identification against the Windows Wine chooses: the results agree
// with the mapping of the raw data, and the raw data with independent calls.
#include "common/osInfo.h"

#include <gtest/gtest.h>

TEST(OsInfo, AgreesWithTheMappingOfTheRawDataAndIsNotWow64)
{
   OsVersionData d = OsInfo_ReadVersionData(false);
   ASSERT_TRUE(d.versionRead);
   EXPECT_EQ(Util_GetOSType(), OsInfo_MapType(OsInfo_ReadVersionData(true)).type);
   std::string text = Util_GetSystemVersionString();
   EXPECT_EQ(text, OsInfo_MapVersionString(d).text);
   EXPECT_FALSE(text.empty()) << "every Windows Wine offers is NT 5.0 or later";
   DWORD packed = GetVersion();   // low byte major, next byte minor
   EXPECT_EQ(d.major, LOBYTE(LOWORD(packed)));
   EXPECT_EQ(d.minor, HIBYTE(LOWORD(packed)));
   EXPECT_EQ(d.processorArchitecture, uint32_t(OSINFO_ARCH_X64)) << "native, 64-bit";
   EXPECT_FALSE(Util_IsWow64()) << "a 64-bit process";
}
