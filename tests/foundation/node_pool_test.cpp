// tests/foundation/node_pool_test.cpp
#include "foundation/node_pool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <vector>

#include "foundation/link_list.h"

namespace {

struct Record {
  Record* next;
  uint32_t id;
};

struct alignas(16) WideRecord {
  double values[3];
};

struct ByteRecord {
  char bytes[9];  // pointer-sized or more, but only byte-aligned
};

TEST(NodePoolTest, FirstAllocateCarvesOneBlock) {
  TNodePool<Record, 32> pool;
  EXPECT_EQ(pool.total_count(), 0u);
  Record* node = pool.Allocate();
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(pool.free_count(), 31u);
  EXPECT_EQ(pool.total_count(), 32u);
}

TEST(NodePoolTest, HandsOutABlockInAddressOrderThenGrows) {
  TNodePool<Record, 4> pool;
  std::vector<Record*> nodes;
  for (int i = 0; i < 4; ++i) nodes.push_back(pool.Allocate());
  for (int i = 1; i < 4; ++i) {
    EXPECT_EQ(reinterpret_cast<uintptr_t>(nodes[i]) - reinterpret_cast<uintptr_t>(nodes[i - 1]),
              sizeof(Record));
  }
  EXPECT_EQ(pool.free_count(), 0u);
  Record* fifth = pool.Allocate();
  ASSERT_NE(fifth, nullptr);
  EXPECT_EQ(pool.total_count(), 8u);
  EXPECT_EQ(pool.free_count(), 3u);
}

TEST(NodePoolTest, FreedNodeIsTheNextOneHandedOut) {
  TNodePool<Record, 8> pool;
  Record* a = pool.Allocate();
  Record* b = pool.Allocate();
  pool.Free(a);
  pool.Free(b);
  EXPECT_EQ(pool.free_count(), 8u);
  EXPECT_EQ(pool.Allocate(), b);
  EXPECT_EQ(pool.Allocate(), a);
  EXPECT_EQ(pool.total_count(), 8u);
}

TEST(NodePoolTest, NodesAreDistinctAndWritableAcrossBlocks) {
  TNodePool<Record, 3> pool;
  std::set<Record*> seen;
  std::vector<Record*> nodes;
  for (uint32_t i = 0; i < 10; ++i) {
    Record* node = pool.Allocate();
    ASSERT_NE(node, nullptr);
    EXPECT_TRUE(seen.insert(node).second);
    node->next = nullptr;
    node->id = i;
    nodes.push_back(node);
  }
  for (uint32_t i = 0; i < 10; ++i) EXPECT_EQ(nodes[i]->id, i);
  EXPECT_EQ(pool.total_count(), 12u);
}

TEST(NodePoolTest, NodesAreAlignedForTheirTypeAndTheFreeLink) {
  TNodePool<WideRecord, 5> wide;
  TNodePool<ByteRecord, 5> bytes;
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(reinterpret_cast<uintptr_t>(wide.Allocate()) % alignof(WideRecord), 0u);
    ByteRecord* b = bytes.Allocate();
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % alignof(void*), 0u);
    bytes.Free(b);  // writes the free link into the node
  }
}

TEST(NodePoolTest, ShutdownStopsAllocateAndFree) {
  TNodePool<Record, 32> pool;
  Record* node = pool.Allocate();
  ASSERT_NE(node, nullptr);
  pool.Shutdown();
  EXPECT_TRUE(pool.is_shut_down());
  EXPECT_EQ(pool.Allocate(), nullptr);
  pool.Free(node);  // ignored: the block is gone, nothing may be written
  EXPECT_EQ(pool.free_count(), 0u);
  EXPECT_EQ(pool.Allocate(), nullptr);
  pool.Shutdown();  // a second shutdown does nothing
  EXPECT_TRUE(pool.is_shut_down());
}

TEST(NodePoolTest, ShutdownOfAnUnusedPool) {
  TNodePool<Record, 32> pool;
  pool.Shutdown();
  EXPECT_EQ(pool.Allocate(), nullptr);
  EXPECT_EQ(pool.total_count(), 0u);
}

TEST(NodePoolTest, ProcessPoolIsOnePerKindAndTag) {
  struct OtherTag {};
  auto& a = ProcessNodePool<Record, 32>();
  auto& b = ProcessNodePool<Record, 32>();
  auto& tagged = ProcessNodePool<Record, 32, OtherTag>();
  EXPECT_EQ(&a, &b);
  EXPECT_NE(&a, &tagged);
}

