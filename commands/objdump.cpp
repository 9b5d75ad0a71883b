// commands/objdump.cpp - the objdump command: writes one object of a .bin file as a document,
// with every object it reaches through references written inside it.
//
// The whole file is loaded first, so a reference can be followed to an object wherever it
// stands in the file. Each object is written once: a reference to an object already written
// (the object itself, or one further up) stays a plain value, and so does every reference more
// than kMaxNestingDepth objects deep, so a long chain cannot exhaust the stack. The document is
// written atomically at the end, never over the input.
#include <cstdio>

#include "bin/value_node.h"
#include "commands/command_support.h"
#include "commands/commands.h"
#include "document/document_writer.h"
#include "foundation/file.h"
#include "foundation/path.h"
#include "foundation/string_buffer.h"
#include "names/name_dictionaries.h"
#include "types/core_type.h"
#include "types/type_stream.h"

namespace {

const char* const kHelp[] = {
    "Dump one object with every object it references\n",
    "<Input file> <object ID> [output file]\n",
    "<Input file> - Input .bin file\n",
    "<Object ID> - ID of the object to dump\n",
    "[output file] - Output text file, defaults to inputfile_objdump.txt\n",
};

}  // namespace

int RunObjDump(int count, char** args, const char* exe_folder) {
  if (count < 2) {
    PrintLines(kHelp, 5);
    return kExitUsage;
  }
  const char* input = args[0];
  const uint32_t object_id = ParseObjectIdArgument(args[1]);
  TStringBufferA<260> output;
  if (!ChooseOutputPath(input, count, args, 2, "_objdump.txt", output)) return kExitFailure;

  CoreTypeTable core_types;
  TypeRegistry registry;
  ObjectIdTable ids;
  ObjectRefTable referenced;
  WrittenObjectSet written;
  OwnedObjectList objects;
  // Declared after the tables it borrows, so it is released before them on every path.
  NameDictionaries dictionaries;
  LoadNameDictionaries(dictionaries, exe_folder, &registry, &ids);

  const bool loaded = LoadBinInputObjects(
      input, registry, core_types, [&](ValueNode* object) { return objects.Append(object); },
      [&](ValueNode& object) {
        ValueNode** slot = referenced.FindOrInsert(object.name, true);
        if (slot == nullptr) return false;
        *slot = &object;
        if (ValueNode** id_slot = ids.FindOrInsert(object.name, true)) *id_slot = &object;
        return true;
      });
  if (!loaded) return kExitFailure;
  std::printf("Finished loading objects.\n");

  ValueNode* const* found = referenced.Find(object_id);
  if (found == nullptr || *found == nullptr) {
    std::printf("Coudln't find object %u\n", object_id);
    return kExitFailure;
  }
  const ValueNode& root = **found;

  std::printf("Generating output...\n");
  CStringBufferA text;
  TStringBufferA<512> value_scratch;
  TStringBufferA<512> comment_scratch;
  const ClassType* class_type = registry.Find(root.type_hash);
  if (class_type == nullptr ||
      !WriteObjectFollowingRefs(root, *class_type, text, value_scratch, registry, core_types,
                                referenced, written, comment_scratch, 0)) {
    std::printf("Failed to generate output.\n");
    return kExitFailure;
  }
  ReleaseObjects(objects);
  std::printf("Finished generating output.\n");

  return WriteTextOutput(output.data, text);
}
