// foundation/node_pool.cpp - block carving, shutdown and the counts shared by every pool.
#include "foundation/node_pool.h"

#include <cstddef>

#include "foundation/memory.h"

NodePoolCore::~NodePoolCore() { Shutdown(); }

bool NodePoolCore::CarveBlock() {
  const std::size_t block_bytes =
      first_slot_offset_ + static_cast<std::size_t>(slot_bytes_) * nodes_per_block_;
  auto* block = static_cast<std::byte*>(MemoryInterface::Allocate(block_bytes));
  if (block == nullptr) {
    return false;
  }
  block_head_ = ::new (block) BlockLink{block_head_};
  // Thread the new nodes in address order, so the block is handed out front to back.
  std::byte* first = block + first_slot_offset_;
  FreeLink* next = nullptr;
  for (uint32_t i = nodes_per_block_; i-- > 0;) {
    next = ::new (first + static_cast<std::size_t>(i) * slot_bytes_) FreeLink{next};
  }
  free_head_ = next;
  free_count_ += nodes_per_block_;
  total_count_ += nodes_per_block_;
  return true;
}

void NodePoolCore::Shutdown() {
  std::lock_guard<PoolSpinLock> guard(lock_);
  if (shut_down_.exchange(true, std::memory_order_acq_rel)) {
    return;
  }
  BlockLink* block = block_head_;
  while (block != nullptr) {
    BlockLink* previous = block->previous;
    MemoryInterface::Free(block);
    block = previous;
  }
  block_head_ = nullptr;
  free_head_ = nullptr;
  free_count_ = 0;
}

uint32_t NodePoolCore::free_count() const {
  std::lock_guard<PoolSpinLock> guard(lock_);
  return free_count_;
}

uint32_t NodePoolCore::total_count() const {
  std::lock_guard<PoolSpinLock> guard(lock_);
  return total_count_;
}
