// The request layer: one request to the host over its own channel, and the
// host's reply, "1 " + result for success or "0 " + error text for failure.
#pragma once

#include <cstddef>
#include <cstdint>

// The protocol of request channels: "RPCI" read as a little-endian word.
constexpr uint32_t RPCI_PROTOCOL = 0x49435052;

// Opens a channel, sends the request, receives and checks the reply, closes
// the channel. True only when all of it worked and the reply began with
// "1 ". When reply is non-null it gets a newly allocated, NUL-terminated
// copy of the reply text without its status (or the layer's own text of
// what went wrong), which the caller frees; null when the channel could not
// be opened or closed. errorBuffer (optional) gets the open failure's text.
bool RpcOut_SendRequestRaw(const char *request, size_t length,
                           char *errorBuffer, size_t errorBufferSize,
                           char **reply, size_t *replyLength);

// Formats the request (library printf dialect), appends a blank when the
// text has none (the host reads the command name up to the first blank) and
// sends it with RpcOut_SendRequestRaw.
bool RpcOut_SendRequest(char **reply, size_t *replyLength,
                        const char *format, ...);

// Receiver of the layer's diagnostic lines. None is installed by default:
// the lines are discarded. They must never be routed into the library's log,
// whose lines come here when they are sent to the host.
typedef void (*RpcOutDebugSink)(const char *line);
// Installs a sink (null: discard) and returns the previous one.
RpcOutDebugSink RpcOut_SetDebugSink(RpcOutDebugSink sink);
