// foundation/memory.cpp - binds the memory interface to the runtime allocator.
#include "foundation/memory.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

// A large block (a node pool's block, an index) is touched all over; backed by ordinary 4 KiB
// pages it costs a translation-cache miss on most accesses and a page fault for every 4 KiB
// first written (some microseconds each on a virtual machine). Linux backs such memory with
// 2 MiB pages when asked to (not by default); elsewhere nothing changes. A zeroed block (a
// stream) is not asked for them: where memory is fragmented, as after another program freed
// much of it, the system assembles each large page at its first touch, and a stream of 35 MB
// then took up to 0.15 s longer; its writer asks for its small pages ahead instead.
constexpr std::size_t kLargeBlockBytes = std::size_t{4} << 20;

// A block of 1 MiB or more that need not come zeroed is placed on whole 2 MiB pages (its size
// rounded up to them), so that large pages can back all of it: a block that merely starts
// anywhere gets them only for the 2 MiB steps that lie wholly inside it, none at all below
// 4 MiB. The rounding costs less than a page per block. (A zeroed block keeps the runtime's
// placement: its zeros come from the system only as it is touched.)
constexpr std::size_t kAlignedBlockBytes = std::size_t{1} << 20;
constexpr std::size_t kLargePageBytes = std::size_t{2} << 20;

// Asks for large pages over every page the block covers. Only advice: where the system has
// none to give, the block keeps its ordinary pages. The whole block is advised, not only the
// 2 MiB pages inside it: advising part of a mapping splits it in three, and measured slower.
void* AdviseLargePages(void* block, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  static const long page_bytes = sysconf(_SC_PAGESIZE);
  if (block != nullptr && bytes >= kLargeBlockBytes && page_bytes > 0) {
    const auto page_mask = static_cast<std::uintptr_t>(page_bytes) - 1;
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t first = start & ~page_mask;
    const std::uintptr_t end = (start + bytes + page_mask) & ~page_mask;
    (void)madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
  }
#else
  (void)bytes;
#endif
  return block;
}

}  // namespace

void* MemoryInterface::Allocate(std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (bytes >= kAlignedBlockBytes && bytes <= SIZE_MAX - kLargePageBytes) {
    const std::size_t rounded = (bytes + kLargePageBytes - 1) & ~(kLargePageBytes - 1);
    if (void* block = std::aligned_alloc(kLargePageBytes, rounded)) {
      (void)madvise(block, rounded, MADV_HUGEPAGE);
      return block;
    }
  }
#endif
  return AdviseLargePages(std::malloc(bytes == 0 ? 1 : bytes), bytes);
}

void* MemoryInterface::AllocateZeroed(std::size_t bytes) {
  return std::calloc(bytes == 0 ? 1 : bytes, 1);
}

void MemoryInterface::PreparePages(void* start, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
  static const long page_bytes = sysconf(_SC_PAGESIZE);
  if (start == nullptr || page_bytes <= 0) {
    return;
  }
  const auto page_mask = static_cast<std::uintptr_t>(page_bytes) - 1;
  const auto begin = reinterpret_cast<std::uintptr_t>(start);
  const std::uintptr_t first = (begin + page_mask) & ~page_mask;
  const std::uintptr_t end = (begin + bytes) & ~page_mask;
  if (bytes <= SIZE_MAX - begin && end > first) {
    // A system older than the request refuses it (EINVAL); the pages then come as they are
    // written, as everywhere else.
    (void)madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
  }
#else
  (void)start;
  (void)bytes;
#endif
}

void MemoryInterface::Free(void* block) { std::free(block); }

void* MemoryInterface::Reallocate(void* block, std::size_t bytes) {
  return AdviseLargePages(std::realloc(block, bytes == 0 ? 1 : bytes), bytes);
}

void* MemoryInterface::AllocateOrExit(std::size_t bytes) {
  void* block = Allocate(bytes);
  if (block == nullptr) {
    // A string that cannot grow leaves the command no sound way to go on.
    std::fputs("Out of memory.\n", stderr);
    std::exit(1);
  }
  return block;
}
