// document/document_parser.h - reading a text document back into object trees, and checking
// the trees against their class types.
//
// A document is a run of objects; each object is its class type name, its object ID and a body
// in braces:
//
//   document  object* <EOF>
//   object    identifier id "{" body
//   id        number (its integer part, low 32 bits; a fraction or exponent is refused)
//             | identifier | 'extended identifier'          (the NameHash of the text)
//   body      ( identifier "=" value )* "}"                 entries in any order, not separated
//   value     string                                        a field of a core type
//             | identifier id "{" body                      a cPointer field: an inline object
//             | "{" body                                    a field of a class type
//             | "[" element* "]"                            an array field
//   element   string | identifier id "{" body               elements of a core type (inline
//                                                           objects only for cPointer)
//             | "{" body                                    elements of a class type
//
// The text of a string value is parsed by the field's core type through a second lexer (the
// value lexer), reset over a copy of that text. Its warnings (an unknown enumeration or flag
// name) are passed on into the document lexer's diagnostics with the document's file name and
// the line of the string; its errors are replaced by one "Failed to parse value ..." error that
// names the field and what its type expects.
//
// Trees: every object (top-level or inline) is a compound value of its class named by its ID,
// appended to the object list in the order in which the IDs stand in the text, so an inline
// object follows the object whose body holds it. A field of a core type is a primitive value,
// a field of a class type a compound value, an array field an array value whose elements are
// named 0; each is named by the field's name hash and appended to its parent in text order. A
// field given twice keeps both values. The referenced-type set receives the class of every
// object, the type of every class-typed field and of every non-empty array or scalar field whose
// type is not a built-in value type (so enumerations and flag sets too).
//
// Failure: the first error is reported once on the document lexer (ReportError, which stays
// silent when the lexer has just reported the same token) and ends the parse; every routine
// then returns false. Nodes made before the error stay in their parents or in the object list
// for the caller to release. Bodies, class values and inline objects nest at most
// kMaxNestingDepth levels below a top-level object; deeper ones are an error, not a deep stack.
#pragma once

#include <cstdint>

#include "bin/bin_file.h"
#include "bin/value_node.h"
#include "document/lexer.h"
#include "foundation/string_buffer.h"
#include "types/core_type.h"
#include "types/type_stream.h"

/// Parses a whole document from the document lexer's current position to the end of its text,
/// appending every object to `objects` and the classes and value types it uses to
/// `referenced_types`. Field values are parsed through `value_lexer`, whose source, file name,
/// line and diagnostics it overwrites. Returns false after the first error, which is in
/// `lexer.diagnostics`; warnings may stand there after a true result too.
[[nodiscard]] bool ParseDocument(Lexer& lexer, Lexer& value_lexer, const TypeRegistry& class_types,
                                 const CoreTypeTable& core_types,
                                 ReferencedTypeSet& referenced_types, ValueObjectList& objects);

/// Receives a document's objects while ParseDocumentObjects reads it.
class ObjectSink {
 public:
  virtual ~ObjectSink() = default;
  /// Called after the closing brace of each top-level object, with `objects` as the parse has
  /// left it: the objects handed over before and kept, then this object and its inline objects
  /// in document order. The sink may take them off the list and release them.
  virtual void TakeObjects(ValueObjectList& objects) = 0;
  /// A sink that encodes what it takes (WriteBinObject with the parse's tables) may offer its
  /// writer, not failed, here; null (the default) declines. The parse then encodes the next
  /// top-level object straight into it while reading it, without a tree, whenever the tree
  /// would be one that WriteBinObject takes: its fields and those of every class value in it
  /// in declaration order, each given once, and no inline object. The bits are exactly those
  /// WriteBinObject would write for the tree; EncodedObject is called instead of TakeObjects.
  /// Any other object (and any error) is read again as a tree, with the writer, the messages
  /// and the lexer as they were before it, and handed to TakeObjects as ever.
  virtual BitWriter* DirectWriter() { return nullptr; }
  /// Called after a top-level object was encoded into DirectWriter().
  virtual void EncodedObject() {}
};

