// The text of one log line: timestamp and zone, tag, level letters, message,
// suffix, and the cuts at the line limit.
#include "common/logLine.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <string>

namespace {

const char kEuro[] = "\xE2\x82\xAC";
const std::string kBuildTag = "inst-build-" + std::to_string(OV_BUILD_NUMBER);
const LogLineTime kTime = {2026, 3, 7, 8, 9, 5, 42, 0};   // 2026-03-07T08:09:05.042Z
const std::string kHead = "2026-03-07T08:09:05.042Z| t| I1: ";
const size_t kRoom = LOG_LINE_MAX_TEXT - kHead.size();   // for the message after kHead

struct Built { std::string text; LogLineStatus status; };

Built Build(const LogLineTime &time, const char *tag, uint32_t level, const utf16_t *suffix,
            const char *format, ...)
{
   char buf[LOG_LINE_BUFFER_SIZE];
   memset(buf, '#', sizeof buf);
   size_t length = 99;
   va_list ap;
   va_start(ap, format);
   LogLineStatus status = LogLine_Build(buf, time, tag, level, format, ap, suffix, &length);
   va_end(ap);
   const char *nul = static_cast<const char *>(memchr(buf, '\0', sizeof buf));
   EXPECT_TRUE(nul != nullptr && static_cast<size_t>(nul - buf) == length) << "terminator";
   return {std::string(buf, nul != nullptr ? static_cast<size_t>(nul - buf) : 0), status};
}

// One message (formatted as "%s") and what the line must be.
struct Row {
   const char *label; LogLineTime time; const char *tag; uint32_t level; const utf16_t *suffix;
   std::string message, expected; LogLineStatus status;
};

const LogLineStatus kDone = LOG_LINE_COMPLETE, kCut = LOG_LINE_TRUNCATED;
const std::string kA3000(3000, 'a');
// Timestamp 24 + "| " + tag + "| I1: " 8: a tag of 2013 fills the line.
const std::string kFillingTag(2013, 't'), kLongerTag(2014, 't');

const Row kRows[] = {
   {"whole line", kTime, "setupKit-build-12", 0x400, nullptr, "Hello",
    "2026-03-07T08:09:05.042Z| setupKit-build-12| I0: Hello\n", kDone},
   {"padded fields", {7, 1, 2, 0, 0, 0, 0, 0}, "t", 2, nullptr, "m",
    "0007-01-02T00:00:00.000Z| t| I1: m\n", kDone},
   {"zone behind", {2026, 3, 7, 8, 9, 5, 42, -120}, "t", 2, nullptr, "m",
    "2026-03-07T08:09:05.042-02:00| t| I1: m\n", kDone},
   {"null tag", kTime, nullptr, 1, nullptr, "m",
    "2026-03-07T08:09:05.042Z| " + kBuildTag + "| E1: m\n", kDone},
   {"empty tag", kTime, "", 1, nullptr, "m",
    "2026-03-07T08:09:05.042Z| " + kBuildTag + "| E1: m\n", kDone},
   {"mixed ends go, inner stay", kTime, "t", 2, nullptr, "a\r\nb\n\r\n\r", kHead + "a\r\nb\n",
    kDone},
   {"only line ends", kTime, "t", 2, nullptr, "\r\n\n", kHead + "\n", kDone},
   {"ends go before the suffix", kTime, "t", 2, U16TEXT("| winerror code 5"), "failed\r\n",
    kHead + "failed| winerror code 5\n", kDone},
   {"suffix as UTF-8", kTime, "t", 2, U16TEXT(" (caf\u00e9 \u20ac \U0001F600)"), "m",
    kHead + "m (caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80)\n", kDone},
   {"empty suffix", kTime, "t", 2, U16TEXT(""), "m", kHead + "m\n", kDone},
   {"exactly the room", kTime, "t", 2, nullptr, std::string(kRoom, 'b'),
    kHead + std::string(kRoom, 'b') + "\n", kDone},
   {"one over the room", kTime, "t", 2, nullptr, std::string(kRoom + 1, 'b'),
    kHead + std::string(kRoom, 'b') + "\n", kCut},
   {"line ends at the cut", kTime, "t", 2, nullptr, std::string(kRoom - 3, 'a') + "\r\n\r\nrest",
    kHead + std::string(kRoom - 3, 'a') + "\n", kCut},
   {"suffix cut on a character", kTime, "t", 2, U16TEXT("ab\u20ac\u20ac"),
    std::string(kRoom - 4, 'm'), kHead + std::string(kRoom - 4, 'm') + "ab\n", kCut},
   {"suffix exactly the room", kTime, "t", 2, U16TEXT("ab\u20ac"), std::string(kRoom - 5, 'm'),
    kHead + std::string(kRoom - 5, 'm') + "ab" + kEuro + "\n", kDone},
   {"no room for the suffix", kTime, "t", 2, U16TEXT("| s"), kA3000,
    kHead + std::string(kRoom, 'a') + "\n", kCut},
   {"tag fills the line", kTime, kFillingTag.c_str(), 2, nullptr, "",
    "2026-03-07T08:09:05.042Z| " + kFillingTag + "| I1: \n", kDone},
   {"no room after the tag", kTime, kFillingTag.c_str(), 2, nullptr, "x",
    "2026-03-07T08:09:05.042Z| " + kFillingTag + "| I1: \n", kCut},
   {"tag too long", kTime, kLongerTag.c_str(), 2, nullptr, "m", "", LOG_LINE_FORMAT_ERROR},
};

TEST(LogLine, Rows)
{
   for (const Row &r : kRows) {
      Built b = Build(r.time, r.tag, r.level, r.suffix, "%s", r.message.c_str());
      EXPECT_EQ(r.expected, b.text) << r.label;
      EXPECT_EQ(r.status, b.status) << r.label;
   }
}

TEST(LogLine, MessageUsesTheLibraryDialect)
{
   // %s is UTF-8, %S UTF-16; a null format prints as "(null)".
   EXPECT_EQ(kHead + kEuro + "|\xC3\xA9 7\n",
             Build(kTime, "t", 2, nullptr, "%s|%S %d", kEuro, U16TEXT("\u00e9"), 7).text);
   EXPECT_EQ(kHead + "(null)\n", Build(kTime, "t", 2, nullptr, nullptr).text);
   // Positional and sequential arguments mixed: the engine refuses the
   // format; the line keeps what was written and is marked cut.
   Built bad = Build(kTime, "t", 2, nullptr, "%1$s %s", "a", "b");
   EXPECT_EQ(LOG_LINE_TRUNCATED, bad.status);
   EXPECT_EQ(kHead, bad.text.substr(0, kHead.size()));
   EXPECT_EQ('\n', bad.text.back());
}

TEST(LogLine, CutNeverSplitsAUtf8Sequence)
{
   for (const std::string ch : {"\xC3\xA9", kEuro, "\xF0\x9F\x98\x80"}) {
      std::string chars;
      while (chars.size() < 3000) {
         chars += ch;
      }
      // Every position of the limit inside the character.
      for (size_t lead = 0; lead < ch.size(); lead++) {
         SCOPED_TRACE(testing::Message() << ch.size() << "-byte character, lead " << lead);
         std::string x(lead, 'x');
         Built b = Build(kTime, "t", 2, nullptr, "%s", (x + chars).c_str());
         EXPECT_EQ(LOG_LINE_TRUNCATED, b.status);
         size_t whole = (kRoom - lead) / ch.size() * ch.size();
         EXPECT_TRUE(kHead + x + chars.substr(0, whole) + "\n" == b.text);
      }
   }
}

// Offsets real zones have; a buffer too small keeps what fits.
TEST(LogLine, ZoneSuffix)
{
   const std::pair<int, std::string> zones[] = {
      {0, "Z"}, {330, "+05:30"}, {-30, "-00:30"}, {-570, "-09:30"}, {840, "+14:00"}};
   for (const auto &z : zones) {
      char buf[8];
      LogLine_ZoneSuffix(z.first, buf, sizeof buf);
      EXPECT_EQ(z.second, buf) << z.first;
   }
   char small[4] = "###", none = '#';
   LogLine_ZoneSuffix(-120, small, sizeof small);
   EXPECT_STREQ("-02", small);
   LogLine_ZoneSuffix(-120, &none, 0);
   EXPECT_EQ('#', none);
}

}  // namespace
