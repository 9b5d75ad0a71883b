// types/core_type.cpp - the core type base, the list of core types and the table built from it.
#include "types/core_type.h"

#include <cassert>

#include "foundation/name_hash.h"

// Constant-initialised, so the list is empty before the first core type's constructor runs,
// whatever order the static objects are built in.
CCoreType* CoreTypeList = nullptr;
NameResolver CurrentNameResolver = {nullptr, nullptr};

CCoreType::CCoreType(const char* type_name)
    : next(CoreTypeList), name_hash(NameHash(type_name)), name(type_name) {
  CoreTypeList = this;
}

CCoreType::~CCoreType() {
  for (CCoreType** link = &CoreTypeList; *link != nullptr; link = &(*link)->next) {
    if (*link == this) {
      *link = next;
      break;
    }
  }
}

bool CCoreType::WriteValue(BitWriter&, const FieldInfo&, const ValueNode&) const { return false; }

bool CCoreType::ReadValue(BitReader&, const FieldInfo&, ValueNode&) const { return false; }

bool CCoreType::SkipValue(BitReader& reader, const FieldInfo& field, ValueNode& scratch) const {
  return ReadValue(reader, field, scratch);
}

bool CCoreType::FixedBitWidth(const FieldInfo&, uint32_t&) const { return false; }

bool CCoreType::ParseValue(Lexer&, ValueNode&, void*) const { return false; }

bool CCoreType::ParsePlainText(const char* text, uint32_t length, ValueNode& value) const {
  return length != 0 && ReadPlainPrefix(text, value) == length;
}

uint32_t CCoreType::ReadPlainPrefix(const char*, ValueNode&) const { return 0; }

bool CCoreType::HasPlainPrefix() const { return false; }

bool CCoreType::FormatValue(CStringBufferA&, const ValueNode&, void*, CStringBufferA&) const {
  return false;
}

bool BuildCoreTypeTable(CoreTypeTable& table) {
  // The anchors do nothing that matters at run time; calling them is what keeps their units,
  // and so their static types, in every program that builds a table.
  static_cast<void>(PrimitiveCoreTypeCount());
  static_cast<void>(EnumCoreTypeCount());
  table.Clear();
  uint32_t listed = 0;
  for (CCoreType* type = CoreTypeList; type != nullptr; type = type->next) {
    CCoreType** slot = table.FindOrInsert(type->name_hash, true);
    if (slot == nullptr) {
      return false;
    }
    *slot = type;
    ++listed;
  }
  assert(table.count() == listed && "core type name hashes must be distinct");
  return true;
}

CCoreType* FindCoreType(const CoreTypeTable& table, uint32_t type_hash) {
  CCoreType* const* slot = table.Find(type_hash);
  return slot == nullptr ? nullptr : *slot;
}

NameResolverScope::NameResolverScope(NameResolverFunction function, void* context)
    : previous_(CurrentNameResolver) {
  CurrentNameResolver = {function, context};
}

NameResolverScope::~NameResolverScope() { CurrentNameResolver = previous_; }
