// The message channel over the hypervisor's I/O-port interface.
//
// Every answer is read from the low 32 bits of a word only: the upper halves
// of the registers are whatever the hypervisor left there.
#include "hostChannel/hostChannel.h"

#include <cstdlib>
#include <cstring>

#include "hostChannel/hostPort.h"

namespace {

// Outcome of one pass of a send or receive; status is the answer of the call
// that decided it (its restart bit asks for another pass).
struct Pass {
   bool ok;
   uint16_t status;
};

uint16_t HighHalf(uint64_t word)
{
   return static_cast<uint16_t>((word & 0xFFFFFFFFu) >> 16);
}

// One low-bandwidth call on the channel; the status is returned and the
// registers left in *regs.
uint16_t LowCall(const HostChannel &channel, uint16_t type, uint32_t ebx,
                 HostPortRegisters *regs)
{
   regs->eax = HOST_PORT_MAGIC;
   regs->ebx = ebx;
   regs->ecx = (static_cast<uint32_t>(type) << 16) | HOST_COMMAND_MESSAGE;
   regs->edx = (static_cast<uint32_t>(channel.id) << 16) | HOST_PORT_LOW;
   regs->esi = channel.cookie1;
   regs->edi = channel.cookie2;
   regs->ebp = 0;
   HostPort_Call(regs);
   return HighHalf(regs->ecx);
}

HostPortRegisters HighBandwidthBlock(const HostChannel &channel, size_t count)
{
   HostPortRegisters regs = {};
   regs.eax = HOST_PORT_MAGIC;
   regs.ebx = HOST_HIGH_BANDWIDTH_EBX;
   regs.ecx = count;
   regs.edx = (static_cast<uint32_t>(channel.id) << 16) | HOST_PORT_HIGH;
   return regs;
}

Pass SendPass(const HostChannel &channel, const unsigned char *bytes,
              size_t length)
{
   HostPortRegisters regs;
   uint16_t status = LowCall(channel, HOST_MSG_SEND_SIZE,
                             static_cast<uint32_t>(length), &regs);
   if ((status & HOST_STATUS_SUCCESS) == 0) {
      return {false, status};
   }
   if ((status & HOST_STATUS_HIGH_BANDWIDTH) != 0) {
      if (length == 0) {
         return {true, status};
      }
      HostPortRegisters hb = HighBandwidthBlock(channel, length);
      hb.esi = reinterpret_cast<uintptr_t>(bytes);
      hb.edi = channel.cookie2;
      hb.ebp = channel.cookie1;
      HostPort_HbOut(&hb);
      uint16_t hbStatus = HighHalf(hb.ebx);
      return {(hbStatus & HOST_STATUS_SUCCESS) != 0, hbStatus};
   }
   for (size_t done = 0; done < length; done += 4) {
      size_t n = length - done < 4 ? length - done : 4;
      uint32_t word = 0;
      for (size_t i = 0; i < n; i++) {
         word |= static_cast<uint32_t>(bytes[done + i]) << (8 * i);
      }
      status = LowCall(channel, HOST_MSG_SEND_PAYLOAD, word, &regs);
      if ((status & HOST_STATUS_SUCCESS) == 0) {
         return {false, status};
      }
   }
   return {true, status};
}

// Room for needed bytes: a caller buffer is what it is, the own one grows.
bool ReserveReply(HostChannel *channel, size_t needed)
{
   if (channel->bufferSize >= needed) {
      return true;
   }
   if (channel->callerBuffer) {
      return false;
   }
   char *grown = static_cast<char *>(realloc(channel->buffer, needed));
   if (grown == nullptr) {
      return false;  // the old buffer stays and is freed by the close
   }
   channel->buffer = grown;
   channel->bufferSize = needed;
   return true;
}

// The reply's bytes into the channel's buffer (already large enough). The
// high-bandwidth input is made even for an empty reply: the host expects
// it once it has offered that path.
Pass ReceivePayload(const HostChannel &channel, size_t size,
                    bool highBandwidth)
{
   if (highBandwidth) {
      HostPortRegisters hb = HighBandwidthBlock(channel, size);
      hb.esi = channel.cookie1;
      hb.edi = reinterpret_cast<uintptr_t>(channel.buffer);
      hb.ebp = channel.cookie2;
      HostPort_HbIn(&hb);
      uint16_t hbStatus = HighHalf(hb.ebx);
      return {(hbStatus & HOST_STATUS_SUCCESS) != 0, hbStatus};
   }
   for (size_t done = 0; done < size; done += 4) {
      HostPortRegisters regs;
      uint16_t status = LowCall(channel, HOST_MSG_RECV_PAYLOAD, 1, &regs);
      if ((status & HOST_STATUS_SUCCESS) == 0 ||
          HighHalf(regs.edx) != HOST_MSG_SEND_PAYLOAD) {
         return {false, status};
      }
      size_t n = size - done < 4 ? size - done : 4;
      for (size_t i = 0; i < n; i++) {
         channel.buffer[done + i] = static_cast<char>(regs.ebx >> (8 * i));
      }
   }
   return {true, HOST_STATUS_SUCCESS};
}

// Tells the host that the reply was not taken, so it can drop it.
void ReportReceiveFailure(const HostChannel &channel, bool bytesOutstanding)
{
   HostPortRegisters regs;
   LowCall(channel,
           bytesOutstanding ? HOST_MSG_RECV_PAYLOAD : HOST_MSG_RECV_STATUS, 0,
           &regs);
}

}  // namespace

