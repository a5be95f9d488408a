// The doors in and out of UTF-8, and substring and search in code points.
#include "lib/unicode/unicodeSimpleBase.h"
#include "lib/unicode/unicodeSimpleOperations.h"
#include "lib/unicode/unicodeSimpleTypes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "lib/misc/codeset.h"
#include "tests/unit/formatTestUtil.h"

using formattest::kPanicExitCode;

namespace {

// Takes ownership of a malloc'd string for the comparison.
std::string Take(char *s)
{
   EXPECT_NE(nullptr, s);
   if (s == nullptr) {
      return "<null>";
   }
   std::string r(s);
   free(s);
   return r;
}

// Little-endian bytes of a UTF-16 literal (the compiler's encoding).
std::string Le(const std::u16string &s)
{
   std::string out;
   for (char16_t u : s) {
      out += static_cast<char>(u & 0xFF);
      out += static_cast<char>(u >> 8);
   }
   return out;
}

const char kMixed[] = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";   // aé€😀z

TEST(UnicodeEncodingName, KnownEncodings)
{
   EXPECT_STREQ("UTF-8", Unicode_EncodingName(STRING_ENCODING_UTF8));
   EXPECT_STREQ("UTF-16LE", Unicode_EncodingName(STRING_ENCODING_UTF16_LE));
   EXPECT_EQ(CodeSet_CurrentName(),
             Unicode_EncodingName(STRING_ENCODING_DEFAULT));
}

TEST(UnicodeAllocWithLength, FromUtf8)
{
   EXPECT_EQ(kMixed, Take(Unicode_AllocWithLength(kMixed, -1,
                                                  STRING_ENCODING_UTF8)));
   // An explicit length stops early, even inside the text.
   EXPECT_EQ("a\xC3\xA9", Take(Unicode_AllocWithLength(kMixed, 3,
                                                       STRING_ENCODING_UTF8)));
   EXPECT_EQ("", Take(Unicode_AllocWithLength(kMixed, 0, STRING_ENCODING_UTF8)));
   EXPECT_EQ(nullptr, Unicode_AllocWithLength(nullptr, -1, STRING_ENCODING_UTF8));
   EXPECT_EQ(nullptr, Unicode_AllocWithLength(nullptr, 5, STRING_ENCODING_UTF8));
}

TEST(UnicodeAllocWithLength, FromUtf16)
{
   std::u16string text = u"a\u00E9\u20AC\U0001F600z";
   std::string le = Le(text) + std::string(2, '\0');
   EXPECT_EQ(kMixed, Take(Unicode_AllocWithLength(le.data(), -1,
                                                  STRING_ENCODING_UTF16_LE)));
   // Length in bytes; a zero unit inside a given length is kept.
   EXPECT_EQ("a\xC3\xA9", Take(Unicode_AllocWithLength(
                             le.data(), 4, STRING_ENCODING_UTF16_LE)));
   std::string withNul = Le(std::u16string(u"x\0y", 3));
   char *s = Unicode_AllocWithLength(withNul.data(), 6, STRING_ENCODING_UTF16_LE);
   ASSERT_NE(nullptr, s);
   EXPECT_EQ(0, memcmp(s, "x\0y\0", 4));
   free(s);

   // -1 on an odd address: the terminator is found bytewise; a zero low
   // byte alone does not end the text.
   std::string shifted = "#" + Le(u"\u0100\u0200b") + std::string(2, '\0');
   EXPECT_EQ("\xC4\x80\xC8\x80" "b",
             Take(Unicode_AllocWithLength(shifted.data() + 1, -1,
                                          STRING_ENCODING_UTF16_LE)));
}

TEST(UnicodeAllocWithLength, FromTheCurrentCodePage)
{
   EXPECT_EQ("plain ascii",
             Take(Unicode_AllocWithLength("plain ascii", -1,
                                          STRING_ENCODING_DEFAULT)));
}

TEST(UnicodeAllocWithLengthDeathTest, InvalidInputEndsTheProcess)
{
   EXPECT_EXIT(Unicode_AllocWithLength("ab\xC0\x80", -1, STRING_ENCODING_UTF8),
               testing::ExitedWithCode(kPanicExitCode),
               "Unicode_AllocWithLength: Couldn't convert invalid buffer "
               "..x61.x62.xC0.x80. from UTF-8 to Unicode");
   std::string lone = Le(u"a") + std::string("\x00\xD8", 2);
   EXPECT_EXIT(Unicode_AllocWithLength(lone.data(), 4, STRING_ENCODING_UTF16_LE),
               testing::ExitedWithCode(kPanicExitCode),
               "Unicode_AllocWithLength: Couldn't convert invalid buffer "
               "..x61.x00.x00.xD8. from UTF-16LE to Unicode");
   // A negative length other than -1 is a caller's mistake.
   EXPECT_EXIT(Unicode_AllocWithLength("abc", -2, STRING_ENCODING_UTF8),
               testing::ExitedWithCode(kPanicExitCode),
               "VERIFY lib/unicode/unicodeSimpleBase:");
}

TEST(UnicodeAllocEncoded, ToUtf16)
{
   void *p = Unicode_AllocEncoded(kMixed, STRING_ENCODING_UTF16_LE);
   ASSERT_NE(nullptr, p);
   std::u16string expected = u"a\u00E9\u20AC\U0001F600z";
   // The text and its zero terminator unit.
   EXPECT_EQ(Le(expected) + std::string(2, '\0'),
             std::string(static_cast<char *>(p), expected.size() * 2 + 2));
   const utf16_t *w = static_cast<const utf16_t *>(p);
   size_t units = 0;
   while (w[units] != 0) {
      units++;
   }
   EXPECT_EQ(expected.size(), units);
   free(p);

   p = Unicode_AllocEncoded("", STRING_ENCODING_UTF16_LE);
   ASSERT_NE(nullptr, p);
   EXPECT_EQ(0, static_cast<const utf16_t *>(p)[0]);
   free(p);
}

TEST(UnicodeAllocEncoded, ToUtf8AndNull)
{
   EXPECT_EQ(kMixed, Take(static_cast<char *>(
                        Unicode_AllocEncoded(kMixed, STRING_ENCODING_UTF8))));
   EXPECT_EQ(nullptr, Unicode_AllocEncoded(nullptr, STRING_ENCODING_UTF16_LE));
   EXPECT_EQ("abc", Take(static_cast<char *>(
                       Unicode_AllocEncoded("abc", STRING_ENCODING_DEFAULT))));
}

#ifdef _WIN32
TEST(UnicodeAllocEncoded, UnmappableInTheCodePageGivesNull)
{
   // U+2603 is in no single-byte ANSI code page (Wine's is 1252).
   ASSERT_NE(std::string("windows-65001"), CodeSet_CurrentName());
   EXPECT_EQ(nullptr,
             Unicode_AllocEncoded("snow \xE2\x98\x83", STRING_ENCODING_DEFAULT));
}
#endif

TEST(UnicodeAllocEncodedDeathTest, InvalidUtf8EndsTheProcess)
{
   EXPECT_EXIT(Unicode_AllocEncoded("a\xED\xA0\x80", STRING_ENCODING_UTF16_LE),
               testing::ExitedWithCode(kPanicExitCode),
               "NOT_IMPLEMENTED lib/unicode/unicodeSimpleBase:.+");
   EXPECT_EXIT(Unicode_AllocEncoded("\xC3", STRING_ENCODING_UTF8),
               testing::ExitedWithCode(kPanicExitCode),
               "NOT_IMPLEMENTED lib/unicode/unicodeSimpleBase:.+");
}

TEST(UnicodeEscapeBuffer, EveryByteInHex)
{
   EXPECT_EQ("\\x61\\x00\\xFF\\x5C",
             Take(Unicode_EscapeBuffer("a\0\xFF\\", 4, STRING_ENCODING_UTF8)));
   EXPECT_EQ("\\x41\\xC3",
             Take(Unicode_EscapeBuffer("A\xC3", -1, STRING_ENCODING_UTF8)));
   // -1 in UTF-16 runs to the zero unit, which a zero byte alone is not.
   EXPECT_EQ("\\x00\\x01\\x41\\x00",
             Take(Unicode_EscapeBuffer(std::string("\x00\x01\x41\x00\x00\x00", 6).data(),
                                       -1, STRING_ENCODING_UTF16_LE)));
   EXPECT_EQ("", Take(Unicode_EscapeBuffer("abc", 0, STRING_ENCODING_UTF8)));
   EXPECT_EQ(nullptr, Unicode_EscapeBuffer(nullptr, 3, STRING_ENCODING_UTF8));
   EXPECT_EQ(nullptr, Unicode_EscapeBuffer("abc", -2, STRING_ENCODING_UTF8));
}

TEST(UnicodeIsBufferValid, ByEncoding)
{
   EXPECT_TRUE(Unicode_IsBufferValid(kMixed, -1, STRING_ENCODING_UTF8));
   EXPECT_TRUE(Unicode_IsBufferValid("", -1, STRING_ENCODING_UTF8));
   EXPECT_FALSE(Unicode_IsBufferValid("a\xC0\x80", -1, STRING_ENCODING_UTF8));
   // Only the given length counts: the bad byte lies beyond it.
   EXPECT_TRUE(Unicode_IsBufferValid("ab\xFF", 2, STRING_ENCODING_UTF8));
   EXPECT_FALSE(Unicode_IsBufferValid("ab\xFF", 3, STRING_ENCODING_UTF8));
   // Cutting a sequence makes it invalid.
   EXPECT_FALSE(Unicode_IsBufferValid(kMixed, 2, STRING_ENCODING_UTF8));

   std::string pair = Le(u"\U0001F600") + std::string(2, '\0');
   EXPECT_TRUE(Unicode_IsBufferValid(pair.data(), -1, STRING_ENCODING_UTF16_LE));
   EXPECT_FALSE(Unicode_IsBufferValid(pair.data(), 2, STRING_ENCODING_UTF16_LE));
   EXPECT_FALSE(Unicode_IsBufferValid(pair.data(), 3, STRING_ENCODING_UTF16_LE));

   EXPECT_TRUE(Unicode_IsBufferValid("abc", -1, STRING_ENCODING_DEFAULT));
   // No string is not an invalid string.
   EXPECT_TRUE(Unicode_IsBufferValid(nullptr, -1, STRING_ENCODING_UTF8));
}

TEST(UnicodeSubstr, CountsCodePoints)
{
   // a é € 😀 z: five code points of 1, 2, 3, 4 and 1 bytes.
   EXPECT_EQ("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", Take(Unicode_Substr(kMixed, 1, 3)));
   EXPECT_EQ("\xF0\x9F\x98\x80z", Take(Unicode_Substr(kMixed, 3, -1)));
   EXPECT_EQ(kMixed, Take(Unicode_Substr(kMixed, 0, -1)));
   EXPECT_EQ("a", Take(Unicode_Substr(kMixed, 0, 1)));
   EXPECT_EQ("z", Take(Unicode_Substr(kMixed, 4, 1)));
}

TEST(UnicodeSubstr, RangesAreClamped)
{
   SCOPED_TRACE("start at or past the end");
   EXPECT_EQ("", Take(Unicode_Substr(kMixed, 5, -1)));
   EXPECT_EQ("", Take(Unicode_Substr(kMixed, 6, 2)));
   EXPECT_EQ("", Take(Unicode_Substr(kMixed, -1, 2)));
   SCOPED_TRACE("length past the end or negative");
   EXPECT_EQ("z", Take(Unicode_Substr(kMixed, 4, 100)));
   EXPECT_EQ("\xE2\x82\xAC\xF0\x9F\x98\x80z", Take(Unicode_Substr(kMixed, 2, -7)));
   SCOPED_TRACE("empty");
   EXPECT_EQ("", Take(Unicode_Substr(kMixed, 2, 0)));
   EXPECT_EQ("", Take(Unicode_Substr("", 0, -1)));
}

TEST(UnicodeFindSubstrInRange, FindsByCodePointIndex)
{
   const char *euro = "\xE2\x82\xAC";
   EXPECT_EQ(2, Unicode_FindSubstrInRange(kMixed, 0, -1, euro, 0, -1));
   EXPECT_EQ(4, Unicode_FindSubstrInRange(kMixed, 0, -1, "z", 0, -1));
   EXPECT_EQ(0, Unicode_FindSubstrInRange(kMixed, 0, -1, kMixed, 0, -1));
   EXPECT_EQ(-1, Unicode_FindSubstrInRange(kMixed, 0, -1, "q", 0, -1));
   // The first of several occurrences.
   EXPECT_EQ(1, Unicode_FindSubstrInRange("\xC3\xA9" "ab" "ab", 0, -1, "ab", 0, -1));
   // A byte match that is not a code point match: the last byte of € is
   // not the character U+00AC.
   EXPECT_EQ(-1, Unicode_FindSubstrInRange(kMixed, 0, -1, "\xC2\xAC", 0, -1));
}

TEST(UnicodeFindSubstrInRange, RespectsBothRanges)
{
   const char *text = "ab\xC3\xA9" "ab\xC3\xA9";   // a b é a b é
   SCOPED_TRACE("search range");
   EXPECT_EQ(3, Unicode_FindSubstrInRange(text, 1, -1, "ab", 0, -1));
   EXPECT_EQ(3, Unicode_FindSubstrInRange(text, 3, 2, "ab", 0, -1));
   // A match that runs past the end of the range does not count.
   EXPECT_EQ(-1, Unicode_FindSubstrInRange(text, 3, 1, "ab", 0, -1));
   EXPECT_EQ(-1, Unicode_FindSubstrInRange(text, 6, -1, "ab", 0, -1));
   SCOPED_TRACE("range to find");
   // "b é" taken from the middle of the needle string.
   EXPECT_EQ(1, Unicode_FindSubstrInRange(text, 0, -1, "xb\xC3\xA9y", 1, 2));
   EXPECT_EQ(4, Unicode_FindSubstrInRange(text, 2, -1, "xb\xC3\xA9y", 1, 2));
   SCOPED_TRACE("empty range to find");
   EXPECT_EQ(2, Unicode_FindSubstrInRange(text, 2, -1, "ab", 0, 0));
   EXPECT_EQ(6, Unicode_FindSubstrInRange(text, 9, -1, "", 0, -1));
   EXPECT_EQ(0, Unicode_FindSubstrInRange(text, 0, -1, "ab", 5, -1));
}

TEST(UnicodeOperationsDeathTest, InvalidUtf8EndsTheProcess)
{
   EXPECT_EXIT(Unicode_Substr("ab\xFF", 0, 1),
               testing::ExitedWithCode(kPanicExitCode),
               "Unicode_Substr: invalid UTF8 string @ .+");
   EXPECT_EXIT(Unicode_Substr(nullptr, 0, 1),
               testing::ExitedWithCode(kPanicExitCode),
               "Unicode_Substr: invalid UTF8 string @ ");
   EXPECT_EXIT(Unicode_FindSubstrInRange("abc", 0, -1, "\xE2\x82", 0, -1),
               testing::ExitedWithCode(kPanicExitCode),
               "Unicode_FindSubstrInRange: invalid UTF8 string @ .+");
   EXPECT_EXIT(Unicode_FindSubstrInRange("\xED\xA0\x80", 0, -1, "a", 0, -1),
               testing::ExitedWithCode(kPanicExitCode),
               "Unicode_FindSubstrInRange: invalid UTF8 string @ .+");
}

}  // namespace
