// document/document_parser.cpp - the document grammar, value parsing and validation.
//
// The parse is one recursive descent over the document lexer; each routine reads exactly the
// tokens of its rule and returns false at the first error, which Fail reports on the lexer. No
// value allocates beyond its node and, for strings, its text: the value lexer's buffers are
// reused from value to value. What a field's type is (a core type, a built-in value type, a
// type already entered in the referenced set) is looked up once per field and remembered for
// the rest of the parse, since the same few fields repeat in every object.
#include "document/document_parser.h"

#include <cstdarg>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "foundation/inline.h"
#include "foundation/name_hash.h"
#include "types/core_type_hashes.h"
#include "types/enum_types.h"

namespace {

// An array field declared with this size takes any number of elements.
constexpr uint32_t kUnlimitedArray = 0xFFFFFFFFu;

// What the text of a value of `core` has to look like, for the message about a value that
// does not. Enumerations and plain strings take any text.
const char* ExpectedValueText(const CCoreType& core) {
  switch (core.name_hash) {
    case kCBoolHash:
      return "true or false";
    case kCByteHash:
    case kCShortHash:
    case kCIntHash:
    case kCFloatHash:
    case kCAngleHash:
      return "a number";
    case kCVector2Hash:
      return "two numbers separated by ','";
    case kCVector3Hash:
      return "three numbers separated by ','";
    case kCVector4Hash:
    case kCColorHash:
    case kCQuatHash:
      return "four numbers separated by ','";
    case kCAxisAlignedBoundingBoxHash:
      return "six numbers separated by ','";
    case kCHashHash:
    case kCStringHashHash:
    case kCTextIDHash:
      return "a number, an identifier or a quoted name";
    case kCPointerHash:
      return "'@' followed by a number, an identifier or a quoted name";
    default:
      break;
  }
  const EnumTypeInfo* info = FindEnumType(core.name.data);
  if (info != nullptr && info->kind == EnumTypeKind::kFlags) {
    return "flag names or numbers separated by ','";
  }
  return "a value of that type";
}

const FieldInfo* FindField(const ClassType& class_type, uint32_t name_hash) {
  for (uint32_t i = 0; i < class_type.field_count; ++i) {
    if (class_type.fields[i].name_hash == name_hash) {
      return &class_type.fields[i];
    }
  }
  return nullptr;
}

uint32_t IdentifierHash(const Lexer& lexer) {
  return NameHash(lexer.identifier_value.data, lexer.identifier_value.length);
}

// What the parser needs to know about the type of one field.
struct FieldFacts {
  const FieldInfo* field;  // null: the slot is free
  const CCoreType* core;   // the field's core type, or null
  uint32_t core_storage;   // core->StorageTypeHash(), asked once; 0 without a core type
  uint32_t core_kind;      // CoreValueKind(core_storage, the type's hash), with a core type
  bool builtin;            // the type is a built-in value type (never a referenced type)
  bool referenced;         // the type has been entered in the referenced set
  // The field's name lexes as one identifier and hashes to its name hash (a library may have
  // either otherwise), so the name as written finds the field: TakeIdentifier may look for it.
  bool plain_name;
  // The field's type is a core type that reads its plain form where it stands
  // (ReadPlainPrefix) into a node of its own kind: a line of one value (an array's element)
  // may be encoded without copying the value's text.
  bool plain_prefix;
  // So may the field's own line: plain_prefix, plain_name and no array.
  bool in_place;
  // The field's own line holds a value of another core type, whose text is handed to
  // ParsePlainText where it stands in the document when its string has no escape (plain_name,
  // no array, no compound kind).
  bool text_in_place;
};

// While less than this is left of a part of a document read a part at a time, the next part
// is read before the next object: far more than any header and than most objects (one that
// the part's end cuts short is read again from a part that starts with it).
constexpr uint32_t kFeedMargin = 128u << 10;

// Slots of the field lookup cache (direct-mapped by the field's address).
constexpr uint32_t kFieldCacheBits = 7;

// Whether no two fields of a class share a name hash, by the class's address.
struct ClassFieldNames {
  const ClassType* class_type;  // null: the slot is free
  bool distinct;
};
constexpr uint32_t kClassCacheBits = 5;

bool FieldNamesDistinct(const ClassType& class_type) {
  for (uint32_t i = 1; i < class_type.field_count; ++i) {
    for (uint32_t j = 0; j < i; ++j) {
      if (class_type.fields[i].name_hash == class_type.fields[j].name_hash) {
        return false;
      }
    }
  }
  return true;
}

class Parser {
 public:
  Parser(Lexer& lexer, Lexer& value_lexer, const TypeRegistry& class_types,
         const CoreTypeTable& core_types, ReferencedTypeSet& referenced_types,
         ValueObjectList& objects, ObjectSink* sink = nullptr, DocumentFeed* feed = nullptr)
      : lexer_(lexer),
        value_lexer_(value_lexer),
        class_types_(class_types),
        core_types_(core_types),
        referenced_types_(referenced_types),
        objects_(objects),
        sink_(sink),
        feed_(feed),
        nodes_(DefaultValueNodePool()),
        field_cache_{},
        class_cache_{} {
    // Warnings about a value are shown under the document's name (and its line, set before
    // each value), since a reset keeps the file name.
    value_lexer_.file_name.Assign(lexer_.file_name.data);
  }
  ~Parser() { held_text_.Release(); }
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  bool ParseDocument();
  bool ParseBody(ValueNode& object, const ClassType& class_type, uint32_t depth);
  bool ParseArray(ValueNode& array, const FieldInfo& field, uint32_t depth);
  bool ParseInlineObject(ValueNode& pointer, uint32_t depth);

