// tests/foundation/hash_table_test.cpp
#include "foundation/hash_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "foundation/name_hash.h"
#include "foundation/string_buffer.h"

namespace {

using WordTable = THashTable<uint32_t, kLargeTableBucketBits, 8, HashInsert::kSwitch>;
using SmallWordTable = THashTable<uint32_t, kSmallTableBucketBits, 2, HashInsert::kSwitch>;

struct Flags {
  void* object;
  bool processed;
  bool in_set;
  bool queued;
};
using FlagTable = THashTable<Flags, kLargeTableBucketBits, 4, HashInsert::kAlways>;

struct MarkedTraits {
  static uint32_t Default() { return 0xDEADBEEFu; }
  static void Destroy(uint32_t& value) { value = 0; }
};
using MarkedTable =
    THashTable<uint32_t, kSmallTableBucketBits, 2, HashInsert::kAlways, MarkedTraits>;

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

TEST(HashTableTest, EmptyTableFindsNothing) {
  WordTable table;
  EXPECT_EQ(table.Find(0), nullptr);
  EXPECT_EQ(table.Find(0xFFFFFFFFu), nullptr);
  EXPECT_EQ(table.count(), 0u);
  EXPECT_TRUE(KeysInOrder(table).empty());
}

TEST(HashTableTest, InsertedValueIsFoundAndFilledInPlace) {
  WordTable table;
  uint32_t* value = table.FindOrInsert(1234, true);
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(*value, 0u);
  *value = 99;
  EXPECT_EQ(table.Find(1234), value);
  EXPECT_EQ(table.FindOrInsert(1234, true), value);
  EXPECT_EQ(*table.Find(1234), 99u);
  EXPECT_EQ(table.count(), 1u);
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
  // One bucket, one node: insertion order.
  EXPECT_EQ(KeysInOrder(table), std::vector<uint32_t>(std::begin(keys), std::end(keys)));
}

TEST(HashTableTest, KeysSharingTheLow8BitsShareASmallTableBucket) {
  Isolated<SmallWordTable> t;
  for (uint32_t key : {0x105u, 0x205u, 0x305u}) ASSERT_NE(t.table.FindOrInsert(key, true), nullptr);
  // Two entries per node: the third key of bucket 5 needs a second node.
  EXPECT_EQ(t.pool.total_count() - t.pool.free_count(), 2u);
  EXPECT_EQ(KeysInOrder(t.table), (std::vector<uint32_t>{0x305, 0x105, 0x205}));
  EXPECT_EQ(t.table.Find(0x405), nullptr);
  EXPECT_NE(t.table.Find(0x205), nullptr);
}

TEST(HashTableTest, NinthInsertIntoABucketTakesANewHeadNode) {
  Isolated<WordTable> t;
  std::vector<uint32_t> keys;
  for (uint32_t i = 0; i < 9; ++i) keys.push_back((i << 16) | 3u);
  for (uint32_t i = 0; i < 8; ++i) *t.table.FindOrInsert(keys[i], true) = i;
  EXPECT_EQ(t.pool.free_count(), kHashNodesPerBlock - 1);
  *t.table.FindOrInsert(keys[8], true) = 8;
  EXPECT_EQ(t.pool.free_count(), kHashNodesPerBlock - 2);
  ASSERT_NE(t.table.FindOrInsert(2, true), nullptr);  // bucket 2, before
  ASSERT_NE(t.table.FindOrInsert(4, true), nullptr);  // bucket 4, after
  for (uint32_t i = 0; i < 9; ++i) {
    ASSERT_NE(t.table.Find(keys[i]), nullptr);
    EXPECT_EQ(*t.table.Find(keys[i]), i);
  }
  std::vector<uint32_t> expected = {2, keys[8]};
  expected.insert(expected.end(), keys.begin(), keys.begin() + 8);
  expected.push_back(4);
  EXPECT_EQ(KeysInOrder(t.table), expected);
  EXPECT_EQ(t.table.count(), 11u);
}

TEST(HashTableTest, ClearKeepsNodesAndReusesThemInChainOrder) {
  Isolated<WordTable> t;
  for (uint32_t i = 0; i < 9; ++i) ASSERT_NE(t.table.FindOrInsert((i << 16) | 3u, true), nullptr);
  const uint32_t free_before = t.pool.free_count();
  t.table.Clear();
  EXPECT_EQ(t.table.count(), 0u);
  EXPECT_EQ(t.table.Find(3u), nullptr);
  EXPECT_TRUE(KeysInOrder(t.table).empty());
  EXPECT_EQ(t.pool.free_count(), free_before);

  // Ten new keys fill the head node (eight) and then the older node (two).
  std::vector<uint32_t> keys;
  for (uint32_t i = 0; i < 10; ++i) keys.push_back(((100 + i) << 16) | 3u);
  for (uint32_t key : keys) {
    uint32_t* value = t.table.FindOrInsert(key, true);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(*value, 0u);
  }
  EXPECT_EQ(t.pool.free_count(), free_before);
  EXPECT_EQ(t.pool.total_count(), kHashNodesPerBlock);
  EXPECT_EQ(KeysInOrder(t.table), keys);
  EXPECT_EQ(t.table.count(), 10u);
}

TEST(HashTableTest, SwitchOffOnAMissingKeyInsertsNothing) {
  Isolated<WordTable> t;
  EXPECT_EQ(t.table.FindOrInsert(42, false), nullptr);
  EXPECT_EQ(t.table.count(), 0u);
  EXPECT_EQ(t.pool.total_count(), 0u);
  uint32_t* value = t.table.FindOrInsert(42, true);
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(t.table.FindOrInsert(42, false), value);
  EXPECT_EQ(t.table.FindOrInsert(43, false), nullptr);
  EXPECT_EQ(t.table.count(), 1u);
}

TEST(HashTableTest, AlwaysInsertTableStartsRecordsZeroed) {
  FlagTable table;
  Flags* flags = table.FindOrInsert(0xABCD0001u);
  ASSERT_NE(flags, nullptr);
  EXPECT_EQ(flags->object, nullptr);
  EXPECT_FALSE(flags->processed);
  EXPECT_FALSE(flags->in_set);
  EXPECT_FALSE(flags->queued);
  flags->queued = true;
  EXPECT_TRUE(table.FindOrInsert(0xABCD0001u)->queued);
  EXPECT_EQ(table.count(), 1u);
}

TEST(HashTableTest, TraitsGiveTheDefaultAndTheDestruction) {
  MarkedTable table;
  uint32_t* value = table.FindOrInsert(7);
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(*value, 0xDEADBEEFu);
  *value = 5;
  table.Clear();
  EXPECT_EQ(*value, 0u);  // the node stays; Destroy ran on the value in place
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
  for (uint32_t i = 0; i < 9; ++i) ASSERT_NE(t.table.FindOrInsert((i << 16) | 3u, true), nullptr);
  ASSERT_NE(t.table.FindOrInsert(9, true), nullptr);
  uint32_t* in_head = t.table.Find((8u << 16) | 3u);  // lives in the head node of bucket 3
  EXPECT_EQ(t.pool.free_count(), kHashNodesPerBlock - 3);
  t.table.Release();
  EXPECT_EQ(t.pool.free_count(), kHashNodesPerBlock);
  EXPECT_EQ(t.table.count(), 0u);
  EXPECT_EQ(t.table.Find(3u), nullptr);
  EXPECT_TRUE(KeysInOrder(t.table).empty());
  // Bucket 9 went back last of all, before it the head node of bucket 3.
  auto* first = t.pool.Allocate();
  auto* second = t.pool.Allocate();
  EXPECT_NE(first, nullptr);
  auto* byte = reinterpret_cast<char*>(in_head);
  EXPECT_TRUE(byte >= reinterpret_cast<char*>(second) &&
              byte < reinterpret_cast<char*>(second) + sizeof(*second));
  t.pool.Free(first);
  t.pool.Free(second);
  // A released table fills again.
  ASSERT_NE(t.table.FindOrInsert(3u, true), nullptr);
  EXPECT_EQ(t.table.count(), 1u);
}

TEST(HashTableTest, InsertFailsCleanlyWhenThePoolYieldsNoNode) {
  Isolated<WordTable> t;
  ASSERT_NE(t.table.FindOrInsert(1, true), nullptr);
  t.pool.Shutdown();
  EXPECT_EQ(t.table.FindOrInsert(2, true), nullptr);
  EXPECT_EQ(t.table.count(), 1u);
  // The nodes went with the pool: the table reads empty and releases without touching them.
  EXPECT_EQ(t.table.Find(1), nullptr);
  t.table.Release();
  EXPECT_EQ(t.table.count(), 0u);
}

TEST(HashTableTest, TableOnTheStackHoldsItsBucketsOnTheHeap) {
  // 65536 buckets of pointers must not live inside the object.
  EXPECT_LT(sizeof(WordTable), 64u);
}

TEST(NameTableTest, NewEntryHoldsTheSharedEmptyValueString) {
  NameTable table;
  HeapText* text = table.FindOrInsert(NameHash("cInt"), true);
  ASSERT_NE(text, nullptr);
  EXPECT_TRUE(text->IsEmptyHandle());
  EXPECT_EQ(text->text, SharedEmptyValueString);
}

TEST(NameTableTest, ClearGivesTextsBackButNeverTheSharedEmptyString) {
  NameTable table;
  HeapText* named = table.FindOrInsert(NameHash("cPointer"), true);
  ASSERT_NE(named, nullptr);
  named->AssignText("cPointer");
  ASSERT_FALSE(named->IsEmptyHandle());
  ASSERT_NE(table.FindOrInsert(NameHash("unnamed"), true), nullptr);

  table.Clear();
  EXPECT_EQ(table.count(), 0u);
  EXPECT_TRUE(named->IsEmptyHandle());  // the node stays; its value was reset in place
  EXPECT_EQ(SharedEmptyValueString[0], '\0');
  HeapText* again = table.FindOrInsert(NameHash("cPointer"), true);
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(again->IsEmptyHandle());
}

TEST(NameTableTest, ReleaseAndDestructorGiveTextsBack) {
  // Checked for leaks and double frees by the sanitizer build.
  auto table = std::make_unique<NameTable>();
  for (const char* name : {"cBool", "cByte", "cShort"}) {
    HeapText* text = table->FindOrInsert(NameHash(name), true);
    ASSERT_NE(text, nullptr);
    text->AssignText(name);
  }
  EXPECT_STREQ(table->Find(NameHash("cByte"))->text, "cByte");
  table->Release();
  EXPECT_EQ(table->Find(NameHash("cByte")), nullptr);
  table->FindOrInsert(NameHash("cInt"), true)->AssignText("cInt");
  table.reset();
}

}  // namespace
