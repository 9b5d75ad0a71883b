// tests/foundation/byte_buffer_test.cpp - granule growth, zeroing and reset of the byte buffer.
#include "foundation/byte_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace {

uint8_t Pattern(uint32_t i) { return static_cast<uint8_t>(i * 7 + 1); }

TEST(ByteBufferTest, GrowsInWholeGranulesAtLeastDoublingKeepingOldBytesAndZeroingNewOnes) {
  const struct {
    uint32_t granule;
    std::vector<std::pair<uint32_t, uint32_t>> grows;  // request, capacity
  } cases[] = {
      {8192,
       {{0, 0},
        {1, 8192},
        {8192, 8192},
        {100, 8192},
        {8193, 16384},
        {16385, 32768},
        {20 * 8192 + 5, 21 * 8192}}},
      {3, {{4, 6}, {20, 21}}},
      {0, {{5, 5}}},
  };
  for (const auto& c : cases) {
    ByteBuffer buffer(c.granule);
    for (const auto& [request, capacity] : c.grows) {
      SCOPED_TRACE(testing::Message() << "granule " << c.granule << " grow to " << request);
      const uint32_t old = buffer.capacity;
      const uint8_t* block = buffer.data;
      ASSERT_TRUE(buffer.Grow(request));
      EXPECT_EQ(buffer.capacity, capacity);
      EXPECT_EQ(buffer.size, 0u);
      EXPECT_EQ(buffer.data == nullptr, capacity == 0);
      EXPECT_EQ(buffer.data == block, capacity == old);
      for (uint32_t i = 0; i < capacity; ++i) {
        ASSERT_EQ(buffer.data[i], i < old ? Pattern(i) : 0) << i;
        buffer.data[i] = Pattern(i);
      }
    }
  }
}

TEST(ByteBufferTest, RequestThatWouldWrapPast4GiBFailsAndChangesNothing) {
  ByteBuffer buffer(8192);
  ASSERT_TRUE(buffer.Grow(10));
  buffer.data[0] = 42;
  buffer.size = 1;
  const uint8_t* block = buffer.data;
  EXPECT_FALSE(buffer.Grow(UINT32_MAX));
  EXPECT_FALSE(buffer.Grow(UINT32_MAX - 8190));
  EXPECT_EQ(buffer.data, block);
  EXPECT_EQ(buffer.capacity, 8192u);
  EXPECT_EQ(buffer.size, 1u);
  EXPECT_EQ(buffer.data[0], 42);
}

TEST(ByteBufferTest, ResetZeroesTheWholeCapacityAndKeepsTheMemory) {
  ByteBuffer buffer(16);
  ASSERT_TRUE(buffer.Grow(40));
  for (uint32_t i = 0; i < buffer.capacity; ++i) buffer.data[i] = 0xFF;
  buffer.size = 40;
  const uint8_t* block = buffer.data;
  buffer.Reset();
  EXPECT_EQ(buffer.size, 0u);
  EXPECT_EQ(buffer.capacity, 48u);
  EXPECT_EQ(buffer.data, block);
  for (uint32_t i = 0; i < 48; ++i) ASSERT_EQ(buffer.data[i], 0) << i;
  ByteBuffer empty;
  empty.Reset();
  EXPECT_EQ(empty.data, nullptr);
}

}  // namespace
