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
  for (const std::size_t bytes :
       {std::size_t{1}, 4 * kMiB - 1, 4 * kMiB, 4 * kMiB + 17, 9 * kMiB}) {
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

    auto* plain = static_cast<uint8_t*>(MemoryInterface::Allocate(bytes));
    ASSERT_NE(plain, nullptr);
    Fill(plain, bytes);
    EXPECT_EQ(FirstMismatch(plain, bytes), bytes);
    MemoryInterface::Free(plain);
  }
}

}  // namespace
