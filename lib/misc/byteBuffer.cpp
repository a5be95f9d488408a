// Growable byte buffer.
#include "lib/misc/byteBuffer.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Past this a byte count no longer fits the pointer arithmetic of the
// callers, whatever realloc would say.
constexpr uint64_t kMaxAllocation =
   static_cast<uint64_t>(PTRDIFF_MAX) < static_cast<uint64_t>(SIZE_MAX)
      ? static_cast<uint64_t>(PTRDIFF_MAX)
      : static_cast<uint64_t>(SIZE_MAX);

constexpr uint64_t kFirstAllocation = 128;
constexpr size_t kMoveOnShrink = 1024;
constexpr uint64_t kLinearStep = 0x40000;

// Doubling keeps small buffers cheap to build byte by byte; past 256 KiB a
// fixed step stops a large conversion from holding twice what it needs.
uint64_t GrowthStep(uint64_t allocated)
{
   if (allocated == 0) {
      return kFirstAllocation;
   }
   if (allocated < kLinearStep) {
      return allocated * 2;
   }
   return allocated > kMaxAllocation - kLinearStep ? kMaxAllocation
                                                   : allocated + kLinearStep;
}

}  // namespace

void ByteBuffer_Init(ByteBuffer *bb)
{
   bb->data = nullptr;
   bb->size = 0;
   bb->allocated = 0;
}

void ByteBuffer_Destroy(ByteBuffer *bb)
{
   free(bb->data);
   ByteBuffer_Init(bb);
}

bool ByteBuffer_Enlarge(ByteBuffer *bb, uint64_t requested)
{
   if (requested <= bb->allocated) {
      return true;
   }
   if (requested > kMaxAllocation) {
      return false;
   }
   uint64_t step = GrowthStep(bb->allocated);
   uint64_t newSize = requested > step ? requested : step;
   void *p = realloc(bb->data, static_cast<size_t>(newSize));
   if (p == nullptr) {
      return false;
   }
   bb->data = static_cast<char *>(p);
   bb->allocated = newSize;
   return true;
}

bool ByteBuffer_Append(ByteBuffer *bb, const void *bytes, uint64_t length)
{
   if (length == 0) {
      return true;
   }
   if (bytes == nullptr || length > UINT64_MAX - bb->size) {
      return false;
   }
   uint64_t newSize = bb->size + length;
   if (!ByteBuffer_Enlarge(bb, newSize)) {
      return false;
   }
   memcpy(bb->data + bb->size, bytes, static_cast<size_t>(length));
   bb->size = newSize;
   return true;
}

char *ByteBuffer_Detach(ByteBuffer *bb, uint64_t *size)
{
   char *data = bb->data;
   // realloc to zero bytes may free the block and return null; an empty
   // result keeps its allocation so the caller still gets a buffer.
   if (data != nullptr && bb->size != 0 && bb->size < bb->allocated) {
      size_t size = static_cast<size_t>(bb->size);
      // A small block is moved rather than cut: realloc would split it and
      // leave a fragment that every later small allocation has to sort out
      // (several times the cost of the copy), whereas blocks of these
      // sizes come and go from the allocator's per-size caches.
      void *p = size <= kMoveOnShrink ? malloc(size) : realloc(data, size);
      if (p != nullptr && size <= kMoveOnShrink) {
         memcpy(p, data, size);
         free(data);
      }
      // A shrink that fails leaves the larger block valid: hand that out.
      if (p != nullptr) {
         data = static_cast<char *>(p);
      }
   }
   if (size != nullptr) {
      *size = bb->size;
   }
   ByteBuffer_Init(bb);
   return data;
}
