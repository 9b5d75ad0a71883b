// commands/dispatch.cpp - the command table and the fallback by file extension.
#include "commands/dispatch.h"

#include <cstdio>

#include "commands/commands.h"
#include "foundation/ascii.h"
#include "foundation/path.h"
#include "foundation/string_buffer.h"

namespace {

struct CommandEntry {
  const char* word;
  CommandFunction function;
};

// Matched in this order; the first match wins.
constexpr CommandEntry kCommands[] = {
    {"buildtlib", RunBuildTlib},
    {"gentext", RunGenText},
    {"genbin", RunGenBin},
    {"dumptypes", RunDumpTypes},
    {"dumpobject", RunDumpObject},
    {"bitcompare", RunBitCompare},
    {"dobr", RunDobr},
    {"refdump", RunRefDump},
    {"objdump", RunObjDump},
    {"stringdump", RunStringDump},
    {"renameall", RunRenameAll},
};

}  // namespace

void PrintLines(const char* const* lines, int count) {
  for (int i = 0; i < count; ++i) std::fputs(lines[i], stdout);
}

void PrintUsage() {
  static const char* const kUsage[] = {
      "Vorlane bin tool\n",
      "Supported commands:\n",
      "buildtlib - Generate typelib - <Game folder> [output file] - output file defaults to "
      "QVX.tl\n",
      "gentext - Generate text from bin file - <Input file> [output file] - output file defaults "
      "to input file.txt\n",
      "genbin - Generate bin from text file - <Input file> [output file] - output file defaults "
      "to input file.bin\n",
      "dumptypes - Dump typelib info to text file - <Input file> [output file] - output file "
      "defaults to input file.txt\n",
  };
  PrintLines(kUsage, 6);
}

int DispatchCommandLine(int argc, char** argv, const char* exe_folder) {
  if (argc < 2) {
    PrintUsage();
    return kExitUsage;
  }
  for (const CommandEntry& entry : kCommands) {
    if (EqualsIgnoringCase(argv[1], entry.word)) {
      return entry.function(argc - 2, argv + 2, exe_folder);
    }
  }
  // No command word: a file given alone runs the conversion its extension asks for.
  TStringBufferA<260> extension;
  SplitPath(argv[1], nullptr, nullptr, &extension);
  if (EqualsIgnoringCase(extension.data, "bin")) return RunGenText(argc - 1, argv + 1, exe_folder);
  if (EqualsIgnoringCase(extension.data, "txt")) return RunGenBin(argc - 1, argv + 1, exe_folder);
  PrintUsage();
  return kExitUsage;
}
