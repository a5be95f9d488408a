// The hypervisor's side of the host ports, for tests under Wine, where a
// user-mode port access faults (EXCEPTION_PRIV_INSTRUCTION). While a
// SimulatedHost exists (one at a time), a vectored exception handler decodes
// the faulting instruction (ED in eax,dx; F3 6E rep outsb; F3 6C rep insb),
// answers in the saved registers (junk in their upper halves, which the guest
// must ignore), steps over it and resumes. A call the guest gets wrong (magic,
// port, command, protocol, channel, cookies, sizes, a last piece not
// zero-extended, the direction flag) is refused and marked "?" in the trace.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "hostChannel/hostChannel.h"
#include "hostChannel/rpcOut.h"

class SimulatedHost {
public:
   SimulatedHost() : handler_(AddVectoredExceptionHandler(1, Handler)) { current_ = this; }
   ~SimulatedHost()
   {
      RemoveVectoredExceptionHandler(handler_);
      current_ = nullptr;
   }
   SimulatedHost(const SimulatedHost &) = delete;

   bool present = true;   // false: no hypervisor, nothing answers
   bool highBandwidth = false;
   // Replies to the coming requests in order, then "1 "; kNoReply leaves the
   // "message waiting" bit clear.
   std::deque<std::string> replies;
   static constexpr const char *kNoReply = "\x01(no reply)";
   // Call number n (counting every call from 0) gets only this status, or,
   // for kWrongType, is served but its answer names message type 9.
   std::map<size_t, uint32_t> injectStatus;
   static const uint32_t kWrongType = 0x10000;
   // Every call as "O+ S5 P'hell' P'o' R G'1 ' A1 C": O open (+: asking for
   // cookies), S size, P piece, R receive size, G reply piece (G0: given
   // up), A acknowledgement, C close, HO / HI high-bandwidth out / in; the
   // quoted bytes moved; "!" marks an injected answer.
   std::string trace;
   std::vector<std::string> requests;

private:
   struct Channel {
      uint32_t cookie1 = 0, cookie2 = 0;
      size_t expected = SIZE_MAX;   // the announced request size; SIZE_MAX: none
      std::string incoming = {}, reply = {};
      size_t replyPos = 0;
      bool hasReply = false;
   };

   static uint64_t Junk(uint32_t value) { return 0xA5A5A5A500000000ull | value; }

   static LONG CALLBACK Handler(EXCEPTION_POINTERS *info)
   {
      CONTEXT *c = info->ContextRecord;
      const unsigned char *ip = reinterpret_cast<const unsigned char *>(c->Rip);
      const unsigned char op = ip[0] == 0xF3 ? ip[1] : ip[0] == 0xED ? 0xED : 0;
      SimulatedHost *host = current_;
      if (host == nullptr || info->ExceptionRecord->ExceptionCode != EXCEPTION_PRIV_INSTRUCTION ||
          (op != 0xED && op != 0x6E && op != 0x6C)) {
         return EXCEPTION_CONTINUE_SEARCH;
      }
      const bool low = op == 0xED, out = op == 0x6E;
      const uint32_t ebx = uint32_t(c->Rbx), ecx = uint32_t(c->Rcx), type = low ? ecx >> 16 : 7;
      std::string item = low ? std::string(1, "OSPRGAC?"[std::min<uint32_t>(type, 7)]) : out ? "HO" : "HI";
      if (type == HOST_MSG_OPEN && (ebx & HOST_OPEN_COOKIES) != 0) {
         item += "+";
      } else if (type == HOST_MSG_SEND_SIZE || type == HOST_MSG_RECV_STATUS ||
                 (type == HOST_MSG_RECV_PAYLOAD && ebx != 1)) {
         item += std::to_string(ebx);
      }
      const auto injected = host->injectStatus.find(host->calls_++);
      const bool wrongType = injected != host->injectStatus.end() && injected->second == kWrongType;
      c->Rip += low ? 1 : 2;
      host->trace += (host->trace.empty() ? "" : " ") + item;
      if (!host->present) {
         return EXCEPTION_CONTINUE_EXECUTION;
      }
      const uint32_t status = injected == host->injectStatus.end() || wrongType ? host->Answer(c, type, out, wrongType)
                                                                                : injected->second;
      (low ? c->Rcx : c->Rbx) = Junk(status << 16);
      const bool showsBytes = !low || type == HOST_MSG_SEND_PAYLOAD || (type == HOST_MSG_RECV_PAYLOAD && ebx == 1);
      host->trace += injected != host->injectStatus.end() ? "!" : status == 0 ? "?" : "";
      host->trace += showsBytes && injected == host->injectStatus.end() ? "'" + host->moved_ + "'" : "";
      return EXCEPTION_CONTINUE_EXECUTION;
   }

