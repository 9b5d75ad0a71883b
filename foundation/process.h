// foundation/process.h - the running executable's own path and folder, and its standard output.
//
// The type library and the name dictionaries are looked for beside the executable, in the
// folder derived here. Nothing here prints.
#pragma once

#include "foundation/string_buffer.h"

/// Stores the full path of the running executable in `out`: the target of /proc/self/exe on
/// Linux (links resolved), the module file name on Windows. False, with `out` empty, when the
/// platform cannot tell.
[[nodiscard]] bool GetExecutablePath(CStringBufferA& out);

/// The folder of `executable_path`, normalized (one kPathSeparator per run of separators, none
/// at the end): "/opt/qvx//bin/QVXBinTool" gives "/opt/qvx/bin". Empty when the path has no
/// separator, and for an executable in the root folder ("/QVXBinTool" gives "", so paths
/// built as folder + separator + name still lead to the root).
void ComputeExeFolder(const char* executable_path, CStringBufferA& exe_folder);

/// Makes standard output carry the program's bytes unchanged. The Windows C runtime opens it
/// in text mode, which would turn every "\n" into "\r\n"; elsewhere there is nothing to do.
/// Call before anything is printed.
void UseBinaryStandardOutput();
