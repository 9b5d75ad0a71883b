// bin/value_node.h - object value trees: their nodes, lists and tables, and the three walks
// that decode, encode and measure an object's fields.
//
// An object is a compound ValueNode (types/value.h) named by its object ID whose children are
// its field values in declaration order. A field of a class type is again a compound value, an
// array field is an array value whose children are its elements (named 0), and every other
// value is a primitive whose payload a core type reads and writes. The walks are driven only by
// the class type's fields: the bit stream carries no names, tags or lengths besides array
// counts.
//
//   field kind             in the stream                  in the tree
//   ---------------------  -----------------------------  ------------------------------------
//   core type              its core type's bit form       primitive child, kind = storage type
//   class type             its fields, recursively        compound child (kind 1)
//   array (size n or -1)   VarUInt count, then elements   array child (kind 0), count elements
//
// Nodes come from the process-wide ValueNodePool and are zeroed before use; a tree owns its
// nodes and its strings. Every walk stops at its first failure and returns false, leaving the
// nodes made so far in the tree for the caller to release with the rest. Walks nest at most
// kMaxNestingDepth class levels below the object, so a class that contains itself (directly or
// through other classes) fails cleanly instead of exhausting the stack. A decode also creates
// at most a bounded number of nodes per bit of input (DecodeBudget), so a forged array count or
// a fan of classes whose values take no bits cannot exhaust memory.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "foundation/bit_stream.h"
#include "foundation/hash_table.h"
#include "foundation/link_list.h"
#include "foundation/memory.h"
#include "foundation/node_pool.h"
#include "foundation/string_buffer.h"
#include "types/core_type.h"
#include "types/field_types.h"
#include "types/type_stream.h"
#include "types/value.h"

/// Value nodes per pool block.
inline constexpr uint32_t kValueNodesPerBlock = 512;
using ValueNodePool = TNodePool<ValueNode, kValueNodesPerBlock>;
/// The process-wide pool every value node comes from and goes back to.
ValueNodePool& DefaultValueNodePool();

/// Top-level objects by object ID (65536 buckets, 4 entries per node, inserts behind a switch).
/// The table does not own the objects.
using ObjectIdTable = THashTable<ValueNode*, kLargeTableBucketBits, 4, HashInsert::kSwitch>;
/// Top-level objects in load or document order, chained through their own `next`. The list does
/// not release its objects; ReleaseObjects or an OwnedObjectList does.
using ValueObjectList = TObjectList<ValueNode>;

/// Class levels a walk may descend below the object it starts at.
inline constexpr uint32_t kMaxNestingDepth = 256;

/// Value nodes one decode may create per bit of its input, and on top of that. An honest file
/// stays far below: almost every value takes bits of its own.
inline constexpr uint64_t kDecodeNodesPerBit = 16;
inline constexpr uint64_t kDecodeNodeAllowance = 65536;

/// The nodes a decode may still create. Share one budget across all objects of a stream so the
/// whole stream, not each object, is bounded.
struct DecodeBudget {
  uint64_t nodes_left;

  /// The budget of a stream that has `bits` bits to decode.
  static DecodeBudget ForBits(uint32_t bits) {
    return DecodeBudget{uint64_t{bits} * kDecodeNodesPerBit + kDecodeNodeAllowance};
  }
};

// IsCoreTypeHash, StorageTypeOf and CoreValueKind, the storage forms of the built-in types,
// are in types/value.h.

/// Prepares `node` as a value of type `type_hash`: an empty array when `as_array` is set;
/// otherwise, with s = `storage_override` if not 0 else `type_hash`, a primitive of storage form
/// StorageTypeOf(s) holding its initial payload (zero, or the empty text) when s is a built-in
/// hash, and an empty compound value when it is not. The type hash is always `type_hash`.
/// `name` and `next` are left as they are. The node must hold nothing that needs releasing.
void InitValue(ValueNode& node, uint32_t type_hash, bool as_array, uint32_t storage_override);

/// InitValue(node, type_hash, false, s) for a core type whose values have the primitive kind
/// `kind` = CoreValueKind(s, type_hash) (not the compound kind), known beforehand (FieldTypes).
inline void InitPrimitive(ValueNode& node, uint32_t type_hash, uint32_t kind) {
  std::memset(&node.payload, 0, sizeof(node.payload));
  node.is_array = false;
  node.type_hash = type_hash;
  node.kind = kind;
  if (kind == kCStringHash) {
    node.payload.text = HeapText::Empty();
  }
}

/// A zeroed node from the pool, or null when the pool yields none.
[[nodiscard]] ValueNode* NewValueNode();
/// A new top-level object: a compound value of class `class_hash` named `object_id`, on no
/// list. Null when the pool yields no node.
[[nodiscard]] ValueNode* NewObjectValue(uint32_t class_hash, uint32_t object_id);
/// Appends a new child to the array or compound value `parent`: a zeroed node named `name`,
/// initialised by InitValue with the other arguments. Null, changing nothing, when the pool
/// yields no node.
[[nodiscard]] ValueNode* AppendChildValue(ValueNode& parent, uint32_t name, uint32_t type_hash,
                                          bool as_array, uint32_t storage_override);
