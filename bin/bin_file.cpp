// bin/bin_file.cpp - reading and writing the .bin container.
#include "bin/bin_file.h"

#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

#include "foundation/name_hash.h"
#include "types/core_type_hashes.h"

namespace {

constexpr uint8_t kBinHeader[kBinHeaderBytes] = {0x00, 0x00, 0x00, 0x00, 'v', '0', '0', '2'};

struct PatchedField {
  uint32_t class_hash;
  uint32_t field_hash;
};

constexpr PatchedField kPatchedFields[] = {
    {NameHash("cGameObjectState"), NameHash("ComponentTypes")},
    {NameHash("cHitResponseInjectComponent"), NameHash("ComponentTypes")},
    {NameHash("cComponentStateCollection"), NameHash("ComponentTypes")},
    {NameHash("cInjectComponentEvent"), NameHash("ComponentTypes")},
    {NameHash("cGameObjectConstData"), NameHash("ExtensionTypes")},
};

// Keeps the list fields at cInt for as long as class records are being written, and puts them
// back to cStringHash however the writing ends.
class IntPatchScope {
 public:
  explicit IntPatchScope(TypeRegistry& registry) : registry_(registry) {
    TypePatch(registry_, TypePatchDirection::kToInt);
  }
  ~IntPatchScope() { TypePatch(registry_, TypePatchDirection::kToStringHash); }
  IntPatchScope(const IntPatchScope&) = delete;
  IntPatchScope& operator=(const IntPatchScope&) = delete;

 private:
  TypeRegistry& registry_;
};

}  // namespace

bool CheckBinHeader(const uint8_t* bytes, uint32_t size) {
  return bytes != nullptr && size >= kBinHeaderBytes &&
         std::memcmp(bytes, kBinHeader, kBinHeaderBytes) == 0;
}

void TypePatch(TypeRegistry& registry, TypePatchDirection direction) {
  const bool to_string_hash = direction == TypePatchDirection::kToStringHash;
  // A field declared with some other type keeps it, so a file that does not follow the usual
  // declaration still writes back what it read.
  const uint32_t from = to_string_hash ? kCIntHash : kCStringHashHash;
  const uint32_t to = to_string_hash ? kCStringHashHash : kCIntHash;
  for (const PatchedField& patched : kPatchedFields) {
    ClassType* class_type = registry.Find(patched.class_hash);
    if (class_type == nullptr) {
      continue;
    }
    for (uint32_t i = 0; i < class_type->field_count; ++i) {
      FieldInfo& field = class_type->fields[i];
      if (field.name_hash == patched.field_hash) {
        if (field.type_hash == from) {
          field.type_hash = to;
        }
        break;
      }
    }
  }
}

namespace {

// The walk LoadObjects and ScanObjects share. For each object it reads the class hash and ID,
// calls take(class_hash, id), which keeps what the caller keeps (false: no memory), and then
// read_fields(class_type), which decodes or checks the fields. False at the first failure,
// and for a reader that was failed from the start (a range too large to address).
template <typename Take, typename ReadFields>
bool WalkObjects(BitReader& reader, const TypeRegistry& registry, Take&& take,
                 ReadFields&& read_fields) {
  while (reader.RemainingBits() >= 32) {
    const uint32_t class_hash = reader.Read(32);
    if (reader.RemainingBits() < 32) {
      reader.failed = true;
      return false;
    }
    const uint32_t object_id = reader.Read(32);
    if (!take(class_hash, object_id)) {
      return false;
    }
    const ClassType* class_type = registry.Find(class_hash);
    if (class_type == nullptr || !read_fields(*class_type) || reader.failed) {
      return false;
    }
  }
  return !reader.failed;
}

}  // namespace

bool LoadObjects(BitReader& reader, const TypeRegistry& registry, const CoreTypeTable& core_types,
                 ValueObjectList& objects, ObjectIdTable& ids) {
  DecodeBudget budget = DecodeBudget::ForBits(reader.RemainingBits());
  FieldTypeCache types(registry, core_types);
  ValueNode* object = nullptr;
  const bool loaded = WalkObjects(
      reader, registry,
      [&](uint32_t class_hash, uint32_t object_id) {
        object = NewObjectValue(class_hash, object_id);
        return objects.Append(object);
      },
      [&](const ClassType& class_type) {
        if (!DecodeObjectFields(*object, registry, core_types, class_type, reader, &budget,
                                &types) ||
            reader.failed) {
          return false;
        }
        ValueNode** entry = ids.FindOrInsert(object->name, true);
        if (entry == nullptr) {
          return false;
        }
        *entry = object;
        return true;
      });
  if (!loaded) {
    ids.Clear();
    ReleaseObjects(objects);
  }
  return loaded;
}

// Objects scanned before the lists are given room for the rest of the stream.
constexpr size_t kObjectsBeforeEstimate = 1024;

