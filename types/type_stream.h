// types/type_stream.h - class type descriptors, their fields and the type information stream.
//
// A .bin file (and the type library) describes the class types of its objects: each class is a
// list of fields, and each field names its value type by hash, says whether it is an array and
// how its numbers are quantized. FieldInfo is one such field; every core type reads and writes
// its values under a FieldInfo. A loaded field's words are exactly those of the stream; a new
// field is all zero (a single value, mode None) until it is read.
//
// Stream layout (bit fields, least significant bit first, no padding; the stream starts at a
// byte boundary and its length is its bit length rounded up to whole bytes):
//
//   stream        u32        class count
//                 record...  class records, in the writer's registry order
//
//   class record  BitString  class name
//                 u32        class name hash (the key of the class)
//                 u32        extra word (carried unchanged, never interpreted)
//                 u32        field count
//                 record...  field records, in declaration order
//
//   field record  BitString  field name
//                 u32        field name hash
//                 u32        type hash (a core type or a class type)
//                 1 bit      1: variable-length array (array size -1), no array size follows
//                 VarUInt    array size, only when the bit is 0: 0 one value, n an array of n
//                 VarUInt    quantization mode code
//                 mode 1:    u32 minimum (two's complement), VarUInt maximum, VarUInt step
//                 mode 2:    u32 minimum, u32 maximum, u32 step (single-precision bit patterns)
//                 (no other mode carries parameters)
//
// So an array size, an Int maximum and an Int step lie in 0 .. 2^31 - 1 and a name has at most
// 2^31 - 1 characters; anything outside cannot be written and fails the write.
//
// Reading trusts nothing: a truncated stream, a count that cannot fit in the bits that remain
// (checked before anything is allocated) or quantization parameters that would divide by zero
// fail the record. Names and hashes are never checked against each other.
#pragma once

#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>

#include "foundation/bit_stream.h"
#include "foundation/byte_buffer.h"
#include "foundation/hash_table.h"
#include "foundation/string_buffer.h"
#include "types/quantization.h"

/// One field of a class type. The fields keep this order.
struct FieldInfo {
  /// Field name as stored in the type information, for display and bit-range paths.
  TStringBufferA<32> name;
  /// NameHash of the name as stored; object values identify their fields by it.
  uint32_t name_hash = 0;
  /// Name hash of the value type: a core type, or a class type whose values are nested objects.
  uint32_t type_hash = 0;
  /// QuantizationMode code. Unknown codes are kept as read; value types refuse them.
  uint32_t quantization_mode = 0;
  /// Parameters of mode Int (meaningless for other modes).
  IntQuantization int_quantization;
  /// Parameters of mode Float; bit_count stays 0 in a loaded field (the stream omits it).
  FloatQuantization float_quantization;
  /// 0: one value; n > 0: an array declared with n elements; -1: an array of variable length.
  int32_t array_size = 0;

  bool IsArray() const { return array_size != 0; }
  QuantizationMode mode() const { return static_cast<QuantizationMode>(quantization_mode); }
};

/// A class type: its name, key and fields. Owns its field array; destroying the class (or
/// ReleaseFields) releases every field's name and the array.
struct ClassType {
  /// Class name as stored, for display ("cGameObjectState").
  TStringBufferA<32> name;
  /// Name hash as stored; the key of the class in every registry.
  uint32_t name_hash = 0;
  /// Read and written with the class, never interpreted.
  uint32_t extra_word = 0;
  /// `field_count` fields in stream order; null when there are none.
  FieldInfo* fields = nullptr;
  uint32_t field_count = 0;

  ClassType() = default;
  ~ClassType() { ReleaseFields(); }
  ClassType(const ClassType&) = delete;
  ClassType& operator=(const ClassType&) = delete;

  /// Replaces the fields by `count` new, all-zero fields. False, with no fields, when the array
  /// cannot be allocated (also when its byte size would not fit in 32 bits).
  [[nodiscard]] bool AllocateFields(uint32_t count);
  /// Destroys the fields and frees the array; field_count becomes 0.
  void ReleaseFields();
};

/// Destroys a heap class made by MakeClassType.
struct ClassTypeDeleter {
  void operator()(ClassType* class_type) const;
};
/// Owning handle of a heap class, as handed to a TypeRegistry.
using ClassTypePtr = std::unique_ptr<ClassType, ClassTypeDeleter>;
/// A new empty class on the heap (MemoryInterface); null when no memory.
[[nodiscard]] ClassTypePtr MakeClassType();

