// The doors in and out of UTF-8, and substring and search in code points.
#include "lib/unicode/unicodeSimpleBase.h"
#include "lib/unicode/unicodeSimpleOperations.h"
#include "lib/unicode/unicodeSimpleTypes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "lib/misc/codeset.h"
#include "tests/unit/formatTestUtil.h"

using formattest::kPanicExitCode;
using formattest::Le;

namespace {

// A malloc'd result of `bytes` bytes (or up to its NUL), freed; "<null>"
// for none.
std::string Take(void *p, size_t bytes = std::string::npos)
{
   const char *s = static_cast<const char *>(p);
   std::string r = s == nullptr ? "<null>" : bytes == std::string::npos ? s : std::string(s, bytes);
   free(p);
   return r;
}


const char kMixed[] = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";   // a é € 😀 z
const std::string kMixed16 = Le(u"a\u00E9\u20AC\U0001F600z") + std::string(2, '\0');

TEST(Unicode, AllocWithLength)
{
   // At an odd address the UTF-16 text is read bytewise, and a zero low
   // byte alone does not end it.
   const std::string odd = "#" + Le(u"\u0100b") + std::string(2, '\0');
   const std::string nul = Le(std::u16string(u"x\0y", 3));
   const struct { const char *label; const void *bytes; ptrdiff_t length;
                  StringEncoding encoding; std::string expected; } cases[] = {
      {"UTF-8 to its end", kMixed, -1, STRING_ENCODING_UTF8, kMixed},
      {"UTF-8 cut by length", kMixed, 3, STRING_ENCODING_UTF8, "a\xC3\xA9"},
      {"UTF-8 none", kMixed, 0, STRING_ENCODING_UTF8, ""},
      {"UTF-16 to its zero unit", kMixed16.data(), -1, STRING_ENCODING_UTF16_LE, kMixed},
      {"UTF-16 cut by length", kMixed16.data(), 4, STRING_ENCODING_UTF16_LE, "a\xC3\xA9"},
      {"UTF-16 zero unit kept", nul.data(), 6, STRING_ENCODING_UTF16_LE, std::string("x\0y", 3)},
      {"UTF-16 odd address", odd.data() + 1, -1, STRING_ENCODING_UTF16_LE, "\xC4\x80" "b"},
      {"current code page", "plain", -1, STRING_ENCODING_DEFAULT, "plain"}};
   for (const auto &c : cases) {
      EXPECT_EQ(c.expected + '\0', Take(Unicode_AllocWithLength(c.bytes, c.length, c.encoding),
                                        c.expected.size() + 1)) << c.label;
   }
   EXPECT_EQ(nullptr, Unicode_AllocWithLength(nullptr, 5, STRING_ENCODING_UTF8));
}

TEST(Unicode, AllocEncoded)
{
   EXPECT_EQ(kMixed16, Take(Unicode_AllocEncoded(kMixed, STRING_ENCODING_UTF16_LE),
                            kMixed16.size())) << "UTF-16 and its zero unit";
   EXPECT_EQ(std::string(2, '\0'), Take(Unicode_AllocEncoded("", STRING_ENCODING_UTF16_LE), 2));
   EXPECT_EQ(kMixed, Take(Unicode_AllocEncoded(kMixed, STRING_ENCODING_UTF8)));
   EXPECT_EQ("abc", Take(Unicode_AllocEncoded("abc", STRING_ENCODING_DEFAULT)));
   EXPECT_EQ(nullptr, Unicode_AllocEncoded(nullptr, STRING_ENCODING_UTF16_LE));
#ifdef _WIN32
   // U+2603 is in no single-byte ANSI code page (Wine's is 1252).
   EXPECT_EQ(nullptr, Unicode_AllocEncoded("\xE2\x98\x83", STRING_ENCODING_DEFAULT));
#endif
   EXPECT_EQ(CodeSet_CurrentName(), Unicode_EncodingName(STRING_ENCODING_DEFAULT));
}

TEST(Unicode, EscapeBufferAndIsBufferValid)
{
   EXPECT_EQ("\\x61\\x00\\xFF", Take(Unicode_EscapeBuffer("a\0\xFF", 3, STRING_ENCODING_UTF8)));
   EXPECT_EQ("\\x00\\x01", Take(Unicode_EscapeBuffer(std::string("\0\1\0\0", 4).data(), -1,
                                                     STRING_ENCODING_UTF16_LE)));
   EXPECT_EQ(nullptr, Unicode_EscapeBuffer("abc", -2, STRING_ENCODING_UTF8));
   const struct { const char *bytes; ptrdiff_t length; StringEncoding encoding; bool valid; }
      cases[] = {   // a bad byte beyond the length; a cut sequence; half a pair; no string
         {kMixed, -1, STRING_ENCODING_UTF8, true}, {"ab\xFF", 2, STRING_ENCODING_UTF8, true},
         {"ab\xFF", 3, STRING_ENCODING_UTF8, false}, {kMixed, 2, STRING_ENCODING_UTF8, false},
         {kMixed16.data(), -1, STRING_ENCODING_UTF16_LE, true},
         {kMixed16.data() + 6, 2, STRING_ENCODING_UTF16_LE, false},
         {"abc", -1, STRING_ENCODING_DEFAULT, true}, {nullptr, -1, STRING_ENCODING_UTF8, true}};
   for (const auto &c : cases) {
      EXPECT_EQ(c.valid, Unicode_IsBufferValid(c.bytes, c.length, c.encoding))
         << (c.bytes ? c.bytes : "null") << " length " << c.length;
   }
}

TEST(Unicode, SubstrAndFindCountCodePointsAndClamp)
{
   const struct { ptrdiff_t start, length; const char *expected; } cases[] = {
      {1, 3, "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"}, {0, -1, kMixed}, {2, 0, ""},
      {5, -1, ""}, {-1, 2, ""},                       // start at the end, or negative
      {4, 100, "z"}, {3, -7, "\xF0\x9F\x98\x80z"}};   // length past the end
   for (const auto &c : cases) {
      EXPECT_EQ(c.expected, Take(Unicode_Substr(kMixed, c.start, c.length)))
         << c.start << ", " << c.length;
   }
   const char *text = "ab\xC3\xA9" "ab\xC3\xA9";   // a b é a b é
   const struct { const char *str; ptrdiff_t start, length; const char *find;
                  ptrdiff_t findStart, findLength, expected; } finds[] = {
      // €; the bytes of € but not U+00AC; the first after the start; a match
      // running past the range; "bé" from inside the needle; the empty needle.
      {kMixed, 0, -1, "\xE2\x82\xAC", 0, -1, 2}, {kMixed, 0, -1, "\xC2\xAC", 0, -1, -1},
      {text, 1, -1, "ab", 0, -1, 3}, {text, 3, 1, "ab", 0, -1, -1},
      {text, 2, -1, "xb\xC3\xA9y", 1, 2, 4}, {text, 9, -1, "", 0, -1, 6}};
   for (const auto &c : finds) {
      EXPECT_EQ(c.expected, Unicode_FindSubstrInRange(c.str, c.start, c.length, c.find,
                                                      c.findStart, c.findLength))
         << c.find << " from " << c.start;
   }
}

TEST(UnicodeDeathTest, OnePerPanicText)
{
   std::string lone = Le(u"a") + std::string("\x00\xD8", 2);
   const auto panic = testing::ExitedWithCode(kPanicExitCode);
   EXPECT_EXIT(Unicode_AllocWithLength(lone.data(), 4, STRING_ENCODING_UTF16_LE), panic,
               "Unicode_AllocWithLength: Couldn't convert invalid buffer "
               "..x61.x00.x00.xD8. from UTF-16LE to Unicode");
   EXPECT_EXIT(Unicode_AllocWithLength("abc", -2, STRING_ENCODING_UTF8), panic,
               "VERIFY lib/unicode/unicodeSimpleBase:");
   EXPECT_EXIT(Unicode_AllocEncoded("a\xED\xA0\x80", STRING_ENCODING_UTF16_LE), panic,
               "NOT_IMPLEMENTED lib/unicode/unicodeSimpleBase:");
   EXPECT_EXIT(Unicode_FindSubstrInRange("abc", 0, -1, "\xE2\x82", 0, -1), panic,
               "Unicode_FindSubstrInRange: invalid UTF8 string @ .+");
   EXPECT_EXIT(Unicode_EncodingName(static_cast<StringEncoding>(7)), panic,
               "NOT_REACHED lib/unicode/unicodeSimpleTypes:");
}

}  // namespace