// Gives `list` room for what the whole stream would hold at the rate of its first part: `part`
// of the stream's `total` bits held its `size()` entries. A list that grows step by step copies
// itself into fresh memory each time, and fresh memory costs a page fault per page. A
// shortfall only means growing as before, so a failed reservation is no failure.
template <typename List>
void ReserveByRate(List& list, uint64_t part, uint64_t total) {
  if (part == 0) {
    return;
  }
  // An eighth more than the rate gives, for streams whose objects vary.
  const uint64_t estimate = list.size() * total / part;
  const uint64_t wanted = estimate + estimate / 8;
  if (wanted <= list.capacity() || wanted > std::numeric_limits<uint32_t>::max()) {
    return;
  }
  try {
    list.reserve(static_cast<size_t>(wanted));
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
}

bool ScanObjects(BitReader& reader, const TypeRegistry& registry, const CoreTypeTable& core_types,
                 ScannedObjectList& objects, PointerLog* pointers) {
  objects.clear();
  const uint64_t total_bits = reader.RemainingBits();
  const uint32_t start = reader.position;
  DecodeBudget budget = DecodeBudget::ForBits(reader.RemainingBits());
  FieldTypeCache types(registry, core_types);
  FieldSkipPlans plans(registry, core_types);
  const bool scanned = WalkObjects(
      reader, registry,
      [&](uint32_t class_hash, uint32_t object_id) {
        if (objects.size() == kObjectsBeforeEstimate) {
          // The header of the next object is read already; it belongs to the part to come.
          const uint64_t part = reader.position - start - 64;
          ReserveByRate(objects, part, total_bits);
          if (pointers != nullptr && pointers->complete) {
            ReserveByRate(pointers->object_starts, part, total_bits);
            ReserveByRate(pointers->ids, part, total_bits);
          }
        }
        try {
          objects.push_back(ScannedObject{class_hash, object_id});
        } catch (const std::bad_alloc&) {
          return false;
        }
        if (pointers != nullptr) {
          pointers->StartObject();
        }
        return true;
      },
      [&](const ClassType& class_type) {
        return ValidateObjectFields(registry, core_types, class_type, reader, &budget, &types,
                                    pointers, &plans);
      });
  if (!scanned) {
    objects.clear();
  }
  return scanned;
}

BinLoadResult LoadBinTypes(const uint8_t* bytes, uint32_t size, TypeRegistry& registry,
                           uint32_t& objects_offset) {
  if (!CheckBinHeader(bytes, size)) {
    return BinLoadResult::kUnexpectedFormat;
  }
  const uint32_t section_bytes =
      LoadTypeInfo(registry, bytes + kBinHeaderBytes, size - kBinHeaderBytes);
  if (section_bytes == 0 || section_bytes > size - kBinHeaderBytes) {
    return BinLoadResult::kTypesFailed;
  }
  TypePatch(registry, TypePatchDirection::kToStringHash);
  objects_offset = kBinHeaderBytes + section_bytes;
  return BinLoadResult::kOk;
}

BinLoadResult LoadBinFile(const uint8_t* bytes, uint32_t size, TypeRegistry& registry,
                          const CoreTypeTable& core_types, ValueObjectList& objects,
                          ObjectIdTable& ids) {
  uint32_t objects_offset = 0;
  const BinLoadResult types = LoadBinTypes(bytes, size, registry, objects_offset);
  if (types != BinLoadResult::kOk) {
    return types;
  }
  BitReader reader(bytes + objects_offset, size - objects_offset);
  if (!LoadObjects(reader, registry, core_types, objects, ids)) {
    return BinLoadResult::kObjectsFailed;
  }
  return BinLoadResult::kOk;
}

bool WriteBinTypeSection(TypeRegistry& registry, const ReferencedTypeSet& types, ByteBuffer& out) {
  out.Reset();
  if (!out.Grow(kBinHeaderBytes)) {
    return false;
  }
  std::memcpy(out.data, kBinHeader, kBinHeaderBytes);
  out.size = kBinHeaderBytes;

  BitWriter writer(out, kBinHeaderBytes * 8);
  writer.WriteWord(types.count());
  IntPatchScope patch(registry);
  const bool written = types.ForEach([&](uint32_t type_hash, const uint8_t&) {
    const ClassType* class_type = registry.Find(type_hash);
    return class_type != nullptr && WriteClassRecord(*class_type, writer);
  });
  return written && !writer.failed;
}

bool WriteBinObjects(const TypeRegistry& registry, const CoreTypeTable& core_types,
                     const ValueObjectList& objects, ByteBuffer& out) {
  if (out.size >= kMaxStreamBytes) {
    return false;
  }
  // The stream starts on a whole byte; the bits left in the last byte stay zero.
  BitWriter writer(out, out.size * 8);
  FieldTypeCache types(registry, core_types);
  for (const ValueNode* object = objects.head; object != nullptr; object = object->next) {
    if (!WriteBinObject(registry, core_types, *object, writer, &types)) {
      return false;
    }
  }
  return !writer.failed;
}

bool WriteBinObject(const TypeRegistry& registry, const CoreTypeTable& core_types,
                    const ValueNode& object, BitWriter& writer, FieldTypeCache* types) {
  writer.WriteWord(object.type_hash);
  writer.WriteWord(object.name);
  const ClassType* class_type = registry.Find(object.type_hash);
  return class_type != nullptr &&
         EncodeObjectFields(object, registry, core_types, *class_type, writer, types) &&
         !writer.failed;
}

BinWriteResult WriteBinFile(TypeRegistry& registry, const ReferencedTypeSet& types,
                            const CoreTypeTable& core_types, const ValueObjectList& objects,
                            ByteBuffer& out) {
  if (!WriteBinTypeSection(registry, types, out)) {
    return BinWriteResult::kTypesFailed;
  }
  if (!WriteBinObjects(registry, core_types, objects, out)) {
    return BinWriteResult::kObjectsFailed;
  }
  return BinWriteResult::kOk;
}