 private:
  // Where the document lexer stood, and what it had reported, before an object was tried.
  struct LexerMark {
    uint32_t position;
    uint32_t line;
    uint32_t diagnostics_length;
    TokenKind current_kind;
    bool error;
  };

  bool Fail(const char* format, ...) QVX_PRINTF_FORMAT(2, 3);
  // An object's header: its class and ID (kObject), the end of the text (kEnd), or an error,
  // reported (kFailed).
  enum class Header { kObject, kEnd, kFailed };
  Header ReadHeader(const ClassType*& class_type, uint32_t& id);
  // Back to `top` (the start of an object that failed in a part of the document, perhaps cut
  // short by the part's end), then more of the document from there: a part that starts with
  // the object when the failed one did not (once for each object), else the whole rest.
  bool ReadAgain(const LexerMark& top);
  bool ParseFieldValue(ValueNode& parent, const FieldInfo& field, TokenKind kind, uint32_t depth);
  bool ParseValueText(ValueNode& value, const CCoreType& core, const FieldInfo& field,
                      uint32_t element);
  // Parses the string token just read into `value` through the value lexer; on success the
  // value lexer's warnings join the document's. False, reporting nothing, for a text that is
  // not a value of `core`.
  bool ReadValueText(ValueNode& value, const CCoreType& core);
  // Whether no two fields of the class share a name hash (remembered per class).
  bool DistinctFieldNames(const ClassType& class_type);

  // Encoding straight from the text (ObjectSink::DirectWriter). These routines report nothing:
  // false means the object is not one to encode this way (or has an error), and the caller
  // rewinds and reads it as a tree, which reports whatever there is to report. Each makes the
  // Reference calls of its tree-reading counterpart, in the same order.
  bool TryEncodeObject(const ClassType& class_type, uint32_t id);
  bool EncodeBody(const ClassType& class_type, uint32_t depth, BitWriter& out);
  // `types` are the field's facts (TypesOf), asked once for the field's line and its value.
  bool EncodeFieldValue(const FieldInfo& field, FieldFacts& types, TokenKind kind, uint32_t depth,
                        BitWriter& out);
  bool EncodeValueText(const FieldInfo& field, const FieldFacts& facts, BitWriter& out);
  // What EncodeInPlace, EncodeTextInPlace and EncodeParsedValue did with a line.
  enum class InPlace { kWritten, kNotPlain, kFailed };
  // Parses a value of the field's core type (not of compound kind) into the scratch node with
  // `parse` and writes it: kNotPlain when `parse` refuses the text, kFailed when the value is
  // not one to write.
  template <typename Parse>
  InPlace EncodeParsedValue(const FieldInfo& field, const FieldFacts& facts, Parse&& parse,
                            BitWriter& out);
  // Encodes the value of a field's line (facts.text_in_place) whose string runs from `start`
  // to the closing quote at `end`, when ParsePlainText takes its text where it stands; the line
  // is then read. kNotPlain leaves everything as it was, for the line to be read as a token.
  InPlace EncodeTextInPlace(const FieldInfo& field, FieldFacts& facts, uint32_t start, uint32_t end,
                            BitWriter& out);
  // Encodes the value of a field's line (facts.in_place) whose string starts at `start`, where
  // it stands in the text, when it has the plain form; the line is then read. kNotPlain leaves
  // everything as it was, for the line to be read token by token.
  InPlace EncodeInPlace(const FieldInfo& field, FieldFacts& facts, uint32_t start, BitWriter& out);
  bool EncodeArray(const FieldInfo& field, uint32_t depth, BitWriter& out);
  // The elements from the first on: its token `kind`, or (`start` not 0) its string's start
  // as LineStringStart found it, with the line not yet read.
  bool EncodeElements(const FieldInfo& field, FieldFacts& facts, TokenKind kind, uint32_t start,
                      uint32_t depth, BitWriter& elements, uint32_t& count);
  // LineStringStart for the line of an element of core type, when its type reads in place.
  uint32_t ElementStringStart(const FieldFacts& facts, uint32_t depth) {
    return facts.plain_prefix ? LineStringStart(lexer_, depth + 2, nullptr, 0) : 0;
  }
  // NextToken, for a token that gentext writes first on its line with `tabs` TABs (or else
  // `other_tabs`) before it: such a line is taken in one step.
  TokenKind NextLineToken(uint32_t tabs, uint32_t other_tabs);
  // The next token inside an array of a field at `depth`: an element of core type is one TAB
  // deeper than the field, a class element's braces and the closing bracket as deep.
  TokenKind NextElementToken(uint32_t depth) { return NextLineToken(depth + 2, depth + 1); }
  LexerMark Mark() const {
    return LexerMark{lexer_.position, lexer_.line, lexer_.diagnostics.length, lexer_.current_kind,
                     lexer_.error};
  }
  void Rewind(const LexerMark& mark);

