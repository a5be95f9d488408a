// The growable byte buffer behind the conversions.
#include "lib/misc/byteBuffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Owns a buffer for the length of a test, whatever path it leaves by.
struct Buffer {
   ByteBuffer bb;
   Buffer() { ByteBuffer_Init(&bb); }
   ~Buffer() { ByteBuffer_Destroy(&bb); }
   std::string Text() const
   {
      return std::string(bb.data, static_cast<size_t>(bb.size));
   }
};

TEST(ByteBuffer, InitAndDestroyLeaveEverythingZero)
{
   ByteBuffer bb;
   memset(&bb, 0xA5, sizeof bb);
   ByteBuffer_Init(&bb);
   EXPECT_EQ(nullptr, bb.data);
   EXPECT_EQ(0u, bb.size);
   EXPECT_EQ(0u, bb.allocated);

   ASSERT_TRUE(ByteBuffer_Append(&bb, "abc", 3));
   ByteBuffer_Destroy(&bb);
   EXPECT_EQ(nullptr, bb.data);
   EXPECT_EQ(0u, bb.size);
   EXPECT_EQ(0u, bb.allocated);

   // Destroying an empty buffer is harmless.
   ByteBuffer_Destroy(&bb);
   EXPECT_EQ(nullptr, bb.data);
}

TEST(ByteBuffer, GrowthSequenceByteByByte)
{
   // The allocations seen while the buffer fills one byte at a time:
   // 128 first, doubling below 256 KiB, then steps of 256 KiB.
   const std::vector<uint64_t> expected = {
      0x80,   0x100,   0x200,   0x400,   0x800,   0x1000,  0x2000,
      0x4000, 0x8000, 0x10000, 0x20000, 0x40000, 0x80000, 0xC0000};
   Buffer b;
   std::vector<uint64_t> seen;
   for (uint64_t i = 0; i < 0xC0000; i++) {
      char c = static_cast<char>(i * 7);
      ASSERT_TRUE(ByteBuffer_Append(&b.bb, &c, 1)) << "at byte " << i;
      if (seen.empty() || seen.back() != b.bb.allocated) {
         seen.push_back(b.bb.allocated);
      }
   }
   EXPECT_EQ(expected, seen);
   EXPECT_EQ(0xC0000u, b.bb.size);
   // Every byte survived the moves.
   for (uint64_t i = 0; i < b.bb.size; i += 4099) {
      ASSERT_EQ(static_cast<char>(i * 7), b.bb.data[i]) << "at byte " << i;
   }
   // One byte more starts the next step.
   ASSERT_TRUE(ByteBuffer_Append(&b.bb, "x", 1));
   EXPECT_EQ(0x100000u, b.bb.allocated);
}

TEST(ByteBuffer, EnlargeTakesTheLargerOfRequestAndStep)
{
   Buffer b;
   // Empty: a request above 128 is taken as is, one below gives 128.
   ASSERT_TRUE(ByteBuffer_Enlarge(&b.bb, 1000));
   EXPECT_EQ(1000u, b.bb.allocated);
   EXPECT_EQ(0u, b.bb.size);
   // Below 256 KiB a request just above the allocation doubles it...
   ASSERT_TRUE(ByteBuffer_Enlarge(&b.bb, 1001));
   EXPECT_EQ(2000u, b.bb.allocated);
   // ...and a larger one is taken as is.
   ASSERT_TRUE(ByteBuffer_Enlarge(&b.bb, 0x50000));
   EXPECT_EQ(0x50000u, b.bb.allocated);
   // From 256 KiB on the step is 256 KiB.
   ASSERT_TRUE(ByteBuffer_Enlarge(&b.bb, 0x50001));
   EXPECT_EQ(0x90000u, b.bb.allocated);
   ASSERT_TRUE(ByteBuffer_Enlarge(&b.bb, 0x200000));
   EXPECT_EQ(0x200000u, b.bb.allocated);

   Buffer small;
   ASSERT_TRUE(ByteBuffer_Enlarge(&small.bb, 1));
   EXPECT_EQ(128u, small.bb.allocated);
   // Exactly at the 256 KiB boundary the step changes.
   Buffer edge;
   ASSERT_TRUE(ByteBuffer_Enlarge(&edge.bb, 0x3FFFF));
   ASSERT_TRUE(ByteBuffer_Enlarge(&edge.bb, 0x40000));
   EXPECT_EQ(0x7FFFEu, edge.bb.allocated);
   Buffer edge2;
   ASSERT_TRUE(ByteBuffer_Enlarge(&edge2.bb, 0x40000));
   ASSERT_TRUE(ByteBuffer_Enlarge(&edge2.bb, 0x40001));
   EXPECT_EQ(0x80000u, edge2.bb.allocated);
}

TEST(ByteBuffer, EnlargeWithinTheAllocationChangesNothing)
{
   Buffer b;
   ASSERT_TRUE(ByteBuffer_Enlarge(&b.bb, 0));
   EXPECT_EQ(nullptr, b.bb.data);
   EXPECT_EQ(0u, b.bb.allocated);

   ASSERT_TRUE(ByteBuffer_Append(&b.bb, "hello", 5));
   char *data = b.bb.data;
   ASSERT_TRUE(ByteBuffer_Enlarge(&b.bb, 128));
   ASSERT_TRUE(ByteBuffer_Enlarge(&b.bb, 3));
   EXPECT_EQ(data, b.bb.data);
   EXPECT_EQ(128u, b.bb.allocated);
   EXPECT_EQ("hello", b.Text());
}

