// The text the action families take apart, at its quoted edges;
// fuzz/actionText_fuzz.cpp compares every parser here with a model on random
// input.
#include <gtest/gtest.h>

#include "common/fileText.h"
#include "common/processText.h"
#include "common/registryValue.h"
#include "common/serviceActionData.h"

namespace {

using namespace std::string_literals;

WideString W(const std::string &ascii)
{
   return WideString(ascii.begin(), ascii.end());
}

TEST(FileText, DeleteListEndsAtAnEmptyTokenOrAnUnknownType)
{
   // Types are compared exactly: "File" is unknown and the last entry.
   const std::vector<DeleteEntry> entries = Util_ParseDeleteList(W("folder;C:\\b;File;C:\\a;file;C:\\c"));
   ASSERT_EQ(2u, entries.size());
   EXPECT_EQ(DeleteKind::Folder, entries[0].kind);
   EXPECT_EQ(DeleteKind::Unknown, entries[1].kind);
   EXPECT_EQ(W("C:\\a"), entries[1].path);
}

TEST(FileText, PropertyFileBesideThePackage)
{
   EXPECT_EQ("C:\\setup.txt.d\\p.txt", Util_PropertyFilePath("C:\\setup.msi.d\\p.msi"));
   EXPECT_EQ("C:\\P.MSI", Util_PropertyFilePath("C:\\P.MSI"));
   std::string got;
   for (const PropertyAssignment &a : Util_ParsePropertyFile("; N=1\r\n\v\f NAME \t= a = b\r\nFLAG\n=v\n\xC2\xA0X=1")) {
      got += "[" + a.name + "|" + a.value + "]";
   }
   // No-break space is no blank: it stays part of a name.
   EXPECT_EQ("[NAME|a = b][FLAG|][\xC2\xA0X|1]", got);
}

TEST(FileText, RequiredSpaceInstallDirAndUtf8)
{
   EXPECT_EQ(1500000, Util_ParseRequiredSpace("1,500,000"));
   const auto remote = [](const std::string &root) { return root == "N:"; };
   EXPECT_EQ(INSTALLDIR_REMOTE, Util_CheckInstallDirText("N:\\P", false, remote));
   EXPECT_EQ(INSTALLDIR_VALID, Util_CheckInstallDirText("C:\\" + std::string(256, 'x'), false, remote));
   EXPECT_EQ(INSTALLDIR_TOO_LONG, Util_CheckInstallDirText("C:\\" + std::string(257, 'x'), false, remote));
   EXPECT_EQ(INSTALLDIR_SEMICOLON, Util_CheckInstallDirText("\\\\srv\\a;b", true, remote));
   EXPECT_TRUE(Util_IsUtf8("a\xC3\xA9\xF0\x9F\x98\x80"));
   EXPECT_FALSE(Util_IsUtf8("\xC3"));
}

TEST(ProcessText, LaunchCommandLine)
{
   EXPECT_EQ("\"C:\\a b\\x.exe\" /q", ProcessText_CommandLine(ProcessText_Unquote("\"\"C:\\a b\\x.exe\"\""), "/q"));
   EXPECT_EQ("\"C:\\x \"y\".exe\" /q", ProcessText_CommandLine(ProcessText_Unquote("C:\\x \"y\".exe"), "/q"));
   EXPECT_EQ("/q", ProcessText_CommandLine(ProcessText_Unquote("\"\"\""), "/q"));
}

TEST(ProcessText, ServerAndServiceLists)
{
   using Pairs = std::vector<std::pair<std::string, std::string>>;
   EXPECT_EQ((Pairs{{"C:\\a", "x.dll"}}), ProcessText_ServerList("C:\\a;x.dll;C:\\b;;C:\\c;y.dll"));
   // The count read like a C integer, names kept with their blanks, a trailing ";" ending the list.
   const ServiceList list = ProcessText_ServiceList(W(" +3x; a ;;"));
   EXPECT_EQ(ServiceListCheck::Ok, list.check);
   EXPECT_EQ((std::vector<WideString>{W(" a "), W("")}), list.names);
   EXPECT_EQ(ServiceListCheck::BadCount, ProcessText_ServiceList(W("-1;a")).check);
}

TEST(RegistryValue, TypeFollowsTheRawFieldAndTheFormattedText)
{
   // Each replacement resumes after the mark it replaced.
   EXPECT_EQ("[~]", RegistryValue_ReplaceTildeMarks("[[~]]"));
   EXPECT_EQ("\xF4\xFF\xFF\xFF"s, RegistryValue_Encode("#[P]", "#-1#2x").bytes);   // -12
   EXPECT_EQ("#5\0"s, RegistryValue_Encode("[P]", "#5").bytes);
   const RegistryValueData list = RegistryValue_Encode("[D]", "C:\\PROGRA~1\\");
   EXPECT_EQ(REGISTRY_VALUE_MULTI_SZ, list.type);
   EXPECT_EQ("C:\\PROGRA\0" "1\\\0\0"s, list.bytes);
}

TEST(ServiceActionData, DriverFields)
{
   // Start now not a number, service type empty: a kernel driver.
   const KernelDriverInstallData d = ServiceData_ParseKernelDriverInstall(W("s;D;;C:\\d.sys;3;1;x;G;a,b;;yes;Ref"));
   EXPECT_EQ(W("G|Ref"), d.loadOrderGroup + W("|") + d.loadAfter);
   EXPECT_EQ((std::vector<uint32_t>{3, 1, 0, 1, 1}),
             (std::vector<uint32_t>{d.startType, d.errorControl, d.startNow, d.serviceType, d.wantTag}));
   EXPECT_TRUE(ServiceData_ParseKernelDriverUninstall("s;0;01;G").removeTag);
   // The INF path last and unquoted: the setup API takes the rest of the line as the path.
   EXPECT_EQ(W("In 132 C:\\a b\\x.inf"), ServiceData_ParseInfSection("", W("drv;In;132;C:\\a b\\x.inf")).CommandLine());
}

TEST(ServiceActionData, FailureActions)
{
   const FailureConfigData d = ServiceData_ParseFailureConfig(W("s;restart;runCommand;reboot;c;m;2;60"));
   EXPECT_EQ(FailureConfigCheck::Valid, d.check);
   EXPECT_EQ((std::vector<uint32_t>{3, 1, 3, 2, 1, 1, 172800, 60000}),
             (std::vector<uint32_t>{d.actionCount, d.actionTypes[0], d.actionTypes[1], d.actionTypes[2],
                                    d.usesRebootMessage, d.usesCommand, d.resetPeriodSeconds, d.delayMs}));
   // Methods are compared exactly.
   EXPECT_EQ(W("Restart"), ServiceData_ParseFailureConfig(W("s;Restart")).unknownMethod);
   EXPECT_EQ(FailureConfigCheck::NegativeDelay, ServiceData_ParseFailureConfig(W("s;none;;;;;1;-5")).check);
}

}  // namespace
