// Conversions through the built-in converters and through ICU, the byte
// buffer behind them and the Unicode functions over them. The switch only
// ever turns ICU off, so each converter is reached through its internal
// entry point.
// fuzz/codeset_fuzz holds the two converters to each other on any input;
// here are the edges, written out.
#include "lib/misc/codeset.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include "lib/misc/byteBuffer.h"
#include "lib/misc/codesetInternal.h"
#include "lib/unicode/unicodeSimpleBase.h"
#include "lib/unicode/unicodeSimpleOperations.h"
#include "tests/unit/formatDiffer.h"

using formattest::Le;

namespace {

const std::string kFailed = "<failed>", kSub = "\xEF\xBF\xBD";

// The result as bytes, or kFailed; every result ends in four zero bytes,
// and a failure leaves no buffer.
std::string Take(bool ok, char *out, size_t size)
{
   EXPECT_TRUE(ok ? memcmp(out + size, "\0\0\0\0", 4) == 0 : out == nullptr);
   std::string r = ok ? std::string(out, size) : kFailed;
   free(ok ? out : nullptr);
   return r;
}

// One conversion by name and what it must give; from an odd address too,
// which must not matter.
struct Case { const char *from; std::string in; const char *to; int mode; std::string out; };

void ExpectCases(decltype(&CodeSet_Convert) f, const std::vector<Case> &cases)
{
   for (const Case &c : cases) {
      const std::string shifted = "#" + c.in;
      for (const char *at : {c.in.data(), shifted.data() + 1}) {
         char *out = reinterpret_cast<char *>(&out);   // must be reset
         size_t size = 0;
         const bool ok = f(c.from, at, c.in.size(), c.to, c.mode, &out, &size);
         EXPECT_EQ(c.out, Take(ok, out, size)) << (c.from ? c.from : "null") << " " << c.in << " " << c.mode;
      }
   }
}

// Each sequence length at its bounds; a break inside and right after a
// sixteen-byte block; text past the ICU path's stack buffer.
const struct { std::string utf8; std::u16string utf16; } kValid[] = {
   {"\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF",
    u"\u007F\u0080\u07FF\u0800\uD7FF\uE000\uFFFF\U00010000\U0010FFFF"},
   {"0123456789abcde\xC3\xA9xyz0123456789ab\xE2\x82\xAC", u"0123456789abcde\u00E9xyz0123456789ab\u20AC"},
   {std::string(5000, 'q') + "\xF0\x9F\x98\x80" + std::string("a\0b", 3),
    std::u16string(5000, u'q') + u"\U0001F600" + std::u16string(u"a\0b", 3)}};

// Invalid input and what modes 1 and 2 make of it: each ill-formed piece
// (the longest start of a valid sequence, else one byte) becomes one
// U+FFFD, or nothing. UTF-8: a lone continuation; overlong; a surrogate;
// past U+10FFFF; bytes never valid; cut before a lead and by the end; in a
// block. UTF-16: a lone lead before a non-trail and at the end; a lone
// trail; a pair reversed; an odd length; a lone lead after a block.
template <typename Text>
struct Invalid { std::string bytes; Text substituted, skipped; };
const Invalid<std::u16string> kInvalidUtf8[] = {
   {"a\x80z\xC0\x80", u"a\uFFFDz\uFFFD\uFFFD", u"az"},
   {"\xE2\x82\xC3\xA9\xF0\x9F\x98", u"\uFFFD\u00E9\uFFFD", u"\u00E9"},
   {"\xE0\x80\x80\xED\xA0\x80z", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDz", u"z"},
   {"\xF4\x90\x80\x80\xF5\xFE\xFF", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD", u""},
   {"0123456\x80" "89abcdef", u"0123456\uFFFD" u"89abcdef", u"0123456" u"89abcdef"}};
const Invalid<std::string> kInvalidUtf16[] = {
   {"\x3D\xD8" + Le(u"A") + "\x3D\xD8", kSub + "A" + kSub, "A"},
   {std::string("\x00\xDC\x00\xDE\x3D\xD8", 6), kSub + kSub + kSub, ""}, {Le(u"A") + "B", "A" + kSub, "A"},
   {Le(u"0123456789abcdefgh") + "\x3D\xD8" + Le(u"xy"), "0123456789abcdefgh" + kSub + "xy", "0123456789abcdefghxy"}};

TEST(Codeset, ValidTextInEveryModeInvalidTextByMode)
{
   // The strict functions over them are the Unicode functions' doors below;
   // fuzz/codeset_fuzz holds their ICU path to the built-in converter.
   for (auto f : {CodeSetBuiltinConvert, CodeSetIcuAvailable() ? CodeSetIcuConvert : CodeSetBuiltinConvert}) {
      for (int mode = 0; mode < 3; mode++) {
         std::vector<Case> cases;
         for (const auto &v : kValid) {
            cases.push_back({"UTF-8", v.utf8, "UTF-16LE", mode, Le(v.utf16)});
            cases.push_back({"UTF-16LE", Le(v.utf16), "UTF-8", mode, v.utf8});
         }
         for (const auto &c : kInvalidUtf8) {
            const std::string le = Le(mode == 1 ? c.substituted : c.skipped);
            cases.push_back({"UTF-8", c.bytes, "UTF-16LE", mode, mode == 0 ? kFailed : le});
            EXPECT_FALSE(CodeSet_IsValidUtf8(c.bytes.data(), c.bytes.size())) << c.bytes;
         }
         for (const auto &c : kInvalidUtf16) {
            cases.push_back({"UTF-16LE", c.bytes, "UTF-8", mode, mode == 0 ? kFailed : mode == 1 ? c.substituted
                                                                                                : c.skipped});
            EXPECT_FALSE(CodeSet_IsValidUtf16le(c.bytes.data(), c.bytes.size())) << c.substituted;
         }
         ExpectCases(f, cases);
      }
   }
}

TEST(Codeset, NamesArgumentsReuseAndCodePages)
{
   // ICU's converters are kept for reuse: neither the start of a sequence
   // left by a failed conversion nor a mode may stay with them. Names in
   // any case; UTF-8 to UTF-8; the current code page.
   for (auto f : {CodeSetBuiltinConvert, CodeSetIcuAvailable() ? CodeSetIcuConvert : CodeSetBuiltinConvert}) {
      ExpectCases(f, {{"UTF-8", "\xE2\x82", "UTF-16LE", 0, kFailed}, {"UTF-8", "\xAC", "UTF-16LE", 1, Le(u"\uFFFD")},
                      {"UTF-8", "\xAC", "UTF-16LE", 0, kFailed}, {"no-such", "abc", "UTF-16LE", 0, kFailed},
                      {nullptr, "abc", "UTF-16LE", 0, kFailed}, {"UTF-8", "abc", nullptr, 0, kFailed},
                      {"UTF-8", "abc", "UTF-16LE", 3, kFailed}, {"UTF-8", "abc", "UTF-16LE", -1, kFailed},
                      {"utf-8", "\xC3\xA9", "utf16le", 0, Le(u"\u00E9")},
                      {"UTF-8", "a\xC0\x80", "UTF-8", 1, "a" + kSub + kSub},
                      {CodeSet_CurrentName(), "abc", "UTF-8", 0, "abc"}});
   }
   // Natively ICU converts code pages; in the Windows tree the built-in
   // converter, through the system: it maps 1252's undefined 0x81 to U+0081,
   // refuses U+0101 (in 1252 only by best fit) and skips 932's lone lead
   // byte 0x82.
#ifdef _WIN32
   EXPECT_EQ("windows-" + std::to_string(GetACP()), CodeSet_CurrentName());
   ExpectCases(CodeSetBuiltinConvert,
               {{"UTF-8", "\xC2\x81", "WINDOWS-1252", 0, "\x81"},
                {"UTF-8", "x\xC4\x81y", "cp1252", 0, kFailed}, {"UTF-8", "x\xC4\x81y", "cp1252", 1, "x?y"},
                {"windows-932", "A\x82\xA0\x82" "B", "UTF-16LE", 2, Le(u"A\u3042B")}});
#else
   EXPECT_STREQ("UTF-8", CodeSet_CurrentName());
   ExpectCases(CodeSetIcuConvert, {{"UTF-8", "a\xE2\x98\x83", "cp1252", 1, "a\x1A"}});   // ICU's substitution byte
#endif
   ExpectCases(CodeSet_Convert, {{"windows-1252", "\xE9\x80", "UTF-8", 0, "\xC3\xA9\xE2\x82\xAC"},
                                 {"UTF-8", "x\xE2\x98\x83y", "cp1252", 0, kFailed},
                                 {"UTF-8", "x\xE2\x98\x83y", "cp1252", 2, "xy"},
                                 {"windows-12a", "a", "UTF-8", 0, kFailed}});
   // ICU is the default where it is present; where it is not, the switch
   // to the built-in converters is set.
   EXPECT_EQ(CodeSetIcuAvailable(), CodeSet_IsUsingIcu());
}

// A malloc'd result of `bytes` bytes (or up to its NUL), freed.
std::string Owned(void *p, size_t bytes = std::string::npos)
{
   std::string r = bytes == std::string::npos ? static_cast<char *>(p) : std::string(static_cast<char *>(p), bytes);
   free(p);
   return r;
}

// The wrappers' doors in and out of UTF-8, at their edges: UTF-16 at an
// odd address is read bytewise, and a zero low byte alone does not end it;
// by length, a zero unit is kept; the current code page. Then one check
// per panic text.
TEST(UnicodeDeathTest, AllocAndEscapeAndOnePerPanicText)
{
   const std::string odd = "#" + Le(u"\u0100b") + std::string(2, '\0'), nul = Le(std::u16string(u"x\0y", 3));
   EXPECT_EQ("\xC4\x80" "b", Owned(Unicode_AllocWithLength(odd.data() + 1, -1, STRING_ENCODING_UTF16_LE)));
   EXPECT_EQ(std::string("x\0y\0", 4), Owned(Unicode_AllocWithLength(nul.data(), 6, STRING_ENCODING_UTF16_LE), 4));
   EXPECT_EQ("plain", Owned(Unicode_AllocWithLength("plain", -1, STRING_ENCODING_DEFAULT)));
   EXPECT_EQ(Le(std::u16string(u"\u00E9\0", 2)), Owned(Unicode_AllocEncoded("\xC3\xA9", STRING_ENCODING_UTF16_LE), 4));
   // The empty needle is found at the start of the range, in code points.
   EXPECT_EQ(2, Unicode_FindSubstrInRange("a\xC3\xA9\xE2\x82\xAC", 2, -1, "", 0, -1));
   const std::string lone = Le(u"a") + std::string("\x00\xD8", 2);
   const auto panic = testing::ExitedWithCode(formattest::kPanicExitCode);
   EXPECT_EXIT(Unicode_AllocWithLength(lone.data(), 4, STRING_ENCODING_UTF16_LE), panic,
               "Unicode_AllocWithLength: Couldn't convert invalid buffer ..x61.x00.x00.xD8. from UTF-16LE to Unicode");
   EXPECT_EXIT(Unicode_AllocEncoded("a\xED\xA0\x80", STRING_ENCODING_UTF16_LE), panic,
               "NOT_IMPLEMENTED lib/unicode/unicodeSimpleBase:");
   EXPECT_EXIT(Unicode_Substr("\xE2\x82", 0, -1), panic, "Unicode_Substr: invalid UTF8 string @ .+");
}

TEST(ByteBuffer, GrowthRuleRefusalsAndDetach)
{
   // Requests on a new buffer, each with the allocation it must leave:
   // nothing; the first step; within the allocation; above the step;
   // doubling below 256 KiB (still at 0x3FFFF); steps of 256 KiB from there.
   const uint64_t steps[][2] = {{0, 0}, {1, 128}, {100, 128}, {1000, 1000}, {1001, 2000},
                                {0x3FFFF, 0x3FFFF}, {0x40000, 0x7FFFE}, {0x7FFFF, 0xBFFFE}};
   ByteBuffer b;
   ByteBuffer_Init(&b);
   for (const auto &s : steps) {
      EXPECT_TRUE(ByteBuffer_Enlarge(&b, s[0]) && b.allocated == s[1]) << "after asking " << s[0];
   }
   ByteBuffer_Destroy(&b);
   // Refusals leave the buffer as it was; detached, the used bytes are in a
   // block of their own and the buffer is left empty; never allocated, none.
   ASSERT_TRUE(ByteBuffer_Append(&b, "abc", 3));
   EXPECT_FALSE(ByteBuffer_Append(&b, "x", UINT64_MAX)) << "size wraps";
   EXPECT_FALSE(ByteBuffer_Enlarge(&b, static_cast<uint64_t>(PTRDIFF_MAX) + 1));
#ifdef _WIN32
   // Natively the sanitizer's allocator ends the process instead.
   EXPECT_FALSE(ByteBuffer_Enlarge(&b, uint64_t(1) << 50)) << "no memory";
#endif
   uint64_t size = 0;
   char *data = ByteBuffer_Detach(&b, &size);
   EXPECT_EQ("abc", std::string(data, size));
   EXPECT_TRUE(b.data == nullptr && b.size == 0 && b.allocated == 0);
   free(data);
   EXPECT_TRUE(ByteBuffer_Detach(&b, &size) == nullptr && size == 0) << "never allocated";
}

}  // namespace
