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

TEST(NodePoolTest, HandsOutEachBlockInAddressOrderThenCarvesAnother) {
  TNodePool<Record, 4> pool;
  EXPECT_EQ(pool.total_count(), 0u);
  std::set<Record*> seen;
  std::vector<Record*> nodes;
  for (uint32_t i = 0; i < 10; ++i) {
    Record* node = pool.Allocate();
    ASSERT_NE(node, nullptr);
    EXPECT_TRUE(seen.insert(node).second);
    EXPECT_EQ(pool.total_count(), (i / 4 + 1) * 4);
    EXPECT_EQ(pool.free_count(), 3 - i % 4);
    if (i % 4 != 0) {
      EXPECT_EQ(reinterpret_cast<uintptr_t>(node) - reinterpret_cast<uintptr_t>(nodes.back()),
                sizeof(Record));
    }
    node->id = i;
    nodes.push_back(node);
  }
  for (uint32_t i = 0; i < 10; ++i) EXPECT_EQ(nodes[i]->id, i);
  pool.Free(nodes[2]);
  pool.Free(nodes[7]);
  EXPECT_EQ(pool.free_count(), 4u);
  EXPECT_EQ(pool.Allocate(), nodes[7]);
  EXPECT_EQ(pool.Allocate(), nodes[2]);
  EXPECT_EQ(pool.total_count(), 12u);
}

TEST(NodePoolTest, NodesAreAlignedForTheirTypeAndTheFreeLink) {
  struct alignas(16) WideRecord {
    double values[3];
  };
  struct ByteRecord {
    char bytes[9];
  };
  TNodePool<WideRecord, 5> wide;
  TNodePool<ByteRecord, 5> bytes;
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(reinterpret_cast<uintptr_t>(wide.Allocate()) % alignof(WideRecord), 0u);
    ByteRecord* b = bytes.Allocate();
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % alignof(void*), 0u);
    bytes.Free(b);
  }
}

TEST(NodePoolTest, ShutdownStopsAllocateAndFree) {
  TNodePool<Record, 32> pool;
  Record* node = pool.Allocate();
  ASSERT_NE(node, nullptr);
  pool.Shutdown();
  EXPECT_TRUE(pool.is_shut_down());
  EXPECT_EQ(pool.Allocate(), nullptr);
  pool.Free(node);
  EXPECT_EQ(pool.free_count(), 0u);
  pool.Shutdown();
  EXPECT_EQ(pool.Allocate(), nullptr);

  TNodePool<Record, 32> unused;
  unused.Shutdown();
  EXPECT_EQ(unused.Allocate(), nullptr);
  EXPECT_EQ(unused.total_count(), 0u);
}

TEST(NodePoolTest, AReturnBatchGivesItsNodesBackAtOnce) {
  TNodePool<Record, 4> pool;
  std::vector<Record*> nodes;
  for (uint32_t i = 0; i < 10; ++i) nodes.push_back(pool.Allocate());
  const uint32_t free_before = pool.free_count();
  {
    TNodePool<Record, 4>::ReturnBatch batch(pool);
    for (uint32_t i = 2; i < 8; ++i) batch.Add(nodes[i]);
    EXPECT_EQ(pool.free_count(), free_before);  // nothing back before the flush
  }
  EXPECT_EQ(pool.free_count(), free_before + 6);
  // The last node added comes out first, then the others, then the pool's own free nodes.
  std::set<Record*> again;
  for (uint32_t i = 0; i < 6; ++i) again.insert(pool.Allocate());
  EXPECT_EQ(again, std::set<Record*>(nodes.begin() + 2, nodes.begin() + 8));
  EXPECT_EQ(pool.free_count(), free_before);

  TNodePool<Record, 4>::ReturnBatch batch(pool);
  batch.Add(nodes[0]);
  batch.Flush();
  batch.Flush();  // an empty batch gives nothing back
  EXPECT_EQ(pool.free_count(), free_before + 1);
  batch.Add(nodes[1]);
  pool.Shutdown();
  batch.Flush();  // after shutdown the node is simply forgotten
  EXPECT_EQ(pool.free_count(), 0u);
}