  bool ReadObjectId(uint32_t& id);
  // A value of the field's core type (`facts` of the field), appended to `parent`.
  ValueNode* NewPrimitive(ValueNode& parent, uint32_t name, const FieldInfo& field,
                          const FieldFacts& facts);
  bool Reference(uint32_t type_hash) {
    return referenced_types_.FindOrInsert(type_hash) != nullptr;
  }
  inline FieldFacts& TypesOf(const FieldInfo& field) { return TypesAt(FactsSlot(&field), field); }
  // The cache slot of a field's facts: the fields of a class lie side by side, so they take
  // consecutive slots, and the slot of a class's field i is FactsSlot(fields) + i (masked).
  static uint32_t FactsSlot(const FieldInfo* field) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(field) / sizeof(FieldInfo));
  }
  // TypesOf for a field whose slot (unmasked) is known.
  FieldFacts& TypesAt(uint32_t slot, const FieldInfo& field) {
    FieldFacts& facts = field_cache_[slot & ((1u << kFieldCacheBits) - 1)];
    if (facts.field != &field) [[unlikely]] {
      FillFacts(facts, field);
    }
    return facts;
  }
  void FillFacts(FieldFacts& slot, const FieldInfo& field);
  // FindField, trying the field at `next` first (documents list fields in declaration order);
  // `next` becomes the index after the field found.
  const FieldInfo* FindFieldFrom(const ClassType& class_type, uint32_t name_hash, uint32_t& next);
  // Reference for a field's type, entering it only the first time.
  bool ReferenceFieldType(FieldFacts& types) {
    if (!types.referenced) {
      types.referenced = Reference(types.field->type_hash);
    }
    return types.referenced;
  }

  Lexer& lexer_;
  Lexer& value_lexer_;
  const TypeRegistry& class_types_;
  const CoreTypeTable& core_types_;
  ReferencedTypeSet& referenced_types_;
  ValueObjectList& objects_;
  ObjectSink* sink_;
  DocumentFeed* feed_;  // null: the lexer's text is the whole document
  // Value nodes come from the pool a group at a time (one lock per group, not per node).
  ValueNodePool::TakeBatch nodes_;
  FieldFacts field_cache_[1u << kFieldCacheBits];
  ClassFieldNames class_cache_[1u << kClassCacheBits];
  // Direct encoding: the node each value is parsed into, and the streams that hold an array's
  // elements until their count is known, one per level of arrays inside arrays (each empty
  // between uses).
  ValueNode scratch_{};
  HeapText held_text_ = HeapText::Empty();  // a text block kept from one string value for the next
  std::vector<std::unique_ptr<ByteBuffer>> element_streams_;
  uint32_t array_level_ = 0;
  // The class of the last object whose header was read token by token, when its name lexes as
  // one identifier that hashes to the hash it was found by: a header that spells the same
  // name names the same class, and is read in one step (TakeObjectHeader).
  const ClassType* header_class_ = nullptr;
};

bool Parser::DistinctFieldNames(const ClassType& class_type) {
  const auto address = reinterpret_cast<uintptr_t>(&class_type);
  ClassFieldNames& names = class_cache_[(address >> 4) & ((1u << kClassCacheBits) - 1)];
  if (names.class_type != &class_type) {
    names = ClassFieldNames{&class_type, FieldNamesDistinct(class_type)};
  }
  return names.distinct;
}

const FieldInfo* Parser::FindFieldFrom(const ClassType& class_type, uint32_t name_hash,
                                       uint32_t& next) {
  if (next < class_type.field_count && class_type.fields[next].name_hash == name_hash) {
    // The field in order is the first of its name unless an earlier field has that name too.
    if (DistinctFieldNames(class_type)) {
      return &class_type.fields[next++];
    }
  }
  const FieldInfo* field = FindField(class_type, name_hash);
  if (field != nullptr) {
    next = static_cast<uint32_t>(field - class_type.fields) + 1;
  }
  return field;
}

void Parser::FillFacts(FieldFacts& slot, const FieldInfo& field) {
  slot.field = &field;
  slot.core = FindCoreType(core_types_, field.type_hash);
  slot.core_storage = slot.core != nullptr ? slot.core->StorageTypeHash() : 0;
  slot.core_kind = CoreValueKind(slot.core_storage, field.type_hash);
  slot.builtin = IsCoreTypeHash(field.type_hash);
  slot.referenced = false;
  slot.plain_name = NameHash(field.name.data, field.name.length) == field.name_hash &&
                    IsPlainIdentifier(field.name.data, field.name.length);
  slot.plain_prefix = slot.core != nullptr && slot.core_kind != kCompoundKind &&
                      slot.core_kind != kCStringHash && slot.core->HasPlainPrefix();
  slot.in_place = slot.plain_prefix && slot.plain_name && !field.IsArray();
  slot.text_in_place = slot.core != nullptr && slot.core_kind != kCompoundKind &&
                       !slot.plain_prefix && slot.plain_name && !field.IsArray();
}

bool Parser::Fail(const char* format, ...) {
  // ReportError takes no va_list, so the message is formatted here first.
  TStringBufferA<256> message;
  va_list args;
  va_start(args, format);
  message.AppendFormatV(format, args);
  va_end(args);
  ReportError(lexer_, "%s", message.data);
  return false;
}

Parser::Header Parser::ReadHeader(const ClassType*& class_type, uint32_t& id) {
  class_type = header_class_;
  uint64_t number = 0;
  if (class_type != nullptr &&
      TakeObjectHeader(lexer_, class_type->name.data, class_type->name.length, number)) {
    id = static_cast<uint32_t>(number);  // as ReadObjectId takes an integer
    return Header::kObject;
  }
  TokenKind kind = NextToken(lexer_);
  if (kind == TokenKind::kEof) {
    return Header::kEnd;
  }
  if (kind != TokenKind::kIdentifier) {
    Fail("Expected identifier, got %s.", TokenName(kind));
    return Header::kFailed;
  }
  const uint32_t class_hash = IdentifierHash(lexer_);
  class_type = FindClassType(class_types_, class_hash);
  if (class_type == nullptr) {
    Fail("Unknown type: \"%s\".", lexer_.identifier_value.data);
    return Header::kFailed;
  }
  const bool plain_name = IsPlainIdentifier(class_type->name.data, class_type->name.length) &&
                          NameHash(class_type->name.data, class_type->name.length) == class_hash;
  header_class_ = plain_name ? class_type : nullptr;
  return ReadObjectId(id) ? Header::kObject : Header::kFailed;
}

