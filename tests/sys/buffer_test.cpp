// The growable byte buffer: doubling from the first capacity, the ceiling,
// contents kept, and ownership that moves.
#include "sys/buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

namespace {

// Each step asks the buffer as it stands for n bytes: it doubles from the
// first capacity until n fit, never past the ceiling, and a refusal leaves it
// as it was, bytes and all.
TEST(ByteBuffer, ReserveDoublesUpToTheCeiling) {
  struct Step {
    size_t n;
    bool ok;
    size_t capacity_after;
  };
  constexpr size_t kFirst = 16, kMost = 128;
  const Step steps[] = {
      {0, true, 0},       // nothing asked: nothing allocated
      {1, true, 16},      // the first capacity
      {16, true, 16},     // fits as it is
      {17, true, 32},     // one doubling
      {100, true, 128},   // two at once
      {128, true, 128},   // the ceiling itself
      {129, false, 128},  // past it
      {1000, false, 128},
  };
  ByteBuffer b;
  std::string written;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.n);
    EXPECT_EQ(reserve(b, step.n, kFirst, kMost), step.ok);
    EXPECT_EQ(b.capacity, step.capacity_after);
    ASSERT_EQ(b.data == nullptr, b.capacity == 0);
    if (!written.empty()) {
      EXPECT_EQ(std::string(b.data, written.size()), written);  // kept
    }
    if (b.capacity > written.size()) {
      written += static_cast<char>('a' + written.size());
      b.data[written.size() - 1] = written.back();
    }
  }
}

// The bytes belong to one buffer at a time: a move takes them and empties the
// source; moving into a buffer frees what it held (a leak fails the asan
// preset); release empties it for reuse.
TEST(ByteBuffer, OwnershipMovesAndReleases) {
  ByteBuffer a;
  ASSERT_TRUE(reserve(a, 10, 64));
  std::memcpy(a.data, "molstamp", 9);
  char* bytes = a.data;
  ByteBuffer b(std::move(a));
  EXPECT_EQ(a.data, nullptr);
  EXPECT_EQ(a.capacity, 0u);
  EXPECT_EQ(b.data, bytes);
  EXPECT_EQ(b.capacity, 64u);
  ByteBuffer c;
  ASSERT_TRUE(reserve(c, 1, 32));
  c = std::move(b);
  EXPECT_EQ(b.data, nullptr);
  EXPECT_STREQ(c.data, "molstamp");
  release(c);
  EXPECT_EQ(c.data, nullptr);
  EXPECT_EQ(c.capacity, 0u);
  EXPECT_TRUE(reserve(c, 1, 32));
  EXPECT_EQ(c.capacity, 32u);
}

}  // namespace
