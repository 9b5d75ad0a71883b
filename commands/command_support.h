// commands/command_support.h - steps that several commands share: reading an object ID
// argument, opening a .bin file up to its object stream, seeking one object in that stream or
// reading all of them, and finding the references inside an object.
//
// These helpers print the same progress and failure lines for every command that uses them, so
// a command only adds the lines of its own phases. Objects read while seeking or loading stay
// with the caller, which releases them on every path.
#pragma once

#include <cstdint>
#include <cstdio>
#include <type_traits>
#include <vector>

#include "bin/value_node.h"
#include "foundation/bit_stream.h"
#include "foundation/byte_buffer.h"
#include "foundation/file.h"
#include "types/core_type.h"
#include "types/core_type_hashes.h"
#include "types/type_stream.h"

/// Reads an object ID from a command-line argument: leading white space, an optional "+" or
/// "-", then decimal digits up to the first other character, taken as a signed 64-bit number
/// (saturating at its limits) whose low 32 bits are the ID. No digits give 0, so "-1" is
/// 4294967295, "12abc" is 12 and "abc" is 0. A null text gives 0.
[[nodiscard]] uint32_t ParseObjectIdArgument(const char* text);

/// Puts the output path in `output`: args[index] when the command was given one, otherwise the
/// input's path with its extension replaced by `suffix`. Prints "Output file is the same as the
/// input file.\n" and returns false when both name one file, however spelled.
[[nodiscard]] bool ChooseOutputPath(const char* input, int count, char** args, int index,
                                    const char* suffix, CStringBufferA& output);

/// Appends the document of every object of the list starting at `first` to `text`. Prints
/// "Failed to generate output.\n" and returns false when an object's class is unknown or the
/// writer fails.
[[nodiscard]] bool WriteDocument(const ValueNode* first, const TypeRegistry& registry,
                                 const CoreTypeTable& core_types, CStringBufferA& text);

/// Writes `text` to `output` in one atomic step and prints the closing line: "Successfully
/// generated \"%s\".\n" (returns kExitSuccess) or "Failed to write \"%s\".\n" (kExitFailure).
[[nodiscard]] int WriteTextOutput(const char* output, const CStringBufferA& text);

/// Loads `input` whole into `file`, checks the header and loads the type information section
/// into `registry` with the list fields switched to cStringHash. Prints, as the steps go:
///   "Failed to load \"<input>\".\n"   the file cannot be read
///   "Unexpected file format.\n"       shorter than the header or wrong format words
///   "Loading types...\n"              before the type information
///   "Failed to load types.\n"         the type information is unreadable
/// On success `objects_offset` is the byte offset of the object stream in `file`.
[[nodiscard]] bool LoadBinInputTypes(const char* input, FileContent& file, TypeRegistry& registry,
                                     uint32_t& objects_offset);

/// How a search for one object ended.
enum class ObjectSearch {
  kFound,     // the reader stands at the first bit of the object's fields
  kNotFound,  // the stream ended (fewer than 32 bits left) without the object
  kFailed,    // the stream could not be read up to the object, or its class is unknown
};

/// The object a search stopped at.
struct FoundObject {
  ValueNode* object = nullptr;            // on the caller's list; its fields not yet read
  const ClassType* class_type = nullptr;  // its class, from the registry
  uint32_t fields_start = 0;              // reader position of its first field bit
};

/// Reads objects from `reader` (at the start of an object stream) until one has the ID
/// `object_id`: every object before it is decoded with DecodeObjectFields under `budget`, and
/// every object read, the found one included, is appended to `objects`. Stops after the found
/// object's type hash and ID, with `found` describing it; the caller decodes its fields. A
/// class hash without room for its ID, an unknown class, a failed decode or a pool without
/// nodes gives kFailed.
[[nodiscard]] ObjectSearch SeekObject(BitReader& reader, const TypeRegistry& registry,
                                      const CoreTypeTable& core_types, uint32_t object_id,
                                      ValueObjectList& objects, DecodeBudget& budget,
                                      FoundObject& found);

/// Everything a search for one object of a .bin file leaves to its caller, which then decodes
/// or lists the found object's fields from `reader` under `budget`.
struct ObjectSearchState {
  CoreTypeTable core_types;
  TypeRegistry registry;
  OwnedObjectList objects;
  FileContent file;
  BitReader reader;
  DecodeBudget budget{0};
  FoundObject found;
};

