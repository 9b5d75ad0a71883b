// commands/objdump.cpp - the objdump command.
#include <cstdio>

#include "commands/commands.h"

namespace {

const char* const kHelp[] = {
      "Dump one object with every object it references\n",
      "<Input file> <object ID> [output file]\n",
      "<Input file> - Input .bin file\n",
      "<Object ID> - ID of the object to dump\n",
      "[output file] - Output text file, defaults to inputfile_objdump.txt\n",
};

}  // namespace

int RunObjDump(int count, char** /*args*/, const char* /*exe_folder*/) {
  if (count < 2) {
    PrintLines(kHelp, 5);
    return kExitUsage;
  }
  std::fputs("Not available yet.\n", stdout);
  return kExitFailure;
}
