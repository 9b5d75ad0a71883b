// commands/main.cpp - the entry point of QVXBinTool.
//
// Works out the executable's own folder (where QVX.tl and the name dictionaries live), then
// runs the one command the command line names and returns its exit status.
#include <cstdio>

#include "commands/dispatch.h"
#include "foundation/process.h"
#include "foundation/string_buffer.h"

int main(int argc, char** argv) {
  UseBinaryStandardOutput();
  TStringBufferA<261> exe_folder;
  {
    TStringBufferA<261> executable_path;
    if (GetExecutablePath(executable_path)) ComputeExeFolder(executable_path.data, exe_folder);
  }
  const int status = DispatchCommandLine(argc, argv, exe_folder.data);
  std::fflush(stdout);
  return status;
}
