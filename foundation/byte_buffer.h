// foundation/byte_buffer.h - growable byte array that holds a file or a written stream.
//
// Capacity grows in whole granules (kGranuleBytes in every command), at least doubling when a
// buffer that already holds memory grows again, and bytes that were never
// written are zero, so the unused high bits of a bit stream's last byte are 0. The caller sets
// `size` after Grow. A failed Grow leaves contents and capacity as they were.
#pragma once

#include <cstdint>

/// Growth step of every command's byte buffers.
inline constexpr uint32_t kGranuleBytes = 8192;

class ByteBuffer {
 public:
  explicit ByteBuffer(uint32_t granule_bytes = kGranuleBytes);
  ~ByteBuffer();
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;

  /// Makes capacity at least n bytes (n rounded up to a whole granule, or double the old
  /// capacity when that is more); new bytes are zero.
  /// Returns false, changing nothing, when the rounded size overflows or cannot be allocated.
  [[nodiscard]] bool Grow(uint32_t n);
  /// Zeroes the whole capacity and sets size to 0 (the memory is kept).
  void Reset();

  uint32_t granule;
  uint32_t size;
  uint32_t capacity;
  uint8_t* data;  // null while capacity is 0
};
