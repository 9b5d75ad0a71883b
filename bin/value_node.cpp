// bin/value_node.cpp - value node life cycle and the decode, encode and bit-range walks.
#include "bin/value_node.h"

#include <cstring>
#include <new>

#include "types/core_type_hashes.h"
#include "types/primitive_types.h"

ValueNodePool& DefaultValueNodePool() { return ProcessNodePool<ValueNode, kValueNodesPerBlock>(); }

namespace {

// ---------------------------------------------------------------------------------------------
// Decoding (and measuring, when `out` is set).

struct DecodeWalk {
  BitReader& reader;
  DecodeBudget& budget;
  CStringBufferA* out;  // null: decode only
  uint32_t base_position;
  // Set when only validating: every value is read into this one node instead of a new child,
  // and nothing is appended to any parent.
  ValueNode* scratch = nullptr;
  // Where new nodes come from when set (a group at a time); else the pool node by node.
  ValueNodePool::TakeBatch* nodes = nullptr;
  FieldTypeCache* types = nullptr;  // always set
  PointerLog* pointers = nullptr;   // validation only: notes every cPointer value
  FieldSkipPlans* plans = nullptr;  // validation only: steps over fixed-width runs

  FieldTypes Find(uint32_t type_hash) { return types->Find(type_hash); }
};

ValueNode* TakeChild(DecodeWalk& walk, ValueNode& parent, uint32_t name, uint32_t type_hash,
                     bool as_array, uint32_t storage_override) {
  if (walk.budget.nodes_left == 0) {
    return nullptr;
  }
  ValueNode* child;
  if (walk.scratch != nullptr) {
    // The scratch node holds no text here: a string read into it was released at once.
    child = walk.scratch;
    InitValue(*child, type_hash, as_array, storage_override);
  } else {
    child = walk.nodes != nullptr
                ? AppendChildNode(parent, walk.nodes->Allocate(), name, type_hash, as_array,
                                  storage_override)
                : AppendChildValue(parent, name, type_hash, as_array, storage_override);
    if (child == nullptr) {
      return nullptr;
    }
  }
  --walk.budget.nodes_left;
  return child;
}

bool DecodeFields(DecodeWalk& walk, ValueNode& parent, const ClassType& class_type,
                  const char* path, uint32_t depth);

// True, with their width, when every value of `field` (of the core type in `types`) takes a
// fixed number of bits and can fail only for want of them, so that a validation may step over
// such values without reading them. Never for cPointer values, which a validation notes.
bool FixedWidthValues(const FieldTypes& types, const FieldInfo& field, uint32_t& bits) {
  // As DecodeCoreValue: a core type without a known storage form fails, so it is read.
  return types.core != nullptr && field.type_hash != kCPointerHash &&
         types.core->FixedBitWidth(field, bits) && types.core_kind != kCompoundKind;
}

// TakeChild for a validation, which reads every value into its scratch node, when the value is
// a primitive of the known kind `kind`.
ValueNode* TakeScratchPrimitive(DecodeWalk& walk, uint32_t type_hash, uint32_t kind) {
  if (walk.budget.nodes_left == 0) {
    return nullptr;
  }
  --walk.budget.nodes_left;
  InitPrimitive(*walk.scratch, type_hash, kind);
  return walk.scratch;
}

// `types` names a core type (its `core` is set).
bool DecodeCoreValue(DecodeWalk& walk, const FieldTypes& types, const FieldInfo& field,
                     ValueNode& parent, uint32_t name) {
  const CCoreType& core = *types.core;
  ValueNode* child =
      walk.scratch != nullptr && types.core_kind != kCompoundKind
          ? TakeScratchPrimitive(walk, field.type_hash, types.core_kind)
          : TakeChild(walk, parent, name, field.type_hash, false, types.core_storage);
  // A core type without a known storage form would write into a child list.
  if (child == nullptr || child->IsCompound()) {
    return false;
  }
  if (child != walk.scratch) {
    return core.ReadValue(walk.reader, field, *child);
  }
  const bool read = core.SkipValue(walk.reader, field, *child);
  if (child->kind == kCStringHash) {
    child->payload.text.Release();
  } else if (walk.pointers != nullptr && field.type_hash == kCPointerHash &&
             child->kind == kCHashHash) {
    walk.pointers->AddPointer(child->payload.word);
  }
  return read;
}

bool DecodeClassValue(DecodeWalk& walk, const ClassType& nested, const FieldInfo& field,
                      ValueNode& parent, uint32_t name, const char* path, uint32_t depth) {
  if (depth >= kMaxNestingDepth) {
    return false;
  }
  ValueNode* child = TakeChild(walk, parent, name, field.type_hash, false, 0);
  // A class registered under a built-in hash would initialise as a primitive.
  if (child == nullptr || !child->IsCompound()) {
    return false;
  }
  return DecodeFields(walk, *child, nested, path, depth + 1);
}

bool DecodeArray(DecodeWalk& walk, const FieldInfo& field, ValueNode& parent, const char* path,
                 uint32_t depth) {
  const uint32_t count = walk.reader.ReadVarUInt();
  if (walk.reader.failed) {
    return false;
  }
  ValueNode* array = TakeChild(walk, parent, field.name_hash, field.type_hash, true, 0);
  if (array == nullptr) {
    return false;
  }
  if (count == 0) {
    return true;  // nothing more in the stream, and the element type need not be known
  }
  const FieldTypes types = walk.Find(field.type_hash);
  if (types.core != nullptr) {
    // A validation with plans steps over an array of fixed-width values at once, when the
    // stream and the budget hold all of it; otherwise it reads them as the decode does.
    uint32_t bits = 0;
    if (walk.plans != nullptr && FixedWidthValues(types, field, bits) && !walk.reader.failed &&
        walk.budget.nodes_left >= count && walk.reader.RemainingBits() >= uint64_t{bits} * count) {
      walk.budget.nodes_left -= count;
      walk.reader.position += static_cast<uint32_t>(uint64_t{bits} * count);
      return true;
    }
    for (uint32_t i = 0; i < count; ++i) {
      if (!DecodeCoreValue(walk, types, field, *array, 0)) {
        return false;
      }
    }
    return true;
  }
  const ClassType* nested = types.nested;
  if (nested == nullptr) {
    return false;
  }
  for (uint32_t i = 0; i < count; ++i) {
    if (!DecodeClassValue(walk, *nested, field, *array, 0, path, depth)) {
      return false;
    }
  }
  return true;
}

bool DecodeField(DecodeWalk& walk, const FieldInfo& field, ValueNode& parent, const char* path,
                 uint32_t depth) {
  if (field.IsArray()) {
    return DecodeArray(walk, field, parent, path, depth);
  }
  const FieldTypes types = walk.Find(field.type_hash);
  if (types.core != nullptr) {
    return DecodeCoreValue(walk, types, field, parent, field.name_hash);
  }
  const ClassType* nested = types.nested;
  if (nested == nullptr) {
    return false;
  }
  return DecodeClassValue(walk, *nested, field, parent, field.name_hash, path, depth);
}

// Validation with a plan: a run of fixed-width values is stepped over at once when the stream
// and the budget hold all of it; otherwise its fields are read one by one, so that the walk
// fails at the very value (and bit) where the decode fails. A string or pointer value takes
// a node's worth of the budget and the bits that its type's SkipValue would read, and a
// pointer is noted even when its read fails, as DecodeCoreValue does.
bool SkipFields(DecodeWalk& walk, ValueNode& parent, const ClassType& class_type,
                const std::vector<FieldSkipPlans::Step>& steps, const char* path, uint32_t depth) {
  using StepKind = FieldSkipPlans::StepKind;
  BitReader& reader = walk.reader;
  for (const FieldSkipPlans::Step& step : steps) {
    switch (step.kind) {
      case StepKind::kRun:
        if (!reader.failed && walk.budget.nodes_left >= step.field_count &&
            reader.RemainingBits() >= step.bits) {
          walk.budget.nodes_left -= step.field_count;
          reader.position += static_cast<uint32_t>(step.bits);
          continue;
        }
        break;
      case StepKind::kString:
        if (walk.budget.nodes_left == 0) {
          return false;
        }
        --walk.budget.nodes_left;
        // The word only says whether a bit string follows.
        if (reader.Read(32) != 0) {
          reader.SkipBitString();
        }
        if (reader.failed) {
          return false;
        }
        continue;
      case StepKind::kPointer: {
        if (walk.budget.nodes_left == 0) {
          return false;
        }
        --walk.budget.nodes_left;
        const uint32_t id = reader.Read(32);
        if (walk.pointers != nullptr) {
          walk.pointers->AddPointer(id);
        }
        if (reader.failed) {
          return false;
        }
        continue;
      }
      case StepKind::kField:
        break;
    }
    for (uint32_t i = step.first_field; i < step.first_field + step.field_count; ++i) {
      if (!DecodeField(walk, class_type.fields[i], parent, path, depth)) {
        return false;
      }
    }
  }
  return !reader.failed;
}

bool DecodeFields(DecodeWalk& walk, ValueNode& parent, const ClassType& class_type,
                  const char* path, uint32_t depth) {
  if (walk.plans != nullptr) {
    if (const std::vector<FieldSkipPlans::Step>* steps =
            walk.plans->Find(class_type, *walk.types)) {
      return SkipFields(walk, parent, class_type, *steps, path, depth);
    }
  }
  TStringBufferA<64> field_path;
  for (uint32_t i = 0; i < class_type.field_count; ++i) {
    const FieldInfo& field = class_type.fields[i];
    if (walk.out == nullptr) {
      if (!DecodeField(walk, field, parent, path, depth)) {
        return false;
      }
      continue;
    }
    field_path.Format("%s.%s", path, field.name.data);
    const uint32_t start = walk.reader.position;
    if (!DecodeField(walk, field, parent, field_path.data, depth)) {
      return false;
    }
    const uint32_t end = walk.reader.position;
    walk.out->AppendFormat("%s: %u - %u (%u)\n", field_path.data, start - walk.base_position,
                           end - walk.base_position, end - start);
  }
  return !walk.reader.failed;
}

// ---------------------------------------------------------------------------------------------
// Encoding.

struct EncodeWalk {
  FieldTypeCache& types;
  BitWriter& writer;
};

bool EncodeFields(EncodeWalk& walk, const ValueNode& value, const ClassType& class_type,
                  uint32_t depth);

// `value` was checked to carry the field's type hash; `types` names a core type.
bool EncodeCoreValue(EncodeWalk& walk, const FieldTypes& types, const FieldInfo& field,
                     const ValueNode& value) {
  // The payload is read in the form the kind names; any other form would be misread.
  const uint32_t kind = types.core_kind;
  if (kind == kCompoundKind || value.kind != kind) {
    return false;
  }
  return types.core->WriteValue(walk.writer, field, value);
}

bool EncodeClassValue(EncodeWalk& walk, const ClassType& nested, const ValueNode& value,
                      uint32_t depth) {
  if (depth >= kMaxNestingDepth || !value.IsCompound()) {
    return false;
  }
  return EncodeFields(walk, value, nested, depth + 1);
}

bool EncodeArray(EncodeWalk& walk, const FieldInfo& field, const ValueNode& array, uint32_t depth) {
  if (!array.IsArray()) {
    return false;
  }
  walk.writer.WriteVarUInt(array.payload.children.count);
  if (array.payload.children.count == 0) {
    return !walk.writer.failed;
  }
  const FieldTypes types = walk.types.Find(field.type_hash);
  const CCoreType* core = types.core;
  const ClassType* nested = types.nested;
  if (core == nullptr && nested == nullptr) {
    return false;
  }
  for (const ValueNode* element = array.payload.children.first; element != nullptr;
       element = element->next) {
    if (element->type_hash != field.type_hash) {
      return false;
    }
    const bool written = core != nullptr ? EncodeCoreValue(walk, types, field, *element)
                                         : EncodeClassValue(walk, *nested, *element, depth);
    if (!written) {
      return false;
    }
  }
  return !walk.writer.failed;
}

bool EncodeFields(EncodeWalk& walk, const ValueNode& value, const ClassType& class_type,
                  uint32_t depth) {
  if (class_type.field_count != 0 && (!value.IsCompound() || value.payload.children.count == 0)) {
    return false;
  }
  FieldChildCursor children(value);
  for (uint32_t i = 0; i < class_type.field_count; ++i) {
    const FieldInfo& field = class_type.fields[i];
    const ValueNode* child = children.Find(field.name_hash);
    if (child == nullptr || child->type_hash != field.type_hash) {
      return false;
    }
    bool written;
    if (field.IsArray()) {
      written = EncodeArray(walk, field, *child, depth);
    } else if (const FieldTypes types = walk.types.Find(field.type_hash); types.core != nullptr) {
      written = EncodeCoreValue(walk, types, field, *child);
    } else if (types.nested != nullptr) {
      written = EncodeClassValue(walk, *types.nested, *child, depth);
    } else {
      written = false;
    }
    if (!written) {
      return false;
    }
  }
  return !walk.writer.failed;
}

}  // namespace

