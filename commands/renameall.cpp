// commands/renameall.cpp - the renameall command.
#include <cstdio>

#include "commands/commands.h"

namespace {

const char* const kHelp[] = {
      "Rename every object to a prefix and a running number\n",
      "<Input file> <name prefix> [output file]\n",
      "<Input file> - Input .bin file\n",
      "<Name prefix> - Prefix of the new object names\n",
      "[output file] - Output text file, defaults to inputfile_refdump.txt\n",
};

}  // namespace

int RunRenameAll(int count, char** /*args*/, const char* /*exe_folder*/) {
  if (count < 2) {
    PrintLines(kHelp, 5);
    return kExitUsage;
  }
  std::fputs("Not available yet.\n", stdout);
  return kExitFailure;
}