TEST(ObjectListTest, AppendKeepsOrderAndResetsNext) {
  TObjectList<Record> list;
  Record a{reinterpret_cast<Record*>(0x1), 1};  // stale next must be overwritten
  Record b{nullptr, 2};
  EXPECT_TRUE(list.Append(&a));
  EXPECT_EQ(a.next, nullptr);
  EXPECT_TRUE(list.Append(&b));
  EXPECT_EQ(list.head, &a);
  EXPECT_EQ(list.tail, &b);
  EXPECT_EQ(a.next, &b);
  EXPECT_EQ(list.count, 2u);
}

TEST(ObjectListTest, NullAppendIsRefused) {
  TObjectList<Record> list;
  EXPECT_FALSE(list.Append(nullptr));
  EXPECT_EQ(list.count, 0u);
  EXPECT_EQ(list.head, nullptr);
  EXPECT_EQ(list.tail, nullptr);
}

TEST(ObjectListTest, PopHeadUnlinksInOrder) {
  TObjectList<Record> list;
  Record a{nullptr, 1}, b{nullptr, 2};
  ASSERT_TRUE(list.Append(&a));
  ASSERT_TRUE(list.Append(&b));
  EXPECT_EQ(list.PopHead(), &a);
  EXPECT_EQ(a.next, nullptr);
  EXPECT_EQ(list.count, 1u);
  EXPECT_EQ(list.PopHead(), &b);
  EXPECT_EQ(list.count, 0u);
  EXPECT_EQ(list.tail, nullptr);
  EXPECT_EQ(list.PopHead(), nullptr);
  // Emptied by PopHead, the list appends as a fresh one.
  ASSERT_TRUE(list.Append(&b));
  EXPECT_EQ(list.head, &b);
  EXPECT_EQ(list.tail, &b);
}

TEST(ObjectListTest, ClearVisitsInOrderAndToleratesFreeingEachNode) {
  TNodePool<Record, 4> pool;
  TObjectList<Record> list;
  for (uint32_t i = 0; i < 6; ++i) {
    Record* node = pool.Allocate();
    ASSERT_NE(node, nullptr);
    node->id = i;
    ASSERT_TRUE(list.Append(node));
  }
  std::vector<uint32_t> visited;
  list.Clear([&](Record* node) {
    visited.push_back(node->id);
    node->next = reinterpret_cast<Record*>(0x1);  // the list must have read next already
    pool.Free(node);
  });
  EXPECT_EQ(visited, (std::vector<uint32_t>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(list.head, nullptr);
  EXPECT_EQ(list.tail, nullptr);
  EXPECT_EQ(list.count, 0u);
  EXPECT_EQ(pool.free_count(), pool.total_count());
}

TEST(LinkListTest, ClearVisitsPayloadsInOrderAndReturnsLinks) {
  LinkPool pool;
  LinkList list(pool);
  int values[3] = {10, 20, 30};
  for (int& v : values) ASSERT_TRUE(list.Append(&v));
  EXPECT_EQ(pool.free_count(), kLinksPerBlock - 3);
  const Link* link = list.head();
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(link->payload, &values[0]);
  EXPECT_EQ(link->next->next->payload, &values[2]);
  EXPECT_EQ(link->next->next->next, nullptr);

  std::vector<int> seen;
  list.Clear([&](void* payload) { seen.push_back(*static_cast<int*>(payload)); });
  EXPECT_EQ(seen, (std::vector<int>{10, 20, 30}));
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(pool.free_count(), kLinksPerBlock);
  // Reusable after Clear.
  ASSERT_TRUE(list.Append(&values[1]));
  EXPECT_EQ(list.head()->payload, &values[1]);
}

TEST(LinkListTest, AppendFailsWhenThePoolHasShutDown) {
  LinkPool pool;
  LinkList list(pool);
  int value = 1;
  ASSERT_TRUE(list.Append(&value));
  list.Clear([](void*) {});
  pool.Shutdown();
  EXPECT_FALSE(list.Append(&value));
  EXPECT_TRUE(list.empty());
}

TEST(LinkListTest, DestructorGivesLinksBack) {
  LinkPool pool;
  int value = 1;
  {
    LinkList list(pool);
    ASSERT_TRUE(list.Append(&value));
    ASSERT_TRUE(list.Append(&value));
    EXPECT_EQ(pool.free_count(), kLinksPerBlock - 2);
  }
  EXPECT_EQ(pool.free_count(), kLinksPerBlock);
}

}  // namespace
