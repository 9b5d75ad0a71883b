// commands/dumptypes.cpp - the dumptypes command: prints a type library as text.
//
// The output goes to the second argument, or beside the input with the extension ".txt".
// Its messages end in "\r\n" after writing and in "\n" after a failed load.
#include <cstdio>

#include "commands/command_support.h"
#include "commands/commands.h"
#include "foundation/file.h"
#include "foundation/path.h"
#include "foundation/string_buffer.h"
#include "types/core_type.h"
#include "types/type_dump.h"
#include "types/type_library.h"
#include "types/type_stream.h"

namespace {

const char* const kHelp[] = {
    "Dump typelib info to text file\n",
    "<Input file> [output file]\n",
    "<Input file> - Input .tl file\n",
    "[output file] - Output text file, defaults to inputfile.txt\n",
};

}  // namespace

int RunDumpTypes(int count, char** args, const char* /*exe_folder*/) {
  if (count < 1) {
    PrintLines(kHelp, 4);
    return kExitUsage;
  }
  const char* input = args[0];
  CStringBufferA output;
  if (!ChooseOutputPath(input, count, args, 1, ".txt", output)) return kExitFailure;

  CoreTypeTable core_types;
  TypeRegistry registry;
  if (!BuildCoreTypeTable(core_types) || !LoadTypelib(registry, input)) {
    std::printf("Failed to load \"%s\"\n", input);
    return kExitFailure;
  }

  CStringBufferA text;
  DumpTypes(registry, core_types, text);
  if (!WriteWholeText(output.data, text)) {
    std::printf("Failed to write \"%s\"\r\n", output.data);
    return kExitFailure;
  }
  std::printf("Successfully generated \"%s\"\r\n", output.data);
  return kExitSuccess;
}
