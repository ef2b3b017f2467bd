// A growable heap block of bytes that frees itself: the readers' buffers.
#ifndef MOLSTAMP_BUFFER_H
#define MOLSTAMP_BUFFER_H

#include <cstddef>
#include <cstdint>

// Heap bytes that only grow, by doubling, and are freed with their owner;
// moved, never copied. Running out of memory is a false from reserve, not
// an exception.
struct ByteBuffer {
  char* data = nullptr;  // null until the first reserve
  size_t capacity = 0;   // bytes at data: the first capacity times a power of two

  ByteBuffer() = default;
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;
  // Takes other's bytes, leaving it empty.
  ByteBuffer(ByteBuffer&& other) noexcept;
  // Frees its own bytes and takes other's, leaving it empty.
  ByteBuffer& operator=(ByteBuffer&& other) noexcept;
  // Frees the bytes.
  ~ByteBuffer();
};

// Grows b to hold at least n bytes, as reserve does; only for n above its
// capacity.
bool grow_buffer(ByteBuffer& b, size_t n, size_t first, size_t most);

// Makes b hold at least n bytes, its contents kept: first bytes when it has
// none, then doubled until n fit. False, b unchanged, when memory runs out or
// the capacity would pass most. Inline: a buffer that is big enough costs one
// comparison.
inline bool reserve(ByteBuffer& b, size_t n, size_t first, size_t most = SIZE_MAX) {
  return n <= b.capacity || grow_buffer(b, n, first, most);
}

// Frees b's bytes; b can be reserved into again.
void release(ByteBuffer& b);

#endif
