// The host log channel against a simulated hypervisor (tests/win/
// simulatedHost), which records each call the guest makes. Never run it
// natively on a machine with a real hypervisor: the accesses would reach it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

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
const char kNone[] = "(no reply handed back)";
const uint32_t kRestart = HOST_STATUS_RESTART;
const uint32_t kWrongType = SimulatedHost::kWrongType;
std::vector<std::string> gDiagnostics;

// The result and the handed-back reply text (kNone when none).
std::pair<bool, std::string> SendRaw(const std::string &request, char *error = nullptr,
                                     size_t size = 0)
{
   char *reply = nullptr;
   size_t length = 12345;
   bool ok = RpcOut_SendRequestRaw(request.data(), request.size(), error, size, &reply, &length);
   EXPECT_TRUE(reply != nullptr ? reply[length] == '\0' : length == 0) << "terminated copy";
   std::string text = reply != nullptr ? std::string(reply, length) : kNone;
   free(reply);
   return {ok, text};
}

void ExpectWellBehaved(const SimulatedHost &host, const std::string &label)
{
   EXPECT_EQ(std::vector<std::string>{}, host.violations) << label;
   // Only a close that the host refused leaves the channel behind.
   EXPECT_EQ(host.trace.find("C!") != std::string::npos ? 1u : 0u, host.OpenChannels()) << label;
}

}  // namespace

TEST(HostPortTest, RegisterBlockGoesInAndComesBack)
{
   SimulatedHost host;
   // An open: the host sees all seven words whole, in the block's order; it
   // answers in eax (0), ecx, edx, esi, edi and ebp (junk in the upper
   // halves), not in ebx.
   HostPortRegisters r = {HOST_PORT_MAGIC, RPCI_PROTOCOL | HOST_OPEN_COOKIES,
                          HOST_COMMAND_MESSAGE, 0x1111000000000000ull | HOST_PORT_LOW,
                          0x2222000000000001ull, 0x3333000000000002ull, 0x4444000000000003ull};
   const HostPortRegisters sent = r;
   HostPort_Call(&r);
   EXPECT_EQ(0, memcmp(host.seen, &sent, sizeof sent));
   const uint64_t kJunkHalf = 0xA5A5A5A500000000ull;
   EXPECT_EQ(std::make_pair(uint64_t(0), sent.ebx), std::make_pair(r.eax, r.ebx));
   for (uint64_t answered : {r.ecx, r.edx, r.esi, r.edi, r.ebp}) {
      EXPECT_EQ(kJunkHalf, answered & 0xFFFFFFFF00000000ull);
   }
   // rbx, rsi and rdi survive the calls (no hypervisor answering).
   host.present = false;
   const uint64_t kB = 0x0B0B0B0B0B0B0B0Bull, kS = 0x5151515151515151ull, kD = ~kB;
   uint64_t b = kB, s = kS, d = kD;
   r = {HOST_PORT_MAGIC, 1, 2, 3, 4, 5, 6};
   __asm__ volatile("" : "+b"(b), "+S"(s), "+D"(d));
   HostPort_Call(&r);
   HostPort_HbOut(&r);
   __asm__ volatile("" : "+b"(b), "+S"(s), "+D"(d));
   EXPECT_TRUE(b == kB && s == kS && d == kD);
   EXPECT_EQ("O+ O HO", host.trace);
}

