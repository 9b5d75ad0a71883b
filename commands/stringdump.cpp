// commands/stringdump.cpp - the stringdump command.
#include <cstdio>

#include "commands/commands.h"

namespace {

const char* const kHelp[] = {
      "Dump every string of a bin file\n",
      "<Input file> [output file]\n",
      "<Input file> - Input .bin file\n",
      "[output file] - Output text file, defaults to inputfile_stringdump.txt\n",
};

}  // namespace

int RunStringDump(int count, char** /*args*/, const char* /*exe_folder*/) {
  if (count < 1) {
    PrintLines(kHelp, 4);
    return kExitUsage;
  }
  std::fputs("Not available yet.\n", stdout);
  return kExitFailure;
}
