// foundation/name_hash.h - the 32-bit hash that names every type, field, object and key.
//
// h starts at 0; for each byte c of the text, taken as a signed 8-bit value (0x80..0xFF count
// as c - 256), h = h * 65599 + c modulo 2^32. 65599 is 0x1003F, so this is the multiply form of
// sdbm (h = c + (h << 6) + (h << 16) - h) with signed characters and no final mixing. Case is
// significant and no byte is skipped. The functions are constexpr, so hashes of fixed names
// can be constants.
#pragma once

#include <cstdint>

namespace name_hash_detail {
inline constexpr uint32_t kMultiplier = 65599;

constexpr uint32_t Step(uint32_t h, char c) {
  // Sign-extend the byte first: 0xE9 adds 0xFFFFFFE9, not 0xE9.
  return h * kMultiplier + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
}
}  // namespace name_hash_detail

/// Hash of the NUL-terminated `text`. The empty text and a null pointer hash to 0.
constexpr uint32_t NameHash(const char* text) {
  uint32_t h = 0;
  if (text != nullptr) {
    for (; *text != '\0'; ++text) {
      h = name_hash_detail::Step(h, *text);
    }
  }
  return h;
}

/// Hash of exactly `length` bytes of `bytes` (NUL bytes included); 0 when length is 0.
constexpr uint32_t NameHash(const char* bytes, uint32_t length) {
  uint32_t h = 0;
  for (uint32_t i = 0; i < length; ++i) {
    h = name_hash_detail::Step(h, bytes[i]);
  }
  return h;
}
