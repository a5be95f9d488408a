// Conversions between encodings, through ICU and through the built-in
// converters.
//
// The process-wide switch only ever turns ICU off, so both converters are
// reached here through their internal entry points (the code
// CodeSet_Convert calls), and the switch itself is tested in child
// processes.
#include "lib/misc/codeset.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "lib/misc/codesetInternal.h"

namespace {

typedef bool (*ConvertFn)(const char *codeIn, const char *bufIn,
                          size_t sizeIn, const char *codeOut, int mode,
                          char **bufOut, size_t *sizeOut);

struct Path {
   const char *name;
   ConvertFn convert;
};

// The converters this process can run: the built-in one always, ICU where
// it is present (always natively).
std::vector<Path> Paths()
{
   std::vector<Path> paths = {{"Builtin", CodeSetBuiltinConvert}};
   if (CodeSetIcuAvailable()) {
      paths.push_back({"Icu", CodeSetIcuConvert});
   }
   return paths;
}

struct Result {
   bool ok;
   std::string bytes;

   bool operator==(const Result &o) const
   {
      return ok == o.ok && bytes == o.bytes;
   }
};

std::ostream &operator<<(std::ostream &os, const Result &r)
{
   if (!r.ok) {
      return os << "<failed>";
   }
   os << "[";
   for (unsigned char c : r.bytes) {
      static const char kHex[] = "0123456789ABCDEF";
      os << kHex[c >> 4] << kHex[c & 0xF] << ' ';
   }
   return os << "]";
}

// Runs one conversion and checks the contract every result keeps: four
// zero bytes after the text, null and no size on failure.
Result Convert(ConvertFn convert, const char *from, const std::string &in,
           const char *to, int mode)
{
   char *out = reinterpret_cast<char *>(&out);   // not null: must be reset
   size_t size = 12345;
   Result r;
   r.ok = convert(from, in.data(), in.size(), to, mode, &out, &size);
   if (!r.ok) {
      EXPECT_EQ(nullptr, out) << "failure must leave no buffer";
      return r;
   }
   r.bytes.assign(out, size);
   EXPECT_EQ(0, memcmp(out + size, "\0\0\0\0", 4))
      << "result must end in four zero bytes";
   free(out);
   return r;
}

Result Ok(const std::string &bytes)
{
   return Result{true, bytes};
}

const Result kFailed = {false, ""};

// The compiler's own UTF-16 of a literal, as little-endian bytes: an
// oracle independent of the code under test.
std::string Le(const std::u16string &s)
{
   std::string out;
   for (char16_t u : s) {
      out += static_cast<char>(u & 0xFF);
      out += static_cast<char>(u >> 8);
   }
   return out;
}

std::string Str(const char *s, size_t n)
{
   return std::string(s, n);
}

class CodesetPath : public testing::TestWithParam<Path> {
protected:
   Result ToUtf16(const std::string &in, int mode = CSGTG_NORMAL)
   {
      return Convert(GetParam().convert, "UTF-8", in, "UTF-16LE", mode);
   }
   Result ToUtf8(const std::string &in, int mode = CSGTG_NORMAL)
   {
      return Convert(GetParam().convert, "UTF-16LE", in, "UTF-8", mode);
   }
};

struct Valid {
   const char *label;
   std::string utf8;
   std::u16string utf16;
};

// Each length of UTF-8 sequence at its bounds, and text long enough for the
// sixteen-at-a-time paths with a break inside and after a block.
const std::vector<Valid> &ValidTexts()
{
   static const std::vector<Valid> texts = {
      {"empty", "", u""},
      {"ascii", "hello, world", u"hello, world"},
      {"embedded NUL", Str("a\0b", 3), std::u16string(u"a\0b", 3)},
      {"U+007F", "\x7F", u"\u007F"},
      {"U+0080 first two-byte", "\xC2\x80", u"\u0080"},
      {"e acute", "\xC3\xA9", u"\u00E9"},
      {"U+07FF last two-byte", "\xDF\xBF", u"\u07FF"},
      {"U+0800 first three-byte", "\xE0\xA0\x80", u"\u0800"},
      {"euro", "\xE2\x82\xAC", u"\u20AC"},
      {"U+D7FF before surrogates", "\xED\x9F\xBF", u"\uD7FF"},
      {"U+E000 after surrogates", "\xEE\x80\x80", u"\uE000"},
      {"U+FFFF last BMP", "\xEF\xBF\xBF", u"\uFFFF"},
      {"U+10000 first pair", "\xF0\x90\x80\x80", u"\U00010000"},
      {"emoji", "\xF0\x9F\x98\x80", u"\U0001F600"},
      {"U+10FFFF last", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
      {"long ascii", "0123456789abcdefghijklmnopqrstuvwxyz0123456789",
       u"0123456789abcdefghijklmnopqrstuvwxyz0123456789"},
      {"long mixed",
       "path C:\\Users\\J\xC3\xBCrgen\\\xE6\x96\x87\xE6\xA1\xA3\\"
       "\xF0\x9F\x98\x80 and more ascii after it, sixteen+ bytes",
       u"path C:\\Users\\J\u00FCrgen\\\u6587\u6863\\\U0001F600 and more "
       u"ascii after it, sixteen+ bytes"},
      {"non-ascii at byte 15", "0123456789abcde\xC3\xA9xyz",
       u"0123456789abcde\u00E9xyz"},
      {"non-ascii at byte 16", "0123456789abcdef\xC3\xA9xyz",
       u"0123456789abcdef\u00E9xyz"},
   };
   return texts;
}

TEST_P(CodesetPath, ValidTextConvertsBothWays)
{
   for (const Valid &v : ValidTexts()) {
      SCOPED_TRACE(v.label);
      EXPECT_EQ(Ok(Le(v.utf16)), ToUtf16(v.utf8));
      EXPECT_EQ(Ok(v.utf8), ToUtf8(Le(v.utf16)));
      // Valid text is not touched by the other modes either.
      for (int mode : {CSGTG_TRANSLIT, CSGTG_IGNORE}) {
         EXPECT_EQ(Ok(Le(v.utf16)), ToUtf16(v.utf8, mode)) << "mode " << mode;
         EXPECT_EQ(Ok(v.utf8), ToUtf8(Le(v.utf16), mode)) << "mode " << mode;
      }
   }
}

TEST_P(CodesetPath, EverySixteenByteAlignmentOfMixedText)
{
   // A non-ASCII character at every offset around the block size, in
   // every length of sequence.
   const struct {
      const char *utf8;
      const char16_t *utf16;
   } chars[] = {{"\xC3\xA9", u"\u00E9"},
                {"\xE2\x82\xAC", u"\u20AC"},
                {"\xF0\x9F\x98\x80", u"\U0001F600"}};
   for (const auto &c : chars) {
      for (size_t pad = 0; pad < 40; pad++) {
         SCOPED_TRACE(testing::Message() << c.utf8 << " after " << pad);
         std::string utf8 = std::string(pad, 'a') + c.utf8 + "bcdefghijklmnopqrstu";
         std::u16string utf16 = std::u16string(pad, u'a') + c.utf16 +
                                u"bcdefghijklmnopqrstu";
         ASSERT_EQ(Ok(Le(utf16)), ToUtf16(utf8));
         ASSERT_EQ(Ok(utf8), ToUtf8(Le(utf16)));
      }
   }
}

// Invalid input with what mode 1 (substitute) and mode 2 (skip) make of
// it, in the target encoding.
template <typename Text>
struct Invalid {
   const char *label;
   std::string bytes;
   Text substituted;
   Text skipped;
};

// Invalid UTF-8, each ill-formed piece (the longest start of a valid
// sequence, else one byte) replaced by one U+FFFD in mode 1 and dropped in
// mode 2.
const std::vector<Invalid<std::u16string>> &InvalidUtf8()
{
   static const std::vector<Invalid<std::u16string>> cases = {
      {"lone continuation byte", "a\x80z", u"a\uFFFDz", u"az"},
      {"overlong NUL C0 80", "a\xC0\x80z", u"a\uFFFD\uFFFDz", u"az"},
      {"overlong C1 BF", "\xC1\xBF", u"\uFFFD\uFFFD", u""},
      {"overlong three-byte E0 80 80", "\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD", u""},
      {"overlong four-byte F0 80 80 80", "\xF0\x80\x80\x80",
       u"\uFFFD\uFFFD\uFFFD\uFFFD", u""},
      {"surrogate D800 in UTF-8", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", u""},
      {"surrogate DFFF in UTF-8", "\xED\xBF\xBF", u"\uFFFD\uFFFD\uFFFD", u""},
      {"past U+10FFFF F4 90", "\xF4\x90\x80\x80",
       u"\uFFFD\uFFFD\uFFFD\uFFFD", u""},
      {"F5 lead", "\xF5\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", u""},
      {"F8 five-byte form", "\xF8\x88\x80\x80\x80",
       u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD", u""},
      {"FE", "a\xFE", u"a\uFFFD", u"a"},
      {"FF", "\xFF" "b", u"\uFFFDb", u"b"},
      {"truncated two-byte at end", "a\xC3", u"a\uFFFD", u"a"},
      {"truncated three-byte at end", "a\xE2\x82", u"a\uFFFD", u"a"},
      {"truncated four-byte at end", "a\xF0\x9F\x98", u"a\uFFFD", u"a"},
      {"truncated three-byte inside", "\xE2\x82" "b", u"\uFFFDb", u"b"},
      {"truncated four-byte before a lead", "\xF0\x9F\xC3\xA9",
       u"\uFFFD\u00E9", u"\u00E9"},
      {"truncated after a long ascii run", "0123456789abcdefghij\xC3",
       u"0123456789abcdefghij\uFFFD", u"0123456789abcdefghij"},
      {"bad byte inside a sixteen-byte block", "0123456\x80" "89abcdefghij",
       u"0123456\uFFFD" u"89abcdefghij", u"0123456" u"89abcdefghij"},
   };
   return cases;
}

// Invalid UTF-16LE (unpaired surrogates, half units), with the UTF-8 that
// modes 1 and 2 give.
const std::vector<Invalid<std::string>> &InvalidUtf16()
{
   const std::string sub = "\xEF\xBF\xBD";
   static const std::vector<Invalid<std::string>> cases = {
      {"lone lead at end", Str("a\0\x3D\xD8", 4), "a" + sub, "a"},
      {"lead before a non-trail", Str("\x3D\xD8" "A\0", 4), sub + "A", "A"},
      {"lead before a lead and pair", Str("\x3D\xD8\x3D\xD8\x00\xDE", 6),
       sub + "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      {"lone trail", Str("\x00\xDC" "b\0", 4), sub + "b", "b"},
      {"pair reversed", Str("\x00\xDE\x3D\xD8", 4), sub + sub, ""},
      {"odd length", Str("A\0B", 3), "A" + sub, "A"},
      {"lead then half a unit", Str("\x3D\xD8\x41", 3), sub, ""},
      {"trail then half a unit", Str("\x00\xDC\x41", 3), sub + sub, ""},
      {"lone lead after sixteen ascii units",
       Le(u"0123456789abcdefgh") + Str("\x3D\xD8", 2) + Le(u"xy"),
       "0123456789abcdefgh" + sub + "xy", "0123456789abcdefghxy"},
   };
   return cases;
}

TEST_P(CodesetPath, InvalidUtf8FailsInModeZero)
{
   for (const auto &c : InvalidUtf8()) {
      SCOPED_TRACE(c.label);
      EXPECT_EQ(kFailed, ToUtf16(c.bytes));
   }
}

TEST_P(CodesetPath, InvalidUtf8IsSubstitutedOrSkipped)
{
   for (const auto &c : InvalidUtf8()) {
      SCOPED_TRACE(c.label);
      EXPECT_EQ(Ok(Le(c.substituted)), ToUtf16(c.bytes, CSGTG_TRANSLIT));
      EXPECT_EQ(Ok(Le(c.skipped)), ToUtf16(c.bytes, CSGTG_IGNORE));
   }
}

TEST_P(CodesetPath, InvalidUtf16FailsInModeZero)
{
   for (const auto &c : InvalidUtf16()) {
      SCOPED_TRACE(c.label);
      EXPECT_EQ(kFailed, ToUtf8(c.bytes));
   }
}

TEST_P(CodesetPath, InvalidUtf16IsSubstitutedOrSkipped)
{
   for (const auto &c : InvalidUtf16()) {
      SCOPED_TRACE(c.label);
      EXPECT_EQ(Ok(c.substituted), ToUtf8(c.bytes, CSGTG_TRANSLIT));
      EXPECT_EQ(Ok(c.skipped), ToUtf8(c.bytes, CSGTG_IGNORE));
   }
}

TEST_P(CodesetPath, SameEncodingChecksAndRepairs)
{
   ConvertFn f = GetParam().convert;
   EXPECT_EQ(Ok("a\xC3\xA9"), Convert(f, "UTF-8", "a\xC3\xA9", "UTF-8", 0));
   EXPECT_EQ(kFailed, Convert(f, "UTF-8", "a\xC0\x80", "UTF-8", 0));
   EXPECT_EQ(Ok("a\xEF\xBF\xBD\xEF\xBF\xBD"),
             Convert(f, "UTF-8", "a\xC0\x80", "UTF-8", CSGTG_TRANSLIT));
   EXPECT_EQ(Ok(Le(u"a\U0001F600")),
             Convert(f, "UTF-16LE", Le(u"a\U0001F600"), "UTF-16LE", 0));
   EXPECT_EQ(kFailed, Convert(f, "UTF-16LE", Str("\x00\xDC", 2), "UTF-16LE", 0));
   EXPECT_EQ(Ok(""),
             Convert(f, "UTF-16LE", Str("\x00\xDC", 2), "UTF-16LE", CSGTG_IGNORE));
}

TEST_P(CodesetPath, BadArgumentsFail)
{
   ConvertFn f = GetParam().convert;
   SCOPED_TRACE("unknown or missing encoding names");
   EXPECT_EQ(kFailed, Convert(f, "no-such-encoding", "abc", "UTF-16LE", 0));
   EXPECT_EQ(kFailed, Convert(f, "UTF-8", "abc", "no-such-encoding", 0));
   EXPECT_EQ(kFailed, Convert(f, nullptr, "abc", "UTF-16LE", 0));
   EXPECT_EQ(kFailed, Convert(f, "UTF-8", "abc", nullptr, 0));

   SCOPED_TRACE("modes outside 0..2");
   EXPECT_EQ(kFailed, Convert(f, "UTF-8", "abc", "UTF-16LE", 3));
   EXPECT_EQ(kFailed, Convert(f, "UTF-8", "abc", "UTF-16LE", -1));

   SCOPED_TRACE("missing buffers");
   char *out = nullptr;
   size_t size = 0;
   EXPECT_FALSE(f("UTF-8", nullptr, 1, "UTF-16LE", 0, &out, &size));
   EXPECT_EQ(nullptr, out);
   EXPECT_FALSE(f("UTF-8", "a", 1, "UTF-16LE", 0, nullptr, &size));
   EXPECT_FALSE(f("UTF-8", "a", 1, "UTF-16LE", 0, &out, nullptr));
   // No input at all is the empty text.
   ASSERT_TRUE(f("UTF-8", nullptr, 0, "UTF-16LE", 0, &out, &size));
   EXPECT_EQ(0u, size);
   EXPECT_EQ(0, memcmp(out, "\0\0\0\0", 4));
   free(out);
}

TEST_P(CodesetPath, NamesAreCaseInsensitive)
{
   ConvertFn f = GetParam().convert;
   EXPECT_EQ(Ok(Le(u"\u00E9")), Convert(f, "utf-8", "\xC3\xA9", "utf-16le", 0));
   EXPECT_EQ(Ok(Le(u"\u00E9")), Convert(f, "UTF8", "\xC3\xA9", "UTF16LE", 0));
}

TEST_P(CodesetPath, LargeInputGrowsTheOutput)
{
   // Output larger than the first guess (input length + 4 for ICU), so
   // the buffer is enlarged while converting.
   std::string utf8;
   std::u16string utf16;
   for (int i = 0; i < 5000; i++) {
      utf8 += "x\xE6\x96\x87\xF0\x9F\x98\x80";
      utf16 += u"x\u6587\U0001F600";
   }
   EXPECT_EQ(Ok(Le(utf16)), ToUtf16(utf8));
   EXPECT_EQ(Ok(utf8), ToUtf8(Le(utf16)));
   std::string ascii16 = Le(std::u16string(100000, u'q'));
   EXPECT_EQ(Ok(ascii16), ToUtf16(std::string(100000, 'q')));
}

TEST_P(CodesetPath, OutputSizedForEveryMixOfCharacterLengths)
{
   // Long enough that the output outgrows the first allocation, with 0..19
   // characters of one length at the end (where the text is handled one
   // unit at a time) and in the middle: the output must fit what was
   // reserved for it (the sanitizer sees any write past it).
   const struct {
      const char *utf8;
      const char16_t *utf16;
   } chars[] = {{"\xD0\x96", u"\u0416"},               // Cyrillic, 2 bytes
                {"\xE0\xA4\x84", u"\u0904"},           // Devanagari, 3 bytes
                {"\xE6\x96\x87", u"\u6587"},           // CJK, 3 bytes
                {"\xF0\x9F\x98\x80", u"\U0001F600"}};  // pair, 4 bytes
   for (const auto &c : chars) {
      for (size_t k = 0; k < 20; k++) {
         SCOPED_TRACE(testing::Message() << c.utf8 << " x " << k);
         std::string utf8 = std::string(150, 'a');
         std::u16string utf16 = std::u16string(150, u'a');
         for (size_t j = 0; j < k; j++) {
            utf8 += c.utf8;
            utf16 += c.utf16;
         }
         std::string tail8 = utf8.substr(150) + "z";
         std::u16string tail16 = utf16.substr(150) + u"z";
         utf8 += "b" + tail8 + tail8;
         utf16 += u"b" + tail16 + tail16;
         ASSERT_EQ(Ok(Le(utf16)), ToUtf16(utf8));
         ASSERT_EQ(Ok(utf8), ToUtf8(Le(utf16)));
      }
   }
}

TEST_P(CodesetPath, NothingCarriesOverFromAFailedConversion)
{
   // A conversion that fails inside a sequence must not leave its start
   // behind for the next one (ICU's converters are kept and reused).
   for (int round = 0; round < 3; round++) {
      SCOPED_TRACE(round);
      EXPECT_EQ(kFailed, ToUtf16("\xE2\x82"));
      EXPECT_EQ(kFailed, ToUtf16("\xAC"));
      EXPECT_EQ(Ok(Le(u"\uFFFD")), ToUtf16("\xAC", CSGTG_TRANSLIT));
      EXPECT_EQ(kFailed, ToUtf8(Str("\x3D\xD8", 2)));
      EXPECT_EQ(kFailed, ToUtf8(Str("\x00\xDE", 2)));
      EXPECT_EQ(kFailed, ToUtf8(Str("A", 1)));
      EXPECT_EQ(Ok(""), ToUtf8(Str("A", 1), CSGTG_IGNORE));
      // And a mode does not stay with a kept converter.
      EXPECT_EQ(Ok(Le(u"ab")), ToUtf16("a\xFF" "b", CSGTG_IGNORE));
      EXPECT_EQ(kFailed, ToUtf16("a\xFF" "b"));
      EXPECT_EQ(Ok(Le(u"a\uFFFDb")), ToUtf16("a\xFF" "b", CSGTG_TRANSLIT));
   }
}

TEST_P(CodesetPath, ConcurrentConversions)
{
   // Several threads converting at once each get their own results.
   ConvertFn f = GetParam().convert;
   std::vector<int> wrong(4, 0);
   std::vector<std::thread> threads;
   for (int t = 0; t < 4; t++) {
      threads.emplace_back([f, t, &wrong] {
         for (int i = 0; i < 300; i++) {
            std::string text = std::to_string(t * 1000 + i) + "\xE2\x82\xAC";
            std::u16string expected;
            for (char c : std::to_string(t * 1000 + i)) {
               expected += static_cast<char16_t>(c);
            }
            expected += u"\u20AC";
            // No gtest assertions in these threads (the Windows build of
            // gtest is not thread-safe): results are compared here.
            std::string want = Le(expected);
            char *out = nullptr;
            size_t size = 0;
            bool ok = f("UTF-8", text.data(), text.size(), "UTF-16LE", i % 3,
                        &out, &size);
            bool right = ok && std::string(out, size) == want &&
                         memcmp(out + size, "\0\0\0\0", 4) == 0;
            free(out);
            out = nullptr;
            bool bad = f("UTF-16LE", "\x00\xDC", 2, "UTF-8", 0, &out, &size);
            if (!right || bad || out != nullptr) {
               wrong[t]++;
            }
         }
      });
   }
   for (std::thread &th : threads) {
      th.join();
   }
   EXPECT_EQ(std::vector<int>(4, 0), wrong);
}

INSTANTIATE_TEST_SUITE_P(Paths, CodesetPath, testing::ValuesIn(Paths()),
                         [](const testing::TestParamInfo<Path> &info) {
                            return std::string(info.param.name);
                         });

#ifndef _WIN32
// ICU and the built-in converter must give the same answer, in every mode.
void ExpectPathsAgree(const char *from, const std::string &in, const char *to,
                      int mode, int *compared)
{
   Result icu = Convert(CodeSetIcuConvert, from, in, to, mode);
   Result builtin = Convert(CodeSetBuiltinConvert, from, in, to, mode);
   (*compared)++;
   if (!(icu == builtin)) {
      ADD_FAILURE() << from << " input " << Result{true, in} << " mode " << mode
                    << ": ICU " << icu << ", built-in " << builtin;
   }
}

TEST(Codeset, PathsAgreeOnEveryShortUtf8Sequence)
{
   // Every non-ASCII lead byte with every second byte, alone and with a
   // continuation byte and a letter after it (so truncation, overlong
   // forms, surrogates and the U+10FFFF limit all show up).
   int compared = 0;
   for (int mode = 0; mode < 3; mode++) {
      for (unsigned a = 0x80; a < 0x100; a++) {
         for (unsigned b = 0; b < 0x100; b++) {
            std::string two = {static_cast<char>(a), static_cast<char>(b)};
            ExpectPathsAgree("UTF-8", two, "UTF-16LE", mode, &compared);
            if (a >= 0xE0) {
               ExpectPathsAgree("UTF-8", two + "\x80z", "UTF-16LE", mode,
                                &compared);
            }
         }
      }
   }
   EXPECT_EQ(3 * (128 * 256 + 32 * 256), compared);
}

TEST(Codeset, PathsAgreeOnShortUtf16Sequences)
{
   // One to three units from every class (ASCII, two- and three-byte,
   // lead and trail surrogates at their bounds), with and without half a
   // unit after them.
   const char16_t units[] = {0x0000, 0x0041, 0x007F, 0x0080, 0x07FF,
                             0x0800, 0xD7FF, 0xD800, 0xDBFF, 0xDC00,
                             0xDFFF, 0xE000, 0xFFFD, 0xFFFF};
   std::vector<std::u16string> texts = {u""};
   for (char16_t a : units) {
      texts.push_back(std::u16string(1, a));
      for (char16_t b : units) {
         texts.push_back(std::u16string{a, b});
         for (char16_t c : units) {
            texts.push_back(std::u16string{a, b, c});
         }
      }
   }
   int compared = 0;
   for (int mode = 0; mode < 3; mode++) {
      for (const std::u16string &t : texts) {
         ExpectPathsAgree("UTF-16LE", Le(t), "UTF-8", mode, &compared);
         ExpectPathsAgree("UTF-16LE", Le(t) + "q", "UTF-8", mode, &compared);
      }
   }
   EXPECT_EQ(3 * 2 * (1 + 14 + 14 * 14 + 14 * 14 * 14), compared);
}
#endif

TEST(Codeset, PublicFunctionsConvertAndTerminate)
{
   char *out = nullptr;
   size_t size = 0;
   ASSERT_TRUE(CodeSet_Utf8ToUtf16le("a\xE2\x82\xAC", 4, &out, &size));
   EXPECT_EQ(Le(u"a\u20AC"), std::string(out, size));
   EXPECT_EQ(0, memcmp(out + size, "\0\0\0\0", 4));
   free(out);

   std::string utf16 = Le(u"\U0001F600b");
   ASSERT_TRUE(CodeSet_Utf16leToUtf8(utf16.data(), utf16.size(), &out, &size));
   EXPECT_EQ("\xF0\x9F\x98\x80" "b", std::string(out, size));
   EXPECT_EQ(0, memcmp(out + size, "\0\0\0\0", 4));
   free(out);

   out = reinterpret_cast<char *>(&size);
   EXPECT_FALSE(CodeSet_Utf8ToUtf16le("\xC0\x80", 2, &out, &size));
   EXPECT_EQ(nullptr, out);
   EXPECT_FALSE(CodeSet_Utf16leToUtf8("\x00\xD8", 2, &out, &size));
   EXPECT_EQ(nullptr, out);

   ASSERT_TRUE(CodeSet_Convert("UTF-8", "x\xFFy", 3, "UTF-8", CSGTG_IGNORE,
                               &out, &size));
   EXPECT_EQ("xy", std::string(out, size));
   free(out);
}

TEST(Codeset, CurrentNameIsFormattedOnce)
{
   const char *name = CodeSet_CurrentName();
   ASSERT_NE(nullptr, name);
   EXPECT_EQ(name, CodeSet_CurrentName());
#ifdef _WIN32
   EXPECT_EQ("windows-" + std::to_string(GetACP()), std::string(name));
#else
   EXPECT_STREQ("UTF-8", name);
#endif
   // Whatever it is, both converters of this process know it.
   for (const Path &p : Paths()) {
      SCOPED_TRACE(p.name);
      EXPECT_EQ(Ok("abc"), Convert(p.convert, name, "abc", "UTF-8", 0));
   }
}

TEST(Codeset, MbErrInvalidCharsVersionTable)
{
   struct {
      unsigned major, minor, sp;
      bool expected;
   } cases[] = {
      {4, 0, 6, false},   // NT 4
      {5, 0, 0, false},   // 2000 RTM
      {5, 0, 3, false},   // 2000 SP3
      {5, 0, 4, true},    // 2000 SP4
      {5, 1, 0, true},    // XP
      {5, 2, 0, true},    // Server 2003
      {6, 0, 0, true},    // Vista
      {6, 2, 0, true},    // 8 (and anything later without a manifest)
      {10, 0, 0, true},
   };
   for (const auto &c : cases) {
      EXPECT_EQ(c.expected,
                CodeSetMbErrInvalidCharsSupported(c.major, c.minor, c.sp))
         << c.major << "." << c.minor << " SP" << c.sp;
   }
}

TEST(Codeset, ValidityChecksFollowTheConverters)
{
   for (const Valid &v : ValidTexts()) {
      SCOPED_TRACE(v.label);
      EXPECT_TRUE(CodeSet_IsValidUtf8(v.utf8.data(), v.utf8.size()));
      std::string le = Le(v.utf16);
      EXPECT_TRUE(CodeSet_IsValidUtf16le(le.data(), le.size()));
   }
   for (const auto &c : InvalidUtf8()) {
      SCOPED_TRACE(c.label);
      EXPECT_FALSE(CodeSet_IsValidUtf8(c.bytes.data(), c.bytes.size()));
   }
   for (const auto &c : InvalidUtf16()) {
      SCOPED_TRACE(c.label);
      EXPECT_FALSE(CodeSet_IsValidUtf16le(c.bytes.data(), c.bytes.size()));
   }
   EXPECT_TRUE(CodeSet_IsValidUtf8(nullptr, 0));
   EXPECT_FALSE(CodeSet_IsValidUtf8(nullptr, 1));
   EXPECT_TRUE(CodeSet_IsValidUtf16le(nullptr, 0));
   EXPECT_FALSE(CodeSet_IsValidUtf16le(nullptr, 2));
}

#ifndef _WIN32

TEST(Codeset, IcuIsTheDefaultNatively)
{
   EXPECT_TRUE(CodeSetIcuAvailable());
   EXPECT_TRUE(CodeSet_IsUsingIcu());
   // Only ICU knows windows-1252 here, so this goes through ICU.
   char *out = nullptr;
   size_t size = 0;
   ASSERT_TRUE(CodeSet_Convert("windows-1252", "\xE9\x80", 2, "UTF-8",
                               CSGTG_NORMAL, &out, &size));
   EXPECT_EQ("\xC3\xA9\xE2\x82\xAC", std::string(out, size));
   free(out);
   EXPECT_EQ(kFailed, Convert(CodeSetBuiltinConvert, "windows-1252", "\xE9\x80",
                          "UTF-8", CSGTG_NORMAL));
}

TEST(Codeset, IcuCodePageModes)
{
   // ICU's windows-1252 has no U+2603; 0x81 it maps to U+0081.
   EXPECT_EQ(kFailed, Convert(CodeSetIcuConvert, "UTF-8", "a\xE2\x98\x83",
                          "windows-1252", CSGTG_NORMAL));
   EXPECT_EQ(Ok("a\x1A"), Convert(CodeSetIcuConvert, "UTF-8", "a\xE2\x98\x83",
                              "windows-1252", CSGTG_TRANSLIT));
   EXPECT_EQ(Ok("a"), Convert(CodeSetIcuConvert, "UTF-8", "a\xE2\x98\x83",
                          "windows-1252", CSGTG_IGNORE));
   EXPECT_EQ(Ok(Le(u"\u0081")), Convert(CodeSetIcuConvert, "windows-1252", "\x81",
                                    "UTF-16LE", CSGTG_NORMAL));
}

#endif  // !_WIN32

// Run in the child: turns the switch, then checks the public functions
// went over to the built-in converters.
int SwitchOffIcuAndCheck()
{
   CodeSet_DontUseIcu();
   char *out = nullptr;
   size_t size = 0;
   bool converted = CodeSet_Utf8ToUtf16le("\xC3\xA9", 2, &out, &size) &&
                    size == 2 && memcmp(out, "\xE9\x00", 2) == 0;
   free(out);
#ifndef _WIN32
   // ICU would know this name; the built-in converter does not.
   out = nullptr;
   converted = converted && !CodeSet_Convert("windows-1252", "a", 1, "UTF-8",
                                             CSGTG_NORMAL, &out, &size);
#endif
   return !CodeSet_IsUsingIcu() && converted ? 0 : 1;
}

// The switch is one-way for the process, so it is turned in a child.
TEST(CodesetDeathTest, DontUseIcuSwitchesToTheBuiltinConverters)
{
   EXPECT_EXIT(exit(SwitchOffIcuAndCheck()), testing::ExitedWithCode(0), "");
}

#ifdef _WIN32

bool SystemFileExists(const wchar_t *name)
{
   wchar_t path[MAX_PATH];
   UINT len = GetSystemDirectoryW(path, MAX_PATH);
   std::wstring full = std::wstring(path, len) + L"\\" + name;
   return GetFileAttributesW(full.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(Codeset, IcuIsUsedExactlyWhenWindowsShipsIt)
{
   bool shipped = SystemFileExists(L"icu.dll") || SystemFileExists(L"icuuc.dll");
   EXPECT_EQ(shipped, CodeSetIcuAvailable());
   if (!shipped) {
      // Wine: no ICU, so the first conversion turns the switch.
      char *out = nullptr;
      size_t size = 0;
      ASSERT_TRUE(CodeSet_Utf8ToUtf16le("a", 1, &out, &size));
      free(out);
      EXPECT_FALSE(CodeSet_IsUsingIcu());
      EXPECT_EQ(kFailed, Convert(CodeSetIcuConvert, "UTF-8", "a", "UTF-16LE", 0));
   } else {
      EXPECT_TRUE(CodeSet_IsUsingIcu());
   }
}

TEST(Codeset, Windows1252RoundTrip)
{
   // "é€" and 0x81, which 1252 leaves undefined: Windows (and Wine) map it
   // to U+0081 and back, so it is not an error.
   EXPECT_EQ(Ok(Le(u"\u00E9\u20AC\u0081")),
             Convert(CodeSetBuiltinConvert, "windows-1252", "\xE9\x80\x81",
                 "UTF-16LE", CSGTG_NORMAL));
   EXPECT_EQ(Ok("\xC3\xA9\xE2\x82\xAC\xC2\x81"),
             Convert(CodeSetBuiltinConvert, "windows-1252", "\xE9\x80\x81",
                 "UTF-8", CSGTG_NORMAL));
   EXPECT_EQ(Ok("\xE9\x80\x81"),
             Convert(CodeSetBuiltinConvert, "UTF-8", "\xC3\xA9\xE2\x82\xAC\xC2\x81",
                 "windows-1252", CSGTG_NORMAL));
   EXPECT_EQ(Ok("\xE9\x80"), Convert(CodeSetBuiltinConvert, "UTF-16LE",
                                 Le(u"\u00E9\u20AC"), "cp1252", CSGTG_NORMAL));
}

TEST(Codeset, UnmappableCharacterInACodePage)
{
   // U+2603 is not in 1252; U+0101 only by best fit ('a'), which is
   // refused too.
   for (const char *ch : {"\xE2\x98\x83", "\xC4\x81"}) {
      SCOPED_TRACE(ch);
      std::string in = std::string("x") + ch + "y";
      EXPECT_EQ(kFailed, Convert(CodeSetBuiltinConvert, "UTF-8", in,
                             "windows-1252", CSGTG_NORMAL));
      EXPECT_EQ(Ok("x?y"), Convert(CodeSetBuiltinConvert, "UTF-8", in,
                               "windows-1252", CSGTG_TRANSLIT));
      EXPECT_EQ(Ok("xy"), Convert(CodeSetBuiltinConvert, "UTF-8", in,
                              "windows-1252", CSGTG_IGNORE));
   }
   // A lone surrogate never reaches the system in mode 0.
   EXPECT_EQ(kFailed, Convert(CodeSetBuiltinConvert, "UTF-16LE",
                          Str("x\0\x00\xD8", 4), "windows-1252", 0));
   EXPECT_EQ(Ok("x"), Convert(CodeSetBuiltinConvert, "UTF-16LE",
                          Str("x\0\x00\xD8", 4), "windows-1252", CSGTG_IGNORE));
}

TEST(Codeset, InvalidBytesInACodePage)
{
   // 932: 0x82 is a lead byte, invalid alone; 0x82 0xA0 is U+3042.
   EXPECT_EQ(Ok(Le(u"\u3042A")), Convert(CodeSetBuiltinConvert, "windows-932",
                                     "\x82\xA0" "A", "UTF-16LE", 0));
   EXPECT_EQ(kFailed, Convert(CodeSetBuiltinConvert, "windows-932", "A\x82",
                          "UTF-16LE", 0));
   // Mode 1 takes the system's default character, mode 2 drops the byte.
   EXPECT_EQ(Ok(Le(u"A\u30FB")), Convert(CodeSetBuiltinConvert, "windows-932",
                                     "A\x82", "UTF-16LE", CSGTG_TRANSLIT));
   EXPECT_EQ(Ok(Le(u"A\u3042B")),
             Convert(CodeSetBuiltinConvert, "windows-932", "A\x82\xA0\x82" "B",
                 "UTF-16LE", CSGTG_IGNORE));
   // 1253: 0xAA is undefined.
   EXPECT_EQ(kFailed, Convert(CodeSetBuiltinConvert, "windows-1253", "a\xAA" "b",
                          "UTF-8", 0));
   EXPECT_EQ(Ok("ab"), Convert(CodeSetBuiltinConvert, "windows-1253", "a\xAA" "b",
                           "UTF-8", CSGTG_IGNORE));
}

Result CodePageToUtf16(unsigned cp, const std::string &in, int mode,
                       bool useErrFlag)
{
   char *out = nullptr;
   size_t size = 0;
   Result r;
   r.ok = CodeSetCodePageToUtf16(cp, in.data(), in.size(), mode, useErrFlag,
                                 &out, &size);
   if (r.ok) {
      r.bytes.assign(out, size);
      EXPECT_EQ(0, memcmp(out + size, "\0\0\0\0", 4));
      free(out);
   }
   return r;
}

TEST(Codeset, RoundTripCheckWithoutMbErrInvalidChars)
{
   // Where the system lacks MB_ERR_INVALID_CHARS, converting back must
   // give as many bytes: a lone 932 lead byte becomes U+30FB, two bytes.
   for (bool flag : {true, false}) {
      SCOPED_TRACE(flag ? "with the flag" : "round-trip check");
      EXPECT_EQ(kFailed, CodePageToUtf16(932, "A\x82", 0, flag));
      EXPECT_EQ(Ok(Le(u"A\u3042")), CodePageToUtf16(932, "A\x82\xA0", 0, flag));
      EXPECT_EQ(Ok(Le(u"\u00E9")), CodePageToUtf16(1252, "\xE9", 0, flag));
      EXPECT_EQ(Ok(""), CodePageToUtf16(1252, "", 0, flag));
   }
   // The count-only check cannot see an undefined byte that comes back as
   // one '?' (1253's 0xAA); only the flag catches it.
   EXPECT_EQ(kFailed, CodePageToUtf16(1253, "\xAA", 0, true));
   EXPECT_TRUE(CodePageToUtf16(1253, "\xAA", 0, false).ok);
}

TEST(Codeset, CodePageNames)
{
   ConvertFn f = CodeSetBuiltinConvert;
   EXPECT_EQ(Ok("\xC3\xA9"), Convert(f, "WINDOWS-1252", "\xE9", "UTF-8", 0));
   EXPECT_EQ(Ok("\xC3\xA9"), Convert(f, "CP1252", "\xE9", "UTF-8", 0));
   // 65001 and 1200 are UTF-8 and UTF-16LE by their numbers.
   EXPECT_EQ(Ok(Le(u"\u00E9")), Convert(f, "windows-65001", "\xC3\xA9", "windows-1200", 0));
   EXPECT_EQ(kFailed, Convert(f, "windows-65001", "\xC0\x80", "UTF-16LE", 0));
   for (const char *bad : {"windows-", "windows-12a", "windows-123456",
                           "windows-9999", "windows-0", "cp", "cp-1252",
                           "windows-1252 "}) {
      SCOPED_TRACE(bad);
      EXPECT_EQ(kFailed, Convert(f, bad, "a", "UTF-8", 0));
   }
}

#endif  // _WIN32

}  // namespace
