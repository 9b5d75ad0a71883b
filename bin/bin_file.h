// bin/bin_file.h - the .bin container: header, type information section and object stream.
//
// A .bin file describes its own class types and then holds its objects, all bit-packed least
// significant bit first (a 32-bit field at a byte boundary reads as a little-endian word):
//
//   offset     size         content
//   ---------  -----------  ------------------------------------------------------------------
//   0          4 bytes      format word 1: 00 00 00 00
//   4          4 bytes      format word 2: "v002" (76 30 30 32)
//   8          T bytes      type information section: u32 class count N, then N class records
//                           (types/type_stream.h), then 0..7 zero bits up to a whole byte;
//                           T is the section's bit length rounded up (4 when N is 0)
//   8 + T      bit stream   objects, back to back:  u32 class name hash
//                                                   u32 object ID
//                                                   fields (bin/value_node.h)
//              0..7 bits    zero padding of the last byte
//
// A reader takes the object stream up to the point where fewer than 32 bits remain, so a tail
// shorter than a class hash is ignored; a class hash without room for its object ID, an unknown
// class, or fields that run past the end fail the load. A writer emits only the class types it
// is given, in their set's order, and the objects in list order.
//
// Five "ComponentTypes"/"ExtensionTypes" fields are declared cInt in files but hold type name
// hashes, so in memory they are switched to cStringHash (TypePatch) and switched back while
// class records are written.
//
// Nothing here prints; results say which phase failed so a command can report it.
#pragma once

#include <cstdint>
#include <vector>

#include "bin/value_node.h"
#include "foundation/bit_stream.h"
#include "foundation/byte_buffer.h"
#include "foundation/hash_table.h"
#include "foundation/memory.h"
#include "types/core_type.h"
#include "types/type_stream.h"

/// Size of the two format words.
inline constexpr uint32_t kBinHeaderBytes = 8;

/// The class types a document uses, by class name hash (256 buckets, 2 entries per node, every
/// FindOrInsert inserts). The values mean nothing; the keys are the set.
using ReferencedTypeSet = THashTable<uint8_t, kSmallTableBucketBits, 2, HashInsert::kAlways>;

/// True when `size` is at least 8 and the bytes start with 00 00 00 00 76 30 30 32 exactly.
[[nodiscard]] bool CheckBinHeader(const uint8_t* bytes, uint32_t size);

/// Which type the component and extension list fields are switched to.
enum class TypePatchDirection {
  kToStringHash,  // after loading type information: values show as names
  kToInt,         // while class records are written: files declare cInt
};

/// Switches the "ComponentTypes" field of cGameObjectState, cHitResponseInjectComponent,
/// cComponentStateCollection and cInjectComponentEvent and the "ExtensionTypes" field of
/// cGameObjectConstData between cInt and cStringHash. Only a field that currently has the other
/// of the two types changes, and only its type hash; a missing class or field is skipped.
void TypePatch(TypeRegistry& registry, TypePatchDirection direction);

/// Reads objects from `reader` (positioned at the start of an object stream) while at least 32
/// bits remain: each becomes a compound value appended to `objects` and entered in `ids` under
/// its object ID (a later object with the same ID takes the entry over). On failure (see the
/// top of this file, plus a reader that has already failed, no nodes or no table entries)
/// every object of `objects` is released and `ids` is cleared.
[[nodiscard]] bool LoadObjects(BitReader& reader, const TypeRegistry& registry,
                               const CoreTypeTable& core_types, ValueObjectList& objects,
                               ObjectIdTable& ids);

/// One object as a scan keeps it: its class hash and its ID.
struct ScannedObject {
  uint32_t class_hash;
  uint32_t id;
};
/// The scanned objects of a file, in stream order (eight bytes per object, in large blocks).
using ScannedObjectList = LargeVector<ScannedObject>;

/// LoadObjects without the fields: every object is checked exactly as LoadObjects checks it
/// (ValidateObjectFields under one budget for the stream, so the same streams fail), but only
/// its class hash and ID are kept, in stream order, in `objects` (emptied first). A later pass
/// decodes the fields of each object in turn from a reader over the same stream, so no more
/// than one object's values are in memory at a time. `pointers`, when given, notes every
/// cPointer value and where each object's pointers begin. On failure `objects` is empty.
[[nodiscard]] bool ScanObjects(BitReader& reader, const TypeRegistry& registry,
                               const CoreTypeTable& core_types, ScannedObjectList& objects,
                               PointerLog* pointers = nullptr);

/// Outcome of loading a .bin file, by the phase that failed.
enum class BinLoadResult {
  kOk,
  kUnexpectedFormat,  // shorter than the header, or wrong format words
  kTypesFailed,       // type information section unreadable
  kObjectsFailed,     // object stream unreadable
};

/// Checks the header, loads the type information section into `registry` and applies TypePatch
/// towards cStringHash. On kOk, `objects_offset` is the byte offset of the object stream.
[[nodiscard]] BinLoadResult LoadBinTypes(const uint8_t* bytes, uint32_t size,
                                         TypeRegistry& registry, uint32_t& objects_offset);

/// LoadBinTypes, then LoadObjects over the object stream. Classes loaded before a failure stay
/// in `registry`; objects never stay after a failure.
[[nodiscard]] BinLoadResult LoadBinFile(const uint8_t* bytes, uint32_t size, TypeRegistry& registry,
                                        const CoreTypeTable& core_types, ValueObjectList& objects,
                                        ObjectIdTable& ids);

/// Replaces the content of `out` by the header and the type information section: the entry
/// count of `types`, then the class record of every type of the set in its iteration order,
/// written with the list fields switched to cInt (they are cStringHash again on return, on
/// every path). Fails when a type of the set is not in `registry` or a record cannot be written.
[[nodiscard]] bool WriteBinTypeSection(TypeRegistry& registry, const ReferencedTypeSet& types,
                                       ByteBuffer& out);

/// Appends the object stream from the next whole byte of `out`: for each object in list order
/// its class hash, its object ID and its fields. Fails when an object's class is not in
/// `registry`, an object cannot be encoded (EncodeObjectFields) or the buffer cannot grow.
[[nodiscard]] bool WriteBinObjects(const TypeRegistry& registry, const CoreTypeTable& core_types,
                                   const ValueObjectList& objects, ByteBuffer& out);

/// Appends one object of the object stream at the writer's position: its class hash, its object
/// ID and its fields, as WriteBinObjects does for each object of its list. Fails when the
/// object's class is not in `registry`, it cannot be encoded or the writer has failed. A writer
/// of many objects passes one `types` for all of them (see EncodeObjectFields).
[[nodiscard]] bool WriteBinObject(const TypeRegistry& registry, const CoreTypeTable& core_types,
                                  const ValueNode& object, BitWriter& writer,
                                  FieldTypeCache* types = nullptr);

/// Outcome of writing a .bin file, by the phase that failed.
enum class BinWriteResult {
  kOk,
  kTypesFailed,    // WriteBinTypeSection failed
  kObjectsFailed,  // WriteBinObjects failed
};

/// WriteBinTypeSection, then WriteBinObjects: a whole .bin file in `out`.
[[nodiscard]] BinWriteResult WriteBinFile(TypeRegistry& registry, const ReferencedTypeSet& types,
                                          const CoreTypeTable& core_types,
                                          const ValueObjectList& objects, ByteBuffer& out);
