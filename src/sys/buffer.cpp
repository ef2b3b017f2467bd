// The growable byte buffer: realloc by doubling, free on destruction.
#include "sys/buffer.h"

#include <cstdlib>

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept : data(other.data), capacity(other.capacity) {
  other.data = nullptr;
  other.capacity = 0;
}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
  if (this != &other) {
    std::free(data);
    data = other.data;
    capacity = other.capacity;
    other.data = nullptr;
    other.capacity = 0;
  }
  return *this;
}

ByteBuffer::~ByteBuffer() { std::free(data); }

bool grow_buffer(ByteBuffer& b, size_t n, size_t first, size_t most) {
  size_t grown = b.capacity == 0 ? first : b.capacity;
  if (grown > most) return false;
  while (grown < n) {
    if (grown > most / 2) return false;
    grown *= 2;
  }
  char* bigger = static_cast<char*>(std::realloc(b.data, grown));
  if (bigger == nullptr) return false;
  b.data = bigger;
  b.capacity = grown;
  return true;
}

void release(ByteBuffer& b) {
  std::free(b.data);
  b.data = nullptr;
  b.capacity = 0;
}
