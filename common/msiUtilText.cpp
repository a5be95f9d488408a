#include "common/msiUtilText.h"

namespace {

template <typename S>
S NextToken(const S &source, const S &delimiter, uint32_t &pos)
{
   const size_t length = source.size();
   if (pos >= length) {
      // A position already past the end is pulled back to it, so a caller
      // looping while it is below the length stops either way.
      pos = static_cast<uint32_t>(length);
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

namespace {

// Where each character of the packed code comes from in the braced text.
const unsigned char kPackedFrom[MSI_PACKED_CODE_SIZE - 1] = {
   8,  7,  6,  5,  4,  3,  2,  1,                     // first group, reversed
   13, 12, 11, 10,                                    // second, reversed
   18, 17, 16, 15,                                    // third, reversed
   21, 20, 23, 22,                                    // fourth, pairs swapped
   26, 25, 28, 27, 30, 29, 32, 31, 34, 33, 36, 35,    // fifth, pairs swapped
};

bool IsHexDigit(char c)
{
   return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool IsBracedCode(const char *code)
{
   // Stops at the terminator or at the character after the 38th, whichever
   // comes first: a long text is never walked to its end.
   size_t length = 0;
   while (length <= MSI_PRODUCT_CODE_LENGTH && code[length] != '\0') {
      length++;
   }
   if (length != MSI_PRODUCT_CODE_LENGTH) {
      return false;
   }
   for (size_t i = 0; i < MSI_PRODUCT_CODE_LENGTH; i++) {
      const char c = code[i];
      bool ok;
      if (i == 0) {
         ok = c == '{';
      } else if (i == MSI_PRODUCT_CODE_LENGTH - 1) {
         ok = c == '}';
      } else if (i == 9 || i == 14 || i == 19 || i == 24) {
         ok = c == '-';
      } else {
         ok = IsHexDigit(c);
      }
      if (!ok) {
         return false;
      }
   }
   return true;
}

} // namespace

bool MsiUtil_PackProductCode(const char *productCode, char *packed, size_t packedSize)
{
   if (packed == nullptr) {
      return false;
   }
   if (packedSize > 0) {
      packed[0] = '\0';
   }
   if (productCode == nullptr || packedSize < MSI_PACKED_CODE_SIZE ||
       !IsBracedCode(productCode)) {
      return false;
   }
   for (size_t i = 0; i < sizeof kPackedFrom; i++) {
      packed[i] = productCode[kPackedFrom[i]];
   }
   packed[sizeof kPackedFrom] = '\0';
   return true;
}
