#include "tests/win/simulatedHost.h"

#include <algorithm>
#include <cstring>

#include "hostChannel/hostChannel.h"

namespace {

SimulatedHost *gHost = nullptr;
const uint32_t kOtherType = 9, kSizeType = HOST_MSG_SEND_SIZE, kPayloadType = HOST_MSG_SEND_PAYLOAD;

uint64_t Junk(uint32_t value)
{
   return 0xA5A5A5A500000000ull | value;
}

}  // namespace

const char SimulatedHost::kNoReply[] = "\x01(no reply)";

SimulatedHost::SimulatedHost() : handler_(AddVectoredExceptionHandler(1, Handler))
{
   gHost = this;
}

SimulatedHost::~SimulatedHost()
{
   RemoveVectoredExceptionHandler(handler_);
   gHost = nullptr;
}

LONG CALLBACK SimulatedHost::Handler(EXCEPTION_POINTERS *info)
{
   CONTEXT *c = info->ContextRecord;
   const unsigned char *ip = reinterpret_cast<const unsigned char *>(c->Rip);
   const bool in = ip[0] == 0xED;
   if (gHost == nullptr || info->ExceptionRecord->ExceptionCode != EXCEPTION_PRIV_INSTRUCTION ||
       !(in || (ip[0] == 0xF3 && (ip[1] == 0x6E || ip[1] == 0x6C)))) {
      return EXCEPTION_CONTINUE_SEARCH;
   }
   const uint64_t regs[7] = {c->Rax, c->Rbx, c->Rcx, c->Rdx, c->Rsi, c->Rdi, c->Rbp};
   std::copy(regs, regs + 7, gHost->seen);
   const std::string item = gHost->Serve(c, in ? ip[0] : ip[1]);
   gHost->trace += (gHost->trace.empty() ? "" : " ") + item;
   c->Rip += in ? 1 : 2;
   return EXCEPTION_CONTINUE_EXECUTION;
}

std::string SimulatedHost::Serve(CONTEXT *c, unsigned char op)
{
   const uint32_t eax = uint32_t(c->Rax), ebx = uint32_t(c->Rbx), ecx = uint32_t(c->Rcx),
                  edx = uint32_t(c->Rdx), esi = uint32_t(c->Rsi), edi = uint32_t(c->Rdi),
                  ebp = uint32_t(c->Rbp);
   const bool low = op == 0xED;
   const uint32_t type = low ? ecx >> 16 : 0;
   std::string item = low ? std::string(1, "OSPRGAC?"[std::min<uint32_t>(type, 7)])
                          : op == 0x6E ? "HO" : "HI";
   const bool open = low && type == HOST_MSG_OPEN;
   item += open && (ebx & HOST_OPEN_COOKIES) != 0 ? "+" : "";
   if (low && (type == HOST_MSG_SEND_SIZE || type == HOST_MSG_RECV_STATUS ||
               (type == HOST_MSG_RECV_PAYLOAD && ebx != 1))) {
      item += std::to_string(ebx);
   }
   const bool showsBytes = !low || type == HOST_MSG_SEND_PAYLOAD ||
                           (type == HOST_MSG_RECV_PAYLOAD && ebx == 1);
   const size_t index = calls_++;
   if (open) {
      opens.push_back(ebx);
   }
   if (!present) {
      return item;
   }
   if (low) {
      c->Rax = 0;  // what the read returns; ebp is not used
      c->Rbp = Junk(0);
   }
   auto injected = injectStatus.find(index);
   const bool wrongType = injected != injectStatus.end() && injected->second == kWrongType;
   if (injected != injectStatus.end() && !wrongType) {
      (low ? c->Rcx : c->Rbx) = Junk(uint32_t(injected->second) << 16);
      return item + "!";
   }

   uint32_t status = 0;
   std::string moved;
   Channel *ch = nullptr;
   const uint32_t cookie1 = low || op == 0x6C ? esi : ebp, cookie2 = op == 0x6C ? ebp : edi;
   const uint32_t hb = highBandwidth ? HOST_STATUS_HIGH_BANDWIDTH : 0;
   if (eax != HOST_PORT_MAGIC || (edx & 0xFFFF) != (low ? HOST_PORT_LOW : HOST_PORT_HIGH) ||
       (low ? (ecx & 0xFFFF) != HOST_COMMAND_MESSAGE
            : ebx != HOST_HIGH_BANDWIDTH_EBX || (c->EFlags & 0x400) != 0)) {  // direction flag
      violations.push_back("malformed call " + item);
   } else if (!low && !highBandwidth) {
      violations.push_back("high-bandwidth transfer while it is off");
   } else if (open) {
      status = Open(c, ebx);
   } else if (channels_.count(uint16_t(edx >> 16)) == 0) {
      violations.push_back("unknown channel in " + item);
   } else if (ch = &channels_[uint16_t(edx >> 16)],
              ch->cookie1 != cookie1 || ch->cookie2 != cookie2) {
      violations.push_back("wrong cookies in " + item);
   } else if (op == 0x6E) {
      if (ch->sizeKnown && ch->incoming.size() + ecx <= ch->expected) {
         moved.assign(reinterpret_cast<const char *>(c->Rsi), ecx);
         c->Rsi += ecx;
      }
      status = Take(ch, moved);
   } else if (op == 0x6C) {
      moved = Give(ch, ecx, &status, true);
      memcpy(reinterpret_cast<void *>(c->Rdi), moved.data(), moved.size());
      c->Rdi += moved.size();
   } else if (type == HOST_MSG_SEND_SIZE) {
      *ch = Channel{ch->cookie1, ch->cookie2, true, ebx, 0, "", "", false};
      status = HOST_STATUS_SUCCESS | hb;
      if (ebx == 0) {
         Take(ch, "");
      }
   } else if (type == HOST_MSG_SEND_PAYLOAD) {
      size_t n = ch->sizeKnown ? std::min<size_t>(4, ch->expected - ch->incoming.size()) : 4;
      if (n < 4 && (ebx >> (8 * n)) != 0) {
         violations.push_back("last piece not zero-extended");
      }
      for (size_t i = 0; i < n; i++) {
         moved += char(ebx >> (8 * i));
      }
      status = Take(ch, moved);
   } else if (type == HOST_MSG_RECV_SIZE) {
      ch->replyPos = 0;
      status = HOST_STATUS_SUCCESS | (ch->hasReply ? HOST_STATUS_RECEIVE | hb : 0);
      if (ch->hasReply) {
         c->Rbx = Junk(uint32_t(ch->reply.size()));
         c->Rdx = Junk(((wrongType ? kOtherType : kSizeType) << 16) | HOST_PORT_LOW);
      }
   } else if (type == HOST_MSG_RECV_PAYLOAD && ebx == 0) {
      ch->hasReply = false;  // the guest gave the reply up
      status = HOST_STATUS_SUCCESS;
   } else if (type == HOST_MSG_RECV_PAYLOAD) {
      moved = Give(ch, std::min<size_t>(4, ch->reply.size() - ch->replyPos), &status);
      uint32_t word = 0;
      for (size_t i = 0; i < moved.size(); i++) {
         word |= uint32_t(uint8_t(moved[i])) << (8 * i);
      }
      c->Rbx = Junk(word);
      c->Rdx = Junk(((wrongType ? kOtherType : kPayloadType) << 16) | HOST_PORT_LOW);
   } else if (type == HOST_MSG_RECV_STATUS) {
      if (ebx == 1 && (!ch->hasReply || ch->replyPos != ch->reply.size())) {
         violations.push_back("acknowledged an incomplete reply");
      }
      ch->hasReply = false;
      status = HOST_STATUS_SUCCESS;
   } else if (type == HOST_MSG_CLOSE) {
      channels_.erase(uint16_t(edx >> 16));
      status = HOST_STATUS_SUCCESS;
   } else {
      violations.push_back("unknown message type in " + item);
   }
   if (!low) {
      c->Rcx = 0;
   }
   (low ? c->Rcx : c->Rbx) = Junk(status << 16);
   return wrongType ? item + "!" : showsBytes ? item + "'" + moved + "'" : item;
}