TEST(ByteBuffer, AppendKeepsContentsAcrossGrowth)
{
   Buffer b;
   std::string expected;
   for (int i = 0; i < 300; i++) {
      std::string piece = "piece " + std::to_string(i) + ";";
      ASSERT_TRUE(ByteBuffer_Append(&b.bb, piece.data(), piece.size()));
      expected += piece;
   }
   EXPECT_EQ(expected, b.Text());
   EXPECT_GE(b.bb.allocated, b.bb.size);

   // Appending nothing, even from no pointer, is a no-op that succeeds.
   ASSERT_TRUE(ByteBuffer_Append(&b.bb, nullptr, 0));
   EXPECT_EQ(expected, b.Text());
}

TEST(ByteBuffer, RefusedAppendLeavesTheBufferIntact)
{
   Buffer b;
   ASSERT_TRUE(ByteBuffer_Append(&b.bb, "abc", 3));
   char *data = b.bb.data;
   uint64_t allocated = b.bb.allocated;

   // size + length wraps around.
   EXPECT_FALSE(ByteBuffer_Append(&b.bb, "x", UINT64_MAX));
   EXPECT_FALSE(ByteBuffer_Append(&b.bb, "x", UINT64_MAX - 2));
   // Larger than any allocation can be, without wrapping.
   EXPECT_FALSE(ByteBuffer_Append(&b.bb, "x", UINT64_MAX - 3));
   // Bytes missing.
   EXPECT_FALSE(ByteBuffer_Append(&b.bb, nullptr, 1));

   EXPECT_EQ(data, b.bb.data);
   EXPECT_EQ(3u, b.bb.size);
   EXPECT_EQ(allocated, b.bb.allocated);
   EXPECT_EQ("abc", b.Text());
}

TEST(ByteBuffer, RefusedEnlargeLeavesTheBufferIntact)
{
   Buffer b;
   ASSERT_TRUE(ByteBuffer_Append(&b.bb, "abc", 3));
   char *data = b.bb.data;
   EXPECT_FALSE(ByteBuffer_Enlarge(&b.bb, UINT64_MAX));
   EXPECT_FALSE(ByteBuffer_Enlarge(&b.bb, static_cast<uint64_t>(PTRDIFF_MAX) + 1));
   EXPECT_EQ(data, b.bb.data);
   EXPECT_EQ(3u, b.bb.size);
   EXPECT_EQ(128u, b.bb.allocated);
   EXPECT_EQ("abc", b.Text());
}

#ifdef _WIN32
// Natively the sanitizer's allocator ends the process on such a request
// instead of failing it, so the failing realloc is tested on Windows only.
TEST(ByteBuffer, FailedAllocationLeavesTheBufferIntact)
{
   Buffer b;
   ASSERT_TRUE(ByteBuffer_Append(&b.bb, "abc", 3));
   char *data = b.bb.data;
   EXPECT_FALSE(ByteBuffer_Enlarge(&b.bb, uint64_t(1) << 50));
   EXPECT_FALSE(ByteBuffer_Append(&b.bb, "x", uint64_t(1) << 50));
   EXPECT_EQ(data, b.bb.data);
   EXPECT_EQ(3u, b.bb.size);
   EXPECT_EQ(128u, b.bb.allocated);
   EXPECT_EQ("abc", b.Text());
}
#endif

TEST(ByteBuffer, DetachHandsOverTheUsedBytes)
{
   ByteBuffer bb;
   ByteBuffer_Init(&bb);
   ASSERT_TRUE(ByteBuffer_Append(&bb, "hello", 5));
   ASSERT_EQ(128u, bb.allocated);
   uint64_t size = 99;
   char *data = ByteBuffer_Detach(&bb, &size);
   ASSERT_NE(nullptr, data);
   EXPECT_EQ(5u, size);
   EXPECT_EQ(0, memcmp(data, "hello", 5));
   // The buffer no longer owns anything.
   EXPECT_EQ(nullptr, bb.data);
   EXPECT_EQ(0u, bb.size);
   EXPECT_EQ(0u, bb.allocated);
   free(data);

   // A buffer filled exactly is handed over as it is; the size pointer is
   // optional.
   ASSERT_TRUE(ByteBuffer_Enlarge(&bb, 4));
   ASSERT_TRUE(ByteBuffer_Append(&bb, "0123456789", 10));
   ASSERT_TRUE(ByteBuffer_Enlarge(&bb, 10));
   data = ByteBuffer_Detach(&bb, nullptr);
   ASSERT_NE(nullptr, data);
   EXPECT_EQ(0, memcmp(data, "0123456789", 10));
   free(data);
}

TEST(ByteBuffer, DetachOfEmptyBuffers)
{
   // Never allocated: nothing to hand over.
   ByteBuffer bb;
   ByteBuffer_Init(&bb);
   uint64_t size = 99;
   EXPECT_EQ(nullptr, ByteBuffer_Detach(&bb, &size));
   EXPECT_EQ(0u, size);

   // Allocated but unused: the block is handed over (realloc to zero bytes
   // could free it and leave the caller nothing).
   ASSERT_TRUE(ByteBuffer_Enlarge(&bb, 16));
   size = 99;
   char *data = ByteBuffer_Detach(&bb, &size);
   EXPECT_NE(nullptr, data);
   EXPECT_EQ(0u, size);
   EXPECT_EQ(0u, bb.allocated);
   free(data);
}

}  // namespace