void InitValue(ValueNode& node, uint32_t type_hash, bool as_array, uint32_t storage_override) {
  std::memset(&node.payload, 0, sizeof(node.payload));
  node.is_array = as_array;
  node.type_hash = type_hash;
  if (as_array) {
    node.kind = kArrayKind;
    return;
  }
  const uint32_t storage = StorageTypeOf(storage_override != 0 ? storage_override : type_hash);
  if (storage == 0) {
    node.kind = kCompoundKind;
    return;
  }
  node.kind = storage;
  if (storage == kCStringHash) {
    node.payload.text = HeapText::Empty();
  }
}

ValueNode* NewValueNode() {
  ValueNode* node = DefaultValueNodePool().Allocate();
  if (node != nullptr) {
    std::memset(static_cast<void*>(node), 0, sizeof(ValueNode));
  }
  return node;
}

ValueNode* NewObjectValue(uint32_t class_hash, uint32_t object_id) {
  ValueNode* object = NewValueNode();
  if (object == nullptr) {
    return nullptr;
  }
  object->name = object_id;
  // An object is a compound value even when its class hash collides with a built-in type.
  InitValue(*object, class_hash, false, 0);
  if (!object->IsCompound()) {
    std::memset(&object->payload, 0, sizeof(object->payload));
    object->kind = kCompoundKind;
  }
  return object;
}