   // The status of a call, 0 for one the guest got wrong; the bytes moved go
   // to moved_.
   uint32_t Answer(CONTEXT *c, uint32_t type, bool out, bool wrongType)
   {
      const bool low = type != 7;
      moved_ = "";
      const uint32_t ebx = uint32_t(c->Rbx), ecx = uint32_t(c->Rcx), edx = uint32_t(c->Rdx);
      auto found = channels_.find(uint16_t(edx >> 16));
      Channel *ch = found != channels_.end() ? &found->second : nullptr;
      // Output takes the cookies in ebp and edi, input in esi and ebp.
      const uint32_t cookie1 = uint32_t(out ? c->Rbp : c->Rsi), cookie2 = uint32_t(low || out ? c->Rdi : c->Rbp);
      if (uint32_t(c->Rax) != HOST_PORT_MAGIC || (edx & 0xFFFF) != (low ? HOST_PORT_LOW : HOST_PORT_HIGH) ||
          (low ? (ecx & 0xFFFF) != HOST_COMMAND_MESSAGE
               : ebx != HOST_HIGH_BANDWIDTH_EBX || (c->EFlags & 0x400) != 0 || !highBandwidth) ||
          (type == HOST_MSG_OPEN ? (ebx & ~HOST_OPEN_COOKIES) != RPCI_PROTOCOL
                                 : ch == nullptr || ch->cookie1 != cookie1 || ch->cookie2 != cookie2)) {
         return 0;
      }
      if (type == HOST_MSG_OPEN) {
         const bool cookies = (ebx & HOST_OPEN_COOKIES) != 0;
         channels_[nextId_] = Channel{cookies ? 0x13572468u * nextId_ : 0, cookies ? 40503u * nextId_ + 1 : 0};
         c->Rdx = Junk((uint32_t(nextId_) << 16) | HOST_PORT_LOW);
         c->Rsi = Junk(channels_[nextId_].cookie1);
         c->Rdi = Junk(channels_[nextId_++].cookie2);
      } else if (type == HOST_MSG_SEND_SIZE) {
         *ch = Channel{ch->cookie1, ch->cookie2, ebx};
      } else if (out || type == HOST_MSG_SEND_PAYLOAD) {
         const size_t left = ch->expected == SIZE_MAX ? 0 : ch->expected - ch->incoming.size();
         const size_t n = out ? ecx : std::min<size_t>(4, left);
         if (n == 0 || n > left || (!out && n < 4 && (ebx >> (8 * n)) != 0)) {
            return 0;
         }
         // x86 is little-endian: the word's first byte in memory is its lowest.
         moved_.assign(out ? reinterpret_cast<const char *>(c->Rsi) : reinterpret_cast<const char *>(&ebx), n);
         c->Rsi += out ? n : 0;
         ch->incoming += moved_;
      } else if (type == HOST_MSG_RECV_SIZE) {
         ch->replyPos = 0;
         c->Rbx = Junk(uint32_t(ch->reply.size()));
         c->Rdx = Junk(((wrongType ? 9u : uint32_t(HOST_MSG_SEND_SIZE)) << 16) | HOST_PORT_LOW);
         return HOST_STATUS_SUCCESS | (ch->hasReply ? HOST_STATUS_RECEIVE : 0) |
                (highBandwidth ? HOST_STATUS_HIGH_BANDWIDTH : 0);
      } else if (type == HOST_MSG_RECV_PAYLOAD && ebx == 0) {
         ch->hasReply = false;   // the guest gave the reply up
      } else if (type == HOST_MSG_RECV_PAYLOAD || !low) {
         // Only the high-bandwidth input of an empty reply moves no bytes.
         const size_t n = low ? std::min<size_t>(4, ch->reply.size() - ch->replyPos) : ecx;
         if (!ch->hasReply || (n == 0 && (low || !ch->reply.empty())) || ch->replyPos + n > ch->reply.size()) {
            return 0;
         }
         moved_ = ch->reply.substr(ch->replyPos, n);
         ch->replyPos += n;
         if (low) {
            uint32_t word = 0;
            memcpy(&word, moved_.data(), n);
            c->Rbx = Junk(word);
            c->Rdx = Junk(((wrongType ? 9u : uint32_t(HOST_MSG_SEND_PAYLOAD)) << 16) | HOST_PORT_LOW);
         } else {
            memcpy(reinterpret_cast<void *>(c->Rdi), moved_.data(), n);
            c->Rdi += n;
         }
      } else if (type == HOST_MSG_RECV_STATUS) {
         if (ebx != 0 && (!ch->hasReply || ch->replyPos != ch->reply.size())) {
            return 0;   // an incomplete reply acknowledged
         }
         ch->hasReply = false;
      } else if (type == HOST_MSG_CLOSE) {
         channels_.erase(found);
         return HOST_STATUS_SUCCESS;
      } else {
         return 0;
      }
      if (ch != nullptr && ch->incoming.size() == ch->expected) {   // a whole request: its reply
         requests.push_back(ch->incoming);
         replies.push_back("1 ");   // once the given replies are used up
         ch->reply = replies.front();
         replies.pop_front();
         ch->hasReply = ch->reply != kNoReply;
         ch->expected = SIZE_MAX;
      }
      return HOST_STATUS_SUCCESS | (type == HOST_MSG_SEND_SIZE && highBandwidth ? HOST_STATUS_HIGH_BANDWIDTH : 0);
   }

   static inline SimulatedHost *current_ = nullptr;
   void *handler_;
   size_t calls_ = 0;
   uint16_t nextId_ = 7;
   std::string moved_;
   std::map<uint16_t, Channel> channels_;
};
