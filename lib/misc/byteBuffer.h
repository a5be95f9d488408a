// A growable byte buffer, used by the conversions to build their output.
//
// The functions report failure instead of ending the process: the
// conversions decide what a failed allocation means for them.
#pragma once

#include <cstdint>

struct ByteBuffer {
   char *data;           // null while nothing is allocated
   uint64_t size;        // bytes in use
   uint64_t allocated;   // bytes allocated
};

// Empty buffer: every field zero.
void ByteBuffer_Init(ByteBuffer *bb);

// Frees the data and leaves the buffer empty.
void ByteBuffer_Destroy(ByteBuffer *bb);

// Makes at least `requested` bytes allocated. A buffer already that large is
// left alone; otherwise the allocation becomes the largest of the request
// and the growth step (128 bytes for an empty buffer, double the allocation
// below 256 KiB, the allocation plus 256 KiB from there on). False, with
// the buffer as it was, when the memory cannot be had.
bool ByteBuffer_Enlarge(ByteBuffer *bb, uint64_t requested);

// Appends `length` bytes (bytes may be null when length is 0). False, with
// the buffer as it was, when the new size would overflow or the buffer
// cannot be enlarged.
bool ByteBuffer_Append(ByteBuffer *bb, const void *bytes, uint64_t length);

// Shrinks the allocation to the used size and hands the data to the caller,
// who free()s it; *size (when non-null) gets the used size. The buffer is
// left empty. Null when nothing was ever allocated.
char *ByteBuffer_Detach(ByteBuffer *bb, uint64_t *size);
