// foundation/hash_table.h - THashTable, the one keyed collection of the program.
//
// Keys are 32-bit; a key's bucket is its low BucketBits bits, with no further mixing. Each
// bucket heads a chain of fixed-capacity nodes taken from the pool of the table's node kind
// (kHashNodesPerBlock nodes per block):
//
//   node:   u32 used_count | entry 0 | entry 1 | ... | entry E-1 | next node
//   entry:  value | bool used | u32 key
//
// A node's used_count is the number of its entries whose used flag is set. New nodes go to the
// head of their chain. Entries are never removed one at a time: a table is filled, searched,
// iterated, cleared as a whole (Clear keeps the nodes for later inserts) and released as a
// whole (Release gives the nodes back). Iteration runs bucket 0 upwards, each chain from its
// head, each node's entries by index, used entries only, so the entries of one bucket come
// out newest node first.
//
// The bucket array (2^BucketBits pointers, 512 KiB for 16 bits, followed by one bit per bucket
// telling whether its chain has nodes, which spares a sparse table's misses the read of a
// bucket) comes from the MemoryInterface on the first insert, so a table may live on the stack. An
// insert that cannot get the bucket array or a node returns null and changes nothing. Once the pool
// has shut down, a table reads as empty and Clear and Release only forget its chains: their nodes
// are gone.
//
// Values are plain records held without construction. THashValueTraits<Value> gives the
// default a new entry takes (Default) and what Clear and Release do to a value (Destroy); the
// generic traits value-initialise (null, 0, zeroed records) and destroy nothing. Heap-text
// values give their text back and return to the empty handle.
//
// The instances (key -> value, default on insert; bucket bits; entries per node; insert rule):
//
//   NameTable          name hash -> HeapText (empty handle)                      16  8  switch
//   ObjectIdTable      object ID -> ValueNode* (null)                            16  4  switch
//   ObjectRefTable     object ID -> ValueNode* (null)                            16  8  switch
//   WrittenObjectSet   object ID -> ValueNode*, left null (same node kind, and    16  8  switch
//                      so the same pool, as ObjectRefTable)
//   DependencyTable    object ID -> {ValueNode*, processed, in_set, queued}      16  4  always
//                      (null, false, false, false)
//   RenameTable        old object ID -> {ValueNode*, new ID} (null, 0)           16  4  switch
//   ReferencedTypeSet  class type hash -> uint8_t (0)                            8   2  always
//   CoreTypeTable      core type name hash -> CCoreType* (null)                  8   2  switch
//   TypeRegistry       class name hash -> ClassType* (null)                      8   2  switch
//
// Each is one alias, for example
//   using ObjectIdTable = THashTable<ValueNode*, 16, 4, HashInsert::kSwitch>;
// Tables with the same value type and entries per node share a node kind and so one pool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "foundation/memory.h"
#include "foundation/node_pool.h"
#include "foundation/string_buffer.h"

/// Nodes per pool block for every table node kind.
inline constexpr uint32_t kHashNodesPerBlock = 32;
/// Bucket bits of the large (65536-bucket) and small (256-bucket) tables.
inline constexpr uint32_t kLargeTableBucketBits = 16;
inline constexpr uint32_t kSmallTableBucketBits = 8;

/// Whether FindOrInsert takes a create switch (kSwitch) or always inserts a missing key.
enum class HashInsert { kSwitch, kAlways };

/// Default value and destruction of a table value. Specialise for value types that own memory.
template <typename Value>
struct THashValueTraits {
  static Value Default() { return Value{}; }
  static void Destroy(Value&) {}
};

/// Heap-text values start as the empty handle; destroying one gives its block back.
template <>
struct THashValueTraits<HeapText> {
  static HeapText Default() { return HeapText::Empty(); }
  static void Destroy(HeapText& value) {
    if (!value.IsEmptyHandle()) {
      value.Release();
    }
    value = HeapText::Empty();
  }
};

/// One node of a table chain; the field order is the layout drawn above.
template <typename Value, uint32_t EntriesPerNode>
struct THashNode {
  struct Entry {
    Value value;
    bool used;
    uint32_t key;
  };
  uint32_t used_count;
  Entry entries[EntriesPerNode];
  THashNode* next;
};

template <typename Value, uint32_t BucketBits, uint32_t EntriesPerNode, HashInsert Insert,
          typename Traits = THashValueTraits<Value>>
