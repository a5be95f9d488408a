// Checks and edits of a load-order group's tag list.
#include "common/loadOrderList.h"

#include <cstring>

namespace {

// Whether word 0 counts no more tags than `wordCount` words hold behind it
// with `spare` words to spare.
bool Fits(const uint32_t *words, size_t wordCount, size_t spare)
{
   return words != nullptr && wordCount > spare && words[0] <= wordCount - 1 - spare;
}

}  // namespace

uint32_t LoadOrderList_LoadWord(const uint8_t *bytes)
{
   // Byte by byte, so that the stored order is read the same on any host.
   return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
          static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

bool LoadOrderList_IsLengthValid(uint32_t byteLength)
{
   return byteLength >= 4 && byteLength % 4 == 0;
}

LoadOrderValidation LoadOrderList_Validate(const uint8_t *bytes, uint32_t byteLength)
{
   if (!LoadOrderList_IsLengthValid(byteLength) || bytes == nullptr) {
      return {LoadOrderCheck::MalformedLength, 0, 0};
   }
   uint32_t count = LoadOrderList_LoadWord(bytes);
   uint32_t expected = byteLength / 4 - 1;
   return {count == expected ? LoadOrderCheck::Valid : LoadOrderCheck::MalformedCount, count,
           expected};
}

size_t LoadOrderList_Find(const uint32_t *words, size_t wordCount, uint32_t tag)
{
   if (!Fits(words, wordCount, 0)) {
      return 0;
   }
   for (size_t i = 1; i <= words[0]; i++) {
      if (words[i] == tag) {
         return i;
      }
   }
   return 0;
}

LoadOrderEdit LoadOrderList_Remove(uint32_t *words, size_t wordCount, uint32_t tag)
{
   if (!Fits(words, wordCount, 0)) {
      return LoadOrderEdit::NoRoom;
   }
   size_t at = LoadOrderList_Find(words, wordCount, tag);
   if (at == 0) {
      return LoadOrderEdit::NotListed;
   }
   size_t count = words[0];
   memmove(words + at, words + at + 1, (count - at) * sizeof *words);
   // The freed word is no longer part of the list; clear it so that a
   // caller writing the whole array could not bring the tag back.
   words[count] = 0;
   words[0] = static_cast<uint32_t>(count - 1);
   return LoadOrderEdit::Done;
}

LoadOrderEdit LoadOrderList_Insert(uint32_t *words, size_t wordCount, uint32_t tag,
                                   uint32_t referenceTag)
{
   if (!Fits(words, wordCount, 1)) {
      return LoadOrderEdit::NoRoom;
   }
   size_t count = words[0];
   // Only the words before the last are searched: behind the last word is
   // the end, where a tag goes anyway when its reference is not listed.
   size_t at = count + 1;
   for (size_t i = 1; i < count; i++) {
      if (words[i] == referenceTag) {
         at = i + 1;
         break;
      }
   }
   memmove(words + at + 1, words + at, (count + 1 - at) * sizeof *words);
   words[at] = tag;
   words[0] = static_cast<uint32_t>(count + 1);
   return LoadOrderEdit::Done;
}
