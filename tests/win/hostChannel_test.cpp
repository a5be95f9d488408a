// The host log channel against a simulated hypervisor (tests/win/
// simulatedHost): every port access of the guest faults under Wine and is
// answered by the host's exception handler, which records each call, so the
// cases assert the exact sequence of calls the guest makes.
//
// Never run natively on a machine with a real hypervisor: there the
// accesses would reach it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "common/log.h"
#include "hostChannel/hostChannel.h"
#include "hostChannel/hostPort.h"
#include "hostChannel/logToHost.h"
#include "hostChannel/rpcOut.h"
#include "tests/win/simulatedHost.h"
#include "tests/win/win32uTestUtil.h"

namespace {

const char kOpenFailed[] = "RpcOut: Unable to open the communication channel";
const char kSendFailed[] = "RpcOut: Unable to send the RPCI command";
const char kReceiveFailed[] = "RpcOut: Unable to receive the result of the RPCI command";
const char kBadFormat[] = "RpcOut: Invalid format for the result of the RPCI command";
const char kLogPrefix[] = "guest.log.text ==INSTLOG ";
const uint64_t kJunkHalf = 0xA5A5A5A500000000ull;
const uint32_t kRestart = HOST_STATUS_RESTART;
const uint32_t kWrongType = 0x10000;  // injected: the answer names another type

struct Result {
   bool ok;
   bool hasReply;
   std::string reply;
};

Result SendRaw(const std::string &request, char *error = nullptr, size_t errorSize = 0)
{
   char *reply = nullptr;
   size_t length = 12345;
   bool ok = RpcOut_SendRequestRaw(request.data(), request.size(), error, errorSize,
                                   &reply, &length);
   Result r = {ok, reply != nullptr, reply != nullptr ? std::string(reply, length) : ""};
   if (reply != nullptr) {
      EXPECT_EQ('\0', reply[length]) << "the copy is terminated";
   } else {
      EXPECT_EQ(0u, length);
   }
   free(reply);
   return r;
}

void ExpectWellBehaved(const SimulatedHost &host, const std::string &label)
{
   EXPECT_EQ(std::vector<std::string>{}, host.violations) << label;
   // Only a close that the host refused leaves the channel behind.
   size_t refusedCloses = host.trace.find("C!") != std::string::npos ? 1 : 0;
   EXPECT_EQ(refusedCloses, host.OpenChannels()) << label;
}

std::vector<std::string> gDiagnostics;
void CaptureDiagnostic(const char *line)
{
   gDiagnostics.push_back(line);
}

}  // namespace

TEST(HostPortTest, AllSevenRegistersGoInAndComeBack)
{
   SimulatedHost host;
   // An open: the host sees all seven words whole; it answers in eax (0),
   // ecx, edx, esi, edi and ebp (junk in the upper halves), not in ebx.
   HostPortRegisters r = {HOST_PORT_MAGIC, RPCI_PROTOCOL | HOST_OPEN_COOKIES,
                          HOST_COMMAND_MESSAGE, 0x1111000000000000ull | HOST_PORT_LOW,
                          0x2222000000000001ull, 0x3333000000000002ull, 0x4444000000000003ull};
   const HostPortRegisters sent = r;
   HostPort_Call(&r);
   EXPECT_EQ(0, memcmp(host.seen, &sent, sizeof sent));
   EXPECT_EQ(0u, r.eax);
   EXPECT_EQ(sent.ebx, r.ebx);
   EXPECT_EQ(kJunkHalf | (HOST_STATUS_SUCCESS << 16), r.ecx);
   EXPECT_EQ(kJunkHalf, r.ebp);
   for (uint64_t answered : {r.edx, r.esi, r.edi}) {
      EXPECT_EQ(kJunkHalf, answered & 0xFFFFFFFF00000000ull);
   }
   HostChannel channel = {uint16_t(r.edx >> 16), uint32_t(r.esi), uint32_t(r.edi),
                          nullptr, 0, false};
   EXPECT_TRUE(HostChannel_Close(&channel)) << "the answer names the channel and its cookies";
   EXPECT_EQ("O+ C", host.trace);
   ExpectWellBehaved(host, "by hand");
}