class THashTable {
  static_assert(BucketBits >= 1 && BucketBits <= 16);
  static_assert(EntriesPerNode >= 1);
  static_assert(std::is_trivially_destructible_v<Value>, "values live in pooled nodes");

 public:
  using Node = THashNode<Value, EntriesPerNode>;
  using Pool = TNodePool<Node, kHashNodesPerBlock>;
  static constexpr uint32_t kBucketCount = 1u << BucketBits;
  static constexpr uint32_t kBucketMask = kBucketCount - 1;
  static constexpr uint32_t kEntriesPerNode = EntriesPerNode;

  /// The process-wide pool of this table's node kind.
  static Pool& DefaultPool() { return ProcessNodePool<Node, kHashNodesPerBlock>(); }

  /// An empty table taking its nodes from `pool` (the node kind's own pool unless a test
  /// passes another). Allocates nothing.
  explicit THashTable(Pool& pool = DefaultPool()) : pool_(&pool) {}
  /// Releases every node (destroying the values) and frees the bucket array.
  ~THashTable() {
    Release();
    MemoryInterface::Free(buckets_);
  }
  THashTable(const THashTable&) = delete;
  THashTable& operator=(const THashTable&) = delete;

  /// Number of used entries.
  uint32_t count() const { return count_; }

  /// The value stored under `key`, or null.
  [[nodiscard]] Value* Find(uint32_t key) {
    if (!IsLive()) {
      return nullptr;
    }
    const uint32_t bucket = key & kBucketMask;
    // A sparse table answers most misses from the small bitmap, without reading the bucket.
    if (((occupied_[bucket >> 6] >> (bucket & 63)) & 1) == 0) {
      return nullptr;
    }
    for (Node* node = buckets_[bucket]; node != nullptr; node = node->next) {
      if (node->used_count == 0) {
        continue;
      }
      for (uint32_t i = 0; i < EntriesPerNode; ++i) {
        if (node->entries[i].used && node->entries[i].key == key) {
          return &node->entries[i].value;
        }
      }
    }
    return nullptr;
  }
  [[nodiscard]] const Value* Find(uint32_t key) const {
    return const_cast<THashTable*>(this)->Find(key);
  }

  /// The value stored under `key`. A missing key gets a new entry holding Traits::Default()
  /// when `create` is set; otherwise the answer is null. Null also when no bucket array or
  /// node can be obtained. A key that is present never allocates. The caller fills the value
  /// in place; the pointer stays valid until Clear or Release.
  [[nodiscard]] Value* FindOrInsert(uint32_t key,
                                    bool create) requires(Insert == HashInsert::kSwitch) {
    return FindOrInsertImpl(key, create);
  }
  /// As above with the switch always on.
  [[nodiscard]] Value* FindOrInsert(uint32_t key) requires(Insert == HashInsert::kAlways) {
    return FindOrInsertImpl(key, true);
  }

  /// Destroys every value and marks every entry free; the nodes stay for later inserts.
  void Clear() {
    if (IsLive()) {
      for (uint32_t b = 0; b < kBucketCount; ++b) {
        for (Node* node = buckets_[b]; node != nullptr; node = node->next) {
          for (uint32_t i = 0; i < EntriesPerNode; ++i) {
            if (node->entries[i].used) {
              Traits::Destroy(node->entries[i].value);
              node->entries[i].used = false;
              --node->used_count;
            }
          }
        }
      }
    } else {
      ForgetChains();
    }
    count_ = 0;
  }

  /// Destroys every value and gives every node back to the pool, the last node of each chain
  /// first. The table is then empty (count 0) and can be filled again.
  void Release() {
    if (!IsLive()) {
      ForgetChains();
      count_ = 0;
      return;
    }
    for (uint32_t b = 0; b < kBucketCount; ++b) {
      // Reverse the chain in place, then free it from its former tail to its former head.
      Node* reversed = nullptr;
      for (Node* node = buckets_[b]; node != nullptr;) {
        Node* next = node->next;
        node->next = reversed;
        reversed = node;
        node = next;
      }
      while (reversed != nullptr) {
        Node* next = reversed->next;
        for (uint32_t i = EntriesPerNode; i-- > 0;) {
          if (reversed->entries[i].used) {
            Traits::Destroy(reversed->entries[i].value);
            reversed->entries[i].used = false;
          }
        }
        pool_->Free(reversed);
        reversed = next;
      }
      buckets_[b] = nullptr;
    }
    std::memset(occupied_, 0, sizeof(uint64_t) * kOccupancyWords);
    // A released table holds nothing, so its count cannot stay as it was.
    count_ = 0;
  }