/// AppendChildValue with a node the caller took from the pool (`child`, which is zeroed
/// here); null, changing nothing, when `child` is null.
[[nodiscard]] ValueNode* AppendChildNode(ValueNode& parent, ValueNode* child, uint32_t name,
                                         uint32_t type_hash, bool as_array,
                                         uint32_t storage_override);
/// The first child of the array or compound `parent` named `name`, or null.
[[nodiscard]] const ValueNode* FindChildValue(const ValueNode& parent, uint32_t name);

/// FindChildValue for the fields of a class asked in declaration order, as the writers and the
/// validation do. Decoded and parsed values hold their children in that order, so the child
/// after the last one found is tried first; it is the first child with the field's name unless
/// an earlier child has the same name, which a 256-bit filter of the names passed so far rules
/// out. Anything else takes the search from the first child, which also resumes the order.
class FieldChildCursor {
 public:
  explicit FieldChildCursor(const ValueNode& parent)
      : first_(parent.IsCompound() || parent.IsArray() ? parent.payload.children.first : nullptr),
        next_(first_) {}

  [[nodiscard]] const ValueNode* Find(uint32_t name) {
    const uint32_t slot = FilterSlot(name);
    if (next_ != nullptr && next_->name == name && !InFilter(slot)) {
      const ValueNode* found = next_;
      AddToFilter(slot);
      next_ = found->next;
      return found;
    }
    for (const ValueNode* child = first_; child != nullptr; child = child->next) {
      AddToFilter(FilterSlot(child->name));
      if (child->name == name) {
        next_ = child->next;
        return child;
      }
    }
    return nullptr;
  }

 private:
  static uint32_t FilterSlot(uint32_t name) { return (name * 0x9E3779B1u) >> 24; }
  bool InFilter(uint32_t slot) const { return (filter_[slot >> 6] >> (slot & 63)) & 1; }
  void AddToFilter(uint32_t slot) { filter_[slot >> 6] |= uint64_t{1} << (slot & 63); }

  const ValueNode* first_;
  const ValueNode* next_;
  // Holds the slot of every child before next_ (and possibly more, which only costs a search).
  uint64_t filter_[4] = {0, 0, 0, 0};
};

/// Releases what `value` owns: every child of an array or compound value, with their subtrees,
/// goes back to the pool and the child list becomes empty; a string payload is freed and
/// becomes the empty text. The node itself stays. Works without recursion, so any depth is
/// fine. Once the pool has shut down (process exit) nothing is touched.
void ReleaseValue(ValueNode& value);
/// Releases a top-level object and gives its own node back too. Null is ignored. The object
/// must already be off any list.
void ReleaseObject(ValueNode* object);
/// Releases every object of `list` in order and leaves the list empty.
void ReleaseObjects(ValueObjectList& list);

/// An object list that releases its objects whenever it goes out of scope.
class OwnedObjectList : public ValueObjectList {
 public:
  OwnedObjectList() = default;
  ~OwnedObjectList() { ReleaseObjects(*this); }
  OwnedObjectList(const OwnedObjectList&) = delete;
  OwnedObjectList& operator=(const OwnedObjectList&) = delete;
};

/// Reads the fields of `class_type` from `reader` and appends them to the compound `parent`, in
/// declaration order. A field's type is looked up in `core_types` first and in `registry`
/// second; a type in neither fails (an empty array looks nothing up). Array counts are not
/// compared with the declared sizes. Fails on a failed read, a type that cannot be found,
/// nesting deeper than kMaxNestingDepth, a pool without nodes or an exhausted `budget` (when
/// null, a budget for the bits that remain in `reader` is used). Nodes made before a failure
/// stay in `parent`. `types`, when it serves `registry` and `core_types`, answers the lookups
/// (a command decoding many objects passes one for all of them).
[[nodiscard]] bool DecodeObjectFields(ValueNode& parent, const TypeRegistry& registry,
                                      const CoreTypeTable& core_types, const ClassType& class_type,
                                      BitReader& reader, DecodeBudget* budget = nullptr,
                                      FieldTypeCache* types = nullptr);

/// The cPointer values a validation met, in stream order, and where each object's begin. A
/// writer that looks the target of every pointer up (for its comment) can then ask the cache
/// for those lookups an object ahead. Only a hint: once memory runs out, `complete` turns false
/// and the lists stop growing.
struct PointerLog {
  LargeVector<uint32_t> ids;
  LargeVector<uint32_t> object_starts;  // index in `ids` of each object's first pointer
  bool complete = true;

