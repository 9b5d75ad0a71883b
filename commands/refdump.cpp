// commands/refdump.cpp - the refdump command.
#include <cstdio>

#include "commands/commands.h"

namespace {

const char* const kHelp[] = {
      "Dump the objects that belong to one object alone\n",
      "<Input file> <object ID> [output file]\n",
      "<Input file> - Input .bin file\n",
      "<Object ID> - ID of the object whose dependencies to dump\n",
      "[output file] - Output text file, defaults to inputfile_refdump.txt\n",
};

}  // namespace

int RunRefDump(int count, char** /*args*/, const char* /*exe_folder*/) {
  if (count < 2) {
    PrintLines(kHelp, 5);
    return kExitUsage;
  }
  std::fputs("Not available yet.\n", stdout);
  return kExitFailure;
}
