// libFuzzer harness: random bytes as a stored list value plus random tags.
// The value is checked, then both edits run on it as words, whatever its
// count word says, in vector copies (allocated to exactly their words, so
// ASan sees any access past them). Aborts when a result breaks a promise of
// common/loadOrderList.h or an edited list would not pass the check.
//
// Input: byte 0 flags (bit 0: the tag is a listed word, picked by byte 1;
// bit 1: the reference likewise, by byte 2), bytes 3-6 the tag, 7-10 the
// reference, the rest the value.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "common/loadOrderList.h"

namespace {

using Words = std::vector<uint32_t>;

const size_t kHeader = 11;

void Check(bool ok, const char *what)
{
   if (!ok) {
      fprintf(stderr, "loadOrderList_fuzz: %s\n", what);
      abort();
   }
}

uint32_t Word(const uint8_t *p)
{
   return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool Fits(const Words &w, size_t spare)
{
   return w.size() > spare && w[0] <= w.size() - 1 - spare;
}

// The list words 1 to N of a list that fits its array.
Words Tags(const Words &w)
{
   return Words(w.begin() + 1, w.begin() + 1 + w[0]);
}

// The bytes that would be written after an edit must pass the check again.
void CheckWritten(const Words &w)
{
   std::vector<uint8_t> bytes(4 * (w[0] + 1));
   memcpy(bytes.data(), w.data(), bytes.size());   // little-endian hosts only
   LoadOrderValidation v = LoadOrderList_Validate(bytes.data(), uint32_t(bytes.size()));
   Check(v.result == LoadOrderCheck::Valid && v.count == w[0], "an edited list fails the check");
}

void CheckValidate(const uint8_t *value, size_t size)
{
   std::unique_ptr<uint8_t[]> exact(new uint8_t[size]);   // so ASan sees reads past it
   memcpy(exact.get(), value, size);
   uint32_t length = static_cast<uint32_t>(size);
   LoadOrderValidation v = LoadOrderList_Validate(exact.get(), length);
   bool lengthOk = size >= 4 && size % 4 == 0;
   Check(LoadOrderList_IsLengthValid(length) == lengthOk, "length check");
   if (!lengthOk) {
      Check(v.result == LoadOrderCheck::MalformedLength, "a bad length passed");
      return;
   }
   Check(LoadOrderList_LoadWord(exact.get()) == Word(value), "word 0 in the wrong byte order");
   Check(v.count == Word(value) && v.expected == length / 4 - 1, "count or expected count");
   Check((v.result == LoadOrderCheck::Valid) == (v.count == length / 4 - 1),
         "validity disagrees with the count");
}

void CheckRemove(const Words &before, uint32_t tag)
{
   Words after = before;
   LoadOrderEdit r = LoadOrderList_Remove(after.data(), after.size(), tag);
   if (!Fits(before, 0)) {
      Check(r == LoadOrderEdit::NoRoom && after == before, "removal from a list past its array");
      return;
   }
   Words tags = Tags(before);
   auto at = std::find(tags.begin(), tags.end(), tag);
   if (at == tags.end()) {
      Check(r == LoadOrderEdit::NotListed && after == before, "removal of an unlisted tag");
      return;
   }
   Check(r == LoadOrderEdit::Done, "removal of a listed tag failed");
   tags.erase(at);
   Check(after[0] == before[0] - 1 && Tags(after) == tags,
         "removal took out something else than the first occurrence");
   Check(after[before[0]] == 0, "the freed word still holds a tag");
   Check(std::equal(after.begin() + before[0] + 1, after.end(), before.begin() + before[0] + 1),
         "removal touched a word behind the list");
   CheckWritten(after);
}

void CheckInsert(const Words &before, uint32_t tag, uint32_t reference)
{
   Words after = before;
   LoadOrderEdit r = LoadOrderList_Insert(after.data(), after.size(), tag, reference);
   if (!Fits(before, 1)) {
      Check(r == LoadOrderEdit::NoRoom && after == before, "insertion without room");
      return;
   }
   Check(r == LoadOrderEdit::Done, "insertion with room failed");
   Words tags = Tags(before);
   auto ref = std::find(tags.begin(), tags.end(), reference);
   size_t at = ref == tags.end() ? tags.size() : static_cast<size_t>(ref - tags.begin()) + 1;
   Check(after[0] == before[0] + 1, "count after insertion");
   Words got = Tags(after);
   Check(got[at] == tag, "inserted tag not behind its reference or at the end");
   Check(ref == tags.end() || got[at - 1] == reference, "inserted tag not behind its reference");
   got.erase(got.begin() + static_cast<std::ptrdiff_t>(at));
   Check(got == tags, "insertion reordered the other tags");
   Check(std::equal(after.begin() + after[0] + 1, after.end(), before.begin() + after[0] + 1),
         "insertion touched a word behind the free one");
   CheckWritten(after);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   if (size < kHeader || size - kHeader > (1u << 20)) {
      return 0;
   }
   const uint8_t *value = data + kHeader;
   size_t valueSize = size - kHeader;
   CheckValidate(value, valueSize);

   Words words(valueSize / 4);
   for (size_t i = 0; i < words.size(); i++) {
      words[i] = Word(value + 4 * i);
   }
   uint32_t tag = Word(data + 3);
   uint32_t reference = Word(data + 7);
   if (words.size() > 1) {
      // Picks among all words behind the count, listed or not.
      if (data[0] & 1) {
         tag = words[1 + data[1] % (words.size() - 1)];
      }
      if (data[0] & 2) {
         reference = words[1 + data[2] % (words.size() - 1)];
      }
   }

   CheckRemove(words, tag);
   CheckInsert(words, tag, reference);
   // The same list with a spare word, as the installer reads it to insert.
   Words roomy = words;
   roomy.push_back(data[0]);
   CheckInsert(roomy, tag, reference);
   return 0;
}
