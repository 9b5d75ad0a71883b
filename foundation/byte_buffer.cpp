// foundation/byte_buffer.cpp - growth of the byte buffer in whole granules.
#include "foundation/byte_buffer.h"

#include <cstring>

#include "foundation/memory.h"

ByteBuffer::ByteBuffer(uint32_t granule_bytes)
    : granule(granule_bytes), size(0), capacity(0), data(nullptr) {}

ByteBuffer::~ByteBuffer() { MemoryInterface::Free(data); }

bool ByteBuffer::Grow(uint32_t n) {
  // A granule of 0 would divide by zero; it behaves as a granule of one byte.
  const uint64_t step = granule == 0 ? 1 : granule;
  // Rounded in 64 bits so that a request near 4 GiB is refused instead of wrapping to 0.
  const uint64_t rounded = (static_cast<uint64_t>(n) + step - 1) / step * step;
  if (rounded > UINT32_MAX) {
    return false;
  }
  if (rounded <= capacity) {
    return true;
  }
  // A buffer that grows again at least doubles (still in whole granules), so a stream written
  // field by field costs linear time however large it gets.
  uint64_t target = rounded;
  const uint64_t doubled = uint64_t{capacity} * 2;
  if (doubled > target && doubled <= UINT32_MAX) target = doubled;
  // Zeroed by the allocator: the pages of a large buffer that are never written are never
  // touched, so reserving generously costs address space only.
  auto* block = static_cast<uint8_t*>(MemoryInterface::AllocateZeroed(static_cast<size_t>(target)));
  if (block == nullptr) {
    return false;
  }
  if (capacity != 0) {
    std::memcpy(block, data, capacity);
  }
  MemoryInterface::Free(data);
  data = block;
  capacity = static_cast<uint32_t>(target);
  return true;
}

void ByteBuffer::Reset() {
  if (data != nullptr) {
    std::memset(data, 0, capacity);
  }
  size = 0;
}
