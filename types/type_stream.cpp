// types/type_stream.cpp - reading and writing class records and whole type streams.
#include "types/type_stream.h"

#include <bit>
#include <memory>

#include "foundation/memory.h"

namespace {

// The fewest bits a record can take: empty name (5), hashes and words (32 each), and for a
// field the array bit and a zero-width mode (1 + 5). Counts read from a stream are held
// against these before anything is allocated or looped over.
constexpr uint64_t kMinFieldRecordBits = 5 + 32 + 32 + 1 + 5;
constexpr uint64_t kMinClassRecordBits = 5 + 32 + 32 + 32;

// Reads the items of a field record; the caller decides what the parameters are worth.
void ReadFieldItems(FieldInfo& field, BitReader& reader) {
  reader.ReadBitString(field.name);
  field.name_hash = reader.Read(32);
  field.type_hash = reader.Read(32);
  if (reader.Read(1) == 1) {
    field.array_size = -1;
  } else {
    field.array_size = static_cast<int32_t>(reader.ReadVarUInt());
  }
  field.quantization_mode = reader.ReadVarUInt();
  if (field.mode() == QuantizationMode::Int) {
    field.int_quantization.minimum = static_cast<int32_t>(reader.Read(32));
    field.int_quantization.maximum = static_cast<int32_t>(reader.ReadVarUInt());
    field.int_quantization.step = static_cast<int32_t>(reader.ReadVarUInt());
  } else if (field.mode() == QuantizationMode::Float) {
    field.float_quantization.minimum = std::bit_cast<float>(reader.Read(32));
    field.float_quantization.maximum = std::bit_cast<float>(reader.Read(32));
    field.float_quantization.step = std::bit_cast<float>(reader.Read(32));
  }
}

// Reads the head of a class record up to and including its field count, and checks that
// count against the bits that remain.
bool ReadClassHead(CStringBufferA& name, uint32_t& name_hash, uint32_t& extra_word,
                   uint32_t& field_count, BitReader& reader) {
  reader.ReadBitString(name);
  name_hash = reader.Read(32);
  extra_word = reader.Read(32);
  field_count = reader.Read(32);
  if (reader.failed) {
    return false;
  }
  if (uint64_t{field_count} * kMinFieldRecordBits > reader.RemainingBits()) {
    reader.failed = true;
    return false;
  }
  return true;
}

}  // namespace

bool ClassType::AllocateFields(uint32_t count) {
  ReleaseFields();
  if (count == 0) {
    return true;
  }
  if (count > UINT32_MAX / sizeof(FieldInfo)) {
    return false;
  }
  void* block = MemoryInterface::Allocate(sizeof(FieldInfo) * count);
  if (block == nullptr) {
    return false;
  }
  auto* array = static_cast<FieldInfo*>(block);
  for (uint32_t i = 0; i < count; ++i) {
    std::construct_at(array + i);
  }
  fields = array;
  field_count = count;
  return true;
}

void ClassType::ReleaseFields() {
  if (fields != nullptr) {
    std::destroy_n(fields, field_count);
    MemoryInterface::Free(fields);
  }
  fields = nullptr;
  field_count = 0;
}

void ClassTypeDeleter::operator()(ClassType* class_type) const {
  if (class_type != nullptr) {
    std::destroy_at(class_type);
    MemoryInterface::Free(class_type);
  }
}

ClassTypePtr MakeClassType() {
  void* block = MemoryInterface::Allocate(sizeof(ClassType));
  if (block == nullptr) {
    return nullptr;
  }
  return ClassTypePtr(std::construct_at(static_cast<ClassType*>(block)));
}

ClassType* TypeRegistry::Find(uint32_t name_hash) const {
  ClassType* const* value = table_.Find(name_hash);
  return value != nullptr ? *value : nullptr;
}

ClassType* TypeRegistry::Add(ClassTypePtr class_type) {
  if (class_type == nullptr || Find(class_type->name_hash) != nullptr) {
    return nullptr;
  }
  ClassType** slot = table_.FindOrInsert(class_type->name_hash, true);
  if (slot == nullptr) {
    return nullptr;
  }
  *slot = class_type.release();
  return *slot;
}

void TypeRegistry::Clear() {
  table_.ForEach([](uint32_t, ClassType*& value) {
    ClassTypeDeleter()(value);
    value = nullptr;
  });
  table_.Clear();
  table_.Release();
}

