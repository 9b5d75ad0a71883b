// commands/buildtlib.cpp - the buildtlib command: merges the class types of every .bin file
// under a game folder into one type library.
//
// Files are visited in a fixed depth-first order (a folder's own files, then its subfolders,
// each by byte-wise name), and for each class hash the first definition in that order wins.
// A file that cannot be read or has another header is skipped without a word; a file whose
// type stream breaks off part-way keeps the classes read before the break.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "foundation/byte_buffer.h"
#include "foundation/file.h"
#include "types/type_library.h"
#include "types/type_stream.h"

namespace {

const char* const kHelp[] = {
    "buildtlib - generate typelib\n",
    "<Game folder> [output file]\n",
    "<Game folder> - Vorlane installation folder\n",
    "[output file] - Output typelib file, defaults to \"QVX.tl\"\n",
};

// The first 8 bytes of every .bin file this command reads: a zero word and the version text.
constexpr uint8_t kBinHeader[8] = {0, 0, 0, 0, 'v', '0', '0', '2'};

}  // namespace

int RunBuildTlib(int count, char** args, const char* /*exe_folder*/) {
  if (count < 1) {
    PrintLines(kHelp, 4);
    return kExitUsage;
  }
  const char* folder = args[0];
  const char* output = count >= 2 ? args[1] : kDefaultTypeLibraryName;

  TypeRegistry registry;
  std::vector<std::string> paths;
  ByteBuffer contents(kGranuleBytes);
  ScanBinFiles(paths, folder);
  for (const std::string& path : paths) {
    if (!ReadWholeFile(path.c_str(), contents) || contents.size < sizeof kBinHeader ||
        std::memcmp(contents.data, kBinHeader, sizeof kBinHeader) != 0) {
      continue;
    }
    // A stream that breaks off still contributes the classes read before the break.
    (void)LoadTypeInfo(registry, contents.data + sizeof kBinHeader,
                       contents.size - sizeof kBinHeader);
    std::printf("Loaded types from %s\n", path.c_str());
  }

  if (!SaveTypelib(registry, output)) {
    std::printf("Failed to write \"%s\".\n", output);
    return kExitFailure;
  }
  std::printf("Successfully generated \"%s\".\n", output);
  return kExitSuccess;
}
