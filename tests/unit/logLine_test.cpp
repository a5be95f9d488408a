// The text of one log line: timestamp and zone, tag, level letters, message,
// suffix, and the cuts at the line limit.
#include "common/logLine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

const LogLineTime kTime = {2026, 3, 7, 8, 9, 5, 42, 0};
const std::string kStamp = "2026-03-07T08:09:05.042Z| ", kHead = kStamp + "t| I1: ", kEuro = "\xE2\x82\xAC";
const size_t kRoom = LOG_LINE_MAX_TEXT - kHead.size();   // for the message after kHead
const LogLineStatus kDone = LOG_LINE_COMPLETE, kCut = LOG_LINE_TRUNCATED;

// The line, which must end at the reported length, after its status.
std::string Build(LogLineStatus want, const LogLineTime &time, const char *tag, uint32_t level, const utf16_t *suffix,
                  const char *format, ...)
{
   char buf[LOG_LINE_BUFFER_SIZE];
   memset(buf, '#', sizeof buf);
   size_t length = 99;
   va_list ap;
   va_start(ap, format);
   EXPECT_EQ(want, LogLine_Build(buf, time, tag, level, format, ap, suffix, &length)) << format;
   va_end(ap);
   EXPECT_EQ(length, strnlen(buf, sizeof buf)) << "terminator";
   return std::string(buf, strnlen(buf, sizeof buf));
}

TEST(LogLine, TimestampTagLevelMessageAndSuffix)
{
   EXPECT_EQ(kStamp + "setupKit-build-12| I0: Hello\n",
             Build(kDone, kTime, "setupKit-build-12", 0x400, nullptr, "Hello"));
   EXPECT_EQ("0007-01-02T00:00:00.000-09:30| t| I1: m\n",
             Build(kDone, {7, 1, 2, 0, 0, 0, 0, -570}, "t", 2, nullptr, "m"));
   const std::string byDefault = kStamp + "inst-build-" + std::to_string(OV_BUILD_NUMBER) + "| E1: m\n";
   EXPECT_EQ(byDefault, Build(kDone, kTime, nullptr, 1, nullptr, "m"));
   EXPECT_EQ(byDefault, Build(kDone, kTime, "", 1, nullptr, "m"));
   // Timestamp 24 + "| " + tag + "| I1: " 8: a tag of 2013 fills the line.
   const std::string filling(2013, 't');
   EXPECT_EQ(kStamp + filling + "| I1: \n", Build(kDone, kTime, filling.c_str(), 2, nullptr, ""));
   EXPECT_EQ(kStamp + filling + "| I1: \n", Build(kCut, kTime, filling.c_str(), 2, nullptr, "x"));
   EXPECT_EQ("", Build(LOG_LINE_FORMAT_ERROR, kTime, (filling + "t").c_str(), 2, nullptr, "m"));
   // The zone alone: a buffer too small keeps what fits, and its terminator.
   char zone[4];
   LogLine_ZoneSuffix(-570, zone, sizeof zone);
   EXPECT_STREQ("-09", zone);
   // One message (formatted as "%s"), its suffix and what the line must be.
   const struct { const utf16_t *suffix; std::string message, expected; LogLineStatus status; } kRows[] = {
      {nullptr, "a\r\nb\n\r\n\r", kHead + "a\r\nb\n", kDone},   // line ends go, inner ones stay
      {U16TEXT("| winerror code 5"), "failed\r\n", kHead + "failed| winerror code 5\n", kDone},
      {U16TEXT(" (caf\u00e9 \U0001F600)"), "", kHead + " (caf\xC3\xA9 \xF0\x9F\x98\x80)\n", kDone},
      {nullptr, std::string(kRoom, 'b'), kHead + std::string(kRoom, 'b') + "\n", kDone},
      {nullptr, std::string(kRoom + 1, 'b'), kHead + std::string(kRoom, 'b') + "\n", kCut},
      {nullptr, std::string(kRoom - 2, 'a') + kEuro, kHead + std::string(kRoom - 2, 'a') + "\n", kCut},
      {nullptr, std::string(kRoom - 3, 'a') + "\r\n\r\nrest", kHead + std::string(kRoom - 3, 'a') + "\n", kCut},
      {U16TEXT("ab\u20ac\u20ac"), std::string(kRoom - 4, 'm'), kHead + std::string(kRoom - 4, 'm') + "ab\n", kCut},
      {U16TEXT("ab\u20ac"), std::string(kRoom - 5, 'm'), kHead + std::string(kRoom - 5, 'm') + "ab" + kEuro + "\n",
       kDone},
      {U16TEXT("| s"), std::string(3000, 'a'), kHead + std::string(kRoom, 'a') + "\n", kCut}};
   for (const auto &r : kRows) {
      EXPECT_EQ(r.expected, Build(r.status, kTime, "t", 2, r.suffix, "%s", r.message.c_str())) << r.message.size();
   }
   // %s is UTF-8, %S UTF-16; a null format prints as "(null)". A format
   // the engine refuses keeps what was written and is marked cut.
   EXPECT_EQ(kHead + kEuro + "|\xC3\xA9 7\n",
             Build(kDone, kTime, "t", 2, nullptr, "%s|%S %d", kEuro.c_str(), U16TEXT("\u00e9"), 7));
   EXPECT_EQ(kHead + "(null)\n", Build(kDone, kTime, "t", 2, nullptr, nullptr));
   EXPECT_EQ(kHead + "\n", Build(kCut, kTime, "t", 2, nullptr, "%1$s %s", "a", "b"));
}

}  // namespace
