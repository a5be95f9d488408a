// The load-order list's checks and edits, case by case. Expected lists are
// written out by hand; every edit runs on an array with a guard word behind
// it, which no edit may touch.
#include "common/loadOrderList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Words = std::vector<uint32_t>;
using Bytes = std::vector<uint8_t>;

const uint32_t kGuard = 0xDEADBEEF;
const uint32_t kMaxTag = 0xFFFFFFFF;

// The stored form of `words`, little-endian.
Bytes Stored(const Words &words)
{
   Bytes b;
   for (uint32_t w : words) {
      for (int shift = 0; shift < 32; shift += 8) {
         b.push_back(static_cast<uint8_t>(w >> shift));
      }
   }
   return b;
}

TEST(LoadOrderList, Validate)
{
   struct Case {
      const char *label;
      Bytes bytes;
      LoadOrderCheck result;
      uint32_t count, expected;
   };
   const Case cases[] = {
      {"no bytes", {}, LoadOrderCheck::MalformedLength, 0, 0},
      {"3 bytes", {0, 0, 0}, LoadOrderCheck::MalformedLength, 0, 0},
      {"6 bytes", {1, 0, 0, 0, 5, 0}, LoadOrderCheck::MalformedLength, 0, 0},
      {"empty list, 4 bytes", Stored({0}), LoadOrderCheck::Valid, 0, 0},
      {"two tags", Stored({2, 7, 9}), LoadOrderCheck::Valid, 2, 2},
      {"count byte order", {0, 1, 0, 0}, LoadOrderCheck::MalformedCount, 256, 0},
      {"count one too high", Stored({3, 7, 9}), LoadOrderCheck::MalformedCount, 3, 2},
      {"count one too low", Stored({1, 7, 9}), LoadOrderCheck::MalformedCount, 1, 2},
      {"count at maximum", Stored({kMaxTag}), LoadOrderCheck::MalformedCount, kMaxTag, 0},
   };
   for (const Case &c : cases) {
      SCOPED_TRACE(c.label);
      EXPECT_EQ(c.result != LoadOrderCheck::MalformedLength,
                LoadOrderList_IsLengthValid(static_cast<uint32_t>(c.bytes.size())));
      LoadOrderValidation v =
         LoadOrderList_Validate(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()));
      EXPECT_EQ(c.result, v.result);
      EXPECT_EQ(c.count, v.count);
      EXPECT_EQ(c.expected, v.expected);
   }
   EXPECT_EQ(LoadOrderCheck::MalformedLength, LoadOrderList_Validate(nullptr, 8).result)
      << "no bytes behind a length";
}

struct EditCase {
   const char *label;
   Words before;   // the array as handed over; its spare words included
   uint32_t tag;
   uint32_t reference;   // insertion only
   LoadOrderEdit result;
   Words after;
};

// Runs `edit` on a copy of c.before followed by a guard word that is not
// passed as part of the array.
template <typename Edit>
void RunEdits(const std::vector<EditCase> &cases, Edit edit)
{
   for (const EditCase &c : cases) {
      SCOPED_TRACE(c.label);
      Words array = c.before;
      array.push_back(kGuard);
      EXPECT_EQ(c.result, edit(array.data(), c.before.size(), c));
      EXPECT_EQ(kGuard, array.back());
      array.pop_back();
      EXPECT_EQ(c.result == LoadOrderEdit::Done ? c.after : c.before, array);
   }
}

TEST(LoadOrderList, Find)
{
   const Words list = {4, 5, 6, 5, 0};
   EXPECT_EQ(1u, LoadOrderList_Find(list.data(), list.size(), 5)) << "first of two";
   EXPECT_EQ(2u, LoadOrderList_Find(list.data(), list.size(), 6));
   EXPECT_EQ(4u, LoadOrderList_Find(list.data(), list.size(), 0)) << "tag 0, last";
   EXPECT_EQ(0u, LoadOrderList_Find(list.data(), list.size(), 4)) << "the count is no tag";
   EXPECT_EQ(0u, LoadOrderList_Find(list.data(), list.size(), 7)) << "not listed";
   EXPECT_EQ(0u, LoadOrderList_Find(list.data(), 4, 0)) << "count past the array";
   EXPECT_EQ(0u, LoadOrderList_Find(nullptr, 0, 0)) << "no array";
   const Words shorter = {2, 5, 6, 7};
   EXPECT_EQ(0u, LoadOrderList_Find(shorter.data(), shorter.size(), 7)) << "behind the count";
}