  void StartObject() noexcept { Add(object_starts, static_cast<uint32_t>(ids.size())); }
  void AddPointer(uint32_t id) noexcept { Add(ids, id); }

 private:
  void Add(LargeVector<uint32_t>& list, uint32_t value) noexcept {
    if (!complete) {
      return;
    }
    try {
      list.push_back(value);
    } catch (...) {
      complete = false;
    }
  }
};

/// How a validation steps over the fields of each class, worked out once per class for one
/// registry and core type table (which must outlive it and not change, as for FieldTypeCache).
/// Consecutive fields whose values all take a fixed number of bits (CCoreType::FixedBitWidth;
/// never a cPointer, whose values are noted) form one run, stepped over at once. A cString or
/// cPointer field (not an array) is stepped over by its own bit form, without a type's call;
/// every other field is read on its own.
class FieldSkipPlans {
 public:
  enum class StepKind : uint8_t {
    kField,    // one field, read as the decode reads it
    kRun,      // `field_count` fixed-width fields, `bits` in all
    kString,   // one cString field
    kPointer,  // one cPointer field
  };
  struct Step {
    uint32_t first_field;
    uint32_t field_count;  // 1 unless a run
    uint64_t bits;         // of the whole run; 0 unless a run
    StepKind kind;
  };

  FieldSkipPlans(const TypeRegistry& registry, const CoreTypeTable& core_types)
      : registry_(registry), core_types_(core_types) {}
  FieldSkipPlans(const FieldSkipPlans&) = delete;
  FieldSkipPlans& operator=(const FieldSkipPlans&) = delete;

  /// True when the plans are for exactly these two tables.
  [[nodiscard]] bool Serves(const TypeRegistry& registry, const CoreTypeTable& core_types) const {
    return &registry == &registry_ && &core_types == &core_types_;
  }
  /// The steps over the fields of `class_type` (a class of the registry), worked out with
  /// `types` (a cache for the same tables) the first time. Null, and the class is read field
  /// by field, when memory runs out or the class's slot holds another class's plan (a plan,
  /// once made, stays unchanged while the plans live).
  const std::vector<Step>* Find(const ClassType& class_type, FieldTypeCache& types);

 private:
  static constexpr uint32_t kSlotBits = 6;
  struct Slot {
    const ClassType* class_type = nullptr;
    std::vector<Step> steps;
  };
  const TypeRegistry& registry_;
  const CoreTypeTable& core_types_;
  Slot slots_[1u << kSlotBits];
};

/// Reads the fields of `class_type` from `reader` exactly as DecodeObjectFields does, with the
/// same failures and the same use of `budget` (one node's worth per value), but keeps nothing:
/// every value is read into one scratch node and dropped, so no node is taken from the pool.
/// On success, and on failure too, the reader stands where DecodeObjectFields would leave it.
/// `types` as there. `pointers`, when given, gets the value of every cPointer read. `plans`,
/// when it serves `registry` and `core_types`, lets runs of fixed-width values be stepped
/// over at once (a command validating many objects passes one for all of them).
[[nodiscard]] bool ValidateObjectFields(
    const TypeRegistry& registry, const CoreTypeTable& core_types, const ClassType& class_type,
    BitReader& reader, DecodeBudget* budget = nullptr, FieldTypeCache* types = nullptr,
    PointerLog* pointers = nullptr, FieldSkipPlans* plans = nullptr);

/// Writes the fields of `class_type` from the compound `value` in declaration order. Each field
/// is the first child with the field's name hash; the order of the children does not matter and
/// children that no field names are not written. Fails when a field has no child, when the
/// child's type hash differs from the field's type or its form does not fit the field (an array
/// for an array field, a compound for a class, the core type's storage form otherwise), when a
/// class is not in `registry`, when a value cannot be written, or past kMaxNestingDepth. What
/// was written before a failure stays in the writer. `types` as for DecodeObjectFields.
[[nodiscard]] bool EncodeObjectFields(const ValueNode& value, const TypeRegistry& registry,
                                      const CoreTypeTable& core_types, const ClassType& class_type,
                                      BitWriter& writer, FieldTypeCache* types = nullptr);

/// Decodes exactly as DecodeObjectFields and, after each field, appends the line
///   "<path>: <start> - <end> (<length>)\n"
/// to `out`, where path is "<parent_path>.<field name>" (the fields of a nested class value,
/// and of every element of an array of classes, take the field's path as their parent path, so
/// element paths carry no index) and start and end are the reader positions before and after
/// the field, minus `base_position`. A nested field's line therefore comes before the line of
/// the field that holds it. Lines of the fields decoded before a failure stay in `out`.
[[nodiscard]] bool PrintObjectBitRanges(ValueNode& parent, const TypeRegistry& registry,
                                        const CoreTypeTable& core_types,
                                        const ClassType& class_type, BitReader& reader,
                                        uint32_t base_position, const char* parent_path,
                                        CStringBufferA& out, DecodeBudget* budget = nullptr);
