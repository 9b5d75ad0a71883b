// foundation/process.cpp - asking the platform for the running executable's path, and the
// mode of standard output.
#include "foundation/process.h"

#include <cstdint>
#include <cstdio>

#include "foundation/path.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <sys/types.h>
#include <unistd.h>
#endif

namespace {

// Paths longer than this are not believed; the platforms' own limits are far below it.
constexpr uint32_t kMaxExecutablePath = 1u << 16;

}  // namespace

bool GetExecutablePath(CStringBufferA& out) {
  // The platform calls truncate silently when the buffer is short, so the buffer doubles until
  // the path fits with room to spare.
  for (uint32_t room = 1024; room <= kMaxExecutablePath; room *= 2) {
    out.Clear(false);
    out.Reserve(room);
    if (out.capacity < room) {
      return false;
    }
#ifdef _WIN32
    const DWORD length = GetModuleFileNameA(nullptr, out.data, room);
    if (length == 0) {
      out.Clear(false);
      return false;
    }
    if (length < room - 1) {
      out.length = length;
      out.data[length] = '\0';
      return true;
    }
#else
    const ssize_t length = readlink("/proc/self/exe", out.data, room);
    if (length <= 0) {
      out.Clear(false);
      return false;
    }
    if (static_cast<uint32_t>(length) < room) {
      out.length = static_cast<uint32_t>(length);
      out.data[length] = '\0';
      return true;
    }
#endif
  }
  out.Clear(false);
  return false;
}

void ComputeExeFolder(const char* executable_path, CStringBufferA& exe_folder) {
  SplitPath(executable_path, &exe_folder, nullptr, nullptr);
  NormalizeFolder(exe_folder.data, exe_folder);
}

void UseBinaryStandardOutput() {
#ifdef _WIN32
  std::fflush(stdout);
  (void)_setmode(_fileno(stdout), _O_BINARY);
#endif
}
