// The tag list of a load-order group as the registry stores it: 32-bit
// little-endian words, word 0 the count N, words 1 to N the tags in the
// order the group's drivers load.
//
// Checks of a stored value's bytes and the two edits the installer makes,
// over an array the caller owns. Nothing here allocates, and an edit that
// cannot be made leaves the array exactly as it was, so the caller can
// decide what to write back from the result alone.
#pragma once

#include <cstddef>
#include <cstdint>

// Word 0 of a stored value that has at least 4 bytes.
uint32_t LoadOrderList_LoadWord(const uint8_t *bytes);

// Whether a value of `byteLength` bytes can hold a list at all: the count
// word followed by whole tags.
bool LoadOrderList_IsLengthValid(uint32_t byteLength);

enum class LoadOrderCheck {
   Valid,
   MalformedLength,   // below 4 bytes or not a multiple of 4
   MalformedCount,    // word 0 disagrees with the length
};

struct LoadOrderValidation {
   LoadOrderCheck result;
   uint32_t count;      // word 0 as stored (0 when the length is malformed)
   uint32_t expected;   // the count the length calls for (0 likewise)
};

// `bytes` holds at least `byteLength` bytes (it may be null when that is 0).
LoadOrderValidation LoadOrderList_Validate(const uint8_t *bytes, uint32_t byteLength);

// The edits work on `words`, an array of `wordCount` host-order words whose
// word 0 is the count.
enum class LoadOrderEdit {
   Done,        // word 0 holds the new count
   NotListed,   // the tag to remove is not among words 1 to N
   NoRoom,      // word 0 counts more tags than the array holds, or an
                // insertion finds no free word behind the list
};

// Position (1 to N) of the first occurrence of `tag`; 0 when it is not
// listed, and also when word 0 counts more tags than the array holds.
size_t LoadOrderList_Find(const uint32_t *words, size_t wordCount, uint32_t tag);

// Takes out the first occurrence of `tag`; the tags behind it move down by
// one and keep their order. Later occurrences stay.
LoadOrderEdit LoadOrderList_Remove(uint32_t *words, size_t wordCount, uint32_t tag);

// Puts `tag` right behind the first occurrence of `referenceTag`, or at the
// end when the reference is not listed; needs one free word behind the
// list. It does not look for `tag` itself: a caller that must not list a
// tag twice removes it first.
LoadOrderEdit LoadOrderList_Insert(uint32_t *words, size_t wordCount, uint32_t tag,
                                   uint32_t referenceTag);
