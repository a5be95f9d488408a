// The message channel between the guest and the hypervisor: a channel is
// opened for a protocol, carries one message to the host and its reply back,
// and is closed.
//
// A channel record lives on its user's stack; nothing is shared between
// channels. The reply buffer is the caller's when one is given to the open
// (never enlarged or freed here), otherwise the channel's own, grown on
// demand and freed by the close.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t HOST_PORT_MAGIC = 0x4F52564E;
constexpr uint16_t HOST_PORT_LOW = 0x515A;   // low-bandwidth port
constexpr uint16_t HOST_PORT_HIGH = 0x515B;  // high-bandwidth port
constexpr uint16_t HOST_COMMAND_MESSAGE = 30;
// ebx of a high-bandwidth transfer; its answer's status is in the high half.
constexpr uint32_t HOST_HIGH_BANDWIDTH_EBX = 0x00010000;
// Asks the open for cookies, which the host then checks on every call.
constexpr uint32_t HOST_OPEN_COOKIES = 0x80000000;

// Message types (high half of ecx on the way in).
enum HostMessageType : uint16_t {
   HOST_MSG_OPEN = 0,
   HOST_MSG_SEND_SIZE = 1,
   HOST_MSG_SEND_PAYLOAD = 2,
   HOST_MSG_RECV_SIZE = 3,
   HOST_MSG_RECV_PAYLOAD = 4,
   HOST_MSG_RECV_STATUS = 5,
   HOST_MSG_CLOSE = 6,
};

// Status bits (high half of ecx, or of ebx after a high-bandwidth transfer).
enum : uint16_t {
   HOST_STATUS_SUCCESS = 0x0001,
   HOST_STATUS_RECEIVE = 0x0002,   // a message is waiting to be received
   HOST_STATUS_RESTART = 0x0010,   // start the exchange again
   HOST_STATUS_HIGH_BANDWIDTH = 0x0080,
};

struct HostChannel {
   uint16_t id;
   uint32_t cookie1;
   uint32_t cookie2;
   char *buffer;
   size_t bufferSize;
   bool callerBuffer;
};

// True when the host opened a channel for the protocol; the record is
// zeroed otherwise. A null callerBuffer lets the channel own its buffer.
bool HostChannel_Open(uint32_t protocol, char *callerBuffer,
                      size_t callerBufferSize, HostChannel *channel);
// True when the host accepted all length bytes (more than 4 GiB - 1 cannot
// be announced and fail).
bool HostChannel_Send(HostChannel *channel, const void *bytes, size_t length);
// True when a reply, possibly empty, was received; *reply points into the
// channel's buffer, NUL-terminated, valid until the close.
bool HostChannel_Receive(HostChannel *channel, const char **reply,
                         size_t *length);
// True when the host closed the channel; the own buffer is freed either way.
bool HostChannel_Close(HostChannel *channel);