/// The table under a TypeRegistry: class name hash -> ClassType* (256 buckets, 2 entries per
/// node, inserts behind a switch).
using ClassTypeTable = THashTable<ClassType*, kSmallTableBucketBits, 2, HashInsert::kSwitch>;

/// The class types of one command, by name hash. Owns its classes: Clear and the destructor
/// destroy every class, then give the table's nodes back. Holds at most one class per name
/// hash; the first one added stays. Iteration order is the table's: by the low 8 bits of the
/// name hash, within a bucket newest node first.
class TypeRegistry {
 public:
  TypeRegistry() = default;
  ~TypeRegistry() { Clear(); }
  TypeRegistry(const TypeRegistry&) = delete;
  TypeRegistry& operator=(const TypeRegistry&) = delete;

  /// The class with this name hash, or null.
  [[nodiscard]] ClassType* Find(uint32_t name_hash) const;
  /// Takes ownership of `class_type` and enters it under its name_hash. Returns the class, or
  /// null (destroying it) when a class of that hash is already held, when `class_type` is
  /// null or when the table cannot take an entry.
  ClassType* Add(ClassTypePtr class_type);
  /// Destroys every class and releases the table; the registry is empty and reusable.
  void Clear();
  /// Number of classes held.
  uint32_t count() const { return table_.count(); }

  /// Calls fn(const ClassType&) for every class in iteration order; when fn returns bool,
  /// false stops the walk and ForEach returns false.
  template <typename Fn>
  bool ForEach(Fn&& fn) const {
    return table_.ForEach([&](uint32_t, ClassType* const& value) {
      if constexpr (std::is_same_v<std::invoke_result_t<Fn&, const ClassType&>, bool>) {
        return value == nullptr || fn(static_cast<const ClassType&>(*value));
      } else {
        if (value != nullptr) fn(static_cast<const ClassType&>(*value));
      }
    });
  }

 private:
  ClassTypeTable table_;
};

/// The class of `registry` with this name hash, or null.
[[nodiscard]] inline ClassType* FindClassType(const TypeRegistry& registry, uint32_t name_hash) {
  return registry.Find(name_hash);
}

/// Writes one field record. False when the writer is failed afterwards (including an array
/// size below -1, or an Int maximum or step that a VarUInt cannot hold).
[[nodiscard]] bool WriteFieldRecord(const FieldInfo& field, BitWriter& writer);
/// Reads one field record into `field`. False when the reader is failed afterwards, or when
/// the Int or Float parameters of the mode are unusable (step 0, NaN, infinity); the reader
/// is then marked failed too.
[[nodiscard]] bool ReadFieldRecord(FieldInfo& field, BitReader& reader);

/// Writes one class record with all its fields. False when the writer is failed afterwards.
[[nodiscard]] bool WriteClassRecord(const ClassType& class_type, BitWriter& writer);
/// Reads one class record into `class_type`, replacing its fields. False on a truncated or
/// malformed record, a field count that the remaining bits cannot hold, or no memory; the
/// class may then hold part of the record.
[[nodiscard]] bool ReadClassRecord(ClassType& class_type, BitReader& reader);
/// Moves past one class record, keeping nothing. False when it is truncated or malformed.
/// The quantization parameters of a skipped record are not judged.
[[nodiscard]] bool SkipClassType(BitReader& reader);

/// Reads the stream in the `size` bytes at `data` and adds every class whose name hash the
/// registry does not hold yet (a held hash skips the record whole, unread and unreported).
/// Returns the bytes the stream occupies (at least 4), or 0 on failure; classes added before
/// a failure stay. Ranges of kMaxStreamBytes or more fail.
[[nodiscard]] uint32_t LoadTypeInfo(TypeRegistry& registry, const uint8_t* data, uint32_t size);
/// Appends the stream of every class of `registry`, in its iteration order, at the end of
/// `buffer` (its size, a byte boundary). Returns the buffer's new size, or 0 on failure (the
/// buffer cannot grow, or a class cannot be written).
[[nodiscard]] uint32_t SaveTypeInfo(const TypeRegistry& registry, ByteBuffer& buffer);
