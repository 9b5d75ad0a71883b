// commands/genbin.cpp - the genbin command: turns a text document back into a .bin file.
//
// The document names no types of its own, so the class types come from the type library beside
// the executable. The document is parsed whole, every object is validated, and the file is
// built in memory (header, the class records of exactly the types the document uses, then the
// objects in document order) and written in one atomic step at the end, so any failure leaves
// no output behind. The output may not be the input document or the type library.
#include <cstdio>

#include "bin/bin_file.h"
#include "bin/value_node.h"
#include "commands/commands.h"
#include "document/document_parser.h"
#include "document/lexer.h"
#include "foundation/byte_buffer.h"
#include "foundation/file.h"
#include "foundation/path.h"
#include "foundation/string_buffer.h"
#include "types/core_type.h"
#include "types/type_library.h"
#include "types/type_stream.h"

namespace {

const char* const kHelp[] = {
    "Generate bin from text file\n",
    "<Input file> [output file]\n",
    "<Input file> - Input .txt file\n",
    "[output file] - Output bin file, defaults to inputfile.bin\n",
};

}  // namespace

int RunGenBin(int count, char** args, const char* exe_folder) {
  if (count < 1) {
    PrintLines(kHelp, 4);
    return kExitUsage;
  }
  const char* input = args[0];
  TStringBufferA<260> output;
  if (count >= 2) {
    output.Assign(args[1]);
  } else {
    DeriveOutputName(input, output, ".bin");
  }
  TStringBufferA<260> library_path;
  if (exe_folder != nullptr && exe_folder[0] != '\0') {
    library_path.Format("%s%c%s", exe_folder, kPathSeparator, kDefaultTypeLibraryName);
  } else {
    library_path.Assign(kDefaultTypeLibraryName);
  }
  if (SameFile(input, output.data) || SameFile(library_path.data, output.data)) {
    std::printf("Output file is the same as the input file.\n");
    return kExitFailure;
  }

  Lexer lexer;
  lexer.file_name.Assign(input);
  if (!ReadWholeText(input, lexer.source)) {
    std::printf("Failed to load \"%s\".\n", input);
    return kExitFailure;
  }

  CoreTypeTable core_types;
  TypeRegistry registry;
  if (!BuildCoreTypeTable(core_types) || !LoadTypelib(registry, library_path.data)) {
    std::printf(
        "Failed to load typelib. Make sure QVX.tl is in the same folder as QVXBinTool.exe.\n");
    return kExitFailure;
  }
  TypePatch(registry, TypePatchDirection::kToStringHash);

  ResetLexer(lexer);
  std::printf("Parsing document...\n");
  Lexer value_lexer;
  ReferencedTypeSet referenced_types;
  OwnedObjectList objects;
  const bool parsed =
      ParseDocument(lexer, value_lexer, registry, core_types, referenced_types, objects);
  if (lexer.diagnostics.length != 0) {
    std::fwrite(lexer.diagnostics.data, 1, lexer.diagnostics.length, stdout);
  }
  if (!parsed || lexer.error) {
    return kExitFailure;
  }

  std::printf("Parsing complete.\n");
  std::printf("Validating data...\n");
  CStringBufferA messages;
  for (const ValueNode* object = objects.head; object != nullptr; object = object->next) {
    const ClassType* class_type = FindClassType(registry, object->type_hash);
    if (class_type == nullptr ||
        !ValidateObject(*object, *class_type, registry, core_types, object->name, messages)) {
      std::fwrite(messages.data, 1, messages.length, stdout);
      std::printf("Data validation failed.\n");
      return kExitFailure;
    }
  }
  std::printf("Data validation succeeded.\n");

  std::printf("Serializing referenced typeinfo...\n");
  ByteBuffer bin(kGranuleBytes);
  if (!WriteBinTypeSection(registry, referenced_types, bin)) {
    std::printf("Type serialization failed.\n");
    return kExitFailure;
  }
  std::printf("Successfully serialized typeinfo.\n");

  std::printf("Generating data for %u objects...\n", objects.count);
  if (!WriteBinObjects(registry, core_types, objects, bin)) {
    std::printf("Failed to generate data.\n");
    return kExitFailure;
  }
  std::printf("Successfully generated data.\n");
  ReleaseObjects(objects);

  if (!WriteWholeFile(output.data, bin)) {
    std::printf("Failed to write \"%s\".\n", output.data);
    return kExitFailure;
  }
  return kExitSuccess;
}
