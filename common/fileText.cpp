#include "common/fileText.h"

#include <limits>

#include "lib/unicode/unicodeSimpleBase.h"

namespace {

// The classic locale's space class, without asking the locale.
bool IsBlank(char c)
{
   return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string Trimmed(std::string s)
{
   return Util_TrimRight(Util_TrimLeft(s));
}

DeleteKind KindOf(const WideString &type)
{
   static const WideString file = {'f', 'i', 'l', 'e'};
   static const WideString folder = {'f', 'o', 'l', 'd', 'e', 'r'};
   return type == file ? DeleteKind::File : type == folder ? DeleteKind::Folder : DeleteKind::Unknown;
}

}  // namespace

bool Util_IsUtf8(const std::string &text)
{
   return Unicode_IsBufferValid(text.data(), static_cast<ptrdiff_t>(text.size()),
                                STRING_ENCODING_UTF8);
}

std::string &Util_TrimLeft(std::string &s)
{
   size_t n = 0;
   while (n < s.size() && IsBlank(s[n])) {
      n++;
   }
   s.erase(0, n);
   return s;
}

std::string &Util_TrimRight(std::string &s)
{
   size_t n = s.size();
   while (n > 0 && IsBlank(s[n - 1])) {
      n--;
   }
   s.erase(n);
   return s;
}

std::vector<DeleteEntry> Util_ParseDeleteList(const WideString &data)
{
   const WideString semicolon(1, ';');
   std::vector<DeleteEntry> entries;
   uint32_t pos = 0;
   for (;;) {
      WideString type = Util_NextTokenW(data, semicolon, pos);
      if (type.empty()) {
         break;
      }
      WideString path = Util_NextTokenW(data, semicolon, pos);
      if (path.empty()) {
         break;
      }
      const DeleteKind kind = KindOf(type);
      entries.push_back({kind, std::move(type), std::move(path)});
      if (kind == DeleteKind::Unknown) {
         break;
      }
   }
   return entries;
}

std::string Util_PropertyFilePath(const std::string &packagePath)
{
   std::string path = packagePath;
   for (size_t at = path.find(".msi"); at != std::string::npos; at = path.find(".msi", at + 4)) {
      path.replace(at, 4, ".txt");
   }
   return path;
}

std::vector<PropertyAssignment> Util_ParsePropertyFile(const std::string &contents)
{
   std::vector<PropertyAssignment> assignments;
   uint32_t pos = 0;
   while (pos < contents.size()) {
      const std::string line = Trimmed(Util_NextToken(contents, "\n", pos));
      if (line.empty() || line[0] == ';') {
         continue;
      }
      uint32_t at = 0;
      std::string name = Trimmed(Util_NextToken(line, "=", at));
      std::string value = Trimmed(Util_NextToken(line, "\n", at));
      if (!name.empty()) {
         assignments.push_back({std::move(name), std::move(value)});
      }
   }
   return assignments;
}

int64_t Util_ParseRequiredSpace(std::string text)
{
   std::string digits;
   for (char c : text) {
      if (c != ',') {
         digits += c;
      }
   }
   return Util_ReadDecimal(digits, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max());
}

int Util_CheckInstallDirText(const std::string &path, bool allowNetwork,
                             const std::function<bool(const std::string &root)> &isRemoteDrive)
{
   if (path.empty()) {
      return INSTALLDIR_EMPTY;
   }
   if (!allowNetwork &&
       (path.compare(0, 2, "\\\\") == 0 || isRemoteDrive(std::string(1, path[0]) + ":"))) {
      return INSTALLDIR_REMOTE;
   }
   if (path.find(';') != std::string::npos) {
      return INSTALLDIR_SEMICOLON;
   }
   if (path.size() > INSTALLDIR_MAX_LENGTH) {
      return INSTALLDIR_TOO_LONG;
   }
   return INSTALLDIR_VALID;
}
