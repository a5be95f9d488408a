// The host log channel against a simulated hypervisor (tests/win/
// simulatedHost.h), which records each call the guest makes. Never run it
// natively on a machine with a real hypervisor: the accesses would reach it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <tuple>

#include "hostChannel/logToHost.h"
#include "tests/win/simulatedHost.h"

namespace {

using Strings = std::vector<std::string>;
const std::string kSendFailed = "RpcOut: Unable to send the RPCI command",
                  kReceiveFailed = "RpcOut: Unable to receive the result of the RPCI command",
                  kBadFormat = "RpcOut: Invalid format for the result of the RPCI command",
                  kLog = "guest.log.text ==INSTLOG ";

// One message over a channel that takes its reply ("1 pong") into a caller
// buffer of `size` bytes: the reply and its NUL must fit, and land there.
bool ReceiveIntoCallerBuffer(size_t size)
{
   char buffer[8];
   HostChannel channel;
   const char *reply = nullptr;
   size_t length = 0;
   const bool ok = HostChannel_Open(RPCI_PROTOCOL, buffer, size, &channel) && HostChannel_Send(&channel, "q", 1) &&
                   HostChannel_Receive(&channel, &reply, &length) && reply == buffer && std::string(reply) == "1 pong";
   return HostChannel_Close(&channel) && ok;
}

}  // namespace

// One request through the request layer: the calls made and the outcome
// ("1 " or "0 " for the result, the handed-back reply text or "-" when none,
// and what went into the error buffer). The request is "hello" (S5), "hi"
// (S2) or empty; an 'H' in the trace switches the high-bandwidth path on; the
// call at index 'at' gets only 'status'; no host reply: no hypervisor. G0 and
// A0: a failure reported to the host as type 4 or 5 with ebx 0.
TEST(HostChannelTest, ExchangeSequences)
{
   const size_t kNo = SIZE_MAX;   // a call never made
   const uint32_t kRestart = HOST_STATUS_RESTART, kWrongType = SimulatedHost::kWrongType;
   const std::tuple<const char *, size_t, uint32_t, std::string, const char *> cases[] = {
      {"1 ", kNo, 0, "1 ", "O+ S5 P'hell' P'o' R G'1 ' A1 C"},
      {"1 ", kNo, 0, "1 ", "O+ S5 HO'hello' R HI'1 ' A1 C"},
      {"1 ", kNo, 0, "1 ", "O+ S0 R G'1 ' A1 C"},
      {"1 ", kNo, 0, "1 ", "O+ S0 R HI'1 ' A1 C"},   // no output of an empty request
      {"0 no way", kNo, 0, "0 no way", "O+ S2 P'hi' R G'0 no' G' way' A1 C"},
      {"x", kNo, 0, "0 " + kBadFormat, "O+ S2 P'hi' R G'x' A1 C"},
      {"1x", kNo, 0, "0 " + kBadFormat, "O+ S2 P'hi' R G'1x' A1 C"},
      {SimulatedHost::kNoReply, kNo, 0, "0 " + kBadFormat, "O+ S2 P'hi' R C"},
      {nullptr, kNo, 0, "0 - [RpcOut: Unable to open the communication channe]", "O+ O"},
      {"1 ", 0, 0, "1 ", "O+! O S2 P'hi' R G'1 ' A1 C"},   // no cookies: a plain open
      {"1 ", 1, kRestart, "1 ", "O+ S5! S5 P'hell' P'o' R G'1 ' A1 C"},
      {"1 ", 3, kRestart, "1 ", "O+ S5 P'hell' P! S5 P'hell' P'o' R G'1 ' A1 C"},
      {"1 ", 2, kRestart, "1 ", "O+ S5 HO! S5 HO'hello' R HI'1 ' A1 C"},
      {"1 ", 1, 0, "0 " + kSendFailed, "O+ S5! C"},
      {"1 ", 2, 0, "0 " + kSendFailed, "O+ S5 P! C"},
      {"1 ", 2, 0, "0 " + kSendFailed, "O+ S5 HO! C"},
      {"1 abc", 5, kRestart, "1 abc", "O+ S2 P'hi' R G'1 ab' G! R G'1 ab' G'c' A1 C"},
      {"1 ", 5, kRestart, "1 ", "O+ S2 P'hi' R G'1 ' A1! R G'1 ' A1 C"},
      {"1 ", 4, kRestart, "1 ", "O+ S2 HO'hi' R HI! R HI'1 ' A1 C"},
      {"", kNo, 0, "0 " + kBadFormat, "O+ S2 HO'hi' R HI'' A1 C"},   // an empty reply is still read
      {"1 ", 3, 0, "0 " + kReceiveFailed, "O+ S2 P'hi' R! C"},
      {"1 ", 3, kWrongType, "0 " + kReceiveFailed, "O+ S2 P'hi' R! C"},
      {"1 abc", 5, 0, "0 " + kReceiveFailed, "O+ S2 P'hi' R G'1 ab' G! G0 C"},
      {"1 ", 4, kWrongType, "0 " + kReceiveFailed, "O+ S2 P'hi' R G! G0 C"},
      {"1 ", 4, 0, "0 " + kReceiveFailed, "O+ S2 HO'hi' R HI! G0 C"},
      {"1 ", 5, 0, "0 " + kReceiveFailed, "O+ S2 P'hi' R G'1 ' A1! A0 C"},
      {"1 r", 6, 0, "0 -", "O+ S2 P'hi' R G'1 r' A1 C!"},   // the copy is freed
   };
   for (const auto &[hostReply, at, status, outcome, trace] : cases) {
      SimulatedHost host;
      host.present = hostReply != nullptr;
      host.highBandwidth = strchr(trace, 'H') != nullptr;
      host.replies = {hostReply != nullptr ? hostReply : ""};
      host.injectStatus[at] = status;
      const std::string request = strstr(trace, "S5") ? "hello" : strstr(trace, "S2") ? "hi" : "";
      char *reply = nullptr, error[52];
      memset(error, '#', sizeof error);
      size_t length = 12345;
      const bool ok = RpcOut_SendRequestRaw(request.data(), request.size(), error, 48, &reply, &length);
      EXPECT_EQ(outcome, (ok ? "1 " : "0 ") + (reply != nullptr ? std::string(reply, length) : "-") +
                            (error[0] != '#' ? " [" + std::string(error) + "]" : ""));
      EXPECT_TRUE(reply != nullptr ? reply[length] == '\0' : length == 0) << "a terminated copy";
      EXPECT_EQ('#', error[48]) << "nothing past the 48 bytes of the error buffer";
      EXPECT_EQ(trace, host.trace);
      free(reply);
   }
}