// One request through the request layer: the calls made and the outcome. The
// request is "hello" (S5), "hi" (S2) or empty; an 'H' in the trace switches
// the high-bandwidth path on; the call at index 'at' gets only 'status'. G0
// and A0: a failure reported to the host as type 4 or 5 with ebx 0.
TEST(HostChannelTest, ExchangeSequences)
{
   const size_t kNo = SIZE_MAX;  // a call never made
   const struct { const char *label, *hostReply; size_t at; uint32_t status; bool ok;
                  const char *reply, *trace; } cases[] = {
      {"5 bytes: pieces of 4, 1; '1 '", "1 ", kNo, 0, true, "", "O+ S5 P'hell' P'o' R G'1 ' A1 C"},
      {"5 bytes, high bandwidth", "1 ", kNo, 0, true, "", "O+ S5 HO'hello' R HI'1 ' A1 C"},
      {"empty request", "1 ", kNo, 0, true, "", "O+ S0 R G'1 ' A1 C"},
      {"empty, high bandwidth: no output", "1 ", kNo, 0, true, "", "O+ S0 R HI'1 ' A1 C"},
      {"'0 ' + text", "0 no way", kNo, 0, false, "no way", "O+ S2 P'hi' R G'0 no' G' way' A1 C"},
      {"'x'", "x", kNo, 0, false, kBadFormat, "O+ S2 P'hi' R G'x' A1 C"},
      {"'1x'", "1x", kNo, 0, false, kBadFormat, "O+ S2 P'hi' R G'1x' A1 C"},
      {"no reply waiting", SimulatedHost::kNoReply, kNo, 0, false, kBadFormat, "O+ S2 P'hi' R C"},
      {"cookie open refused: plain", "1 ", 0, 0, true, "", "O+! O S2 P'hi' R G'1 ' A1 C"},
      {"restart: size", "1 ", 1, kRestart, true, "", "O+ S5! S5 P'hell' P'o' R G'1 ' A1 C"},
      {"restart: a piece; all resent", "1 ", 3, kRestart, true, "",
       "O+ S5 P'hell' P! S5 P'hell' P'o' R G'1 ' A1 C"},
      {"restart: HB out", "1 ", 2, kRestart, true, "", "O+ S5 HO! S5 HO'hello' R HI'1 ' A1 C"},
      {"size refused", "1 ", 1, 0, false, kSendFailed, "O+ S5! C"},
      {"piece refused", "1 ", 2, 0, false, kSendFailed, "O+ S5 P! C"},
      {"high-bandwidth output refused", "1 ", 2, 0, false, kSendFailed, "O+ S5 HO! C"},
      {"restart: reply piece", "1 abc", 5, kRestart, true, "abc",
       "O+ S2 P'hi' R G'1 ab' G! R G'1 ab' G'c' A1 C"},
      {"restart: ack", "1 ", 5, kRestart, true, "", "O+ S2 P'hi' R G'1 ' A1! R G'1 ' A1 C"},
      {"restart: HB in", "1 ", 4, kRestart, true, "", "O+ S2 HO'hi' R HI! R HI'1 ' A1 C"},
      {"empty reply, high bandwidth: still read", "", kNo, 0, false, kBadFormat,
       "O+ S2 HO'hi' R HI'' A1 C"},
      {"receive size refused: unreported", "1 ", 3, 0, false, kReceiveFailed, "O+ S2 P'hi' R! C"},
      {"receive size: other type", "1 ", 3, kWrongType, false, kReceiveFailed, "O+ S2 P'hi' R! C"},
      {"piece refused: G0", "1 abc", 5, 0, false, kReceiveFailed, "O+ S2 P'hi' R G'1 ab' G! G0 C"},
      {"piece: other type", "1 ", 4, kWrongType, false, kReceiveFailed, "O+ S2 P'hi' R G! G0 C"},
      {"high-bandwidth in refused", "1 ", 4, 0, false, kReceiveFailed, "O+ S2 HO'hi' R HI! G0 C"},
      {"ack refused: A0", "1 ", 5, 0, false, kReceiveFailed, "O+ S2 P'hi' R G'1 ' A1! A0 C"},
      {"close refused: copy freed", "1 r", 6, 0, false, kNone, "O+ S2 P'hi' R G'1 r' A1 C!"},
   };
   for (const auto &c : cases) {
      const char *request = strstr(c.trace, "S5") ? "hello" : strstr(c.trace, "S2") ? "hi" : "";
      SimulatedHost host;
      host.highBandwidth = strchr(c.trace, 'H') != nullptr;
      host.replies = {c.hostReply};
      host.injectStatus[c.at] = c.status;
      EXPECT_EQ(std::make_pair(c.ok, std::string(c.reply)), SendRaw(request)) << c.label;
      EXPECT_EQ(c.trace, host.trace) << c.label;
      EXPECT_EQ(RPCI_PROTOCOL, host.opens.back() & ~HOST_OPEN_COOKIES) << c.label;
      EXPECT_EQ(c.reply != kSendFailed, host.requests.size() == 1) << c.label;
      ExpectWellBehaved(host, c.label);
   }
}