bool Parser::ReadAgain(const LexerMark& top) {
  Rewind(top);
  const bool fresh_part = top.position != 0;
  return feed_->Feed(lexer_, !fresh_part);
}

bool Parser::ParseDocument() {
  for (;;) {
    // A document read a part at a time: more is asked for while little of the part is left.
    bool partial = feed_ != nullptr && !feed_->Whole();
    if (partial && LexerTextLength(lexer_) - lexer_.position < kFeedMargin) {
      if (!feed_->Feed(lexer_, false)) {
        return false;
      }
      partial = !feed_->Whole();
    }
    const LexerMark top = Mark();
    const ClassType* class_type = nullptr;
    uint32_t id = 0;
    const Header header = ReadHeader(class_type, id);
    // Whatever stops at the end of a part, or fails, may have been cut short there: it is read
    // again from a part that starts with it and then from the whole rest of the document, with
    // the messages as they were before it. A header is whole when something follows it in the
    // part: its class name ended before the ID, and the ID's token before that byte. An ID
    // that the part's end cuts short may be another ID whole, or none at all (too many digits,
    // a fraction), so the class is referenced only once the header is known to be whole.
    if (partial && (header != Header::kObject || lexer_.position >= LexerTextLength(lexer_))) {
      if (!ReadAgain(top)) {
        return false;
      }
      continue;
    }
    if (header != Header::kObject) {
      return header == Header::kEnd;
    }
    if (!Reference(class_type->name_hash)) {
      return Fail("Couldn't set referenced type.");
    }
    if (sink_ != nullptr && TryEncodeObject(*class_type, id)) {
      sink_->EncodedObject();
      continue;
    }
    // A tree is read from the whole document only: its messages may name what follows.
    if (partial) {
      if (!ReadAgain(top)) {
        return false;
      }
      continue;
    }
    ValueNode* object = NewObjectValue(class_type->name_hash, id);
    if (object == nullptr) {
      return Fail("Failed to create value.");
    }
    (void)objects_.Append(object);
    // A class registered under a built-in value type's hash would make a primitive here.
    if (!object->IsCompound()) {
      return Fail("Unknown type: \"%s\".", class_type->name.data);
    }
    const TokenKind kind = NextToken(lexer_);
    if (kind != TokenKind::kOpenBrace) {
      return Fail("Expected '{', got %s.", TokenName(kind));
    }
    if (!ParseBody(*object, *class_type, 0)) {
      return false;
    }
    if (sink_ != nullptr) {
      sink_->TakeObjects(objects_);
    }
  }
}

bool Parser::ParseBody(ValueNode& object, const ClassType& class_type, uint32_t depth) {
  if (depth > kMaxNestingDepth) {
    return Fail("Objects nested deeper than %u levels.", kMaxNestingDepth);
  }
  if (!object.IsCompound()) {
    return Fail("Unknown type: \"%s\".", class_type.name.data);
  }
  TokenKind kind = NextToken(lexer_);
  uint32_t next_field = 0;
  while (kind != TokenKind::kCloseBrace) {
    if (kind != TokenKind::kIdentifier) {
      return Fail("Expected identifier or '}', got %s.", TokenName(kind));
    }
    const FieldInfo* field = FindFieldFrom(class_type, IdentifierHash(lexer_), next_field);
    if (field == nullptr) {
      return Fail("Unknown field %s::%s.", class_type.name.data, lexer_.identifier_value.data);
    }
    kind = NextToken(lexer_);
    if (kind != TokenKind::kEquals) {
      return Fail("Expected '=', got %s.", TokenName(kind));
    }
    if (!ParseFieldValue(object, *field, NextToken(lexer_), depth)) {
      return false;
    }
    kind = NextToken(lexer_);
  }
  return true;
}

bool Parser::ParseFieldValue(ValueNode& parent, const FieldInfo& field, TokenKind kind,
                             uint32_t depth) {
  if (field.IsArray()) {
    if (kind != TokenKind::kOpenBracket) {
      return Fail("Expected '[', got %s.", TokenName(kind));
    }
    ValueNode* array =
        AppendChildNode(parent, nodes_.Allocate(), field.name_hash, field.type_hash, true, 0);
    if (array == nullptr) {
      return Fail("Failed to create value.");
    }
    return ParseArray(*array, field, depth);
  }

  FieldFacts& types = TypesOf(field);
  if (const CCoreType* core = types.core) {
    const bool pointer = field.type_hash == kCPointerHash;
    if (pointer) {
      if (kind != TokenKind::kString && kind != TokenKind::kIdentifier) {
        return Fail("Expected string or identifier, got %s.", TokenName(kind));
      }
    } else if (kind != TokenKind::kString) {
      return Fail("Expected string, got %s.", TokenName(kind));
    }
    ValueNode* value = NewPrimitive(parent, field.name_hash, field, types);
    if (value == nullptr) {
      return false;
    }
    if (!types.builtin && !ReferenceFieldType(types)) {
      return Fail("Couldn't set referenced type.\n");
    }
    if (kind == TokenKind::kIdentifier) {
      return ParseInlineObject(*value, depth);
    }
    return ParseValueText(*value, *core, field, 0);
  }

  const ClassType* nested = FindClassType(class_types_, field.type_hash);
  if (nested == nullptr) {
    return Fail("Unknown type: %u", field.type_hash);
  }
  if (kind != TokenKind::kOpenBrace) {
    return Fail("Expected '{', got %s.", TokenName(kind));
  }
  ValueNode* value =
      AppendChildNode(parent, nodes_.Allocate(), field.name_hash, field.type_hash, false, 0);
  if (value == nullptr) {
    return Fail("Failed to create value.");
  }
  if (!value->IsCompound()) {
    return Fail("Unknown type: %u", field.type_hash);
  }
  if (!ReferenceFieldType(types)) {
    return Fail("Couldn't set referenced type.\n");
  }
  return ParseBody(*value, *nested, depth + 1);
}

