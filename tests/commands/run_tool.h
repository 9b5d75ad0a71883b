// tests/commands/run_tool.h - runs the built QVXBinTool as a user would and captures its output.
//
// On POSIX the tool runs through the shell (popen). A Windows test program (also under Wine)
// starts it directly with CreateProcessA: going through cmd.exe would expand %NAME%, split at
// "&" and "|" whenever its own idea of quoting differs from the C runtime's (an argument that
// holds a '"'), and Wine's cmd even runs the tool after a failed "cd". The output is read as raw
// bytes on both, so the tests see exactly what the tool wrote.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <string>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <sys/wait.h>
#endif

struct ToolRun {
  std::string output;  // everything the tool printed on standard output
  int exit_code = -1;
};

#ifdef _WIN32

/// Quotes one argument so that the C runtime's command-line parser gives it back unchanged:
/// backslashes are doubled only where they come before a '"' or the closing quote.
inline std::string CommandLineQuote(const std::string& text) {
  if (!text.empty() && text.find_first_of(" \t\n\v\"") == std::string::npos) return text;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : text) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, '\\');
  return quoted + "\"";
}

/// Runs `tool` with `args`, optionally from the working directory `cwd`.
inline ToolRun RunTool(const std::string& tool, std::initializer_list<std::string> args,
                       const std::string& cwd = "") {
  ToolRun run;
  // The program name is split at quotes only, never at backslashes.
  std::string command_line = "\"" + tool + "\"";
  for (const std::string& arg : args) {
    command_line += ' ';
    command_line += CommandLineQuote(arg);
  }
  SECURITY_ATTRIBUTES inheritable = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inheritable, 0)) return run;
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);  // only the tool's end is inherited

  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = write_end;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  // Under Wine, with both cores busy running tests, starting a process now and then fails for
  // a moment; a few more tries tell that apart from a tool that cannot be started at all.
  BOOL started = FALSE;
  for (int attempt = 0; attempt < 5 && !started; ++attempt) {
    if (attempt != 0) Sleep(200);
    started = CreateProcessA(tool.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                             cwd.empty() ? nullptr : cwd.c_str(), &startup, &process);
  }
  // Closed here, so reading ends when the tool (the only other holder) exits.
  CloseHandle(write_end);
  if (!started) {
    CloseHandle(read_end);
    return run;
  }
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(read_end, chunk, sizeof chunk, &got, nullptr) && got != 0) {
    run.output.append(chunk, got);
  }
  CloseHandle(read_end);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  if (GetExitCodeProcess(process.hProcess, &status)) run.exit_code = static_cast<int>(status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return run;
}

#else

/// Quotes one argument for the POSIX shell.
inline std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

/// Runs `tool` with `args`, optionally from the working directory `cwd`.
inline ToolRun RunTool(const std::string& tool, std::initializer_list<std::string> args,
                       const std::string& cwd = "") {
  std::string command;
  if (!cwd.empty()) command = "cd " + ShellQuote(cwd) + " && ";
  command += ShellQuote(tool);
  for (const std::string& arg : args) {
    command += ' ';
    command += ShellQuote(arg);
  }
  ToolRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char chunk[4096];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) run.output.append(chunk, got);
  const int status = pclose(pipe);
  if (status != -1 && WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
  return run;
}

#endif

/// `path` with every "/" turned into the separator of the paths the tool builds itself ("\\" on
/// Windows), for expected messages that name such a path.
inline std::string NativePath(std::string path) {
#ifdef _WIN32
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
#endif
  return path;
}

/// Runs the tool built by this project.
inline ToolRun RunQvx(std::initializer_list<std::string> args, const std::string& cwd = "") {
  return RunTool(QVX_TOOL_PATH, args, cwd);
}