// Formatted requests get a blank when they have none; each log line is a
// request of its own; a caller buffer one byte short of the reply fails. The
// host answers the first request of a row with "1 pong", the second with
// "0 no", the others with "1 ".
TEST(HostChannelTest, Requests)
{
   char *reply = reinterpret_cast<char *>(&reply);
   size_t length = 0;
   const std::tuple<bool, Strings, std::function<bool()>> cases[] = {
      {true, {"ping "}, [&] {
          const bool ok = RpcOut_SendRequest(&reply, &length, "ping") && std::string(reply, length) == "pong";
          free(reply);
          return ok;
       }},
      {true, {"n=42 "}, [] { return RpcOut_SendRequest(nullptr, nullptr, "%s=%d", "n", 42); }},
      {true, {"a b"}, [] { return RpcOut_SendRequest(nullptr, nullptr, "%s", "a b"); }},
      {true, {" "}, [] { return RpcOut_SendRequest(nullptr, nullptr, "%s", ""); }},
      // A format the engine rejects (mixed argument styles) sends nothing.
      {false, {}, [&] { return RpcOut_SendRequest(&reply, nullptr, "%1$s %s", "a", "b") || reply != nullptr; }},
      {true, {kLog + "abc"}, [] { return Inst_SendLogToHost("abc\n", 4); }},
      {false, {kLog + "one", kLog + "two", kLog + "3"}, [] { return Inst_SendLogToHost("one\r\ntwo\r3\n", 11); }},
      {true, {kLog + "a"}, [] { return Inst_SendLogToHost("a\nbc", 4); }},   // not after the last break
      {true, {}, [] { return Inst_SendLogToHost("", 0); }},
      {true, {kLog + "ab"}, [] { return Inst_SendLogToHost("ab\ncd\n", 3); }},
      {true, {kLog + "ab"}, [] { return Inst_SendLogToHost("ab\n\0cd\n", 7); }},
      {true, {kLog + "100%s done"}, [] { return Inst_SendLogToHost("100%s done\n", 11); }},
      {false, {"log buf is NULL"}, [] { return Inst_SendLogToHost(nullptr, 5); }},
      {true, {"q"}, [] { return ReceiveIntoCallerBuffer(7); }},
      {false, {"q"}, [] { return ReceiveIntoCallerBuffer(6); }},
   };
   for (const auto &[ok, requests, call] : cases) {
      SimulatedHost host;
      host.replies = {"1 pong", "0 no"};
      EXPECT_EQ(ok, call());
      EXPECT_EQ(requests, host.requests);
   }
}