TEST(HostPortTest, NonVolatileRegistersSurvive)
{
   SimulatedHost host;
   host.present = false;
   uint64_t b = 0x0B0B0B0B0B0B0B0Bull, s = 0x5151515151515151ull, d = 0xD1D1D1D1D1D1D1D1ull;
   HostPortRegisters r = {HOST_PORT_MAGIC, 1, 2, 3, 4, 5, 6};
   __asm__ volatile("" : "+b"(b), "+S"(s), "+D"(d));
   HostPort_Call(&r);
   HostPort_HbOut(&r);
   __asm__ volatile("" : "+b"(b), "+S"(s), "+D"(d));
   EXPECT_EQ(0x0B0B0B0B0B0B0B0Bull, b);
   EXPECT_EQ(0x5151515151515151ull, s);
   EXPECT_EQ(0xD1D1D1D1D1D1D1D1ull, d);
   EXPECT_EQ("O HO", host.trace) << "no hypervisor: calls made, nothing answered";
}

// One request through the request layer: the calls made and the outcome.
TEST(HostChannelTest, ExchangeSequences)
{
   struct Case {
      const char *label;
      bool highBandwidth;
      std::string request;
      std::vector<std::string> replies;
      std::vector<std::pair<size_t, uint32_t>> inject;  // call index, status
      const char *trace;
      bool ok;
      const char *reply;  // null: none handed back
   } cases[] = {
      {"5 bytes: size and two pieces, the second carrying one byte", false, "hello", {}, {},
       "O+ S5 P'hell' P'o' R G'1 ' A1 C", true, ""},
      {"5 bytes, high bandwidth", true, "hello", {}, {},
       "O+ S5 HO'hello' R HI'1 ' A1 C", true, ""},
      {"empty request, low bandwidth", false, "", {}, {}, "O+ S0 R G'1 ' A1 C", true, ""},
      {"empty request, high bandwidth: no transfer out", true, "", {}, {},
       "O+ S0 R HI'1 ' A1 C", true, ""},
      {"'1 result'", false, "hi", {"1 result"}, {},
       "O+ S2 P'hi' R G'1 re' G'sult' A1 C", true, "result"},
      {"'0 error text'", false, "hi", {"0 error text"}, {},
       "O+ S2 P'hi' R G'0 er' G'ror ' G'text' A1 C", false, "error text"},
      {"'0 ' alone", false, "hi", {"0 "}, {}, "O+ S2 P'hi' R G'0 ' A1 C", false, ""},
      {"'x'", false, "hi", {"x"}, {}, "O+ S2 P'hi' R G'x' A1 C", false, kBadFormat},
      {"'1x'", false, "hi", {"1x"}, {}, "O+ S2 P'hi' R G'1x' A1 C", false, kBadFormat},
      {"'2 y'", false, "hi", {"2 y"}, {}, "O+ S2 P'hi' R G'2 y' A1 C", false, kBadFormat},
      {"no reply waiting", false, "hi", {SimulatedHost::kNoReply}, {}, "O+ S2 P'hi' R C",
       false, kBadFormat},
      {"restart at the size", false, "hello", {}, {{1, kRestart}},
       "O+ S5! S5 P'hell' P'o' R G'1 ' A1 C", true, ""},
      {"restart at a piece resends everything", false, "hello", {}, {{3, kRestart}},
       "O+ S5 P'hell' P! S5 P'hell' P'o' R G'1 ' A1 C", true, ""},
      {"restart of the high-bandwidth output", true, "hello", {}, {{2, kRestart}},
       "O+ S5 HO! S5 HO'hello' R HI'1 ' A1 C", true, ""},
      {"size refused", false, "hello", {}, {{1, 0}}, "O+ S5! C", false, kSendFailed},
      {"piece refused", false, "hello", {}, {{2, 0}}, "O+ S5 P! C", false, kSendFailed},
      {"high-bandwidth output refused", true, "hello", {}, {{2, 0}}, "O+ S5 HO! C", false,
       kSendFailed},
      {"restart at a reply piece", false, "hi", {"1 long reply"}, {{5, kRestart}},
       "O+ S2 P'hi' R G'1 lo' G! R G'1 lo' G'ng r' G'eply' A1 C", true, "long reply"},
      {"restart at the acknowledgement", false, "hi", {}, {{5, kRestart}},
       "O+ S2 P'hi' R G'1 ' A1! R G'1 ' A1 C", true, ""},
      {"restart of the high-bandwidth input", true, "hi", {}, {{4, kRestart}},
       "O+ S2 HO'hi' R HI! R HI'1 ' A1 C", true, ""},
      {"receive size refused: nothing to report", false, "hi", {}, {{3, 0}},
       "O+ S2 P'hi' R! C", false, kReceiveFailed},
      {"receive size of another type", false, "hi", {}, {{3, kWrongType}}, "O+ S2 P'hi' R! C",
       false, kReceiveFailed},
      {"reply piece refused: reported as type 4, ebx 0", false, "hi", {"1 long reply"},
       {{5, 0}}, "O+ S2 P'hi' R G'1 lo' G! G0 C", false, kReceiveFailed},
      {"reply piece of another type", false, "hi", {}, {{4, kWrongType}},
       "O+ S2 P'hi' R G! G0 C", false, kReceiveFailed},
      {"high-bandwidth input refused", true, "hi", {}, {{4, 0}}, "O+ S2 HO'hi' R HI! G0 C",
       false, kReceiveFailed},
      {"acknowledgement refused: reported as type 5, ebx 0", false, "hi", {}, {{5, 0}},
       "O+ S2 P'hi' R G'1 ' A1! A0 C", false, kReceiveFailed},
      {"close refused: the copy is freed", false, "hi", {"1 result"}, {{7, 0}},
       "O+ S2 P'hi' R G'1 re' G'sult' A1 C!", false, nullptr},
   };
   for (const Case &c : cases) {
      SimulatedHost host;
      host.highBandwidth = c.highBandwidth;
      host.replies.assign(c.replies.begin(), c.replies.end());
      for (const auto &injection : c.inject) {
         if (injection.second == kWrongType) {
            host.injectWrongType.insert(injection.first);
         } else {
            host.injectStatus[injection.first] = uint16_t(injection.second);
         }
      }
      Result r = SendRaw(c.request);
      EXPECT_EQ(c.trace, host.trace) << c.label;
      EXPECT_EQ(c.ok, r.ok) << c.label;
      EXPECT_EQ(c.reply != nullptr, r.hasReply) << c.label;
      EXPECT_EQ(c.reply != nullptr ? c.reply : "", r.reply) << c.label;
      const bool sent = c.reply == nullptr || strcmp(c.reply, kSendFailed) != 0;
      EXPECT_EQ(std::vector<std::string>(sent ? 1 : 0, c.request), host.requests) << c.label;
      ExpectWellBehaved(host, c.label);
   }
}

