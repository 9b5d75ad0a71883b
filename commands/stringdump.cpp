// commands/stringdump.cpp - the stringdump command: lists every non-empty string value of a
// .bin file, one per line.
//
// Strings come out in load order and, within an object, in field order (depth first), each
// followed by "\r\n". They are neither sorted nor deduplicated, and their text is written as it
// is stored, so a string that holds a line break spreads over several lines. The list is built
// in memory and written in one atomic step; a failure before that leaves no output file.
#include <cstdio>
#include <vector>

#include "bin/bin_file.h"
#include "bin/value_node.h"
#include "commands/command_support.h"
#include "commands/commands.h"
#include "foundation/bit_stream.h"
#include "foundation/byte_buffer.h"
#include "foundation/file.h"
#include "foundation/path.h"
#include "foundation/string_buffer.h"
#include "types/core_type.h"
#include "types/core_type_hashes.h"
#include "types/type_stream.h"

namespace {

const char* const kHelp[] = {
    "Dump every string of a bin file\n",
    "<Input file> [output file]\n",
    "<Input file> - Input .bin file\n",
    "[output file] - Output text file, defaults to inputfile_stringdump.txt\n",
};

// Appends the text of every non-empty string value in the fields of `object`. The walk keeps the
// siblings still to visit on its own stack, so the depth of a tree costs no recursion.
void AppendObjectStrings(const ValueNode& object, CStringBufferA& out) {
  std::vector<const ValueNode*> resume;
  const ValueNode* node = object.payload.children.first;
  for (;;) {
    if (node == nullptr) {
      if (resume.empty()) return;
      node = resume.back();
      resume.pop_back();
      continue;
    }
    if (node->IsArray() || node->IsCompound()) {
      resume.push_back(node->next);
      node = node->payload.children.first;
      continue;
    }
    if (node->kind == kCStringHash && node->payload.text.Length() != 0) {
      out.Append(node->payload.text.text);
      out.Append("\r\n");
    }
    node = node->next;
  }
}

}  // namespace

int RunStringDump(int count, char** args, const char* /*exe_folder*/) {
  if (count < 1) {
    PrintLines(kHelp, 4);
    return kExitUsage;
  }
  const char* input = args[0];
  TStringBufferA<260> output;
  if (!ChooseOutputPath(input, count, args, 1, "_stringdump.txt", output)) return kExitFailure;

  CoreTypeTable core_types;
  TypeRegistry registry;
  ObjectIdTable ids;
  OwnedObjectList objects;
  {
    // The objects own copies of their strings, so the file's bytes go once loading is done.
    FileContent file;
    uint32_t objects_offset = 0;
    if (!LoadBinInputTypes(input, file, registry, objects_offset)) return kExitFailure;
    std::printf("Loading objects...\n");
    BitReader reader(file.data + objects_offset, file.size - objects_offset);
    if (!BuildCoreTypeTable(core_types) ||
        !LoadObjects(reader, registry, core_types, objects, ids)) {
      std::printf("Failed to load objects.\n");
      return kExitFailure;
    }
    std::printf("Finished loading objects.\n");
  }

  std::printf("Dumping strings...\n");
  CStringBufferA text;
  for (const ValueNode* object = objects.head; object != nullptr; object = object->next) {
    AppendObjectStrings(*object, text);
  }
  ids.Clear();
  ReleaseObjects(objects);
  std::printf("Finished dumping strings.\n");

  return WriteTextOutput(output.data, text);
}