// No hypervisor: both opens fail; the text is cut to the error buffer's size - 1.
TEST(HostChannelTest, OpenFailureText)
{
   for (size_t size : {0, 1, 2, 10, 48, 49, 50, 200}) {
      SimulatedHost host;
      host.present = false;
      char error[256];
      memset(error, '#', sizeof error);
      EXPECT_EQ(std::make_pair(false, std::string(kNone)),
                SendRaw("hi", size > 0 ? error : nullptr, size)) << "size " << size;
      EXPECT_EQ("O+ O", host.trace) << "size " << size;
      size_t kept = std::min(size - 1, strlen(kOpenFailed));
      EXPECT_TRUE(size == 0 || (std::string(kOpenFailed, kept) == error && error[kept + 1] == '#'))
         << "size " << size << ": cut, terminated, nothing written past it";
   }
}

TEST(HostChannelTest, ReplyBuffers)
{
   // A caller buffer is used as it is: one byte short of reply + NUL fails
   // and is reported (type 4 while bytes are outstanding, type 5 if none).
   // The own buffer (kOwn) grows across messages on one channel.
   const size_t kOwn = SIZE_MAX;
   const struct { const char *label; size_t size; std::vector<std::string> replies; bool ok;
                  const char *trace; } cases[] = {
      {"exactly reply + NUL", 4, {"1 a"}, true, "O+ S1 P'q' R G'1 a' A1 C"},
      {"one byte short", 3, {"1 a"}, false, "O+ S1 P'q' R G0 C"},
      {"empty reply, no room for the NUL", 0, {""}, false, "O+ S1 P'q' R A0 C"},
      {"empty reply, room for the NUL", 1, {""}, true, "O+ S1 P'q' R A1 C"},
      {"own buffer", kOwn, {"1 a", "1 longer reply", "1 b"}, true, nullptr},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      SimulatedHost host;
      host.highBandwidth = c.size == kOwn;
      host.replies.assign(c.replies.begin(), c.replies.end());
      char buffer[8];
      memset(buffer, '#', sizeof buffer);
      HostChannel channel;
      ASSERT_TRUE(HostChannel_Open(0x1234, c.size == kOwn ? nullptr : buffer,
                                   c.size == kOwn ? 0 : c.size, &channel));
      for (const std::string &want : c.replies) {
         const char *reply = nullptr;
         size_t length = 99;
         ASSERT_TRUE(HostChannel_Send(&channel, "q", 1));
         EXPECT_EQ(c.ok, HostChannel_Receive(&channel, &reply, &length));
         EXPECT_TRUE(!c.ok || (want == std::string(reply, length) && reply[length] == '\0' &&
                               (c.size == kOwn || reply == buffer)));
      }
      EXPECT_TRUE(c.size == kOwn || buffer[c.size] == '#') << "nothing written past the buffer";
      EXPECT_TRUE(HostChannel_Close(&channel));
      EXPECT_TRUE(c.size != kOwn || channel.buffer == nullptr) << "own buffer freed";
      EXPECT_TRUE(c.trace == nullptr || host.trace == c.trace) << host.trace;
      EXPECT_EQ(std::vector<uint32_t>{0x1234u | HOST_OPEN_COOKIES}, host.opens);
      ExpectWellBehaved(host, c.label);
   }
}

