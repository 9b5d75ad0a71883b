// foundation/link_list.h - the two plain lists: LinkList (pool links) and TObjectList (nodes
// chained through their own `next`).
//
// LinkList chains links {next, payload} taken from a LinkPool; it owns the links, not the
// payloads: Clear hands each payload to a callback and gives its link back to the pool, in
// list order. TObjectList chains records that carry a `next` member (the value nodes of
// objects), so a record is on at most one such list at a time; the list owns nothing and its
// Clear hands each record to a callback. Neither list has a lock.
#pragma once

#include <cstdint>

#include "foundation/node_pool.h"

/// One link of a LinkList.
struct Link {
  Link* next;
  void* payload;
};

/// Links per pool block.
inline constexpr uint32_t kLinksPerBlock = 256;
using LinkPool = TNodePool<Link, kLinksPerBlock>;

/// Singly linked list of payload pointers over links from one LinkPool.
class LinkList {
 public:
  /// An empty list whose links come from `pool`, which must outlive the list.
  explicit LinkList(LinkPool& pool) : pool_(&pool) {}
  /// Gives the remaining links back; payloads are not touched (Clear them first).
  ~LinkList() {
    Clear([](void*) {});
  }
  LinkList(const LinkList&) = delete;
  LinkList& operator=(const LinkList&) = delete;

  /// Appends `payload` at the tail. False, changing nothing, when the pool yields no link.
  [[nodiscard]] bool Append(void* payload) {
    Link* link = pool_->Allocate();
    if (link == nullptr) {
      return false;
    }
    link->next = nullptr;
    link->payload = payload;
    if (tail_ == nullptr) {
      head_ = link;
    } else {
      tail_->next = link;
    }
    tail_ = link;
    return true;
  }

  /// For each link in order: calls fn(payload), then gives the link back. The list is then
  /// empty.
  template <typename Fn>
  void Clear(Fn&& fn) {
    Link* link = head_;
    head_ = nullptr;
    tail_ = nullptr;
    while (link != nullptr) {
      Link* next = link->next;
      fn(link->payload);
      pool_->Free(link);
      link = next;
    }
  }

  /// The first link (null when empty); follow `next` to walk the list.
  const Link* head() const { return head_; }
  bool empty() const { return head_ == nullptr; }

 private:
  Link* head_ = nullptr;
  Link* tail_ = nullptr;
  LinkPool* pool_;
};

/// List of records chained through their own `next` member (a `Node*`). Public fields in
/// their fixed order; change them through the operations.
template <typename Node>
struct TObjectList {
  Node* head = nullptr;
  Node* tail = nullptr;
  uint32_t count = 0;

  TObjectList() = default;
  TObjectList(const TObjectList&) = delete;
  TObjectList& operator=(const TObjectList&) = delete;

  /// Makes the list empty without touching its records.
  void Init() {
    head = nullptr;
    tail = nullptr;
    count = 0;
  }

  /// Appends `node` at the tail after setting its next to null. A null node is refused: false.
  [[nodiscard]] bool Append(Node* node) {
    if (node == nullptr) {
      return false;
    }
    node->next = nullptr;
    if (tail == nullptr) {
      head = node;
    } else {
      tail->next = node;
    }
    tail = node;
    ++count;
    return true;
  }

  /// Unlinks and returns the first record (its next set to null), or null when empty.
  Node* PopHead() {
    Node* node = head;
    if (node == nullptr) {
      return nullptr;
    }
    head = node->next;
    if (head == nullptr) {
      tail = nullptr;
    }
    node->next = nullptr;
    --count;
    return node;
  }

  /// Calls fn(node) for each record in order, reading its next before the call (fn may free
  /// it), then empties the list.
  template <typename Fn>
  void Clear(Fn&& fn) {
    Node* node = head;
    while (node != nullptr) {
      Node* next = node->next;
      fn(node);
      node = next;
    }
    Init();
  }
};
