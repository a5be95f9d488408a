#include "common/msiUtilText.h"

namespace {

template <typename S>
S NextToken(const S &source, const S &delimiter, uint32_t &pos)
{
   const size_t length = source.size();
   if (pos >= length) {
      return S();
   }
   // find() of an empty delimiter matches at pos itself: the empty token,
   // and the one-character advance below moves past it.
   const size_t found = source.find(delimiter, pos);
   if (found == S::npos) {
      S token = source.substr(pos);
      pos = static_cast<uint32_t>(length);
      return token;
   }
   S token = source.substr(pos, found - pos);
   pos = static_cast<uint32_t>(found + 1);
   return token;
}

} // namespace

std::string Util_NextToken(std::string source, std::string delimiter, uint32_t &pos)
{
   return NextToken(source, delimiter, pos);
}

WideString Util_NextTokenW(WideString source, WideString delimiter, uint32_t &pos)
{
   return NextToken(source, delimiter, pos);
}
