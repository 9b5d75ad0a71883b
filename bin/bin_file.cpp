// bin/bin_file.cpp - reading and writing the .bin container.
#include "bin/bin_file.h"

#include <cstring>

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

// LoadObjects and ScanObjects: the same walk over the stream, keeping the fields or not, and
// entering the objects in `ids` when it is given.
bool ReadObjects(BitReader& reader, const TypeRegistry& registry, const CoreTypeTable& core_types,
                 ValueObjectList& objects, ObjectIdTable* ids, bool keep_fields,
                 PointerLog* pointers = nullptr) {
  DecodeBudget budget = DecodeBudget::ForBits(reader.RemainingBits());
  FieldTypeCache types(registry, core_types);
  bool loaded = true;
  while (reader.RemainingBits() >= 32) {
    const uint32_t class_hash = reader.Read(32);
    if (reader.RemainingBits() < 32) {
      reader.failed = true;
      loaded = false;
      break;
    }
    const uint32_t object_id = reader.Read(32);
    ValueNode* object = NewObjectValue(class_hash, object_id);
    if (!objects.Append(object)) {
      loaded = false;
      break;
    }
    const ClassType* class_type = registry.Find(class_hash);
    if (pointers != nullptr) {
      pointers->StartObject();
    }
    const bool read = class_type != nullptr &&
                      (keep_fields ? DecodeObjectFields(*object, registry, core_types, *class_type,
                                                        reader, &budget, &types)
                                   : ValidateObjectFields(registry, core_types, *class_type, reader,
                                                          &budget, &types, pointers));
    if (!read || reader.failed) {
      loaded = false;
      break;
    }
    if (ids != nullptr) {
      ValueNode** entry = ids->FindOrInsert(object_id, true);
      if (entry == nullptr) {
        loaded = false;
        break;
      }
      *entry = object;
    }
  }
  // A reader that was failed from the start (a range too large to address) read nothing.
  if (reader.failed) {
    loaded = false;
  }
  if (!loaded) {
    if (ids != nullptr) {
      ids->Clear();
    }
    ReleaseObjects(objects);
  }
  return loaded;
}

}  // namespace

bool LoadObjects(BitReader& reader, const TypeRegistry& registry, const CoreTypeTable& core_types,
                 ValueObjectList& objects, ObjectIdTable& ids) {
  return ReadObjects(reader, registry, core_types, objects, &ids, true);
}

bool ScanObjects(BitReader& reader, const TypeRegistry& registry, const CoreTypeTable& core_types,
                 ValueObjectList& objects, ObjectIdTable& ids) {
  return ReadObjects(reader, registry, core_types, objects, &ids, false);
}

bool ScanObjects(BitReader& reader, const TypeRegistry& registry, const CoreTypeTable& core_types,
                 ValueObjectList& objects, PointerLog* pointers) {
  return ReadObjects(reader, registry, core_types, objects, nullptr, false, pointers);
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