bool Parser::ParseArray(ValueNode& array, const FieldInfo& field, uint32_t depth) {
  const uint32_t limit = static_cast<uint32_t>(field.array_size);
  TokenKind kind = NextToken(lexer_);
  if (kind == TokenKind::kCloseBracket) {
    return true;
  }
  FieldFacts& types = TypesOf(field);
  if (!types.builtin && !ReferenceFieldType(types)) {
    return Fail("Couldn't set referenced type.\n");
  }
  uint32_t count = 0;

  if (const CCoreType* core = types.core) {
    const bool pointer = field.type_hash == kCPointerHash;
    for (;;) {
      if (pointer) {
        if (kind != TokenKind::kString && kind != TokenKind::kIdentifier) {
          return Fail("Expected string, identifier or ']', got %s.", TokenName(kind));
        }
      } else if (kind != TokenKind::kString) {
        return Fail("Expected string or ']', got %s.", TokenName(kind));
      }
      if (limit != kUnlimitedArray && count >= limit) {
        return Fail("Exceeded maximum array size of %d.", field.array_size);
      }
      ValueNode* element = NewPrimitive(array, 0, field, types);
      if (element == nullptr) {
        return false;
      }
      ++count;
      if (kind == TokenKind::kIdentifier) {
        if (!ParseInlineObject(*element, depth)) {
          return false;
        }
      } else if (!ParseValueText(*element, *core, field, count)) {
        return false;
      }
      kind = NextToken(lexer_);
      if (kind == TokenKind::kCloseBracket) {
        return true;
      }
    }
  }

  const ClassType* nested = FindClassType(class_types_, field.type_hash);
  if (nested == nullptr) {
    return Fail("Unknown type: %u", field.type_hash);
  }
  if (kind != TokenKind::kOpenBrace) {
    return Fail("Expected '{' or ']', got %s.", TokenName(kind));
  }
  for (;;) {
    if (limit != kUnlimitedArray && count >= limit) {
      return Fail("Exceeded maximum array size of %d.", field.array_size);
    }
    ValueNode* element = AppendChildNode(array, nodes_.Allocate(), 0, field.type_hash, false, 0);
    if (element == nullptr) {
      return Fail("Failed to create value.");
    }
    if (!element->IsCompound()) {
      return Fail("Unknown type: %u", field.type_hash);
    }
    if (!ParseBody(*element, *nested, depth + 1)) {
      return false;
    }
    ++count;
    kind = NextToken(lexer_);
    if (kind == TokenKind::kCloseBracket) {
      return true;
    }
    if (kind != TokenKind::kOpenBrace) {
      return Fail("Expected '{' or ']', got %s.", TokenName(kind));
    }
  }
}

bool Parser::ParseInlineObject(ValueNode& pointer, uint32_t depth) {
  const ClassType* class_type = FindClassType(class_types_, IdentifierHash(lexer_));
  if (class_type == nullptr) {
    return Fail("Unknown type: \"%s\".", lexer_.identifier_value.data);
  }
  uint32_t id = 0;
  if (!ReadObjectId(id)) {
    return false;
  }
  pointer.payload.word = id;
  ValueNode* object = NewObjectValue(class_type->name_hash, id);
  if (object == nullptr) {
    return Fail("Failed to create value.");
  }
  (void)objects_.Append(object);
  if (!object->IsCompound()) {
    return Fail("Unknown type: \"%s\".", class_type->name.data);
  }
  if (!Reference(class_type->name_hash)) {
    return Fail("Couldn't set referenced type.");
  }
  const TokenKind kind = NextToken(lexer_);
  if (kind != TokenKind::kOpenBrace) {
    return Fail("Expected '{', got %s.", TokenName(kind));
  }
  return ParseBody(*object, *class_type, depth + 1);
}

bool Parser::ReadObjectId(uint32_t& id) {
  const TokenKind kind = NextToken(lexer_);
  if (kind == TokenKind::kNumber) {
    if (lexer_.number.is_float) {
      return Fail("Expected integer, got float.");
    }
    id = static_cast<uint32_t>(lexer_.number.integer_part);
    return true;
  }
  if (kind == TokenKind::kIdentifier || kind == TokenKind::kExtendedIdentifier) {
    id = IdentifierHash(lexer_);
    return true;
  }
  return Fail("Expected identifier, extended identifier or integer, got %s.", TokenName(kind));
}

ValueNode* Parser::NewPrimitive(ValueNode& parent, uint32_t name, const FieldInfo& field,
                                const FieldFacts& facts) {
  ValueNode* value =
      AppendChildNode(parent, nodes_.Allocate(), name, field.type_hash, false, facts.core_storage);
  if (value == nullptr) {
    Fail("Failed to create value.");
    return nullptr;
  }
  // A core type without a known storage form would parse its payload into a child list.
  if (value->IsCompound()) {
    Fail("Unknown type: %u", field.type_hash);
    return nullptr;
  }
  return value;
}

