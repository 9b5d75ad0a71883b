// tests/foundation/byte_buffer_test.cpp - granule growth, zeroing and reset of the byte buffer.
#include "foundation/byte_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

bool AllZero(const uint8_t* bytes, uint32_t from, uint32_t to) {
  for (uint32_t i = from; i < to; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

TEST(ByteBufferTest, GrowsInWholeGranulesKeepingOldBytesAndZeroingNewOnes) {
  ByteBuffer buffer;
  ASSERT_TRUE(buffer.Grow(0));
  EXPECT_EQ(buffer.data, nullptr);
  ASSERT_TRUE(buffer.Grow(1));
  EXPECT_EQ(buffer.capacity, 8192u);
  EXPECT_EQ(buffer.size, 0u);
  EXPECT_TRUE(AllZero(buffer.data, 0, 8192));
  for (uint32_t i = 0; i < 8192; ++i) buffer.data[i] = static_cast<uint8_t>(i * 7 + 1);

  ASSERT_TRUE(buffer.Grow(8193));
  EXPECT_EQ(buffer.capacity, 16384u);
  for (uint32_t i = 0; i < 8192; ++i) ASSERT_EQ(buffer.data[i], static_cast<uint8_t>(i * 7 + 1));
  EXPECT_TRUE(AllZero(buffer.data, 8192, 16384));
  EXPECT_EQ(buffer.size, 0u);
}

TEST(ByteBufferTest, ExactMultipleAndSmallerRequestsKeepTheBlock) {
  ByteBuffer buffer(8192);
  ASSERT_TRUE(buffer.Grow(8192));
  EXPECT_EQ(buffer.capacity, 8192u);
  const uint8_t* block = buffer.data;
  buffer.data[5] = 9;
  ASSERT_TRUE(buffer.Grow(100));
  ASSERT_TRUE(buffer.Grow(8192));
  EXPECT_EQ(buffer.data, block);
  EXPECT_EQ(buffer.capacity, 8192u);
  EXPECT_EQ(buffer.data[5], 9);
}

TEST(ByteBufferTest, OddGranulesRoundUpToTheirMultiples) {
  ByteBuffer three(3);
  ASSERT_TRUE(three.Grow(4));
  EXPECT_EQ(three.capacity, 6u);
  ASSERT_TRUE(three.Grow(20));
  EXPECT_EQ(three.capacity, 21u);

  ByteBuffer unset(0);
  ASSERT_TRUE(unset.Grow(5));
  EXPECT_EQ(unset.capacity, 5u);
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
  EXPECT_TRUE(AllZero(buffer.data, 0, 48));

  ByteBuffer empty;
  empty.Reset();
  EXPECT_EQ(empty.data, nullptr);
  EXPECT_EQ(empty.size, 0u);
}

}  // namespace

TEST(ByteBufferTest, GrowingAgainAtLeastDoublesInWholeGranules) {
  ByteBuffer buffer(8192);
  ASSERT_TRUE(buffer.Grow(3 * 8192));
  EXPECT_EQ(buffer.capacity, 3u * 8192);
  ASSERT_TRUE(buffer.Grow(3 * 8192 + 1));
  EXPECT_EQ(buffer.capacity, 6u * 8192);
  ASSERT_TRUE(buffer.Grow(20 * 8192 + 5));
  EXPECT_EQ(buffer.capacity, 21u * 8192);
  for (uint32_t i = 6 * 8192; i < buffer.capacity; ++i) ASSERT_EQ(buffer.data[i], 0) << i;
}
