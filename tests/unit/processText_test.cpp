// Launch command lines, the registration actions' folder;file list and the
// stop-services list, with the expected results written out by hand.
#include "common/processText.h"

#include <gtest/gtest.h>

namespace {

TEST(ProcessText, LaunchCommandLine)
{
   const struct { const char *executable, *commandLine; } cases[] = {
      {"C:\\a b\\x.exe", "\"C:\\a b\\x.exe\" /q"}, {"\"C:\\a b\\x.exe\"", "\"C:\\a b\\x.exe\" /q"},
      {"\"\"C:\\x.exe\"\"", "\"C:\\x.exe\" /q"}, {"\"C:\\x.exe", "\"C:\\x.exe\" /q"},
      {"C:\\x \"y\".exe", "\"C:\\x \"y\".exe\" /q"}, {"\"\"\"", "/q"}, {"", "/q"}};
   for (const auto &c : cases) {
      EXPECT_EQ(c.commandLine, ProcessText_CommandLine(ProcessText_Unquote(c.executable), "/q")) << c.executable;
   }
}

TEST(ProcessText, ServerList)
{
   using Pairs = std::vector<std::pair<std::string, std::string>>;
   const struct { const char *data; Pairs servers; } cases[] = {
      {"C:\\a;x.dll;C:\\b b;y.dll", {{"C:\\a", "x.dll"}, {"C:\\b b", "y.dll"}}}, {"C:\\a;x.dll;C:\\b", {{"C:\\a", "x.dll"}}},
      {"C:\\a;x.dll;", {{"C:\\a", "x.dll"}}}, {"C:\\a;;C:\\b;y.dll", {}}, {";x.dll", {}}, {"C:\\a", {}}, {"", {}}};
   for (const auto &c : cases) {
      EXPECT_EQ(c.servers, ProcessText_ServerList(c.data)) << c.data;
   }
}

TEST(ProcessText, ServiceList)
{
   const struct { const char *value; ServiceListCheck check; std::vector<std::string> names; } cases[] = {
      {"2;a;b", ServiceListCheck::Ok, {"a", "b"}}, {"3;a;b", ServiceListCheck::Ok, {"a", "b"}},
      {"2;a;b;c", ServiceListCheck::Ok, {"a", "b"}}, {"1;a;", ServiceListCheck::Ok, {"a"}},
      {"2;;b", ServiceListCheck::Ok, {"", "b"}}, {"2; a ;b", ServiceListCheck::Ok, {" a ", "b"}},
      {"2;", ServiceListCheck::Ok, {}}, {" +2x;a;b", ServiceListCheck::Ok, {"a", "b"}},
      {"99999999999999;a", ServiceListCheck::Ok, {"a"}}, {"a", ServiceListCheck::NoSeparator, {}},
      {"", ServiceListCheck::NoSeparator, {}}, {"0;a", ServiceListCheck::ZeroCount, {}},
      {"x;a", ServiceListCheck::ZeroCount, {}}, {";a", ServiceListCheck::ZeroCount, {}},
      {"-1;a", ServiceListCheck::BadCount, {}}};
   for (const auto &c : cases) {
      const std::string value = c.value;
      const ServiceList list = ProcessText_ServiceList(WideString(value.begin(), value.end()));
      std::vector<WideString> want;
      for (const std::string &name : c.names) {
         want.emplace_back(name.begin(), name.end());
      }
      EXPECT_EQ(c.check, list.check) << c.value;
      EXPECT_EQ(want, list.names) << c.value;
   }
}

}  // namespace