TEST(LoadOrderList, Remove)
{
   const std::vector<EditCase> cases = {
      {"first", {3, 7, 8, 9}, 7, 0, LoadOrderEdit::Done, {2, 8, 9, 0}},
      {"middle", {3, 7, 8, 9}, 8, 0, LoadOrderEdit::Done, {2, 7, 9, 0}},
      {"last", {3, 7, 8, 9}, 9, 0, LoadOrderEdit::Done, {2, 7, 8, 0}},
      {"only", {1, 7}, 7, 0, LoadOrderEdit::Done, {0, 0}},
      {"first of two", {4, 5, 7, 5, 6}, 5, 0, LoadOrderEdit::Done, {3, 7, 5, 6, 0}},
      {"maximum tag", {2, kMaxTag, 1}, kMaxTag, 0, LoadOrderEdit::Done, {1, 1, 0}},
      {"spare word untouched", {1, 7, 99}, 7, 0, LoadOrderEdit::Done, {0, 0, 99}},
      {"not listed", {2, 7, 8}, 9, 0, LoadOrderEdit::NotListed, {}},
      {"the count is no tag", {2, 7, 8}, 2, 0, LoadOrderEdit::NotListed, {}},
      {"behind the count", {1, 7, 8}, 8, 0, LoadOrderEdit::NotListed, {}},
      {"empty list", {0}, 0, 0, LoadOrderEdit::NotListed, {}},
      {"count past the array", {3, 7, 8}, 7, 0, LoadOrderEdit::NoRoom, {}},
      {"count at maximum", {kMaxTag, 7}, 7, 0, LoadOrderEdit::NoRoom, {}},
      {"no words", {}, 7, 0, LoadOrderEdit::NoRoom, {}},
   };
   RunEdits(cases, [](uint32_t *words, size_t n, const EditCase &c) {
      return LoadOrderList_Remove(words, n, c.tag);
   });
   EXPECT_EQ(LoadOrderEdit::NoRoom, LoadOrderList_Remove(nullptr, 0, 7)) << "no array";
}

TEST(LoadOrderList, Insert)
{
   const std::vector<EditCase> cases = {
      {"behind the first", {3, 7, 8, 9, 0}, 5, 7, LoadOrderEdit::Done, {4, 7, 5, 8, 9}},
      {"behind the middle", {3, 7, 8, 9, 0}, 5, 8, LoadOrderEdit::Done, {4, 7, 8, 5, 9}},
      {"behind the last", {3, 7, 8, 9, 0}, 5, 9, LoadOrderEdit::Done, {4, 7, 8, 9, 5}},
      {"reference not listed: at the end", {2, 7, 8, 0}, 5, 6, LoadOrderEdit::Done,
       {3, 7, 8, 5}},
      {"behind the first of two references", {3, 7, 1, 7, 0}, 5, 7, LoadOrderEdit::Done,
       {4, 7, 5, 1, 7}},
      {"the count is no reference", {2, 7, 8, 0}, 5, 2, LoadOrderEdit::Done, {3, 7, 8, 5}},
      {"empty list", {0, 0}, 5, 7, LoadOrderEdit::Done, {1, 5}},
      {"tag equal to its reference", {2, 7, 8, 0}, 7, 7, LoadOrderEdit::Done, {3, 7, 7, 8}},
      {"maximum tag", {1, 7, 0}, kMaxTag, 7, LoadOrderEdit::Done, {2, 7, kMaxTag}},
      {"spare words behind the free one", {1, 7, 0, 42}, 5, 7, LoadOrderEdit::Done,
       {2, 7, 5, 42}},
      {"no free word", {2, 7, 8}, 5, 7, LoadOrderEdit::NoRoom, {}},
      {"empty list without a free word", {0}, 5, 7, LoadOrderEdit::NoRoom, {}},
      {"count at maximum", {kMaxTag, 7, 0}, 5, 7, LoadOrderEdit::NoRoom, {}},
      {"no words", {}, 5, 7, LoadOrderEdit::NoRoom, {}},
   };
   RunEdits(cases, [](uint32_t *words, size_t n, const EditCase &c) {
      return LoadOrderList_Insert(words, n, c.tag, c.reference);
   });
   EXPECT_EQ(LoadOrderEdit::NoRoom, LoadOrderList_Insert(nullptr, 0, 5, 7)) << "no array";
}

}  // namespace