TEST(NodePoolTest, ATakeBatchHandsOutDistinctNodesAndGivesTheRestBack) {
  TNodePool<Record, 4> pool;
  std::set<Record*> handed;
  {
    TNodePool<Record, 4>::TakeBatch batch(pool);
    for (uint32_t i = 0; i < 45; ++i) {  // more than one group, across many blocks
      Record* node = batch.Allocate();
      ASSERT_NE(node, nullptr);
      EXPECT_TRUE(handed.insert(node).second);
      node->id = i;
    }
    // Two groups of 32 are out of the pool, 19 of them not handed out yet.
    EXPECT_EQ(pool.total_count(), 64u);
    EXPECT_EQ(pool.free_count(), 0u);
  }
  EXPECT_EQ(pool.free_count(), pool.total_count() - 45);  // the rest came back
  for (Record* node : handed) pool.Free(node);
  EXPECT_EQ(pool.free_count(), pool.total_count());

  // A batch holding nodes when the pool shuts down hands out none of that freed memory.
  TNodePool<Record, 4>::TakeBatch late(pool);
  ASSERT_NE(late.Allocate(), nullptr);
  pool.Shutdown();
  EXPECT_EQ(late.Allocate(), nullptr);
}

TEST(NodePoolTest, ProcessPoolIsOnePerKindAndTag) {
  struct OtherTag {};
  auto& a = ProcessNodePool<Record, 32>();
  auto& tagged = ProcessNodePool<Record, 32, OtherTag>();
  EXPECT_EQ(&a, (&ProcessNodePool<Record, 32>()));
  EXPECT_NE(&a, &tagged);
}

TEST(ObjectListTest, AppendAndPopHeadKeepOrderAndLinks) {
  TObjectList<Record> list;
  EXPECT_FALSE(list.Append(nullptr));
  Record a{reinterpret_cast<Record*>(0x1), 1};
  Record b{nullptr, 2};
  EXPECT_TRUE(list.Append(&a));
  EXPECT_EQ(a.next, nullptr);
  EXPECT_TRUE(list.Append(&b));
  EXPECT_EQ(list.head, &a);
  EXPECT_EQ(list.tail, &b);
  EXPECT_EQ(a.next, &b);
  EXPECT_EQ(list.count, 2u);
  EXPECT_EQ(list.PopHead(), &a);
  EXPECT_EQ(a.next, nullptr);
  EXPECT_EQ(list.PopHead(), &b);
  EXPECT_EQ(list.count, 0u);
  EXPECT_EQ(list.tail, nullptr);
  EXPECT_EQ(list.PopHead(), nullptr);
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
    node->next = reinterpret_cast<Record*>(0x1);
    pool.Free(node);
  });
  EXPECT_EQ(visited, (std::vector<uint32_t>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(list.head, nullptr);
  EXPECT_EQ(list.tail, nullptr);
  EXPECT_EQ(list.count, 0u);
  EXPECT_EQ(pool.free_count(), pool.total_count());
}

TEST(LinkListTest, ClearAndDestructorGiveLinksBack) {
  LinkPool pool;
  int values[3] = {10, 20, 30};
  {
    LinkList list(pool);
    for (int& v : values) ASSERT_TRUE(list.Append(&v));
    EXPECT_EQ(pool.free_count(), kLinksPerBlock - 3);
    ASSERT_NE(list.head(), nullptr);
    EXPECT_EQ(list.head()->next->next->payload, &values[2]);
    EXPECT_EQ(list.head()->next->next->next, nullptr);
    std::vector<int> seen;
    list.Clear([&](void* payload) { seen.push_back(*static_cast<int*>(payload)); });
    EXPECT_EQ(seen, (std::vector<int>{10, 20, 30}));
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(pool.free_count(), kLinksPerBlock);
    ASSERT_TRUE(list.Append(&values[1]));
    ASSERT_TRUE(list.Append(&values[0]));
    EXPECT_EQ(list.head()->payload, &values[1]);
  }
  EXPECT_EQ(pool.free_count(), kLinksPerBlock);
  pool.Shutdown();
  LinkList list(pool);
  EXPECT_FALSE(list.Append(&values[0]));
  EXPECT_TRUE(list.empty());
}

}  // namespace