ValueNode* AppendChildValue(ValueNode& parent, uint32_t name, uint32_t type_hash, bool as_array,
                            uint32_t storage_override) {
  return AppendChildNode(parent, NewValueNode(), name, type_hash, as_array, storage_override);
}

ValueNode* AppendChildNode(ValueNode& parent, ValueNode* child, uint32_t name, uint32_t type_hash,
                           bool as_array, uint32_t storage_override) {
  if (child == nullptr) {
    return nullptr;
  }
  // A zeroed record; InitValue then sets everything but `next`.
  std::memset(static_cast<void*>(child), 0, sizeof(ValueNode));
  child->name = name;
  InitValue(*child, type_hash, as_array, storage_override);
  ValueChildren& children = parent.payload.children;
  if (children.last == nullptr) {
    children.first = child;
  } else {
    children.last->next = child;
  }
  children.last = child;
  ++children.count;
  return child;
}

const ValueNode* FindChildValue(const ValueNode& parent, uint32_t name) {
  if (!parent.IsArray() && !parent.IsCompound()) {
    return nullptr;
  }
  for (const ValueNode* child = parent.payload.children.first; child != nullptr;
       child = child->next) {
    if (child->name == name) {
      return child;
    }
  }
  return nullptr;
}

void ReleaseValue(ValueNode& value) {
  ValueNodePool& pool = DefaultValueNodePool();
  // After shutdown the nodes' memory is gone; there is nothing left to give back.
  if (pool.is_shut_down()) {
    return;
  }
  if (value.kind == kCStringHash) {
    value.payload.text.Release();
    return;
  }
  if (!value.IsArray() && !value.IsCompound()) {
    return;
  }
  // Walk the subtree as one pending chain: a node's children are spliced in front of the rest
  // before the node goes back, so no depth needs a stack.
  ValueNode* pending = value.payload.children.first;
  value.payload.children = ValueChildren{nullptr, nullptr, 0};
  ValueNodePool::ReturnBatch returned(pool);
  while (pending != nullptr) {
    ValueNode* node = pending;
    pending = node->next;
    if (node->IsArray() || node->IsCompound()) {
      ValueChildren& children = node->payload.children;
      if (children.first != nullptr) {
        children.last->next = pending;
        pending = children.first;
      }
    } else if (node->kind == kCStringHash) {
      node->payload.text.Release();
    }
    returned.Add(node);
  }
}

