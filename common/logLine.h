// Building one line of the library's log: timestamp, session tag, level
// letters, message and an optional UTF-16 suffix, cut to the line limit.
//
// Platform-neutral so that the exact text is tested natively and measured;
// common/log.cpp supplies the clock, the state and the file.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "lib/unicode/unicodeSimpleTypes.h"

// The stack buffer a line is built in.
constexpr size_t LOG_LINE_BUFFER_SIZE = 2048;
// Characters a line may hold before its LF: the builder formats into at
// most 2046 bytes, terminator included.
constexpr size_t LOG_LINE_MAX_TEXT = 2045;

// Broken-down local time and the zone offset (local minus UTC, whole
// minutes) of the moment the line is written.
struct LogLineTime {
   int year;
   int month;
   int day;
   int hour;
   int minute;
   int second;
   int milliseconds;
   int zoneMinutes;
};

enum LogLineStatus {
   LOG_LINE_COMPLETE,
   LOG_LINE_TRUNCATED,      // message or suffix cut; the line is still valid
   LOG_LINE_FORMAT_ERROR,   // timestamp or prefix could not be formatted
};

// Fixed texts the writer puts into the file around (or instead of) a line.
constexpr char LOG_LINE_TRUNCATED_NOTICE[] = "The following message is truncated:\n";
constexpr char LOG_LINE_FORMAT_ERROR_TEXT[] = "Serious format error in logging code\n";
constexpr char LOG_LINE_HOST_FAILED_TEXT[] = "Failed to send above log message to host\n";

// The two letters of a level ("E1", "I0", ... "XX" for anything unlisted).
const char *LogLine_LevelLetters(uint32_t level);

// The tag used while no session has set one: "inst-build-" and the build
// number (OV_BUILD_NUMBER).
const char *LogLine_DefaultTag(void);

// The zone suffix of a timestamp: "Z" for 0, else sign, hours and minutes
// ("+05:30", "-02:00"). `out` gets at most `size` - 1 characters.
void LogLine_ZoneSuffix(int zoneMinutes, char *out, size_t size);

// Builds the line in `buf`: timestamp, "| tag| LL: ", the message formatted
// by the library's engine with trailing CR/LF removed, the suffix (if
// non-null) and one LF. *length gets the byte count including the LF (0 on
// LOG_LINE_FORMAT_ERROR); the buffer is NUL-terminated after it. A null or
// empty tag means LogLine_DefaultTag().
LogLineStatus LogLine_Build(char (&buf)[LOG_LINE_BUFFER_SIZE],
                            const LogLineTime &time, const char *tag,
                            uint32_t level, const char *format, va_list args,
                            const utf16_t *suffix, size_t *length);
