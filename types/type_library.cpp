// types/type_library.cpp - saving and loading the type library, finding .bin files.
#include "types/type_library.h"

#include <cstring>

#include "foundation/file.h"

namespace {

// Saving reserves room for a whole game's types at once.
constexpr uint32_t kTypeLibraryReserveBytes = 16u << 20;

}  // namespace

bool SaveTypelib(const TypeRegistry& registry, const char* path) {
  ByteBuffer buffer(kGranuleBytes);
  // Without the reserve the buffer simply grows as the stream is written.
  (void)buffer.Grow(kTypeLibraryReserveBytes);
  if (!buffer.Grow(sizeof kTypeLibraryMagic)) {
    return false;
  }
  std::memcpy(buffer.data, kTypeLibraryMagic, sizeof kTypeLibraryMagic);
  buffer.size = sizeof kTypeLibraryMagic;
  if (SaveTypeInfo(registry, buffer) == 0) {
    return false;
  }
  return WriteWholeFile(path, buffer);
}

bool LoadTypelib(TypeRegistry& registry, const char* path) {
  ByteBuffer buffer(kGranuleBytes);
  if (!ReadWholeFile(path, buffer)) {
    return false;
  }
  if (buffer.size < sizeof kTypeLibraryMagic ||
      std::memcmp(buffer.data, kTypeLibraryMagic, sizeof kTypeLibraryMagic) != 0) {
    return false;
  }
  return LoadTypeInfo(registry, buffer.data + sizeof kTypeLibraryMagic,
                      buffer.size - sizeof kTypeLibraryMagic) != 0;
}

uint32_t ScanBinFiles(std::vector<std::string>& paths, const char* folder) {
  if (!ListBinFilesRecursive(folder, paths)) {
    paths.clear();
    return 0;
  }
  return static_cast<uint32_t>(paths.size());
}
