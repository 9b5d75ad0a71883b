// document/document_writer.cpp - the document writer: the hot path of gentext.
//
// Each line is assembled in place: room for the whole line is made once, then its pieces are
// copied straight into the output, so writing a value costs one FormatValue and a few copies
// and allocates nothing once the buffers have grown.
#include "document/document_writer.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "document/lexer.h"
#include "foundation/inline.h"
#include "foundation/name_hash.h"
#include "foundation/utf8.h"
#include "types/core_type_hashes.h"
#include "types/decimal_digits.h"

namespace {

constexpr char kTabs[] =
    "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t"
    "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t";
constexpr uint32_t kTabRun = sizeof kTabs - 1;

// The quoted-name form turns one byte into at most six ("\u001F").
constexpr uint64_t kQuotedBytesPerByte = 6;
// U+FFFD, which stands for an invalid sequence in a trailing comment.
constexpr char kReplacementCharacter[] = "\xEF\xBF\xBD";

struct WriteContext {
  CStringBufferA& out;
  CStringBufferA& value_scratch;
  const TypeRegistry& registry;
  FieldTypeCache& types;
  CStringBufferA& comment_scratch;
  ObjectRefTable* referenced;  // null for the plain writer
  WrittenObjectSet* written;   // null for the plain writer
};

// Bytes of room kept past every piece, for stores of a whole block (PutTabs, AppendQuotedValue).
constexpr uint32_t kStoreSlack = 16;

// Makes room for `count` more characters, and kStoreSlack more. False when the document would
// pass its limit (checked on `count` alone); the text buffer itself cannot hold 4 GiB.
[[nodiscard]] bool MakeRoom(CStringBufferA& out, uint64_t count) {
  const uint64_t needed = uint64_t{out.length} + count + 1;
  if (needed > kMaxDocumentBytes) {
    return false;
  }
  out.ReserveForAppend(needed + kStoreSlack);
  return true;
}

char* Cursor(CStringBufferA& out) { return out.data + out.length; }

void Finish(CStringBufferA& out, char* end) {
  *end = '\0';
  out.length = static_cast<uint32_t>(end - out.data);
}

char* Put(char* at, const char* bytes, size_t count) {
  CopyBytes(at, bytes, count);
  return at + count;
}

// `at` has kStoreSlack bytes of room past the TABs (MakeRoom): the usual few TABs are one
// store of a whole block, whose bytes past them the next piece or the NUL overwrites. (A copy
// of exactly `level` bytes takes a branch on the count, which changes from line to line.)
char* PutTabs(char* at, uint32_t level) {
  static_assert(kTabRun >= kStoreSlack);
  if (level <= kStoreSlack) {
    std::memcpy(at, kTabs, kStoreSlack);
    return at + level;
  }
  while (level > kTabRun) {
    at = Put(at, kTabs, kTabRun);
    level -= kTabRun;
  }
  return Put(at, kTabs, level);
}

// `at` has room for 10 bytes (the most digits), some of which may be stored past the text.
char* PutDecimal(char* at, uint32_t value) { return WriteDecimalDigits(at, value); }

[[nodiscard]] QVX_ALWAYS_INLINE bool AppendLine(CStringBufferA& out, uint32_t level,
                                                const char* text, uint32_t length) {
  if (!MakeRoom(out, uint64_t{level} + length)) {
    return false;
  }
  char* at = PutTabs(Cursor(out), level);
  Finish(out, Put(at, text, length));
  return true;
}

// The level's TABs and "<field name> = ".
[[nodiscard]] QVX_ALWAYS_INLINE bool AppendFieldStart(CStringBufferA& out, uint32_t level,
                                                      const FieldInfo& field) {
  if (!MakeRoom(out, uint64_t{level} + field.name.length + 3)) {
    return false;
  }
  char* at = PutTabs(Cursor(out), level);
  at = Put(at, field.name.data, field.name.length);
  Finish(out, Put(at, " = ", 3));
  return true;
}

// Whether a trailing comment's word holds a byte that is not copied as it is: a line feed, a
// carriage return or any byte from 0x80. (A false answer is exact; a true one may not be.)
constexpr bool NeedsCommentEscape(uint64_t word) {
  return ((word & kEveryByteHigh) | ZeroBytes(word ^ (kEveryByteOne * '\n')) |
          ZeroBytes(word ^ (kEveryByteOne * '\r'))) != 0;
}

// The name the resolver gives for an object ID, used only when it reads back as that ID.
const char* ObjectName(uint32_t object_id) {
  const NameResolver resolver = CurrentNameResolver;
  if (resolver.function == nullptr) {
    return nullptr;
  }
  const char* name = resolver.function(object_id, 0, resolver.context);
  return name != nullptr && NameHash(name) == object_id ? name : nullptr;
}

[[nodiscard]] bool AppendHeader(CStringBufferA& out, uint32_t object_id,
                                const ClassType& class_type) {
  const char* name = ObjectName(object_id);
  const uint64_t name_room = name == nullptr ? 0 : std::strlen(name) * kQuotedBytesPerByte + 2;
  // class name, " /* ", at most 10 digits, " */ ", the quoted name, " {\r\n"
  if (!MakeRoom(out, class_type.name.length + 22 + name_room)) {
    return false;
  }
  char* at = Put(Cursor(out), class_type.name.data, class_type.name.length);
  if (name == nullptr) {
    *at++ = ' ';
    at = PutDecimal(at, object_id);
    Finish(out, Put(at, " {\r\n", 4));
    return true;
  }
  at = Put(at, " /* ", 4);
  at = PutDecimal(at, object_id);
  Finish(out, Put(at, " */ ", 4));
  AppendQuotedName(out, name);
  Finish(out, Put(Cursor(out), " {\r\n", 4));
  return true;
}

// Appends `"<text>"`, the trailing comment waiting in the comment buffer, and CR LF.
[[nodiscard]] QVX_ALWAYS_INLINE bool AppendQuotedValue(WriteContext& ctx,
                                                       const CStringBufferA& value) {
  const char* const text = value.data;
  const uint32_t length = value.length;
  CStringBufferA& comment = ctx.comment_scratch;
  if (!MakeRoom(ctx.out, uint64_t{length} + 4)) {
    comment.Empty();
    return false;
  }
  char* at = Cursor(ctx.out);
  *at++ = '"';
  // A short text is copied as a whole block when its buffer has one (the bytes past the text
  // are overwritten next), sparing a branch on its length, which changes from value to value.
  if (length <= kStoreSlack && value.capacity >= kStoreSlack) {
    std::memcpy(at, text, kStoreSlack);
    at += length;
  } else {
    at = Put(at, text, length);
  }
  *at++ = '"';
  if (comment.length == 0) {
    Finish(ctx.out, Put(at, "\r\n", 2));
    return true;
  }
  Finish(ctx.out, at);
  WriteTrailingComment(comment, ctx.out);
  if (comment.length != 0) {  // the document limit stopped the comment
    comment.Empty();
    return false;
  }
  return AppendLine(ctx.out, 0, "\r\n", 2);
}

// Formats one core value and appends its line ending: the quoted text, comment and CR LF.
[[nodiscard]] QVX_ALWAYS_INLINE bool AppendValueText(WriteContext& ctx, const CCoreType& core,
                                                     const ValueNode& value) {
  CStringBufferA& comment = ctx.comment_scratch;
  if (comment.length != 0) {
    comment.Empty();
  }
  if (!core.FormatValue(ctx.value_scratch, value, nullptr, comment)) {
    comment.Empty();
    return false;
  }
  const CStringBufferA& text = ctx.value_scratch;
  // The reader unescapes the double-quoted text once and then reads the name in it, whose own
  // escapes would be undone a second time: give such a name one more level of escapes.
  if (value.kind == kCHashHash && FindByte(text.data, text.length, '\\') != nullptr) {
    TStringBufferA<256> escaped;
    FormatEscapedString(escaped, text.data);
    return AppendQuotedValue(ctx, escaped);
  }
  return AppendQuotedValue(ctx, text);
}

bool WriteFieldsAt(WriteContext& ctx, const ValueNode& value, const ClassType& class_type,
                   uint32_t level, uint32_t depth, bool follow_refs);
bool WriteObjectAt(WriteContext& ctx, const ValueNode& object, const ClassType& class_type,
                   uint32_t level);

// The object a pointer value is replaced by when references are followed, or null when the
// value is written as it is.
const ValueNode* InlineTarget(WriteContext& ctx, const ValueNode& pointer, uint32_t level) {
  if (level >= kMaxNestingDepth) {
    return nullptr;
  }
  const uint32_t id = pointer.payload.word;
  if (ctx.written->Find(id) != nullptr) {
    return nullptr;
  }
  ValueNode* const* target = ctx.referenced->Find(id);
  return target != nullptr ? *target : nullptr;
}

// Writes a pointer value as the object it references, when it should be. `handled` tells
// whether it was; the result is false only when writing that object failed.
[[nodiscard]] bool WriteInlineTarget(WriteContext& ctx, const ValueNode& pointer, uint32_t level,
                                     bool& handled) {
  handled = false;
  const ValueNode* target = InlineTarget(ctx, pointer, level);
  if (target == nullptr) {
    return true;
  }
  handled = true;
  const ClassType* target_class = ctx.registry.Find(target->type_hash);
  return target_class != nullptr && WriteObjectAt(ctx, *target, *target_class, level);
}

[[nodiscard]] bool WriteNestedClass(WriteContext& ctx, const ValueNode& value,
                                    const ClassType& nested, uint32_t level, uint32_t depth,
                                    bool follow_refs) {
  if (depth >= kMaxNestingDepth || !value.IsCompound()) {
    return false;
  }
  return WriteFieldsAt(ctx, value, nested, level, depth + 1, follow_refs);
}

[[nodiscard]] bool WriteArray(WriteContext& ctx, const FieldInfo& field, const ValueNode& array,
                              uint32_t level, uint32_t depth, bool follow_refs) {
  if (!AppendLine(ctx.out, 0, "[\r\n", 3)) {
    return false;
  }
  if (array.payload.children.count != 0) {
    const FieldTypes types = ctx.types.Find(field.type_hash);
    if (const CCoreType* core = types.core) {
      const uint32_t kind = types.core_kind;
      const bool pointers = follow_refs && field.type_hash == kCPointerHash;
      for (const ValueNode* element = array.payload.children.first; element != nullptr;
           element = element->next) {
        if (element->type_hash != field.type_hash || element->kind != kind) {
          return false;
        }
        if (!AppendLine(ctx.out, level + 1, "", 0)) {
          return false;
        }
        bool handled = false;
        if (pointers && !WriteInlineTarget(ctx, *element, level + 1, handled)) {
          return false;
        }
        if (!handled && !AppendValueText(ctx, *core, *element)) {
          return false;
        }
      }
    } else if (const ClassType* nested = types.nested) {
      // References inside the elements of a class array are not followed.
      for (const ValueNode* element = array.payload.children.first; element != nullptr;
           element = element->next) {
        if (element->type_hash != field.type_hash || !AppendLine(ctx.out, level, "{\r\n", 3) ||
            !WriteNestedClass(ctx, *element, *nested, level + 1, depth, false) ||
            !AppendLine(ctx.out, level, "}\r\n", 3)) {
          return false;
        }
      }
    } else {
      return false;
    }
  }
  return AppendLine(ctx.out, level, "]\r\n", 3);
}

bool WriteFieldsAt(WriteContext& ctx, const ValueNode& value, const ClassType& class_type,
                   uint32_t level, uint32_t depth, bool follow_refs) {
  FieldChildCursor children(value);
  for (uint32_t i = 0; i < class_type.field_count; ++i) {
    const FieldInfo& field = class_type.fields[i];
    if (!AppendFieldStart(ctx.out, level, field) || !value.IsCompound()) {
      return false;
    }
    const ValueNode* child = children.Find(field.name_hash);
    if (child == nullptr || child->type_hash != field.type_hash) {
      return false;
    }
    if (field.IsArray()) {
      if (!child->IsArray() || !WriteArray(ctx, field, *child, level, depth, follow_refs)) {
        return false;
      }
    } else if (const FieldTypes types = ctx.types.Find(field.type_hash); types.core != nullptr) {
      const CCoreType* core = types.core;
      if (child->kind != types.core_kind) {
        return false;
      }
      bool handled = false;
      if (follow_refs && field.type_hash == kCPointerHash &&
          !WriteInlineTarget(ctx, *child, level, handled)) {
        return false;
      }
      if (!handled && !AppendValueText(ctx, *core, *child)) {
        return false;
      }
    } else if (const ClassType* nested = types.nested) {
      if (!AppendLine(ctx.out, 0, "{\r\n", 3) ||
          !WriteNestedClass(ctx, *child, *nested, level + 1, depth, follow_refs) ||
          !AppendLine(ctx.out, level, "}\r\n", 3)) {
        return false;
      }
    } else {
      return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Writing straight from the bit stream: each value is decoded into one scratch node, written
// and dropped, in the order and with the checks of DecodeObjectFields followed by the writer
// above (which, for a tree just decoded, finds every child where the decode put it).

struct StreamContext {
  WriteContext& write;
  BitReader& reader;
  DecodeBudget& budget;                 // one node's worth per value, as the decode counts them
  ValueNode& value;                     // the scratch node; holds nothing between values
  HeapText& held_text;                  // the block string values are read into (StreamWriterState)
  StreamWriterState::LinePlans* plans;  // null: every line is written field by field
};

}  // namespace

// The lines of one class's fields at one level, laid out once: each field's prefix (the level's
// TABs, the field's name and " = ") and what its type names.
struct StreamWriterState::LinePlans {
  enum class Form : uint8_t { kArray, kCore, kNested, kNone };
  struct Line {
    const FieldInfo* field;
    FieldTypes types;
    uint32_t prefix_offset;  // in `prefixes`
    uint32_t prefix_length;
    Form form;
  };
  struct Slot {
    const ClassType* class_type = nullptr;
    uint32_t level = 0;
    uint32_t active = 0;  // walks going through the lines now; the slot is not laid out anew
    std::vector<Line> lines;
    std::string prefixes;
  };
  static constexpr uint32_t kSlotBits = 8;

  LinePlans(const TypeRegistry& registry, const CoreTypeTable& core_types)
      : registry(&registry), core_types(&core_types), slots(1u << kSlotBits) {}

  // The slot that holds the lines of `class_type` at `level`, laid out with `types` when it
  // holds another class's; null when that one is in use or memory runs out.
  Slot* Find(const ClassType& class_type, uint32_t level, FieldTypeCache& types);

  const TypeRegistry* registry;
  const CoreTypeTable* core_types;
  std::vector<Slot> slots;
};

StreamWriterState::StreamWriterState() = default;

StreamWriterState::~StreamWriterState() { text.Release(); }

StreamWriterState::LinePlans::Slot* StreamWriterState::LinePlans::Find(const ClassType& class_type,
                                                                       uint32_t level,
                                                                       FieldTypeCache& types) {
  const auto address = reinterpret_cast<uintptr_t>(&class_type);
  Slot& slot = slots[((address >> 4) ^ (uintptr_t{level} * 0x9E3779B1u)) & ((1u << kSlotBits) - 1)];
  if (slot.class_type == &class_type && slot.level == level) {
    return &slot;
  }
  if (slot.active != 0) {
    return nullptr;
  }
  slot.class_type = nullptr;
  try {
    slot.lines.clear();
    slot.prefixes.clear();
    for (uint32_t i = 0; i < class_type.field_count; ++i) {
      const FieldInfo& field = class_type.fields[i];
      Line line{&field, types.Find(field.type_hash), static_cast<uint32_t>(slot.prefixes.size()),
                level + field.name.length + 3, Form::kNone};
      if (field.IsArray()) {
        line.form = Form::kArray;
      } else if (line.types.core != nullptr) {
        line.form = Form::kCore;
      } else if (line.types.nested != nullptr) {
        line.form = Form::kNested;
      }
      slot.prefixes.append(level, '\t');
      slot.prefixes.append(field.name.data, field.name.length);
      slot.prefixes.append(" = ");
      slot.lines.push_back(line);
    }
  } catch (const std::bad_alloc&) {
    return nullptr;
  } catch (const std::length_error&) {
    return nullptr;
  }
  slot.class_type = &class_type;
  slot.level = level;
  return &slot;
}

namespace {

[[nodiscard]] bool TakeNode(DecodeBudget& budget) {
  if (budget.nodes_left == 0) {
    return false;
  }
  --budget.nodes_left;
  return true;
}

bool StreamFields(StreamContext& s, const ClassType& class_type, uint32_t level, uint32_t depth);

// Reads one core value and appends its text, comment and line end.
// `types` names a core type (its `core` is set).
[[nodiscard]] QVX_ALWAYS_INLINE bool StreamCoreValue(StreamContext& s, const FieldTypes& types,
                                                     const FieldInfo& field) {
  const CCoreType& core = *types.core;
  if (!TakeNode(s.budget)) {
    return false;
  }
  // A core type without a known storage form would read into a child list.
  if (types.core_kind == kCompoundKind) {
    return false;
  }
  ValueNode& value = s.value;
  InitPrimitive(value, field.type_hash, types.core_kind);
  const bool text = value.kind == kCStringHash;
  if (text) {
    value.payload.text = s.held_text;
  }
  const bool written = core.ReadValue(s.reader, field, value) && !s.reader.failed &&
                       AppendValueText(s.write, core, value);
  if (text) {
    s.held_text = value.payload.text;
    value.payload.text = HeapText::Empty();
  }
  return written;
}

// The block of one class value: "{", its fields one level deeper, then `level` TABs and "}".
// The opening brace is written at `brace_level`. A class registered under a built-in value
// type's hash fails, as its value would be made a primitive by the decode.
[[nodiscard]] bool StreamClassValue(StreamContext& s, const ClassType& nested, uint32_t brace_level,
                                    uint32_t level, uint32_t depth) {
  CStringBufferA& out = s.write.out;
  return depth < kMaxNestingDepth && !IsCoreTypeHash(nested.name_hash) && TakeNode(s.budget) &&
         AppendLine(out, brace_level, "{\r\n", 3) &&
         StreamFields(s, nested, level + 1, depth + 1) && AppendLine(out, level, "}\r\n", 3);
}

[[nodiscard]] bool StreamArray(StreamContext& s, const FieldInfo& field, uint32_t level,
                               uint32_t depth) {
  CStringBufferA& out = s.write.out;
  const uint32_t count = s.reader.ReadVarUInt();
  if (s.reader.failed || !TakeNode(s.budget) || !AppendLine(out, 0, "[\r\n", 3)) {
    return false;
  }
  if (count != 0) {  // an empty array needs no element type
    const FieldTypes types = s.write.types.Find(field.type_hash);
    if (types.core != nullptr) {
      for (uint32_t i = 0; i < count; ++i) {
        if (!AppendLine(out, level + 1, "", 0) || !StreamCoreValue(s, types, field)) {
          return false;
        }
      }
    } else if (const ClassType* nested = types.nested) {
      for (uint32_t i = 0; i < count; ++i) {
        if (!StreamClassValue(s, *nested, level, level, depth)) {
          return false;
        }
      }
    } else {
      return false;
    }
  }
  return AppendLine(out, level, "]\r\n", 3);
}

// StreamFields along the lines laid out for the class at this level.
bool StreamPlannedFields(StreamContext& s, const StreamWriterState::LinePlans::Slot& plan,
                         uint32_t level, uint32_t depth) {
  using Form = StreamWriterState::LinePlans::Form;
  CStringBufferA& out = s.write.out;
  for (const StreamWriterState::LinePlans::Line& line : plan.lines) {
    if (!MakeRoom(out, line.prefix_length)) {
      return false;
    }
    Finish(out, Put(Cursor(out), plan.prefixes.data() + line.prefix_offset, line.prefix_length));
    bool written = false;
    switch (line.form) {
      case Form::kArray:
        written = StreamArray(s, *line.field, level, depth);
        break;
      case Form::kCore:
        written = StreamCoreValue(s, line.types, *line.field);
        break;
      case Form::kNested:
        written = StreamClassValue(s, *line.types.nested, 0, level, depth);
        break;
      case Form::kNone:
        break;
    }
    if (!written) {
      return false;
    }
  }
  return !s.reader.failed;
}

bool StreamFields(StreamContext& s, const ClassType& class_type, uint32_t level, uint32_t depth) {
  if (s.plans != nullptr) {
    if (StreamWriterState::LinePlans::Slot* plan =
            s.plans->Find(class_type, level, s.write.types)) {
      ++plan->active;
      const bool written = StreamPlannedFields(s, *plan, level, depth);
      --plan->active;
      return written;
    }
  }
  for (uint32_t i = 0; i < class_type.field_count; ++i) {
    const FieldInfo& field = class_type.fields[i];
    if (!AppendFieldStart(s.write.out, level, field)) {
      return false;
    }
    bool written;
    if (field.IsArray()) {
      written = StreamArray(s, field, level, depth);
    } else if (const FieldTypes types = s.write.types.Find(field.type_hash);
               types.core != nullptr) {
      written = StreamCoreValue(s, types, field);
    } else if (types.nested != nullptr) {
      written = StreamClassValue(s, *types.nested, 0, level, depth);
    } else {
      written = false;
    }
    if (!written) {
      return false;
    }
  }
  return !s.reader.failed;
}

// The reference-following object block; its header goes where the caller's line stands.
bool WriteObjectAt(WriteContext& ctx, const ValueNode& object, const ClassType& class_type,
                   uint32_t level) {
  if (ctx.written->FindOrInsert(object.name, true) == nullptr ||
      !AppendHeader(ctx.out, object.name, class_type) ||
      !WriteFieldsAt(ctx, object, class_type, level + 1, 0, true)) {
    return false;
  }
  return AppendLine(ctx.out, level, "}\r\n", 3);
}

}  // namespace

bool WriteObject(const ValueNode& object, const ClassType& class_type, CStringBufferA& out,
                 CStringBufferA& value_scratch, const TypeRegistry& registry,
                 const CoreTypeTable& core_types, CStringBufferA& comment_scratch,
                 FieldTypeCache* types) {
  return FieldTypeCache::With(types, registry, core_types, [&](FieldTypeCache& cache) {
    WriteContext ctx{out, value_scratch, registry, cache, comment_scratch, nullptr, nullptr};
    return AppendHeader(out, object.name, class_type) &&
           WriteFieldsAt(ctx, object, class_type, 1, 0, false) && AppendLine(out, 0, "}\r\n", 3);
  });
}

bool WriteObjectFromStream(uint32_t object_id, const ClassType& class_type, BitReader& reader,
                           DecodeBudget& budget, CStringBufferA& out, CStringBufferA& value_scratch,
                           const TypeRegistry& registry, const CoreTypeTable& core_types,
                           CStringBufferA& comment_scratch, FieldTypeCache* types,
                           StreamWriterState* state) {
  HeapText own_text = HeapText::Empty();
  StreamWriterState::LinePlans* plans = nullptr;
  if (state != nullptr) {
    if (state->plans == nullptr || state->plans->registry != &registry ||
        state->plans->core_types != &core_types) {
      try {
        state->plans = std::make_unique<StreamWriterState::LinePlans>(registry, core_types);
      } catch (const std::bad_alloc&) {
        state->plans.reset();
      }
    }
    plans = state->plans.get();
  }
  HeapText& held_text = state != nullptr ? state->text : own_text;
  const bool written =
      FieldTypeCache::With(types, registry, core_types, [&](FieldTypeCache& cache) {
        WriteContext ctx{out, value_scratch, registry, cache, comment_scratch, nullptr, nullptr};
        ValueNode value;
        std::memset(static_cast<void*>(&value), 0, sizeof value);
        StreamContext stream{ctx, reader, budget, value, held_text, plans};
        return AppendHeader(out, object_id, class_type) && StreamFields(stream, class_type, 1, 0) &&
               AppendLine(out, 0, "}\r\n", 3);
      });
  own_text.Release();
  return written;
}

bool WriteFields(const ValueNode& value, const ClassType& class_type, CStringBufferA& out,
                 CStringBufferA& value_scratch, const TypeRegistry& registry,
                 const CoreTypeTable& core_types, CStringBufferA& comment_scratch, uint32_t level) {
  FieldTypeCache types(registry, core_types);
  WriteContext ctx{out, value_scratch, registry, types, comment_scratch, nullptr, nullptr};
  return WriteFieldsAt(ctx, value, class_type, level, 0, false);
}

void WriteIndent(uint32_t level, CStringBufferA& out) {
  while (level > kTabRun) {
    out.Append(kTabs, kTabRun);
    level -= kTabRun;
  }
  out.Append(kTabs, level);
}

void WriteTrailingComment(CStringBufferA& comment, CStringBufferA& out) {
  const char* nul = FindByte(comment.data, comment.length, '\0');
  const uint32_t length =
      nul == nullptr ? comment.length : static_cast<uint32_t>(nul - comment.data);
  if (length == 0) {
    comment.Empty();
    return;
  }
  // Each byte becomes at most three: "\n", "\r" or the replacement character.
  if (!MakeRoom(out, uint64_t{length} * 3 + 3)) {
    return;
  }
  char* at = Put(Cursor(out), " //", 3);
  const char* p = comment.data;
  const char* const end = p + length;
  // Plain ASCII without line breaks, the usual comment (a class name), is copied eight bytes at
  // a time; a word with any other byte goes through the loop below.
  while (end - p >= 8) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    if (NeedsCommentEscape(word)) {
      break;
    }
    std::memcpy(at, &word, 8);
    at += 8;
    p += 8;
  }
  while (p < end) {
    const char c = *p;
    if (c == '\n') {
      at = Put(at, "\\n", 2);
      ++p;
    } else if (c == '\r') {
      at = Put(at, "\\r", 2);
      ++p;
    } else if (static_cast<unsigned char>(c) < 0x80) {
      *at++ = c;
      ++p;
    } else {
      const Utf8Decoded decoded = DecodeUtf8(p, end);
      at = decoded.valid ? Put(at, p, decoded.length) : Put(at, kReplacementCharacter, 3);
      p += decoded.length;
    }
  }
  Finish(out, at);
  comment.Empty();
}

bool WriteObjectFollowingRefs(const ValueNode& object, const ClassType& class_type,
                              CStringBufferA& out, CStringBufferA& value_scratch,
                              const TypeRegistry& registry, const CoreTypeTable& core_types,
                              ObjectRefTable& referenced, WrittenObjectSet& written,
                              CStringBufferA& comment_scratch, uint32_t level) {
  FieldTypeCache types(registry, core_types);
  WriteContext ctx{out, value_scratch, registry, types, comment_scratch, &referenced, &written};
  return WriteObjectAt(ctx, object, class_type, level);
}

bool WriteFieldsFollowingRefs(const ValueNode& value, const ClassType& class_type,
                              CStringBufferA& out, CStringBufferA& value_scratch,
                              const TypeRegistry& registry, const CoreTypeTable& core_types,
                              ObjectRefTable& referenced, WrittenObjectSet& written,
                              CStringBufferA& comment_scratch, uint32_t level) {
  FieldTypeCache types(registry, core_types);
  WriteContext ctx{out, value_scratch, registry, types, comment_scratch, &referenced, &written};
  return WriteFieldsAt(ctx, value, class_type, level, 0, true);
}