void ReleaseObject(ValueNode* object) {
  if (object == nullptr) {
    return;
  }
  ReleaseValue(*object);
  DefaultValueNodePool().Free(object);
}

void ReleaseObjects(ValueObjectList& list) {
  list.Clear([](ValueNode* object) { ReleaseObject(object); });
}

bool DecodeObjectFields(ValueNode& parent, const TypeRegistry& registry,
                        const CoreTypeTable& core_types, const ClassType& class_type,
                        BitReader& reader, DecodeBudget* budget, FieldTypeCache* types) {
  DecodeBudget own_budget = DecodeBudget::ForBits(reader.RemainingBits());
  return FieldTypeCache::With(types, registry, core_types, [&](FieldTypeCache& cache) {
    // Nodes come a group at a time, one lock per group instead of one per node; those left
    // over go back when the decode ends.
    ValueNodePool::TakeBatch nodes(DefaultValueNodePool());
    DecodeWalk walk{reader, budget != nullptr ? *budget : own_budget, nullptr, 0, nullptr, &nodes,
                    &cache};
    return DecodeFields(walk, parent, class_type, "", 0);
  });
}

const std::vector<FieldSkipPlans::Step>* FieldSkipPlans::Find(const ClassType& class_type,
                                                              FieldTypeCache& types) {
  const auto address = reinterpret_cast<uintptr_t>(&class_type);
  Slot& slot = slots_[(address >> 4) & ((1u << kSlotBits) - 1)];
  if (slot.class_type == &class_type) {
    return &slot.steps;
  }
  // A slot, once filled, never changes: a walk may be stepping through its plan while it
  // looks up the plan of a nested class. A class whose slot is taken is read field by field.
  if (slot.class_type != nullptr) {
    return nullptr;
  }
  try {
    for (uint32_t i = 0; i < class_type.field_count; ++i) {
      const FieldInfo& field = class_type.fields[i];
      const FieldTypes field_types = types.Find(field.type_hash);
      uint32_t bits = 0;
      StepKind kind = StepKind::kField;  // every array among them
      if (!field.IsArray()) {
        if (FixedWidthValues(field_types, field, bits)) {
          kind = StepKind::kRun;
        } else if (field_types.core == &CStringType && field_types.core_kind == kCStringHash) {
          kind = StepKind::kString;
        } else if (field_types.core == &CPointerType && field.type_hash == kCPointerHash &&
                   field_types.core_kind == kCHashHash) {
          kind = StepKind::kPointer;
        }
      }
      if (kind == StepKind::kRun && !slot.steps.empty() &&
          slot.steps.back().kind == StepKind::kRun) {
        ++slot.steps.back().field_count;
        slot.steps.back().bits += bits;
      } else {
        slot.steps.push_back(Step{i, 1, kind == StepKind::kRun ? bits : 0, kind});
      }
    }
  } catch (const std::bad_alloc&) {
    slot.steps.clear();
    return nullptr;
  }
  slot.class_type = &class_type;
  return &slot.steps;
}

