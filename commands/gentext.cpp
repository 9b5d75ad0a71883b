// commands/gentext.cpp - the gentext command: converts a .bin file into a text document.
//
// The file is loaded whole (types, then every object) before any text is produced, so the
// dictionaries can name every object of the file wherever it is referenced. The document is
// built in memory and written in one atomic step at the end: a failure at any earlier point
// leaves no output file, and an existing file of that name keeps its content.
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

// Reads the input and decodes its types and objects, printing the progress lines and the
// failure message of the phase that fails.
bool LoadInput(const char* input, TypeRegistry& registry, CoreTypeTable& core_types,
               ValueObjectList& objects, ObjectIdTable& ids) {
  // The objects own copies of their strings, so the file's bytes go once loading is done.
  ByteBuffer file(kGranuleBytes);
  uint32_t objects_offset = 0;
  if (!LoadBinInputTypes(input, file, registry, objects_offset)) {
    return false;
  }
  std::printf("Loading objects...\n");
  BitReader reader(file.data + objects_offset, file.size - objects_offset);
  if (!BuildCoreTypeTable(core_types) || !LoadObjects(reader, registry, core_types, objects, ids)) {
    std::printf("Failed to load objects.\n");
    return false;
  }
  std::printf("Finished loading objects.\n");
  return true;
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

  if (!LoadInput(input, registry, core_types, objects, ids)) {
    return kExitFailure;
  }

  std::printf("Generating output...\n");
  CStringBufferA text;
  if (!WriteDocument(objects.head, registry, core_types, text)) return kExitFailure;
  std::printf("Finished generating output.\n");

  return WriteTextOutput(output.data, text);
}
