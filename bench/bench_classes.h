// bench/bench_classes.h - builds the class types of the benchmark programs' generated files.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <utility>

#include "foundation/name_hash.h"
#include "types/quantization.h"
#include "types/type_stream.h"

/// One field of a generated class: its name, type, array size (0 for a single value, -1 for a
/// variable array) and quantization. A float quantization applies to QuantizationMode::Float.
struct BenchField {
  const char* name;
  uint32_t type_hash;
  int32_t array_size = 0;
  QuantizationMode mode = QuantizationMode::None;
  FloatQuantization float_quantization = {};
};

/// Adds the class `name` with `fields` in order to `registry`. False when it cannot be made.
inline bool AddBenchClass(TypeRegistry& registry, const char* name,
                          std::initializer_list<BenchField> fields) {
  ClassTypePtr class_type = MakeClassType();
  if (class_type == nullptr ||
      (fields.size() != 0 && !class_type->AllocateFields(static_cast<uint32_t>(fields.size())))) {
    return false;
  }
  class_type->name.Assign(name);
  class_type->name_hash = NameHash(name);
  uint32_t i = 0;
  for (const BenchField& bench_field : fields) {
    FieldInfo& field = class_type->fields[i++];
    field.name.Assign(bench_field.name);
    field.name_hash = NameHash(bench_field.name);
    field.type_hash = bench_field.type_hash;
    field.array_size = bench_field.array_size;
    field.quantization_mode = static_cast<uint32_t>(bench_field.mode);
    field.float_quantization = bench_field.float_quantization;
  }
  return registry.Add(std::move(class_type)) != nullptr;
}
