// tests/bin/bin_test_support.h - class types and core type tables for the bin tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include "bin/value_node.h"
#include "foundation/name_hash.h"
#include "types/core_type.h"
#include "types/core_type_hashes.h"
#include "types/type_stream.h"

struct FieldShape {
  const char* name;
  uint32_t type_hash;
  int32_t array_size = 0;
};

/// Adds a class named `name` with `fields` to `registry`; null when it cannot.
inline ClassType* AddClass(TypeRegistry& registry, const char* name,
                           const std::vector<FieldShape>& fields, uint32_t extra_word = 0) {
  ClassTypePtr class_type = MakeClassType();
  if (class_type == nullptr) return nullptr;
  class_type->name.Assign(name);
  class_type->name_hash = NameHash(name);
  class_type->extra_word = extra_word;
  if (fields.size() != 0 && !class_type->AllocateFields(static_cast<uint32_t>(fields.size()))) {
    return nullptr;
  }
  uint32_t i = 0;
  for (const FieldShape& shape : fields) {
    FieldInfo& field = class_type->fields[i++];
    field.name.Assign(shape.name);
    field.name_hash = NameHash(shape.name);
    field.type_hash = shape.type_hash;
    field.array_size = shape.array_size;
  }
  return registry.Add(std::move(class_type));
}

inline ClassType* AddClass(TypeRegistry& registry, const char* name,
                           std::initializer_list<FieldShape> fields, uint32_t extra_word = 0) {
  return AddClass(registry, name, std::vector<FieldShape>(fields), extra_word);
}

/// A CoreTypeTable built from every core type.
struct CoreTypes {
  CoreTypeTable table;
  CoreTypes() { EXPECT_TRUE(BuildCoreTypeTable(table)); }
};

/// Value nodes taken from the pool and not given back.
inline uint32_t ValueNodesInUse() {
  ValueNodePool& pool = DefaultValueNodePool();
  return pool.total_count() - pool.free_count();
}

/// The child of `parent` named by the NameHash of `name` (null when missing).
inline const ValueNode* Child(const ValueNode& parent, const char* name) {
  return FindChildValue(parent, NameHash(name));
}
