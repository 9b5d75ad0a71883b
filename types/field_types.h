// types/field_types.h - what a field's type hash names, remembered for the length of a command.
//
// Every value a walk reads, writes or checks starts with the same question: is the field's
// type a core type, a class, or neither? A file's fields use a few dozen type hashes over and
// over, so the answers are kept in a small direct-mapped table in front of the two hash tables.
#pragma once

#include <cstdint>

#include "types/core_type.h"
#include "types/type_stream.h"

/// What a field type hash names: a core type, else a class, else nothing (both null).
struct FieldTypes {
  const CCoreType* core;
  const ClassType* nested;
  uint32_t core_storage;  // core->StorageTypeHash(), asked once; 0 without a core type
  uint32_t core_kind;     // CoreValueKind(core_storage, the type's hash); compound without a core
};

/// The answers of FindCoreType and then TypeRegistry::Find for one registry and one core type
/// table, which must outlive the cache and must not change while it is in use (a class added
/// later would stay unknown to it). A command makes one when its tables are complete and hands
/// it to every walk; a walk given none makes its own.
class FieldTypeCache {
 public:
  FieldTypeCache(const TypeRegistry& registry, const CoreTypeTable& core_types)
      : registry_(registry), core_types_(core_types) {}
  FieldTypeCache(const FieldTypeCache&) = delete;
  FieldTypeCache& operator=(const FieldTypeCache&) = delete;

  /// Calls fn(FieldTypeCache&) with `given` when it serves these tables, else with a cache
  /// made for the call, and returns what fn returns.
  template <typename Fn>
  static auto With(FieldTypeCache* given, const TypeRegistry& registry,
                   const CoreTypeTable& core_types, Fn&& fn) {
    if (given != nullptr && given->Serves(registry, core_types)) {
      return fn(*given);
    }
    FieldTypeCache own(registry, core_types);
    return fn(own);
  }

  /// True when the cache answers for exactly these two tables.
  [[nodiscard]] bool Serves(const TypeRegistry& registry, const CoreTypeTable& core_types) const {
    return &registry == &registry_ && &core_types == &core_types_;
  }

  [[nodiscard]] FieldTypes Find(uint32_t type_hash) {
    Entry& entry = entries_[(type_hash * 0x9E3779B1u) >> (32 - kSlotBits)];
    if (!entry.filled || entry.type_hash != type_hash) {
      entry.types.core = FindCoreType(core_types_, type_hash);
      entry.types.nested = entry.types.core == nullptr ? registry_.Find(type_hash) : nullptr;
      entry.types.core_storage =
          entry.types.core != nullptr ? entry.types.core->StorageTypeHash() : 0;
      entry.types.core_kind = entry.types.core != nullptr
                                  ? CoreValueKind(entry.types.core_storage, type_hash)
                                  : kCompoundKind;
      entry.type_hash = type_hash;
      entry.filled = true;
    }
    return entry.types;
  }

 private:
  static constexpr uint32_t kSlotBits = 8;
  struct Entry {
    FieldTypes types;
    uint32_t type_hash;
    bool filled;
  };
  const TypeRegistry& registry_;
  const CoreTypeTable& core_types_;
  Entry entries_[1u << kSlotBits] = {};
};
