// foundation/node_pool.h - fixed-size node pools that grow by whole blocks and never shrink.
//
// Table nodes, value nodes and list links come from pools, one pool per node kind. A pool
// obtains one block at a time from the MemoryInterface and threads its nodes onto a free list:
//
//   block:  [ link to the block obtained before | node 0 | node 1 | ... | node N-1 ]
//   free node:  its first word links to the next free node (null at the end)
//
// Node slots are aligned for both the node type and a pointer. Blocks are given back only by
// Shutdown, which a pool's destructor runs, so a static pool shuts down at process exit in the
// reverse order of construction. After shutdown Allocate yields null and Free does nothing;
// Allocate also yields null when no block can be obtained. Each pool guards its free list and
// counts with its own spin lock, held only inside Allocate, Free, Shutdown and the count
// readers. The program allocates from one thread at a time, so the lock is almost never
// contended and costs one atomic exchange; Allocate and Free of a node already carved are
// inline and take no call.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <new>
#include <type_traits>

/// A minimal lock for the pools' short critical sections: an atomic flag spun on while held.
/// Meets BasicLockable, so std::lock_guard works with it.
class PoolSpinLock {
 public:
  void lock() {
    while (held_.exchange(true, std::memory_order_acquire)) {
      while (held_.load(std::memory_order_relaxed)) {
      }
    }
  }
  void unlock() { held_.store(false, std::memory_order_release); }

 private:
  std::atomic<bool> held_{false};
};

/// The untyped part of every pool: slot geometry, free list, block list, counts and the lock.
class NodePoolCore {
 public:
  /// slot_bytes: distance between node slots; first_slot_offset: where node 0 starts in a block.
  NodePoolCore(uint32_t slot_bytes, uint32_t first_slot_offset, uint32_t nodes_per_block)
      : slot_bytes_(slot_bytes),
        first_slot_offset_(first_slot_offset),
        nodes_per_block_(nodes_per_block) {}
  /// Shuts the pool down (frees every block).
  ~NodePoolCore();
  NodePoolCore(const NodePoolCore&) = delete;
  NodePoolCore& operator=(const NodePoolCore&) = delete;

  /// A free slot (contents undefined), or null after shutdown or when no block can be obtained.
  [[nodiscard]] void* AllocateSlot() {
    // The flag is read before the lock: a pool that has shut down may already have dropped it.
    if (is_shut_down()) {
      return nullptr;
    }
    std::lock_guard<PoolSpinLock> guard(lock_);
    if (free_head_ == nullptr && !CarveBlock()) {
      return nullptr;
    }
    FreeLink* slot = free_head_;
    free_head_ = slot->next;
    --free_count_;
    return slot;
  }
  /// Puts a slot from AllocateSlot back on the free list; null and calls after shutdown are
  /// ignored.
  void FreeSlot(void* slot) {
    if (slot == nullptr || is_shut_down()) {
      return;
    }
    std::lock_guard<PoolSpinLock> guard(lock_);
    free_head_ = ::new (slot) FreeLink{free_head_};
    ++free_count_;
  }
  /// Puts `count` slots back at once, under one lock: `first` and `last` are the ends of a
  /// chain the caller made with LinkSlot (last's link is overwritten). Nothing for count 0 or
  /// after shutdown.
  void FreeSlotChain(void* first, void* last, uint32_t count) {
    if (count == 0 || is_shut_down()) {
      return;
    }
    std::lock_guard<PoolSpinLock> guard(lock_);
    static_cast<FreeLink*>(last)->next = free_head_;
    free_head_ = static_cast<FreeLink*>(first);
    free_count_ += count;
  }
  /// Takes up to `count` free slots at once, under one lock, carving blocks as needed: a chain
  /// linked through the slots' first words (the last one's link is null). Returns its first
  /// slot and sets `taken` to its length; null (taken 0) after shutdown or when no block can
  /// be obtained.
  [[nodiscard]] void* TakeSlotChain(uint32_t count, uint32_t& taken) {
    taken = 0;
    if (count == 0 || is_shut_down()) {
      return nullptr;
    }
    std::lock_guard<PoolSpinLock> guard(lock_);
    FreeLink* first = nullptr;
    FreeLink* last = nullptr;
    while (taken < count) {
      if (free_head_ == nullptr && !CarveBlock()) {
        break;
      }
      FreeLink* slot = free_head_;
      free_head_ = slot->next;
      --free_count_;
      slot->next = nullptr;
      if (last == nullptr) {
        first = slot;
      } else {
        last->next = slot;
      }
      last = slot;
      ++taken;
    }
    return first;
  }
  /// The slot after `slot` in a chain from TakeSlotChain or LinkSlot.
  static void* NextSlot(void* slot) { return static_cast<FreeLink*>(slot)->next; }
  /// Makes the free slot `slot` link to `next` (another such slot, or null).
  static void LinkSlot(void* slot, void* next) {
    ::new (slot) FreeLink{static_cast<FreeLink*>(next)};
  }
  /// Sets the shutdown flag and gives every block back. Later calls do nothing.
  void Shutdown();

  bool is_shut_down() const { return shut_down_.load(std::memory_order_acquire); }
  /// Nodes on the free list.
  uint32_t free_count() const;
  /// Nodes ever carved from blocks.
  uint32_t total_count() const;

 private:
  struct FreeLink {
    FreeLink* next;
  };
  struct BlockLink {
    BlockLink* previous;
  };

  /// Obtains one more block and threads its nodes onto the empty free list; false when no
  /// block can be obtained. Runs under the lock.
  bool CarveBlock();