TEST(HostChannelTest, RefusedOpen)
{
   {
      SimulatedHost host;
      host.refuseCookieOpen = true;
      Result r = SendRaw("hi");
      EXPECT_TRUE(r.ok) << "a plain channel (no cookies) serves as well";
      EXPECT_EQ("O+ O S2 P'hi' R G'1 ' A1 C", host.trace);
      EXPECT_EQ((std::vector<uint32_t>{RPCI_PROTOCOL | HOST_OPEN_COOKIES, RPCI_PROTOCOL}),
                host.opens);
      ExpectWellBehaved(host, "cookie open refused");
   }
   // The error buffer gets the text cut to its size - 1, at most 48 bytes.
   for (size_t size : {0, 1, 2, 10, 48, 49, 50, 200}) {
      for (bool noHypervisor : {false, true}) {
         SimulatedHost host;
         host.refuseCookieOpen = host.refusePlainOpen = true;
         host.present = !noHypervisor;
         char error[256];
         memset(error, '#', sizeof error);
         Result r = SendRaw("hi", size > 0 ? error : nullptr, size);
         const std::string label = "size " + std::to_string(size) +
                                   (noHypervisor ? ", no hypervisor" : "");
         EXPECT_FALSE(r.ok) << label;
         EXPECT_FALSE(r.hasReply) << label;
         EXPECT_EQ("O+ O", host.trace) << label;
         if (size > 0) {
            size_t kept = std::min<size_t>({size - 1, 48, strlen(kOpenFailed)});
            EXPECT_EQ(std::string(kOpenFailed, kept), error) << label;
            EXPECT_EQ('#', error[kept + 1]) << label << ": nothing written past the text";
         }
         ExpectWellBehaved(host, label);
      }
   }
}

