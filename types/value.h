// types/value.h - the in-memory value record every object is built of.
//
// An object is a tree of ValueNodes: the object is a compound value whose children are its field
// values, a field of a class type is again a compound value, an array field is an array value
// whose children are its elements, and every other value is a primitive whose payload a core
// type reads, writes, parses and prints. The tree operations (initialising a node for a type,
// releasing a tree, decoding and encoding objects) live with the .bin container; this header
// only fixes the record, so the core types can work on payloads.
//
//   kind      0 array, 1 compound, otherwise the hash of the core type whose storage form the
//             payload uses (cBool, cByte, cShort, cInt, cFloat, cVector2/3/4, cHash, cString,
//             cAxisAlignedBoundingBox)
//   payload   children (first, last, count) for arrays and compounds; up to 24 bytes otherwise
#pragma once

#include <cstdint>

#include "foundation/string_buffer.h"

/// Kinds of value that are not primitives; every other kind is a storage type hash.
enum class ValueKind : uint32_t {
  kArray = 0,
  kCompound = 1,
};

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

  bool IsArray() const { return kind == static_cast<uint32_t>(ValueKind::kArray); }
  bool IsCompound() const { return kind == static_cast<uint32_t>(ValueKind::kCompound); }
};
static_assert(sizeof(void*) != 8 || sizeof(ValueNode) == 48, "a value node fills 48 bytes");
