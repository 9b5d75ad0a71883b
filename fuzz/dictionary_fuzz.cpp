// fuzz/dictionary_fuzz.cpp - feeds arbitrary bytes to the name dictionary loaders.
//
// The first byte picks the loader, the rest is the file it reads (written to a folder of this
// process under the system's temporary folder, since the loaders read files):
//   0  "Hash.txt": every non-empty line must be entered under its NameHash, and every entry
//      must be such a line;
//   1  a ".cvs" table: it must load exactly when an independent check of the layout accepts
//      it, and then give each key the text of its first entry;
//   2  all three files at once, the rest split in three: every name the resolver gives for a
//      value must hash back to that value.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>
#include <unordered_map>

#include "foundation/name_hash.h"
#include "fuzz/fuzz_support.h"
#include "names/name_dictionaries.h"
#include "types/core_type_hashes.h"

namespace {

// A folder of this process, removed again when the process ends normally.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::error_code error;
    // A memory-backed folder where there is one: rewriting a file on a disk file system can
    // wait for the disk (ext4 flushes a file truncated and written again when it is closed).
    path_ = std::filesystem::is_directory("/dev/shm", error)
                ? std::filesystem::path("/dev/shm")
                : std::filesystem::temp_directory_path(error);
    path_ /= "qvx-dictionary-fuzz-" + std::to_string(std::random_device{}());
    std::filesystem::create_directories(path_, error);
    folder_ = path_.string();
  }
  ~ScratchFolder() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
  }
  const std::string& folder() const { return folder_; }
  std::string File(const char* name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
  std::string folder_;
};

const ScratchFolder& Scratch() {
  static const ScratchFolder scratch;
  return scratch;
}

// Replaces the file at `path` by the bytes. A plain stream, not the tool's atomic writer: that
// one syncs every file to disk, which would cost most of each execution.
bool WriteBytes(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return static_cast<bool>(file);
}

uint32_t Word(const uint8_t* bytes) {
  return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

void CheckHashList(const uint8_t* data, size_t size) {
  const std::string path = Scratch().File(kHashListFileName);
  FuzzCheck(WriteBytes(path, data, size));
  NameTable names;
  FuzzCheck(LoadHashList(names, path.c_str()));

  // The lines as the file defines them: up to the first NUL, split at every CR or LF; a
  // later line of the same hash replaces the text.
  const void* nul = std::memchr(data, 0, size);
  const size_t text_length = nul != nullptr ? static_cast<const uint8_t*>(nul) - data : size;
  std::unordered_map<uint32_t, std::string> expected;
  for (size_t start = 0; start < text_length;) {
    size_t end = start;
    while (end < text_length && data[end] != '\r' && data[end] != '\n') ++end;
    if (end > start) {
      const char* line = reinterpret_cast<const char*>(data + start);
      expected[NameHash(line, static_cast<uint32_t>(end - start))].assign(line, end - start);
    }
    start = end + 1;
  }
  FuzzCheck(names.count() == expected.size());
  for (const auto& [hash, line] : expected) {
    const HeapText* kept = names.Find(hash);
    FuzzCheck(kept != nullptr && kept->Length() == line.size() &&
              std::memcmp(kept->text, line.data(), line.size()) == 0);
  }
}

// The layout rules of a ".cvs" table, checked on the bytes themselves.
bool IsValidTextIdTable(const uint8_t* data, size_t size) {
  if (size < 4) return false;
  const uint64_t count = Word(data);
  if (size < 4 + 8 * count) return false;
  for (uint64_t i = 0; i < count; ++i) {
    const uint32_t offset = Word(data + 4 + 4 * count + 4 * i);
    if (offset >= size || std::memchr(data + offset, 0, size - offset) == nullptr) return false;
  }
  return true;
}

void CheckTextIdTable(const uint8_t* data, size_t size) {
  const std::string path = Scratch().File(kTextIdNamesFileName);
  FuzzCheck(WriteBytes(path, data, size));
  TextIdTable table;
  const bool loaded = LoadTextIdTable(table, path.c_str());
  FuzzCheck(loaded == IsValidTextIdTable(data, size));
  if (!loaded) return;
  const uint32_t count = Word(data);
  FuzzCheck(table.count() == count);
  // Entries past the first few add nothing but time: FindTextId is a linear scan.
  for (uint32_t i = 0; i < count && i < 64; ++i) {
    const uint32_t key = Word(data + 4 + 4 * i);
    uint32_t first = 0;
    while (Word(data + 4 + 4 * first) != key) ++first;
    const char* text = FindTextId(table, key);
    const char* expected =
        reinterpret_cast<const char*>(data + Word(data + 4 + 4 * count + 4 * first));
    FuzzCheck(text != nullptr && std::strcmp(text, expected) == 0);
  }
}

void CheckResolver(const uint8_t* data, size_t size) {
  const size_t third = size / 3;
  const char* names[3] = {kHashListFileName, kTextIdNamesFileName, kEnglishTextsFileName};
  for (size_t i = 0; i < 3; ++i) {
    const size_t start = i * third;
    const size_t length = i == 2 ? size - start : third;
    FuzzCheck(WriteBytes(Scratch().File(names[i]), data + start, length));
  }
  TypeRegistry no_classes;
  ObjectIdTable no_objects;
  NameDictionaries dictionaries;
  LoadNameDictionaries(dictionaries, Scratch().folder().c_str(), &no_classes, &no_objects);
  // Values worth asking for: the words of the input, so keys and hashed lines come up.
  const uint32_t kinds[] = {
      0, kCHashHash, kCStringHashHash, kCTextIDHash, kResolveHashComment, kResolvePointerComment};
  for (size_t at = 0; at + 4 <= size && at < 4 * 64; at += 4) {
    const uint32_t value = Word(data + at);
    for (uint32_t kind : kinds) {
      const char* name = ResolveName(value, kind, &dictionaries);
      if (name != nullptr && kind != kResolveHashComment && kind != kResolvePointerComment) {
        FuzzCheck(NameHash(name) == value);
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > kMaxFuzzInputBytes) return 0;
  switch (data[0] % 3) {
    case 0:
      CheckHashList(data + 1, size - 1);
      break;
    case 1:
      CheckTextIdTable(data + 1, size - 1);
      break;
    default:
      CheckResolver(data + 1, size - 1);
      break;
  }
  return 0;
}