/// Loads the types of `input` (LoadBinInputTypes, with its messages), prints "Searching for
/// object...\n" and seeks `object_id` in the object stream under one budget for the stream.
/// Returns false when the input could not be loaded (its message is printed); otherwise true,
/// with `search` telling how the search ended.
[[nodiscard]] bool SearchObjectInFile(const char* input, uint32_t object_id,
                                      ObjectSearchState& state, ObjectSearch& search);

/// Reads every object of the stream at `reader` while at least 32 bits remain: its class hash,
/// its ID, then its fields under one budget for the whole stream. Each new object is first
/// handed to `link(ValueNode*)`, which takes it over so the caller can release it on any path
/// (on false the object is released here and the read fails); after its fields are decoded it
/// goes to `enter(ValueNode&)`, where the caller fills its tables (false fails). A class hash
/// without room for its ID, an unknown class, a failed decode or a pool without nodes fails
/// too. Objects linked before a failure stay with the caller.
template <typename Link, typename Enter>
[[nodiscard]] bool ReadObjectStream(BitReader& reader, const TypeRegistry& registry,
                                    const CoreTypeTable& core_types, Link&& link, Enter&& enter) {
  DecodeBudget budget = DecodeBudget::ForBits(reader.RemainingBits());
  while (!reader.failed && reader.RemainingBits() >= 32) {
    const uint32_t class_hash = reader.Read(32);
    if (reader.RemainingBits() < 32) return false;
    const uint32_t id = reader.Read(32);
    ValueNode* object = NewObjectValue(class_hash, id);
    if (object == nullptr) return false;
    if (!link(object)) {
      ReleaseObject(object);
      return false;
    }
    const ClassType* class_type = registry.Find(class_hash);
    if (class_type == nullptr ||
        !DecodeObjectFields(*object, registry, core_types, *class_type, reader, &budget) ||
        reader.failed || !enter(*object)) {
      return false;
    }
  }
  return !reader.failed;
}

/// LoadBinInputTypes, then "Loading objects...\n" and ReadObjectStream over the whole object
/// stream of `input` with `link` and `enter`. Prints "Failed to load objects.\n" when the
/// stream cannot be read; "Finished loading objects.\n" is the caller's, which may still
/// reject what was loaded. The file's bytes are gone on return: objects own their strings.
template <typename Link, typename Enter>
[[nodiscard]] bool LoadBinInputObjects(const char* input, TypeRegistry& registry,
                                       CoreTypeTable& core_types, Link&& link, Enter&& enter) {
  FileContent file;
  uint32_t objects_offset = 0;
  if (!LoadBinInputTypes(input, file, registry, objects_offset)) return false;
  std::printf("Loading objects...\n");
  BitReader reader(file.data + objects_offset, file.size - objects_offset);
  if (!BuildCoreTypeTable(core_types) ||
      !ReadObjectStream(reader, registry, core_types, link, enter)) {
    std::printf("Failed to load objects.\n");
    return false;
  }
  return true;
}

/// True when `value` is a reference to another object: a cPointer value whose ID is not 0.
inline bool IsObjectReference(const ValueNode& value) {
  return value.type_hash == kCPointerHash && value.kind == kCHashHash && value.payload.word != 0;
}

/// Calls fn(ValueNode&) for every reference (IsObjectReference) below `root`, in tree order:
/// the children of arrays and compound values in order, each one's subtree before its next
/// sibling. fn may change the referenced ID; when fn returns bool, false stops the walk and
/// ForEachReference returns false. Uses an explicit stack, so any depth is fine.
template <typename Fn>
bool ForEachReference(ValueNode& root, Fn&& fn) {
  if (!root.IsArray() && !root.IsCompound()) return true;
  std::vector<ValueNode*> resume;  // the next siblings of the arrays and compounds entered
  ValueNode* node = root.payload.children.first;
  for (;;) {
    if (node == nullptr) {
      if (resume.empty()) return true;
      node = resume.back();
      resume.pop_back();
      continue;
    }
    if (node->IsArray() || node->IsCompound()) {
      if (node->next != nullptr) resume.push_back(node->next);
      node = node->payload.children.first;
      continue;
    }
    if (IsObjectReference(*node)) {
      if constexpr (std::is_same_v<std::invoke_result_t<Fn&, ValueNode&>, bool>) {
        if (!fn(*node)) return false;
      } else {
        fn(*node);
      }
    }
    node = node->next;
  }
}