bool WriteFieldRecord(const FieldInfo& field, BitWriter& writer) {
  writer.WriteBitString(field.name.data, field.name.length);
  writer.WriteWord(field.name_hash);
  writer.WriteWord(field.type_hash);
  if (field.array_size == -1) {
    writer.Write(1, 1);
  } else {
    writer.Write(1, 0);
    writer.WriteVarUInt(static_cast<uint32_t>(field.array_size));
  }
  writer.WriteVarUInt(field.quantization_mode);
  if (field.mode() == QuantizationMode::Int) {
    writer.WriteWord(static_cast<uint32_t>(field.int_quantization.minimum));
    writer.WriteVarUInt(static_cast<uint32_t>(field.int_quantization.maximum));
    writer.WriteVarUInt(static_cast<uint32_t>(field.int_quantization.step));
  } else if (field.mode() == QuantizationMode::Float) {
    writer.WriteWord(std::bit_cast<uint32_t>(field.float_quantization.minimum));
    writer.WriteWord(std::bit_cast<uint32_t>(field.float_quantization.maximum));
    writer.WriteWord(std::bit_cast<uint32_t>(field.float_quantization.step));
  }
  return !writer.failed;
}

bool ReadFieldRecord(FieldInfo& field, BitReader& reader) {
  ReadFieldItems(field, reader);
  if (reader.failed) {
    return false;
  }
  // A step of 0 (or a NaN or infinite parameter) would break every value of the field later;
  // such a record is refused here, where the file is read.
  if (!IsValidFieldQuantization(field.quantization_mode, field.int_quantization,
                                field.float_quantization)) {
    reader.failed = true;
    return false;
  }
  return true;
}

bool WriteClassRecord(const ClassType& class_type, BitWriter& writer) {
  writer.WriteBitString(class_type.name.data, class_type.name.length);
  writer.WriteWord(class_type.name_hash);
  writer.WriteWord(class_type.extra_word);
  if (writer.failed) {
    return false;
  }
  writer.WriteWord(class_type.field_count);
  if (writer.failed) {
    return false;
  }
  for (uint32_t i = 0; i < class_type.field_count; ++i) {
    if (!WriteFieldRecord(class_type.fields[i], writer)) {
      return false;
    }
  }
  return !writer.failed;
}

bool ReadClassRecord(ClassType& class_type, BitReader& reader) {
  class_type.ReleaseFields();
  uint32_t field_count = 0;
  if (!ReadClassHead(class_type.name, class_type.name_hash, class_type.extra_word, field_count,
                     reader)) {
    return false;
  }
  if (!class_type.AllocateFields(field_count)) {
    return false;
  }
  for (uint32_t i = 0; i < field_count; ++i) {
    if (!ReadFieldRecord(class_type.fields[i], reader)) {
      return false;
    }
  }
  return !reader.failed;
}

bool SkipClassType(BitReader& reader) {
  TStringBufferA<32> name;
  uint32_t name_hash = 0;
  uint32_t extra_word = 0;
  uint32_t field_count = 0;
  if (!ReadClassHead(name, name_hash, extra_word, field_count, reader)) {
    return false;
  }
  for (uint32_t i = 0; i < field_count && !reader.failed; ++i) {
    FieldInfo field;
    ReadFieldItems(field, reader);
  }
  return !reader.failed;
}

uint32_t LoadTypeInfo(TypeRegistry& registry, const uint8_t* data, uint32_t size) {
  BitReader reader(data, size);
  const uint32_t class_count = reader.Read(32);
  if (reader.failed || uint64_t{class_count} * kMinClassRecordBits > reader.RemainingBits()) {
    return 0;
  }
  TStringBufferA<32> name;
  for (uint32_t i = 0; i < class_count; ++i) {
    // Peek at the name hash, then read the record from its start.
    const uint32_t start = reader.position;
    reader.ReadBitString(name);
    const uint32_t name_hash = reader.Read(32);
    if (reader.failed) {
      return 0;
    }
    reader.position = start;
    if (registry.Find(name_hash) != nullptr) {
      if (!SkipClassType(reader)) {
        return 0;
      }
      continue;
    }
    ClassTypePtr class_type = MakeClassType();
    if (class_type == nullptr || !ReadClassRecord(*class_type, reader)) {
      return 0;
    }
    if (registry.Add(std::move(class_type)) == nullptr) {
      return 0;
    }
  }
  return static_cast<uint32_t>((uint64_t{reader.position} + 7) / 8);
}

uint32_t SaveTypeInfo(const TypeRegistry& registry, ByteBuffer& buffer) {
  if (buffer.size >= kMaxStreamBytes) {
    return 0;
  }
  BitWriter writer(buffer, buffer.size * 8);
  writer.WriteWord(registry.count());
  if (writer.failed) {
    return 0;
  }
  const bool written = registry.ForEach(
      [&](const ClassType& class_type) { return WriteClassRecord(class_type, writer); });
  if (!written || writer.failed) {
    return 0;
  }
  return static_cast<uint32_t>((uint64_t{writer.position} + 7) / 8);
}