bool Parser::ReadValueText(ValueNode& value, const CCoreType& core) {
  // Most value texts have the plain form gentext writes, which the type reads straight from
  // the text; any other form goes through the value lexer.
  const CStringBufferA& text = lexer_.string_value;
  if (core.ParsePlainText(text.data, text.length, value)) {
    return true;
  }
  Lexer& values = value_lexer_;
  ResetLexerOver(values, lexer_.string_value.data, lexer_.string_value.length, lexer_.line);
  if (!core.ParseValue(values, value, nullptr)) {
    return false;
  }
  if (values.diagnostics.length != 0) {
    lexer_.diagnostics.Append(values.diagnostics.data, values.diagnostics.length);
  }
  return true;
}

bool Parser::ParseValueText(ValueNode& value, const CCoreType& core, const FieldInfo& field,
                            uint32_t element) {
  if (!ReadValueText(value, core)) {
    // The value lexer's own messages describe a text that is rejected as a whole; the one
    // error names the field and what its type takes instead.
    if (element == 0) {
      return Fail("Failed to parse value of field \"%s\" (%s): expected %s.", field.name.data,
                  core.name.data, ExpectedValueText(core));
    }
    return Fail("Failed to parse value of field \"%s\" (%s, element %u): expected %s.",
                field.name.data, core.name.data, element, ExpectedValueText(core));
  }
  return true;
}

// Direct encoding ------------------------------------------------------------------------------

void Parser::Rewind(const LexerMark& mark) {
  lexer_.position = mark.position;
  lexer_.line = mark.line;
  lexer_.current_kind = mark.current_kind;
  lexer_.error = mark.error;
  if (lexer_.diagnostics.length != mark.diagnostics_length) {
    lexer_.diagnostics.length = mark.diagnostics_length;
    lexer_.diagnostics.data[mark.diagnostics_length] = '\0';
  }
}

bool Parser::TryEncodeObject(const ClassType& class_type, uint32_t id) {
  BitWriter* const writer = sink_->DirectWriter();
  // NewObjectValue makes no object of a class under a built-in value type's hash.
  if (writer == nullptr || writer->failed || IsCoreTypeHash(class_type.name_hash)) {
    return false;
  }
  const LexerMark mark = Mark();
  const uint32_t start = writer->position;
  writer->WriteWord(class_type.name_hash);
  writer->WriteWord(id);
  if (NextToken(lexer_) == TokenKind::kOpenBrace && EncodeBody(class_type, 0, *writer) &&
      !writer->failed) {
    return true;
  }
  Rewind(mark);
  writer->Truncate(start);
  return false;
}

bool Parser::EncodeBody(const ClassType& class_type, uint32_t depth, BitWriter& out) {
  if (depth > kMaxNestingDepth || !DistinctFieldNames(class_type)) {
    return false;
  }
  const uint32_t first_slot = FactsSlot(class_type.fields);
  for (uint32_t i = 0; i < class_type.field_count; ++i) {
    const FieldInfo& field = class_type.fields[i];
    // A line as gentext writes it (its fields one TAB deeper than the object's braces) is read
    // in one step, up to the value's first token, with the tokens that the steps below read.
    FieldFacts& types = TypesAt(first_slot + i, field);
    const bool plain_name = types.plain_name;
    if (types.in_place || types.text_in_place) {
      const uint32_t start = LineStringStart(lexer_, depth + 1, field.name.data, field.name.length);
      InPlace done = InPlace::kNotPlain;
      if (start != 0 && types.in_place) {
        done = EncodeInPlace(field, types, start, out);
      } else if (start != 0) {
        const uint32_t end = LineStringEnd(lexer_, start);
        done = end != 0 ? EncodeTextInPlace(field, types, start, end, out) : InPlace::kNotPlain;
      }
      if (done == InPlace::kWritten) {
        continue;
      }
      if (done == InPlace::kFailed) {
        return false;
      }
    }
    TokenKind kind = plain_name
                         ? TakeLineToken(lexer_, depth + 1, field.name.data, field.name.length)
                         : TokenKind::kNone;
    if (kind == TokenKind::kNone) {
      // The field's own name is looked for first (when it hashes to the field's name hash, as
      // the tree's lookup by hash needs): that spares copying and hashing it. Any other
      // spelling is read as a token; one that hashes like the name names the field too.
      const bool named =
          (plain_name && TakeIdentifier(lexer_, field.name.data, field.name.length)) ||
          (NextToken(lexer_) == TokenKind::kIdentifier &&
           IdentifierHash(lexer_) == field.name_hash);
      if (!named || (!TakePunctuation(lexer_, '=') && NextToken(lexer_) != TokenKind::kEquals)) {
        return false;
      }
      kind = NextToken(lexer_);
    }
    if (!EncodeFieldValue(field, types, kind, depth, out)) {
      return false;
    }
  }
  // The closing brace stands as deep as the opening one.
  return NextLineToken(depth, depth) == TokenKind::kCloseBrace && !out.failed;
}

bool Parser::EncodeFieldValue(const FieldInfo& field, FieldFacts& types, TokenKind kind,
                              uint32_t depth, BitWriter& out) {
  if (field.IsArray()) {
    return kind == TokenKind::kOpenBracket && EncodeArray(field, depth, out);
  }
  if (types.core != nullptr) {
    // An identifier here starts an inline object, which is encoded after this one.
    return kind == TokenKind::kString && (types.builtin || ReferenceFieldType(types)) &&
           EncodeValueText(field, types, out);
  }
  const ClassType* nested = FindClassType(class_types_, field.type_hash);
  if (nested == nullptr || kind != TokenKind::kOpenBrace || IsCoreTypeHash(field.type_hash) ||
      !ReferenceFieldType(types)) {
    return false;
  }
  // WriteBinObject refuses a class value this deep.
  return depth < kMaxNestingDepth && EncodeBody(*nested, depth + 1, out);
}

