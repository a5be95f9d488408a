// Names of the encodings the library converts between.
#include "lib/unicode/unicodeSimpleTypes.h"

#include "lib/misc/codeset.h"
#include "lib/misc/panic.h"

const char *Unicode_EncodingName(StringEncoding encoding)
{
   switch (encoding) {
   case STRING_ENCODING_UTF8:
      return "UTF-8";
   case STRING_ENCODING_UTF16_LE:
      return "UTF-16LE";
   case STRING_ENCODING_DEFAULT:
      return CodeSet_CurrentName();
   }
   // Only a cast can make another value: a programming error.
   NOT_REACHED();
}
