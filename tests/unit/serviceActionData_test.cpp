// The service actions' CustomActionData: fields in order, missing ones
// empty, numbers read as the actions read them.
#include "common/serviceActionData.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace {

WideString W(const std::string &ascii)
{
   return WideString(ascii.begin(), ascii.end());
}

TEST(ServiceActionData, Numbers)
{
   const struct { const char *text; uint32_t asUnsigned; int32_t asSigned; } cases[] = {
      {"", 0, 0}, {"12", 12, 12}, {" \t7x9", 7, 7}, {"abc", 0, 0}, {"-5", 0, -5}, {"+3", 0, 3},
      {"- 5", 0, 0}, {"4294967295", 4294967295u, 2147483647}, {"99999999999", 4294967295u, 2147483647},
      {"-2147483648", 0, -2147483647 - 1}, {"-99999999999", 0, -2147483647 - 1},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.text);
      EXPECT_EQ(c.asUnsigned, ServiceData_ReadUnsigned(W(c.text)));
      EXPECT_EQ(c.asSigned, ServiceData_ReadSigned(W(c.text)));
      EXPECT_EQ(c.asSigned, ServiceData_ReadSigned(std::string(c.text)));
   }
}

TEST(ServiceActionData, KernelDriverFields)
{
   KernelDriverInstallData d = ServiceData_ParseKernelDriverInstall(W("svc;Disp;;C:\\d.sys;3;1;x;Grp;a,b;;yes;Ref;more"));
   EXPECT_EQ(W("svc|Disp||C:\\d.sys|Grp|a,b|Ref"), d.serviceName + W("|") + d.displayName + W("|") + d.description +
                                                    W("|") + d.binaryPath + W("|") + d.loadOrderGroup + W("|") +
                                                    d.dependencies + W("|") + d.loadAfter);
   EXPECT_EQ((std::vector<uint32_t>{3, 1, 0, 1, 1}),
             (std::vector<uint32_t>{d.startType, d.errorControl, d.startNow, d.serviceType, d.wantTag}))
      << "start now not a number; service type empty: a kernel driver";
   d = ServiceData_ParseKernelDriverInstall(W("svc;Disp;;p;;;;;;16"));
   EXPECT_EQ((std::vector<uint32_t>{0, 16, 0, 1}), (std::vector<uint32_t>{d.startType, d.serviceType, d.wantTag,
                                                                          d.HasRequired()}));
   for (const char *bad : {"", "svc;Disp", ";Disp;;p", "svc;;;p"}) {
      EXPECT_FALSE(ServiceData_ParseKernelDriverInstall(W(bad)).HasRequired()) << bad;
   }
   for (auto [data, removeTag, group] : {std::tuple<const char *, bool, const char *>{"svc;0;1;Grp", true, "Grp"},
                                         {"svc;0;2;Grp", false, "Grp"}, {"svc;;01", true, ""}, {"svc", false, ""}}) {
      const KernelDriverUninstallData u = ServiceData_ParseKernelDriverUninstall(data);
      EXPECT_EQ("svc|" + std::string(group) + (removeTag ? "|1" : "|0"),
                u.serviceName + "|" + u.loadOrderGroup + (u.removeTag ? "|1" : "|0")) << data;
   }
   const InfSectionData inf = ServiceData_ParseInfSection("drv;In;132;C:\\a b\\x.inf", W("drv;In;132;C:\\a b\\x.inf"));
   EXPECT_EQ("drv", inf.serviceName);
   EXPECT_EQ(W("In 132 C:\\a b\\x.inf"), inf.CommandLine());
   EXPECT_EQ(W("  "), ServiceData_ParseInfSection("", W("")).CommandLine());
}

TEST(ServiceActionData, FailureActions)
{
   using C = FailureConfigCheck;
   const struct {
      const char *data;
      C check;
      uint32_t count, types[3];
      uint32_t reset, delay;
      bool reboot, command;
   } cases[] = {
      {"s;restart;restart;reboot;;m;1;60", C::Valid, 3, {1, 1, 2}, 86400, 60000, true, false},
      {"s;restart;;reboot;c;m;0;5", C::Valid, 1, {1}, 0, 5000, false, false},
      {"s;runCommand;none;;c;;-1;0", C::Valid, 2, {3, 0}, 0xFFFFFFFF, 0, false, true},
      {"s;Restart", C::UnknownMethod, 0, {}, 0, 0, false, false},
      {"s;none;;;;;1;-5", C::NegativeDelay, 0, {}, 86400, 0, false, false},
      {"s", C::NoActions, 0, {}, 0, 0, false, false},
      {";none", C::NoServiceName, 0, {}, 0, 0, false, false},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.data);
      const FailureConfigData d = ServiceData_ParseFailureConfig(W(c.data));
      EXPECT_EQ(c.check, d.check);
      EXPECT_EQ(c.count, d.actionCount);
      for (uint32_t i = 0; i < c.count; i++) {
         EXPECT_EQ(c.types[i], d.actionTypes[i]);
      }
      EXPECT_EQ(c.reset, d.resetPeriodSeconds);
      EXPECT_EQ(c.reset == 0xFFFFFFFF, d.resetInfinite);
      EXPECT_EQ(c.delay, d.delayMs);
      EXPECT_EQ(c.reboot, d.usesRebootMessage);
      EXPECT_EQ(c.command, d.usesCommand);
   }
   EXPECT_EQ(W("Restart"), ServiceData_ParseFailureConfig(W("s;Restart")).unknownMethod);
}

}  // namespace
