// commands/commands.h - the command functions the entry point dispatches to.
//
// Every command takes the number of its own arguments, the arguments themselves (the words
// after the command word, or the input file itself under the extension fallback) and the
// executable's folder, where the type library and the name dictionaries are looked for. It
// prints its own progress and error messages to standard output and returns the exit status:
// 0 when it did its job, 1 after a failure message, 2 after a usage or help text.
#pragma once

using CommandFunction = int (*)(int count, char** args, const char* exe_folder);

int RunBuildTlib(int count, char** args, const char* exe_folder);
int RunGenText(int count, char** args, const char* exe_folder);
int RunGenBin(int count, char** args, const char* exe_folder);
int RunDumpTypes(int count, char** args, const char* exe_folder);
int RunDumpObject(int count, char** args, const char* exe_folder);
int RunBitCompare(int count, char** args, const char* exe_folder);
int RunDobr(int count, char** args, const char* exe_folder);
int RunRefDump(int count, char** args, const char* exe_folder);
int RunObjDump(int count, char** args, const char* exe_folder);
int RunStringDump(int count, char** args, const char* exe_folder);
int RunRenameAll(int count, char** args, const char* exe_folder);

/// Exit statuses shared by every command.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

/// Prints each line of a help or usage text with one call per line.
void PrintLines(const char* const* lines, int count);
