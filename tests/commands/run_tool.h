// tests/commands/run_tool.h - runs the built QVXBinTool as a user would and captures its output.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <initializer_list>
#include <string>

struct ToolRun {
  std::string output;  // everything the tool printed on standard output
  int exit_code = -1;
};

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

/// Runs the tool built by this project.
inline ToolRun RunQvx(std::initializer_list<std::string> args, const std::string& cwd = "") {
  return RunTool(QVX_TOOL_PATH, args, cwd);
}
