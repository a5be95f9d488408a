// libFuzzer harness: random bytes as a stored list value plus random tags.
// The value is checked, then both edits run on it as words, whatever its
// count word says, in vector copies (allocated to exactly their words, so
// ASan sees any access past them). Aborts when an edit's result or words
// differ from a plain model of common/loadOrderList.h's promises, or an
// edited list would not pass the check.
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

void CheckValidate(const uint8_t *value, size_t size)
{
   std::unique_ptr<uint8_t[]> exact(new uint8_t[size]);   // so ASan sees reads past it
   memcpy(exact.get(), value, size);
   const uint32_t length = static_cast<uint32_t>(size);
   const LoadOrderValidation v = LoadOrderList_Validate(exact.get(), length);
   const bool lengthOk = size >= 4 && size % 4 == 0;
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

// Compares an edit with the model's words and result; an edited list's
// bytes must pass the check again.
void Compare(const Words &got, LoadOrderEdit result, const Words &want, LoadOrderEdit expected,
             const char *what)
{
   Check(result == expected && got == want, what);
   if (result == LoadOrderEdit::Done) {
      std::vector<uint8_t> bytes(4 * (got[0] + 1));
      memcpy(bytes.data(), got.data(), bytes.size());   // little-endian hosts only
      LoadOrderValidation v = LoadOrderList_Validate(bytes.data(), uint32_t(bytes.size()));
      Check(v.result == LoadOrderCheck::Valid, "an edited list fails the check");
   }
}

// The model: the first occurrence of `tag` taken out, the rest moved down
// and the freed word cleared.
void CheckRemove(const Words &before, uint32_t tag)
{
   Words got = before, want = before;
   const LoadOrderEdit result = LoadOrderList_Remove(got.data(), got.size(), tag);
   LoadOrderEdit expected = LoadOrderEdit::NoRoom;
   if (Fits(before, 0)) {
      const auto end = want.begin() + 1 + want[0], at = std::find(want.begin() + 1, end, tag);
      expected = at == end ? LoadOrderEdit::NotListed : LoadOrderEdit::Done;
      if (at != end) {
         std::rotate(at, at + 1, end);
         *(end - 1) = 0;
         want[0]--;
      }
   }
   Compare(got, result, want, expected, "removal");
}

// The model: `tag` right behind the first occurrence of the reference, or
// at the end, in the free word behind the list; words past that untouched.
void CheckInsert(const Words &before, uint32_t tag, uint32_t reference)
{
   Words got = before, want = before;
   const LoadOrderEdit result = LoadOrderList_Insert(got.data(), got.size(), tag, reference);
   LoadOrderEdit expected = LoadOrderEdit::NoRoom;
   if (Fits(before, 1)) {
      const auto end = want.begin() + 1 + want[0], ref = std::find(want.begin() + 1, end, reference);
      const auto at = ref == end ? end : ref + 1;
      std::rotate(at, end, end + 1);
      *at = tag;
      want[0]++;
      expected = LoadOrderEdit::Done;
   }
   Compare(got, result, want, expected, "insertion");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   if (size < kHeader || size - kHeader > (1u << 20)) {
      return 0;
   }
   const uint8_t *value = data + kHeader;
   const size_t valueSize = size - kHeader;
   CheckValidate(value, valueSize);

   Words words(valueSize / 4);
   for (size_t i = 0; i < words.size(); i++) {
      words[i] = Word(value + 4 * i);
   }
   uint32_t tag = Word(data + 3), reference = Word(data + 7);
   if (words.size() > 1) {
      // Picks among all words behind the count, listed or not.
      tag = data[0] & 1 ? words[1 + data[1] % (words.size() - 1)] : tag;
      reference = data[0] & 2 ? words[1 + data[2] % (words.size() - 1)] : reference;
   }
   CheckRemove(words, tag);
   CheckInsert(words, tag, reference);
   // The same list with a spare word, as the installer reads it to insert.
   Words roomy = words;
   roomy.push_back(data[0]);
   CheckInsert(roomy, tag, reference);
   return 0;
}