TEST(HostChannelTest, ReplyBuffers)
{
   // A caller buffer is used as it is: one byte short of reply + NUL fails
   // and is reported (type 4 while bytes are outstanding, type 5 if none).
   struct Case {
      const char *label;
      size_t size;
      const char *reply;
      bool ok;
      const char *trace;
   } cases[] = {
      {"exactly reply + NUL", 4, "1 a", true, "O+ S1 P'q' R G'1 a' A1 C"},
      {"one byte short", 3, "1 a", false, "O+ S1 P'q' R G0 C"},
      {"empty reply, no room for the NUL", 0, "", false, "O+ S1 P'q' R A0 C"},
      {"empty reply, room for the NUL", 1, "", true, "O+ S1 P'q' R A1 C"},
   };
   for (const Case &c : cases) {
      SimulatedHost host;
      host.replies = {c.reply};
      char buffer[8];
      memset(buffer, '#', sizeof buffer);
      HostChannel channel;
      ASSERT_TRUE(HostChannel_Open(0x1234, buffer, c.size, &channel)) << c.label;
      ASSERT_TRUE(HostChannel_Send(&channel, "q", 1)) << c.label;
      const char *reply = nullptr;
      size_t length = 99;
      EXPECT_EQ(c.ok, HostChannel_Receive(&channel, &reply, &length)) << c.label;
      if (c.ok) {
         EXPECT_EQ(buffer, reply) << c.label;
         EXPECT_EQ(std::string(c.reply), std::string(reply, length)) << c.label;
         EXPECT_EQ('\0', reply[length]) << c.label;
      }
      EXPECT_EQ('#', buffer[c.size]) << c.label << ": nothing written past the buffer";
      EXPECT_TRUE(HostChannel_Close(&channel)) << c.label;
      EXPECT_EQ(c.trace, host.trace) << c.label;
      EXPECT_EQ(std::vector<uint32_t>{0x1234u | HOST_OPEN_COOKIES}, host.opens) << c.label;
      ExpectWellBehaved(host, c.label);
   }
   // The own buffer grows across messages on one channel.
   SimulatedHost host;
   host.highBandwidth = true;
   host.replies = {"1 a", "1 longer reply", "1 b"};
   HostChannel channel;
   ASSERT_TRUE(HostChannel_Open(RPCI_PROTOCOL, nullptr, 0, &channel));
   for (const char *expected : {"1 a", "1 longer reply", "1 b"}) {
      const char *reply = nullptr;
      size_t length = 0;
      ASSERT_TRUE(HostChannel_Send(&channel, "q", 1));
      ASSERT_TRUE(HostChannel_Receive(&channel, &reply, &length));
      EXPECT_EQ(std::string(expected), std::string(reply, length));
      EXPECT_EQ('\0', reply[length]);
   }
   EXPECT_TRUE(HostChannel_Close(&channel));
   EXPECT_EQ(nullptr, channel.buffer);
   ExpectWellBehaved(host, "own buffer");
}

TEST(HostChannelTest, FormattedRequests)
{
   typedef bool (*Send)(char **reply, size_t *length);
   struct Case {
      const char *label;
      Send send;
      const char *hostReply;
      const char *request;  // what the host must receive
      bool ok;
      const char *reply;
   } cases[] = {
      {"no blank: one appended",
       [](char **r, size_t *n) { return RpcOut_SendRequest(r, n, "ping"); }, "1 pong", "ping ",
       true, "pong"},
      {"a blank: sent as formatted",
       [](char **r, size_t *n) { return RpcOut_SendRequest(r, n, "%s", "a b"); }, "0 no", "a b",
       false, "no"},
      {"formatted number", [](char **r, size_t *n) { return RpcOut_SendRequest(r, n, "%d", 42); },
       "1 ", "42 ", true, ""},
      {"empty text", [](char **r, size_t *n) { return RpcOut_SendRequest(r, n, "%s", ""); },
       "1 x", " ", true, "x"},
      {"no reply asked for",
       [](char **, size_t *) { return RpcOut_SendRequest(nullptr, nullptr, "%s", "q"); }, "1 x",
       "q ", true, ""},
   };
   for (const Case &c : cases) {
      SimulatedHost host;
      host.replies = {c.hostReply};
      char *reply = nullptr;
      size_t length = 99;
      EXPECT_EQ(c.ok, c.send(&reply, &length)) << c.label;
      EXPECT_EQ(std::vector<std::string>{c.request}, host.requests) << c.label;
      EXPECT_EQ(c.reply, reply != nullptr ? std::string(reply, length) : "") << c.label;
      free(reply);
      ExpectWellBehaved(host, c.label);
   }
   // A format the engine rejects (mixed argument styles) sends nothing.
   SimulatedHost host;
   char *reply = reinterpret_cast<char *>(&host);
   EXPECT_FALSE(RpcOut_SendRequest(&reply, nullptr, "%1$s %s", "a", "b"));
   EXPECT_EQ(nullptr, reply);
   EXPECT_EQ("", host.trace);
}

