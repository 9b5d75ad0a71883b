// types/core_type.h - the value-type interface and the registry of core types.
//
// A core type converts one value between its payload (types/value.h), the bit-packed form of a
// .bin file (under the field's quantization) and the text form of a document. The program
// knows its core types by itself: the primitives and the game's enumeration and flag types.
// Each is one process-wide static object that links itself into CoreTypeList when it is
// constructed; a command builds a CoreTypeTable from that list to find types by name hash.
// Core types are immutable after start-up.
//
// The virtual slots, in order: destructor, WriteValue, ReadValue, ParseValue, FormatValue,
// StorageTypeHash, then two that serve validation only: SkipValue and FixedBitWidth, and three
// shortcuts of ParseValue for the texts gentext writes: ParsePlainText, ReadPlainPrefix and
// HasPlainPrefix. The base class's slots fail and do nothing; StorageTypeHash returns 0,
// SkipValue reads the value, ParsePlainText goes by ReadPlainPrefix.
//
// Linking: the core types are static objects inside a static library, and a linker takes an
// object file out of a library only for a symbol that something needs. So every translation
// unit that defines core types also defines a link anchor (declared at the end of this header)
// that returns how many types it defines, and BuildCoreTypeTable calls every anchor. Any program
// that builds a CoreTypeTable therefore links every core type.
#pragma once

#include <cstdint>

#include "foundation/bit_stream.h"
#include "foundation/hash_table.h"
#include "foundation/string_buffer.h"
#include "types/value.h"

class Lexer;
struct FieldInfo;

class CCoreType {
 public:
  /// Copies the name, hashes it and puts the type at the head of CoreTypeList.
  explicit CCoreType(const char* type_name);
  /// Releases the name and unlinks the type from CoreTypeList (at process exit the types go
  /// in reverse order of construction, so each is then the head of the list).
  virtual ~CCoreType();
  CCoreType(const CCoreType&) = delete;
  CCoreType& operator=(const CCoreType&) = delete;

  /// Writes the value's bit form under the field's quantization. Returns !writer.failed, or
  /// false without touching the stream when the class does not accept the field's mode.
  virtual bool WriteValue(BitWriter& writer, const FieldInfo& field, const ValueNode& value) const;
  /// Reads the value's bit form into the payload. Returns !reader.failed, or false without
  /// touching the stream when the class does not accept the field's mode.
  virtual bool ReadValue(BitReader& reader, const FieldInfo& field, ValueNode& value) const;
  /// Parses the text of exactly one value from a lexer reset over that text; the whole text
  /// must be consumed. `unused` is reserved and ignored by every core type.
  virtual bool ParseValue(Lexer& lexer, ValueNode& value, void* unused) const;
  /// Replaces `out` by the value's text; a type with something to say about the value (a
  /// resolved name) puts it in `comment`. Always succeeds for the built-in types.
  virtual bool FormatValue(CStringBufferA& out, const ValueNode& value, void* unused,
                           CStringBufferA& comment) const;
  /// Name hash of the core type whose payload form this type's values use, or 0 for its own.
  virtual uint32_t StorageTypeHash() const { return 0; }
  /// Reads past one value's bit form with exactly the checks and failures of ReadValue, for a
  /// caller that only validates. `scratch` is a node prepared as for ReadValue, which a type
  /// may read the value into (the caller releases what it then holds); by default it does.
  virtual bool SkipValue(BitReader& reader, const FieldInfo& field, ValueNode& scratch) const;
  /// True, with the bits of one whole value in `bits` (more than 32 for a vector), when every
  /// value of `field` takes exactly that many and ReadValue can fail only for want of them: a
  /// validation may then step over a run of such values at once. False (the default) for a
  /// form of varying width or a field quantization that ReadValue refuses.
  virtual bool FixedBitWidth(const FieldInfo& field, uint32_t& bits) const;
  /// Reads a value text that has the plain form gentext writes (`length` bytes at `text`, a
  /// NUL or the closing double quote of a document's string after them, so a reader may hand
  /// over the text where it stands) straight from the text, into what ParseValue would read
  /// from it, reading nothing past the text. False, with the payload in no particular state,
  /// for a text of any other form, which ParseValue then reads: a reader spares itself the
  /// value lexer for the usual texts. The base class takes a text when ReadPlainPrefix reads
  /// all of it (and so none at all by default).
  virtual bool ParsePlainText(const char* text, uint32_t length, ValueNode& value) const;
  /// Reads the plain form from `text` on, up to the first byte that cannot continue it, where
  /// the text must go on at least to a byte that no plain form holds (a NUL, or the closing
  /// double quote of a document's string). Returns how many bytes it read, with the value in
  /// `value` (ParsePlainText takes a text of exactly those bytes, to the same value); 0, with
  /// the payload in no particular state, when the text does not start with the plain form. So
  /// a reader can take a value where it stands in a document, without first finding its end.
  /// The base class reads nothing.
  virtual uint32_t ReadPlainPrefix(const char* text, ValueNode& value) const;
  /// Whether ReadPlainPrefix can read anything for this type: asked once, not for every value.
  virtual bool HasPlainPrefix() const;

  CCoreType* next;
  uint32_t name_hash;
  TStringBufferA<32> name;
};

/// Head of the process-wide list of core types (newest first). Types join it as they are built
/// at start-up and leave it as they are destroyed at exit; it does not change in between.
extern CCoreType* CoreTypeList;

/// Core types by name hash (256 buckets, 2 entries per node); one per command.
using CoreTypeTable = THashTable<CCoreType*, kSmallTableBucketBits, 2, HashInsert::kSwitch>;

/// Empties `table` and enters every type of CoreTypeList under its name hash. Returns false
/// when the table cannot take an entry (no memory, or the node pool has shut down); the table
/// then holds the types entered so far.
[[nodiscard]] bool BuildCoreTypeTable(CoreTypeTable& table);

/// The core type with this name hash, or null when the hash is not a core type's.
CCoreType* FindCoreType(const CoreTypeTable& table, uint32_t type_hash);

/// Names hashes, text IDs and object IDs while a command holds the name dictionaries.
/// `kind` is the name hash of the formatting core type when the value's own text is wanted,
/// kResolveHashComment or kResolvePointerComment for a trailing comment. Returns null when it
/// has no name.
using NameResolverFunction = const char* (*)(uint32_t value, uint32_t kind, void* context);

inline constexpr uint32_t kResolveHashComment = 3;
inline constexpr uint32_t kResolvePointerComment = 4;

struct NameResolver {
  NameResolverFunction function;
  void* context;
};

/// The installed resolver; both members are null when none is installed.
extern NameResolver CurrentNameResolver;

/// Installs a resolver for the lifetime of the scope and puts the previous one back at its end,
/// so no path out of a command leaves a resolver pointing at released dictionaries.
class NameResolverScope {
 public:
  NameResolverScope(NameResolverFunction function, void* context);
  ~NameResolverScope();
  NameResolverScope(const NameResolverScope&) = delete;
  NameResolverScope& operator=(const NameResolverScope&) = delete;

 private:
  NameResolver previous_;
};

/// Link anchors (see the top of this header). Each is defined by the unit holding those types
/// and returns how many core types it defines.
uint32_t PrimitiveCoreTypeCount();  // types/primitive_types.cpp
uint32_t EnumCoreTypeCount();       // types/enum_types.cpp
