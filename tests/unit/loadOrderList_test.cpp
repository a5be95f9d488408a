// The load-order list's checks and edits, with expected lists written out by
// hand; every edit runs on an array with a guard word behind it. The fuzz
// harness compares the edits with a model on random lists.
#include "common/loadOrderList.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Words = std::vector<uint32_t>;
using Bytes = std::vector<uint8_t>;

TEST(LoadOrderList, Validate)
{
   const struct { const char *label; Bytes bytes; LoadOrderCheck result; uint32_t count, expected;
   } cases[] = {
      {"no bytes", {}, LoadOrderCheck::MalformedLength, 0, 0},
      {"6 bytes", {1, 0, 0, 0, 5, 0}, LoadOrderCheck::MalformedLength, 0, 0},
      {"empty list, 4 bytes", {0, 0, 0, 0}, LoadOrderCheck::Valid, 0, 0},
      {"one tag", {1, 0, 0, 0, 7, 0, 0, 0}, LoadOrderCheck::Valid, 1, 1},
      {"count byte order", {0, 1, 0, 0}, LoadOrderCheck::MalformedCount, 256, 0},
      {"count one too high", {2, 0, 0, 0, 7, 0, 0, 0}, LoadOrderCheck::MalformedCount, 2, 1},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      const uint32_t n = static_cast<uint32_t>(c.bytes.size());
      EXPECT_EQ(c.result != LoadOrderCheck::MalformedLength, LoadOrderList_IsLengthValid(n));
      LoadOrderValidation v = LoadOrderList_Validate(c.bytes.data(), n);
      EXPECT_EQ(c.result, v.result);
      EXPECT_EQ(c.count, v.count);
      EXPECT_EQ(c.expected, v.expected);
   }
   EXPECT_EQ(LoadOrderCheck::MalformedLength, LoadOrderList_Validate(nullptr, 8).result);
}

TEST(LoadOrderList, Find)
{
   const Words list = {4, 5, 6, 5, 0};
   EXPECT_EQ(1u, LoadOrderList_Find(list.data(), list.size(), 5)) << "first of two";
   EXPECT_EQ(4u, LoadOrderList_Find(list.data(), list.size(), 0)) << "tag 0, last";
   EXPECT_EQ(0u, LoadOrderList_Find(list.data(), list.size(), 4)) << "the count is no tag";
   EXPECT_EQ(0u, LoadOrderList_Find(list.data(), 4, 0)) << "count past the array";
   EXPECT_EQ(0u, LoadOrderList_Find(nullptr, 0, 0)) << "no array";
}

TEST(LoadOrderList, RemoveAndInsert)
{
   const uint32_t kGuard = 0xDEADBEEF, kRemove = 0xFFFFFFFF;   // reference kRemove: a removal
   const LoadOrderEdit kDone = LoadOrderEdit::Done, kNoRoom = LoadOrderEdit::NoRoom;
   const struct { const char *label; Words before; uint32_t tag, reference; LoadOrderEdit result;
                  Words after; } cases[] = {   // before: the whole array, spare words included
      {"remove middle", {3, 7, 8, 9}, 8, kRemove, kDone, {2, 7, 9, 0}},
      {"remove first of two", {4, 5, 7, 5, 6}, 5, kRemove, kDone, {3, 7, 5, 6, 0}},
      {"remove unlisted", {2, 7, 8}, 9, kRemove, LoadOrderEdit::NotListed, {}},
      {"remove: count past the array", {3, 7, 8}, 7, kRemove, kNoRoom, {}},
      {"insert behind the first", {3, 7, 8, 9, 0}, 5, 7, kDone, {4, 7, 5, 8, 9}},
      {"reference unlisted: at the end", {2, 7, 8, 0}, 5, 6, kDone, {3, 7, 8, 5}},
      {"behind the first of two references", {3, 7, 1, 7, 0}, 5, 7, kDone, {4, 7, 5, 1, 7}},
      {"insert into the empty list", {0, 0}, 5, 7, kDone, {1, 5}},
      {"spare words behind the free one", {1, 7, 0, 42}, 5, 7, kDone, {2, 7, 5, 42}},
      {"insert: no free word", {2, 7, 8}, 5, 7, kNoRoom, {}},
      {"empty list without a free word", {0}, 5, 7, kNoRoom, {}},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.label);
      Words array = c.before;
      array.push_back(kGuard);   // not passed as part of the array
      EXPECT_EQ(c.result, c.reference == kRemove
                             ? LoadOrderList_Remove(array.data(), c.before.size(), c.tag)
                             : LoadOrderList_Insert(array.data(), c.before.size(), c.tag,
                                                    c.reference));
      EXPECT_EQ(kGuard, array.back());
      array.pop_back();
      EXPECT_EQ(c.result == kDone ? c.after : c.before, array);
   }
   EXPECT_EQ(kNoRoom, LoadOrderList_Remove(nullptr, 0, 7));
   EXPECT_EQ(kNoRoom, LoadOrderList_Insert(nullptr, 0, 5, 7));
}

}  // namespace