template <typename Parse>
QVX_ALWAYS_INLINE Parser::InPlace Parser::EncodeParsedValue(const FieldInfo& field,
                                                            const FieldFacts& facts, Parse&& parse,
                                                            BitWriter& out) {
  // The node NewPrimitive makes; after the parse, WriteBinObject writes a value only in the
  // form its type's storage names.
  const uint32_t kind = facts.core_kind;
  ValueNode& value = scratch_;
  InitPrimitive(value, field.type_hash, kind);
  // A string value is parsed into the block the previous one left, when it fits: most strings
  // then cost no allocation.
  const bool text = kind == kCStringHash;
  if (text) {
    value.payload.text = held_text_;
  }
  const bool parsed = parse(value);
  const bool written = parsed && value.kind == kind && facts.core->WriteValue(out, field, value);
  if (text) {
    held_text_ = value.payload.text;
    value.payload.text = HeapText::Empty();
  }
  if (!parsed) {
    return InPlace::kNotPlain;
  }
  return written ? InPlace::kWritten : InPlace::kFailed;
}

bool Parser::EncodeValueText(const FieldInfo& field, const FieldFacts& facts, BitWriter& out) {
  const auto read = [&](ValueNode& value) { return ReadValueText(value, *facts.core); };
  return facts.core_kind != kCompoundKind &&
         EncodeParsedValue(field, facts, read, out) == InPlace::kWritten;
}

QVX_ALWAYS_INLINE Parser::InPlace Parser::EncodeInPlace(const FieldInfo& field, FieldFacts& facts,
                                                        uint32_t start, BitWriter& out) {
  ValueNode& value = scratch_;
  InitPrimitive(value, field.type_hash, facts.core_kind);
  // The text goes on to a NUL at the latest, where the reader stops. A plain text holds no
  // quote, escape, line feed or byte from 0x80, so a quote right after it closes the string.
  const char* const text = LexerText(lexer_) + start;
  const uint32_t length = facts.core->ReadPlainPrefix(text, value);
  if (length == 0 || text[length] != '"') {
    return InPlace::kNotPlain;
  }
  // As EncodeFieldValue and EncodeValueText go on with a string token.
  if (!(facts.builtin || ReferenceFieldType(facts)) || value.kind != facts.core_kind ||
      !facts.core->WriteValue(out, field, value)) {
    return InPlace::kFailed;
  }
  TakeLineString(lexer_, start + length);
  return InPlace::kWritten;
}

Parser::InPlace Parser::EncodeTextInPlace(const FieldInfo& field, FieldFacts& facts, uint32_t start,
                                          uint32_t end, BitWriter& out) {
  // As EncodeFieldValue and EncodeValueText go on with a string token, whose text is the bytes
  // between the quotes; ParsePlainText stops at the closing quote as at a NUL.
  if (!(facts.builtin || ReferenceFieldType(facts))) {
    return InPlace::kFailed;
  }
  const char* const text = LexerText(lexer_) + start;
  const auto read = [&](ValueNode& value) {
    return facts.core->ParsePlainText(text, end - start, value);
  };
  const InPlace done = EncodeParsedValue(field, facts, read, out);
  if (done == InPlace::kWritten) {
    TakeLineString(lexer_, end);
  }
  return done;
}

TokenKind Parser::NextLineToken(uint32_t tabs, uint32_t other_tabs) {
  TokenKind kind = TakeLineToken(lexer_, tabs, nullptr, 0);
  if (kind == TokenKind::kNone && other_tabs != tabs) {
    kind = TakeLineToken(lexer_, other_tabs, nullptr, 0);
  }
  return kind != TokenKind::kNone ? kind : NextToken(lexer_);
}

