// foundation/memory.h - the process-wide memory interface.
//
// Every heap block of the program's own containers (string buffers, heap texts, byte buffers,
// node pools) comes from MemoryInterface::Allocate and goes back through MemoryInterface::Free.
// The interface is bound to the runtime allocator; nothing else is bound to it.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

struct MemoryInterface {
  /// Returns a block of at least `bytes` bytes, or null when the runtime cannot supply one.
  [[nodiscard]] static void* Allocate(std::size_t bytes);
  /// Allocate, with every byte zero. A large block comes zeroed from the system as it is
  /// first touched, so the zeros cost nothing for the bytes never written. It keeps ordinary
  /// pages: such a block is written from its start as it fills (a stream), and its writer may
  /// ask for the pages ahead of it (PreparePages).
  [[nodiscard]] static void* AllocateZeroed(std::size_t bytes);
  /// Asks the system to back the pages that lie wholly in [start, start + bytes) now, in one
  /// step, rather than with a fault for each page as it is first written. Only a request:
  /// nothing changes where the system cannot (or the pages are backed already).
  static void PreparePages(void* start, std::size_t bytes);
  /// Gives a block obtained from Allocate back; null is ignored.
  static void Free(void* block);
  /// Resizes a block from Allocate to at least `bytes` bytes, keeping its first bytes up to the
  /// smaller size, and returns it (it may move). On failure returns null and `block` stays as
  /// it was. The runtime may move large blocks by remapping pages instead of copying them.
  [[nodiscard]] static void* Reallocate(void* block, std::size_t bytes);
  /// Allocate for growth paths that have no failure result (string buffers): when no block can
  /// be supplied the process stops with "Out of memory." on standard error and exit status 1.
  [[nodiscard]] static void* AllocateOrExit(std::size_t bytes);
};

/// A standard allocator over MemoryInterface, for the standard containers that grow to one
/// entry per object of a file (the scanned objects, their index, the pointers met): large
/// blocks of MemoryInterface are backed by large pages where the system has them, where each
/// small page would cost a fault of its own.
template <typename T>
struct LargeBlockAllocator {
  using value_type = T;

  LargeBlockAllocator() = default;
  template <typename U>
  LargeBlockAllocator(const LargeBlockAllocator<U>&) noexcept {}

  [[nodiscard]] T* allocate(std::size_t count) {
    if (count > static_cast<std::size_t>(-1) / sizeof(T)) {
      throw std::bad_array_new_length();
    }
    void* block = MemoryInterface::Allocate(count * sizeof(T));
    if (block == nullptr) {
      throw std::bad_alloc();
    }
    return static_cast<T*>(block);
  }
  void deallocate(T* block, std::size_t) noexcept { MemoryInterface::Free(block); }

  template <typename U>
  bool operator==(const LargeBlockAllocator<U>&) const noexcept {
    return true;
  }
};

/// A std::vector whose blocks come from MemoryInterface.
template <typename T>
using LargeVector = std::vector<T, LargeBlockAllocator<T>>;
