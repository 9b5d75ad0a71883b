// commands/dobr.cpp - the dobr command.
#include <cstdio>

#include "commands/commands.h"
#include "commands/object_usage.h"

int RunDobr(int count, char** /*args*/, const char* /*exe_folder*/) {
  if (count < 2) {
    PrintLines(kObjectUsage, kObjectUsageLineCount);
    return kExitUsage;
  }
  std::fputs("Not available yet.\n", stdout);
  return kExitFailure;
}
