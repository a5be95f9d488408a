// The hypervisor's side of the host ports, for tests under Wine, where a
// user-mode port access faults (EXCEPTION_PRIV_INSTRUCTION). While a
// SimulatedHost exists (one at a time), a vectored exception handler decodes
// the faulting instruction (ED in eax,dx; F3 6E rep outsb; F3 6C rep insb),
// answers in the saved registers (junk in their upper halves, which the guest
// must ignore), steps over it and resumes. What the guest breaks (magic,
// ports, channel, cookies, zero-extended last piece, direction flag) is
// listed in violations.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

class SimulatedHost {
public:
   SimulatedHost();
   ~SimulatedHost();
   SimulatedHost(const SimulatedHost &) = delete;

   bool present = true;  // false: no hypervisor, nothing answers
   bool highBandwidth = false;
   // Replies to the coming requests in order, then "1 "; kNoReply leaves the
   // "message waiting" bit clear.
   std::deque<std::string> replies;
   static const char kNoReply[];
   // Call number n (counting every call from 0) gets only this status, or,
   // for kWrongType, is served but its answer names message type 9.
   std::map<size_t, uint32_t> injectStatus;
   static const uint32_t kWrongType = 0x10000;

   // Every call as "O+ S5 P'hell' P'o' R G'1 ' A1 C": O open (+: asking for
   // cookies), S size, P piece, R receive size, G reply piece (G0: given
   // up), A acknowledgement, C close, HO / HI high-bandwidth out / in; the
   // quoted bytes moved; "!" marks an injected answer.
   std::string trace;
   std::vector<uint32_t> opens;  // ebx of each open
   std::vector<std::string> requests;
   std::vector<std::string> violations;
   uint64_t seen[7] = {};  // rax, rbx, rcx, rdx, rsi, rdi, rbp at the last call
   size_t OpenChannels() const { return channels_.size(); }

private:
   struct Channel {
      uint32_t cookie1, cookie2;
      bool sizeKnown = false;
      size_t expected = 0, replyPos = 0;
      std::string incoming, reply;
      bool hasReply = false;
   };
   static LONG CALLBACK Handler(EXCEPTION_POINTERS *info);
   std::string Serve(CONTEXT *c, unsigned char op);
   uint32_t Open(CONTEXT *c, uint32_t ebx);
   uint32_t Take(Channel *ch, const std::string &bytes);
   std::string Give(Channel *ch, size_t n, uint32_t *status, bool high = false);

   void *handler_;
   size_t calls_ = 0;
   uint16_t nextId_ = 7;
   uint32_t nextCookie_ = 0x13572468;
   std::map<uint16_t, Channel> channels_;
};
