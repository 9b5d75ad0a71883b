// commands/gentext.cpp - the gentext command: converts a .bin file into a text document.
//
// The file is read in two passes over its object stream. The first checks every object as a
// full load would (same failures, same messages) but keeps only each object's top-level node,
// its class and ID, so the dictionaries can name every object of the file and every pointer
// comment can name its target's class wherever it is referenced. The second decodes one object
// at a time, writes it and releases its values again, so memory holds the file's bytes, the
// top-level nodes and the text, never every object's values at once. The document is built in
// memory and written in one atomic step at the end: a failure at any earlier point leaves no
// output file, and an existing file of that name keeps its content.
#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "bin/bin_file.h"
#include "bin/value_node.h"
#include "commands/command_support.h"
#include "commands/commands.h"
#include "document/document_writer.h"
#include "foundation/bit_stream.h"
#include "foundation/byte_buffer.h"
#include "foundation/file.h"
#include "foundation/path.h"
#include "foundation/string_buffer.h"
#include "names/name_dictionaries.h"
#include "types/core_type.h"
#include "types/type_stream.h"

namespace {

const char* const kHelp[] = {
    "Generate text from bin file\n",
    "<Input file> [output file]\n",
    "<Input file> - Input .bin file\n",
    "[output file] - Output text file, defaults to inputfile.txt\n",
};

// The text of a document is typically two to three times the size of the object stream it
// comes from; reserving twice the stream up front spares most of the growth steps, and what
// remains grows by doubling.
constexpr uint64_t kReservedTextPerStreamByte = 2;

// Reads the input and checks its types and objects, printing the progress lines and the failure
// message of the phase that fails. The file's bytes stay in `file` for the second pass.
bool LoadInput(const char* input, ByteBuffer& file, TypeRegistry& registry,
               CoreTypeTable& core_types, ValueObjectList& objects, ObjectIdTable& ids,
               uint32_t& objects_offset) {
  if (!LoadBinInputTypes(input, file, registry, objects_offset)) {
    return false;
  }
  std::printf("Loading objects...\n");
  BitReader reader(file.data + objects_offset, file.size - objects_offset);
  if (!BuildCoreTypeTable(core_types) || !ScanObjects(reader, registry, core_types, objects, ids)) {
    std::printf("Failed to load objects.\n");
    return false;
  }
  std::printf("Finished loading objects.\n");
  return true;
}

// Decodes and writes every object in stream order, one at a time.
bool GenerateText(const ByteBuffer& file, uint32_t objects_offset, const TypeRegistry& registry,
                  const CoreTypeTable& core_types, ValueNode* first, CStringBufferA& text) {
  const uint32_t stream_bytes = file.size - objects_offset;
  const uint64_t reserve = std::min<uint64_t>(
      uint64_t{stream_bytes} * kReservedTextPerStreamByte + kGranuleBytes, kMaxDocumentBytes);
  text.Reserve(static_cast<uint32_t>(reserve));
  TStringBufferA<512> value_scratch;
  TStringBufferA<512> comment_scratch;
  BitReader reader(file.data + objects_offset, stream_bytes);
  return ReadObjectFieldsInOrder(reader, registry, core_types, first, [&](const ValueNode& object) {
    const ClassType* class_type = registry.Find(object.type_hash);
    return class_type != nullptr && WriteObject(object, *class_type, text, value_scratch, registry,
                                                core_types, comment_scratch);
  });
}

}  // namespace

int RunGenText(int count, char** args, const char* exe_folder) {
  if (count < 1) {
    PrintLines(kHelp, 4);
    return kExitUsage;
  }
  const char* input = args[0];
  TStringBufferA<260> output;
  if (!ChooseOutputPath(input, count, args, 1, ".txt", output)) return kExitFailure;

  CoreTypeTable core_types;
  TypeRegistry registry;
  ObjectIdTable ids;
  OwnedObjectList objects;
  // Declared after the tables it borrows, so it is released before them on every path.
  NameDictionaries dictionaries;
  LoadNameDictionaries(dictionaries, exe_folder, &registry, &ids);

  ByteBuffer file(kGranuleBytes);
  uint32_t objects_offset = 0;
  if (!LoadInput(input, file, registry, core_types, objects, ids, objects_offset)) {
    return kExitFailure;
  }

  std::printf("Generating output...\n");
  CStringBufferA text;
  if (!GenerateText(file, objects_offset, registry, core_types, objects.head, text)) {
    std::printf("Failed to generate output.\n");
    return kExitFailure;
  }
  std::printf("Finished generating output.\n");

  return WriteTextOutput(output.data, text);
}
