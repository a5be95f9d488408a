// Log lines to the host. Nothing here may write to the log: the log calls
// this for each of its lines.
#include "hostChannel/logToHost.h"

#include <cstdlib>
#include <cstring>

#include "hostChannel/rpcOut.h"

namespace {

const char kLogRequestPrefix[] = "guest.log.text ==INSTLOG ";

bool SendLine(const char *line, size_t length)
{
   const size_t prefixLength = sizeof kLogRequestPrefix - 1;
   char *request = static_cast<char *>(malloc(prefixLength + length + 1));
   if (request == nullptr) {
      return false;
   }
   memcpy(request, kLogRequestPrefix, prefixLength);
   memcpy(request + prefixLength, line, length);
   request[prefixLength + length] = '\0';
   // "%s": a '%' in the log text is text, not a directive.
   bool ok = RpcOut_SendRequest(nullptr, nullptr, "%s", request);
   free(request);
   return ok;
}

}  // namespace

bool Inst_SendLogToHost(const char *text, size_t length)
{
   if (text == nullptr) {
      RpcOut_SendRequest(nullptr, nullptr, "%s", "log buf is NULL");
      return false;
   }
   bool allSent = true;
   size_t lineStart = 0;
   for (size_t i = 0; i < length && text[i] != '\0'; i++) {
      if (text[i] != '\r' && text[i] != '\n') {
         continue;
      }
      if (i > lineStart && !SendLine(text + lineStart, i - lineStart)) {
         allSent = false;
      }
      lineStart = i + 1;
   }
   return allSent;
}
