// The request layer over the message channel.
#include "hostChannel/rpcOut.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "hostChannel/hostChannel.h"
#include "lib/string/str.h"

namespace {

const char kOpenFailedText[] =
   "RpcOut: Unable to open the communication channel";
const char kSendFailedText[] = "RpcOut: Unable to send the RPCI command";
const char kReceiveFailedText[] =
   "RpcOut: Unable to receive the result of the RPCI command";
const char kBadFormatText[] =
   "RpcOut: Invalid format for the result of the RPCI command";
const size_t kMaxErrorText = 48;

RpcOutDebugSink gDebugSink = nullptr;

// Diagnostic lines are only formatted when someone listens.
void Debug(const char *format, ...)
{
   if (gDebugSink == nullptr) {
      return;
   }
   va_list ap;
   va_start(ap, format);
   char *line = Text_Vasprintf(nullptr, format, ap);
   va_end(ap);
   if (line != nullptr) {
      gDebugSink(line);
      free(line);
   }
}

// The request as text for the diagnostics (it need not be terminated).
class RequestText {
public:
   RequestText(const char *request, size_t length)
   {
      if (gDebugSink != nullptr && request != nullptr) {
         text_ = static_cast<char *>(malloc(length + 1));
         if (text_ != nullptr) {
            memcpy(text_, request, length);
            text_[length] = '\0';
         }
      }
   }
   ~RequestText() { free(text_); }
   RequestText(const RequestText &) = delete;
   RequestText &operator=(const RequestText &) = delete;
   const char *Get() const { return text_ != nullptr ? text_ : ""; }

private:
   char *text_ = nullptr;
};

void CopyErrorText(char *buffer, size_t size, const char *text)
{
   if (buffer == nullptr || size == 0) {
      return;
   }
   size_t n = strlen(text);
   if (n > size - 1) {
      n = size - 1;
   }
   if (n > kMaxErrorText) {
      n = kMaxErrorText;
   }
   memcpy(buffer, text, n);
   buffer[n] = '\0';
}

char *CopyText(const char *text, size_t length)
{
   char *copy = static_cast<char *>(malloc(length + 1));
   if (copy != nullptr) {
      memcpy(copy, text, length);
      copy[length] = '\0';
   }
   return copy;
}

}  // namespace

RpcOutDebugSink RpcOut_SetDebugSink(RpcOutDebugSink sink)
{
   RpcOutDebugSink previous = gDebugSink;
   gDebugSink = sink;
   return previous;
}

bool RpcOut_SendRequestRaw(const char *request, size_t length,
                           char *errorBuffer, size_t errorBufferSize,
                           char **reply, size_t *replyLength)
{
   if (reply != nullptr) {
      *reply = nullptr;
   }
   if (replyLength != nullptr) {
      *replyLength = 0;
   }
   if (request == nullptr && length > 0) {
      return false;
   }
   RequestText requestText(request, length);
   Debug("Rpci: Sending request='%s'\n", requestText.Get());

   HostChannel channel;
   if (!HostChannel_Open(RPCI_PROTOCOL, nullptr, 0, &channel)) {
      CopyErrorText(errorBuffer, errorBufferSize, kOpenFailedText);
      Debug("RpcOut: couldn't open channel with RPCI protocol\n");
      return false;
   }

   // The reply text points into the channel's buffer until the close.
   const char *text;
   size_t textLength;
   bool exchanged = false;
   bool accepted = false;
   const char *received = nullptr;
   size_t receivedLength = 0;
   if (!HostChannel_Send(&channel, request, length)) {
      text = kSendFailedText;
      textLength = sizeof kSendFailedText - 1;
   } else if (!HostChannel_Receive(&channel, &received, &receivedLength)) {
      text = kReceiveFailedText;
      textLength = sizeof kReceiveFailedText - 1;
   } else if (receivedLength < 2 || received[1] != ' ' ||
              (received[0] != '1' && received[0] != '0')) {
      text = kBadFormatText;
      textLength = sizeof kBadFormatText - 1;
   } else {
      exchanged = true;
      accepted = received[0] == '1';
      text = received + 2;
      textLength = receivedLength - 2;
   }
   Debug("Rpci: Sent request='%s', reply='%s', len=%I64u, status=%d, "
         "rpcStatus=%d\n",
         requestText.Get(), text, static_cast<uint64_t>(textLength),
         static_cast<int>(accepted), static_cast<int>(exchanged));

   bool handedBack = true;
   if (reply != nullptr) {
      *reply = CopyText(text, textLength);
      handedBack = *reply != nullptr;
   }
   if (replyLength != nullptr && handedBack) {
      *replyLength = textLength;
   }

   if (!HostChannel_Close(&channel)) {
      Debug("RpcOut: couldn't close channel\n");
      Debug("Rpci: unable to close the communication channel\n");
      if (reply != nullptr) {
         free(*reply);
         *reply = nullptr;
      }
      if (replyLength != nullptr) {
         *replyLength = 0;
      }
      return false;
   }
   return exchanged && accepted && handedBack;
}

bool RpcOut_SendRequest(char **reply, size_t *replyLength,
                        const char *format, ...)
{
   if (reply != nullptr) {
      *reply = nullptr;
   }
   if (replyLength != nullptr) {
      *replyLength = 0;
   }
   if (format == nullptr) {
      return false;
   }
   va_list ap;
   va_start(ap, format);
   size_t length = 0;
   char *request = Text_Vasprintf(&length, format, ap);
   va_end(ap);
   if (request == nullptr) {
      return false;
   }
   if (memchr(request, ' ', length) == nullptr) {
      char *withBlank = Text_Asprintf(&length, "%s ", request);
      free(request);
      if (withBlank == nullptr) {
         return false;
      }
      request = withBlank;
   }
   bool ok = RpcOut_SendRequestRaw(request, length, nullptr, 0, reply,
                                   replyLength);
   free(request);
   return ok;
}
