// tests/foundation/hash_table_test.cpp
#include "foundation/hash_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/name_hash.h"
#include "foundation/string_buffer.h"

namespace {

using WordTable = THashTable<uint32_t, kLargeTableBucketBits, 8, HashInsert::kSwitch>;
using SmallWordTable = THashTable<uint32_t, kSmallTableBucketBits, 2, HashInsert::kSwitch>;

struct MarkedTraits {
  static uint32_t Default() { return 0xDEADBEEFu; }
  static void Destroy(uint32_t& value) { value = 0; }
};
using MarkedTable =
    THashTable<uint32_t, kSmallTableBucketBits, 2, HashInsert::kAlways, MarkedTraits>;

// 65536 buckets of pointers must not live inside the object.
static_assert(sizeof(WordTable) < 64);

template <typename Table>
std::vector<uint32_t> KeysInOrder(const Table& table) {
  std::vector<uint32_t> keys;
  table.ForEach([&](uint32_t key, const auto&) { keys.push_back(key); });
  return keys;
}

// A table on a pool of its own, so node counts are exact and shutdown stays local.
template <typename Table>
struct Isolated {
  typename Table::Pool pool;
  Table table{pool};
};

std::vector<uint32_t> Bucket3Keys(uint32_t first, uint32_t count) {
  std::vector<uint32_t> keys;
  for (uint32_t i = first; i < first + count; ++i) keys.push_back((i << 16) | 3u);
  return keys;
}

TEST(HashTableTest, SwitchDecidesWhetherAMissingKeyIsInserted) {
  Isolated<WordTable> t;
  EXPECT_EQ(t.table.Find(0), nullptr);
  EXPECT_EQ(t.table.FindOrInsert(1234, false), nullptr);
  EXPECT_EQ(t.pool.total_count(), 0u);
  uint32_t* value = t.table.FindOrInsert(1234, true);
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(*value, 0u);
  *value = 99;
  EXPECT_EQ(t.table.Find(1234), value);
  EXPECT_EQ(t.table.FindOrInsert(1234, true), value);
  EXPECT_EQ(t.table.FindOrInsert(1234, false), value);
  EXPECT_EQ(t.table.FindOrInsert(1235, false), nullptr);
  EXPECT_EQ(*t.table.Find(1234), 99u);
  EXPECT_EQ(t.table.count(), 1u);
}

TEST(HashTableTest, KeysSharingTheLow16BitsAreToldApart) {
  WordTable table;
  const uint32_t keys[] = {0x00000007u, 0x12340007u, 0x80000007u, 0x00010007u};
  for (uint32_t key : keys) *table.FindOrInsert(key, true) = key ^ 0x5A5A5A5Au;
  for (uint32_t key : keys) {
    ASSERT_NE(table.Find(key), nullptr);
    EXPECT_EQ(*table.Find(key), key ^ 0x5A5A5A5Au);
  }
  EXPECT_EQ(table.Find(0x00020007u), nullptr);
  EXPECT_EQ(table.Find(0x12340008u), nullptr);
  EXPECT_EQ(KeysInOrder(table), std::vector<uint32_t>(std::begin(keys), std::end(keys)));
}

TEST(HashTableTest, KeysSharingTheLow8BitsShareASmallTableBucket) {
  Isolated<SmallWordTable> t;
  for (uint32_t key : {0x105u, 0x205u, 0x305u}) ASSERT_NE(t.table.FindOrInsert(key, true), nullptr);
  EXPECT_EQ(t.pool.total_count() - t.pool.free_count(), 2u);
  EXPECT_EQ(KeysInOrder(t.table), (std::vector<uint32_t>{0x305, 0x105, 0x205}));
  EXPECT_EQ(t.table.Find(0x405), nullptr);
}

TEST(HashTableTest, NinthInsertIntoABucketTakesANewHeadNode) {
  Isolated<WordTable> t;
  const std::vector<uint32_t> keys = Bucket3Keys(0, 9);
  for (uint32_t i = 0; i < 8; ++i) *t.table.FindOrInsert(keys[i], true) = i;
  EXPECT_EQ(t.pool.free_count(), kHashNodesPerBlock - 1);
  *t.table.FindOrInsert(keys[8], true) = 8;
  EXPECT_EQ(t.pool.free_count(), kHashNodesPerBlock - 2);
  ASSERT_NE(t.table.FindOrInsert(2, true), nullptr);
  ASSERT_NE(t.table.FindOrInsert(4, true), nullptr);
  for (uint32_t i = 0; i < 9; ++i) {
    ASSERT_NE(t.table.Find(keys[i]), nullptr);
    EXPECT_EQ(*t.table.Find(keys[i]), i);
  }
  std::vector<uint32_t> expected = {2, keys[8]};
  expected.insert(expected.end(), keys.begin(), keys.begin() + 8);
  expected.push_back(4);
  EXPECT_EQ(KeysInOrder(t.table), expected);
}

TEST(HashTableTest, ClearKeepsNodesAndReusesThemInChainOrder) {
  Isolated<WordTable> t;
  for (uint32_t key : Bucket3Keys(0, 9)) ASSERT_NE(t.table.FindOrInsert(key, true), nullptr);
  const uint32_t free_before = t.pool.free_count();
  t.table.Clear();
  EXPECT_EQ(t.table.count(), 0u);
  EXPECT_EQ(t.table.Find(3u), nullptr);
  EXPECT_TRUE(KeysInOrder(t.table).empty());
  const std::vector<uint32_t> keys = Bucket3Keys(100, 10);
  for (uint32_t key : keys) {
    uint32_t* value = t.table.FindOrInsert(key, true);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(*value, 0u);
  }
  EXPECT_EQ(t.pool.free_count(), free_before);
  EXPECT_EQ(t.pool.total_count(), kHashNodesPerBlock);
  EXPECT_EQ(KeysInOrder(t.table), keys);
}

TEST(HashTableTest, TraitsGiveTheDefaultAndTheDestruction) {
  MarkedTable table;
  uint32_t* value = table.FindOrInsert(7);
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(*value, 0xDEADBEEFu);
  *value = 5;
  table.Clear();
  EXPECT_EQ(*value, 0u);
  EXPECT_EQ(*table.FindOrInsert(7), 0xDEADBEEFu);
}

TEST(HashTableTest, ForEachStopsWhenTheCallbackSaysSo) {
  WordTable table;
  for (uint32_t key = 1; key <= 5; ++key) *table.FindOrInsert(key, true) = key * 10;
  std::vector<uint32_t> seen;
  EXPECT_FALSE(table.ForEach([&](uint32_t key, uint32_t& value) {
    seen.push_back(value);
    return key < 3;
  }));
  EXPECT_EQ(seen, (std::vector<uint32_t>{10, 20, 30}));
  EXPECT_TRUE(table.ForEach([](uint32_t, uint32_t& value) { value += 1; }));
  EXPECT_EQ(*table.Find(5), 51u);
}

TEST(HashTableTest, ReleaseGivesEveryNodeBackLastOfTheChainFirst) {
  Isolated<WordTable> t;
  for (uint32_t key : Bucket3Keys(0, 9)) ASSERT_NE(t.table.FindOrInsert(key, true), nullptr);
  ASSERT_NE(t.table.FindOrInsert(9, true), nullptr);
  auto* in_head = reinterpret_cast<char*>(t.table.Find((8u << 16) | 3u));
  t.table.Release();
  EXPECT_EQ(t.pool.free_count(), kHashNodesPerBlock);
  EXPECT_EQ(t.table.count(), 0u);
  EXPECT_EQ(t.table.Find(3u), nullptr);
  // Bucket 9 went back last of all, before it the head node of bucket 3.
  auto* first = t.pool.Allocate();
  auto* second = t.pool.Allocate();
  EXPECT_NE(first, nullptr);
  EXPECT_TRUE(in_head >= reinterpret_cast<char*>(second) &&
              in_head < reinterpret_cast<char*>(second) + sizeof(*second));
  t.pool.Free(first);
  t.pool.Free(second);
  ASSERT_NE(t.table.FindOrInsert(3u, true), nullptr);
  EXPECT_EQ(t.table.count(), 1u);
  EXPECT_NE(t.table.Find(3u), nullptr);
  EXPECT_EQ(t.table.Find(9u), nullptr);
  EXPECT_EQ(t.table.Find((1u << 16) | 3u), nullptr);
}

TEST(HashTableTest, InsertFailsCleanlyWhenThePoolYieldsNoNode) {
  Isolated<WordTable> t;
  ASSERT_NE(t.table.FindOrInsert(1, true), nullptr);
  t.pool.Shutdown();
  EXPECT_EQ(t.table.FindOrInsert(2, true), nullptr);
  EXPECT_EQ(t.table.count(), 1u);
  EXPECT_EQ(t.table.Find(1), nullptr);
  t.table.Release();
  EXPECT_EQ(t.table.count(), 0u);
}

// Leaks and double frees show in the sanitizer build.
TEST(NameTableTest, TextsStartAsTheSharedEmptyStringAndAreGivenBack) {
  auto table = std::make_unique<NameTable>();
  HeapText* fresh = table->FindOrInsert(NameHash("unnamed"), true);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh->text, SharedEmptyValueString);
  HeapText* named = table->FindOrInsert(NameHash("cPointer"), true);
  named->AssignText("cPointer");
  table->Clear();
  EXPECT_TRUE(named->IsEmptyHandle());
  EXPECT_EQ(SharedEmptyValueString[0], '\0');
  EXPECT_TRUE(table->FindOrInsert(NameHash("cPointer"), true)->IsEmptyHandle());
  for (const char* name : {"cBool", "cByte"})
    table->FindOrInsert(NameHash(name), true)->AssignText(name);
  EXPECT_STREQ(table->Find(NameHash("cByte"))->text, "cByte");
  table->Release();
  EXPECT_EQ(table->Find(NameHash("cByte")), nullptr);
  table->FindOrInsert(NameHash("cInt"), true)->AssignText("cInt");
  table.reset();
}

}  // namespace
