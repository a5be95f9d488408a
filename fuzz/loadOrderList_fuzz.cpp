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
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// The edit on a copy against the model: the listed tags after the edit, the
// words behind them as they were (the freed one cleared); an edit without
// room, or the removal of an unlisted tag, changes nothing.
void Edit(const Words &before, uint32_t tag, uint32_t reference, bool insert)
{
   Words got = before, want = before;
   const LoadOrderEdit result = insert ? LoadOrderList_Insert(got.data(), got.size(), tag, reference)
                                       : LoadOrderList_Remove(got.data(), got.size(), tag);
   LoadOrderEdit expected = LoadOrderEdit::NoRoom;
   if (before.size() > size_t(insert) && before[0] <= before.size() - 1 - insert) {
      Words tags(before.begin() + 1, before.begin() + 1 + before[0]);
      auto at = std::find(tags.begin(), tags.end(), insert ? reference : tag);
      expected = insert || at != tags.end() ? LoadOrderEdit::Done : LoadOrderEdit::NotListed;
      if (expected == LoadOrderEdit::Done) {
         insert ? void(tags.insert(at == tags.end() ? at : at + 1, tag)) : void(tags.erase(at));
         want[before[0]] = 0;   // the word a removal frees; an insertion overwrites it
         want[0] = uint32_t(tags.size());
         std::copy(tags.begin(), tags.end(), want.begin() + 1);
      }
   }
   Check(result == expected && got == want, insert ? "insertion" : "removal");
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
   // The words, and a spare one behind them, as the installer reads the list to insert.
   Words words(length / 4 + 1);
   std::copy(value.begin(), value.begin() + length / 4 * 4, reinterpret_cast<uint8_t *>(words.data()));
   const bool lengthOk = length >= 4 && length % 4 == 0;
   Check(LoadOrderList_IsLengthValid(length) == lengthOk &&
            (lengthOk ? v.count == words[0] && v.expected == length / 4 - 1 &&
                           (v.result == LoadOrderCheck::Valid) == (v.count == v.expected)
                      : v.result == LoadOrderCheck::MalformedLength),
         "length, count, expected count or validity");
   uint32_t tag, reference;
   memcpy(&tag, data + 3, 4);
   memcpy(&reference, data + 7, 4);
   tag = data[0] & 1 && words.size() > 2 ? words[1 + data[1] % (words.size() - 2)] : tag;
   reference = data[0] & 2 && words.size() > 2 ? words[1 + data[2] % (words.size() - 2)] : reference;
   Edit(words, tag, reference, true);
   words.pop_back();
   Edit(words, tag, reference, false);
   Edit(words, tag, reference, true);
   return 0;
}
