// document/document_writer.h - writes decoded objects as the text document genbin reads back.
//
// A document is the blocks of its objects one after the other, with nothing between them.
// Lines end in CR LF and are indented with one TAB per level; the only other whitespace is the
// single spaces shown here (-> is one TAB):
//
//   cExampleOwner /* 4039214405 */ 'Crate_A' {      header with a name (the resolver's, kind 0)
//   cExampleTag 77 {                                 header without one
//   ->Health = "100"                                 field of a core type
//   ->Target = "@'Crate_B'" //cExampleOwner          ... with the trailing comment of its value
//   ->Parts = {                                      field of a class type
//   ->->Count = "2"
//   ->}
//   ->Tags = [                                       array of a core type: one line per element
//   ->->"'Heavy'"
//   ->]
//   ->Slots = [                                      array of a class type: braces at the
//   ->{                                              field's own level, the element's fields
//   ->->Count = "0"                                  one level deeper
//   ->}
//   ->]
//   }
//
// A value's text is what its core type's FormatValue gives, between double quotes. A hash or
// pointer name whose quoted form holds a backslash (a name with a quote, a backslash, a control
// character or an invalid UTF-8 byte) is escaped once more, as an escaped string, because the
// reader unescapes the double-quoted text once before it reads the name. Every other value text
// is placed between the quotes unchanged. A trailing comment is " //" and the comment text on
// the same line, its CR and LF written as the two characters \r and \n.
//
// Every routine appends to `out` and never empties it; on failure it returns false and leaves
// what was appended before the failure. Failures: a field without a value, a value of the
// wrong form or type hash, a field type in neither table, a failed FormatValue, class values
// nested deeper than kMaxNestingDepth, a document that would pass kMaxDocumentBytes, and (when
// following references) a written set that cannot take an entry. Nothing here prints.
// The value and comment scratch buffers are the caller's and are reused for every value; the
// comment buffer is empty after every value line.
#pragma once

#include <cstdint>
#include <memory>

#include "bin/value_node.h"
#include "foundation/hash_table.h"
#include "foundation/string_buffer.h"
#include "types/core_type.h"
#include "types/type_stream.h"

/// Objects that objdump may write inline, by object ID (65536 buckets, 8 entries per node,
/// inserts behind a switch). The table does not own the objects.
using ObjectRefTable = THashTable<ValueNode*, kLargeTableBucketBits, 8, HashInsert::kSwitch>;
/// IDs of the objects already written by the reference-following writer. The values stay null;
/// it shares its node kind, and so its pool, with ObjectRefTable.
using WrittenObjectSet = ObjectRefTable;

/// The largest document the writer builds; a text buffer holds less than 4 GiB.
inline constexpr uint32_t kMaxDocumentBytes = 0xFFFF0000u;

/// Appends one object block: the header (with the name the installed NameResolver gives for
/// the object ID with kind 0, used only when its NameHash is the ID), the fields of
/// `class_type` at level 1, and "}\r\n". `types`, when it serves `registry` and `core_types`,
/// answers the field type lookups (a writer of many objects passes one for all of them).
[[nodiscard]] bool WriteObject(const ValueNode& object, const ClassType& class_type,
                               CStringBufferA& out, CStringBufferA& value_scratch,
                               const TypeRegistry& registry, const CoreTypeTable& core_types,
                               CStringBufferA& comment_scratch, FieldTypeCache* types = nullptr);

/// What WriteObjectFromStream keeps from one object to the next; a writer of many objects keeps
/// one for all of them. String values are read into `text`, whose block is reused while each
/// fits. The lines of each class at each level (every field's TABs, name and " = ", and what its
/// type names) are laid out the first time they are written, for one registry and core type
/// table, which must not change while the state is in use (as for FieldTypeCache): a state used
/// with other tables lays them out again.
class StreamWriterState {
 public:
  StreamWriterState();
  ~StreamWriterState();
  StreamWriterState(const StreamWriterState&) = delete;
  StreamWriterState& operator=(const StreamWriterState&) = delete;

  HeapText text = HeapText::Empty();
  struct LinePlans;
  std::unique_ptr<LinePlans> plans;  // made on first use
};

/// Decodes the fields of one object of `class_type` from `reader` and appends its block: the
/// text WriteObject appends for the object with ID `object_id` that DecodeObjectFields would
/// make of those bits, without making it. Each value is read into one scratch node, written
/// and dropped. `reader` stands after the object's class hash and ID; `budget` is counted as
/// the decode counts it. Fails where either the decode or the writer would, with part of the
/// block in `out`. `state`, when given, is kept for the next call (StreamWriterState); without
/// it, the call keeps nothing and writes every line field by field.
[[nodiscard]] bool WriteObjectFromStream(
    uint32_t object_id, const ClassType& class_type, BitReader& reader, DecodeBudget& budget,
    CStringBufferA& out, CStringBufferA& value_scratch, const TypeRegistry& registry,
    const CoreTypeTable& core_types, CStringBufferA& comment_scratch,
    FieldTypeCache* types = nullptr, StreamWriterState* state = nullptr);

/// Appends one entry per field of `class_type`, in declaration order, at `level`. Each field's
/// value is the first child of the compound `value` with the field's name hash.
[[nodiscard]] bool WriteFields(const ValueNode& value, const ClassType& class_type,
                               CStringBufferA& out, CStringBufferA& value_scratch,
                               const TypeRegistry& registry, const CoreTypeTable& core_types,
                               CStringBufferA& comment_scratch, uint32_t level);

/// Appends `level` TAB characters (none for 0).
void WriteIndent(uint32_t level, CStringBufferA& out);

/// Nothing when `comment` is empty. Otherwise appends " //" and the comment's code points up
/// to its NUL, LF as "\n" and CR as "\r" (backslash and letter), an invalid UTF-8 sequence as
/// U+FFFD, and empties `comment`. When the document has no room left (kMaxDocumentBytes),
/// nothing is appended and `comment` keeps its text.
void WriteTrailingComment(CStringBufferA& comment, CStringBufferA& out);

/// objdump's writer. Enters the object's ID into `written`, then appends its header (not
/// indented: the caller has written what comes before it on the line), its fields at
/// level + 1 as WriteFieldsFollowingRefs does, `level` TABs and "}\r\n".
[[nodiscard]] bool WriteObjectFollowingRefs(const ValueNode& object, const ClassType& class_type,
                                            CStringBufferA& out, CStringBufferA& value_scratch,
                                            const TypeRegistry& registry,
                                            const CoreTypeTable& core_types,
                                            ObjectRefTable& referenced, WrittenObjectSet& written,
                                            CStringBufferA& comment_scratch, uint32_t level);

/// WriteFields, except that a cPointer value whose ID is in `referenced` (holding an object)
/// and not yet in `written` is replaced by that object, written with WriteObjectFollowingRefs
/// at the value's own level: the field's level for a single pointer, one deeper for an array
/// element. An object is written inline only at levels below kMaxNestingDepth; deeper ones,
/// and references inside the elements of class arrays, stay plain values.
[[nodiscard]] bool WriteFieldsFollowingRefs(const ValueNode& value, const ClassType& class_type,
                                            CStringBufferA& out, CStringBufferA& value_scratch,
                                            const TypeRegistry& registry,
                                            const CoreTypeTable& core_types,
                                            ObjectRefTable& referenced, WrittenObjectSet& written,
                                            CStringBufferA& comment_scratch, uint32_t level);