  /// Calls fn(key, value) for every used entry in iteration order. When fn returns bool,
  /// false stops the walk; ForEach then returns false. fn must not insert, Clear or Release.
  template <typename Fn>
  bool ForEach(Fn&& fn) {
    return ForEachIn(*this, std::forward<Fn>(fn));
  }
  template <typename Fn>
  bool ForEach(Fn&& fn) const {
    return ForEachIn(*this, std::forward<Fn>(fn));
  }

 private:
  bool IsLive() const { return buckets_ != nullptr && !pool_->is_shut_down(); }

  // After the pool has shut down the nodes' memory is gone: drop the chains unread.
  void ForgetChains() {
    if (buckets_ != nullptr) {
      std::memset(buckets_, 0, sizeof(Node*) * kBucketCount);
      std::memset(occupied_, 0, sizeof(uint64_t) * kOccupancyWords);
    }
  }

  bool EnsureBuckets() {
    if (buckets_ == nullptr) {
      constexpr size_t kBytes = sizeof(Node*) * kBucketCount + sizeof(uint64_t) * kOccupancyWords;
      void* block = MemoryInterface::Allocate(kBytes);
      if (block == nullptr) {
        return false;
      }
      std::memset(block, 0, kBytes);
      buckets_ = static_cast<Node**>(block);
      occupied_ = reinterpret_cast<uint64_t*>(buckets_ + kBucketCount);
    }
    return true;
  }

  Value* FindOrInsertImpl(uint32_t key, bool create) {
    if (Value* found = Find(key)) {
      return found;
    }
    if (!create || pool_->is_shut_down() || !EnsureBuckets()) {
      return nullptr;
    }
    Node*& head = buckets_[key & kBucketMask];
    Node* node = head;
    while (node != nullptr && node->used_count == EntriesPerNode) {
      node = node->next;
    }
    if (node == nullptr) {
      node = pool_->Allocate();
      if (node == nullptr) {
        return nullptr;
      }
      node->used_count = 0;
      for (uint32_t i = 0; i < EntriesPerNode; ++i) {
        node->entries[i].used = false;
      }
      node->next = head;
      head = node;
      const uint32_t bucket = key & kBucketMask;
      occupied_[bucket >> 6] |= uint64_t{1} << (bucket & 63);
    }
    uint32_t index = 0;
    while (node->entries[index].used) {
      ++index;
    }
    typename Node::Entry& entry = node->entries[index];
    entry.value = Traits::Default();
    entry.used = true;
    entry.key = key;
    ++node->used_count;
    ++count_;
    return &entry.value;
  }

  template <typename Self, typename Fn>
  static bool ForEachIn(Self& self, Fn&& fn) {
    if (!self.IsLive()) {
      return true;
    }
    for (uint32_t b = 0; b < kBucketCount; ++b) {
      for (Node* node = self.buckets_[b]; node != nullptr; node = node->next) {
        for (uint32_t i = 0; i < EntriesPerNode; ++i) {
          auto& entry = node->entries[i];
          if (!entry.used) {
            continue;
          }
          using ValueRef = std::conditional_t<std::is_const_v<Self>, const Value&, Value&>;
          ValueRef value = entry.value;
          if constexpr (std::is_same_v<std::invoke_result_t<Fn&, uint32_t, ValueRef>, bool>) {
            if (!fn(entry.key, value)) {
              return false;
            }
          } else {
            fn(entry.key, value);
          }
        }
      }
    }
    return true;
  }

  // One bit per bucket, set while its chain has nodes; it follows the chain heads in the same
  // block.
  static constexpr uint32_t kOccupancyWords = (kBucketCount + 63) / 64;

  Node** buckets_ = nullptr;  // kBucketCount chain heads; null until the first insert
  uint64_t* occupied_ = nullptr;
  uint32_t count_ = 0;
  Pool* pool_;
};

/// Name dictionary table: NameHash of a name -> an owned copy of the name's text.
using NameTable = THashTable<HeapText, kLargeTableBucketBits, 8, HashInsert::kSwitch>;
