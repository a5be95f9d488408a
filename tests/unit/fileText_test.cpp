#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/fileText.h"

namespace {

WideString W(const std::string &ascii)
{
   return WideString(ascii.begin(), ascii.end());
}

std::string A(const WideString &wide)
{
   return std::string(wide.begin(), wide.end());
}

}  // namespace

TEST(FileText, TrimRemovesEveryClassicBlankAtOneEnd)
{
   std::string s = " \t\r\n\v\fa b\t\r\n\v\f ";
   EXPECT_EQ("a b\t\r\n\v\f ", Util_TrimLeft(s));
   EXPECT_EQ("a b", Util_TrimRight(s));
   std::string blank = " \t ";
   EXPECT_EQ("", Util_TrimLeft(blank));
   std::string kept = "\xC2\xA0x\xC2\xA0";   // no-break space is not a blank
   EXPECT_EQ(kept, Util_TrimRight(Util_TrimLeft(kept)));
}

TEST(FileText, DeleteListPairsStopAtAnEmptyTokenOrAnUnknownType)
{
   const struct {
      const char *label, *data;
      std::vector<std::string> entries;   // "kind:type:path", kind F, D or ?
   } cases[] = {
      {"empty", "", {}},
      {"one file", "file;C:\\a.dll", {"F:file:C:\\a.dll"}},
      {"trailing ;", "file;C:\\a;folder;C:\\b;", {"F:file:C:\\a", "D:folder:C:\\b"}},
      {"type without path", "file;C:\\a;folder", {"F:file:C:\\a"}},
      {"second path empty", "file;C:\\a;folder;;file;C:\\c", {"F:file:C:\\a"}},
      {"empty type first", ";file;C:\\a", {}},
      {"capitalised types", "folder;C:\\b;File;C:\\a;file;C:\\c", {"D:folder:C:\\b", "?:File:C:\\a"}},
      {"blanks are not trimmed", " file;C:\\a", {"?: file:C:\\a"}},
      {"FOLDER", "FOLDER;x", {"?:FOLDER:x"}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      std::vector<std::string> got;
      for (const DeleteEntry &e : Util_ParseDeleteList(W(c.data))) {
         const char kind = e.kind == DeleteKind::File ? 'F' : e.kind == DeleteKind::Folder ? 'D' : '?';
         got.push_back(std::string(1, kind) + ":" + A(e.type) + ":" + A(e.path));
      }
      EXPECT_EQ(c.entries, got);
   }
}

TEST(FileText, PropertyFileBesideThePackage)
{
   EXPECT_EQ("C:\\pkg\\demo.txt", Util_PropertyFilePath("C:\\pkg\\demo.msi"));
   EXPECT_EQ("C:\\setup.txt.d\\p.txt", Util_PropertyFilePath("C:\\setup.msi.d\\p.msi"));
   EXPECT_EQ("C:\\P.MSI", Util_PropertyFilePath("C:\\P.MSI"));
   EXPECT_EQ("a.txtsi", Util_PropertyFilePath("a.msisi"));
}

TEST(FileText, PropertyFileLines)
{
   using Pairs = std::vector<std::pair<std::string, std::string>>;
   const struct {
      const char *label;
      std::string contents;
      Pairs assignments;
   } cases[] = {
      {"comment, value with =", "; preset\nINSTALLDIR=D:\\Tools\nOPT=a=b\n",
       {{"INSTALLDIR", "D:\\Tools"}, {"OPT", "a=b"}}},
      {"blanks and a commented assignment", "   \n;INSTALLDIR=X\n\t\n", {}},
      {"trimmed both sides", " A = b = c \n", {{"A", "b = c"}}},
      {"no = is a name with the empty value", "FLAG\n", {{"FLAG", ""}}},
      {"empty name", "=value\n", {}},
      {"no final line break", "A=1\nB=2", {{"A", "1"}, {"B", "2"}}},
      {"CR LF", "A=1\r\nB=2\r\n", {{"A", "1"}, {"B", "2"}}},
      {"comment after blanks", "  ;A=1\n", {}},
      {"bytes passed on as they are", "N=\xFF\xFE\n", {{"N", "\xFF\xFE"}}},
      {"NUL inside a value", std::string("N=a\0b\n", 6), {{"N", std::string("a\0b", 3)}}},
      {"empty", "", {}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      Pairs got;
      for (const PropertyAssignment &a : Util_ParsePropertyFile(c.contents)) {
         got.emplace_back(a.name, a.value);
      }
      EXPECT_EQ(c.assignments, got);
   }
}

TEST(FileText, RequiredSpace)
{
   const struct {
      const char *text;
      int64_t bytes;
   } cases[] = {
      {"1,500,000", 1500000}, {"abc", 0}, {"", 0}, {"0", 0}, {"  +42x", 42}, {"-7", -7},
      {"12 34", 12}, {",,,5", 5}, {"9223372036854775807", INT64_MAX},
      {"99999999999999999999", INT64_MAX}, {"-99999999999999999999", INT64_MIN},
   };
   for (const auto &c : cases) {
      EXPECT_EQ(c.bytes, Util_ParseRequiredSpace(c.text)) << c.text;
   }
}

TEST(FileText, InstallDirChecksInOrder)
{
   const std::string long259 = "C:\\" + std::string(256, 'x');
   const struct {
      const char *label;
      std::string path;
      bool allowNetwork, remote;
      int result;
      bool asked;   // whether the drive type was asked for
   } cases[] = {
      {"empty", "", false, false, INSTALLDIR_EMPTY, false},
      {"valid", "C:\\P", false, false, INSTALLDIR_VALID, true},
      {"remote drive", "N:\\P", false, true, INSTALLDIR_REMOTE, true},
      {"remote drive allowed", "N:\\P", true, true, INSTALLDIR_VALID, false},
      {"UNC", "\\\\srv\\share", false, false, INSTALLDIR_REMOTE, false},
      {"UNC allowed", "\\\\srv\\share", true, false, INSTALLDIR_VALID, false},
      {"semicolon", "C:\\a;b", false, false, INSTALLDIR_SEMICOLON, true},
      {"259 bytes", long259, false, false, INSTALLDIR_VALID, true},
      {"260 bytes", long259 + "y", false, false, INSTALLDIR_TOO_LONG, true},
      {"semicolon and too long", long259 + ";", false, false, INSTALLDIR_SEMICOLON, true},
      {"UNC with ; allowed", "\\\\srv\\a;b", true, false, INSTALLDIR_SEMICOLON, false},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      std::string askedRoot;
      const int result = Util_CheckInstallDirText(c.path, c.allowNetwork, [&](const std::string &root) {
         askedRoot = root;
         return c.remote;
      });
      EXPECT_EQ(c.result, result);
      EXPECT_EQ(c.asked ? c.path.substr(0, 1) + ":" : "", askedRoot);
   }
}

TEST(FileText, Utf8Check)
{
   EXPECT_TRUE(Util_IsUtf8(""));
   EXPECT_TRUE(Util_IsUtf8("a\xC3\xA9\xF0\x9F\x98\x80"));
   EXPECT_FALSE(Util_IsUtf8("\xFF"));
   EXPECT_FALSE(Util_IsUtf8("\xC3"));        // cut short
   EXPECT_FALSE(Util_IsUtf8("\xED\xA0\x80"));   // a surrogate
}
