// The session layer called directly, against a real Wine installer session.
// Expected values come from the installer itself (raw wide calls) or are
// built from the test's own data, never from the library.
#include "common/msiUtil.h"

#include <gtest/gtest.h>

#include "tests/msi/msiSession.h"

using namespace msitest;

namespace {

using Strings = std::vector<std::string>;

const std::string kNonAscii = "Gr\xC3\xB6\xC3\x9F" "e \xE6\x97\xA5\xE6\x9C\xAC";   // Größe 日本

// Text whose every position differs from its neighbours, so a cut or a
// shift shows.
std::string Pattern(size_t length)
{
   std::string s;
   for (size_t i = 0; i < length; i++) {
      s += static_cast<char>('a' + (i * 7 + i / 26) % 26);
   }
   return s;
}

std::string Repeat(const std::string &unit, size_t count)
{
   std::string s;
   for (size_t i = 0; i < count; i++) {
      s += unit;
   }
   return s;
}

class MsiUtilTest : public testing::Test {
protected:
   void SetUp() override { ASSERT_TRUE(session.Ok()) << session.Failure(); }
   // This process's lines since the mark.
   static Strings Lines(const LogMark &mark) { return mark.Texts(TestTag()); }

   MsiSession session;
   MSIHANDLE h() const { return session.Handle(); }
};

TEST_F(MsiUtilTest, PropertiesAreWrittenReadAndRemovedWithTheirLogLines)
{
   {
      SCOPED_TRACE("set, then read back");
      LogMark mark;
      EXPECT_TRUE(MsiUtil_SetProperty(h(), "MYPROP", "value 1"));
      EXPECT_EQ("value 1", session.Get("MYPROP"));
      EXPECT_EQ("value 1", MsiUtil_GetPropertyString(h(), "MYPROP"));
      EXPECT_EQ((Strings{"MsiUtil_SetProperty: Setting property MYPROP = value 1",
                         "MsiUtil_GetPropertyString: Getting Property MYPROP = value 1"}),
                Lines(mark));
   }
   {
      SCOPED_TRACE("the empty value removes the property");
      EXPECT_TRUE(MsiUtil_SetProperty(h(), "MYPROP", ""));
      EXPECT_EQ("", session.Get("MYPROP"));
   }
   {
      SCOPED_TRACE("a property never set reads as empty, and its line shows the empty value");
      LogMark mark;
      EXPECT_EQ("", MsiUtil_GetPropertyString(h(), "NEVERSET"));
      EXPECT_EQ(WideString(), MsiUtil_GetPropertyStringW(h(), "NEVERSET"));
      EXPECT_EQ((Strings{"MsiUtil_GetPropertyString: Getting Property NEVERSET = ",
                         "MsiUtil_GetPropertyStringW: Getting Property NEVERSET = "}),
                Lines(mark));
   }
   {
      SCOPED_TRACE("a dead handle: empty reads and a failed write, each logged with its code");
      LogMark mark;
      const MSIHANDLE dead = 0xDEAD;
      EXPECT_EQ("", MsiUtil_GetPropertyString(dead, "MYPROP"));
      EXPECT_EQ(0, MsiUtil_GetPropertyInt(dead, "MYPROP"));
      EXPECT_FALSE(MsiUtil_SetProperty(dead, "MYPROP", "x"));
      Strings lines = Lines(mark);
      ASSERT_EQ(4u, lines.size());
      const std::string code = "| winerror code " + std::to_string(ERROR_INVALID_HANDLE);
      EXPECT_EQ(0u, lines[0].find("MsiUtil_GetPropertyString: MsiGetProperty failed for property MYPROP" + code));
      EXPECT_EQ(0u, lines[1].find("MsiUtil_GetPropertyString: MsiGetProperty failed for property MYPROP" + code));
      EXPECT_EQ("MsiUtil_SetProperty: Setting property MYPROP = x", lines[2]);
      EXPECT_EQ(0u, lines[3].find("MsiUtil_SetProperty: Failed to set property" + code));
   }
}

TEST_F(MsiUtilTest, IntegerReadsTakeTheLeadingDecimalDigits)
{
   const std::pair<const char *, int> cases[] = {
      {"12abc", 12}, {"abc", 0}, {"-7", -7}, {"0601", 601}, {"", 0}};
   for (const auto &c : cases) {
      SCOPED_TRACE(std::string("value '") + c.first + "'");
      ASSERT_EQ(0u, session.Set("NUMBER", c.first));
      EXPECT_EQ(c.second, MsiUtil_GetPropertyInt(h(), "NUMBER"));
   }
}

TEST_F(MsiUtilTest, LongAndNonAsciiValuesComeBackWhole)
{
   for (size_t length : {4095u, 4096u, 5000u}) {
      SCOPED_TRACE("a value of " + std::to_string(length) + " characters");
      const std::string value = Pattern(length);
      ASSERT_EQ(0u, session.Set("LONG", value.c_str()));
      EXPECT_EQ(value, MsiUtil_GetPropertyString(h(), "LONG"));
      LogMark mark;
      EXPECT_EQ(Wide(value), MsiUtil_GetPropertyStringW(h(), "LONG"));
      Strings lines = Lines(mark);
      ASSERT_EQ(1u, lines.size());
      const std::string head = "MsiUtil_GetPropertyStringW: Getting Property LONG = ";
      if (length < 4096) {
         // Shown in full, and so cut only by the log's own line limit.
         ASSERT_GT(lines[0].size(), head.size() + 1000);
         EXPECT_EQ(head + value.substr(0, lines[0].size() - head.size()), lines[0]);
      } else {
         EXPECT_EQ(head + "[...]", lines[0]);
      }
   }
   {
      SCOPED_TRACE("non-ASCII both ways");
      LogMark mark;
      EXPECT_TRUE(MsiUtil_SetProperty(h(), "TEXT", kNonAscii.c_str()));
      EXPECT_EQ(kNonAscii, session.Get("TEXT"));
      EXPECT_EQ(kNonAscii, MsiUtil_GetPropertyString(h(), "TEXT"));
      EXPECT_EQ(Wide(kNonAscii), MsiUtil_GetPropertyStringW(h(), "TEXT"));
      EXPECT_EQ("MsiUtil_GetPropertyStringW: Getting Property TEXT = " + kNonAscii, Lines(mark).back());
   }
}

// "Größe" is 5 UTF-16 units and 7 UTF-8 bytes.
TEST_F(MsiUtilTest, GetPropertyWrapperReportsSizesInUtf8Bytes)
{
   const std::string value = "Gr\xC3\xB6\xC3\x9F" "e";
   ASSERT_EQ(0u, session.Set("SIZED", value.c_str()));
   struct Case {
      const char *label;
      DWORD capacity;
      UINT rc;
      DWORD size;
      std::string content;   // the buffer afterwards, all capacity bytes
   };
   const Case cases[] = {
      {"room for the terminator too", 8, ERROR_SUCCESS, 7, value + '\0'},
      {"exactly the bytes: copied, not terminated", 7, ERROR_SUCCESS, 7, value},
      {"one byte short, the units fit: the byte length", 6, ERROR_MORE_DATA, 7, "######"},
      {"too few units: four bytes per unit", 4, ERROR_MORE_DATA, 20, "####"},
   };
   for (const Case &c : cases) {
      SCOPED_TRACE(c.label);
      std::string buf(c.capacity + 1, '#');
      DWORD size = c.capacity;
      EXPECT_EQ(c.rc, Win32U_MsiGetProperty(h(), "SIZED", &buf[0], &size));
      EXPECT_EQ(c.size, size);
      EXPECT_EQ(c.content, buf.substr(0, c.capacity));
      EXPECT_EQ('#', buf[c.capacity]) << "written past the caller's size";
   }
}

TEST_F(MsiUtilTest, FormatStringExpandsReferencesUpTo2047Bytes)
{
   {
      SCOPED_TRACE("no '[': unchanged, and no record is formatted");
      LogMark mark;
      EXPECT_EQ("plain ]text", MsiUtil_FormatString(h(), "plain ]text"));
      EXPECT_EQ(Strings{"MsiUtil_FormatString: FormatString received: plain ]text"}, Lines(mark));
   }
   {
      SCOPED_TRACE("a directory");
      const std::string dir = session.InstallDir();
      ASSERT_FALSE(dir.empty());
      LogMark mark;
      EXPECT_EQ(dir + "bin", MsiUtil_FormatString(h(), "[INSTALLDIR]bin"));
      EXPECT_EQ((Strings{"MsiUtil_FormatString: FormatString received: [INSTALLDIR]bin",
                         "MsiUtil_FormatString: Formatted string: " + dir + "bin"}),
                Lines(mark));
   }
   ASSERT_EQ(0u, session.Set("MYPROP", kNonAscii.c_str()));
   EXPECT_EQ(kNonAscii + " x", MsiUtil_FormatString(h(), "[MYPROP] x"));
   const std::pair<std::string, bool> lengths[] = {
      {Pattern(2047), true},
      {Pattern(2048), false},
      {Repeat("\xC3\xA9", 1023) + "a", true},   // 2047 bytes
      {Repeat("\xC3\xA9", 1024), false},        // 1024 units, 2048 bytes
   };
   for (const auto &l : lengths) {
      SCOPED_TRACE("an expansion of " + std::to_string(l.first.size()) + " bytes");
      ASSERT_EQ(0u, session.Set("LONG", l.first.c_str()));
      EXPECT_EQ(l.second ? l.first : "", MsiUtil_FormatString(h(), "[LONG]"));
   }
}

// The installer fills field 0 with the Error row's template before the
// handler sees the record, and does so only for a null field 0: the
// template shows that the library left it null.
TEST_F(MsiUtilTest, PostedMessagesCarryTheirFieldsAndReturnTheButton)
{
   MessageCapture capture(IDOK);
   {
      SCOPED_TRACE("'ds' with 5 and \"abc\"");
      LogMark mark;
      EXPECT_EQ(IDOK, MsiUtil_PostMessageEx(h(), INSTALLMESSAGE_ERROR, 25002, "ds", 5, "abc"));
      ASSERT_EQ(1u, capture.Messages().size());
      const PostedMessage &m = capture.Messages()[0];
      EXPECT_EQ(static_cast<UINT>(INSTALLMESSAGE_ERROR), m.type);
      ASSERT_EQ(4u, m.fields.size());
      EXPECT_NE(std::string::npos, m.fields[0].text.find("Number [2], text [3]."));
      EXPECT_EQ(25002, m.fields[1].integer);
      EXPECT_EQ(5, m.fields[2].integer);
      EXPECT_EQ(4u, m.fields[2].dataSize) << "an integer field, not the string \"5\"";
      EXPECT_EQ("abc", m.fields[3].text);
      EXPECT_EQ(MSI_NULL_INTEGER, m.fields[3].integer);
      EXPECT_EQ(Strings{"MsiUtil_PostMessageEx: MsiProcessMessage returned: 1"}, Lines(mark));
   }
   {
      SCOPED_TRACE("an unknown letter stops the filling");
      capture.Clear();
      capture.SetButton(IDCANCEL);
      LogMark mark;
      EXPECT_EQ(IDCANCEL, MsiUtil_PostMessageEx(h(), INSTALLMESSAGE_WARNING, 25002, "dxs", 5, "abc"));
      ASSERT_EQ(1u, capture.Messages().size());
      const PostedMessage &m = capture.Messages()[0];
      ASSERT_EQ(5u, m.fields.size());
      EXPECT_EQ(5, m.fields[2].integer);
      EXPECT_TRUE(m.fields[3].isNull);
      EXPECT_TRUE(m.fields[4].isNull);
      EXPECT_EQ((Strings{"MsiUtil_PostMessageEx: Invalid input, skipping xs specifiers",
                         "MsiUtil_PostMessageEx: MsiProcessMessage returned: 2"}),
                Lines(mark));
   }
   {
      SCOPED_TRACE("a null string leaves its field empty");
      capture.Clear();
      MsiUtil_PostMessageEx(h(), INSTALLMESSAGE_INFO, 25002, "s", static_cast<const char *>(nullptr));
      ASSERT_EQ(1u, capture.Messages().size());
      ASSERT_EQ(3u, capture.Messages()[0].fields.size());
      EXPECT_TRUE(capture.Messages()[0].fields[2].isNull);
   }
   {
      SCOPED_TRACE("an error message: exclamation icon and OK button, no further fields");
      capture.Clear();
      capture.SetButton(IDOK);
      LogMark mark;
      EXPECT_EQ(IDOK, MsiUtil_PostErrorMessage(h(), 25001));
      ASSERT_EQ(1u, capture.Messages().size());
      EXPECT_EQ(0x01000030u, capture.Messages()[0].type);
      ASSERT_EQ(2u, capture.Messages()[0].fields.size());
      EXPECT_EQ(25001, capture.Messages()[0].fields[1].integer);
      EXPECT_NE(std::string::npos, capture.Messages()[0].formatted.find("Plain error message."));
      EXPECT_EQ((Strings{"MsiUtil_PostErrorMessage: Posting error message 25001",
                         "MsiUtil_PostMessageEx: MsiProcessMessage returned: 1"}),
                Lines(mark));
   }
   {
      SCOPED_TRACE("a warning with the caller's flags");
      capture.Clear();
      capture.SetButton(IDNO);
      LogMark mark;
      EXPECT_EQ(IDNO, MsiUtil_PostWarningMessage(h(), MB_YESNO | MB_ICONQUESTION, 25003));
      ASSERT_EQ(1u, capture.Messages().size());
      EXPECT_EQ(0x02000000u | MB_YESNO | MB_ICONQUESTION, capture.Messages()[0].type);
      EXPECT_EQ(25003, capture.Messages()[0].fields[1].integer);
      EXPECT_EQ((Strings{"MsiUtil_PostWarningMessage: Posting warning message 25003",
                         "MsiUtil_PostMessageEx: MsiProcessMessage returned: 7"}),
                Lines(mark));
   }
}

TEST_F(MsiUtilTest, SetTargetPathMovesTheFolder)
{
   const std::string moved = ProcessFolder().empty() ? "" : Utf8(ProcessFolder()) + kNonAscii + "\\";
   EXPECT_EQ(0u, MsiUtil_SetTargetPath(h(), "INSTALLDIR", moved.c_str()));
   EXPECT_EQ(moved, session.InstallDir());
   EXPECT_EQ(moved + "bin", MsiUtil_FormatString(h(), "[INSTALLDIR]bin"));
   EXPECT_NE(0u, MsiUtil_SetTargetPath(h(), "NOSUCHDIR", moved.c_str()));
}

TEST(MsiUtilStrings, SprintfGrowsUpTo43008Characters)
{
   for (size_t length : {2047u, 2048u, 3000u, 43008u, 43009u, 50000u}) {
      SCOPED_TRACE("an expansion of " + std::to_string(length) + " characters");
      const std::string text = Pattern(length);
      const size_t kept = length < 43008 ? length : 43008;
      EXPECT_EQ(text.substr(0, kept), Util_Sprintf("%s", text.c_str()));
      EXPECT_EQ(Wide(text.substr(0, kept)), Util_SprintfW(L"%ls", Wide(text).c_str()));
   }
   EXPECT_EQ("0601|x", Util_Sprintf("%02u%02u|%s", 6u, 1u, "x"));
}

TEST(MsiUtilStrings, LoadResStringReadsTheGivenModulesTable)
{
   const std::string english = "Setup could not determine the drive letter for this installation "
                               "path.  Please specify another installation path.";
   LoadedDll dll;
   ResString text("stale text that is longer than nothing");
   EXPECT_TRUE(Util_LoadResString(text, 13, dll.Module()));
   EXPECT_EQ(english, text);
   WideString wide;
   EXPECT_TRUE(Util_LoadResStringW(wide, 13, dll.Module()));
   EXPECT_EQ(Wide(english), wide);
   for (UINT missing : {12u, 20u, 4000u}) {
      SCOPED_TRACE("id " + std::to_string(missing));
      EXPECT_FALSE(Util_LoadResString(text, missing, dll.Module()));
      EXPECT_FALSE(Util_LoadResStringW(wide, missing, dll.Module()));
   }
   // The library's own module is this test program here, which has no table.
   EXPECT_FALSE(Util_LoadResString(text, 13, nullptr));
}

}  // namespace