/// The rest of a document that is read a part at a time (a window over its file): the lexer's
/// text is the part read so far, and more follows until the feed is whole.
class DocumentFeed {
 public:
  virtual ~DocumentFeed() = default;
  /// Whether the lexer's text ends where the document does.
  [[nodiscard]] virtual bool Whole() const = 0;
  /// Drops the text before the lexer's position and reads more of the document after the rest
  /// (all of it with `rest`), handing it to the lexer (ContinueLexerText). False when the
  /// document cannot be read; the caller then stops, and the feed knows why.
  [[nodiscard]] virtual bool Feed(Lexer& lexer, bool rest) = 0;
};

/// ParseDocument, handing the objects to `sink` one top-level object at a time, so a caller
/// that releases them holds the nodes of one object only. Messages, failures and the
/// referenced-type set are those of ParseDocument. After a failure `objects` holds the objects
/// of the failing top-level object (and whatever the sink left there) for the caller to release.
///
/// With a `feed` that is not whole, the lexer's text is only the first part of the document.
/// Between top-level objects the parse asks for more while little is left, and an object the
/// text may have cut short is read again: objects are only encoded straight (DirectWriter) from
/// a part, and one that is not, or whose header or body fails, is read again from a part that
/// starts with it (Feed(lexer, false) at its start) unless the failed part already did, and
/// then after Feed(lexer, true). So the outcome is that of reading the whole document at once.
/// A failed feed ends the parse with false and no message.
[[nodiscard]] bool ParseDocumentObjects(Lexer& lexer, Lexer& value_lexer,
                                        const TypeRegistry& class_types,
                                        const CoreTypeTable& core_types,
                                        ReferencedTypeSet& referenced_types,
                                        ValueObjectList& objects, ObjectSink& sink,
                                        DocumentFeed* feed = nullptr);

/// Reads the entries of a body, just after its "{", up to and including its "}", into the
/// compound `object` of `class_type`. `depth` is the number of bodies that enclose this one (0
/// for a top-level object); a body past kMaxNestingDepth is an error.
[[nodiscard]] bool ParseObjectBody(ValueNode& object, const ClassType& class_type, Lexer& lexer,
                                   Lexer& value_lexer, const TypeRegistry& class_types,
                                   const CoreTypeTable& core_types,
                                   ReferencedTypeSet& referenced_types, ValueObjectList& objects,
                                   uint32_t depth = 0);

/// Reads the elements of an array, just after its "[", up to and including its "]", into the
/// array value `array` of `field`. A field with an array size other than -1 takes at most that
/// many elements. `depth` counts the bodies around the array.
[[nodiscard]] bool ParseArray(ValueNode& array, const FieldInfo& field, Lexer& lexer,
                              Lexer& value_lexer, const TypeRegistry& class_types,
                              const CoreTypeTable& core_types, ReferencedTypeSet& referenced_types,
                              ValueObjectList& objects, uint32_t depth = 0);

/// Reads an inline object whose class type name is the identifier just read (in
/// `lexer.identifier_value`): its ID, "{" and its body. The object goes to the end of `objects`
/// and its ID into the payload of the cPointer value `pointer`. `depth` counts the bodies
/// around it.
[[nodiscard]] bool ParseInlineObject(ValueNode& pointer, Lexer& lexer, Lexer& value_lexer,
                                     const TypeRegistry& class_types,
                                     const CoreTypeTable& core_types,
                                     ReferencedTypeSet& referenced_types, ValueObjectList& objects,
                                     uint32_t depth = 0);

/// Checks that the compound `object` has a value for every field of `class_type`, and so,
/// recursively, every class value and every element of a class-typed array in it. The first
/// child named by a field is its value; an empty array is valid even when its element type is
/// unknown. On the first fault appends one line to `messages` and returns false:
///   "Missing field <class>::<field> in object <object_id>\n"
///   "Unknown type <type hash> for field <class>::<field> in object <object_id>\n"
/// (and, for a tree nested deeper than any parse makes, "Object <id> is nested too deeply\n").
/// `types`, when it serves `class_types` and `core_types`, answers the field type lookups.
[[nodiscard]] bool ValidateObject(const ValueNode& object, const ClassType& class_type,
                                  const TypeRegistry& class_types, const CoreTypeTable& core_types,
                                  uint32_t object_id, CStringBufferA& messages,
                                  FieldTypeCache* types = nullptr);