TEST(HostChannelTest, LogTextToRequests)
{
   const size_t kWhole = SIZE_MAX;
   struct Case {
      const char *label;
      std::string text;
      size_t length;
      std::vector<std::string> replies;
      bool ok;
      std::vector<std::string> lines;
   } cases[] = {
      {"one line", "abc\n", kWhole, {}, true, {"abc"}},
      {"CR LF and LF", "one\r\ntwo\n", kWhole, {}, true, {"one", "two"}},
      {"a lone CR ends a line", "a\rb\n", kWhole, {}, true, {"a", "b"}},
      {"text after the last break is not sent", "a\nbc", kWhole, {}, true, {"a"}},
      {"no break at all", "abc", kWhole, {}, true, {}},
      {"empty text", "", kWhole, {}, true, {}},
      {"only breaks", "\r\n\n\r", kWhole, {}, true, {}},
      {"stops at the length", "ab\ncd\n", 3, {}, true, {"ab"}},
      {"length 0", "ab\n", 0, {}, true, {}},
      {"stops at a NUL", std::string("ab\n\0cd\n", 7), kWhole, {}, true, {"ab"}},
      {"a '%' is text", "100%s done\n", kWhole, {}, true, {"100%s done"}},
      {"a refused line fails, the next is still sent", "a\nb\n", kWhole, {"0 no"}, false,
       {"a", "b"}},
      {"a malformed reply fails", "a\n", kWhole, {"x"}, false, {"a"}},
   };
   for (const Case &c : cases) {
      SimulatedHost host;
      host.replies.assign(c.replies.begin(), c.replies.end());
      size_t length = c.length == kWhole ? c.text.size() : c.length;
      EXPECT_EQ(c.ok, Inst_SendLogToHost(c.text.data(), length)) << c.label;
      std::vector<std::string> expected;
      for (const std::string &line : c.lines) {
         expected.push_back(kLogPrefix + line);
      }
      EXPECT_EQ(expected, host.requests) << c.label;
      ExpectWellBehaved(host, c.label);
   }
   SimulatedHost host;
   EXPECT_FALSE(Inst_SendLogToHost(nullptr, 5));
   EXPECT_EQ(std::vector<std::string>{"log buf is NULL"}, host.requests);
   host.present = false;
   EXPECT_FALSE(Inst_SendLogToHost("abc\n", 4)) << "no hypervisor";
   ExpectWellBehaved(host, "null text");
}

TEST(HostChannelTest, DiagnosticsGoToTheSinkOnly)
{
   using win32utest::ScratchDir;
   ScratchDir dir;
   wchar_t temp[MAX_PATH + 1];
   DWORD n = GetTempPathW(MAX_PATH + 1, temp);
   ASSERT_TRUE(n > 0 && n <= MAX_PATH);
   // The primary log name is taken relative to the temporary folder.
   const std::string logName = dir.utf8().substr(win32utest::Utf8(temp).size()) + "\\host.log";
   Inst_SetupLogging("hostChannel", "hostChannel-test", logName.c_str(), nullptr);
   Inst_LogCA("before the requests");

   gDiagnostics.clear();
   RpcOutDebugSink previous = RpcOut_SetDebugSink(CaptureDiagnostic);
   {
      SimulatedHost host;
      host.replies = {"1 ok", "x"};
      host.injectStatus[13] = 0;  // the second request's close
      SendRaw("abc");
      SendRaw("de");
      host.refuseCookieOpen = host.refusePlainOpen = true;
      SendRaw("f");
   }
   RpcOut_SetDebugSink(previous);
   const std::vector<std::string> expected = {
      "Rpci: Sending request='abc'\n",
      "Rpci: Sent request='abc', reply='ok', len=2, status=1, rpcStatus=1\n",
      "Rpci: Sending request='de'\n",
      std::string("Rpci: Sent request='de', reply='") + kBadFormat +
         "', len=57, status=0, rpcStatus=0\n",
      "RpcOut: couldn't close channel\n",
      "Rpci: unable to close the communication channel\n",
      "Rpci: Sending request='f'\n",
      "RpcOut: couldn't open channel with RPCI protocol\n",
   };
   EXPECT_EQ(expected, gDiagnostics);
   {
      SimulatedHost host;
      EXPECT_TRUE(Inst_SendLogToHost("line\n", 5));
      EXPECT_EQ(expected.size(), gDiagnostics.size()) << "no sink: nothing delivered";
   }

   Inst_LogCA("after the requests");
   Inst_EndLogging();
   const std::string file = win32utest::ReadWholeFile(dir.WidePath("host.log"));
   EXPECT_NE(std::string::npos, file.find("after the requests"));
   EXPECT_EQ(std::string::npos, file.find("Rpc")) << file;
}
