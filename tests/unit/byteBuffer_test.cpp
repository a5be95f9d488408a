// The growable byte buffer behind the conversions.
#include "lib/misc/byteBuffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// Owns a buffer for the length of a test, whatever path it leaves by.
struct Buffer {
   ByteBuffer bb;
   Buffer() { ByteBuffer_Init(&bb); }
   ~Buffer() { ByteBuffer_Destroy(&bb); }
};

TEST(ByteBuffer, GrowthRule)
{
   // Requests on a new buffer, each with the allocation it must leave:
   // nothing; the first step; within the allocation; above the step;
   // doubling below 256 KiB (still at 0x3FFFF); steps of 256 KiB from there.
   const uint64_t steps[][2] = {{0, 0}, {1, 128}, {100, 128}, {1000, 1000}, {1001, 2000},
                                {0x3FFFF, 0x3FFFF}, {0x40000, 0x7FFFE}, {0x7FFFF, 0xBFFFE}};
   Buffer e;
   for (const auto &s : steps) {
      ASSERT_TRUE(ByteBuffer_Enlarge(&e.bb, s[0])) << s[0];
      EXPECT_EQ(s[1], e.bb.allocated) << "after asking " << s[0];
   }
   // Byte by byte, through five moves of the data.
   Buffer b;
   std::string all;
   for (int i = 0; i < 3000; i++) {
      all += static_cast<char>(i * 7);
      ASSERT_TRUE(ByteBuffer_Append(&b.bb, &all.back(), 1)) << "at byte " << i;
   }
   EXPECT_EQ(4096u, b.bb.allocated);
   EXPECT_EQ(all, std::string(b.bb.data, b.bb.size));
}

TEST(ByteBuffer, RefusalsLeaveTheBufferIntact)
{
   Buffer b;
   ASSERT_TRUE(ByteBuffer_Append(&b.bb, "abc", 3));
   ASSERT_TRUE(ByteBuffer_Append(&b.bb, nullptr, 0)) << "nothing to add";
   char *data = b.bb.data;
   EXPECT_FALSE(ByteBuffer_Append(&b.bb, "x", UINT64_MAX)) << "size wraps";
   EXPECT_FALSE(ByteBuffer_Append(&b.bb, "x", UINT64_MAX - 3)) << "too large";
   EXPECT_FALSE(ByteBuffer_Append(&b.bb, nullptr, 1)) << "no bytes";
   EXPECT_FALSE(ByteBuffer_Enlarge(&b.bb, static_cast<uint64_t>(PTRDIFF_MAX) + 1));
#ifdef _WIN32
   // Natively the sanitizer's allocator ends the process instead.
   EXPECT_FALSE(ByteBuffer_Enlarge(&b.bb, uint64_t(1) << 50)) << "no memory";
#endif
   EXPECT_TRUE(data == b.bb.data && b.bb.allocated == 128);
   EXPECT_EQ("abc", std::string(b.bb.data, b.bb.size));
}

TEST(ByteBuffer, DetachHandsOverTheUsedBytes)
{
   Buffer b;
   uint64_t size = 99;
   EXPECT_EQ(nullptr, ByteBuffer_Detach(&b.bb, &size)) << "never allocated";
   EXPECT_EQ(0u, size);
   // Unused, moved, cut in place: always a block (realloc to 0 could free
   // it), and the buffer left empty.
   for (uint64_t n : {0u, 5u, 2000u}) {
      ASSERT_TRUE(ByteBuffer_Enlarge(&b.bb, 2 * n + 200));
      ASSERT_TRUE(ByteBuffer_Append(&b.bb, std::string(n, 'h').data(), n));
      char *data = ByteBuffer_Detach(&b.bb, &size);
      ASSERT_NE(nullptr, data) << n;
      EXPECT_EQ(std::string(n, 'h'), std::string(data, size));
      EXPECT_TRUE(b.bb.data == nullptr && b.bb.size == 0 && b.bb.allocated == 0);
      free(data);
   }
}

}  // namespace
