// libFuzzer harness: random bytes as a stored list value plus random tags.
// The value is checked, then both edits run on it as words, whatever its
// count word says, in vectors of exactly their words (so ASan sees any
// access past them). Aborts when a result or the edited words differ from
// what common/loadOrderList.h promises, said with vector operations.
//
// Input: byte 0 flags (bit 0: the tag is a word of the value, picked by
// byte 1; bit 1: the reference likewise, by byte 2), bytes 3-6 the tag,
// 7-10 the reference, the rest the value.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "common/loadOrderList.h"

namespace {

using Words = std::vector<uint32_t>;

void Check(bool ok, const char *what)
{
   if (!ok) {
      fprintf(stderr, "loadOrderList_fuzz: %s\n", what);
      abort();
   }
}

uint32_t Word(const uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

// The edit on a copy against the expected words: the listed tags after the
// edit, the words behind them as they were (the freed one cleared).
void Edit(const Words &before, uint32_t tag, uint32_t reference, bool insert)
{
   Words got = before;
   const LoadOrderEdit result = insert ? LoadOrderList_Insert(got.data(), got.size(), tag, reference)
                                       : LoadOrderList_Remove(got.data(), got.size(), tag);
   const size_t spare = insert ? 1 : 0;
   if (before.size() <= spare || before[0] > before.size() - 1 - spare) {
      Check(result == LoadOrderEdit::NoRoom && got == before, "an edit without room");
      return;
   }
   Words tags(before.begin() + 1, before.begin() + 1 + before[0]);
   auto at = std::find(tags.begin(), tags.end(), insert ? reference : tag);
   if (insert) {
      tags.insert(at == tags.end() ? at : at + 1, tag);
   } else if (at == tags.end()) {
      Check(result == LoadOrderEdit::NotListed && got == before, "removal of an unlisted tag");
      return;
   } else {
      tags.erase(at);
   }
   Words want = {uint32_t(tags.size())};
   want.insert(want.end(), tags.begin(), tags.end());
   want.resize(before.size(), 0);   // a removal clears the freed word
   const size_t behind = 1 + before[0] + spare;   // the first word no edit may touch
   std::copy(before.begin() + behind, before.end(), want.begin() + behind);
   Check(result == LoadOrderEdit::Done && got == want, insert ? "insertion" : "removal");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   if (size < 11 || size - 11 > (1u << 20)) {
      return 0;
   }
   const std::vector<uint8_t> value(data + 11, data + size);   // exactly its bytes
   const uint32_t length = uint32_t(value.size());
   const LoadOrderValidation v = LoadOrderList_Validate(value.data(), length);
   const bool lengthOk = length >= 4 && length % 4 == 0;
   Check(LoadOrderList_IsLengthValid(length) == lengthOk, "length check");
   Check(lengthOk || v.result == LoadOrderCheck::MalformedLength, "a bad length passed");
   Check(!lengthOk || (v.count == Word(value.data()) && v.expected == length / 4 - 1 &&
                       (v.result == LoadOrderCheck::Valid) == (v.count == v.expected)),
         "count, expected count or validity");

   Words words(value.size() / 4);
   for (size_t i = 0; i < words.size(); i++) {
      words[i] = Word(&value[4 * i]);
   }
   uint32_t tag = Word(data + 3), reference = Word(data + 7);
   if (words.size() > 1) {
      tag = data[0] & 1 ? words[1 + data[1] % (words.size() - 1)] : tag;
      reference = data[0] & 2 ? words[1 + data[2] % (words.size() - 1)] : reference;
   }
   Edit(words, tag, reference, false);
   Edit(words, tag, reference, true);
   words.push_back(data[0]);   // a spare word, as the installer reads the list to insert
   Edit(words, tag, reference, true);
   return 0;
}
