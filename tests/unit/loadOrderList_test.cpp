// The load-order list's checks and edits at their edges, with expected lists
// written out by hand; every edit runs on an array with a guard word behind
// it. fuzz/loadOrderList_fuzz compares the edits with a model on any list.
#include "common/loadOrderList.h"

#include <gtest/gtest.h>

namespace {

using Words = std::vector<uint32_t>;

TEST(LoadOrderList, ValidateRemoveAndInsert)
{
   EXPECT_EQ(LoadOrderCheck::MalformedLength, LoadOrderList_Validate(nullptr, 8).result);
   const uint32_t kGuard = 0xDEADBEEF, kRemove = 0xFFFFFFFF;   // reference kRemove: a removal
   // before: the whole array, spare words included
   const struct { Words before; uint32_t tag, reference; LoadOrderEdit result; Words after = {}; } cases[] = {
      {{4, 5, 7, 5, 6}, 5, kRemove, LoadOrderEdit::Done, {3, 7, 5, 6, 0}},
      {{2, 7, 8}, 9, kRemove, LoadOrderEdit::NotListed},
      {{3, 7, 8}, 7, kRemove, LoadOrderEdit::NoRoom}, {{3, 7, 1, 7, 0}, 5, 7, LoadOrderEdit::Done, {4, 7, 5, 1, 7}},
      {{1, 7, 0, 42}, 5, 6, LoadOrderEdit::Done, {2, 7, 5, 42}}, {{0}, 5, 7, LoadOrderEdit::NoRoom}};
   for (const auto &c : cases) {
      Words array = c.before;
      array.push_back(kGuard);   // not passed as part of the array
      const size_t n = c.before.size();
      EXPECT_EQ(c.result, c.reference == kRemove ? LoadOrderList_Remove(array.data(), n, c.tag)
                                                 : LoadOrderList_Insert(array.data(), n, c.tag, c.reference));
      EXPECT_EQ(c.result == LoadOrderEdit::Done ? c.after : c.before, Words(array.begin(), array.end() - 1)) << n;
      EXPECT_EQ(kGuard, array.back());
   }
}

}  // namespace
