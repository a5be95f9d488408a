// The text of one log line: timestamp and zone, tag, level letters, message,
// suffix, and the cuts at the line limit.
#include "common/logLine.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstring>
#include <string>

namespace {

const char kEuro[] = "\xE2\x82\xAC";            // three bytes
const char kSmile[] = "\xF0\x9F\x98\x80";       // four bytes
const std::string kBuildTag = "inst-build-" + std::to_string(OV_BUILD_NUMBER);

// 2026-03-07T08:09:05.042, UTC.
const LogLineTime kTime = {2026, 3, 7, 8, 9, 5, 42, 0};

struct Built {
   std::string text;   // the whole buffer up to its terminator
   size_t length = 0;
   LogLineStatus status = LOG_LINE_COMPLETE;
};

Built BuildV(const LogLineTime &time, const char *tag, uint32_t level,
             const utf16_t *suffix, const char *format, va_list ap)
{
   char buf[LOG_LINE_BUFFER_SIZE];
   memset(buf, '#', sizeof buf);
   Built b;
   b.status = LogLine_Build(buf, time, tag, level, format, ap, suffix, &b.length);
   const void *nul = memchr(buf, '\0', sizeof buf);
   EXPECT_NE(nullptr, nul) << "line not terminated";
   b.text = nul != nullptr ? std::string(buf, static_cast<const char *>(nul) - buf)
                           : std::string();
   EXPECT_EQ(b.text.size(), b.length);
   return b;
}

Built Build(const char *tag, uint32_t level, const utf16_t *suffix, const char *format, ...)
{
   va_list ap;
   va_start(ap, format);
   Built b = BuildV(kTime, tag, level, suffix, format, ap);
   va_end(ap);
   return b;
}

Built BuildAt(const LogLineTime &time, const char *format, ...)
{
   va_list ap;
   va_start(ap, format);
   Built b = BuildV(time, "t", 0x002, nullptr, format, ap);
   va_end(ap);
   return b;
}

std::string Zone(int minutes)
{
   char buf[32];
   LogLine_ZoneSuffix(minutes, buf, sizeof buf);
   return buf;
}

// Bytes the message may use after the prefix of tag "t", level I1, zone Z.
size_t RoomAfterPrefix()
{
   const size_t prefix = strlen("2026-03-07T08:09:05.042Z| t| I1: ");
   return LOG_LINE_MAX_TEXT - prefix;
}

std::string Repeat(const std::string &unit, size_t count)
{
   std::string s;
   for (size_t i = 0; i < count; i++) {
      s += unit;
   }
   return s;
}

// --- shape -----------------------------------------------------------------

TEST(LogLineShape, TimestampTagLettersMessageAndLf)
{
   Built b = Build("setupKit-build-12", 0x400, nullptr, "Hello %s %d", "world", 7);
   EXPECT_EQ(LOG_LINE_COMPLETE, b.status);
   EXPECT_EQ("2026-03-07T08:09:05.042Z| setupKit-build-12| I0: Hello world 7\n", b.text);
}

TEST(LogLineShape, FieldsArePaddedAndWideValuesKept)
{
   LogLineTime early = {7, 1, 2, 0, 0, 0, 0, 0};
   EXPECT_EQ("0007-01-02T00:00:00.000Z| t| I1: m\n", BuildAt(early, "m").text);
   LogLineTime wide = {12345, 12, 31, 23, 59, 59, 999, 0};
   EXPECT_EQ("12345-12-31T23:59:59.999Z| t| I1: m\n", BuildAt(wide, "m").text);
}

TEST(LogLineShape, MessageUsesTheLibraryDialect)
{
   // %s is UTF-8, %S UTF-16.
   Built b = Build("t", 0x002, nullptr, "%s|%S", kEuro, U16TEXT("\u00e9"));
   EXPECT_EQ(std::string("2026-03-07T08:09:05.042Z| t| I1: ") + kEuro + "|\xC3\xA9\n", b.text);
}

TEST(LogLineShape, NullFormatIsPrintedAsNull)
{
   Built b = Build("t", 0x002, nullptr, nullptr);
   EXPECT_EQ(LOG_LINE_COMPLETE, b.status);
   EXPECT_EQ("2026-03-07T08:09:05.042Z| t| I1: (null)\n", b.text);
}

// --- zone suffix -------------------------------------------------------------

TEST(LogLineZone, Forms)
{
   EXPECT_EQ("Z", Zone(0));
   EXPECT_EQ("+05:30", Zone(330));
   EXPECT_EQ("-02:00", Zone(-120));
   EXPECT_EQ("-00:30", Zone(-30));
   EXPECT_EQ("-00:01", Zone(-1));
   EXPECT_EQ("+00:01", Zone(1));
   EXPECT_EQ("+14:00", Zone(840));
   EXPECT_EQ("-12:00", Zone(-720));
   EXPECT_EQ("+05:45", Zone(345));
   // Beyond any real zone: the hours simply take more digits.
   EXPECT_EQ("+100:00", Zone(6000));
}

TEST(LogLineZone, ExtremesAndSmallBuffers)
{
   EXPECT_EQ("-35791394:08", Zone(INT_MIN));
   EXPECT_EQ("+35791394:07", Zone(INT_MAX));
   char small[4];
   LogLine_ZoneSuffix(-120, small, sizeof small);
   EXPECT_STREQ("-02", small);
   char one[1] = {'#'};
   LogLine_ZoneSuffix(-120, one, sizeof one);
   EXPECT_EQ('\0', one[0]);
   char untouched = '#';
   LogLine_ZoneSuffix(-120, &untouched, 0);
   EXPECT_EQ('#', untouched);
}

TEST(LogLineZone, InTheLine)
{
   LogLineTime t = kTime;
   t.zoneMinutes = 330;
   EXPECT_EQ("2026-03-07T08:09:05.042+05:30| t| I1: m\n", BuildAt(t, "m").text);
   t.zoneMinutes = -120;
   EXPECT_EQ("2026-03-07T08:09:05.042-02:00| t| I1: m\n", BuildAt(t, "m").text);
}

// --- tag and letters ---------------------------------------------------------------

TEST(LogLineTag, EmptyOrNullTagIsTheBuildTag)
{
   EXPECT_EQ("inst-build-", std::string(LogLine_DefaultTag()).substr(0, 11));
   EXPECT_EQ(kBuildTag, LogLine_DefaultTag());
   std::string expected = "2026-03-07T08:09:05.042Z| " + kBuildTag + "| E1: m\n";
   EXPECT_EQ(expected, Build(nullptr, 0x001, nullptr, "m").text);
   EXPECT_EQ(expected, Build("", 0x001, nullptr, "m").text);
}

TEST(LogLineLetters, EveryLevel)
{
   EXPECT_STREQ("E1", LogLine_LevelLetters(0x001));
   EXPECT_STREQ("I1", LogLine_LevelLetters(0x002));
   EXPECT_STREQ("E2", LogLine_LevelLetters(0x004));
   EXPECT_STREQ("W1", LogLine_LevelLetters(0x008));
   EXPECT_STREQ("G2", LogLine_LevelLetters(0x010));
   EXPECT_STREQ("I2", LogLine_LevelLetters(0x020));
   EXPECT_STREQ("P1", LogLine_LevelLetters(0x080));
   EXPECT_STREQ("XX", LogLine_LevelLetters(0x100));
   EXPECT_STREQ("XX", LogLine_LevelLetters(0x200));
   EXPECT_STREQ("I0", LogLine_LevelLetters(0x400));
}

TEST(LogLineLetters, AnyOtherValueIsXX)
{
   for (uint32_t level : {0x000u, 0x040u, 0x003u, 0x401u, 0x800u, 0xFFFFFFFFu}) {
      EXPECT_STREQ("XX", LogLine_LevelLetters(level)) << level;
   }
}

// --- line ends -----------------------------------------------------------------------

TEST(LogLineEnds, TrailingCrAndLfAreRemoved)
{
   const std::string head = "2026-03-07T08:09:05.042Z| t| I1: ";
   EXPECT_EQ(head + "abc\n", Build("t", 0x002, nullptr, "abc\r\n").text);
   EXPECT_EQ(head + "abc\n", Build("t", 0x002, nullptr, "abc\n\r\n\r").text);
   EXPECT_EQ(head + "abc\n", Build("t", 0x002, nullptr, "%s", "abc\r").text);
   // Only the end: inner line breaks stay.
   EXPECT_EQ(head + "a\r\nb\n", Build("t", 0x002, nullptr, "a\r\nb\r\n").text);
}

TEST(LogLineEnds, MessageOfOnlyLineEndsLeavesThePrefix)
{
   const std::string head = "2026-03-07T08:09:05.042Z| t| I1: ";
   EXPECT_EQ(head + "\n", Build("t", 0x002, nullptr, "\r\n").text);
   EXPECT_EQ(head + "\n", Build("t", 0x002, nullptr, "\n\n\n").text);
   EXPECT_EQ(head + "\n", Build("t", 0x002, nullptr, "").text);
}

TEST(LogLineEnds, RemovedBeforeTheSuffix)
{
   Built b = Build("t", 0x001, U16TEXT("| winerror code 5"), "failed\r\n");
   EXPECT_EQ("2026-03-07T08:09:05.042Z| t| E1: failed| winerror code 5\n", b.text);
}

// --- the line limit ---------------------------------------------------------------------

TEST(LogLineLimit, LongMessageIsCutAt2045)
{
   std::string message(3000, 'a');
   Built b = Build("t", 0x002, nullptr, "%s", message.c_str());
   EXPECT_EQ(LOG_LINE_TRUNCATED, b.status);
   ASSERT_EQ(LOG_LINE_MAX_TEXT + 1, b.text.size());
   EXPECT_EQ('\n', b.text.back());
   EXPECT_EQ("2026-03-07T08:09:05.042Z| t| I1: " + std::string(RoomAfterPrefix(), 'a') + "\n",
             b.text);
}

TEST(LogLineLimit, ExactFitIsComplete)
{
   size_t room = RoomAfterPrefix();
   Built fits = Build("t", 0x002, nullptr, "%s", std::string(room, 'b').c_str());
   EXPECT_EQ(LOG_LINE_COMPLETE, fits.status);
   EXPECT_EQ(LOG_LINE_MAX_TEXT + 1, fits.length);
   Built over = Build("t", 0x002, nullptr, "%s", std::string(room + 1, 'b').c_str());
   EXPECT_EQ(LOG_LINE_TRUNCATED, over.status);
   EXPECT_EQ(fits.text, over.text);
}

TEST(LogLineLimit, CutNeverSplitsAUtf8Sequence)
{
   size_t room = RoomAfterPrefix();
   const std::string head = "2026-03-07T08:09:05.042Z| t| I1: ";
   for (const char *ch : {kEuro, kSmile}) {
      size_t width = strlen(ch);
      // Every position of the limit inside the character.
      for (size_t lead = 0; lead < width; lead++) {
         SCOPED_TRACE(testing::Message() << width << "-byte char, lead " << lead);
         std::string message = std::string(lead, 'x') + Repeat(ch, 1000);
         Built b = Build("t", 0x002, nullptr, "%s", message.c_str());
         EXPECT_EQ(LOG_LINE_TRUNCATED, b.status);
         size_t whole = (room - lead) / width;
         EXPECT_EQ(head + std::string(lead, 'x') + Repeat(ch, whole) + "\n", b.text);
      }
   }
}

TEST(LogLineLimit, LineEndsAtTheCutAreRemovedToo)
{
   // The cut keeps "...a\r\n\r"; those are trailing after the cut.
   size_t room = RoomAfterPrefix();
   std::string message = std::string(room - 3, 'a') + "\r\n\r\n\r\nrest";
   Built b = Build("t", 0x002, nullptr, "%s", message.c_str());
   EXPECT_EQ(LOG_LINE_TRUNCATED, b.status);
   EXPECT_EQ("2026-03-07T08:09:05.042Z| t| I1: " + std::string(room - 3, 'a') + "\n", b.text);
}

TEST(LogLineLimit, MalformedFormatKeepsWhatWasWrittenAndIsTruncated)
{
   // Positional and sequential arguments mixed: the engine refuses it.
   Built b = Build("t", 0x002, nullptr, "%1$s %s", "a", "b");
   EXPECT_EQ(LOG_LINE_TRUNCATED, b.status);
   EXPECT_EQ(0u, b.text.find("2026-03-07T08:09:05.042Z| t| I1: "));
   EXPECT_EQ('\n', b.text.back());
   EXPECT_LE(b.text.size(), LOG_LINE_MAX_TEXT + 1);
}

// --- suffix ------------------------------------------------------------------------------

TEST(LogLineSuffix, AppendedAsUtf8)
{
   Built b = Build("t", 0x001, U16TEXT(" (caf\u00e9 \u20ac \U0001F600)"), "m");
   EXPECT_EQ(LOG_LINE_COMPLETE, b.status);
   EXPECT_EQ(std::string("2026-03-07T08:09:05.042Z| t| E1: m (caf\xC3\xA9 ") + kEuro + " " +
                kSmile + ")\n",
             b.text);
   Built empty = Build("t", 0x001, U16TEXT(""), "m");
   EXPECT_EQ(LOG_LINE_COMPLETE, empty.status);
   EXPECT_EQ("2026-03-07T08:09:05.042Z| t| E1: m\n", empty.text);
}

TEST(LogLineSuffix, SuffixThatDoesNotFitIsCutOnACharacter)
{
   size_t room = RoomAfterPrefix();
   const std::string head = "2026-03-07T08:09:05.042Z| t| E1: ";
   // Room for the message and 4 more bytes; the suffix "ab€€" needs 8.
   std::string message(room - 4, 'm');
   Built b = Build("t", 0x001, U16TEXT("ab\u20ac\u20ac"), "%s", message.c_str());
   EXPECT_EQ(LOG_LINE_TRUNCATED, b.status);
   EXPECT_EQ(head + message + "ab\n", b.text);
   // Exactly the room: whole, not truncated.
   Built exact = Build("t", 0x001, U16TEXT("ab\u20ac"), "%s", std::string(room - 5, 'm').c_str());
   EXPECT_EQ(LOG_LINE_COMPLETE, exact.status);
   EXPECT_EQ(LOG_LINE_MAX_TEXT + 1, exact.length);
}

TEST(LogLineSuffix, NoRoomLeftAfterACutMessage)
{
   std::string message(3000, 'a');
   Built with = Build("t", 0x001, U16TEXT("| suffix"), "%s", message.c_str());
   Built without = Build("t", 0x001, nullptr, "%s", message.c_str());
   EXPECT_EQ(LOG_LINE_TRUNCATED, with.status);
   EXPECT_EQ(without.text, with.text);
}

// --- prefix that cannot be formatted ----------------------------------------------------------

TEST(LogLinePrefix, TagThatLeavesNoRoomForTheMessage)
{
   // Timestamp 24 + "| " + tag + "| I1: " 8: a tag of 2013 fills 2045.
   std::string tag(2013, 't');
   Built empty = Build(tag.c_str(), 0x002, nullptr, "");
   EXPECT_EQ(LOG_LINE_COMPLETE, empty.status);
   EXPECT_EQ(LOG_LINE_MAX_TEXT + 1, empty.length);
   Built some = Build(tag.c_str(), 0x002, nullptr, "x");
   EXPECT_EQ(LOG_LINE_TRUNCATED, some.status);
   EXPECT_EQ(empty.text, some.text);
}

TEST(LogLinePrefix, TagTooLongIsAFormatError)
{
   for (size_t len : {2014u, 2100u, 5000u}) {
      std::string tag(len, 't');
      Built b = Build(tag.c_str(), 0x002, nullptr, "m");
      EXPECT_EQ(LOG_LINE_FORMAT_ERROR, b.status) << len;
      EXPECT_EQ(0u, b.length) << len;
      EXPECT_EQ("", b.text) << len;
   }
}

TEST(LogLinePrefix, FixedTexts)
{
   EXPECT_EQ(36u, strlen(LOG_LINE_TRUNCATED_NOTICE));
   EXPECT_STREQ("The following message is truncated:\n", LOG_LINE_TRUNCATED_NOTICE);
   EXPECT_EQ(37u, strlen(LOG_LINE_FORMAT_ERROR_TEXT));
   EXPECT_STREQ("Serious format error in logging code\n", LOG_LINE_FORMAT_ERROR_TEXT);
   EXPECT_EQ(41u, strlen(LOG_LINE_HOST_FAILED_TEXT));
   EXPECT_STREQ("Failed to send above log message to host\n", LOG_LINE_HOST_FAILED_TEXT);
}

}  // namespace