uint32_t SimulatedHost::Open(CONTEXT *c, uint32_t ebx)
{
   Channel channel = {};
   if ((ebx & HOST_OPEN_COOKIES) != 0) {
      channel.cookie1 = nextCookie_ * 2654435761u;
      channel.cookie2 = nextCookie_++ * 40503u + 1;
   }
   const uint16_t id = nextId_++;
   channels_[id] = channel;
   c->Rdx = Junk((uint32_t(id) << 16) | HOST_PORT_LOW);
   c->Rsi = Junk(channel.cookie1);
   c->Rdi = Junk(channel.cookie2);
   return HOST_STATUS_SUCCESS;
}

// Request bytes in; a complete request gets the next reply.
uint32_t SimulatedHost::Take(Channel *ch, const std::string &bytes)
{
   if (!ch->sizeKnown || ch->incoming.size() + bytes.size() > ch->expected ||
       (bytes.empty() && ch->expected != 0)) {
      violations.push_back("request bytes beyond the announced size");
      return 0;
   }
   ch->incoming += bytes;
   if (ch->incoming.size() == ch->expected) {
      requests.push_back(ch->incoming);
      ch->sizeKnown = false;
      ch->reply = replies.empty() ? "1 " : replies.front();
      if (!replies.empty()) {
         replies.pop_front();
      }
      ch->hasReply = ch->reply != kNoReply;
      ch->reply = ch->hasReply ? ch->reply : "";
   }
   return HOST_STATUS_SUCCESS;
}

// Reply bytes out; only the high-bandwidth input of an empty reply moves none.
std::string SimulatedHost::Give(Channel *ch, size_t n, uint32_t *status, bool high)
{
   const bool ok = ch->hasReply && (n != 0 || (high && ch->reply.empty())) &&
                   ch->replyPos + n <= ch->reply.size();
   if (!ok) {
      violations.push_back("reply bytes beyond the reply");
   }
   *status = ok ? HOST_STATUS_SUCCESS : 0;
   ch->replyPos += ok ? n : 0;
   return ok ? ch->reply.substr(ch->replyPos - n, n) : "";
}
