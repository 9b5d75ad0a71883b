// commands/dispatch.h - picks the command of one run from the command line.
//
// The first argument is matched against the command words, ignoring letter case; when none
// matches, the extension of that argument decides: "bin" runs gentext and "txt" runs genbin,
// with the file itself as the first argument. Anything else prints the usage text.
#pragma once

/// Runs the command named by argv[1] and returns the process exit status.
int DispatchCommandLine(int argc, char** argv, const char* exe_folder);

/// Prints the six lines of the general usage text.
void PrintUsage();