bool Parser::EncodeArray(const FieldInfo& field, uint32_t depth, BitWriter& out) {
  FieldFacts& types = TypesOf(field);
  const uint32_t start = ElementStringStart(types, depth);
  const TokenKind kind = start != 0 ? TokenKind::kString : NextElementToken(depth);
  if (kind == TokenKind::kCloseBracket) {
    out.WriteVarUInt(0);
    return !out.failed;
  }
  if (!types.builtin && !ReferenceFieldType(types)) {
    return false;
  }
  // The count goes before the elements, so they wait in this level's stream until it is known.
  if (array_level_ == element_streams_.size()) {
    try {
      element_streams_.push_back(std::make_unique<ByteBuffer>());
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  ByteBuffer& stream = *element_streams_[array_level_];
  BitWriter elements(stream);
  uint32_t count = 0;
  ++array_level_;
  bool written =
      EncodeElements(field, types, kind, start, depth, elements, count) && !elements.failed;
  --array_level_;
  if (written) {
    out.WriteVarUInt(count);
    out.WriteStream(stream.data, elements.position);
    written = !out.failed;
  }
  if (stream.size != 0) {
    std::memset(stream.data, 0, stream.size);
    stream.size = 0;
  }
  return written;
}

bool Parser::EncodeElements(const FieldInfo& field, FieldFacts& facts, TokenKind kind,
                            uint32_t start, uint32_t depth, BitWriter& elements, uint32_t& count) {
  const uint32_t limit = static_cast<uint32_t>(field.array_size);
  if (facts.core != nullptr) {
    for (;;) {
      if (limit != kUnlimitedArray && count >= limit) {
        return false;
      }
      InPlace done = InPlace::kNotPlain;
      if (start != 0) {
        done = EncodeInPlace(field, facts, start, elements);
        if (done == InPlace::kNotPlain) {
          kind = NextElementToken(depth);  // the line read token by token after all
        }
      }
      // An identifier starts an inline object.
      if (done == InPlace::kFailed ||
          (done == InPlace::kNotPlain &&
           (kind != TokenKind::kString || !EncodeValueText(field, facts, elements)))) {
        return false;
      }
      ++count;
      start = ElementStringStart(facts, depth);
      if (start == 0) {
        kind = NextElementToken(depth);
        if (kind == TokenKind::kCloseBracket) {
          return true;
        }
      }
    }
  }
  const ClassType* nested = FindClassType(class_types_, field.type_hash);
  // WriteBinObject refuses elements this deep.
  if (nested == nullptr || IsCoreTypeHash(field.type_hash) || depth >= kMaxNestingDepth) {
    return false;
  }
  for (;;) {
    if (kind != TokenKind::kOpenBrace || (limit != kUnlimitedArray && count >= limit) ||
        !EncodeBody(*nested, depth + 1, elements)) {
      return false;
    }
    ++count;
    kind = NextElementToken(depth);
    if (kind == TokenKind::kCloseBracket) {
      return true;
    }
  }
}

// Validation ----------------------------------------------------------------------------------

struct Validator {
  FieldTypeCache& types;
  uint32_t object_id;
  CStringBufferA& messages;

  bool ValidateFields(const ValueNode& object, const ClassType& class_type, uint32_t depth) {
    if (depth > kMaxNestingDepth) {
      messages.AppendFormat("Object %u is nested too deeply\n", object_id);
      return false;
    }
    FieldChildCursor children(object);
    for (uint32_t i = 0; i < class_type.field_count; ++i) {
      const FieldInfo& field = class_type.fields[i];
      const ValueNode* child = object.IsCompound() ? children.Find(field.name_hash) : nullptr;
      if (child == nullptr) {
        messages.AppendFormat("Missing field %s::%s in object %u\n", class_type.name.data,
                              field.name.data, object_id);
        return false;
      }
      const FieldTypes types_of_field = types.Find(field.type_hash);
      if (types_of_field.core != nullptr) {
        continue;
      }
      const ClassType* nested = types_of_field.nested;
      if (child->IsArray() && child->payload.children.count == 0) {
        continue;
      }
      if (nested == nullptr) {
        messages.AppendFormat("Unknown type %u for field %s::%s in object %u\n", field.type_hash,
                              class_type.name.data, field.name.data, object_id);
        return false;
      }
      if (child->IsArray()) {
        for (const ValueNode* element = child->payload.children.first; element != nullptr;
             element = element->next) {
          if (!ValidateFields(*element, *nested, depth + 1)) {
            return false;
          }
        }
      } else if (!ValidateFields(*child, *nested, depth + 1)) {
        return false;
      }
    }
    return true;
  }
};

}  // namespace

bool ParseDocument(Lexer& lexer, Lexer& value_lexer, const TypeRegistry& class_types,
                   const CoreTypeTable& core_types, ReferencedTypeSet& referenced_types,
                   ValueObjectList& objects) {
  Parser parser(lexer, value_lexer, class_types, core_types, referenced_types, objects);
  return parser.ParseDocument();
}

bool ParseDocumentObjects(Lexer& lexer, Lexer& value_lexer, const TypeRegistry& class_types,
                          const CoreTypeTable& core_types, ReferencedTypeSet& referenced_types,
                          ValueObjectList& objects, ObjectSink& sink, DocumentFeed* feed) {
  Parser parser(lexer, value_lexer, class_types, core_types, referenced_types, objects, &sink,
                feed);
  return parser.ParseDocument();
}

bool ParseObjectBody(ValueNode& object, const ClassType& class_type, Lexer& lexer,
                     Lexer& value_lexer, const TypeRegistry& class_types,
                     const CoreTypeTable& core_types, ReferencedTypeSet& referenced_types,
                     ValueObjectList& objects, uint32_t depth) {
  Parser parser(lexer, value_lexer, class_types, core_types, referenced_types, objects);
  return parser.ParseBody(object, class_type, depth);
}

bool ParseArray(ValueNode& array, const FieldInfo& field, Lexer& lexer, Lexer& value_lexer,
                const TypeRegistry& class_types, const CoreTypeTable& core_types,
                ReferencedTypeSet& referenced_types, ValueObjectList& objects, uint32_t depth) {
  Parser parser(lexer, value_lexer, class_types, core_types, referenced_types, objects);
  return parser.ParseArray(array, field, depth);
}

bool ParseInlineObject(ValueNode& pointer, Lexer& lexer, Lexer& value_lexer,
                       const TypeRegistry& class_types, const CoreTypeTable& core_types,
                       ReferencedTypeSet& referenced_types, ValueObjectList& objects,
                       uint32_t depth) {
  Parser parser(lexer, value_lexer, class_types, core_types, referenced_types, objects);
  return parser.ParseInlineObject(pointer, depth);
}

bool ValidateObject(const ValueNode& object, const ClassType& class_type,
                    const TypeRegistry& class_types, const CoreTypeTable& core_types,
                    uint32_t object_id, CStringBufferA& messages, FieldTypeCache* types) {
  return FieldTypeCache::With(types, class_types, core_types, [&](FieldTypeCache& cache) {
    Validator validator{cache, object_id, messages};
    return validator.ValidateFields(object, class_type, 0);
  });
}