TEST(HostChannelTest, FormattedRequests)
{
   SimulatedHost host;
   host.replies = {"1 pong", "0 no"};
   char *reply = nullptr;
   size_t length = 0;
   EXPECT_TRUE(RpcOut_SendRequest(&reply, &length, "ping")) << "'ping', no blank: one appended";
   EXPECT_EQ("pong", std::string(reply, length));
   free(reply);
   EXPECT_FALSE(RpcOut_SendRequest(nullptr, nullptr, "%s", "a b")) << "a blank; refused";
   EXPECT_TRUE(RpcOut_SendRequest(nullptr, nullptr, "%s=%d", "n", 42)) << "a number";
   EXPECT_TRUE(RpcOut_SendRequest(nullptr, nullptr, "%s", "")) << "empty text";
   // A format the engine rejects (mixed argument styles) sends nothing.
   reply = reinterpret_cast<char *>(&host);
   EXPECT_FALSE(RpcOut_SendRequest(&reply, nullptr, "%1$s %s", "a", "b"));
   EXPECT_EQ(nullptr, reply);
   EXPECT_EQ((std::vector<std::string>{"ping ", "a b", "n=42 ", " "}), host.requests);
   ExpectWellBehaved(host, "formatted requests");
}

TEST(HostChannelTest, LogTextToRequests)
{
   const std::string kLog = "guest.log.text ==INSTLOG ";
   // Length 0: the whole text.
   const struct { const char *label; std::string text; size_t length; const char *hostReply;
                  bool ok; std::vector<std::string> lines; } cases[] = {
      {"'abc'", "abc\n", 0, "1 ", true, {kLog + "abc"}},
      {"CR LF and LF", "one\r\ntwo\n", 0, "1 ", true, {kLog + "one", kLog + "two"}},
      {"a lone CR ends a line", "a\rb\n", 0, "1 ", true, {kLog + "a", kLog + "b"}},
      {"text after the last break is not sent", "a\nbc", 0, "1 ", true, {kLog + "a"}},
      {"empty text", "", 0, "1 ", true, {}},
      {"stops at the length", "ab\ncd\n", 3, "1 ", true, {kLog + "ab"}},
      {"stops at a NUL", std::string("ab\n\0cd\n", 7), 7, "1 ", true, {kLog + "ab"}},
      {"a '%' is text", "100%s done\n", 0, "1 ", true, {kLog + "100%s done"}},
      {"refused line fails, next sent", "a\nb\n", 0, "0 no", false, {kLog + "a", kLog + "b"}},
   };
   for (const auto &c : cases) {
      SimulatedHost host;
      host.replies = {c.hostReply};
      size_t length = c.length != 0 ? c.length : c.text.size();
      EXPECT_EQ(c.ok, Inst_SendLogToHost(c.text.data(), length)) << c.label;
      EXPECT_EQ(c.lines, host.requests) << c.label;
      ExpectWellBehaved(host, c.label);
   }
   SimulatedHost host;
   EXPECT_FALSE(Inst_SendLogToHost(nullptr, 5));
   EXPECT_EQ(std::vector<std::string>{"log buf is NULL"}, host.requests);
   ExpectWellBehaved(host, "null text");
}

TEST(HostChannelTest, DiagnosticsGoToTheSinkOnly)
{
   win32utest::LogCapture log;
   gDiagnostics.clear();
   auto previous = RpcOut_SetDebugSink([](const char *line) { gDiagnostics.push_back(line); });
   {
      SimulatedHost host;
      host.replies = {"1 ok", "x"};
      // The second request's close; both opens of the third.
      host.injectStatus = {{13, 0}, {14, 0}, {15, 0}};
      SendRaw("abc");
      SendRaw("de");
      SendRaw("f");
      RpcOut_SetDebugSink(previous);
      SendRaw("no sink: discarded");
   }
   EXPECT_EQ((std::vector<std::string>{
      "Rpci: Sending request='abc'\n",
      "Rpci: Sent request='abc', reply='ok', len=2, status=1, rpcStatus=1\n",
      "Rpci: Sending request='de'\n",
      std::string("Rpci: Sent request='de', reply='") + kBadFormat +
         "', len=57, status=0, rpcStatus=0\n",
      "RpcOut: couldn't close channel\n", "Rpci: unable to close the communication channel\n",
      "Rpci: Sending request='f'\n", "RpcOut: couldn't open channel with RPCI protocol\n",
   }), gDiagnostics);
   Inst_LogCA("after the requests");
   const std::string lines = testing::PrintToString(log.Take());
   EXPECT_NE(std::string::npos, lines.find("after the requests"));
   EXPECT_EQ(std::string::npos, lines.find("Rpc")) << lines;
}
