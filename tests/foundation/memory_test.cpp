// tests/foundation/memory_test.cpp - blocks of every size, below and above the size from which
// the interface asks the system for large pages, hold what is written to them.
#include "foundation/memory.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>

namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

uint8_t Pattern(std::size_t i) { return static_cast<uint8_t>(i * 13 + (i >> 12) + 1); }

void Fill(uint8_t* block, std::size_t bytes) {
  for (std::size_t i = 0; i < bytes; ++i) block[i] = Pattern(i);
}

// Index of the first byte that differs from the pattern, or `bytes` when none does.
std::size_t FirstMismatch(const uint8_t* block, std::size_t bytes) {
  for (std::size_t i = 0; i < bytes; ++i) {
    if (block[i] != Pattern(i)) return i;
  }
  return bytes;
}

TEST(MemoryTest, LargeAndSmallBlocksAreZeroedKeptAndMovedWhole) {
  for (const std::size_t bytes : {std::size_t{1}, kMiB - 1, kMiB, kMiB + 5, 4 * kMiB - 1, 4 * kMiB,
                                  4 * kMiB + 17, 9 * kMiB}) {
    SCOPED_TRACE(bytes);
    auto* zeroed = static_cast<uint8_t*>(MemoryInterface::AllocateZeroed(bytes));
    ASSERT_NE(zeroed, nullptr);
    std::size_t nonzero = 0;
    for (std::size_t i = 0; i < bytes; ++i) nonzero += zeroed[i] != 0;
    EXPECT_EQ(nonzero, 0u);
    Fill(zeroed, bytes);
    EXPECT_EQ(FirstMismatch(zeroed, bytes), bytes);

    // Growing across the large-block size and shrinking back keep the first bytes.
    auto* grown = static_cast<uint8_t*>(MemoryInterface::Reallocate(zeroed, bytes + 6 * kMiB));
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(FirstMismatch(grown, bytes), bytes);
    Fill(grown, bytes + 6 * kMiB);
    auto* shrunk = static_cast<uint8_t*>(MemoryInterface::Reallocate(grown, kMiB));
    ASSERT_NE(shrunk, nullptr);
    EXPECT_EQ(FirstMismatch(shrunk, kMiB), kMiB);
    MemoryInterface::Free(shrunk);

    // A block placed on whole large pages is resized and given back like any other.
    auto* plain = static_cast<uint8_t*>(MemoryInterface::Allocate(bytes));
    ASSERT_NE(plain, nullptr);
    Fill(plain, bytes);
    EXPECT_EQ(FirstMismatch(plain, bytes), bytes);
    auto* moved = static_cast<uint8_t*>(MemoryInterface::Reallocate(plain, bytes + 3 * kMiB));
    ASSERT_NE(moved, nullptr);
    EXPECT_EQ(FirstMismatch(moved, bytes), bytes);
    MemoryInterface::Free(moved);
  }
}

// Standard containers over the interface keep what they hold through every growth step, up to
// sizes whose blocks are placed on large pages, and a failed request throws as the standard
// allocator does.
TEST(MemoryTest, LargeVectorsHoldTheirEntriesThroughGrowth) {
  LargeVector<uint64_t> entries;
  constexpr uint64_t kCount = 3 * kMiB / sizeof(uint64_t);
  for (uint64_t i = 0; i < kCount; ++i) entries.push_back(i * 0x9E3779B97F4A7C15u);
  uint64_t wrong = 0;
  for (uint64_t i = 0; i < kCount; ++i) wrong += entries[i] != i * 0x9E3779B97F4A7C15u;
  EXPECT_EQ(wrong, 0u);
  LargeVector<uint64_t> copy = entries;
  entries.clear();
  entries.shrink_to_fit();
  EXPECT_EQ(copy.size(), kCount);
  EXPECT_EQ(copy.back(), (kCount - 1) * 0x9E3779B97F4A7C15u);
  LargeBlockAllocator<uint64_t> allocator;
  EXPECT_THROW((void)allocator.allocate(~std::size_t{0} / 4), std::bad_array_new_length);
}

// Pages asked for ahead of the writer keep the block's zeros and what was written before, whatever
// part of a page the range covers, and the rest of the block is untouched by the request.
TEST(MemoryTest, PreparedPagesKeepTheirBytes) {
  MemoryInterface::PreparePages(nullptr, 100);
  for (const std::size_t bytes : {std::size_t{100}, kMiB + 3, 9 * kMiB}) {
    SCOPED_TRACE(bytes);
    auto* block = static_cast<uint8_t*>(MemoryInterface::AllocateZeroed(bytes));
    ASSERT_NE(block, nullptr);
    const std::size_t written = bytes / 3;
    Fill(block, written);
    // Ranges that start and end inside pages, one empty, and one up to the block's end.
    MemoryInterface::PreparePages(block + written - 1, 0);
    MemoryInterface::PreparePages(block + written - 1, bytes / 4 + 5);
    MemoryInterface::PreparePages(block + 1, bytes - 1);
    EXPECT_EQ(FirstMismatch(block, written), written);
    std::size_t nonzero = 0;
    for (std::size_t i = written; i < bytes; ++i) nonzero += block[i] != 0;
    EXPECT_EQ(nonzero, 0u);
    Fill(block, bytes);
    EXPECT_EQ(FirstMismatch(block, bytes), bytes);
    MemoryInterface::Free(block);
  }
}

}  // namespace
