// libFuzzer harness: random bytes as a stored list value plus random tags.
// The value is checked, then both edits run on it as words, whatever its
// count word says, in arrays of exactly the words they are given so that
// ASan sees any access past them. Aborts when a result breaks what the
// list promises: the count word matches the written length, a removal
// takes out the first occurrence and keeps the rest in order, an insertion
// puts the tag behind the first occurrence of its reference or at the end,
// and an edit that is refused leaves the words as they were.
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

[[noreturn]] void Fail(const char *what)
{
   fprintf(stderr, "loadOrderList_fuzz: %s\n", what);
   abort();
}

void Check(bool ok, const char *what)
{
   if (!ok) {
      Fail(what);
   }
}

// A heap array of exactly `words.size()` words (none for an empty list).
struct Exact {
   explicit Exact(const Words &words) : n(words.size())
   {
      if (n != 0) {
         p.reset(new uint32_t[n]);
         std::copy(words.begin(), words.end(), p.get());
      }
   }
   Words Copy() const { return Words(p.get(), p.get() + n); }
   std::unique_ptr<uint32_t[]> p;
   size_t n;
};

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
   std::vector<uint8_t> bytes;
   for (size_t i = 0; i <= w[0]; i++) {
      for (int shift = 0; shift < 32; shift += 8) {
         bytes.push_back(static_cast<uint8_t>(w[i] >> shift));
      }
   }
   LoadOrderValidation v =
      LoadOrderList_Validate(bytes.data(), static_cast<uint32_t>(bytes.size()));
   Check(v.result == LoadOrderCheck::Valid && v.count == bytes.size() / 4 - 1,
         "an edited list does not pass the check");
}

void CheckValidate(const uint8_t *value, size_t size)
{
   std::unique_ptr<uint8_t[]> exact(new uint8_t[size]);
   memcpy(exact.get(), value, size);
   uint32_t length = static_cast<uint32_t>(size);
   LoadOrderValidation v = LoadOrderList_Validate(exact.get(), length);
   bool lengthOk = size >= 4 && size % 4 == 0;
   Check(LoadOrderList_IsLengthValid(length) == lengthOk, "length check");
   if (!lengthOk) {
      Check(v.result == LoadOrderCheck::MalformedLength, "a bad length passed");
      return;
   }
   uint32_t word0 = LoadOrderList_LoadWord(exact.get());
   Check(word0 == (value[0] | value[1] << 8 | value[2] << 16 | static_cast<uint32_t>(value[3]) << 24),
         "word 0 read in the wrong byte order");
   Check(v.count == word0 && v.expected == length / 4 - 1, "count or expected count");
   Check((v.result == LoadOrderCheck::Valid) == (word0 == length / 4 - 1),
         "validity disagrees with the count");
}

void CheckRemove(const Words &before, uint32_t tag)
{
   Exact a(before);
   LoadOrderEdit r = LoadOrderList_Remove(a.p.get(), a.n, tag);
   Words after = a.Copy();
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
   Exact a(before);
   LoadOrderEdit r = LoadOrderList_Insert(a.p.get(), a.n, tag, reference);
   Words after = a.Copy();
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
   if (ref != tags.end()) {
      Check(at > 0 && got[at - 1] == reference, "inserted tag not behind its reference");
   }
   got.erase(got.begin() + static_cast<std::ptrdiff_t>(at));
   Check(got == tags, "insertion reordered the other tags");
   Check(std::equal(after.begin() + after[0] + 1, after.end(), before.begin() + after[0] + 1),
         "insertion touched a word behind the free one");
   CheckWritten(after);
}

// What the installer does: take the tag out, then insert it; a tag that
// stood at most once before stands exactly once afterwards.
void CheckMove(const Words &before, uint32_t tag, uint32_t reference)
{
   if (!Fits(before, 0)) {
      return;
   }
   Words grown = before;
   grown.push_back(0);
   Exact a(grown);
   LoadOrderEdit removal = LoadOrderList_Remove(a.p.get(), a.n, tag);
   size_t listedBefore = static_cast<size_t>(std::count(grown.begin() + 1, grown.begin() + 1 + before[0], tag));
   Check(LoadOrderList_Insert(a.p.get(), a.n, tag, reference) == LoadOrderEdit::Done,
         "insertion after a removal found no room");
   Words after = a.Copy();
   size_t listed = static_cast<size_t>(std::count(after.begin() + 1, after.begin() + 1 + after[0], tag));
   Check(listed == (listedBefore == 0 ? 1 : listedBefore), "moved tag count");
   Check(removal == (listedBefore == 0 ? LoadOrderEdit::NotListed : LoadOrderEdit::Done),
         "removal result before the move");
   Check(LoadOrderList_Find(a.p.get(), a.n, tag) != 0, "moved tag not found");
}

uint32_t Word(const uint8_t *p)
{
   return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
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
   CheckMove(words, tag, reference);
   return 0;
}
