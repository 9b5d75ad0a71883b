// types/value.h - the in-memory value record every object is built of.
//
// An object is a tree of ValueNodes: the object is a compound value whose children are its field
// values, a field of a class type is again a compound value, an array field is an array value
// whose children are its elements, and every other value is a primitive whose payload a core
// type reads, writes, parses and prints. The tree operations (initialising a node for a type,
// releasing a tree, decoding and encoding objects) live with the .bin container; this header
// only fixes the record and the storage form of each built-in type, so the core types and the
// type lookups can work on payloads.
//
//   kind      0 array, 1 compound, otherwise the hash of the core type whose storage form the
//             payload uses (cBool, cByte, cShort, cInt, cFloat, cVector2/3/4, cHash, cString,
//             cAxisAlignedBoundingBox)
//   payload   children (first, last, count) for arrays and compounds; up to 24 bytes otherwise
#pragma once

#include <cstdint>

#include "foundation/string_buffer.h"
#include "types/core_type_hashes.h"

/// Kinds of value that are not primitives; every other kind is a storage type hash.
enum class ValueKind : uint32_t {
  kArray = 0,
  kCompound = 1,
};
/// The same kinds as the node's `kind` holds them.
inline constexpr uint32_t kArrayKind = static_cast<uint32_t>(ValueKind::kArray);
inline constexpr uint32_t kCompoundKind = static_cast<uint32_t>(ValueKind::kCompound);

struct ValueNode;

/// The children of an array or compound value, in order.
struct ValueChildren {
  ValueNode* first;
  ValueNode* last;
  uint32_t count;
};

/// Storage of one value; which member is live follows from the node's kind.
union ValuePayload {
  ValueChildren children;
  uint8_t boolean;  // cBool: 0 or 1
  int8_t byte;      // cByte
  int16_t int16;    // cShort
  int32_t int32;    // cInt
  uint32_t word;    // cHash storage: hashes, text IDs, object IDs, enumerations, flags
  float floats[6];  // cFloat (1), cVector2 (2), cVector3 (3), cVector4 (4), box (6)
  HeapText text;    // cString: owned text, or the shared empty value string
};
static_assert(sizeof(float[6]) == 24, "a primitive payload holds up to 24 bytes");

/// One value of an object tree. Nodes come from a pool and are zeroed before use. The fields
/// are ordered so the record packs into 48 bytes (two 4-byte words, the sibling link, the
/// 24-byte payload, the name and the array flag) with no padding between them.
struct ValueNode {
  uint32_t kind;       // ValueKind or a storage type hash
  uint32_t type_hash;  // declared type: class, field type, or element type
  ValueNode* next;     // following sibling in the parent's child list
  ValuePayload payload;
  uint32_t name;  // field name hash, object ID for a top-level object, 0 for an element
  bool is_array;

  bool IsArray() const { return kind == kArrayKind; }
  bool IsCompound() const { return kind == kCompoundKind; }
};
static_assert(sizeof(void*) != 8 || sizeof(ValueNode) == 48, "a value node fills 48 bytes");

/// A built-in value type hash and the storage form its payload takes.
struct StorageRow {
  uint32_t type_hash;
  uint32_t storage_hash;
};

inline constexpr StorageRow kStorageRows[] = {
    {kCBoolHash, kCBoolHash},
    {kCByteHash, kCByteHash},
    {kCShortHash, kCShortHash},
    {kCIntHash, kCIntHash},
    {kCFloatHash, kCFloatHash},
    {kCAngleHash, kCFloatHash},
    {kCVector2Hash, kCVector2Hash},
    {kCVector3Hash, kCVector3Hash},
    {kCVector4Hash, kCVector4Hash},
    {kCColorHash, kCVector4Hash},
    {kCQuatHash, kCVector4Hash},
    {kCAxisAlignedBoundingBoxHash, kCAxisAlignedBoundingBoxHash},
    {kCHashHash, kCHashHash},
    {kCStringHashHash, kCHashHash},
    {kCTextIDHash, kCHashHash},
    {kCPointerHash, kCHashHash},
    {kCStringHash, kCStringHash},
    {kUnnamedStringHashA, kCStringHash},
    {kUnnamedStringHashB, kCStringHash},
    {kUnnamedStringHashC, kCStringHash},
};

/// The storage form (a core type hash) of a built-in value type hash, or 0 for any other hash.
/// The rows above as a switch: every value of a decode asks for its storage form, and a switch
/// takes a handful of compares where a scan of the rows takes twenty.
constexpr uint32_t StorageTypeOf(uint32_t type_hash) {
  switch (type_hash) {
    case kCBoolHash:
      return kCBoolHash;
    case kCByteHash:
      return kCByteHash;
    case kCShortHash:
      return kCShortHash;
    case kCIntHash:
      return kCIntHash;
    case kCFloatHash:
    case kCAngleHash:
      return kCFloatHash;
    case kCVector2Hash:
      return kCVector2Hash;
    case kCVector3Hash:
      return kCVector3Hash;
    case kCVector4Hash:
    case kCColorHash:
    case kCQuatHash:
      return kCVector4Hash;
    case kCAxisAlignedBoundingBoxHash:
      return kCAxisAlignedBoundingBoxHash;
    case kCHashHash:
    case kCStringHashHash:
    case kCTextIDHash:
    case kCPointerHash:
      return kCHashHash;
    case kCStringHash:
    case kUnnamedStringHashA:
    case kUnnamedStringHashB:
    case kUnnamedStringHashC:
      return kCStringHash;
    default:
      return 0;
  }
}

static_assert(
    [] {
      for (const StorageRow& row : kStorageRows) {
        if (StorageTypeOf(row.type_hash) != row.storage_hash) {
          return false;
        }
      }
      return StorageTypeOf(0) == 0 && StorageTypeOf(kCPointerHash + 1) == 0;
    }(),
    "the storage switch and its rows disagree");

/// True exactly for the 20 built-in value type hashes (the 17 primitives and the three unnamed
/// string types).
constexpr bool IsCoreTypeHash(uint32_t type_hash) { return StorageTypeOf(type_hash) != 0; }

/// The kind a value of type `type_hash` has when its core type reads it: the storage form of
/// `core_storage` (the core type's StorageTypeHash) or, when that is 0, of `type_hash`; the
/// compound kind, which no such value may have, when that is not a built-in form.
constexpr uint32_t CoreValueKind(uint32_t core_storage, uint32_t type_hash) {
  const uint32_t kind = StorageTypeOf(core_storage != 0 ? core_storage : type_hash);
  return kind != 0 ? kind : kCompoundKind;
}