  FreeLink* free_head_ = nullptr;
  std::atomic<bool> shut_down_{false};
  BlockLink* block_head_ = nullptr;
  uint32_t free_count_ = 0;
  uint32_t total_count_ = 0;
  mutable PoolSpinLock lock_;
  const uint32_t slot_bytes_;
  const uint32_t first_slot_offset_;
  const uint32_t nodes_per_block_;
};

/// Pool of `Node` records, NodesPerBlock to a block. Node must be at least pointer-sized (a free
/// node holds the free-list link) and trivially destructible (nodes are never destroyed one by
/// one). Allocate default-initialises the node, which for plain records leaves it uncleared:
/// every user initialises what it takes.
template <typename Node, uint32_t NodesPerBlock>
class TNodePool {
  static_assert(sizeof(Node) >= sizeof(void*), "a free node holds the free-list link");
  static_assert(std::is_trivially_destructible_v<Node>, "pooled nodes are never destroyed");
  static_assert(alignof(Node) <= alignof(std::max_align_t), "blocks come from malloc");
  static_assert(NodesPerBlock > 0);

  static constexpr std::size_t kSlotAlign = alignof(Node) > alignof(void*) ? alignof(Node)
                                                                           : alignof(void*);
  static constexpr std::size_t RoundUp(std::size_t n) {
    return (n + kSlotAlign - 1) / kSlotAlign * kSlotAlign;
  }
  static constexpr std::size_t kSlotBytes = RoundUp(sizeof(Node));
  static constexpr std::size_t kFirstSlotOffset = RoundUp(sizeof(void*));
  static_assert(kFirstSlotOffset + kSlotBytes * NodesPerBlock <= UINT32_MAX, "block too large");

 public:
  using NodeType = Node;
  static constexpr uint32_t kNodesPerBlock = NodesPerBlock;

  constexpr TNodePool()
      : core_(static_cast<uint32_t>(kSlotBytes), static_cast<uint32_t>(kFirstSlotOffset),
              NodesPerBlock) {}
  TNodePool(const TNodePool&) = delete;
  TNodePool& operator=(const TNodePool&) = delete;

  /// A node, or null after shutdown or when no block can be obtained.
  [[nodiscard]] Node* Allocate() {
    void* slot = core_.AllocateSlot();
    return slot == nullptr ? nullptr : ::new (slot) Node;
  }
  /// Gives a node from this pool back; null and calls after shutdown are ignored.
  void Free(Node* node) { core_.FreeSlot(node); }

  /// Hands out nodes taken from the pool a group at a time under one lock, instead of one lock
  /// per node, and gives back those it did not hand out when destroyed: for building a tree
  /// node by node. Nodes are default-initialised, as Allocate leaves them.
  class TakeBatch {
   public:
    explicit TakeBatch(TNodePool& pool) : pool_(pool) {}
    ~TakeBatch() {
      // After shutdown the slots' memory is gone: nothing to walk or give back.
      if (first_ == nullptr || pool_.is_shut_down()) {
        return;
      }
      void* last = first_;
      while (NodePoolCore::NextSlot(last) != nullptr) {
        last = NodePoolCore::NextSlot(last);
      }
      pool_.core_.FreeSlotChain(first_, last, count_);
    }
    TakeBatch(const TakeBatch&) = delete;
    TakeBatch& operator=(const TakeBatch&) = delete;

    /// A node, or null when the pool yields none (after shutdown, or without memory).
    [[nodiscard]] Node* Allocate() {
      if (pool_.is_shut_down()) {
        return nullptr;  // the slots held here went with the pool's blocks
      }
      if (first_ == nullptr) {
        first_ = pool_.core_.TakeSlotChain(kGroup, count_);
        if (first_ == nullptr) {
          return nullptr;
        }
      }
      void* slot = first_;
      first_ = NodePoolCore::NextSlot(slot);
      --count_;
      return ::new (slot) Node;
    }

   private:
    static constexpr uint32_t kGroup = 32;
    TNodePool& pool_;
    void* first_ = nullptr;
    uint32_t count_ = 0;
  };

  /// Gathers nodes going back to the pool and returns them under one lock (at Flush or
  /// destruction) instead of one lock per node: for releasing whole trees. A node's memory
  /// belongs to the pool from Add on and must no longer be read.
  class ReturnBatch {
   public:
    explicit ReturnBatch(TNodePool& pool) : pool_(pool) {}
    ~ReturnBatch() { Flush(); }
    ReturnBatch(const ReturnBatch&) = delete;
    ReturnBatch& operator=(const ReturnBatch&) = delete;

    void Add(Node* node) {
      NodePoolCore::LinkSlot(node, first_);
      if (first_ == nullptr) {
        last_ = node;
      }
      first_ = node;
      ++count_;
    }
    void Flush() {
      pool_.core_.FreeSlotChain(first_, last_, count_);
      first_ = nullptr;
      last_ = nullptr;
      count_ = 0;
    }

   private:
    TNodePool& pool_;
    void* first_ = nullptr;
    void* last_ = nullptr;
    uint32_t count_ = 0;
  };
  /// Frees every block; the pool then yields no node. Its nodes must no longer be touched.
  void Shutdown() { core_.Shutdown(); }

  bool is_shut_down() const { return core_.is_shut_down(); }
  uint32_t free_count() const { return core_.free_count(); }
  uint32_t total_count() const { return core_.total_count(); }

 private:
  NodePoolCore core_;
};

/// The process-wide pool of one node kind. Tag tells apart several pools of the same node type
/// (the two link pools, for example). The pool is built on first use and shut down at exit.
template <typename Node, uint32_t NodesPerBlock, typename Tag = void>
TNodePool<Node, NodesPerBlock>& ProcessNodePool() {
  static TNodePool<Node, NodesPerBlock> pool;
  return pool;
}