bool ValidateObjectFields(const TypeRegistry& registry, const CoreTypeTable& core_types,
                          const ClassType& class_type, BitReader& reader, DecodeBudget* budget,
                          FieldTypeCache* types, PointerLog* pointers, FieldSkipPlans* plans) {
  DecodeBudget own_budget = DecodeBudget::ForBits(reader.RemainingBits());
  ValueNode scratch;
  std::memset(static_cast<void*>(&scratch), 0, sizeof scratch);
  scratch.kind = kCompoundKind;
  return FieldTypeCache::With(types, registry, core_types, [&](FieldTypeCache& cache) {
    DecodeWalk walk{
        reader,  budget != nullptr ? *budget : own_budget, nullptr, 0, &scratch, nullptr, &cache,
        pointers};
    if (plans != nullptr && plans->Serves(registry, core_types)) {
      walk.plans = plans;
    }
    return DecodeFields(walk, scratch, class_type, "", 0);
  });
}

bool EncodeObjectFields(const ValueNode& value, const TypeRegistry& registry,
                        const CoreTypeTable& core_types, const ClassType& class_type,
                        BitWriter& writer, FieldTypeCache* types) {
  return FieldTypeCache::With(types, registry, core_types, [&](FieldTypeCache& cache) {
    EncodeWalk walk{cache, writer};
    return EncodeFields(walk, value, class_type, 0);
  });
}

bool PrintObjectBitRanges(ValueNode& parent, const TypeRegistry& registry,
                          const CoreTypeTable& core_types, const ClassType& class_type,
                          BitReader& reader, uint32_t base_position, const char* parent_path,
                          CStringBufferA& out, DecodeBudget* budget) {
  DecodeBudget own_budget = DecodeBudget::ForBits(reader.RemainingBits());
  FieldTypeCache types(registry, core_types);
  DecodeWalk walk{
      reader, budget != nullptr ? *budget : own_budget, &out, base_position, nullptr, nullptr,
      &types};
  return DecodeFields(walk, parent, class_type, parent_path != nullptr ? parent_path : "", 0);
}