bool HostChannel_Open(uint32_t protocol, char *callerBuffer,
                      size_t callerBufferSize, HostChannel *channel)
{
   if (channel == nullptr) {
      return false;
   }
   *channel = HostChannel{};
   HostPortRegisters regs;
   uint16_t status = LowCall(*channel, HOST_MSG_OPEN,
                             protocol | HOST_OPEN_COOKIES, &regs);
   if ((status & HOST_STATUS_SUCCESS) == 0) {
      status = LowCall(*channel, HOST_MSG_OPEN, protocol, &regs);
      if ((status & HOST_STATUS_SUCCESS) == 0) {
         return false;
      }
   }
   channel->id = HighHalf(regs.edx);
   channel->cookie1 = static_cast<uint32_t>(regs.esi);
   channel->cookie2 = static_cast<uint32_t>(regs.edi);
   channel->callerBuffer = callerBuffer != nullptr;
   channel->buffer = callerBuffer;
   channel->bufferSize = callerBuffer != nullptr ? callerBufferSize : 0;
   return true;
}

bool HostChannel_Send(HostChannel *channel, const void *bytes, size_t length)
{
   if (channel == nullptr || (bytes == nullptr && length > 0) ||
       length > 0xFFFFFFFFu) {
      return false;
   }
   for (;;) {
      Pass pass = SendPass(*channel, static_cast<const unsigned char *>(bytes),
                           length);
      if (pass.ok) {
         return true;
      }
      if ((pass.status & HOST_STATUS_RESTART) == 0) {
         return false;
      }
   }
}

bool HostChannel_Receive(HostChannel *channel, const char **reply,
                         size_t *length)
{
   if (channel == nullptr || reply == nullptr || length == nullptr) {
      return false;
   }
   *reply = nullptr;
   *length = 0;
   for (;;) {
      HostPortRegisters regs;
      uint16_t status = LowCall(*channel, HOST_MSG_RECV_SIZE, 0, &regs);
      if ((status & HOST_STATUS_SUCCESS) == 0) {
         return false;
      }
      if ((status & HOST_STATUS_RECEIVE) == 0) {
         if (channel->bufferSize > 0) {
            channel->buffer[0] = '\0';
            *reply = channel->buffer;
         } else {
            *reply = "";
         }
         return true;
      }
      if (HighHalf(regs.edx) != HOST_MSG_SEND_SIZE) {
         return false;
      }
      size_t size = static_cast<uint32_t>(regs.ebx);
      if (!ReserveReply(channel, size + 1)) {
         ReportReceiveFailure(*channel, size > 0);
         return false;
      }
      Pass pass = ReceivePayload(*channel, size,
                                 (status & HOST_STATUS_HIGH_BANDWIDTH) != 0);
      if (!pass.ok) {
         if ((pass.status & HOST_STATUS_RESTART) != 0) {
            continue;
         }
         ReportReceiveFailure(*channel, true);
         return false;
      }
      channel->buffer[size] = '\0';
      status = LowCall(*channel, HOST_MSG_RECV_STATUS, 1, &regs);
      if ((status & HOST_STATUS_SUCCESS) == 0) {
         if ((status & HOST_STATUS_RESTART) != 0) {
            continue;
         }
         ReportReceiveFailure(*channel, false);
         return false;
      }
      *reply = channel->buffer;
      *length = size;
      return true;
   }
}

bool HostChannel_Close(HostChannel *channel)
{
   if (channel == nullptr) {
      return false;
   }
   HostPortRegisters regs;
   uint16_t status = LowCall(*channel, HOST_MSG_CLOSE, 0, &regs);
   if (!channel->callerBuffer) {
      free(channel->buffer);
   }
   channel->buffer = nullptr;
   channel->bufferSize = 0;
   return (status & HOST_STATUS_SUCCESS) != 0;
}
