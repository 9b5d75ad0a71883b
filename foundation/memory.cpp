// foundation/memory.cpp - binds the memory interface to the runtime allocator.
#include "foundation/memory.h"

#include <cstdio>
#include <cstdlib>

void* MemoryInterface::Allocate(std::size_t bytes) { return std::malloc(bytes == 0 ? 1 : bytes); }

void* MemoryInterface::AllocateZeroed(std::size_t bytes) {
  return std::calloc(bytes == 0 ? 1 : bytes, 1);
}

void MemoryInterface::Free(void* block) { std::free(block); }

void* MemoryInterface::Reallocate(void* block, std::size_t bytes) {
  return std::realloc(block, bytes == 0 ? 1 : bytes);
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
