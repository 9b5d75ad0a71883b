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
/// Four bytes at a time, h * 65599^4 + (c0 * 65599^3 + c1 * 65599^2 + c2 * 65599 + c3) is the
/// same sum as four steps (modulo 2^32), but waits for one multiplication instead of four.
constexpr uint32_t NameHash(const char* bytes, uint32_t length) {
  using name_hash_detail::kMultiplier;
  constexpr uint32_t kM2 = kMultiplier * kMultiplier;
  constexpr uint32_t kM3 = kM2 * kMultiplier;
  constexpr uint32_t kM4 = kM3 * kMultiplier;
  const auto value = [](char c) {
    return static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
  };
  uint32_t h = 0;
  uint32_t i = 0;
  for (; i + 4 <= length; i += 4) {
    h = h * kM4 + (value(bytes[i]) * kM3 + value(bytes[i + 1]) * kM2 +
                   value(bytes[i + 2]) * kMultiplier + value(bytes[i + 3]));
  }
  for (; i < length; ++i) {
    h = name_hash_detail::Step(h, bytes[i]);
  }
  return h;
}
