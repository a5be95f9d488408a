// The log's path to the host: each line of log text becomes one request.
#pragma once

#include <cstddef>

// Sends every complete line of text (up to length bytes or the first NUL;
// CR and LF end lines, empty lines and text after the last break are not
// sent) as "guest.log.text ==INSTLOG " + line. True when every request
// succeeded; a null text sends "log buf is NULL" and gives false.
bool Inst_SendLogToHost(const char *text, size_t length);
