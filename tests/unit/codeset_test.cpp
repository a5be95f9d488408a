// Conversions through ICU and through the built-in converters. The switch
// only ever turns ICU off, so each converter is reached through its internal
// entry point, and the switch is tested in a child process.
#include "lib/misc/codeset.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "lib/misc/codesetInternal.h"
#include "tests/unit/formatTestUtil.h"

using formattest::Le;

namespace {

typedef decltype(&CodeSet_Convert) ConvertFn;
typedef decltype(&CodeSet_Utf8ToUtf16le) StrictFn;

const std::string kFailed = "<failed>";

// The result as bytes, or kFailed; every result ends in four zero bytes,
// and a failure leaves no buffer.
std::string Take(bool ok, char *out, size_t size)
{
   EXPECT_TRUE(ok ? memcmp(out + size, "\0\0\0\0", 4) == 0 : out == nullptr);
   std::string r = ok ? std::string(out, size) : kFailed;
   free(ok ? out : nullptr);
   return r;
}

std::string Conv(ConvertFn f, const char *from, const std::string &in, const char *to, int mode)
{
   char *out = reinterpret_cast<char *>(&out);   // must be reset
   size_t size = 0;
   bool ok = f(from, in.data(), in.size(), to, mode, &out, &size);
   return Take(ok, out, size);
}


// A converter (modes 0 to 2), or a pair of strict functions (mode 0); the
// ICU ones where ICU is present (always natively).
struct Path { const char *name; bool icu; ConvertFn convert; StrictFn toUtf16, toUtf8; };

std::vector<Path> Paths(bool convertersOnly)
{
   std::vector<Path> p;
   for (const Path &q : {Path{"Builtin", false, CodeSetBuiltinConvert, nullptr, nullptr},
                         Path{"IcuConverter", true, CodeSetIcuConvert, nullptr, nullptr},
                         Path{"Public", false, nullptr, CodeSet_Utf8ToUtf16le, CodeSet_Utf16leToUtf8},
                         Path{"IcuDirect", true, nullptr, CodeSetIcuUtf8ToUtf16le,
                              CodeSetIcuUtf16leToUtf8}}) {
      (q.icu && !CodeSetIcuAvailable()) || (convertersOnly && !q.convert) ? void() : p.push_back(q);
   }
   return p;
}

void PrintTo(const Path &p, std::ostream *os) { *os << p.name; }

// Each sequence length at its bounds; a break inside and right after a
// sixteen-byte block; text past the ICU path's stack buffer.
struct Valid { const char *label; std::string utf8; std::u16string utf16; };
const Valid kValid[] = {
   {"empty", "", u""},
   {"embedded NUL", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
   {"U+007F U+0080 U+07FF", "\x7F\xC2\x80\xDF\xBF", u"\u007F\u0080\u07FF"},
   {"U+0800 U+D7FF U+E000 U+FFFF", "\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF",
    u"\u0800\uD7FF\uE000\uFFFF"},
   {"U+10000 U+10FFFF", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", u"\U00010000\U0010FFFF"},
   {"non-ASCII at byte 15", "0123456789abcde\xC3\xA9xyz", u"0123456789abcde\u00E9xyz"},
   {"non-ASCII at byte 16", "0123456789abcdef\xE2\x82\xAC", u"0123456789abcdef\u20AC"},
   {"long, a pair at the end", std::string(5000, 'q') + "\xF0\x9F\x98\x80",
    std::u16string(5000, u'q') + u"\U0001F600"}};

// Invalid input and what modes 1 and 2 make of it: each ill-formed piece
// (the longest start of a valid sequence, else one byte) becomes one
// U+FFFD, or nothing.
template <typename Text>
struct Invalid { const char *label; std::string bytes; Text substituted, skipped; };
const Invalid<std::u16string> kInvalidUtf8[] = {
   {"lone continuation", "a\x80z", u"a\uFFFDz", u"az"},
   {"overlong C0 80", "a\xC0\x80", u"a\uFFFD\uFFFD", u"a"},
   {"overlong E0 80 80", "\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD", u""},
   {"overlong F0 80 80 80", "\xF0\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", u""},
   {"lone surrogate ED A0 80", "\xED\xA0\x80z", u"\uFFFD\uFFFD\uFFFDz", u"z"},
   {"past U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", u""},
   {"F5, FE and FF", "\xF5\x80\xFE\xFF" "b", u"\uFFFD\uFFFD\uFFFD\uFFFDb", u"b"},
   {"truncated at the end", "a\xF0\x9F\x98", u"a\uFFFD", u"a"},
   {"truncated before a lead", "\xE2\x82\xC3\xA9", u"\uFFFD\u00E9", u"\u00E9"},
   {"bad byte in a block", "0123456\x80" "89abcdefghij", u"0123456\uFFFD" u"89abcdefghij",
    u"0123456" u"89abcdefghij"}};
const std::string kSub = "\xEF\xBF\xBD";
const Invalid<std::string> kInvalidUtf16[] = {
   {"lone lead at the end", Le(u"a") + "\x3D\xD8", "a" + kSub, "a"},
   {"lead before a non-trail", "\x3D\xD8" + Le(u"A"), kSub + "A", "A"},
   {"lone trail", std::string("\x00\xDC", 2) + Le(u"b"), kSub + "b", "b"},
   {"pair reversed", std::string("\x00\xDE\x3D\xD8", 4), kSub + kSub, ""},
   {"odd length", Le(u"A") + "B", "A" + kSub, "A"},
   {"lone lead after a block", Le(u"0123456789abcdefgh") + "\x3D\xD8" + Le(u"xy"),
    "0123456789abcdefgh" + kSub + "xy", "0123456789abcdefghxy"}};

class ConvertPath : public testing::TestWithParam<Path> {
protected:
   std::string Once(bool to16, const char *in, size_t n, int mode)
   {
      const Path &p = GetParam();
      char *out = nullptr;
      size_t size = 0;
      const char *a = "UTF-8", *b = "UTF-16LE";
      bool ok = p.convert ? p.convert(to16 ? a : b, in, n, to16 ? b : a, mode, &out, &size)
                          : (to16 ? p.toUtf16 : p.toUtf8)(in, n, &out, &size);
      return Take(ok, out, size);
   }
   // UTF-16LE also at an odd address, which must not matter.
   std::string Run(bool to16, const char *in, size_t n, int mode = 0)
   {
      std::string r = Once(to16, in, n, mode), shifted = "#" + std::string(in ? in : "", n);
      EXPECT_TRUE(to16 || r == Once(false, shifted.data() + 1, n, mode)) << "at an odd address";
      return r;
   }
   std::string C(const char *from, const std::string &in, const char *to, int mode)
   { return Conv(GetParam().convert, from, in, to, mode); }
};

TEST_P(ConvertPath, ValidTextInEveryModeInvalidTextByMode)
{
   for (int mode = 0; mode < (GetParam().convert ? 3 : 1); mode++) {
      SCOPED_TRACE(testing::Message() << "mode " << mode);
      for (const Valid &v : kValid) {
         const std::string le = Le(v.utf16);
         EXPECT_EQ(le, Run(true, v.utf8.data(), v.utf8.size(), mode)) << v.label;
         EXPECT_EQ(v.utf8, Run(false, le.data(), le.size(), mode)) << v.label;
         // The validity checks follow the converters.
         EXPECT_TRUE(CodeSet_IsValidUtf8(v.utf8.data(), v.utf8.size()) &&
                     CodeSet_IsValidUtf16le(le.data(), le.size())) << v.label;
      }
      for (const auto &c : kInvalidUtf8) {
         EXPECT_EQ(mode == 0 ? kFailed : Le(mode == 1 ? c.substituted : c.skipped),
                   Run(true, c.bytes.data(), c.bytes.size(), mode)) << c.label;
         EXPECT_FALSE(CodeSet_IsValidUtf8(c.bytes.data(), c.bytes.size())) << c.label;
      }
      for (const auto &c : kInvalidUtf16) {
         EXPECT_EQ(mode == 0 ? kFailed : mode == 1 ? c.substituted : c.skipped,
                   Run(false, c.bytes.data(), c.bytes.size(), mode)) << c.label;
         EXPECT_FALSE(CodeSet_IsValidUtf16le(c.bytes.data(), c.bytes.size())) << c.label;
      }
   }
   EXPECT_EQ("", Run(true, nullptr, 0)) << "no bytes: the empty text";
   EXPECT_EQ(kFailed, Run(true, nullptr, 1)) << "a length without bytes";
}

class ConverterPath : public ConvertPath {};

TEST_P(ConverterPath, NamesArgumentsAndReuse)
{
   // ICU's converters are kept for reuse: neither the start of a sequence
   // left by a failed conversion nor a mode may stay with them.
   for (int round = 0; round < 2; round++) {
      EXPECT_EQ(kFailed, C("UTF-8", "\xE2\x82", "UTF-16LE", 0));
      EXPECT_EQ(Le(u"\uFFFD"), C("UTF-8", "\xAC", "UTF-16LE", 1));
      EXPECT_EQ("A", C("UTF-16LE", Le(u"A"), "UTF-8", 2));
      EXPECT_EQ(kFailed, C("UTF-8", "a\xFF", "UTF-16LE", 0));
   }
   const struct { const char *from, *to; int mode; } bad[] = {
      {"no-such", "UTF-16LE", 0}, {"UTF-8", "no-such", 0}, {nullptr, "UTF-16LE", 0},
      {"UTF-8", nullptr, 0}, {"UTF-8", "UTF-16LE", 3}, {"UTF-8", "UTF-16LE", -1}};
   for (const auto &b : bad) {
      EXPECT_EQ(kFailed, C(b.from, "abc", b.to, b.mode)) << (b.to ? b.to : "null") << b.mode;
   }
   size_t size = 0;
   EXPECT_FALSE(GetParam().convert("UTF-8", "a", 1, "UTF-16LE", 0, nullptr, &size));
   EXPECT_EQ(Le(u"\u00E9"), C("utf-8", "\xC3\xA9", "utf16le", 0)) << "any case";
   EXPECT_EQ(kFailed, C("UTF-8", "a\xC0\x80", "UTF-8", 0)) << "UTF-8 to UTF-8";
   EXPECT_EQ("a" + kSub + kSub, C("UTF-8", "a\xC0\x80", "UTF-8", 1)) << "UTF-8 to UTF-8";
   EXPECT_EQ("abc", C(CodeSet_CurrentName(), "abc", "UTF-8", 0)) << "the current code page";
#ifdef _WIN32
   EXPECT_EQ("windows-" + std::to_string(GetACP()), CodeSet_CurrentName());
#else
   EXPECT_STREQ("UTF-8", CodeSet_CurrentName());
#endif
}

const auto kName = [](const auto &info) { return std::string(info.param.name); };
INSTANTIATE_TEST_SUITE_P(Paths, ConvertPath, testing::ValuesIn(Paths(false)), kName);
INSTANTIATE_TEST_SUITE_P(Paths, ConverterPath, testing::ValuesIn(Paths(true)), kName);

TEST(CodesetDeathTest, DontUseIcuSwitchesToTheBuiltinConverters)
{
   // In a child, as the switch is one-way. Natively only ICU knows 1252.
   auto child = [] {
      CodeSet_DontUseIcu();
      char *out = nullptr;
      size_t size = 0;
      bool ok = CodeSet_Utf8ToUtf16le("\xC3\xA9", 2, &out, &size);
      ok = Take(ok, out, size) == Le(u"\u00E9");
#ifndef _WIN32
      ok = ok && Conv(CodeSet_Convert, "windows-1252", "a", "UTF-8", 0) == kFailed;
#endif
      exit(!CodeSet_IsUsingIcu() && ok ? 0 : 1);
   };
   EXPECT_EXIT(child(), testing::ExitedWithCode(0), "");
}

#ifndef _WIN32
TEST(Codeset, IcuIsTheDefaultNativelyAndKnowsCodePages)
{
   EXPECT_TRUE(CodeSet_IsUsingIcu());
   EXPECT_EQ("\xC3\xA9\xE2\x82\xAC", Conv(CodeSet_Convert, "windows-1252", "\xE9\x80", "UTF-8", 0));
   // U+2603 is not in windows-1252: mode 1 gives ICU's substitution byte.
   const std::string byMode[] = {kFailed, "a\x1A", "a"};
   for (int mode = 0; mode < 3; mode++) {
      EXPECT_EQ(byMode[mode], Conv(CodeSetIcuConvert, "UTF-8", "a\xE2\x98\x83", "cp1252", mode))
         << "mode " << mode;
   }
}
#else
TEST(Codeset, CodePagesRoundTripAndRefuseBestFit)
{
   // Windows maps 1252's undefined 0x81 to U+0081 and back; U+0101 is in
   // 1252 only by best fit ('a'), refused; 932's lone lead 0x82 is skipped.
   const struct { const char *from; std::string in; const char *to; int mode; std::string out; }
      cases[] = {
      {"windows-1252", "\xE9\x80\x81", "UTF-16LE", 0, Le(u"\u00E9\u20AC\u0081")},
      {"UTF-8", "\xC3\xA9\xE2\x82\xAC\xC2\x81", "WINDOWS-1252", 0, "\xE9\x80\x81"},
      {"UTF-8", "x\xE2\x98\x83y", "cp1252", 0, kFailed}, {"UTF-8", "x\xC4\x81y", "cp1252", 0, kFailed},
      {"UTF-8", "x\xC4\x81y", "cp1252", 1, "x?y"}, {"UTF-8", "x\xE2\x98\x83y", "cp1252", 2, "xy"},
      {"windows-932", "A\x82\xA0\x82" "B", "UTF-16LE", 2, Le(u"A\u3042B")},
      {"windows-12a", "a", "UTF-8", 0, kFailed},
      {"UTF-16LE", Le(u"x") + std::string("\x00\xD8", 2), "windows-1252", 0, kFailed}};
   for (const auto &c : cases) {
      EXPECT_EQ(c.out, Conv(CodeSetBuiltinConvert, c.from, c.in, c.to, c.mode))
         << c.from << " " << c.in << " mode " << c.mode;
   }
   // Without MB_ERR_INVALID_CHARS the byte count after a round trip decides:
   // it sees the lone lead byte, not 1253's undefined 0xAA (one '?' back).
   const struct { unsigned cp; const char *in; bool flag, ok; } checks[] = {
      {932, "A\x82", false, false}, {932, "A\x82\xA0", false, true},
      {1253, "\xAA", true, false}, {1253, "\xAA", false, true}};
   for (const auto &c : checks) {
      char *out = nullptr;
      size_t size = 0;
      bool ok = CodeSetCodePageToUtf16(c.cp, c.in, strlen(c.in), 0, c.flag, &out, &size);
      EXPECT_EQ(c.ok, Take(ok, out, size) != kFailed) << c.cp << " flag " << c.flag;
   }
}
#endif

}  // namespace
