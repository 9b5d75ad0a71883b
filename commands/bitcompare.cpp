// commands/bitcompare.cpp - the bitcompare command.
#include <cstdio>

#include "commands/commands.h"

namespace {

const char* const kHelp[] = {
      "Compare two files at bit level\n",
      "<file 1> <file 2>\n",
      "<file 1> - First file\n",
      "<file 2> - ID of the object to dump\n",
};

}  // namespace

int RunBitCompare(int count, char** /*args*/, const char* /*exe_folder*/) {
  if (count < 2) {
    PrintLines(kHelp, 4);
    return kExitUsage;
  }
  std::fputs("Not available yet.\n", stdout);
  return kExitFailure;
}
