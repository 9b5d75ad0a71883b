// tests/document/damage_test.cpp - damaged example .bin files loaded and written as documents,
// the way gentext does it: every truncation and many seeded random bit flips of each file.
// A damaged file must either fail to load, releasing every node, or load and give a document.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bin/bin_file.h"
#include "document/document_writer.h"
#include "tests/bin/bin_test_support.h"

namespace {

std::vector<std::string> ExampleFiles() {
  std::vector<std::string> files;
  for (const auto& entry :
       std::filesystem::recursive_directory_iterator(QVX_SOURCE_DIR "/examples/game")) {
    if (entry.is_regular_file()) files.push_back(entry.path().string());
  }
  return files;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

enum class Outcome { kFailed, kWritten };

// gentext's steps on `length` bytes of `bytes`, copied into a buffer of exactly that size so a
// read past the end is caught by AddressSanitizer. `ids` is empty on return; sharing one table
// between loads spares allocating its large bucket array each time.
Outcome LoadAndWrite(const CoreTypeTable& core_types, ObjectIdTable& ids, const std::string& bytes,
                     size_t length) {
  const auto exact = std::make_unique<uint8_t[]>(length == 0 ? 1 : length);
  std::memcpy(exact.get(), bytes.data(), length);
  const uint32_t size = static_cast<uint32_t>(length);
  TypeRegistry registry;
  OwnedObjectList objects;
  uint32_t offset = 0;
  if (!CheckBinHeader(exact.get(), size) ||
      LoadBinTypes(exact.get(), size, registry, offset) != BinLoadResult::kOk) {
    return Outcome::kFailed;
  }
  BitReader reader(exact.get() + offset, size - offset);
  if (!LoadObjects(reader, registry, core_types, objects, ids)) {
    EXPECT_EQ(objects.count, 0u);
    EXPECT_EQ(ids.count(), 0u);
    return Outcome::kFailed;
  }
  ids.Clear();
  CStringBufferA text;
  TStringBufferA<512> value_scratch;
  TStringBufferA<512> comment_scratch;
  for (const ValueNode* object = objects.head; object != nullptr; object = object->next) {
    const ClassType* class_type = registry.Find(object->type_hash);
    EXPECT_NE(class_type, nullptr);
    if (class_type == nullptr) return Outcome::kFailed;
    EXPECT_TRUE(WriteObject(*object, *class_type, text, value_scratch, registry, core_types,
                            comment_scratch));
  }
  return Outcome::kWritten;
}

class DamagedBinTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_GE(files_.size(), 5u); }

  CoreTypes core_;
  ObjectIdTable ids_;
  const std::vector<std::string> files_ = ExampleFiles();
  const uint32_t nodes_before_ = ValueNodesInUse();
};

TEST_F(DamagedBinTest, EveryTruncationFailsOrLoadsAPrefixWithoutLeaking) {
  for (const std::string& path : files_) {
    const std::string bytes = ReadFile(path);
    ASSERT_EQ(LoadAndWrite(core_.table, ids_, bytes, bytes.size()), Outcome::kWritten) << path;
    size_t loaded = 0;
    for (size_t length = 0; length < bytes.size(); ++length) {
      SCOPED_TRACE(path + " cut at " + std::to_string(length));
      if (LoadAndWrite(core_.table, ids_, bytes, length) == Outcome::kWritten) ++loaded;
      ASSERT_EQ(ValueNodesInUse(), nodes_before_);
    }
    // Only cuts at object boundaries (and inside a trailing tail too short for a class hash)
    // can load; a file whose cuts all load would mean the sweep checks nothing.
    if (bytes.size() > 12) {
      EXPECT_LT(loaded, bytes.size() / 4) << path;
    }
  }
}

TEST_F(DamagedBinTest, RandomBitFlipsFailOrLoadWithoutLeaking) {
  std::mt19937 random(20240607);
  constexpr int kFlipsPerFile = 600;
  for (const std::string& path : files_) {
    const std::string bytes = ReadFile(path);
    std::uniform_int_distribution<size_t> bit_of(0, bytes.size() * 8 - 1);
    int failed = 0;
    for (int i = 0; i < kFlipsPerFile; ++i) {
      std::string damaged = bytes;
      // Mostly single flips; every fourth case flips a few bits at once.
      const int flips = i % 4 == 3 ? 4 : 1;
      for (int f = 0; f < flips; ++f) {
        const size_t bit = bit_of(random);
        damaged[bit / 8] = static_cast<char>(damaged[bit / 8] ^ (1 << (bit % 8)));
      }
      SCOPED_TRACE(path + " flip case " + std::to_string(i));
      if (LoadAndWrite(core_.table, ids_, damaged, damaged.size()) == Outcome::kFailed) ++failed;
      ASSERT_EQ(ValueNodesInUse(), nodes_before_);
    }
    if (bytes.size() > 12) {
      EXPECT_GT(failed, 0) << path;
    }
  }
}

}  // namespace
